#include "commands/fix_fields.h"

#include "output/output.h"
#include "plugin/plugin_outputs.h"

namespace host {

std::unique_ptr<FixEntries> fill_fix_fields(Plugin& plugin, const std::string& hours,
                                            const std::string& comment) {
  PluginList<CustomFieldRecord> workflow(plugin.FreeCustomFieldsList);
  PluginText error(plugin);
  const int32_t code = plugin.GetFixWorkflow(nullptr, nullptr, nullptr, workflow.items_out(),
                                             workflow.count_out(), error.out());
  if (code != 0) {
    report_plugin_failure("GetFixWorkflow", code, error);
    return nullptr;
  }
  // The entries are copies: the plug-in's list goes back to it when this function returns.
  return std::make_unique<FixEntries>(workflow.items(), workflow.size(), hours, comment);
}

bool validate_fix_fields(Plugin& plugin, FixEntries& entries, Verdict& verdict) {
  int32_t valid = 0;
  PluginText message(plugin);  // starts null: a passing call leaves it untouched
  const int32_t code = plugin.ValidateWorkflow(nullptr, nullptr, nullptr, entries.records(),
                                               entries.count(), &valid, message.out());
  if (code != 0) {
    report_plugin_failure("ValidateWorkflow", code, message);
    return false;
  }
  verdict.valid = valid == 1;
  verdict.message = message.text_or(verdict.valid ? "" : "the entries were rejected");
  return true;
}

}  // namespace host
