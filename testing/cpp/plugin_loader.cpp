#include "plugin_loader.h"

#include <stdexcept>

#if defined(_WIN32)
#include <windows.h>

#include <filesystem>
#else
#include <dlfcn.h>
#endif

namespace test_support {

namespace {

#if defined(_WIN32)

void* open_library(const std::string& path) {
  if (path.empty()) return reinterpret_cast<void*>(GetModuleHandleW(nullptr));
  // LoadLibrary wants backslashes; the name is UTF-8.
  const std::wstring name = std::filesystem::u8path(path).make_preferred().wstring();
  HMODULE module = LoadLibraryW(name.c_str());
  if (module == nullptr) {
    throw std::runtime_error("LoadLibrary " + path + ": error " + std::to_string(GetLastError()));
  }
  return reinterpret_cast<void*>(module);
}

void* find_symbol(void* handle, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

void close_library(void* handle) {
  if (handle != reinterpret_cast<void*>(GetModuleHandleW(nullptr))) {
    FreeLibrary(static_cast<HMODULE>(handle));
  }
}

#else

void* open_library(const std::string& path) {
  // RTLD_LOCAL as a host loads it: the plug-in must not rely on symbols of the executable.
  void* handle = dlopen(path.empty() ? nullptr : path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) throw std::runtime_error(std::string("dlopen: ") + dlerror());
  return handle;
}

void* find_symbol(void* handle, const char* name) { return dlsym(handle, name); }

void close_library(void* handle) { dlclose(handle); }

#endif

}  // namespace

LoadedPlugin::LoadedPlugin(const std::string& path) {
  handle = open_library(path);
  try {
    bind_issue_plugin_exports(*this, [this](const char* name) {
      void* address = find_symbol(handle, name);
      if (address == nullptr) throw std::runtime_error(std::string("missing export ") + name);
      return address;
    });
  } catch (...) {
    close_library(handle);
    throw;
  }
}

LoadedPlugin::~LoadedPlugin() {
  if (handle != nullptr) close_library(handle);
}

}  // namespace test_support
