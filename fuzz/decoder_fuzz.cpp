// Arbitrary bytes as a server's reply body: the decoder either refuses them with a reason or
// yields a value that the encoder writes back into a reply decoding to the very same value.
// The body fed as it arrives from the network, cut into two pieces at every byte and in
// single bytes, decodes to the same outcome as the whole body.
#include "fuzz_check.h"
#include "wire_decode.h"
#include "wire_encode.h"

#include <XmlRpc/XmlRpcValue.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using XmlRpc::XmlRpcValue;

namespace {

std::string as_reply(const XmlRpcValue& value) {
  std::string body = "<?xml version=\"1.0\"?><methodResponse><params><param>";
  XmlRpc::detail::append_value(body, value);
  body += "</param></params></methodResponse>";
  return body;
}

// The outcome of decoding the pieces cut at `cuts` (ascending offsets), as text to compare.
std::string streamed(const char* data, size_t size, const std::vector<size_t>& cuts) {
  XmlRpcValue result;
  XmlRpc::detail::ResponseStream stream(result);
  size_t at = 0;
  for (size_t cut : cuts) {
    stream.feed(data + at, cut - at);
    at = cut;
  }
  stream.feed(data + at, size - at);
  std::string error;
  bool is_fault = false;
  if (!stream.finish(error, &is_fault)) {
    FUZZ_CHECK(!result.valid());
    return "refused: " + error;
  }
  return (is_fault ? "fault: " : "value: ") + as_reply(result);
}

// Two pieces cut at every byte cost a decode each, so larger bodies (seed replies) are cut
// at a stride there; the single-byte feed cuts them at every byte in one decode.
constexpr size_t kEveryCutUpTo = 4096;

void check_streaming(const char* data, size_t size) {
  const std::string whole = streamed(data, size, {});
  const size_t stride = size <= kEveryCutUpTo ? 1 : 61;
  for (size_t cut = 0; cut <= size; cut += stride) {
    FUZZ_CHECK(streamed(data, size, {cut}) == whole);
  }
  std::vector<size_t> every_byte;
  for (size_t cut = 1; cut < size; ++cut) every_byte.push_back(cut);
  FUZZ_CHECK(streamed(data, size, every_byte) == whole);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  check_streaming(reinterpret_cast<const char*>(data), size);
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
