// TEMPORARY STUB: replaced by the queries work.
#include "issues.h"
#include "records.h"

#include <stdexcept>

namespace bugzilla {

int32_t get_filter_list(char***, int32_t*, char** error_out) {
  *error_out = dup_cstring("Not implemented");
  return 1;
}
int32_t get_issue_list(const RequestContext&, const char*, IssueRecord***, int32_t*, int32_t*,
                       char** error_out) {
  *error_out = dup_cstring("Not implemented");
  return 1;
}
int32_t get_issue_details(const RequestContext&, const char*, IssueRecord**,
                          CustomFieldRecord***, int32_t*, char** error_out) {
  *error_out = dup_cstring("Not implemented");
  return 1;
}
char* datetime_to_text(XmlRpc::XmlRpcValue) { throw std::logic_error("Not implemented"); }

}  // namespace bugzilla
