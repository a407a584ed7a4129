#include "plugin.h"

#include "plugin_outputs.h"

namespace host {

Plugin::Plugin(const std::string& path) : path_(path) {
  std::string problem;
  if (!library_.open(path, problem)) {
    throw PluginLoadError("cannot load the plug-in " + path + ": " + problem);
  }
  // The version first: a plug-in of another API version may lack some of this one's exports.
  const auto* api_version = static_cast<const int32_t*>(library_.symbol("KOVAIP_APIVersion"));
  if (api_version != nullptr && *api_version != ISSUE_PLUGIN_API_VERSION) {
    throw PluginLoadError("the plug-in " + path + " implements API version " +
                          std::to_string(*api_version) + "; this host supports version " +
                          std::to_string(ISSUE_PLUGIN_API_VERSION) + " only");
  }
  bind_issue_plugin_exports(*this, [&](const char* name) {
    void* address = library_.symbol(name);
    if (address == nullptr) {
      throw PluginLoadError("the library " + path + " is not an issue-tracker plug-in: " +
                            "it does not export " + name);
    }
    return address;
  });
}

Plugin::~Plugin() {
  // Uninitialize reports -1 when there was no cookie file; that is not a failure here.
  if (initialized_) Uninitialize();
}

bool Plugin::initialize(const std::string& data_dir, std::string& message) {
  PluginText error(*this);
  const int32_t code = Initialize(data_dir.c_str(), error.out());
  if (code != ISSUE_PLUGIN_OK) {
    message = error.text_or("Initialize failed with code " + std::to_string(code));
    return false;
  }
  initialized_ = true;
  return true;
}

}  // namespace host
