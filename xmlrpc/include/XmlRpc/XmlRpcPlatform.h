// The platform services that the library and the plug-in share, each in one place: file names
// given as UTF-8 text (Windows opens them through its wide-character calls, whatever the
// system's code page) and the current time. Header-only: nothing here crosses the DLL boundary.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>

namespace XmlRpc {
namespace platform {

// A UTF-8 file name in the form the file streams and std::filesystem take. On Windows a name
// that is not UTF-8 throws std::system_error.
inline std::filesystem::path file_path(const std::string& utf8) {
#if defined(_WIN32)
  return std::filesystem::u8path(utf8);
#else
  return std::filesystem::path(utf8);  // the bytes as given
#endif
}

// std::fopen for a UTF-8 name; null when it cannot be opened (or, on Windows, is not UTF-8).
// Running out of memory is not "no such file": std::bad_alloc goes to the caller.
inline std::FILE* open_file(const std::string& utf8, const char* mode) {
#if defined(_WIN32)
  try {
    const std::wstring wide_mode(mode, mode + std::char_traits<char>::length(mode));
    return _wfopen(file_path(utf8).c_str(), wide_mode.c_str());
  } catch (const std::system_error&) {
    return nullptr;
  }
#else
  return std::fopen(utf8.c_str(), mode);
#endif
}

// Deletes a file by its UTF-8 name; false when it cannot (or does not exist). std::bad_alloc
// goes to the caller.
inline bool remove_file(const std::string& utf8) {
#if defined(_WIN32)
  try {
    return _wremove(file_path(utf8).c_str()) == 0;
  } catch (const std::system_error&) {
    return false;
  }
#else
  return std::remove(utf8.c_str()) == 0;
#endif
}

// Seconds since 1970, 64 bits wide on every platform.
inline int64_t now_seconds() {
#if defined(_WIN32)
  return static_cast<int64_t>(_time64(nullptr));
#else
  return static_cast<int64_t>(std::time(nullptr));
#endif
}

}  // namespace platform
}  // namespace XmlRpc
