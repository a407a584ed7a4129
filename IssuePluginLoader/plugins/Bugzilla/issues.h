// Filters, the bug list under a filter, one bug's details, date-time text.
#pragma once

#include "issue_plugin_api.h"

#include <XmlRpc/XmlRpcValue.h>

namespace bugzilla {

int32_t get_filter_list(char*** filters_out, int32_t* count_out, char** error_out);
int32_t get_issue_list(const RequestContext& context, const char* filter,
                       IssueRecord*** issues_out, int32_t* count_out, int32_t* flag_out,
                       char** error_out);
int32_t get_issue_details(const RequestContext& context, const char* issue_id,
                          IssueRecord** issue_out, CustomFieldRecord*** fields_out,
                          int32_t* count_out, char** error_out);

// YYYY-MM-DDTHH:MM:SS in a new 30-byte buffer.
char* datetime_to_text(XmlRpc::XmlRpcValue value);

}  // namespace bugzilla
