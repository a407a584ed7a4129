// One Bugzilla server call: the client for a connection, reuse or renewal of the login, and
// the codes and texts of failed calls.
#include "server_calls.h"

#include "api_key_calls.h"
#include "api_key_check.h"
#include "bugzilla_call.h"
#include "cookie_expiry.h"
#include "session.h"
#include "records.h"

#include <XmlRpc/XmlRpcPlatform.h>

#include <algorithm>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

namespace bugzilla {

const char kCaptionBugSearch[] = "Bug Search";
const char kCaptionGetComments[] = "Get Comments";
const char kCaptionVersion[] = "Bugzilla Version";
const char kCaptionGetBugs[] = "Get Bugs";
const char kCaptionBugFields[] = "Bug Fields";
const char kCaptionAddComment[] = "Add Comment";

namespace {

using XmlRpc::XmlRpcClient;
using XmlRpc::XmlRpcValue;

constexpr char kTokenMember[] = "token";
constexpr char kFaultCodeMember[] = "faultCode";
constexpr char kFaultStringMember[] = "faultString";

// ---------------------------------------------------------------------------------------
// Connection members. They are looked up without growing the caller's struct.

// The member's text ("" when absent). Kinds other than text and int throw XmlRpcException.
std::string member_text(const XmlRpcValue& connection, const char* name) {
  const XmlRpcValue* member = connection.find(name);
  return member ? member->toText() : std::string();
}

// A member the connections reader typed (numbers as int, verify_tls as a boolean), used as it
// was read; null when absent.
const XmlRpcValue* typed_member(const XmlRpcValue& connection, const char* name,
                                XmlRpcValue::Type type) {
  const XmlRpcValue* member = connection.find(name);
  return member != nullptr && member->getType() == type ? member : nullptr;
}

int int_of(const XmlRpcValue* member) { return XmlRpcValue(*member).asInt(); }

int clamp_to_int(long value) {
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

// ---------------------------------------------------------------------------------------
// The cookie file, closed on every path out of call_with_login.

class CookieFile {
public:
  explicit CookieFile(const std::string& path)
      : stream_(XmlRpc::platform::open_file(path, "rb")) {}
  ~CookieFile() { close(); }
  CookieFile(const CookieFile&) = delete;
  CookieFile& operator=(const CookieFile&) = delete;

  std::FILE* get() const { return stream_; }
  void close() {
    if (stream_ != nullptr) std::fclose(stream_);
    stream_ = nullptr;
  }

private:
  std::FILE* stream_;
};

// A reused session the server has ended: 5.x refuses the token (32000); 4.4 runs the call
// anonymously, which Bug.add_comment refuses (410); bugzilla.mozilla.org's REST API says 307.
// All refuse before doing anything.
bool session_ended(int code, const XmlRpcValue& result, WebService service) {
  if (code != XmlRpc::kExchangeCompleted) return false;
  const XmlRpcValue* fault_code = result.find(kFaultCodeMember);
  // A code of another kind is left for describe_call_failure to report as not understood.
  if (fault_code == nullptr || (fault_code->getType() != XmlRpcValue::TypeInt &&
                                fault_code->getType() != XmlRpcValue::TypeString)) {
    return false;
  }
  const long number = std::strtol(fault_code->toText().c_str(), nullptr, 10);
  return number == 32000 || number == 410 || (service == WebService::Rest && number == 307);
}

// The session belongs to one user on one server and needs a token to authenticate.
bool holds_token_for(const Session& state, const XmlRpc::XmlRpcClient& client,
                     const RequestContext& context) {
  return state.login == text_or_empty(context.login) && !state.token.empty() &&
         state.server == session_server_of(client);
}

// True when the session can serve this call; otherwise the cookie file is gone. Over REST
// the token alone is the session: no cookie is kept.
bool reuse_session(Session& state, const XmlRpc::XmlRpcClient& client,
                   const RequestContext& context, WebService service) {
  if (service == WebService::Rest) return holds_token_for(state, client, context);
  CookieFile cookie(state.cookie_file_path);
  if (cookie.get() == nullptr) return false;
  const bool reuse = cookie_expired(cookie.get()) == 0 && holds_token_for(state, client, context);
  if (!reuse) {
    cookie.close();
    XmlRpc::platform::remove_file(state.cookie_file_path);  // a file that stays is harmless
  }
  return reuse;
}

// Logs in; false when the call must not be made (the login's code, or 0 with its fault in
// `result`, goes to `code`).
bool log_in(Session& session, XmlRpc::XmlRpcClient& client, const RequestContext& context,
            XmlRpcValue& result, int& code, WebService service) {
  code = login_user(session, client, context, result, service);
  if (code != XmlRpc::kExchangeCompleted) return false;
  return !result.hasMember(kFaultCodeMember);
}

const char kConnectFormat[] = "%s failed to connect to Bugzilla server";
const char kSendFormat[] = "%s failed to send request to Bugzilla server";
const char kReceiveFormat[] = "%s failed to receive response from Bugzilla server";
const char kNotUnderstoodFormat[] =
    "%s failed: the Bugzilla server's reply was not understood. Check that the connection "
    "points at a Bugzilla XML-RPC service.";

}  // namespace

std::string session_server_of(const XmlRpc::XmlRpcClient& client) {
  // Line feeds cannot occur in a connection member (the file's lines are joined), so they
  // keep the three parts apart.
  return client.host() + '\n' + std::to_string(client.port()) + '\n' + client.uri();
}

XmlRpc::XmlRpcValue* credential_holder(XmlRpc::XmlRpcValue& params) {
  XmlRpcValue* holder = &params;
  if (params.getType() == XmlRpcValue::TypeArray) {
    if (params.size() == 0) return nullptr;
    holder = &params[0];
  }
  return holder->getType() == XmlRpcValue::TypeStruct ? holder : nullptr;
}

void put_credential(XmlRpc::XmlRpcValue& params, Authentication authentication,
                    const std::string& secret) {
  XmlRpcValue* holder = credential_holder(params);
  if (holder == nullptr) return;
  holder->removeMember(kTokenMember);
  holder->removeMember("api_key");
  if (secret.empty()) return;
  (*holder)[authentication == Authentication::ApiKey ? "api_key" : kTokenMember] = secret;
}

std::unique_ptr<XmlRpc::XmlRpcClient> prepare_client(XmlRpc::XmlRpcValue& connection) {
  const std::string host = member_text(connection, "server_url");
  const std::string uri = member_text(connection, "web_service_extension");
  const XmlRpcValue* port = typed_member(connection, "port", XmlRpcValue::TypeInt);

  auto client = std::make_unique<XmlRpcClient>(host.c_str(), port ? int_of(port) : 0, uri.c_str());
  // Optional settings (the reader allows positive numbers only); absent keeps the default.
  if (const XmlRpcValue* seconds =
          typed_member(connection, "connect_timeout_seconds", XmlRpcValue::TypeInt)) {
    client->setConnectTimeout(int_of(seconds));
  }
  if (const XmlRpcValue* seconds = typed_member(connection, "timeout_seconds", XmlRpcValue::TypeInt)) {
    client->setIdleTimeout(int_of(seconds));
  }
  if (const XmlRpcValue* mb = typed_member(connection, "max_response_mb", XmlRpcValue::TypeInt)) {
    const size_t mebibyte = size_t{1} << 20;
    const size_t megabytes = static_cast<size_t>(std::max(0, int_of(mb)));
    client->setMaxResponseBytes(megabytes > SIZE_MAX / mebibyte ? SIZE_MAX
                                                                : megabytes * mebibyte);
  }
  const std::string ca_file = member_text(connection, "ca_file");
  if (!ca_file.empty()) client->setCaFile(ca_file);
  if (const XmlRpcValue* verify = typed_member(connection, "verify_tls", XmlRpcValue::TypeBoolean)) {
    client->setVerifyTls(XmlRpcValue(*verify).asBool());
  }
  return client;
}

int call_with_login(Session& session, XmlRpc::XmlRpcClient& client,
                    const RequestContext& context, const char* method,
                    XmlRpc::XmlRpcValue& result, XmlRpc::XmlRpcValue params,
                    Authentication authentication, WebService service) {
  if (authentication == Authentication::ApiKey) {
    return call_with_api_key(client, context, method, result, std::move(params), service);
  }
  // The session's own cookies only: another user's never travel with this call.
  client.setCookieFilePath(session.cookie_file_path);
  const bool reused = reuse_session(session, client, context, service);
  int code = XmlRpc::kExchangeCompleted;
  if (!reused && !log_in(session, client, context, result, code, service)) return code;

  // REST servers quote what a URL carried more readily: neither secret may reach a message.
  auto call_once = [&] {
    put_credential(params, Authentication::Password, session.token);
    const int made = call_bugzilla(client, service, method, params, result);
    if (service == WebService::Rest) {
      hide_secret_in_fault(result, session.token, "[token]");
      hide_secret_in_fault(result, text_or_empty(context.password), "[password]");
    }
    return made;
  };
  code = call_once();
  if (!reused || !session_ended(code, result, service)) return code;

  // One fresh login and the call once more; what the repeat gets is reported as it comes.
  XmlRpc::platform::remove_file(session.cookie_file_path);
  if (!log_in(session, client, context, result, code, service)) return code;
  return call_once();
}

int login_user(Session& session, XmlRpc::XmlRpcClient client_copy,
               const RequestContext& context, XmlRpc::XmlRpcValue& result,
               WebService service) {
  XmlRpcValue params;
  XmlRpcValue& credentials = params[0];
  credentials["login"] = text_or_empty(context.login);
  credentials["password"] = text_or_empty(context.password);

  const int code = call_bugzilla(client_copy, service, "User.login", params, result);
  if (service == WebService::Rest) {
    hide_secret_in_fault(result, text_or_empty(context.password), "[password]");
  }
  if (code != XmlRpc::kExchangeCompleted || result.hasMember(kFaultCodeMember)) return code;

  // Everything is read before the session changes, so a reply that cannot be read leaves the
  // old session whole instead of pairing the new login with the old token.
  const XmlRpcValue* token_member = result.find(kTokenMember);
  std::string login = text_or_empty(context.login);
  std::string token = token_member ? token_member->toText() : std::string();
  std::string server = session_server_of(client_copy);

  session.login.swap(login);
  session.token.swap(token);
  session.server.swap(server);
  return code;
}

bool call_failed(int code, const XmlRpc::XmlRpcValue& result) {
  return code != XmlRpc::kExchangeCompleted || result.hasMember(kFaultCodeMember);
}

int describe_call_failure(int code, const char* caption, char** message_out,
                          XmlRpc::XmlRpcValue result) {
  const char* format = nullptr;
  switch (code) {
    case XmlRpc::kExchangeCompleted: {
      const XmlRpcValue* fault_code = result.find(kFaultCodeMember);
      if (fault_code == nullptr) return code;
      const XmlRpcValue* fault_string = result.find(kFaultStringMember);
      // Both are read before anything is stored, so a member of an odd kind throws without
      // leaving a message behind.
      const std::string text = fault_string ? fault_string->toText() : std::string();
      const std::string code_text = fault_code->toText();
      if (message_out) *message_out = dup_cstring(text);
      if (code_text == "Client") return 1;
      return clamp_to_int(std::strtol(code_text.c_str(), nullptr, 10));
    }
    case XmlRpc::kConnectFailed: format = kConnectFormat; break;
    case XmlRpc::kSendFailed: format = kSendFormat; break;
    case XmlRpc::kReceiveFailed: format = kReceiveFormat; break;
    default: return code;  // no message for other codes
  }
  // A REST reply that was not the JSON asked for names its HTTP status (and a redirect's
  // target) so that an administrator can tell a proxy's error page from Bugzilla's.
  const XmlRpcValue* status = result.find("httpStatus");
  if (message_out && status != nullptr && status->getType() == XmlRpcValue::TypeInt) {
    std::string text = std::string(text_or_empty(caption)) +
                       " failed to receive response from Bugzilla server (HTTP " +
                       status->toText();
    if (const XmlRpcValue* location = result.find("location")) {
      text += ": a redirect to " + location->toText() + ", which is not followed";
    } else {
      text += ": not a REST reply";
    }
    *message_out = dup_cstring(text + "). Check the connection's server_url and "
                                      "web_service_extension, and the web server's log.");
    return code;
  }
  if (message_out) *message_out = format_message(format, caption);
  return code;
}

char* format_message(const char* format, const char* argument) {
  const char* text = text_or_empty(argument);
  const size_t size = std::strlen(format) + std::strlen(text) + 1;
  char* message = new char[size];
  std::snprintf(message, size, format, text);
  return message;
}

char* reply_not_understood(const char* caption) {
  return format_message(kNotUnderstoodFormat, caption);
}

}  // namespace bugzilla
