#include "plugin_location.h"

#include <filesystem>
#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#endif

// The build-tree plug-in and the installed plug-in's path relative to the installed host's
// directory both come from CMake, which knows the install layout of each platform.
#ifndef DEFAULT_PLUGIN_PATH
#define DEFAULT_PLUGIN_PATH "libBugzilla.so"
#endif
#ifndef INSTALLED_PLUGIN_RELATIVE_PATH
#define INSTALLED_PLUGIN_RELATIVE_PATH ""
#endif

namespace host {
namespace {

namespace fs = std::filesystem;

// The directory of the running executable, symbolic links resolved; empty when unknown.
// The one platform call of this file.
fs::path executable_directory() {
#if defined(_WIN32)
  wchar_t name[32768];
  const DWORD length = GetModuleFileNameW(nullptr, name, sizeof name / sizeof name[0]);
  if (length != 0 && length < sizeof name / sizeof name[0]) return fs::path(name).parent_path();
#elif defined(__linux__)
  std::error_code error;
  const fs::path executable = fs::read_symlink("/proc/self/exe", error);
  if (!error) return executable.parent_path();
#endif
  return {};
}

}  // namespace

std::string default_plugin_path() {
  const fs::path relative(INSTALLED_PLUGIN_RELATIVE_PATH);
  const fs::path directory = executable_directory();
  if (!relative.empty() && !directory.empty()) {
    const fs::path installed = (directory / relative).lexically_normal();
    std::error_code error;
    if (fs::is_regular_file(installed, error)) return installed.u8string();
  }
  return DEFAULT_PLUGIN_PATH;
}

}  // namespace host
