// The fields a fix asks for, their validation, and attaching check-ins to bugs.
#pragma once

#include "issue_plugin_api.h"

#include <cstdint>

namespace bugzilla {

int32_t get_fix_workflow(CustomFieldRecord*** fields_out, int32_t* count_out,
                         char** error_out);
int32_t validate_workflow(CustomFieldRecord** fields, int32_t count, int32_t* valid_out,
                          char** error_out);
int32_t attach_to_issues(const RequestContext& context, IssueAttachment** issues,
                         uint32_t count, FailedAttachment*** failed_out,
                         int32_t* failed_count_out, char** error_out);

// Positions of the two fix fields in the list the host passes back.
constexpr int32_t kHoursFieldIndex = 0;
constexpr int32_t kCommentFieldIndex = 1;
constexpr int32_t kFixFieldCount = 2;

// The user's entry of a passed-back field: its first choice's label. A missing list, field,
// choice or label reads as the empty text, so a careless host cannot crash the plug-in.
const char* fix_field_entry(CustomFieldRecord* const* fields, int32_t count, int32_t index);

// The hours entry read as a base-10 number the way strtol does (blanks, sign, trailing text
// ignored), saturated to the 32-bit range.
int32_t read_hours(const char* entry);

}  // namespace bugzilla
