#include "dynamic_library.h"

#if defined(_WIN32)
#include <windows.h>

#include <filesystem>
#include <system_error>
#else
#include <dlfcn.h>
#endif

namespace host {

#if defined(_WIN32)

void* open_library(const std::string& path, std::string& reason) {
  std::wstring name;
  try {
    name = std::filesystem::u8path(path).make_preferred().wstring();  // UTF-8, backslashes
  } catch (const std::system_error&) {
    reason = "the path is not UTF-8";
    return nullptr;
  }
  HMODULE module = LoadLibraryExW(name.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module == nullptr) {
    const DWORD code = GetLastError();
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    reason = text != nullptr ? text : "error " + std::to_string(code);
    if (text != nullptr) LocalFree(text);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) reason.pop_back();
  }
  return reinterpret_cast<void*>(module);
}

void* library_symbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void close_library(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

#else

void* open_library(const std::string& path, std::string& reason) {
  // RTLD_LOCAL as the server loads it: the plug-in must bring every symbol it needs.
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* text = dlerror();
    reason = text != nullptr ? text : "unknown reason";
  }
  return library;
}

void* library_symbol(void* library, const char* name) {
  dlerror();
  return dlsym(library, name);
}

void close_library(void* library) { dlclose(library); }

#endif

}  // namespace host
