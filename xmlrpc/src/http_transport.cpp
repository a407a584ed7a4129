#include "http_transport.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string_view>

namespace XmlRpc {
namespace detail {

namespace {

struct SlistRelease {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

void init_curl_once() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// What the callbacks learn during one transfer; it decides which stage failed.
struct TransferState {
  CURL* handle = nullptr;
  HttpReply* reply = nullptr;
  BodySink* sink = nullptr;
  size_t limit = 0;
  size_t received = 0;        // body bytes handed to the sink
  std::exception_ptr thrown;  // from the sink, raised again after the transfer
  bool too_large = false;
  bool expected = false;      // the sink was told the announced length
  bool connected = false;    // the connection (with TLS) stood and the request began
  bool got_response = false;  // at least one header line arrived
  bool idle_too_long = false;
  std::chrono::steady_clock::duration idle_limit{};
  std::chrono::steady_clock::time_point last_activity{};
  curl_off_t bytes_moved = 0;
};

bool starts_with_no_case(const char* text, size_t size, const char* prefix) {
  size_t i = 0;
  for (; prefix[i] != '\0'; ++i) {
    if (i >= size) return false;
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

size_t on_body(char* data, size_t size, size_t count, void* user) {
  auto* state = static_cast<TransferState*>(user);
  const size_t n = size * count;
  if (n > state->limit - state->received) {
    state->too_large = true;  // abandon now rather than read without bound
    return 0;
  }
  try {
    if (state->received == 0 && !state->expected) {
      state->expected = true;
      curl_off_t length = -1;
      if (curl_easy_getinfo(state->handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) ==
              CURLE_OK &&
          length > 0) {
        const auto announced = static_cast<uint64_t>(length);
        state->sink->expect(announced < state->limit ? static_cast<size_t>(announced)
                                                     : state->limit);
      }
    }
    state->received += n;
    if (!state->sink->write(data, n)) {
      state->reply->body_refused = true;
      return 0;
    }
  } catch (...) {
    state->thrown = std::current_exception();  // no exception may cross libcurl
    return 0;
  }
  return n;
}

// The value of a header line whose name (with its colon) is `name_length` bytes long, without
// the blanks around it and the line end.
std::string_view header_value(const char* data, size_t n, size_t name_length) {
  size_t begin = name_length;
  size_t end = n;
  while (begin < end && (data[begin] == ' ' || data[begin] == '\t')) ++begin;
  while (end > begin && (data[end - 1] == '\r' || data[end - 1] == '\n' ||
                         data[end - 1] == ' ' || data[end - 1] == '\t')) {
    --end;
  }
  return std::string_view(data + begin, end - begin);
}

size_t on_header(char* data, size_t size, size_t count, void* user) {
  auto* state = static_cast<TransferState*>(user);
  const size_t n = size * count;
  state->got_response = true;
  try {
    if (starts_with_no_case(data, n, "http/")) {
      state->reply->set_cookies.clear();  // a new response (after 100 Continue, say)
      state->reply->location.clear();
    } else if (starts_with_no_case(data, n, "location:")) {
      state->reply->location.assign(header_value(data, n, 9));
    } else if (starts_with_no_case(data, n, "set-cookie:")) {
      state->reply->set_cookies.emplace_back(header_value(data, n, 11));
    }
  } catch (...) {
    return 0;  // out of memory: no exception may cross libcurl
  }
  return n;
}

int on_connected(void* user, char*, char*, int, int) {
  auto* state = static_cast<TransferState*>(user);
  state->connected = true;
  state->last_activity = std::chrono::steady_clock::now();
  return CURL_PREREQFUNC_OK;
}

// libcurl's own low-speed check averages over several seconds that still count the request
// just sent, so a short limit would stretch; this watches for the first silent stretch.
int on_progress(void* user, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded) {
  auto* state = static_cast<TransferState*>(user);
  if (!state->connected) return 0;  // connecting has its own timeout
  const auto now = std::chrono::steady_clock::now();
  if (downloaded + uploaded != state->bytes_moved) {
    state->bytes_moved = downloaded + uploaded;
    state->last_activity = now;
    return 0;
  }
  if (now - state->last_activity < state->idle_limit) return 0;
  state->idle_too_long = true;
  return 1;  // abort the transfer
}

}  // namespace

HttpTransport::HttpTransport() = default;

HttpTransport::~HttpTransport() {
  if (handle_) curl_easy_cleanup(static_cast<CURL*>(handle_));
}

int HttpTransport::post(const std::string& url, const std::string& body,
                        const std::string& cookie_header, const HttpSettings& settings,
                        HttpReply& reply, BodySink& sink, TransportFailure& failure) {
  HttpRequest request;
  request.url = url;
  request.body = body;
  request.cookie_header = cookie_header;
  return perform(request, settings, reply, sink, failure);
}

int HttpTransport::perform(const HttpRequest& request, const HttpSettings& settings,
                           HttpReply& reply, BodySink& sink, TransportFailure& failure) {
  init_curl_once();
  if (!handle_) handle_ = curl_easy_init();
  std::unique_ptr<curl_slist, SlistRelease> headers;
  bool listed = handle_ != nullptr;
  auto add = [&](const std::string& line) {
    curl_slist* more = curl_slist_append(headers.get(), line.c_str());
    if (!more) {
      listed = false;
      return;
    }
    headers.release();
    headers.reset(more);
  };
  if (request.post) add(std::string("Content-Type: ") + request.content_type);
  if (request.post) add("Expect:");  // no 100-continue round trip
  if (request.accept) add(std::string("Accept: ") + request.accept);
  for (const std::string& line : request.headers) add(line);
  if (!listed) {
    failure.code = kSendFailed;
    failure.detail = "libcurl could not be set up";
    return kSendFailed;
  }
  CURL* curl = static_cast<CURL*>(handle_);

  reply.status = 0;
  reply.content_type.clear();
  reply.location.clear();
  reply.set_cookies.clear();
  reply.body_refused = false;
  TransferState state;
  state.handle = curl;
  state.reply = &reply;
  state.sink = &sink;
  state.limit = settings.max_response_bytes;
  state.idle_limit = std::chrono::seconds(settings.idle_timeout_seconds);
  char error_text[CURL_ERROR_SIZE] = {0};

  // A reset clears every option but keeps the open connection, so each call states all of
  // them and settings changed between calls take effect.
  curl_easy_reset(curl);
  curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  if (request.post) {
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(request.body.size()));
  } else {
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
  }
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "XmlRpc/1.0 libcurl");
  curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");  // whatever this libcurl can inflate
  if (!request.cookie_header.empty()) {
    curl_easy_setopt(curl, CURLOPT_COOKIE, request.cookie_header.c_str());
  }
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, settings.connect_timeout_seconds);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, settings.idle_timeout_seconds);
  if (settings.max_response_bytes < (size_t{1} << 62)) {
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE,
                     static_cast<curl_off_t>(settings.max_response_bytes));
  }
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, settings.verify_tls ? 1L : 0L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, settings.verify_tls ? 2L : 0L);
  if (!settings.ca_file.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, settings.ca_file.c_str());
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error_text);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &on_body);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &state);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &on_header);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &state);
  curl_easy_setopt(curl, CURLOPT_PREREQFUNCTION, &on_connected);
  curl_easy_setopt(curl, CURLOPT_PREREQDATA, &state);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &on_progress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &state);

  const CURLcode result = curl_easy_perform(curl);

  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
  char* content_type = nullptr;
  if (curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &content_type) == CURLE_OK && content_type) {
    reply.content_type = content_type;
  }
  curl_off_t uploaded = 0;
  curl_easy_getinfo(curl, CURLINFO_SIZE_UPLOAD_T, &uploaded);
  // The buffer and the header list live on this stack frame only.
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, static_cast<char*>(nullptr));
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(nullptr));
  if (state.thrown) std::rethrow_exception(state.thrown);

  failure.http_status = reply.status;
  failure.content_type = reply.content_type;
  failure.location = reply.location;
  if (result == CURLE_OK) return kExchangeCompleted;

  failure.detail = error_text[0] != '\0' ? error_text : curl_easy_strerror(result);
  if (state.too_large || result == CURLE_FILESIZE_EXCEEDED) {
    failure.code = kReceiveFailed;
    failure.detail = "response larger than " + std::to_string(settings.max_response_bytes) +
                     " bytes";
    return kReceiveFailed;
  }
  if (state.idle_too_long) {
    failure.detail = "no data received for " + std::to_string(settings.idle_timeout_seconds) +
                     " seconds";
  }
  if (!state.connected) {
    failure.code = kConnectFailed;  // resolving, connecting, TLS handshake or verification
  } else if (!state.got_response &&
             (result == CURLE_SEND_ERROR || uploaded < static_cast<curl_off_t>(request.body.size()))) {
    failure.code = kSendFailed;
  } else {
    failure.code = kReceiveFailed;
  }
  return failure.code;
}

}  // namespace detail
}  // namespace XmlRpc
