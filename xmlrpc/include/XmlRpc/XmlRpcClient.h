// One XML-RPC endpoint reached over HTTP or HTTPS, with an optional shared cookie file; the
// same client also calls a REST service below its path (executeRest).
#pragma once

#include <XmlRpc/XmlRpcEndpoint.h>
#include <XmlRpc/XmlRpcExport.h>
#include <XmlRpc/RestRequest.h>
#include <XmlRpc/XmlRpcFilter.h>
#include <XmlRpc/XmlRpcValue.h>

#include <cstddef>
#include <memory>
#include <string>

namespace XmlRpc {

// Results of XmlRpcClient::execute.
enum TransportCode : int {
  kExchangeCompleted = 0,  // a response arrived and decoded; it may be a fault
  kConnectFailed = 202,    // no connection (resolve, refuse, connect timeout, TLS verification)
  kSendFailed = 203,       // the request could not be sent
  kReceiveFailed = 204     // no usable response (cut, stall, not XML-RPC, too large, HTTP error)
};

// What went wrong in the last execute, for diagnostics only: never shown in plug-in messages.
struct XMLRPC_API TransportFailure {
  int code = kExchangeCompleted;
  std::string detail;        // libcurl's error text or the decoder's reason
  long http_status = 0;      // 0 when no status line arrived
  std::string content_type;  // as the server sent it
  std::string location;      // a redirect's Location header (redirects are never followed)
};

class XMLRPC_API XmlRpcClient {
public:
  // `host` is a bare host name or address (plain http) or starts with "http://" or
  // "https://". Port 0 means the scheme's default. `uri` is the path of the service.
  XmlRpcClient(const char* host, int port, const char* uri);
  // A copy keeps host, port, uri, cookie file and settings (not the reply filter); it opens
  // its own connection.
  XmlRpcClient(const XmlRpcClient& other);
  XmlRpcClient& operator=(const XmlRpcClient&) = delete;
  ~XmlRpcClient();

  // Cookies the server sets are kept in this file and sent back to the host they belong to.
  // Clients naming the same file share them. Empty: cookies are not kept.
  void setCookieFilePath(const std::string& path);

  // Bounded waits (seconds): connecting (15 by default, TLS handshake included), and the
  // longest stretch with no byte received (300). Zero or less restores the default: a wait
  // is never unbounded.
  void setConnectTimeout(int seconds);
  void setIdleTimeout(int seconds);
  // Bodies larger than this (after decompression) are abandoned (kReceiveFailed). Default
  // 1024 MiB; 0 restores it.
  void setMaxResponseBytes(size_t bytes);
  // An extra CA bundle for servers whose certificates a private authority signed. It is used
  // in place of the system's authorities for this client.
  void setCaFile(const std::string& path);
  // Certificate and host name checks are on by default; false turns both off.
  void setVerifyTls(bool verify);
  // What the following calls' results keep of their replies (see XmlRpcFilter); null keeps
  // everything. The filter must outlive those calls. Unlike the settings above, a copy of
  // the client does not take it over: a copy made for another call reads its whole reply.
  void setReplyFilter(const XmlRpcFilter* filter);

  // One call. An array `params` gives one parameter per element, another valid value one
  // parameter, an invalid value none. `result` receives the response value, or for a fault
  // a struct with "faultCode" and "faultString". Returns a TransportCode.
  int execute(const char* method, const XmlRpcValue& params, XmlRpcValue& result);

  // One REST call to the client's host, below its path (the base path: "/rest",
  // "/bugzilla/rest.cgi"), over the same connection and settings as execute. Cookies are
  // neither sent nor kept, and redirects are not followed (a 3xx is kReceiveFailed with
  // lastFailure().location). `result` receives the JSON reply as a value (what the reply
  // filter keeps of it); a REST error object ({"error": true, "code": N, "message": text},
  // under any status) gives a struct with "faultCode" and "faultString", like a fault.
  // Another status than 2xx, or a body that is not JSON, is kReceiveFailed. The client keeps
  // the room a reply of up to 4 MiB needed for its next one (the replies of one listing come
  // one after another); what a larger reply needed is given back once it is decoded.
  int executeRest(const RestRequest& request, XmlRpcValue& result);
  // The bytes of the request line the call would send ("GET <target> HTTP/1.1"; "POST ..."
  // for a POST), without its line end: servers refuse lines beyond about 8,190 bytes, so
  // callers split long requests. 0 when the request cannot be made; out of memory raises
  // std::bad_alloc.
  size_t restRequestLineLength(const RestRequest& request) const;

  const TransportFailure& lastFailure() const noexcept;

  const std::string& host() const noexcept;
  int port() const noexcept;
  const std::string& uri() const noexcept;
  const std::string& cookieFilePath() const noexcept;
  // Where the calls go, as the host, port and path were split (XmlRpcEndpoint.h).
  const Endpoint& endpoint() const noexcept;
  int connectTimeout() const noexcept;
  bool verifiesTls() const noexcept;

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace XmlRpc
