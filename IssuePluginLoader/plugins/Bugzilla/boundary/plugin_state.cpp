#include "plugin_state.h"

namespace bugzilla {

PluginState& plugin_state() {
  static PluginState state;
  return state;
}

std::mutex& session_mutex() {
  static std::mutex mutex;
  return mutex;
}

std::mutex& paths_mutex() {
  static std::mutex mutex;
  return mutex;
}

std::string connections_file_path() {
  std::lock_guard<std::mutex> lock(paths_mutex());
  return plugin_state().connections_file_path;
}

}  // namespace bugzilla
