// Loading a shared library and finding its symbols: the host's one seam to the platform's
// loader (dlopen here; LoadLibrary on Windows).
#pragma once

#include <string>

namespace host {

class DynamicLibrary {
public:
  // Loads without exporting the library's symbols to others, as the server loads a plug-in.
  // False with the loader's reason in `problem`.
  bool open(const std::string& path, std::string& problem);
  ~DynamicLibrary();
  DynamicLibrary() = default;
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // The symbol's address, or null when the library has no such symbol.
  void* symbol(const char* name) const;

private:
  void* handle_ = nullptr;
};

}  // namespace host
