// Loads an issue-tracker plug-in the way the host does: dlopen by path, symbols by name.
#pragma once

#include "issue_plugin_exports.h"

#include <string>

namespace test_support {

// Every export of issue_plugin_exports.h, bound by name.
struct LoadedPlugin : IssuePluginExports {
  explicit LoadedPlugin(const std::string& path);  // throws std::runtime_error on failure
  ~LoadedPlugin();
  LoadedPlugin(const LoadedPlugin&) = delete;
  LoadedPlugin& operator=(const LoadedPlugin&) = delete;

  void* handle = nullptr;
};

}  // namespace test_support
