// list and show: the bugs of a connection under a filter, and one bug in detail.
#include "commands/commands.h"
#include "output/field_output.h"
#include "output/output.h"
#include "credentials/request.h"
#include "output/table.h"

#include <string>
#include <vector>

namespace host {

namespace {

std::string text_of(const char* text) { return text != nullptr ? text : ""; }

// The filter must be one the plug-in offers: the Bugzilla plug-in would silently take any
// other text as "no filter" and list every bug of the product.
bool check_filter(Plugin& plugin, const std::string& filter, std::string& offered) {
  PluginList<char> filters(plugin.FreeStringList);
  PluginText error(plugin);
  if (plugin.GetFilterList(nullptr, filters.items_out(), filters.count_out(), error.out()) != 0) {
    return true;  // nothing to check against; the plug-in judges the text itself
  }
  bool found = false;
  for (int32_t i = 0; i < filters.size(); ++i) {
    const std::string name = text_of(filters[i]);
    found = found || name == filter;
    offered += (offered.empty() ? "\"" : ", \"") + name + "\"";
  }
  return found;
}

Json bug_json(const IssueRecord* bug) {
  return {{"id", text_or_null(bug->id)},
          {"status", text_or_null(bug->status)},
          {"severity", text_or_null(bug->severity)},
          {"summary", text_or_null(bug->summary)},
          {"description", text_or_null(bug->description)}};
}

}  // namespace

int run_list(const Options& options, Plugin& plugin) {
  std::string offered;
  if (!check_filter(plugin, options.filter, offered)) {
    print_error("unknown filter \"" + options.filter + "\"; the plug-in offers " + offered);
    return kExitUsage;
  }
  Request request(options, *options.connection);
  PluginList<IssueRecord> bugs(plugin.FreeIssueList);
  int32_t flag = 0;
  PluginText error(plugin);
  const int32_t code = plugin.GetIssueList(request.context(), options.filter.c_str(),
                                           bugs.items_out(), bugs.count_out(), &flag, error.out());
  if (code != 0 || !error.empty()) return report_plugin_failure("GetIssueList", code, error);

  if (options.json) {
    Json list = Json::array();
    for (int32_t i = 0; i < bugs.size(); ++i) {
      if (bugs[i] != nullptr) list.push_back(bug_json(bugs[i]));
    }
    print_json({{"connection", *options.connection},
                {"filter", options.filter},
                {"bugs", std::move(list)}});
    return kExitOk;
  }
  if (bugs.size() == 0) {
    print_out("No bugs match the filter \"" + options.filter + "\" in connection \"" +
              *options.connection + "\".\n");
    return kExitOk;
  }
  Table table({"ID", "STATUS", "SEVERITY", "SUMMARY"});
  int32_t shown = 0;
  for (int32_t i = 0; i < bugs.size(); ++i) {
    const IssueRecord* bug = bugs[i];
    if (bug == nullptr) continue;
    table.add_row({text_of(bug->id), text_of(bug->status), text_of(bug->severity),
                   text_of(bug->summary)});
    ++shown;
  }
  print_out(table.render(terminal_width()) + std::to_string(shown) +
            (shown == 1 ? " bug\n" : " bugs\n"));
  return kExitOk;
}

int run_show(const Options& options, Plugin& plugin) {
  Request request(options, *options.connection);
  PluginIssue bug(plugin);
  PluginList<CustomFieldRecord> fields(plugin.FreeCustomFieldsList);
  PluginText error(plugin);
  const int32_t code =
      plugin.GetIssueDetails(request.context(), options.bug_id.c_str(), bug.out(),
                             fields.items_out(), fields.count_out(), error.out());
  if (code != 0 || !error.empty()) return report_plugin_failure("GetIssueDetails", code, error);
  if (bug.get() == nullptr) {
    print_error("GetIssueDetails reported success without a bug record");
    return kExitFailure;
  }

  if (options.json) {
    Json list = Json::array();
    for (int32_t i = 0; i < fields.size(); ++i) list.push_back(field_json(fields[i]));
    print_json({{"bug", bug_json(bug.get())}, {"fields", std::move(list)}});
    return kExitOk;
  }
  const IssueRecord& record = *bug.get();
  const int width = terminal_width();
  std::string text;
  text += one_line("Bug " + text_of(record.id) + ": " + text_of(record.summary),
                   static_cast<size_t>(width)) + "\n";
  text += "  Status:    " + one_line(text_of(record.status), static_cast<size_t>(width)) + "\n";
  text += "  Severity:  " + one_line(text_of(record.severity), static_cast<size_t>(width)) + "\n";
  text += "Description:\n";
  text += indent_lines(text_of(record.description), "  ");
  text += "\n";
  Table table({"FIELD", "KEY", "TYPE", "VALUE"});
  for (int32_t i = 0; i < fields.size(); ++i) {
    const CustomFieldRecord* field = fields[i];
    if (field == nullptr) continue;
    table.add_row({text_of(field->label), text_of(field->key), std::to_string(field->type),
                   current_value(*field)});
  }
  text += table.render(width);
  print_out(text);
  return kExitOk;
}

}  // namespace host
