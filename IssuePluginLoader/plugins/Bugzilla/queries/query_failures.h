// How the issue queries report a failed call or a reply they could not read.
#pragma once

#include <XmlRpc/XmlRpcValue.h>

#include <cstdint>

namespace bugzilla {

// The failure code of describe_call_failure, with its message in *error_out; a fault whose
// code works out to 0 still reports failure, as 1.
int32_t report_failed_call(int code, const char* caption, char** error_out,
                           XmlRpc::XmlRpcValue reply);

// 1, with the message naming the caption of the call whose reply held a member of an
// unexpected kind. Any message already stored is released first.
int32_t report_reply_not_understood(const char* caption, char** error_out);

}  // namespace bugzilla
