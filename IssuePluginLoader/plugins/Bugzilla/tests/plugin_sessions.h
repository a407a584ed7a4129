// For the unit suites that call the plug-in's internals: a fresh plug-in state in a data
// directory, and the session the plug-in keeps for a user on a test server.
#pragma once

#include "plugin_state.h"
#include "server_calls.h"
#include "session_table.h"
#include "test_server.h"

#include <memory>
#include <mutex>
#include <string>

namespace test_support {

// As a fresh Initialize with `directory` would leave it: no session, no confirmed key.
inline void reset_plugin_state(const TempDir& directory) {
  {
    std::lock_guard<std::mutex> lock(bugzilla::plugin_state_mutex());
    bugzilla::PluginState& state = bugzilla::plugin_state();
    state = bugzilla::PluginState();
    state.data_directory = directory.path() + "/";
    state.connections_file_path = directory.file("BugzillaConnections.txt");
  }
  bugzilla::session_table().release_all();
}

// The password session of `login` on `server` through connection_for(): found, or made empty.
inline std::shared_ptr<bugzilla::Session> plugin_session(const TestServer& server,
                                                         const std::string& login,
                                                         const std::string& password) {
  XmlRpc::XmlRpcClient client("http://127.0.0.1", server.port(), server.uri().c_str());
  return bugzilla::session_table().acquire(bugzilla::data_directory(),
                                           bugzilla::session_server_of(client), login,
                                           password, true);
}

}  // namespace test_support
