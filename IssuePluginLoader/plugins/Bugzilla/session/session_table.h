// The sessions of every user and server the plug-in serves: one per server, login and secret,
// at most kCapacity, the least recently used forgotten first.
#pragma once

#include "session.h"

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

namespace bugzilla {

class SessionTable {
public:
  static constexpr size_t kCapacity = 64;

  // The session of `login` with `secret` on `server`, made when there is none. A changed
  // password or key finds a session of its own, never the old one. With `keeps_cookies` its
  // cookie file lies in `directory` (which ends with a separator), named after the server and
  // the login only, so that nothing about the secret shows on disk.
  std::shared_ptr<Session> acquire(const std::string& directory, const std::string& server,
                                   const std::string& login, const std::string& secret,
                                   bool keeps_cookies);

  using Entries = std::list<std::pair<std::string, std::shared_ptr<Session>>>;

  // Forgets every session and hands them over (allocating nothing); each removes its cookie
  // file once the last export using it is done.
  Entries release_all();

  size_t size();

private:
  std::mutex mutex_;  // short: never held across a server call or a file operation
  Entries entries_;  // by key, the most recently used first
};

SessionTable& session_table();

// The name of the cookie file of `login` on `server`, without the directory.
std::string cookie_file_name(const std::string& server, const std::string& login);

}  // namespace bugzilla
