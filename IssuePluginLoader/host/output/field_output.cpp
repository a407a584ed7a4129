#include "output/field_output.h"

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

Json field_json(const CustomFieldRecord* field) {
  if (field == nullptr) return nullptr;
  Json choices = Json::array();
  for (int32_t i = 0; field->choices != nullptr && i < field->choice_count; ++i) {
    const FieldChoice* choice = field->choices[i];
    if (choice == nullptr) {
      choices.push_back(nullptr);
      continue;
    }
    choices.push_back({{"label", text_or_null(choice->label)},
                       {"value", text_or_null(choice->value)},
                       {"current", choice->flag == 1}});
  }
  return {{"label", text_or_null(field->label)},
          {"key", text_or_null(field->key)},
          {"type", field->type},
          {"choices", std::move(choices)}};
}

}  // namespace host
