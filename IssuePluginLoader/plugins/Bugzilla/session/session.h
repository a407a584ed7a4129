// One user's sign-in on one Bugzilla server: the login it was made for, the token and the file
// that keeps the server's cookies for it.
#pragma once

#include <mutex>
#include <string>

namespace bugzilla {

struct Session {
  explicit Session(std::string cookie_file) : cookie_file_path(std::move(cookie_file)) {}
  // The cookie file goes with the session: no sign-in outlives what the plug-in remembers.
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Held by one export at a time for its whole run, so that a user's calls never interleave
  // and the login reuse, the listing's fresh login and renewal work as for a single caller.
  std::mutex in_use;

  const std::string cookie_file_path;  // "" keeps no cookies (API-key connections)
  std::string login;   // the login of the last successful User.login
  std::string token;   // its "token" ("" when the server gave none: cookies only)
  // The server the login was made on (host, port and web service path joined), so that one
  // server's token never goes to another.
  std::string server;
};

}  // namespace bugzilla
