// The client: encodes a call, sends it, keeps the cookie file (XML-RPC only), decodes the reply.
#include <XmlRpc/XmlRpcClient.h>
#include <XmlRpc/XmlRpcEndpoint.h>

#include "cookie_jar.h"
#include "http_transport.h"
#include "json_decode.h"
#include "json_encode.h"
#include "rest_url.h"
#include "wire_decode.h"
#include "wire_encode.h"

#include <new>

namespace XmlRpc {

namespace {

const detail::HttpSettings kDefaults;

// The body goes to the decoder as it arrives; the decoder refusing it stops the transfer.
class DecodingSink final : public detail::BodySink {
public:
  explicit DecodingSink(detail::ResponseStream& stream) : stream_(stream) {}
  bool write(const char* data, size_t size) override { return stream_.feed(data, size); }

private:
  detail::ResponseStream& stream_;
};

// A REST body is collected whole and decoded at its end.
class CollectingSink final : public detail::BodySink {
public:
  explicit CollectingSink(detail::JsonResponse& response) : response_(response) {}
  bool write(const char* data, size_t size) override {
    response_.feed(data, size);
    return true;
  }
  void expect(size_t bytes) override { response_.expect(bytes); }

private:
  detail::JsonResponse& response_;
};

// Drops the query from a text shown in a diagnostic: it may hold a password or a token.
std::string without_query(std::string text, const std::string& query) {
  if (query.empty()) return text;
  for (size_t at = text.find(query); at != std::string::npos; at = text.find(query, at)) {
    text.replace(at, query.size(), "...");
  }
  return text;
}

}  // namespace

struct XmlRpcClient::Impl {
  std::string host;
  int port = 0;
  std::string uri;
  std::string cookie_file;
  detail::HttpSettings settings;
  Endpoint endpoint;
  TransportFailure failure;
  std::unique_ptr<detail::HttpTransport> transport;  // opened on the first call
  detail::HttpReply reply;
  detail::JsonScratch json_scratch;                  // REST replies, one after the other
  const XmlRpcFilter* reply_filter = nullptr;        // not the copy's: see setReplyFilter

  Impl(std::string host_text, int port_number, std::string path)
      : host(std::move(host_text)), port(port_number), uri(std::move(path)),
        endpoint(makeEndpoint(host, port, uri)) {}

  int fail(int code, std::string detail) {
    failure.code = code;
    failure.detail = std::move(detail);
    return code;
  }

  int execute(const char* method, const XmlRpcValue& params, XmlRpcValue& result);
  int executeRest(const RestRequest& request, XmlRpcValue& result);
};

int XmlRpcClient::Impl::executeRest(const RestRequest& rest, XmlRpcValue& result) {
  if (!endpoint.valid) return fail(kConnectFailed, "the host is not an http or https address");
  detail::RestUrl url;
  std::string error;
  detail::HttpRequest request;
  if (!detail::make_rest_url(endpoint, rest, url, error) ||
      !detail::make_rest_headers(rest, request.headers, error)) {
    return fail(kSendFailed, "the request could not be made: " + error);
  }
  std::string body;
  if (rest.post) {
    if (rest.body.valid() && rest.body.getType() != XmlRpcValue::TypeStruct) {
      return fail(kSendFailed, "the request could not be made: a POST body must be a struct");
    }
    body = rest.body.valid() ? detail::encode_json(rest.body) : "{}";
  }
  request.url = url.url;
  request.post = rest.post;
  request.body = body;
  request.content_type = "application/json";
  request.accept = "application/json";
  if (!transport) transport = std::make_unique<detail::HttpTransport>();

  detail::JsonResponse response(result, reply_filter, &json_scratch);
  CollectingSink sink(response);
  const int code = transport->perform(request, settings, reply, sink, failure);
  if (code != kExchangeCompleted) {
    result.clear();
    failure.detail = without_query(failure.detail, url.query);
    return code;
  }
  const std::string status = "HTTP status " + std::to_string(reply.status);
  if (reply.status >= 300 && reply.status < 400) {
    // Following it would carry the credentials in the query to wherever it points.
    return fail(kReceiveFailed, status + ", a redirect (not followed)");
  }
  bool fault = false;
  if (!response.finish(error, &fault)) {
    return fail(kReceiveFailed, status + ", the reply is not JSON: " + error);
  }
  if (fault) return kExchangeCompleted;  // a REST error is an answer whatever the status
  if (reply.status < 200 || reply.status >= 300) {
    result.clear();
    return fail(kReceiveFailed, status);
  }
  return kExchangeCompleted;
}

int XmlRpcClient::Impl::execute(const char* method, const XmlRpcValue& params,
                                XmlRpcValue& result) {
  if (!endpoint.valid) return fail(kConnectFailed, "the host is not an http or https address");
  const std::string body = detail::encode_request(method ? method : "", params);
  const std::string cookies =
      detail::cookie_header_from_file(cookie_file, endpoint.host, endpoint.path, endpoint.https);
  if (!transport) transport = std::make_unique<detail::HttpTransport>();

  detail::ResponseStream stream(result, reply_filter);
  DecodingSink sink(stream);
  const int code = transport->post(endpoint.url, body, cookies, settings, reply, sink, failure);
  // Cookies count even on a reply that is otherwise unusable: the server did set them.
  detail::store_response_cookies(cookie_file, endpoint.host, endpoint.path, reply.set_cookies);
  std::string error;
  bool fault = false;
  if (code != kExchangeCompleted && !reply.body_refused) {
    result.clear();  // what arrived before the failure
    return code;
  }
  if (!stream.finish(error, &fault)) {
    return fail(kReceiveFailed, "HTTP status " + std::to_string(reply.status) +
                                    ", the reply is not an XML-RPC response: " + error);
  }
  // A fault is an answer whatever the status; anything else needs a 200.
  if (reply.status != 200 && !fault) {
    result.clear();
    return fail(kReceiveFailed, "HTTP status " + std::to_string(reply.status));
  }
  return kExchangeCompleted;
}

XmlRpcClient::XmlRpcClient(const char* host, int port, const char* uri)
    : impl_(std::make_unique<Impl>(host ? host : "", port, uri ? uri : "")) {}

XmlRpcClient::XmlRpcClient(const XmlRpcClient& other)
    : impl_(std::make_unique<Impl>(other.impl_->host, other.impl_->port, other.impl_->uri)) {
  impl_->cookie_file = other.impl_->cookie_file;
  impl_->settings = other.impl_->settings;
}

XmlRpcClient::~XmlRpcClient() = default;

void XmlRpcClient::setCookieFilePath(const std::string& path) { impl_->cookie_file = path; }

void XmlRpcClient::setConnectTimeout(int seconds) {
  impl_->settings.connect_timeout_seconds =
      seconds > 0 ? seconds : kDefaults.connect_timeout_seconds;
}

void XmlRpcClient::setIdleTimeout(int seconds) {
  impl_->settings.idle_timeout_seconds = seconds > 0 ? seconds : kDefaults.idle_timeout_seconds;
}

void XmlRpcClient::setMaxResponseBytes(size_t bytes) {
  impl_->settings.max_response_bytes = bytes > 0 ? bytes : kDefaults.max_response_bytes;
}

void XmlRpcClient::setCaFile(const std::string& path) { impl_->settings.ca_file = path; }

void XmlRpcClient::setVerifyTls(bool verify) { impl_->settings.verify_tls = verify; }

void XmlRpcClient::setReplyFilter(const XmlRpcFilter* filter) { impl_->reply_filter = filter; }

// One call of either kind: no exception leaves the client; one that happened is a request
// that could not be made.
template <class Impl, class Call>
int guarded_call(Impl& impl, XmlRpcValue& result, Call&& call) {
  impl.failure = TransportFailure();
  result.clear();
  try {
    return call();
  } catch (const std::exception& error) {
    result.clear();
    return impl.fail(kSendFailed, std::string("the request could not be made: ") + error.what());
  } catch (...) {
    result.clear();
    return impl.fail(kSendFailed, "the request could not be made");
  }
}

int XmlRpcClient::execute(const char* method, const XmlRpcValue& params, XmlRpcValue& result) {
  return guarded_call(*impl_, result, [&] { return impl_->execute(method, params, result); });
}

int XmlRpcClient::executeRest(const RestRequest& request, XmlRpcValue& result) {
  return guarded_call(*impl_, result, [&] { return impl_->executeRest(request, result); });
}

size_t XmlRpcClient::restRequestLineLength(const RestRequest& request) const {
  detail::RestUrl url;
  std::string error;
  try {
    if (!detail::make_rest_url(impl_->endpoint, request, url, error)) return 0;
  } catch (const std::bad_alloc&) {
    throw;  // the caller's to report: a 0 would read as a request that cannot be made
  } catch (...) {
    return 0;
  }
  return (request.post ? 5 : 4) + url.target.size() + 9;  // "GET " + target + " HTTP/1.1"
}

const TransportFailure& XmlRpcClient::lastFailure() const noexcept { return impl_->failure; }
const std::string& XmlRpcClient::host() const noexcept { return impl_->host; }
int XmlRpcClient::port() const noexcept { return impl_->port; }
const std::string& XmlRpcClient::uri() const noexcept { return impl_->uri; }
const std::string& XmlRpcClient::cookieFilePath() const noexcept { return impl_->cookie_file; }
const Endpoint& XmlRpcClient::endpoint() const noexcept { return impl_->endpoint; }
int XmlRpcClient::connectTimeout() const noexcept {
  return static_cast<int>(impl_->settings.connect_timeout_seconds);
}
bool XmlRpcClient::verifiesTls() const noexcept { return impl_->settings.verify_tls; }

}  // namespace XmlRpc
