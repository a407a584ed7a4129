// Reading REST (JSON) replies with simdjson: the body is collected as it arrives and decoded
// whole at its end.
#pragma once

#include <XmlRpc/XmlRpcFilter.h>
#include <XmlRpc/XmlRpcValue.h>

#include <cstddef>
#include <memory>
#include <string>

namespace XmlRpc {
namespace detail {

// What decoding needs besides the result: the collected body and simdjson's parser. A client
// keeps one from reply to reply, so that a listing made of many replies writes into memory it
// already has: fresh pages cost the kernel more than decoding them does. What a reply larger
// than a few MiB needed is given back once it is decoded.
class JsonScratch {
public:
  JsonScratch();
  ~JsonScratch();
  JsonScratch(const JsonScratch&) = delete;
  JsonScratch& operator=(const JsonScratch&) = delete;

private:
  friend class JsonResponse;
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

// Collects a JSON body in pieces of any size and decodes it into `result`: objects as structs
// (members whose value is null left out), arrays as arrays (null elements invalid), strings
// as text, true/false as booleans, integers that fit an int as ints, other numbers as doubles.
// What `filter` keeps, when given, as for XML-RPC replies. Ill-formed UTF-8 and characters XML
// forbids become U+FFFD as in XML-RPC replies. A REST error object ({"error": true, "code": N,
// "message": text}) becomes a fault struct with "faultCode" and "faultString", never filtered.
class JsonResponse {
public:
  // Without `scratch`, the response has its own for one reply.
  explicit JsonResponse(XmlRpcValue& result, const XmlRpcFilter* filter = nullptr,
                        JsonScratch* scratch = nullptr);
  ~JsonResponse();
  JsonResponse(const JsonResponse&) = delete;
  JsonResponse& operator=(const JsonResponse&) = delete;

  // The body's announced size, so that it is collected in one block; limited by the caller.
  void expect(size_t bytes);
  // The next piece of the body.
  void feed(const char* data, size_t size);
  // The body is complete. False with a reason in `error` (no content of the body) when it is
  // not one JSON value; `result` is then invalid. The collected body is dropped either way.
  bool finish(std::string& error, bool* is_fault = nullptr);

private:
  XmlRpcValue& result_;
  const XmlRpcFilter* filter_;
  std::unique_ptr<JsonScratch> own_scratch_;
  JsonScratch::Parts& scratch_;
};

// A whole body at once, through JsonResponse.
bool decode_json(const char* data, size_t size, XmlRpcValue& result, std::string& error,
                 bool* is_fault = nullptr, const XmlRpcFilter* filter = nullptr);

}  // namespace detail
}  // namespace XmlRpc
