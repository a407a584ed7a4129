#include "session_table.h"

#include "sha256.h"

namespace bugzilla {

std::string cookie_file_name(const std::string& server, const std::string& login) {
  return "cookies-" + sha256_of_parts({&server, &login}).substr(0, 32) + ".txt";
}

std::shared_ptr<Session> SessionTable::acquire(const std::string& directory,
                                               const std::string& server,
                                               const std::string& login,
                                               const std::string& secret, bool keeps_cookies) {
  const std::string kind = keeps_cookies ? "cookies" : "no cookies";
  const std::string key = sha256_of_parts({&server, &login, &secret, &kind});
  std::string cookie_file =
      keeps_cookies ? directory + cookie_file_name(server, login) : std::string();
  std::shared_ptr<Session> forgotten;  // its file is removed after the lock is let go
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto entry = entries_.begin(); entry != entries_.end(); ++entry) {
    if (entry->first == key) {
      entries_.splice(entries_.begin(), entries_, entry);
      return entries_.front().second;
    }
  }
  if (entries_.size() >= kCapacity) {
    forgotten = std::move(entries_.back().second);
    entries_.pop_back();
  }
  entries_.emplace_front(key, std::make_shared<Session>(std::move(cookie_file)));
  return entries_.front().second;
}

SessionTable::Entries SessionTable::release_all() {
  Entries taken;
  std::lock_guard<std::mutex> lock(mutex_);
  taken.swap(entries_);
  return taken;
}

size_t SessionTable::size() {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_.size();
}

SessionTable& session_table() {
  static SessionTable table;
  return table;
}

}  // namespace bugzilla
