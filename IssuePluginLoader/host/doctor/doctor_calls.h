// Doctor's Bugzilla calls, made on the library's client directly so that the transport's
// detailed failure cause (HTTP status, content type, libcurl's reason) can be read and explained.
#pragma once

#include "web_service.h"

#include <XmlRpc/XmlRpcClient.h>
#include <XmlRpc/XmlRpcValue.h>

#include <string>

namespace host {

struct CallResult {
  int code = XmlRpc::kExchangeCompleted;
  XmlRpc::XmlRpcValue reply;
  XmlRpc::TransportFailure failure;

  bool completed() const { return code == XmlRpc::kExchangeCompleted; }
  bool fault() const;
  bool succeeded() const { return completed() && !fault(); }
  std::string fault_code() const;
  std::string fault_string() const;
  // A text member of the reply, "" when absent or not text.
  std::string member_text(const char* name) const;
};

// One Bugzilla method over the connection's web service, as the plug-in maps it.
CallResult call_method(XmlRpc::XmlRpcClient& client, const char* method,
                       const XmlRpc::XmlRpcValue& params,
                       bugzilla::WebService service = bugzilla::WebService::XmlRpc);

// "could not connect (HTTP 500, text/html): <libcurl's reason>" and the like.
std::string transport_problem(const CallResult& call);
// "fault 300: The username or password you entered is not valid."
std::string fault_text(const CallResult& call);

// A directory of its own for the session cookie of doctor's calls, removed at the end, so
// that the plug-in's cookies.txt is neither read nor replaced.
class ScratchCookieFile {
public:
  ScratchCookieFile();
  ~ScratchCookieFile();
  ScratchCookieFile(const ScratchCookieFile&) = delete;
  ScratchCookieFile& operator=(const ScratchCookieFile&) = delete;
  const std::string& path() const { return file_; }

private:
  std::string directory_;
  std::string file_;
};

}  // namespace host
