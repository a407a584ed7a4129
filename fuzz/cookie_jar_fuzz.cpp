// Arbitrary text as the client's cookie file, and each of its lines as a Set-Cookie value:
// what is kept reads back the same, a stored line is readable again, and no cookie header
// ever carries a line break or an expired or foreign cookie.
#include "cookie_jar.h"
#include "fuzz_check.h"

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using XmlRpc::detail::Cookie;

namespace {

constexpr int64_t kNow = 1800000000;         // 2027
constexpr int64_t kLastDate = 253402300799;  // 9999-12-31 23:59:59

const char* const kHosts[] = {"bugzilla.example.com", "EXAMPLE.COM", "a.b.example.com",
                              "127.0.0.1", "localhost"};
const char* const kPaths[] = {"/", "/bugzilla/xmlrpc.cgi", "/bugzilla", "", "xmlrpc.cgi"};

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(begin, end - begin));
    begin = end + 1;
  }
  return lines;
}

bool same_cookie(const Cookie& a, const Cookie& b) {
  return a.line == b.line && a.name == b.name && a.value == b.value && a.domain == b.domain &&
         a.path == b.path && a.secure == b.secure && a.has_expiry == b.has_expiry &&
         a.expires == b.expires;
}

void check_header(const std::vector<Cookie>& jar, const std::string& host,
                  const std::string& path) {
  for (const bool secure : {false, true}) {
    const std::string header = XmlRpc::detail::cookie_header(jar, host, path, secure, kNow);
    FUZZ_CHECK(header.find_first_of("\r\n") == std::string::npos);
    size_t expected = 0;
    for (const Cookie& cookie : jar) {
      if (cookie.expired(kNow) || (cookie.secure && !secure)) continue;
      if (!XmlRpc::detail::domain_matches(host, cookie.domain)) continue;
      if (!XmlRpc::detail::path_matches(path, cookie.path)) continue;
      ++expected;
    }
    size_t pairs = header.empty() ? 0 : 1;
    for (size_t at = header.find("; "); at != std::string::npos; at = header.find("; ", at + 2))
      ++pairs;
    // Names and values never hold a ';', so the pairs can be counted by their separators.
    FUZZ_CHECK(pairs == expected);
  }
}

void check_date(int64_t seconds) {
  const std::string text = XmlRpc::detail::format_cookie_date(seconds);
  FUZZ_CHECK(!text.empty() && text.size() < 64);
  // Years 1970 to 9999 are what servers send and what curl reads back.
  if (seconds >= 0 && seconds <= kLastDate) {
    FUZZ_CHECK(static_cast<int64_t>(curl_getdate(text.c_str(), nullptr)) == seconds);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  // The file as the client reads it, and the same once rewritten.
  size_t skipped = 0;
  std::vector<Cookie> jar = XmlRpc::detail::parse_cookie_file(text, &skipped);
  FUZZ_CHECK(jar.size() + skipped <= lines_of(text).size());
  size_t skipped_again = 0;
  const std::vector<Cookie> reread =
      XmlRpc::detail::parse_cookie_file(XmlRpc::detail::format_cookie_file(jar), &skipped_again);
  FUZZ_CHECK(skipped_again == 0 && reread.size() == jar.size());
  for (size_t i = 0; i < jar.size(); ++i) FUZZ_CHECK(same_cookie(jar[i], reread[i]));

  for (const char* host : kHosts) {
    for (const char* path : kPaths) check_header(jar, host, path);
  }
  for (const Cookie& cookie : jar) {
    if (cookie.has_expiry) check_date(cookie.expires);
  }

  // Each line as a header a server sent; what would be stored must read back as that cookie.
  const std::vector<std::string> lines = lines_of(text);
  for (const std::string& line : lines) {
    for (const char* path : {"/bugzilla/xmlrpc.cgi", "/"}) {
      Cookie received;
      if (!XmlRpc::detail::parse_set_cookie(line, "bugzilla.example.com", path, kNow, received))
        continue;
      FUZZ_CHECK(!received.path.empty() && received.path[0] == '/');
      Cookie stored;
      FUZZ_CHECK(XmlRpc::detail::parse_cookie_line(received.line, stored));
      FUZZ_CHECK(stored.name == received.name && stored.value == received.value &&
                 stored.domain == received.domain && stored.path == received.path &&
                 stored.secure == received.secure);
      // A live cookie with an end date keeps one in the file (within the years curl reads).
      if (received.has_expiry && received.expires > kNow && received.expires <= kLastDate) {
        FUZZ_CHECK(stored.has_expiry);
      }
      XmlRpc::detail::apply_cookie(jar, received, kNow);
    }
  }
  XmlRpc::detail::drop_expired(jar, kNow);
  for (const Cookie& cookie : jar) FUZZ_CHECK(!cookie.expired(kNow));
  check_header(jar, "bugzilla.example.com", "/bugzilla/xmlrpc.cgi");

  // The first two lines as a host and a request path of the client's own choosing.
  if (lines.size() >= 2) {
    check_header(jar, lines[0], lines[1]);
    const std::string default_path = XmlRpc::detail::default_cookie_path(lines[1]);
    FUZZ_CHECK(!default_path.empty() && default_path[0] == '/');
  }
  if (size >= sizeof(int64_t)) {
    int64_t seconds = 0;
    std::memcpy(&seconds, data, sizeof seconds);
    check_date(seconds);
  }
  return 0;
}
