#if defined(_WIN32)

#include "test_platform.h"

#include <XmlRpc/XmlRpcClient.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

namespace test_support {

namespace {

// Helpers may take a while to start on a loaded machine; the launcher waits for them.
constexpr int kLauncherIdleSeconds = 60;

// The launcher's port, from the file it writes when it starts (a CTest fixture starts it).
int launcher_port() {
  std::ifstream in(TEST_LAUNCHER_STATE_DIR "/launcher.port");
  int port = 0;
  if (!(in >> port) || port <= 0) {
    throw std::runtime_error(
        "the process launcher is not running: start it with testing/process_launcher.py start "
        "--state-dir " TEST_LAUNCHER_STATE_DIR " (ctest does so itself)");
  }
  return port;
}

XmlRpc::XmlRpcValue call_launcher(const char* method, const XmlRpc::XmlRpcValue& params) {
  XmlRpc::XmlRpcClient client("127.0.0.1", launcher_port(), "/launcher");
  client.setIdleTimeout(kLauncherIdleSeconds);
  XmlRpc::XmlRpcValue result;
  const int code = client.execute(method, params, result);
  if (code != XmlRpc::kExchangeCompleted) {
    throw std::runtime_error(std::string("process launcher: ") + method + " failed: " +
                             client.lastFailure().detail);
  }
  if (const XmlRpc::XmlRpcValue* fault = result.find("faultString")) {
    throw std::runtime_error(std::string("process launcher: ") + fault->toText());
  }
  return result;
}

}  // namespace

struct HelperProcess::Running {
  int id = 0;
};

HelperProcess::HelperProcess(const std::string& script, const std::vector<std::string>& arguments,
                             int startup_seconds)
    : running_(new Running) {
  XmlRpc::XmlRpcValue params;
  params[0] = script;
  params[1].assertArray(0);
  for (size_t i = 0; i < arguments.size(); ++i) params[1][static_cast<int>(i)] = arguments[i];
  params[2] = startup_seconds;
  const XmlRpc::XmlRpcValue started = call_launcher("start", params);
  const XmlRpc::XmlRpcValue* id = started.find("id");
  const XmlRpc::XmlRpcValue* line = started.find("line");
  if (id == nullptr || line == nullptr) throw std::runtime_error("process launcher: bad reply");
  running_->id = std::stoi(id->toText());
  first_line_ = line->toText();
}

HelperProcess::~HelperProcess() {
  try {
    XmlRpc::XmlRpcValue params;
    params[0] = running_->id;
    call_launcher("stop", params);
  } catch (const std::exception&) {
    // The launcher ends every helper when it stops.
  }
}

int refused_port() { return call_launcher("refused_port", XmlRpc::XmlRpcValue()).asInt(); }

std::string make_temp_directory(const std::string& prefix) {
  static std::atomic<unsigned> counter{0};
#if defined(TEST_SHARED_TEMP_DIR)
  // Under wine, in a folder the Linux side sees by the same name (drive Z: is its root), so
  // that the python test servers can read fixture files the tests write.
  const std::filesystem::path base = std::filesystem::u8path(TEST_SHARED_TEMP_DIR);
  std::error_code ignored;
  std::filesystem::create_directories(base, ignored);
#else
  const std::filesystem::path base = std::filesystem::temp_directory_path();
#endif
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path candidate =
        base / (prefix + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(GetTickCount64()) + "-" + std::to_string(counter++));
    std::error_code error;
    if (std::filesystem::create_directory(candidate, error)) return candidate.generic_u8string();
  }
  throw std::runtime_error("cannot create a directory in " + base.u8string());
}

namespace {

// The current user's SID as text ("S-1-5-21-...").
std::string current_user_sid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return std::string();
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::string buffer(size, '\0');
  std::string sid;
  LPSTR text = nullptr;
  if (GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
      ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
    sid = text;
    LocalFree(text);
  }
  CloseHandle(token);
  return sid;
}

}  // namespace

bool owner_only(const std::string& path) {
  const std::wstring name = std::filesystem::u8path(path).wstring();
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(name.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  // Every entry that grants access names the user, or the system itself (wine reports the
  // Unix mode bits it keeps as entries for the user, SYSTEM and Everyone).
  const std::string user = current_user_sid();
  bool user_allowed = false;
  bool others_allowed = dacl == nullptr;  // no DACL at all lets everybody in
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace)) ||
        ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) {
      continue;
    }
    LPSTR sid = nullptr;
    if (!ConvertSidToStringSidA(&ace->SidStart, &sid)) continue;
    const std::string who = sid;
    LocalFree(sid);
    if (who == user) {
      user_allowed = true;
    } else if (who != "S-1-5-18") {
      others_allowed = true;
    }
  }
  LocalFree(descriptor);
  return user_allowed && !others_allowed;
}

void open_to_everybody(const std::string& path) {
  const std::wstring name = std::filesystem::u8path(path).wstring();
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;FA;;;OW)(A;;FR;;;WD)",
                                                            SDDL_REVISION_1, &descriptor,
                                                            nullptr)) {
    return;
  }
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
    SetNamedSecurityInfoW(const_cast<LPWSTR>(name.c_str()), SE_FILE_OBJECT,
                          DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
                          nullptr, nullptr, dacl, nullptr);
  }
  LocalFree(descriptor);
}

// _mkgmtime stops at 1970; the cookie dates go further back.
std::time_t utc_seconds(std::tm parts) {
  // Days since 1970-01-01 of a proleptic Gregorian date, in 400-year eras from March.
  const long long year = parts.tm_year + 1900LL - (parts.tm_mon < 2 ? 1 : 0);
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const long long year_of_era = year - era * 400;
  const long long month = parts.tm_mon + 1;
  const long long day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 +
                                parts.tm_mday - 1;
  const long long day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  const long long days = era * 146097 + day_of_era - 719468;
  return static_cast<std::time_t>(((days * 24 + parts.tm_hour) * 60 + parts.tm_min) * 60 +
                                  parts.tm_sec);
}

std::tm utc_parts(std::time_t seconds) {
  std::tm parts{};
  gmtime_s(&parts, &seconds);
  return parts;
}

}  // namespace test_support

#endif
