// Counts the sessions' cookie files that the plug-in keeps in a data directory.
#pragma once

#include "test_server.h"

#include <filesystem>
#include <string>

namespace test_support {

// The sessions' cookie files in `directory` (cookies-*.txt).
inline int session_cookie_files(const TempDir& directory) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(directory.path())) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("cookies-", 0) == 0) ++count;
  }
  return count;
}

}  // namespace test_support
