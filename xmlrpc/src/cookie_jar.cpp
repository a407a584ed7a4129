#include "cookie_jar.h"

#include "atomic_file.h"

#include <XmlRpc/AsciiCase.h>
#include <XmlRpc/XmlRpcPlatform.h>

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace XmlRpc {
namespace detail {

namespace {

std::string trim(const std::string& text, size_t begin, size_t end) {
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return text.substr(begin, end - begin);
}

bool is_ip_address(const std::string& host) {
  if (host.find(':') != std::string::npos) return true;  // IPv6
  return !host.empty() &&
         host.find_first_not_of("0123456789.") == std::string::npos;
}

bool parse_seconds(const std::string& text, int64_t& seconds) {
  size_t i = text.empty() || text[0] != '-' ? 0 : 1;
  if (i == text.size() || text.size() > 18) return false;
  int64_t number = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    number = number * 10 + (text[i] - '0');
  }
  seconds = text[0] == '-' ? -number : number;
  return true;
}

// What a cookie text says, before the caller decides how to read its expiry.
struct CookieText {
  std::string name, value, domain, path;
  bool secure = false;
  bool has_domain = false, has_path = false, has_expires = false, has_max_age = false;
  int64_t expires = 0, max_age = 0;
};

bool parse_cookie_text(const std::string& text, CookieText& out) {
  for (const char c : text) {
    if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F) return false;
  }
  size_t end = text.find(';');
  if (end == std::string::npos) end = text.size();
  const size_t equals = text.find('=');
  if (equals == std::string::npos || equals > end) return false;
  out.name = trim(text, 0, equals);
  out.value = trim(text, equals + 1, end);
  if (out.name.empty()) return false;

  // Attributes: unknown ones and unusable values are ignored; the last of a kind wins.
  while (end < text.size()) {
    const size_t begin = end + 1;
    end = text.find(';', begin);
    if (end == std::string::npos) end = text.size();
    const size_t eq = text.find('=', begin);
    const bool has_value = eq != std::string::npos && eq < end;
    const std::string attribute = asciiLowercase(trim(text, begin, has_value ? eq : end));
    const std::string value = has_value ? trim(text, eq + 1, end) : std::string();
    if (attribute == "domain") {
      std::string domain = asciiLowercase(value);
      if (!domain.empty() && domain[0] == '.') domain.erase(0, 1);
      if (!domain.empty()) {
        out.domain = domain;
        out.has_domain = true;
      }
    } else if (attribute == "path") {
      if (!value.empty() && value[0] == '/') {
        out.path = value;
        out.has_path = true;
      }
    } else if (attribute == "expires") {
      const time_t when = curl_getdate(value.c_str(), nullptr);
      if (when != static_cast<time_t>(-1)) {
        out.expires = static_cast<int64_t>(when);
        out.has_expires = true;
      }
    } else if (attribute == "max-age") {
      if (parse_seconds(value, out.max_age)) out.has_max_age = true;
    } else if (attribute == "secure") {
      out.secure = true;
    }
  }
  return true;
}

void fill_cookie(CookieText&& text, Cookie& out) {
  out.name = std::move(text.name);
  out.value = std::move(text.value);
  out.domain = std::move(text.domain);
  out.path = std::move(text.path);
  out.secure = text.secure;
}

void civil_from_days(int64_t days, int64_t& year, int& month, int& day) {
  // Days since 1970-01-01 to a proleptic Gregorian date, by 400-year eras.
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t day_of_era = days - era * 146097;
  const int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int64_t shifted_month = (5 * day_of_year + 2) / 153;  // March is 0
  day = static_cast<int>(day_of_year - (153 * shifted_month + 2) / 5 + 1);
  month = static_cast<int>(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
  year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
}

}  // namespace

std::string format_cookie_date(int64_t seconds) {
  static const char* const kDays[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  int64_t days = seconds / 86400;
  int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  int64_t year = 0;
  int month = 1, day = 1;
  civil_from_days(days, year, month, day);
  const int64_t weekday = ((days % 7) + 7) % 7;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d-%s-%04lld %02d:%02d:%02d GMT", kDays[weekday], day,
                kMonths[month - 1], static_cast<long long>(year), static_cast<int>(rest / 3600),
                static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60));
  return text;
}

bool domain_matches(const std::string& host, const std::string& domain) {
  if (host.size() == domain.size()) return asciiLowercase(host) == domain;
  if (host.size() < domain.size() + 1 || is_ip_address(host)) return false;
  const std::string lower = asciiLowercase(host);
  return lower.compare(lower.size() - domain.size(), domain.size(), domain) == 0 &&
         lower[lower.size() - domain.size() - 1] == '.';
}

bool path_matches(const std::string& request_path, const std::string& cookie_path) {
  if (request_path.compare(0, cookie_path.size(), cookie_path) != 0) return false;
  return request_path.size() == cookie_path.size() || cookie_path.back() == '/' ||
         request_path[cookie_path.size()] == '/';
}

std::string default_cookie_path(const std::string& request_path) {
  const size_t last = request_path.rfind('/');
  if (request_path.empty() || request_path[0] != '/' || last == 0) return "/";
  return request_path.substr(0, last);
}

bool parse_set_cookie(const std::string& header_value, const std::string& host,
                      const std::string& request_path, int64_t now, Cookie& out) {
  size_t end = header_value.size();
  while (end > 0 && (header_value[end - 1] == '\r' || header_value[end - 1] == '\n' ||
                     header_value[end - 1] == ' ' || header_value[end - 1] == '\t')) {
    --end;
  }
  const std::string line = trim(header_value, 0, end);
  CookieText text;
  if (!parse_cookie_text(line, text)) return false;

  const std::string lower_host = asciiLowercase(host);
  if (text.has_domain) {
    // A server may widen a cookie to its own parent domains, never to another site or to a
    // bare top-level name.
    if (!domain_matches(lower_host, text.domain)) return false;
    if (text.domain != lower_host && text.domain.find('.') == std::string::npos) return false;
  }

  out = Cookie();
  out.line = line;
  if (!text.has_domain) {
    text.domain = lower_host;
    out.line += "; domain=" + lower_host;
  }
  if (!text.has_path) {
    text.path = default_cookie_path(request_path);
    out.line += "; path=" + text.path;
  }
  if (text.has_max_age) {
    // Max-Age wins over Expires; a stored age would be meaningless, so store a date.
    out.has_expiry = true;
    out.expires = text.max_age <= 0 ? now - 1 : now + text.max_age;
    if (!text.has_expires && text.max_age > 0) {
      out.line += "; expires=" + format_cookie_date(out.expires);
    }
  } else if (text.has_expires) {
    out.has_expiry = true;
    out.expires = text.expires;
  }
  fill_cookie(std::move(text), out);
  return true;
}

bool parse_cookie_line(const std::string& line, Cookie& out) {
  CookieText text;
  if (!parse_cookie_text(line, text) || !text.has_domain) return false;
  out = Cookie();
  out.line = line;
  if (!text.has_path) text.path = "/";
  if (text.has_max_age && text.max_age <= 0) {
    out.has_expiry = true;
    out.expires = 0;
  } else if (text.has_expires) {
    out.has_expiry = true;
    out.expires = text.expires;
  }
  fill_cookie(std::move(text), out);
  return true;
}

std::vector<Cookie> parse_cookie_file(const std::string& text, size_t* skipped) {
  std::vector<Cookie> cookies;
  size_t unusable = 0;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    size_t line_end = end;
    if (line_end > begin && text[line_end - 1] == '\r') --line_end;
    const std::string line = text.substr(begin, line_end - begin);
    begin = end + 1;
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    Cookie cookie;
    if (parse_cookie_line(line, cookie)) {
      cookies.push_back(std::move(cookie));
    } else {
      ++unusable;
    }
  }
  if (skipped) *skipped = unusable;
  return cookies;
}

std::string format_cookie_file(const std::vector<Cookie>& cookies) {
  std::string text;
  for (const Cookie& cookie : cookies) {
    text += cookie.line;
    text += '\n';
  }
  return text;
}

bool apply_cookie(std::vector<Cookie>& jar, const Cookie& received, int64_t now) {
  auto same = std::find_if(jar.begin(), jar.end(), [&](const Cookie& c) {
    return c.name == received.name && c.domain == received.domain && c.path == received.path;
  });
  if (received.expired(now)) {
    if (same == jar.end()) return false;
    jar.erase(same);
    return true;
  }
  if (same == jar.end()) {
    jar.push_back(received);
    return true;
  }
  if (same->line == received.line) return false;
  *same = received;
  return true;
}

bool drop_expired(std::vector<Cookie>& jar, int64_t now) {
  const size_t before = jar.size();
  jar.erase(std::remove_if(jar.begin(), jar.end(),
                           [now](const Cookie& c) { return c.expired(now); }),
            jar.end());
  return jar.size() != before;
}

std::string cookie_header(const std::vector<Cookie>& jar, const std::string& host,
                          const std::string& request_path, bool secure, int64_t now) {
  std::vector<const Cookie*> matching;
  for (const Cookie& cookie : jar) {
    if (cookie.expired(now) || (cookie.secure && !secure)) continue;
    if (!domain_matches(host, cookie.domain) || !path_matches(request_path, cookie.path)) continue;
    matching.push_back(&cookie);
  }
  std::stable_sort(matching.begin(), matching.end(), [](const Cookie* a, const Cookie* b) {
    return a->path.size() > b->path.size();
  });
  std::string header;
  for (const Cookie* cookie : matching) {
    if (!header.empty()) header += "; ";
    header += cookie->name;
    header += '=';
    header += cookie->value;
  }
  return header;
}

std::string cookie_header_from_file(const std::string& file, const std::string& host,
                                    const std::string& request_path, bool secure) {
  std::string text;
  if (file.empty() || !read_whole_file(file, text)) return std::string();
  return cookie_header(parse_cookie_file(text), host, request_path, secure,
                       platform::now_seconds());
}

bool store_response_cookies(const std::string& file, const std::string& host,
                            const std::string& request_path,
                            const std::vector<std::string>& set_cookie_values) {
  if (file.empty() || set_cookie_values.empty()) return true;
  const int64_t now = platform::now_seconds();
  std::vector<Cookie> received;
  for (const std::string& value : set_cookie_values) {
    Cookie cookie;
    if (parse_set_cookie(value, host, request_path, now, cookie)) received.push_back(cookie);
  }
  if (received.empty()) return true;

  // Clients of this process that share the file take turns; each merges into what is on
  // disk now, not into what it read before its request.
  static std::mutex file_lock;
  std::lock_guard<std::mutex> hold(file_lock);
  std::string text;
  const bool exists = read_whole_file(file, text);
  std::vector<Cookie> jar = exists ? parse_cookie_file(text) : std::vector<Cookie>();
  bool changed = false;
  for (const Cookie& cookie : received) changed = apply_cookie(jar, cookie, now) || changed;
  if (!changed) return true;
  drop_expired(jar, now);
  if (jar.empty()) return !exists || platform::remove_file(file);
  return replace_file_atomically(file, format_cookie_file(jar));
}

}  // namespace detail
}  // namespace XmlRpc
