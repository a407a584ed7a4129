// Whole-file reads and crash-safe rewrites of small private files (the cookie file).
#pragma once

#include <string>

namespace XmlRpc {
namespace detail {

// The file's bytes; false when it does not exist or cannot be read.
bool read_whole_file(const std::string& path, std::string& text);

// Writes a temporary file beside `path`, readable and writable by the owner only, and renames
// it over `path`, so that readers see the old text or the new one, never a part.
bool replace_file_atomically(const std::string& path, const std::string& text);

}  // namespace detail
}  // namespace XmlRpc
