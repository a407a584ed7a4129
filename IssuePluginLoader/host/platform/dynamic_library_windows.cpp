#include "dynamic_library.h"

#include <windows.h>

#include <filesystem>
#include <system_error>

namespace host {

bool DynamicLibrary::open(const std::string& path, std::string& problem) {
  std::wstring name;
  try {
    name = std::filesystem::u8path(path).make_preferred().wstring();  // UTF-8, backslashes
  } catch (const std::system_error&) {
    problem = "the path is not UTF-8";
    return false;
  }
  // The plug-in's own folder is searched for the DLLs it imports (XmlRpc.dll).
  handle_ = LoadLibraryExW(name.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (handle_ != nullptr) return true;
  const DWORD code = GetLastError();
  char* text = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                     FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
  problem = text != nullptr ? text : "error " + std::to_string(code);
  if (text != nullptr) LocalFree(text);
  while (!problem.empty() && (problem.back() == '\n' || problem.back() == '\r')) {
    problem.pop_back();
  }
  return false;
}

DynamicLibrary::~DynamicLibrary() {
  if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
}

void* DynamicLibrary::symbol(const char* name) const {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

}  // namespace host
