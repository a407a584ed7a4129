// SHA-256, so that a secret can be recognised again without being kept.
#pragma once

#include <string>

namespace bugzilla {

// The 64 lower-case hexadecimal digits of the SHA-256 digest of `data`.
std::string sha256_hex(const std::string& data);

}  // namespace bugzilla
