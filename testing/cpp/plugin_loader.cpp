#include "plugin_loader.h"

#include <dlfcn.h>

#include <stdexcept>

namespace test_support {

LoadedPlugin::LoadedPlugin(const std::string& path) {
  // RTLD_LOCAL as a host loads it: the plug-in must not rely on symbols of the executable.
  handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) throw std::runtime_error(std::string("dlopen: ") + dlerror());
  try {
    bind_issue_plugin_exports(*this, [this](const char* name) {
      void* address = dlsym(handle, name);
      if (address == nullptr) throw std::runtime_error(std::string("missing export ") + name);
      return address;
    });
  } catch (...) {
    dlclose(handle);
    throw;
  }
}

LoadedPlugin::~LoadedPlugin() {
  if (handle != nullptr) dlclose(handle);
}

}  // namespace test_support
