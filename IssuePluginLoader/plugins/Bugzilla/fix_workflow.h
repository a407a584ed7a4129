// The fields a fix asks for, their validation, and attaching check-ins to bugs.
#pragma once

#include "issue_plugin_api.h"

namespace bugzilla {

int32_t get_fix_workflow(CustomFieldRecord*** fields_out, int32_t* count_out,
                         char** error_out);
int32_t validate_workflow(CustomFieldRecord** fields, int32_t count, int32_t* valid_out,
                          char** error_out);
int32_t attach_to_issues(const RequestContext& context, IssueAttachment** issues,
                         uint32_t count, FailedAttachment*** failed_out,
                         int32_t* failed_count_out, char** error_out);

}  // namespace bugzilla
