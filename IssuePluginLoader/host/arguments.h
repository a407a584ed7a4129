// The command line: one command, the common options and the command's own options.
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

struct Arguments {
  std::string command;  // empty with `help`
  bool help = false;
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

// Parses argv[1..]. Options may come before or after the command, as "--name value" or
// "--name=value"; each command accepts only its own options and requires some of them.
// Throws UsageError.
Arguments parse_arguments(const std::vector<std::string>& args, const std::string& default_plugin);

// The whole usage text, or one command's synopsis.
std::string usage_text();
std::string command_synopsis(const std::string& command);

}  // namespace host
