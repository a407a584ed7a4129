// Reading XML-RPC responses with expat, as their bytes arrive.
#pragma once

#include <XmlRpc/XmlRpcFilter.h>
#include <XmlRpc/XmlRpcValue.h>

#include <cstddef>
#include <memory>
#include <string>

namespace XmlRpc {
namespace detail {

// Struct and array nesting allowed in a response; deeper replies are refused.
constexpr int kMaxNesting = 64;

// Decodes a <methodResponse> body fed in pieces of any size into `result`: the parameter's
// value (what `filter` keeps of it, when given), or for a fault the whole struct with
// "faultCode" and "faultString". Ill-formed UTF-8 and characters XML forbids are read as
// U+FFFD. Nothing of the body is kept beyond what the value holds.
class ResponseStream {
public:
  explicit ResponseStream(XmlRpcValue& result, const XmlRpcFilter* filter = nullptr);
  ~ResponseStream();
  ResponseStream(const ResponseStream&) = delete;
  ResponseStream& operator=(const ResponseStream&) = delete;

  // The next piece of the body. False once the body is known not to be a well-formed
  // XML-RPC response (further pieces are ignored); finish() then gives the reason. Out of
  // memory raises std::bad_alloc, the decoder left unusable.
  bool feed(const char* data, size_t size);
  // The body is complete. False with a reason in `error` (no content of the body) when it is
  // not a well-formed XML-RPC response; `result` is then invalid.
  bool finish(std::string& error, bool* is_fault = nullptr);

private:
  class Decoder;
  std::unique_ptr<Decoder> decoder_;
};

// Gives back an array's spare room once no more elements are coming. By hand:
// std::vector::shrink_to_fit swallows a failed allocation, and running out of memory must be
// reported like anywhere else.
void shrink_to_fit(XmlRpcValue::ValueArray& elements);

// A whole body at once, through ResponseStream.
bool decode_response(const char* data, size_t size, XmlRpcValue& result, std::string& error,
                     bool* is_fault = nullptr, const XmlRpcFilter* filter = nullptr);

}  // namespace detail
}  // namespace XmlRpc
