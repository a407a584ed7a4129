// Small helpers shared by the library's test files: a scratch directory, whole-file reads and
// writes, and date-time values (header only: each test file is its own executable).
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

namespace lib_test {

class ScratchDir {
public:
  ScratchDir() {
    char name[] = "/tmp/xmlrpc_test.XXXXXX";
    path_ = mkdtemp(name);
  }
  ~ScratchDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  std::string file(const char* name) const { return path_ + "/" + name; }

private:
  std::string path_;
};

inline bool exists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

inline std::string read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void write(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// The value type keeps the full year and the month counted from 1.
inline std::tm date_time(int year, int month, int day, int hour, int minute, int second) {
  std::tm time{};
  time.tm_year = year;
  time.tm_mon = month;
  time.tm_mday = day;
  time.tm_hour = hour;
  time.tm_min = minute;
  time.tm_sec = second;
  return time;
}

}  // namespace lib_test
