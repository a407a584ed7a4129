// Arbitrary bytes as the session's cookie file: the expiry check answers 0 or 1, reads no
// further than the file, and a later clock never makes a cookie fresher.
#include "fuzz_check.h"
#include "cookie_expiry.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace {

// Clocks from before 1970 to far beyond 2038, in increasing order.
constexpr double kClocks[] = {-1e12, 0.0, 1.8e9, 2145916800.0, 4.1e9, 1e15};

std::FILE* open_bytes(const uint8_t* data, size_t size) {
  // An empty memory stream is not portable; an empty temporary file is.
  if (size == 0) return std::tmpfile();
  return fmemopen(const_cast<uint8_t*>(data), size, "rb");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::FILE* stream = open_bytes(data, size);
  if (!stream) return 0;
  int previous = 0;
  for (const double now : kClocks) {
    std::rewind(stream);
    const int expired = bugzilla::cookie_expired(stream, now);
    FUZZ_CHECK(expired == 0 || expired == 1);
    FUZZ_CHECK(expired >= previous);
    previous = expired;
  }
  std::fclose(stream);
  return 0;
}
