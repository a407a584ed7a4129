// Loads an issue-tracker plug-in the way the host does: by path (dlopen, LoadLibrary), its
// symbols by name.
#pragma once

#include "issue_plugin_api.h"

#include <string>

namespace test_support {

struct LoadedPlugin {
  // Throws std::runtime_error on failure. An empty path binds the running program's own
  // exports, for a test that links the plug-in into itself.
  explicit LoadedPlugin(const std::string& path);
  ~LoadedPlugin();
  LoadedPlugin(const LoadedPlugin&) = delete;
  LoadedPlugin& operator=(const LoadedPlugin&) = delete;

  void* handle = nullptr;

  const int32_t* APIVersion = nullptr;
  const char* PluginProvider = nullptr;
  const char* PluginNotes = nullptr;
  const char* PluginVersion = nullptr;
  const char* PluginUUID = nullptr;
  const char* PluginAuthors = nullptr;

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
};

}  // namespace test_support
