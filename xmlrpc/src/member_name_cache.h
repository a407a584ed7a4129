// Struct member names shared between the structs of one reply: the members of one kind of
// struct come with the same few names over and over, and a shared name is stored once.
#pragma once

#include <XmlRpc/XmlRpcValue.h>

#include <cstddef>
#include <cstring>

namespace XmlRpc {
namespace detail {

// A small cache by length and first and last byte. Names seen once (a Bug.comments reply names
// its members by bug id) just take a slot over.
class MemberNameCache {
public:
  MemberName get(const char* text, size_t n) {
    const size_t slot = n == 0 ? 0
                               : (n * 31 + static_cast<unsigned char>(text[0]) * 7 +
                                  static_cast<unsigned char>(text[n - 1])) % kSlots;
    MemberName& cached = names_[slot];
    if (cached.size() == n && std::memcmp(cached.c_str(), text, n) == 0) return cached;
    cached = MemberName(std::string(text, n));
    return cached;
  }

private:
  static constexpr size_t kSlots = 61;
  MemberName names_[kSlots];
};

}  // namespace detail
}  // namespace XmlRpc
