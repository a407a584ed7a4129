// Loads an issue-tracker plug-in as the version-control server does: the library by path,
// every export of issue_plugin_exports.h by name, Initialize with the data directory.
#pragma once

#include "issue_plugin_exports.h"
#include "platform/dynamic_library.h"

#include <stdexcept>
#include <string>

namespace host {

// The plug-in cannot be used: not loadable, missing an export, another API version.
class PluginLoadError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The exports are the members of IssuePluginExports (APIVersion, PluginProvider, ...,
// Initialize, GetIssueList, ...); the five descriptor texts are the arrays themselves.
class Plugin : public IssuePluginExports {
public:
  // Throws PluginLoadError. Refuses a plug-in whose KOVAIP_APIVersion is not the host's.
  explicit Plugin(const std::string& path);
  // Uninitialize (when initialised); the library is unloaded after it.
  ~Plugin();
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  // Initialize with the data directory. Returns false with the plug-in's message otherwise.
  bool initialize(const std::string& data_dir, std::string& message);

  const std::string& path() const { return path_; }

private:
  std::string path_;
  DynamicLibrary library_;
  bool initialized_ = false;
};

}  // namespace host
