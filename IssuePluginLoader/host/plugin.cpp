#include "plugin.h"

#include "dynamic_library.h"
#include "plugin_results.h"

namespace host {

Plugin::Plugin(const std::string& path) : path_(path) {
  std::string reason;
  handle_ = open_library(path, reason);
  if (handle_ == nullptr) {
    throw PluginLoadError("cannot load the plug-in " + path + ": " + reason);
  }
  try {
    api_version = *static_cast<const int32_t*>(symbol("KOVAIP_APIVersion"));
    if (api_version != ISSUE_PLUGIN_API_VERSION) {
      throw PluginLoadError("the plug-in " + path + " implements API version " +
                            std::to_string(api_version) + "; this host supports version " +
                            std::to_string(ISSUE_PLUGIN_API_VERSION) + " only");
    }
    provider = static_cast<const char*>(symbol("KOVAIP_PluginProvider"));
    notes = static_cast<const char*>(symbol("KOVAIP_PluginNotes"));
    version = static_cast<const char*>(symbol("KOVAIP_PluginVersion"));
    uuid = static_cast<const char*>(symbol("KOVAIP_PluginUUID"));
    authors = static_cast<const char*>(symbol("KOVAIP_PluginAuthors"));
    bind(Initialize, "Initialize");
    bind(Uninitialize, "Uninitialize");
    bind(FreeString, "FreeString");
    bind(FreeStringList, "FreeStringList");
    bind(FreeConnectionList, "FreeConnectionList");
    bind(FreeCustomFieldsList, "FreeCustomFieldsList");
    bind(FreeIssue, "FreeIssue");
    bind(FreeIssueList, "FreeIssueList");
    bind(FreeFailedAttachmentList, "FreeFailedAttachmentList");
    bind(GetConnectionList, "GetConnectionList");
    bind(GetFilterList, "GetFilterList");
    bind(GetIssueList, "GetIssueList");
    bind(GetIssueDetails, "GetIssueDetails");
    bind(GetFixWorkflow, "GetFixWorkflow");
    bind(ValidateWorkflow, "ValidateWorkflow");
    bind(AttachToIssues, "AttachToIssues");
  } catch (...) {
    close_library(handle_);
    throw;
  }
}

Plugin::~Plugin() {
  // Uninitialize reports -1 when there was no cookie file; that is not a failure here.
  if (initialized_) Uninitialize();
  close_library(handle_);
}

void* Plugin::symbol(const char* name) const {
  void* address = library_symbol(handle_, name);
  if (address == nullptr) {
    throw PluginLoadError("the library " + path_ + " is not an issue-tracker plug-in: " +
                          "it does not export " + name);
  }
  return address;
}

bool Plugin::initialize(const std::string& data_dir, std::string& message) {
  PluginText error(*this);
  const int32_t code = Initialize(data_dir.c_str(), error.out());
  if (code != 0) {
    message = error.text_or("Initialize failed with code " + std::to_string(code));
    return false;
  }
  initialized_ = true;
  return true;
}

}  // namespace host
