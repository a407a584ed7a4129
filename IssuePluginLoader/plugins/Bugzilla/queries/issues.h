// Filters, the bug list under a filter, one bug's details, date-time text.
#pragma once

#include "issue_plugin_api.h"

#include <XmlRpc/XmlRpcValue.h>

#include <cstddef>

namespace bugzilla {

// The filter names, in the order the host shows them.
extern const char kFilterAssignedToMe[];  // "Assigned To Me"
extern const char kFilterCreatedByMe[];   // "Created By Me"
extern const char kFilterNotFiltered[];   // "Not Filtered"

int32_t get_filter_list(char*** filters_out, int32_t* count_out, char** error_out);
int32_t get_issue_list(const RequestContext& context, const char* filter,
                       IssueRecord*** issues_out, int32_t* count_out, int32_t* flag_out,
                       char** error_out);
int32_t get_issue_details(const RequestContext& context, const char* issue_id,
                          IssueRecord** issue_out, CustomFieldRecord*** fields_out,
                          int32_t* count_out, char** error_out);

}  // namespace bugzilla
