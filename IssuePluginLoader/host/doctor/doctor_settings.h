// What doctor needs to know about one connection, read from BugzillaConnections.txt with the
// XML-RPC library's own reader (the same parse the plug-in uses).
#pragma once

#include <XmlRpc/XmlRpcClient.h>

#include <optional>
#include <string>

namespace host {

struct ConnectionSettings {
  std::string name;
  std::string server_url;
  int port = 0;  // 0: the scheme's default
  std::string uri;
  std::string product;
  std::optional<int> connect_timeout_seconds;
  std::optional<int> timeout_seconds;
  std::optional<int> max_response_mb;
  std::string ca_file;
  bool verify_tls = true;
};

// Where server_url and port lead: scheme, host name, effective port.
struct Endpoint {
  bool https = false;
  std::string host;
  int port = 0;
  std::string url;  // scheme://host:port/uri, for messages
};

// The first connection called `name` in the file at `path`; false with `problem` otherwise.
bool read_connection_settings(const std::string& path, const std::string& name,
                              ConnectionSettings& settings, std::string& problem);

// Splits server_url ("https://host", "http://host:8080/", "host") into its parts; the port
// member wins over a port in the URL, and 0 in both means 80 or 443.
Endpoint endpoint_of(const ConnectionSettings& settings);

// A client built as the plug-in builds it for this connection, with its own cookie file.
void configure_client(XmlRpc::XmlRpcClient& client, const ConnectionSettings& settings,
                      const std::string& cookie_file);

}  // namespace host
