// The command line, read with CLI11: the commands, their options, help and version.
#pragma once

#include "commands/options.h"

#include <string>
#include <vector>

namespace host {

// What reading the command line came to: a command to run, or a text to print and the exit
// status (help, version, a usage error).
struct CommandLine {
  Options options;
  bool run = false;
  int status = 0;
  std::string out;  // for standard output (help, version)
  std::string err;  // for standard error (a usage error, with the command's synopsis)
};

CommandLine read_command_line(const std::vector<std::string>& args,
                              const std::string& default_plugin);

}  // namespace host
