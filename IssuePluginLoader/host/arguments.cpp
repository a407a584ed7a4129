#include "arguments.h"

#include <cstring>

namespace host {

namespace {

enum Option : unsigned {
  kUser = 1u << 0,
  kConnection = 1u << 1,
  kPasswordFile = 1u << 2,
  kFilter = 1u << 3,
  kHours = 1u << 4,
  kComment = 1u << 5,
  kBug = 1u << 6,
  kFile = 1u << 7,
  kFilesJson = 1u << 8,
};

struct OptionName {
  Option option;
  const char* name;
};

constexpr OptionName kOptionNames[] = {
    {kUser, "--user"},   {kConnection, "--connection"}, {kPasswordFile, "--password-file"},
    {kFilter, "--filter"}, {kHours, "--hours"},         {kComment, "--comment"},
    {kBug, "--bug"},     {kFile, "--file"},             {kFilesJson, "--files-json"},
};

struct CommandSpec {
  const char* name;
  unsigned allowed;
  unsigned required;
  bool takes_bug_id;
  const char* synopsis;
};

constexpr CommandSpec kCommands[] = {
    {"describe", 0, 0, false, "describe                          the plug-in's six descriptor values"},
    {"connections", 0, 0, false,
     "connections                       the connections in BugzillaConnections.txt"},
    {"filters", 0, 0, false, "filters                           the filters a bug list can use"},
    {"list", kUser | kConnection | kPasswordFile | kFilter, kUser | kConnection, false,
     "list --connection NAME --user LOGIN [--filter NAME]\n"
     "                                  the bugs under a filter (default \"Assigned To Me\")"},
    {"show", kUser | kConnection | kPasswordFile, kUser | kConnection, true,
     "show --connection NAME --user LOGIN BUG_ID\n"
     "                                  one bug: its record and its fields"},
    {"workflow", 0, 0, false, "workflow                          the fields a fix asks for"},
    {"validate", kHours | kComment, 0, false,
     "validate [--hours H] [--comment TEXT]\n"
     "                                  checks a fix's entries as the plug-in would"},
    {"attach", kUser | kPasswordFile | kHours | kComment | kBug | kFile | kFilesJson, kUser, false,
     "attach --user LOGIN [--hours H] [--comment TEXT]\n"
     "       (--bug CONNECTION:ID ... --file MAINLINE:BRANCH:REPOSITORY:FILE:VERSION ...\n"
     "        | --files-json FILE)\n"
     "                                  attaches a check-in to bugs as comments"},
    {"doctor", kUser | kConnection | kPasswordFile, kConnection, false,
     "doctor --connection NAME [--user LOGIN]\n"
     "                                  checks a connection step by step"},
};

const CommandSpec* find_command(const std::string& name) {
  for (const auto& spec : kCommands) {
    if (name == spec.name) return &spec;
  }
  return nullptr;
}

const char* option_name(Option option) {
  for (const auto& entry : kOptionNames) {
    if (entry.option == option) return entry.name;
  }
  return "?";
}

}  // namespace

std::string usage_text() {
  std::string text =
      "usage: issue-plugin-host [common options] COMMAND [options]\n"
      "\n"
      "Commands:\n";
  for (const auto& spec : kCommands) {
    text += "  ";
    for (const char* c = spec.synopsis; *c != '\0'; ++c) {
      text += *c;
      if (*c == '\n') text += "  ";
    }
    text += '\n';
  }
  text +=
      "\n"
      "Common options:\n"
      "  --plugin PATH          the plug-in library (default: the built libBugzilla.so)\n"
      "  --data-dir DIR         directory of BugzillaConnections.txt and cookies.txt (default .)\n"
      "  --json                 machine-readable output\n"
      "  --password-file FILE   the password is its first line (\"-\": standard input);\n"
      "                         else BUGZILLA_PASSWORD, else a prompt on the terminal\n"
      "  --help                 this text\n"
      "\n"
      "Exit status: 0 success, 1 a failure the plug-in or a server reported (or a rejected\n"
      "validation, or failed comments), 2 a usage error.\n";
  return text;
}

std::string command_synopsis(const std::string& command) {
  const CommandSpec* spec = find_command(command);
  return spec == nullptr ? std::string() : std::string("usage: issue-plugin-host ") + spec->synopsis;
}

Arguments parse_arguments(const std::vector<std::string>& args, const std::string& default_plugin) {
  Arguments parsed;
  parsed.plugin_path = default_plugin;
  unsigned given = 0;
  std::vector<std::string> operands;
  bool options_done = false;

  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_done || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      if (!options_done && arg.size() > 1 && arg[0] == '-') {
        if (arg == "-h") {
          parsed.help = true;
          continue;
        }
        throw UsageError("unknown option " + arg);
      }
      if (parsed.command.empty() && !parsed.help) {
        parsed.command = arg;
      } else {
        operands.push_back(arg);
      }
      continue;
    }
    if (arg == "--") {
      options_done = true;
      continue;
    }
    std::string name = arg;
    std::optional<std::string> inline_value;
    const size_t equals = arg.find('=');
    if (equals != std::string::npos) {
      name = arg.substr(0, equals);
      inline_value = arg.substr(equals + 1);
    }
    if (name == "--help") {
      parsed.help = true;
      continue;
    }
    if (name == "--json") {
      if (inline_value) throw UsageError("--json takes no value");
      parsed.json = true;
      continue;
    }
    const auto take_value = [&]() -> std::string {
      if (inline_value) return *inline_value;
      if (i + 1 >= args.size()) throw UsageError(name + " needs a value");
      return args[++i];
    };
    if (name == "--plugin") {
      parsed.plugin_path = take_value();
      continue;
    }
    if (name == "--data-dir") {
      parsed.data_dir = take_value();
      continue;
    }
    if (name == "--password") {
      // Deliberately refused: a password on the command line is visible to every user.
      throw UsageError(
          "the password is never given on the command line: use --password-file FILE, "
          "the BUGZILLA_PASSWORD environment variable or the prompt");
    }
    Option option{};
    bool known = false;
    for (const auto& entry : kOptionNames) {
      if (name == entry.name) {
        option = entry.option;
        known = true;
      }
    }
    if (!known) throw UsageError("unknown option " + name);
    const bool repeatable = option == kBug || option == kFile;
    if ((given & option) != 0 && !repeatable) throw UsageError(name + " given twice");
    given |= option;
    std::string value = take_value();
    switch (option) {
      case kUser: parsed.user = value; break;
      case kConnection: parsed.connection = value; break;
      case kPasswordFile: parsed.password_file = value; break;
      case kFilter: parsed.filter = value; break;
      case kHours: parsed.hours = value; break;
      case kComment: parsed.comment = value; break;
      case kBug: parsed.bugs.push_back(value); break;
      case kFile: parsed.files.push_back(value); break;
      case kFilesJson: parsed.files_json = value; break;
    }
  }

  if (parsed.command == "help") {
    parsed.help = true;
    parsed.command = operands.empty() ? std::string() : operands.front();
    return parsed;
  }
  if (parsed.help) return parsed;
  if (parsed.command.empty()) throw UsageError("no command given");
  const CommandSpec* spec = find_command(parsed.command);
  if (spec == nullptr) throw UsageError("unknown command \"" + parsed.command + "\"");

  for (const auto& entry : kOptionNames) {
    if ((given & entry.option) != 0 && (spec->allowed & entry.option) == 0) {
      throw UsageError(std::string(entry.name) + " does not apply to " + spec->name);
    }
  }
  for (const auto& entry : kOptionNames) {
    if ((spec->required & entry.option) != 0 && (given & entry.option) == 0) {
      throw UsageError(std::string(spec->name) + " needs " + option_name(entry.option));
    }
  }
  if (spec->takes_bug_id) {
    if (operands.size() != 1) throw UsageError(std::string(spec->name) + " needs one BUG_ID");
    parsed.bug_id = operands.front();
  } else if (!operands.empty()) {
    throw UsageError("unexpected argument \"" + operands.front() + "\"");
  }
  if (parsed.command == "attach" && parsed.bugs.empty() && parsed.files.empty() &&
      !parsed.files_json) {
    throw UsageError("attach needs --bug and --file, or --files-json");
  }
  return parsed;
}

}  // namespace host
