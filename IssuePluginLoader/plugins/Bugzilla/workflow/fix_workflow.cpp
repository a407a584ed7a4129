// The two fields a fix asks of the user, and the checks their entries must pass.
#include "fix_workflow.h"

#include "records.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace bugzilla {

namespace {

constexpr int32_t kMaxHours = 99999;
constexpr size_t kMaxCommentBytes = 60000;  // the comment must stay below this

void fill_field(CustomFieldRecord& field, const char* label, const char* key, int32_t type) {
  field.label = dup_cstring(label);
  field.key = dup_cstring(key);
  field.type = type;
}

}  // namespace

const char* fix_field_entry(CustomFieldRecord* const* fields, int32_t count, int32_t index) {
  if (fields == nullptr || index < 0 || index >= count) return "";
  const CustomFieldRecord* field = fields[index];
  if (field == nullptr || field->choices == nullptr || field->choice_count <= 0) return "";
  const FieldChoice* first = field->choices[0];
  return first ? text_or_empty(first->label) : "";
}

int32_t read_hours(const char* entry) {
  // strtoll saturates at 64 bits, beyond the 32-bit range, so clamping gives 32-bit strtol
  // on every platform (long is 32 bits on some and 64 on others).
  const long long hours = std::strtoll(text_or_empty(entry), nullptr, 10);
  if (hours > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (hours < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(hours);
}

int32_t get_fix_workflow(CustomFieldRecord*** fields_out, int32_t* count_out,
                         char** error_out) {
  OwnedFieldList fields(new_custom_field_list(kFixFieldCount), kFixFieldCount);
  fill_field(*fields[kHoursFieldIndex], "Hours Worked", "work_time", 2);
  fill_field(*fields[kCommentFieldIndex], "Comment", "comment", 3);
  *fields_out = fields.release();
  *count_out = kFixFieldCount;
  *error_out = nullptr;
  return 0;
}

int32_t validate_workflow(CustomFieldRecord** fields, int32_t count, int32_t* valid_out,
                          char** error_out) {
  // A rejection is an ordinary outcome: the verdict goes to valid_out, the call returns 0.
  const char* rejection = nullptr;
  if (count != kFixFieldCount) {
    rejection = "Wrong Number of Fields";
  } else if (read_hours(fix_field_entry(fields, count, kHoursFieldIndex)) > kMaxHours) {
    rejection = "Too Many Hours Worked";
  } else if (std::strlen(fix_field_entry(fields, count, kCommentFieldIndex)) >=
             kMaxCommentBytes) {
    rejection = "Comment must be less than 60,000 characters";
  }
  if (rejection == nullptr) {
    *valid_out = 1;  // error_out stays as the host set it
    return 0;
  }
  *error_out = dup_cstring(rejection);
  *valid_out = 0;
  return 0;
}

}  // namespace bugzilla
