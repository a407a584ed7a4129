// The plug-in's process-wide state: the data directory's paths and the API keys confirmed so
// far. Sessions are per user and server (session/session_table.h).
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace bugzilla {

struct PluginState {
  // The data directory followed by the path separator ("" before Initialize): the sessions'
  // cookie files go there.
  std::string data_directory;
  std::string connections_file_path;
  // Digests of the server, login and API key combinations that the server confirmed (newest
  // last, a few dozen at most), so that each is asked once and no key is kept.
  std::vector<std::string> confirmed_api_keys;
  // REST servers known to read credentials from the X-BUGZILLA-* headers, and those known to
  // ignore them (a few dozen each at most, newest last), so that each server is asked once.
  std::vector<std::string> rest_header_servers;
  std::vector<std::string> rest_parameter_servers;
};

// The state, to be read or written only while plugin_state_mutex() is held. The lock is short:
// it is never held across a server call, so one user's calls never wait for another's.
PluginState& plugin_state();
std::mutex& plugin_state_mutex();

// Copies taken under the lock.
std::string connections_file_path();
std::string data_directory();

}  // namespace bugzilla
