#include "plugin_state.h"

namespace bugzilla {

PluginState& plugin_state() {
  static PluginState state;
  return state;
}

std::mutex& plugin_state_mutex() {
  static std::mutex mutex;
  return mutex;
}

std::string connections_file_path() {
  std::lock_guard<std::mutex> lock(plugin_state_mutex());
  return plugin_state().connections_file_path;
}

std::string data_directory() {
  std::lock_guard<std::mutex> lock(plugin_state_mutex());
  return plugin_state().data_directory;
}

}  // namespace bugzilla
