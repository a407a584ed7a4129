// Bugzilla date-times as the text the host shows.
#pragma once

#include <XmlRpc/XmlRpcValue.h>

#include <cstddef>

namespace bugzilla {

// YYYY-MM-DDTHH:MM:SS in a new buffer of kDateTimeTextSize bytes.
constexpr size_t kDateTimeTextSize = 30;
char* datetime_to_text(XmlRpc::XmlRpcValue value);

}  // namespace bugzilla
