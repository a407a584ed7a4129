// Loads an issue-tracker plug-in as the version-control server does: by path (dlopen or
// LoadLibrary, see dynamic_library.h), the six descriptor symbols, every export by name,
// Initialize with the data directory.
#pragma once

#include "issue_plugin_api.h"

#include <stdexcept>
#include <string>

namespace host {

// The plug-in cannot be used: not loadable, missing an export, another API version.
class PluginLoadError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class Plugin {
public:
  // Throws PluginLoadError. Refuses a plug-in whose KOVAIP_APIVersion is not the host's.
  explicit Plugin(const std::string& path);
  // Uninitialize (when initialised), then unload.
  ~Plugin();
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  // Initialize with the data directory. Returns false with the plug-in's message otherwise.
  bool initialize(const std::string& data_dir, std::string& message);

  const std::string& path() const { return path_; }

  int32_t api_version = 0;
  // The five descriptor texts are character arrays: the symbol's address is the text.
  const char* provider = nullptr;
  const char* notes = nullptr;
  const char* version = nullptr;
  const char* uuid = nullptr;
  const char* authors = nullptr;

  InitializeFn Initialize = nullptr;
  UninitializeFn Uninitialize = nullptr;
  FreeStringFn FreeString = nullptr;
  FreeStringListFn FreeStringList = nullptr;
  FreeConnectionListFn FreeConnectionList = nullptr;
  FreeCustomFieldsListFn FreeCustomFieldsList = nullptr;
  FreeIssueFn FreeIssue = nullptr;
  FreeIssueListFn FreeIssueList = nullptr;
  FreeFailedAttachmentListFn FreeFailedAttachmentList = nullptr;
  GetConnectionListFn GetConnectionList = nullptr;
  GetFilterListFn GetFilterList = nullptr;
  GetIssueListFn GetIssueList = nullptr;
  GetIssueDetailsFn GetIssueDetails = nullptr;
  GetFixWorkflowFn GetFixWorkflow = nullptr;
  ValidateWorkflowFn ValidateWorkflow = nullptr;
  AttachToIssuesFn AttachToIssues = nullptr;

private:
  void* symbol(const char* name) const;
  template <class Fn>
  void bind(Fn& fn, const char* name) {
    fn = reinterpret_cast<Fn>(symbol(name));
  }

  std::string path_;
  void* handle_ = nullptr;
  bool initialized_ = false;
};

}  // namespace host
