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

void* symbol(void* handle, const char* name) {
  void* address = find_symbol(handle, name);
  if (address == nullptr) throw std::runtime_error(std::string("missing export ") + name);
  return address;
}

template <class Fn>
void bind(void* handle, Fn& fn, const char* name) {
  fn = reinterpret_cast<Fn>(symbol(handle, name));
}

}  // namespace

LoadedPlugin::LoadedPlugin(const std::string& path) {
  handle = open_library(path);
  APIVersion = static_cast<const int32_t*>(symbol(handle, "KOVAIP_APIVersion"));
  PluginProvider = static_cast<const char*>(symbol(handle, "KOVAIP_PluginProvider"));
  PluginNotes = static_cast<const char*>(symbol(handle, "KOVAIP_PluginNotes"));
  PluginVersion = static_cast<const char*>(symbol(handle, "KOVAIP_PluginVersion"));
  PluginUUID = static_cast<const char*>(symbol(handle, "KOVAIP_PluginUUID"));
  PluginAuthors = static_cast<const char*>(symbol(handle, "KOVAIP_PluginAuthors"));
  bind(handle, Initialize, "Initialize");
  bind(handle, Uninitialize, "Uninitialize");
  bind(handle, FreeString, "FreeString");
  bind(handle, FreeStringList, "FreeStringList");
  bind(handle, FreeConnectionList, "FreeConnectionList");
  bind(handle, FreeCustomFieldsList, "FreeCustomFieldsList");
  bind(handle, FreeIssue, "FreeIssue");
  bind(handle, FreeIssueList, "FreeIssueList");
  bind(handle, FreeFailedAttachmentList, "FreeFailedAttachmentList");
  bind(handle, GetConnectionList, "GetConnectionList");
  bind(handle, GetFilterList, "GetFilterList");
  bind(handle, GetIssueList, "GetIssueList");
  bind(handle, GetIssueDetails, "GetIssueDetails");
  bind(handle, GetFixWorkflow, "GetFixWorkflow");
  bind(handle, ValidateWorkflow, "ValidateWorkflow");
  bind(handle, AttachToIssues, "AttachToIssues");
}

LoadedPlugin::~LoadedPlugin() {
  if (handle != nullptr) close_library(handle);
}

}  // namespace test_support
