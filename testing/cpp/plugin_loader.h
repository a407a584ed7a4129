// Loads an issue-tracker plug-in the way the host does: by path (dlopen, LoadLibrary), its
// symbols by name.
#pragma once

#include "issue_plugin_exports.h"

#include <string>

namespace test_support {

// Every export of issue_plugin_exports.h, bound by name.
struct LoadedPlugin : IssuePluginExports {
  // Throws std::runtime_error on failure. An empty path binds the running program's own
  // exports, for a test that links the plug-in into itself.
  explicit LoadedPlugin(const std::string& path);
  ~LoadedPlugin();
  LoadedPlugin(const LoadedPlugin&) = delete;
  LoadedPlugin& operator=(const LoadedPlugin&) = delete;

  void* handle = nullptr;
};

}  // namespace test_support
