#include "atomic_file.h"

#include <XmlRpc/XmlRpcPlatform.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <atomic>
#else
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>
#endif

namespace XmlRpc {
namespace detail {

bool read_whole_file(const std::string& path, std::string& text) {
  std::ifstream in;
  try {
    in.open(platform::file_path(path), std::ios::binary);
  } catch (const std::system_error&) {
    return false;  // a name that is not UTF-8, on Windows
  }
  if (!in) return false;
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

#ifndef _WIN32

bool replace_file_atomically(const std::string& path, const std::string& text) {
  std::vector<char> temp(path.begin(), path.end());
  const char suffix[] = ".XXXXXX";
  temp.insert(temp.end(), suffix, suffix + sizeof suffix);  // with the terminating NUL
  const int fd = mkstemp(temp.data());  // creates it with mode 0600
  if (fd < 0) return false;
  bool ok = true;
  size_t done = 0;
  while (ok && done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      ok = false;
    } else {
      done += static_cast<size_t>(n);
    }
  }
  ok = ok && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && std::rename(temp.data(), path.c_str()) == 0;
  if (!ok) std::remove(temp.data());
  return ok;
}

#else

namespace {

// A DACL that lets only the current user in: protected, so nothing is inherited from the
// folder. Administrators can still take ownership; that is as far as Windows goes.
struct OwnerOnlySecurity {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};

  OwnerOnlySecurity() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    LPWSTR sid_text = nullptr;
    if (size != 0 &&
        GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid,
                               &sid_text)) {
      const std::wstring sddl = L"D:P(A;;FA;;;" + std::wstring(sid_text) + L")";
      LocalFree(sid_text);
      if (ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                               &descriptor, nullptr)) {
        attributes.lpSecurityDescriptor = descriptor;
      }
    }
    CloseHandle(token);
  }
  ~OwnerOnlySecurity() {
    if (descriptor != nullptr) LocalFree(descriptor);
  }
  OwnerOnlySecurity(const OwnerOnlySecurity&) = delete;
  OwnerOnlySecurity& operator=(const OwnerOnlySecurity&) = delete;
  bool ready() const { return descriptor != nullptr; }
};

}  // namespace

bool replace_file_atomically(const std::string& path, const std::string& text) {
  std::wstring target;
  try {
    target = platform::file_path(path).wstring();
  } catch (const std::system_error&) {
    return false;  // not UTF-8
  }
  OwnerOnlySecurity security;
  if (!security.ready()) return false;  // never a cookie file that others may read
  static std::atomic<unsigned> counter{0};
  const std::wstring temp = target + L"." + std::to_wstring(GetCurrentProcessId()) + L"." +
                            std::to_wstring(counter++) + L".tmp";
  HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, &security.attributes, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  size_t done = 0;
  while (ok && done < text.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size() - done, 1u << 20));
    DWORD written = 0;
    ok = WriteFile(file, text.data() + done, chunk, &written, nullptr) && written != 0;
    done += written;
  }
  ok = ok && FlushFileBuffers(file);
  ok = CloseHandle(file) && ok;
  // The renamed file keeps its own security descriptor.
  ok = ok && MoveFileExW(temp.c_str(), target.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!ok) DeleteFileW(temp.c_str());
  return ok;
}

#endif

}  // namespace detail
}  // namespace XmlRpc
