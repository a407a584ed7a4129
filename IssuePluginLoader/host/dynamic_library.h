// Loading a shared library by path and finding its symbols: dlopen on POSIX, LoadLibrary on
// Windows. The one place of the host that knows which.
#pragma once

#include <string>

namespace host {

// The library's handle, or null with the system's reason in `reason`.
void* open_library(const std::string& path, std::string& reason);
// The address of an exported name, or null.
void* library_symbol(void* library, const char* name);
void close_library(void* library);

}  // namespace host
