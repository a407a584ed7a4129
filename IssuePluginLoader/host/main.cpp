// issue-plugin-host: drives an issue-tracker plug-in from the command line, the way the
// version-control server does, for administrators, developers and scripts.
#include "arguments.h"
#include "checkin.h"
#include "command_line.h"
#include "commands.h"
#include "output.h"
#include "password.h"
#include "plugin.h"
#include "plugin_location.h"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#ifndef DEFAULT_PLUGIN_PATH
#define DEFAULT_PLUGIN_PATH "libBugzilla.so"
#endif

namespace {

using Command = int (*)(const host::Arguments&, host::Plugin&);

struct CommandEntry {
  const char* name;
  Command run;
};

constexpr CommandEntry kCommands[] = {
    {"describe", host::run_describe}, {"connections", host::run_connections},
    {"filters", host::run_filters},   {"list", host::run_list},
    {"show", host::run_show},         {"workflow", host::run_workflow},
    {"validate", host::run_validate}, {"attach", host::run_attach},
    {"doctor", host::run_doctor},
};

int usage_failure(const std::string& problem, const std::string& command) {
  host::print_error(problem);
  const std::string synopsis = host::command_synopsis(command);
  std::fputs((synopsis.empty() ? host::usage_text() : synopsis + "\n" +
                                     "Run 'issue-plugin-host --help' for every command.\n")
                 .c_str(),
             stderr);
  return host::kExitUsage;
}

// Directory names are handed over without a trailing separator, as the plug-in expects.
std::string without_trailing_slash(std::string directory) {
  while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
  return directory;
}

int run(int argc, char** argv) {
  host::Arguments arguments;
  try {
    arguments = host::parse_arguments(std::vector<std::string>(argv + 1, argv + argc),
                                      host::default_plugin_path());
  } catch (const host::UsageError& error) {
    std::string command;
    for (int i = 1; i < argc && command.empty(); ++i) {
      if (!host::command_synopsis(argv[i]).empty()) command = argv[i];
    }
    return usage_failure(error.what(), command);
  }
  if (arguments.help) {
    const std::string synopsis = host::command_synopsis(arguments.command);
    host::print_out(synopsis.empty() ? host::usage_text() : synopsis + "\n");
    return host::kExitOk;
  }
  arguments.data_dir = without_trailing_slash(arguments.data_dir);

  try {
    host::Plugin plugin(arguments.plugin_path);
    std::string message;
    if (!plugin.initialize(arguments.data_dir, message)) {
      host::print_error("Initialize failed: " + message);
      return host::kExitFailure;
    }
    for (const auto& entry : kCommands) {
      if (arguments.command == entry.name) return entry.run(arguments, plugin);
    }
    return usage_failure("unknown command \"" + arguments.command + "\"", "");
  } catch (const host::PluginLoadError& error) {
    host::print_error(error.what());
    return host::kExitFailure;
  } catch (const host::UsageError& error) {
    return usage_failure(error.what(), arguments.command);
  } catch (const host::PasswordError& error) {
    host::print_error(error.what());
    return host::kExitUsage;
  }
}

}  // namespace

int main(int argc, char** argv) {
  try {
    std::vector<std::string> arguments = host::utf8_arguments(argc, argv);
    std::vector<char*> pointers;
    for (std::string& argument : arguments) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    return run(static_cast<int>(arguments.size()), pointers.data());
  } catch (const std::exception& error) {
    host::print_error(std::string("unexpected failure: ") + error.what());
    return host::kExitFailure;
  }
}
