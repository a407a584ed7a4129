// Where a client's requests go: the server address of a connection split into its parts,
// once, by libcurl's URL parser, so that every user (the client, a diagnostic) agrees.
#pragma once

#include <XmlRpc/XmlRpcExport.h>

#include <string>

namespace XmlRpc {

struct Endpoint {
  bool valid = false;
  bool https = false;
  std::string host;  // lower case, without brackets or port: what cookies are matched against
  int port = 0;      // the port requests go to: the given one, the URL's, or 80 / 443
  std::string path;  // the request path without a query: what cookie paths are matched against
  std::string url;
};

// `host_text` is a bare host ("bugzilla.example.com", "10.0.0.5", "[::1]"), possibly with a
// ":port" and a base path, or the same after "http://" or "https://". A positive `port`
// overrides one in the text; otherwise the scheme's default applies. `uri` is appended to the
// base path. Not valid: another scheme, a user name, no host, a bad port.
XMLRPC_API Endpoint makeEndpoint(const std::string& host_text, int port, const std::string& uri);

}  // namespace XmlRpc
