// workflow and validate: the fields a fix asks for and the plug-in's verdict on entries.
#include "commands.h"
#include "field_output.h"
#include "fix_fields.h"
#include "json_writer.h"
#include "output.h"
#include "table.h"

namespace host {

int run_workflow(const Arguments& arguments, Plugin& plugin) {
  PluginList<CustomFieldRecord> fields(plugin.FreeCustomFieldsList);
  PluginText error(plugin);
  const int32_t code = plugin.GetFixWorkflow(nullptr, nullptr, nullptr, fields.items_out(),
                                             fields.count_out(), error.out());
  if (code != 0) return report_plugin_failure("GetFixWorkflow", code, error);

  if (arguments.json) {
    JsonWriter json;
    json.begin_object().key("fields").begin_array();
    for (int32_t i = 0; i < fields.size(); ++i) write_field(json, fields[i]);
    json.end_array().end_object();
    print_out(json.str());
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

int run_validate(const Arguments& arguments, Plugin& plugin) {
  const auto entries =
      fill_fix_fields(plugin, arguments.hours.value_or(""), arguments.comment.value_or(""));
  if (!entries) return kExitFailure;
  Verdict verdict;
  if (!validate_fix_fields(plugin, *entries, verdict)) return kExitFailure;

  if (arguments.json) {
    JsonWriter json;
    json.begin_object().key("valid").value(verdict.valid).key("message");
    if (verdict.valid) {
      json.null();
    } else {
      json.value(verdict.message);
    }
    json.end_object();
    print_out(json.str());
  } else {
    print_out(verdict.valid ? "valid\n" : "invalid: " + verdict.message + "\n");
  }
  return verdict.valid ? kExitOk : kExitFailure;
}

}  // namespace host
