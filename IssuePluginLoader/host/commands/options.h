// What the user asked for: one command with the common options and its own.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace host {

// A command line that cannot be run as given; the host prints it with the usage, exit 2.
class UsageError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

struct Options {
  std::string command;
  std::string plugin_path;
  std::string data_dir = ".";
  bool json = false;
  std::optional<std::string> user;
  std::optional<std::string> connection;
  std::optional<std::string> password_file;
  std::string filter = "Assigned To Me";
  std::optional<std::string> hours;
  std::optional<std::string> comment;
  std::optional<std::string> files_json;
  std::vector<std::string> bugs;   // CONNECTION:ID, in the order given
  std::vector<std::string> files;  // MAINLINE:BRANCH:REPOSITORY:FILE:VERSION
  std::string bug_id;              // show's operand
};

}  // namespace host
