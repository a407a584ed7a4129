#include "doctor/doctor_calls.h"

#include "bugzilla_call.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <random>
#include <system_error>
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
                       const XmlRpc::XmlRpcValue& params, bugzilla::WebService service) {
  CallResult call;
  try {
    call.code = bugzilla::call_bugzilla(client, service, method, params, call.reply);
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
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path base = fs::temp_directory_path(error);  // TMPDIR, TMP or TEMP, or /tmp
  if (error) return;
  std::mt19937_64 random(static_cast<uint64_t>(
      std::chrono::steady_clock::now().time_since_epoch().count()));
  for (int attempt = 0; attempt < 20 && directory_.empty(); ++attempt) {
    const fs::path candidate = base / ("issue-plugin-host-doctor-" + std::to_string(random()));
    // create_directory fails on an existing one: the folder is ours alone.
    if (fs::create_directory(candidate, error)) {
      fs::permissions(candidate, fs::perms::owner_all, error);
      directory_ = candidate.u8string();
      file_ = (candidate / "cookies.txt").u8string();
    }
  }
  // Without a directory the calls simply keep no cookies; a cookie-only login then fails
  // at the product step, which says so.
}

ScratchCookieFile::~ScratchCookieFile() {
  if (directory_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(std::filesystem::u8path(directory_), ignored);
}

}  // namespace host
