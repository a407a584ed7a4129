// Arbitrary bytes as a server's reply body: the decoder either refuses them with a reason or
// yields a value that the encoder writes back into a reply decoding to the very same value.
#include "fuzz_check.h"
#include "wire_decode.h"
#include "wire_encode.h"

#include <XmlRpc/XmlRpcValue.h>

#include <cstddef>
#include <cstdint>
#include <string>

using XmlRpc::XmlRpcValue;

namespace {

std::string as_reply(const XmlRpcValue& value) {
  std::string body = "<?xml version=\"1.0\"?><methodResponse><params><param>";
  XmlRpc::detail::append_value(body, value);
  body += "</param></params></methodResponse>";
  return body;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  XmlRpcValue result;
  std::string error;
  bool is_fault = false;
  const bool ok = XmlRpc::detail::decode_response(reinterpret_cast<const char*>(data), size,
                                                  result, error, &is_fault);
  if (!ok) {
    FUZZ_CHECK(!result.valid());
    FUZZ_CHECK(!error.empty());
    return 0;
  }
  FUZZ_CHECK(error.empty());
  if (is_fault) {
    FUZZ_CHECK(result.getType() == XmlRpcValue::TypeStruct);
    FUZZ_CHECK(result.hasMember("faultCode") && result.hasMember("faultString"));
  }

  // Compared as encoder text rather than with ==, so that a NaN double counts as itself.
  const std::string first = as_reply(result);
  XmlRpcValue again;
  bool again_fault = true;
  FUZZ_CHECK(XmlRpc::detail::decode_response(first.data(), first.size(), again, error,
                                             &again_fault));
  FUZZ_CHECK(!again_fault);
  FUZZ_CHECK(as_reply(again) == first);
  return 0;
}
