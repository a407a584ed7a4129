// The plug-in's process-wide state: the two file paths and the Bugzilla login session.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace bugzilla {

struct PluginState {
  std::string cookie_file_path;
  std::string session_token;
  std::string connections_file_path;
  std::string session_login;
  // The server the session was made for (server_url, port and web service path joined), so
  // that one server's token never goes to another.
  std::string session_server;
  // Digests of the server, login and API key combinations that User.valid_login confirmed
  // (newest last, a few dozen at most), so that each is asked once and no key is kept.
  std::vector<std::string> confirmed_api_keys;
};

PluginState& plugin_state();

// Held for the whole run of every export that makes server calls, and by Initialize and
// Uninitialize: the session is process-wide, so calls of different users must not interleave.
std::mutex& session_mutex();

// Guards the two paths for exports that make no server call and so do not take the session
// lock; Initialize holds both.
std::mutex& paths_mutex();

// The connections file path, read under paths_mutex.
std::string connections_file_path();

}  // namespace bugzilla
