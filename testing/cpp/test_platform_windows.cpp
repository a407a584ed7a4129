#if defined(_WIN32)

#include "test_platform.h"

#include <XmlRpc/XmlRpcClient.h>

#include <algorithm>
#include <atomic>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

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

namespace {

std::wstring wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0);
  std::wstring result(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size);
  return result;
}

// One argument as the C runtime's command-line parser reads it back: quoted, with the
// backslashes before a quote (or before the closing quote) doubled.
void append_argument(std::wstring& line, const std::wstring& argument) {
  if (!line.empty()) line += L' ';
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += argument;
    return;
  }
  line += L'"';
  size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

std::wstring upper(std::wstring name) {
  std::transform(name.begin(), name.end(), name.begin(),
                 [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
  return name;
}

// This process's environment with the options' changes, as CreateProcessW takes it: sorted
// "NAME=value" strings, names compared without regard to case, ending in an empty string.
std::wstring environment_block(const ProcessOptions& options) {
  std::map<std::wstring, std::wstring> entries;  // upper-case name -> "Name=value"
  if (wchar_t* current = GetEnvironmentStringsW()) {
    for (const wchar_t* at = current; *at != L'\0'; at += wcslen(at) + 1) {
      const std::wstring entry = at;
      const size_t equals = entry.find(L'=', 1);  // "=C:=C:\\..." entries start with '='
      if (equals != std::wstring::npos) entries[upper(entry.substr(0, equals))] = entry;
    }
    FreeEnvironmentStringsW(current);
  }
  for (const auto& name : options.unset) entries.erase(upper(wide(name)));
  for (const auto& [name, value] : options.env) {
    entries[upper(wide(name))] = wide(name) + L"=" + wide(value);
  }
  std::wstring block;
  for (const auto& entry : entries) block += entry.second + L'\0';
  block += L'\0';
  return block;
}

void read_all(HANDLE pipe, std::string* sink) {
  char buffer[4096];
  DWORD n = 0;
  while (ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0) sink->append(buffer, n);
}

// Read as text, the way a text-mode stream writes it back: CR LF as one line feed.
std::string as_text(const std::string& written) {
  std::string text;
  text.reserve(written.size());
  for (size_t i = 0; i < written.size(); ++i) {
    if (written[i] == '\r' && i + 1 < written.size() && written[i + 1] == '\n') continue;
    text += written[i];
  }
  return text;
}

}  // namespace

ProcessRun run_process(const std::string& program, const std::vector<std::string>& arguments,
                       const ProcessOptions& options) {
  ProcessRun run;
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE out_read = nullptr, out_write = nullptr, err_read = nullptr, err_write = nullptr;
  HANDLE in_read = nullptr, in_write = nullptr;
  const bool feed = !options.input.empty();
  bool ready = CreatePipe(&out_read, &out_write, &inheritable, 0) &&
               CreatePipe(&err_read, &err_write, &inheritable, 0);
  if (ready && feed) {
    ready = CreatePipe(&in_read, &in_write, &inheritable, 0);
  } else if (ready) {
    in_read = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                          OPEN_EXISTING, 0, nullptr);
    ready = in_read != INVALID_HANDLE_VALUE;
    if (!ready) in_read = nullptr;
  }
  // Only the child's ends are inherited.
  for (HANDLE own : {out_read, err_read, in_write}) {
    if (own != nullptr) SetHandleInformation(own, HANDLE_FLAG_INHERIT, 0);
  }

  std::wstring line;
  append_argument(line, wide(program));
  for (const auto& argument : arguments) append_argument(line, wide(argument));
  std::wstring environment = environment_block(options);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in_read;
  startup.hStdOutput = out_write;
  startup.hStdError = err_write;
  PROCESS_INFORMATION process{};
  const std::wstring application = wide(program);
  const bool started =
      ready && CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, TRUE,
                              CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, environment.data(),
                              nullptr, &startup, &process);
  // The child holds its own copies now; ours must close for the reads below to end.
  for (HANDLE child_end : {out_write, err_write, in_read}) {
    if (child_end != nullptr) CloseHandle(child_end);
  }
  if (started) {
    // Both outputs drain at once, so that neither fills its pipe and stalls the child.
    std::thread err_reader(read_all, err_read, &run.err);
    std::thread out_reader(read_all, out_read, &run.out);
    if (in_write != nullptr) {
      // Small inputs only (a password line): they fit the pipe's buffer.
      DWORD written = 0;
      WriteFile(in_write, options.input.data(), static_cast<DWORD>(options.input.size()),
                &written, nullptr);
      CloseHandle(in_write);
      in_write = nullptr;
    }
    if (WaitForSingleObject(process.hProcess,
                            static_cast<DWORD>(options.timeout_seconds) * 1000) == WAIT_TIMEOUT) {
      TerminateProcess(process.hProcess, 1);
      WaitForSingleObject(process.hProcess, INFINITE);
      run.timed_out = true;
    }
    out_reader.join();
    err_reader.join();
    run.out = as_text(run.out);
    run.err = as_text(run.err);
    DWORD code = 0;
    if (!run.timed_out && GetExitCodeProcess(process.hProcess, &code)) {
      run.status = static_cast<int>(code);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  for (HANDLE own : {out_read, err_read, in_write}) {
    if (own != nullptr) CloseHandle(own);
  }
  return run;
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
