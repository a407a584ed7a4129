// Cookies the servers set, kept in a text file shared by every client that names it.
//
// File format: one cookie per line, the Set-Cookie text as the server sent it (so that an
// expiry attribute reads " expires=Fri, 01-Jan-2038 00:00:00 GMT" between ";" separators), with
// "; domain=HOST" appended when the server gave no domain, "; path=DIR" when it gave no path,
// and "; expires=..." when it gave only a Max-Age (a relative age means nothing once stored).
// A line that does not parse is skipped when reading and dropped at the next rewrite.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace XmlRpc {
namespace detail {

struct Cookie {
  std::string line;    // the file line
  std::string name;
  std::string value;
  std::string domain;  // lower case, without a leading dot
  std::string path;
  bool secure = false;
  bool has_expiry = false;  // false: kept until replaced or expired by the server
  int64_t expires = 0;      // seconds since 1970 (UTC) when has_expiry

  bool expired(int64_t now) const { return has_expiry && expires <= now; }
};

// A Set-Cookie header value received from `host` for a request to `request_path`, as `out`
// with its file line completed. False when it is no cookie or `host` may not set it (a
// domain that does not cover the host, or one without an inner dot).
bool parse_set_cookie(const std::string& header_value, const std::string& host,
                      const std::string& request_path, int64_t now, Cookie& out);

// One stored line. False when it cannot be used.
bool parse_cookie_line(const std::string& line, Cookie& out);

// Every usable line of a cookie file's text, in file order; `skipped` counts the others.
std::vector<Cookie> parse_cookie_file(const std::string& text, size_t* skipped = nullptr);

// The file text for `cookies`: their lines, each ended by a line feed.
std::string format_cookie_file(const std::vector<Cookie>& cookies);

// Adds a received cookie, replacing one of the same name, domain and path, or removes that
// one when the received cookie is already expired. True when the jar changed.
bool apply_cookie(std::vector<Cookie>& jar, const Cookie& received, int64_t now);

// Drops expired cookies. True when any was dropped.
bool drop_expired(std::vector<Cookie>& jar, int64_t now);

// RFC 6265 matching. Host names are compared case-insensitively; an IP address matches only
// itself.
bool domain_matches(const std::string& host, const std::string& domain);
bool path_matches(const std::string& request_path, const std::string& cookie_path);
std::string default_cookie_path(const std::string& request_path);

// The Cookie header value ("a=1; b=2", longest path first) for a request to `host` and
// `request_path`; Secure cookies only when `secure`. Empty when nothing matches.
std::string cookie_header(const std::vector<Cookie>& jar, const std::string& host,
                          const std::string& request_path, bool secure, int64_t now);

// The same, read from the cookie file at `file` (absent: empty).
std::string cookie_header_from_file(const std::string& file, const std::string& host,
                                    const std::string& request_path, bool secure);

// Records the Set-Cookie values of one response in the cookie file: reads the file afresh,
// applies them and rewrites it atomically only when that changed something. An emptied jar
// removes the file rather than leave an empty one. False when the file could not be written.
bool store_response_cookies(const std::string& file, const std::string& host,
                            const std::string& request_path,
                            const std::vector<std::string>& set_cookie_values);

// "Fri, 01-Jan-2038 00:00:00 GMT": the expires form that servers send and the session layer
// reads back.
std::string format_cookie_date(int64_t seconds_since_1970);

}  // namespace detail
}  // namespace XmlRpc
