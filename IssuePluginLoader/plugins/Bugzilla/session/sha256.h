// SHA-256, so that a secret can be recognised again without being kept.
#pragma once

#include <initializer_list>
#include <string>

namespace bugzilla {

// The 64 lower-case hexadecimal digits of the SHA-256 digest of `data`.
std::string sha256_hex(const std::string& data);

// sha256_hex of the parts, each led by its length, so that no two lists of parts join into the
// same text ("ab", "c" and "a", "bc" differ).
std::string sha256_of_parts(std::initializer_list<const std::string*> parts);

}  // namespace bugzilla
