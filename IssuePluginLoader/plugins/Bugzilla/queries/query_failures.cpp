#include "query_failures.h"

#include "records.h"
#include "server_calls.h"

#include <utility>

namespace bugzilla {

int32_t report_failed_call(int code, const char* caption, char** error_out,
                           XmlRpc::XmlRpcValue reply) {
  const int described = describe_call_failure(code, caption, error_out, std::move(reply));
  return described != 0 ? described : 1;
}

int32_t report_reply_not_understood(const char* caption, char** error_out) {
  char* message = reply_not_understood(caption);
  free_string(*error_out);
  *error_out = message;
  return 1;
}

}  // namespace bugzilla
