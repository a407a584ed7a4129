// describe, connections, filters: what the plug-in offers without a Bugzilla server.
#include "commands/commands.h"
#include "output/output.h"
#include "output/table.h"

namespace host {

int run_describe(const Options& options, Plugin& plugin) {
  if (options.json) {
    print_json({{"api_version", *plugin.APIVersion},
                {"provider", plugin.PluginProvider},
                {"notes", plugin.PluginNotes},
                {"version", plugin.PluginVersion},
                {"uuid", plugin.PluginUUID},
                {"authors", plugin.PluginAuthors},
                {"path", plugin.path()}});
    return kExitOk;
  }
  std::string text;
  text += "Plug-in:      " + plugin.path() + "\n";
  text += "API version:  " + std::to_string(*plugin.APIVersion) + "\n";
  text += "Provider:     " + std::string(plugin.PluginProvider) + "\n";
  text += "Version:      " + std::string(plugin.PluginVersion) + "\n";
  text += "UUID:         " + std::string(plugin.PluginUUID) + "\n";
  text += "Authors:      " + std::string(plugin.PluginAuthors) + "\n";
  text += "Notes:        " + std::string(plugin.PluginNotes) + "\n";
  print_out(text);
  return kExitOk;
}

int run_connections(const Options& options, Plugin& plugin) {
  PluginList<ConnectionEntry> connections(plugin.FreeConnectionList);
  PluginText error(plugin);
  const int32_t code =
      plugin.GetConnectionList(nullptr, connections.items_out(), connections.count_out(), error.out());
  if (code != 0) return report_plugin_failure("GetConnectionList", code, error);

  if (options.json) {
    Json names = Json::array();
    for (int32_t i = 0; i < connections.size(); ++i) {
      names.push_back({{"name", text_or_null(connections[i]->name)}});
    }
    print_json({{"connections", std::move(names)}});
    return kExitOk;
  }
  if (connections.size() == 0) {
    print_out("No connections are configured in " + options.data_dir +
              "/BugzillaConnections.txt.\n");
    return kExitOk;
  }
  Table table({"CONNECTION"});
  for (int32_t i = 0; i < connections.size(); ++i) {
    table.add_row({connections[i]->name != nullptr ? connections[i]->name : ""});
  }
  print_out(table.render(terminal_width()));
  return kExitOk;
}

int run_filters(const Options& options, Plugin& plugin) {
  PluginList<char> filters(plugin.FreeStringList);
  PluginText error(plugin);
  const int32_t code =
      plugin.GetFilterList(nullptr, filters.items_out(), filters.count_out(), error.out());
  if (code != 0) return report_plugin_failure("GetFilterList", code, error);

  if (options.json) {
    Json names = Json::array();
    for (int32_t i = 0; i < filters.size(); ++i) names.push_back(text_or_null(filters[i]));
    print_json({{"filters", std::move(names)}});
    return kExitOk;
  }
  Table table({"FILTER"});
  for (int32_t i = 0; i < filters.size(); ++i) {
    table.add_row({filters[i] != nullptr ? filters[i] : ""});
  }
  print_out(table.render(terminal_width()));
  return kExitOk;
}

}  // namespace host
