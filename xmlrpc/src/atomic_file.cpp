#include "atomic_file.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#ifdef _WIN32
#include <filesystem>
#else
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>
#endif

namespace XmlRpc {
namespace detail {

bool read_whole_file(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

#ifndef _WIN32

bool replace_file_atomically(const std::string& path, const std::string& text) {
  std::vector<char> temp(path.begin(), path.end());
  const char suffix[] = ".XXXXXX";
  temp.insert(temp.end(), suffix, suffix + sizeof suffix);  // with the terminating NUL
  const int fd = mkstemp(temp.data());  // creates it with mode 0600
  if (fd < 0) return false;
  bool ok = true;
  size_t done = 0;
  while (ok && done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      ok = false;
    } else {
      done += static_cast<size_t>(n);
    }
  }
  ok = ok && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && std::rename(temp.data(), path.c_str()) == 0;
  if (!ok) std::remove(temp.data());
  return ok;
}

#else

bool replace_file_atomically(const std::string& path, const std::string& text) {
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!out.flush()) return false;
  }
  std::error_code error;
  std::filesystem::rename(temp, path, error);  // replaces an existing file
  if (!error) return true;
  std::filesystem::remove(temp, error);
  return false;
}

#endif

}  // namespace detail
}  // namespace XmlRpc
