// TEMPORARY STUB: replaced by the fix-workflow work.
#include "fix_workflow.h"
#include "records.h"

namespace bugzilla {

int32_t get_fix_workflow(CustomFieldRecord***, int32_t*, char** error_out) {
  *error_out = dup_cstring("Not implemented");
  return 1;
}
int32_t validate_workflow(CustomFieldRecord**, int32_t, int32_t*, char** error_out) {
  *error_out = dup_cstring("Not implemented");
  return 1;
}
int32_t attach_to_issues(const RequestContext&, IssueAttachment**, uint32_t,
                         FailedAttachment***, int32_t*, char** error_out) {
  *error_out = dup_cstring("Not implemented");
  return 1;
}

}  // namespace bugzilla
