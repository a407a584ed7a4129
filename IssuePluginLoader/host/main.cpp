// issue-plugin-host: drives an issue-tracker plug-in from the command line, the way the
// version-control server does, for administrators, developers and scripts.
#include "commands/command_line.h"
#include "commands/commands.h"
#include "credentials/password.h"
#include "output/output.h"
#include "platform/arguments.h"
#include "plugin/plugin.h"
#include "plugin_location.h"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

using Command = int (*)(const host::Options&, host::Plugin&);

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

// Directory names are handed over without a trailing separator, as the plug-in expects.
std::string without_trailing_slash(std::string directory) {
  while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
  return directory;
}

int run(int argc, char** argv) {
  host::CommandLine line =
      host::read_command_line(std::vector<std::string>(argv + 1, argv + argc), host::default_plugin_path());
  if (!line.run) {
    host::print_out(line.out);
    std::fputs(line.err.c_str(), stderr);
    return line.status;
  }
  host::Options& options = line.options;
  options.data_dir = without_trailing_slash(options.data_dir);
  try {
    host::Plugin plugin(options.plugin_path);
    std::string message;
    if (!plugin.initialize(options.data_dir, message)) {
      host::print_error("Initialize failed: " + message);
      return host::kExitFailure;
    }
    for (const auto& entry : kCommands) {
      if (options.command == entry.name) return entry.run(options, plugin);
    }
    host::print_error("unknown command \"" + options.command + "\"");
    return host::kExitUsage;
  } catch (const host::PluginLoadError& error) {
    host::print_error(error.what());
    return host::kExitFailure;
  } catch (const host::UsageError& error) {
    host::print_error(error.what());
    return host::kExitUsage;
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
