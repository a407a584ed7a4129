// One call of a REST web service (Bugzilla's /rest), made by XmlRpcClient::executeRest over
// the same connection and settings as the client's XML-RPC calls.
#pragma once

#include <XmlRpc/XmlRpcValue.h>

#include <string>
#include <utility>
#include <vector>

namespace XmlRpc {

struct RestRequest {
  bool post = false;                      // GET otherwise
  // Segments below the client's path, each escaped by the library: {"bug", "widget colour",
  // "comment"} gives ".../bug/widget%20colour/comment". Empty, "." and ".." are refused.
  std::vector<std::string> path;
  // In order; a name may repeat ("ids=6&ids=2"). Names and values are escaped by the library;
  // a name may not hold '='.
  std::vector<std::pair<std::string, std::string>> query;
  // Extra request headers ("X-BUGZILLA-API-KEY"); names and values without line breaks.
  std::vector<std::pair<std::string, std::string>> headers;
  // POST only: a struct sent as a JSON object (an invalid value sends {}).
  XmlRpcValue body;
};

// True when escaping leaves the text as it is (RFC 3986's unreserved characters only): in a
// path or query it then takes exactly its own length.
inline bool isUnreservedText(const std::string& text) {
  for (const char c : text) {
    const bool unreserved = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                            (c >= 'a' && c <= 'z') || c == '-' || c == '.' || c == '_' || c == '~';
    if (!unreserved) return false;
  }
  return true;
}

}  // namespace XmlRpc
