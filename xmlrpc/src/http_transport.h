// One HTTP(S) connection to an XML-RPC server through libcurl, kept alive across requests.
#pragma once

#include <XmlRpc/XmlRpcClient.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace XmlRpc {
namespace detail {

struct HttpSettings {
  long connect_timeout_seconds = 15;
  long idle_timeout_seconds = 300;  // longest stretch without a byte received
  size_t max_response_bytes = size_t{1024} << 20;
  std::string ca_file;              // empty: the system's certificate authorities
  bool verify_tls = true;
};

// One request: an XML-RPC POST, or a REST GET or POST.
struct HttpRequest {
  std::string url;
  bool post = true;
  std::string_view body;             // POST only; the caller keeps it until the call returns
  const char* content_type = "text/xml";
  const char* accept = nullptr;      // an Accept header, when given
  std::string cookie_header;         // none when empty
  std::vector<std::string> headers;  // further "Name: value" lines, checked by the caller
};

struct HttpReply {
  long status = 0;
  std::string content_type;
  std::string location;                  // a redirect's Location header, as sent
  std::vector<std::string> set_cookies;  // Set-Cookie values of the final response
  bool body_refused = false;             // the body sink refused it and the transfer stopped
};

// Takes the body as it arrives, decompressed, piece by piece; the transport keeps none of it.
class BodySink {
public:
  // False refuses the body: the transfer stops. An exception stops it too and is raised
  // again from post() once libcurl has returned.
  virtual bool write(const char* data, size_t size) = 0;
  // The body's announced length (Content-Length, before decompression), once known, before
  // the first write; not called when the reply announces none.
  virtual void expect(size_t) {}

protected:
  ~BodySink() = default;
};

class HttpTransport {
public:
  HttpTransport();
  ~HttpTransport();
  HttpTransport(const HttpTransport&) = delete;
  HttpTransport& operator=(const HttpTransport&) = delete;

  // POSTs `body` as text/xml, with `cookie_header` as the Cookie header unless empty, and
  // hands the reply's body to `sink` as it arrives. kExchangeCompleted when a whole reply
  // arrived, whatever its status; otherwise kConnectFailed (no connection or TLS handshake),
  // kSendFailed (the request did not get out) or kReceiveFailed (cut, stalled, too large,
  // refused by the sink), with the cause in `failure`. The size limit counts every byte the
  // sink is given.
  int post(const std::string& url, const std::string& body, const std::string& cookie_header,
           const HttpSettings& settings, HttpReply& reply, BodySink& sink,
           TransportFailure& failure);
  // Any request, on the same terms. Redirects are never followed.
  int perform(const HttpRequest& request, const HttpSettings& settings, HttpReply& reply,
              BodySink& sink, TransportFailure& failure);

private:
  void* handle_ = nullptr;   // CURL*, created on first use
};

}  // namespace detail
}  // namespace XmlRpc
