// describe, connections, filters: what the plug-in offers without a Bugzilla server.
#include "commands.h"
#include "json_writer.h"
#include "output.h"
#include "table.h"

namespace host {

int run_describe(const Arguments& arguments, Plugin& plugin) {
  if (arguments.json) {
    JsonWriter json;
    json.begin_object()
        .key("api_version").value(plugin.api_version)
        .key("provider").value(plugin.provider)
        .key("notes").value(plugin.notes)
        .key("version").value(plugin.version)
        .key("uuid").value(plugin.uuid)
        .key("authors").value(plugin.authors)
        .key("path").value(plugin.path())
        .end_object();
    print_out(json.str());
    return kExitOk;
  }
  std::string text;
  text += "Plug-in:      " + plugin.path() + "\n";
  text += "API version:  " + std::to_string(plugin.api_version) + "\n";
  text += "Provider:     " + std::string(plugin.provider) + "\n";
  text += "Version:      " + std::string(plugin.version) + "\n";
  text += "UUID:         " + std::string(plugin.uuid) + "\n";
  text += "Authors:      " + std::string(plugin.authors) + "\n";
  text += "Notes:        " + std::string(plugin.notes) + "\n";
  print_out(text);
  return kExitOk;
}

int run_connections(const Arguments& arguments, Plugin& plugin) {
  PluginList<ConnectionEntry> connections(plugin.FreeConnectionList);
  PluginText error(plugin);
  const int32_t code =
      plugin.GetConnectionList(nullptr, connections.items_out(), connections.count_out(), error.out());
  if (code != 0) return report_plugin_failure("GetConnectionList", code, error);

  if (arguments.json) {
    JsonWriter json;
    json.begin_object().key("connections").begin_array();
    for (int32_t i = 0; i < connections.size(); ++i) {
      json.begin_object().key("name").value(connections[i]->name).end_object();
    }
    json.end_array().end_object();
    print_out(json.str());
    return kExitOk;
  }
  if (connections.size() == 0) {
    print_out("No connections are configured in " + arguments.data_dir +
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

int run_filters(const Arguments& arguments, Plugin& plugin) {
  PluginList<char> filters(plugin.FreeStringList);
  PluginText error(plugin);
  const int32_t code =
      plugin.GetFilterList(nullptr, filters.items_out(), filters.count_out(), error.out());
  if (code != 0) return report_plugin_failure("GetFilterList", code, error);

  if (arguments.json) {
    JsonWriter json;
    json.begin_object().key("filters").begin_array();
    for (int32_t i = 0; i < filters.size(); ++i) json.value(filters[i]);
    json.end_array().end_object();
    print_out(json.str());
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
