// workflow and validate: the fields a fix asks for and the plug-in's verdict on entries.
#include "commands/commands.h"
#include "output/field_output.h"
#include "commands/fix_fields.h"
#include "output/output.h"
#include "output/table.h"

namespace host {

int run_workflow(const Options& options, Plugin& plugin) {
  PluginList<CustomFieldRecord> fields(plugin.FreeCustomFieldsList);
  PluginText error(plugin);
  const int32_t code = plugin.GetFixWorkflow(nullptr, nullptr, nullptr, fields.items_out(),
                                             fields.count_out(), error.out());
  if (code != 0) return report_plugin_failure("GetFixWorkflow", code, error);

  if (options.json) {
    Json list = Json::array();
    for (int32_t i = 0; i < fields.size(); ++i) list.push_back(field_json(fields[i]));
    print_json({{"fields", std::move(list)}});
    return kExitOk;
  }
  Table table({"FIELD", "KEY", "TYPE"});
  for (int32_t i = 0; i < fields.size(); ++i) {
    const CustomFieldRecord* field = fields[i];
    if (field == nullptr) continue;
    table.add_row({field->label != nullptr ? field->label : "",
                   field->key != nullptr ? field->key : "", std::to_string(field->type)});
  }
  print_out(table.render(terminal_width()));
  return kExitOk;
}

int run_validate(const Options& options, Plugin& plugin) {
  const auto entries =
      fill_fix_fields(plugin, options.hours.value_or(""), options.comment.value_or(""));
  if (!entries) return kExitFailure;
  Verdict verdict;
  if (!validate_fix_fields(plugin, *entries, verdict)) return kExitFailure;

  if (options.json) {
    print_json({{"valid", verdict.valid},
                {"message", verdict.valid ? Json(nullptr) : Json(verdict.message)}});
  } else {
    print_out(verdict.valid ? "valid\n" : "invalid: " + verdict.message + "\n");
  }
  return verdict.valid ? kExitOk : kExitFailure;
}

}  // namespace host
