// Fields (CustomFieldRecord lists) in both output forms, shared by show, workflow and validate.
#pragma once

#include "issue_plugin_api.h"
#include "output/output.h"

#include <string>

namespace host {

// The field's current value for a person: the labels of the choices marked current (flag 1),
// joined by ", "; "-" when no choice is marked.
std::string current_value(const CustomFieldRecord& field);

// {"label", "key", "type", "choices": [{"label", "value", "current"}]}; null texts as null.
Json field_json(const CustomFieldRecord* field);

}  // namespace host
