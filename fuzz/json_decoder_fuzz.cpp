// Arbitrary bytes as a REST reply body: the JSON decoder either refuses them with a reason or
// yields a value that the JSON encoder writes back into a body decoding to the very same
// value. The body fed in two pieces decodes to the same outcome as the whole body, also through
// a scratch that decoded another reply just before, as a client's does.
#include "fuzz_check.h"
#include "json_decode.h"
#include "json_encode.h"

#include <XmlRpc/XmlRpcValue.h>

#include <cstddef>
#include <cstdint>
#include <string>

using XmlRpc::XmlRpcValue;

namespace {

// The outcome of decoding the body cut once at `cut`, as text to compare.
std::string outcome(const char* data, size_t size, size_t cut, XmlRpcValue& result,
                    XmlRpc::detail::JsonScratch* scratch = nullptr) {
  XmlRpc::detail::JsonResponse response(result, nullptr, scratch);
  response.feed(data, cut);
  response.feed(data + cut, size - cut);
  std::string error;
  bool is_fault = false;
  if (!response.finish(error, &is_fault)) {
    FUZZ_CHECK(!result.valid());
    FUZZ_CHECK(!error.empty());
    return "refused: " + error;
  }
  if (is_fault) FUZZ_CHECK(result.hasMember("faultCode") && result.hasMember("faultString"));
  return std::string(is_fault ? "fault: " : "value: ") + XmlRpc::detail::encode_json(result);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  const auto* data = reinterpret_cast<const char*>(bytes);
  XmlRpcValue whole;
  const std::string expected = outcome(data, size, size, whole);
  XmlRpc::detail::JsonScratch reused;
  for (const size_t cut : {size_t{0}, size / 3, size / 2, size > 0 ? size - 1 : 0}) {
    XmlRpcValue pieces;
    FUZZ_CHECK(outcome(data, size, cut, pieces) == expected);
    FUZZ_CHECK(pieces == whole);
    // After a reply of the first `cut` bytes through the same scratch, nothing of which may
    // show in the next one.
    XmlRpcValue before;
    outcome(data, cut, cut, before, &reused);
    XmlRpcValue again;
    FUZZ_CHECK(outcome(data, size, cut, again, &reused) == expected);
    FUZZ_CHECK(again == whole);
  }
  if (expected.rfind("refused", 0) == 0) return 0;

  const std::string again = XmlRpc::detail::encode_json(whole);
  XmlRpcValue back;
  std::string error;
  FUZZ_CHECK(XmlRpc::detail::decode_json(again.data(), again.size(), back, error));
  FUZZ_CHECK(back == whole);
  return 0;
}
