// Small helpers shared by the library's test files: a scratch directory, whole-file reads and
// writes, and date-time values (header only: each test file is its own executable).
#pragma once

#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

#include "test_platform.h"

namespace lib_test {

class ScratchDir {
public:
  ScratchDir() : path_(test_support::make_temp_directory("xmlrpc_test.")) {}
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string file(const char* name) const { return path_ + "/" + name; }

private:
  std::string path_;
};

inline bool exists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::exists(path, ignored);
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
