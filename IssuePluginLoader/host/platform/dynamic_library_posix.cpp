#include "dynamic_library.h"

#include <dlfcn.h>

namespace host {

bool DynamicLibrary::open(const std::string& path, std::string& problem) {
  // RTLD_LOCAL as the server loads it: the plug-in must bring every symbol it needs.
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ != nullptr) return true;
  const char* reason = dlerror();
  problem = reason != nullptr ? reason : "unknown reason";
  return false;
}

DynamicLibrary::~DynamicLibrary() {
  if (handle_ != nullptr) dlclose(handle_);
}

void* DynamicLibrary::symbol(const char* name) const {
  dlerror();
  return dlsym(handle_, name);
}

}  // namespace host
