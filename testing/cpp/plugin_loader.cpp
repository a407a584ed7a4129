#include "plugin_loader.h"

#include <dlfcn.h>

#include <stdexcept>

namespace test_support {

namespace {

void* symbol(void* handle, const char* name) {
  void* address = dlsym(handle, name);
  if (address == nullptr) throw std::runtime_error(std::string("missing export ") + name);
  return address;
}

template <class Fn>
void bind(void* handle, Fn& fn, const char* name) {
  fn = reinterpret_cast<Fn>(symbol(handle, name));
}

}  // namespace

LoadedPlugin::LoadedPlugin(const std::string& path) {
  // RTLD_LOCAL as a host loads it: the plug-in must not rely on symbols of the executable.
  handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) throw std::runtime_error(std::string("dlopen: ") + dlerror());
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
  if (handle != nullptr) dlclose(handle);
}

}  // namespace test_support
