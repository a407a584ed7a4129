#include "field_output.h"

namespace host {

std::string current_value(const CustomFieldRecord& field) {
  std::string value;
  bool any = false;
  for (int32_t i = 0; field.choices != nullptr && i < field.choice_count; ++i) {
    const FieldChoice* choice = field.choices[i];
    if (choice == nullptr || choice->flag != 1) continue;
    if (any) value += ", ";
    value += choice->label != nullptr ? choice->label : "";
    any = true;
  }
  return any ? value : "-";
}

void write_field(JsonWriter& json, const CustomFieldRecord* field) {
  if (field == nullptr) {
    json.null();
    return;
  }
  json.begin_object()
      .key("label").value(field->label)
      .key("key").value(field->key)
      .key("type").value(field->type)
      .key("choices").begin_array();
  for (int32_t i = 0; field->choices != nullptr && i < field->choice_count; ++i) {
    const FieldChoice* choice = field->choices[i];
    if (choice == nullptr) {
      json.null();
      continue;
    }
    json.begin_object()
        .key("label").value(choice->label)
        .key("value").value(choice->value)
        .key("current").value(choice->flag == 1)
        .end_object();
  }
  json.end_array().end_object();
}

}  // namespace host
