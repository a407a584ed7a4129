#include "doctor/doctor_calls.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <vector>

namespace host {

bool CallResult::fault() const { return completed() && reply.hasMember("faultCode"); }

namespace {

std::string text_of(const XmlRpc::XmlRpcValue* value) {
  if (value == nullptr) return "";
  try {
    return value->toText();
  } catch (const XmlRpc::XmlRpcException&) {
    return "";
  }
}

}  // namespace

std::string CallResult::fault_code() const { return text_of(reply.find("faultCode")); }
std::string CallResult::fault_string() const { return text_of(reply.find("faultString")); }
std::string CallResult::member_text(const char* name) const { return text_of(reply.find(name)); }

CallResult call_method(XmlRpc::XmlRpcClient& client, const char* method,
                       const XmlRpc::XmlRpcValue& params) {
  CallResult call;
  try {
    call.code = client.execute(method, params, call.reply);
  } catch (const std::exception& error) {
    call.code = XmlRpc::kReceiveFailed;
    call.failure.detail = error.what();
    return call;
  }
  call.failure = client.lastFailure();
  return call;
}

std::string transport_problem(const CallResult& call) {
  std::string text;
  switch (call.code) {
    case XmlRpc::kConnectFailed: text = "could not connect"; break;
    case XmlRpc::kSendFailed: text = "could not send the request"; break;
    case XmlRpc::kReceiveFailed: text = "no usable answer"; break;
    default: text = "transport failure " + std::to_string(call.code); break;
  }
  const XmlRpc::TransportFailure& failure = call.failure;
  if (failure.http_status != 0) {
    text += " (HTTP " + std::to_string(failure.http_status);
    if (!failure.content_type.empty()) text += ", " + failure.content_type;
    text += ")";
  }
  if (!failure.detail.empty()) text += ": " + failure.detail;
  return text;
}

std::string fault_text(const CallResult& call) {
  return "fault " + call.fault_code() + ": " + call.fault_string();
}

ScratchCookieFile::ScratchCookieFile() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                        "/issue-plugin-host-doctor-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) != nullptr) {
    directory_ = buffer.data();
    file_ = directory_ + "/cookies.txt";
  }
  // Without a directory the calls simply keep no cookies; a cookie-only login then fails
  // at the product step, which says so.
}

ScratchCookieFile::~ScratchCookieFile() {
  if (directory_.empty()) return;
  std::remove(file_.c_str());
  rmdir(directory_.c_str());
}

}  // namespace host
