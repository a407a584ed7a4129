// Where a client's requests go: the URL built from its host text, port and path.
#pragma once

#include <string>

namespace XmlRpc {
namespace detail {

struct Endpoint {
  bool valid = false;
  bool https = false;
  std::string host;  // lower case, without brackets or port: what cookies are matched against
  std::string path;  // the request path without a query: what cookie paths are matched against
  std::string url;
};

// `host_text` is a bare host ("bugzilla.example.com", "10.0.0.5", "[::1]"), possibly with a
// ":port" and a base path, or the same after "http://" or "https://". A positive `port`
// overrides one in the text; otherwise the scheme's default applies. `uri` is appended to the
// base path.
Endpoint make_endpoint(const std::string& host_text, int port, const std::string& uri);

}  // namespace detail
}  // namespace XmlRpc
