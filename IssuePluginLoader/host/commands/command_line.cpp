#include "commands/command_line.h"

#include "output/output.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <map>

#ifndef ISSUE_PLUGIN_HOST_VERSION
#define ISSUE_PLUGIN_HOST_VERSION ""
#endif

namespace host {

namespace {

const char kFooter[] =
    "Passwords are never given on the command line: --password-file FILE (its first line;\n"
    "\"-\" reads standard input), else the BUGZILLA_PASSWORD environment variable, else a\n"
    "prompt on the terminal.\n"
    "\n"
    "Exit status: 0 success, 1 a failure the plug-in or a server reported (or a rejected\n"
    "validation, or failed comments), 2 a usage error.";

struct CommandSpec {
  const char* name;
  const char* synopsis;  // after "usage: issue-plugin-host "
  const char* summary;
};

constexpr CommandSpec kCommands[] = {
    {"describe", "describe", "the plug-in's path, API version and descriptor values"},
    {"connections", "connections", "the connections in BugzillaConnections.txt"},
    {"filters", "filters", "the filters a bug list can use"},
    {"list", "list --connection NAME --user LOGIN [--filter NAME]",
     "the bugs under a filter (default \"Assigned To Me\")"},
    {"show", "show --connection NAME --user LOGIN BUG_ID", "one bug: its record and its fields"},
    {"workflow", "workflow", "the fields a fix asks for"},
    {"validate", "validate [--hours H] [--comment TEXT]",
     "checks a fix's entries as the plug-in would"},
    {"attach",
     "attach --user LOGIN [--hours H] [--comment TEXT]\n"
     "       (--bug CONNECTION:ID ... --file MAINLINE:BRANCH:REPOSITORY:FILE:VERSION ...\n"
     "        | --files-json FILE)",
     "attaches a check-in to bugs as comments"},
    {"doctor", "doctor --connection NAME [--user LOGIN]", "checks a connection step by step"},
};

const CommandSpec* find_command(const std::string& name) {
  for (const auto& spec : kCommands) {
    if (name == spec.name) return &spec;
  }
  return nullptr;
}

// Deliberately refused before parsing: a password on the command line is visible to every
// user of the machine.
bool asks_for_password_option(const std::vector<std::string>& args) {
  for (const auto& arg : args) {
    if (arg == "--") return false;
    if (arg == "--password" || arg.rfind("--password=", 0) == 0) return true;
  }
  return false;
}

class Parser {
public:
  explicit Parser(Options& options) : options_(options) {
    app_.set_help_flag("-h,--help", "this text (after a command: that command's)");
    app_.set_version_flag("--version", std::string("issue-plugin-host ") +
                                           ISSUE_PLUGIN_HOST_VERSION);
    app_.add_option("--plugin", options.plugin_path, "the plug-in library")
        ->capture_default_str();
    app_.add_option("--data-dir", options.data_dir,
                    "directory of BugzillaConnections.txt and cookies.txt")
        ->capture_default_str();
    app_.add_flag("--json", options.json, "machine-readable output");
    app_.footer(kFooter);
    app_.require_subcommand(0, 1);
    // Common options may also follow the command; each option may be given once.
    app_.fallthrough();
    app_.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::Throw);

    add("describe");
    add("connections");
    add("filters");
    CLI::App* list = add("list");
    connection(list)->required();
    user(list)->required();
    password_file(list);
    list->add_option("--filter", options.filter, "a filter the plug-in offers")
        ->capture_default_str();
    CLI::App* show = add("show");
    connection(show)->required();
    user(show)->required();
    password_file(show);
    show->add_option("BUG_ID", options.bug_id, "the bug's number or alias")->required();
    add("workflow");
    entries(add("validate"));
    CLI::App* attach = add("attach");
    user(attach)->required();
    password_file(attach);
    entries(attach);
    attach->add_option("--bug", options.bugs, "CONNECTION:ID, repeatable")
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    attach->add_option("--file", options.files, "MAINLINE:BRANCH:REPOSITORY:FILE:VERSION, repeatable")
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    attach->add_option("--files-json", options.files_json, "the check-in as a JSON file");
    CLI::App* doctor = add("doctor");
    connection(doctor)->required();
    user(doctor);
    password_file(doctor);
    help_ = app_.add_subcommand("help", "every command, or one command's options");
    help_->add_option("COMMAND", help_topic_, "a command");
  }

  CommandLine read(std::vector<std::string> args) {
    CommandLine line;
    if (asks_for_password_option(args)) {
      return usage_error(
          "the password is never given on the command line: use --password-file FILE, "
          "the BUGZILLA_PASSWORD environment variable or the prompt",
          command_in(args));
    }
    const std::vector<std::string> given = args;
    std::reverse(args.begin(), args.end());  // CLI11 takes them last to first, and uses them up
    try {
      app_.parse(args);
    } catch (const CLI::CallForHelp&) {
      line.out = app_.help();
      return line;
    } catch (const CLI::CallForVersion&) {
      line.out = app_.version() + "\n";
      return line;
    } catch (const CLI::ExtrasError& error) {
      const std::string command = command_in(given);
      if (command.empty() && !given.empty() && given.front()[0] != '-') {
        return usage_error("unknown command \"" + given.front() + "\"", "");
      }
      return usage_error(error.what(), command);
    } catch (const CLI::ParseError& error) {
      return usage_error(error.what(), command_in(given));
    }
    if (help_->parsed()) {
      CLI::App* topic = find_command(help_topic_) ? app_.get_subcommand(help_topic_) : nullptr;
      // The formatter directly: app_.help() would describe the parsed "help" command itself.
      line.out = topic != nullptr ? topic->help()
                                  : app_.get_formatter()->make_help(&app_, app_.get_name(),
                                                                    CLI::AppFormatMode::Normal);
      return line;
    }
    const std::vector<CLI::App*> chosen = app_.get_subcommands();
    if (chosen.empty()) return usage_error("no command given", "");
    options_.command = chosen.front()->get_name();
    if (options_.command == "attach" && options_.bugs.empty() && options_.files.empty() &&
        !options_.files_json) {
      return usage_error("attach needs --bug and --file, or --files-json", "attach");
    }
    line.run = true;
    return line;
  }

private:
  CLI::App* add(const char* name) {
    const CommandSpec* spec = find_command(name);
    CLI::App* command = app_.add_subcommand(name, spec->summary);
    command->footer(std::string("usage: issue-plugin-host ") + spec->synopsis);
    return command;
  }
  CLI::Option* connection(CLI::App* command) {
    return command->add_option("--connection", options_.connection, "a connection's name");
  }
  CLI::Option* user(CLI::App* command) {
    return command->add_option("--user", options_.user, "the Bugzilla login");
  }
  void password_file(CLI::App* command) {
    command->add_option("--password-file", options_.password_file,
                        "the password is its first line (\"-\": standard input)");
  }
  void entries(CLI::App* command) {
    command->add_option("--hours", options_.hours, "hours worked");
    command->add_option("--comment", options_.comment, "the fix comment");
  }

  // The first word that names a command, for the synopsis shown with an error.
  static std::string command_in(const std::vector<std::string>& args) {
    for (const auto& arg : args) {
      if (find_command(arg) != nullptr) return arg;
    }
    return "";
  }

  static CommandLine usage_error(const std::string& problem, const std::string& command) {
    CommandLine line;
    line.status = kExitUsage;
    const CommandSpec* spec = find_command(command);
    line.err = "issue-plugin-host: " + problem + "\n" +
               (spec != nullptr ? std::string("usage: issue-plugin-host ") + spec->synopsis + "\n"
                                : std::string("usage: issue-plugin-host [OPTIONS] COMMAND\n")) +
               "Run 'issue-plugin-host --help' for every command.\n";
    return line;
  }

  Options& options_;
  CLI::App app_{"Drives an issue-tracker plug-in the way the version-control server does.",
                "issue-plugin-host"};
  CLI::App* help_ = nullptr;
  std::string help_topic_;
};

}  // namespace

CommandLine read_command_line(const std::vector<std::string>& args,
                              const std::string& default_plugin) {
  CommandLine line;
  line.options.plugin_path = default_plugin;
  Parser parser(line.options);
  CommandLine result = parser.read(args);
  result.options = line.options;
  return result;
}

}  // namespace host
