// The cookie jar: reading Set-Cookie, the file lines, scoping and the file itself.
#include "cookie_jar.h"
#include "test_helpers.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <string>

using namespace XmlRpc::detail;
using namespace lib_test;

namespace {

constexpr int64_t kNow = 1700000000;  // Tue, 14-Nov-2023 22:13:20 GMT
constexpr int64_t k2038 = 2145916800;  // Fri, 01-Jan-2038 00:00:00 GMT

Cookie received(const std::string& header, const std::string& host = "127.0.0.1",
                const std::string& path = "/xmlrpc.cgi") {
  Cookie cookie;
  EXPECT_TRUE(parse_set_cookie(header, host, path, kNow, cookie)) << header;
  return cookie;
}

}  // namespace

struct SetCookieCase {
  const char* header;
  const char* host;
  const char* request_path;
  const char* line;
  const char* name;
  const char* value;
  const char* domain;
  const char* path;
  bool has_expiry;
  int64_t expires;
};

TEST(CookieJar, SetCookieBecomesACompletedFileLine) {
  const SetCookieCase cases[] = {
      {"Bugzilla_login=2; path=/; expires=Fri, 01-Jan-2038 00:00:00 GMT; HttpOnly", "127.0.0.1",
       "/xmlrpc.cgi",
       "Bugzilla_login=2; path=/; expires=Fri, 01-Jan-2038 00:00:00 GMT; HttpOnly; "
       "domain=127.0.0.1",
       "Bugzilla_login", "2", "127.0.0.1", "/", true, k2038},
      {"Bugzilla_login_request_cookie=3YpKFN95Wt; path=/; HttpOnly\r\n", "127.0.0.1", "/x",
       "Bugzilla_login_request_cookie=3YpKFN95Wt; path=/; HttpOnly; domain=127.0.0.1",
       "Bugzilla_login_request_cookie", "3YpKFN95Wt", "127.0.0.1", "/", false, 0},
      // No path: the request's directory, written into the line.
      {"s=1", "Bugzilla.Example.com", "/bugzilla/xmlrpc.cgi",
       "s=1; domain=bugzilla.example.com; path=/bugzilla", "s", "1", "bugzilla.example.com",
       "/bugzilla", false, 0},
      // A server may widen to its parent domain; the text stays as sent.
      {"s=2; Domain=.Example.com; Path=/", "bz.example.com", "/xmlrpc.cgi",
       "s=2; Domain=.Example.com; Path=/", "s", "2", "example.com", "/", false, 0},
      // Max-Age is relative to now, so the file gets a date.
      {"m=1; Max-Age=3600; path=/", "h", "/", "m=1; Max-Age=3600; path=/; domain=h; "
       "expires=Tue, 14-Nov-2023 23:13:20 GMT", "m", "1", "h", "/", true, kNow + 3600},
      // Max-Age wins over Expires.
      {"m=2; expires=Fri, 01-Jan-2038 00:00:00 GMT; max-age=60; path=/", "h", "/",
       "m=2; expires=Fri, 01-Jan-2038 00:00:00 GMT; max-age=60; path=/; domain=h", "m", "2",
       "h", "/", true, kNow + 60},
      {"gone=; Max-Age=0; path=/", "h", "/", "gone=; Max-Age=0; path=/; domain=h", "gone", "",
       "h", "/", true, kNow - 1},
      {"old=1; path=/; expires=Thu, 01-Jan-1970 00:00:01 GMT", "h", "/",
       "old=1; path=/; expires=Thu, 01-Jan-1970 00:00:01 GMT; domain=h", "old", "1", "h", "/",
       true, 1},
      // Unreadable dates and ages are ignored, as are unknown attributes.
      {" v = spaced value ; expires=someday; max-age=soon; SameSite=Lax; path=/p", "h", "/",
       "v = spaced value ; expires=someday; max-age=soon; SameSite=Lax; path=/p; domain=h", "v",
       "spaced value", "h", "/p", false, 0},
  };
  for (const SetCookieCase& c : cases) {
    Cookie cookie;
    ASSERT_TRUE(parse_set_cookie(c.header, c.host, c.request_path, kNow, cookie)) << c.header;
    EXPECT_EQ(cookie.line, c.line);
    EXPECT_EQ(cookie.name, c.name);
    EXPECT_EQ(cookie.value, c.value);
    EXPECT_EQ(cookie.domain, c.domain);
    EXPECT_EQ(cookie.path, c.path);
    EXPECT_EQ(cookie.has_expiry, c.has_expiry) << c.header;
    if (c.has_expiry) {
      EXPECT_EQ(cookie.expires, c.expires) << c.header;
    }

    // Read back from the file, the line means the same cookie.
    Cookie stored;
    ASSERT_TRUE(parse_cookie_line(cookie.line, stored)) << cookie.line;
    EXPECT_EQ(stored.name, cookie.name);
    EXPECT_EQ(stored.domain, cookie.domain);
    EXPECT_EQ(stored.path, cookie.path);
    EXPECT_EQ(stored.expired(kNow), cookie.expired(kNow)) << cookie.line;
  }
}

TEST(CookieJar, CookiesAServerMayNotSetAreRefused) {
  const struct {
    const char* header;
    const char* host;
  } cases[] = {
      {"", "h"},
      {"no-equals-sign", "h"},
      {"=value-without-name", "h"},
      {"a=1; domain=other.example", "bugzilla.example.com"},
      {"a=1; domain=ample.com", "example.com"},
      {"a=1; domain=com", "example.com"},
      {"a=1; domain=0.0.1", "127.0.0.1"},
      {"a=1; domain=127.0.0.1", "localhost"},
      {"a=1; domain=localhost", "127.0.0.1"},
      {"a=1\nb=2", "h"},
  };
  for (const auto& c : cases) {
    Cookie cookie;
    EXPECT_FALSE(parse_set_cookie(c.header, c.host, "/", kNow, cookie)) << c.header;
  }
}

TEST(CookieJar, ExpiryDatesUseTheServersForm) {
  EXPECT_EQ(format_cookie_date(0), "Thu, 01-Jan-1970 00:00:00 GMT");
  EXPECT_EQ(format_cookie_date(k2038), "Fri, 01-Jan-2038 00:00:00 GMT");
  EXPECT_EQ(format_cookie_date(951782400 + 3723), "Tue, 29-Feb-2000 01:02:03 GMT");
  EXPECT_EQ(format_cookie_date(4102444800 - 1), "Thu, 31-Dec-2099 23:59:59 GMT");
  for (int64_t t = 0; t < 5000000000; t += 86399 * 377) {
    EXPECT_EQ(static_cast<int64_t>(curl_getdate(format_cookie_date(t).c_str(), nullptr)), t);
  }
}

TEST(CookieJar, DomainAndPathMatching) {
  EXPECT_TRUE(domain_matches("127.0.0.1", "127.0.0.1"));
  EXPECT_FALSE(domain_matches("127.0.0.1", "localhost"));
  EXPECT_FALSE(domain_matches("localhost", "127.0.0.1"));
  EXPECT_TRUE(domain_matches("Bugzilla.Example.com", "bugzilla.example.com"));
  EXPECT_TRUE(domain_matches("bz.example.com", "example.com"));
  EXPECT_FALSE(domain_matches("example.com", "bz.example.com"));
  EXPECT_FALSE(domain_matches("badexample.com", "example.com"));
  EXPECT_FALSE(domain_matches("10.127.0.0.1", "0.0.1"));

  EXPECT_TRUE(path_matches("/", "/"));
  EXPECT_TRUE(path_matches("/xmlrpc.cgi", "/"));
  EXPECT_TRUE(path_matches("/bugzilla/xmlrpc.cgi", "/bugzilla"));
  EXPECT_TRUE(path_matches("/bugzilla/xmlrpc.cgi", "/bugzilla/"));
  EXPECT_TRUE(path_matches("/bugzilla", "/bugzilla"));
  EXPECT_FALSE(path_matches("/bugzilla2/xmlrpc.cgi", "/bugzilla"));
  EXPECT_FALSE(path_matches("/other/xmlrpc.cgi", "/bugzilla"));
  EXPECT_FALSE(path_matches("/", "/bugzilla"));

  EXPECT_EQ(default_cookie_path("/bugzilla/xmlrpc.cgi"), "/bugzilla");
  EXPECT_EQ(default_cookie_path("/xmlrpc.cgi"), "/");
  EXPECT_EQ(default_cookie_path(""), "/");
  EXPECT_EQ(default_cookie_path("relative/x"), "/");
}

TEST(CookieJar, ReplacingAndExpiring) {
  std::vector<Cookie> jar;
  EXPECT_TRUE(apply_cookie(jar, received("a=1; path=/"), kNow));
  EXPECT_TRUE(apply_cookie(jar, received("b=1; path=/"), kNow));
  EXPECT_FALSE(apply_cookie(jar, received("a=1; path=/"), kNow));  // the same line again
  EXPECT_TRUE(apply_cookie(jar, received("a=2; path=/"), kNow));
  ASSERT_EQ(jar.size(), 2u);
  EXPECT_EQ(jar[0].value, "2");  // replaced in place
  // Another path or host is another cookie.
  EXPECT_TRUE(apply_cookie(jar, received("a=3; path=/sub"), kNow));
  EXPECT_TRUE(apply_cookie(jar, received("a=4; path=/", "localhost"), kNow));
  EXPECT_EQ(jar.size(), 4u);

  EXPECT_TRUE(apply_cookie(jar, received("a=; path=/; Max-Age=0"), kNow));
  EXPECT_TRUE(apply_cookie(jar, received("b=x; path=/; expires=Thu, 01-Jan-1970 00:00:01 GMT"),
                           kNow));
  EXPECT_FALSE(apply_cookie(jar, received("never=; path=/; Max-Age=0"), kNow));
  ASSERT_EQ(jar.size(), 2u);
  EXPECT_EQ(jar[0].value, "3");
  EXPECT_EQ(jar[1].value, "4");

  jar.push_back(received("short=1; path=/; max-age=10"));
  EXPECT_FALSE(drop_expired(jar, kNow));
  EXPECT_TRUE(drop_expired(jar, kNow + 10));
  EXPECT_EQ(jar.size(), 2u);
}

TEST(CookieJar, CookiesGoOnlyWhereTheyBelong) {
  std::vector<Cookie> jar = {
      received("root=1; path=/"),
      received("deep=2; path=/bugzilla"),
      received("local=3; path=/", "localhost"),
      received("wide=4; domain=example.com; path=/", "bz.example.com"),
      received("safe=5; path=/; Secure"),
      received("stale=6; path=/; max-age=5"),
  };
  EXPECT_EQ(cookie_header(jar, "127.0.0.1", "/xmlrpc.cgi", false, kNow), "root=1; stale=6");
  EXPECT_EQ(cookie_header(jar, "127.0.0.1", "/xmlrpc.cgi", true, kNow),
            "root=1; safe=5; stale=6");
  EXPECT_EQ(cookie_header(jar, "127.0.0.1", "/bugzilla/xmlrpc.cgi", false, kNow + 5),
            "deep=2; root=1");  // longest path first; expired left out
  EXPECT_EQ(cookie_header(jar, "localhost", "/xmlrpc.cgi", true, kNow), "local=3");
  EXPECT_EQ(cookie_header(jar, "other.example.com", "/", false, kNow), "wide=4");
  EXPECT_EQ(cookie_header(jar, "elsewhere", "/", true, kNow), "");
}

TEST(CookieJar, UnusableFileLinesAreSkipped) {
  const std::string text =
      "a=1; path=/; domain=h\r\n"
      "\n"
      "garbage without an equals sign\n"
      "no_domain=1; path=/\n"
      "   \n"
      "=x; domain=h\n"
      "b=2; domain=h";
  size_t skipped = 0;
  const std::vector<Cookie> jar = parse_cookie_file(text, &skipped);
  ASSERT_EQ(jar.size(), 2u);
  EXPECT_EQ(jar[0].line, "a=1; path=/; domain=h");
  EXPECT_EQ(jar[1].name, "b");
  EXPECT_EQ(jar[1].path, "/");
  EXPECT_EQ(skipped, 3u);
  EXPECT_EQ(format_cookie_file(jar), "a=1; path=/; domain=h\nb=2; domain=h\n");
}

TEST(CookieJar, TheFileIsWrittenOnlyWhenCookiesChange) {
  ScratchDir dir;
  const std::string file = dir.file("cookies.txt");

  // Nothing set, or only expirations of unknown cookies: no file, not even an empty one.
  EXPECT_TRUE(store_response_cookies(file, "127.0.0.1", "/x", {}));
  EXPECT_TRUE(store_response_cookies(file, "127.0.0.1", "/x", {"gone=; Max-Age=0"}));
  EXPECT_TRUE(store_response_cookies(file, "127.0.0.1", "/x", {"not a cookie"}));
  EXPECT_FALSE(exists(file));
  EXPECT_EQ(cookie_header_from_file(file, "127.0.0.1", "/x", false), "");

  ASSERT_TRUE(store_response_cookies(
      file, "127.0.0.1", "/x",
      {"Bugzilla_login=2; path=/; expires=Fri, 01-Jan-2038 00:00:00 GMT; HttpOnly",
       "Bugzilla_logincookie=abc; path=/; expires=Fri, 01-Jan-2038 00:00:00 GMT; HttpOnly"}));
  EXPECT_EQ(read(file),
            "Bugzilla_login=2; path=/; expires=Fri, 01-Jan-2038 00:00:00 GMT; HttpOnly; "
            "domain=127.0.0.1\n"
            "Bugzilla_logincookie=abc; path=/; expires=Fri, 01-Jan-2038 00:00:00 GMT; HttpOnly; "
            "domain=127.0.0.1\n");
  EXPECT_TRUE(test_support::owner_only(file));
  EXPECT_EQ(cookie_header_from_file(file, "127.0.0.1", "/x", false),
            "Bugzilla_login=2; Bugzilla_logincookie=abc");

  // Someone else's line added since is kept; garbage is dropped at the rewrite.
  write(file, read(file) + "other=1; domain=localhost; path=/\nrubbish\n");
  test_support::open_to_everybody(file);
  ASSERT_FALSE(test_support::owner_only(file));
  ASSERT_TRUE(store_response_cookies(file, "127.0.0.1", "/x", {"Bugzilla_login=3; path=/"}));
  EXPECT_EQ(read(file),
            "Bugzilla_login=3; path=/; domain=127.0.0.1\n"
            "Bugzilla_logincookie=abc; path=/; expires=Fri, 01-Jan-2038 00:00:00 GMT; HttpOnly; "
            "domain=127.0.0.1\n"
            "other=1; domain=localhost; path=/\n");
  EXPECT_TRUE(test_support::owner_only(file));

  // A response that sets what is already there leaves the file alone.
  const std::string before = read(file);
  write(file, before + "rubbish stays until a real change\n");
  ASSERT_TRUE(store_response_cookies(file, "127.0.0.1", "/x", {"Bugzilla_login=3; path=/"}));
  EXPECT_EQ(read(file), before + "rubbish stays until a real change\n");

  // The last cookie expired: the file goes rather than stays empty.
  ASSERT_TRUE(store_response_cookies(
      file, "127.0.0.1", "/x",
      {"Bugzilla_login=; path=/; Max-Age=0",
       "Bugzilla_logincookie=; path=/; expires=Thu, 01-Jan-1970 00:00:00 GMT"}));
  EXPECT_EQ(read(file), "other=1; domain=localhost; path=/\n");
  ASSERT_TRUE(
      store_response_cookies(file, "localhost", "/x", {"other=; path=/; max-age=-1"}));
  EXPECT_FALSE(exists(file));

  // No temporary files are left behind.
  EXPECT_TRUE(std::filesystem::is_empty(dir.file("")));
}

// Names arrive as UTF-8; Windows must not read them in its ANSI code page.
TEST(CookieJar, FileNamedInUtf8) {
  ScratchDir dir;
  const std::string folder = dir.file("K\xC3\xBC\xCE\x94");  // "KüΔ"
  ASSERT_TRUE(std::filesystem::create_directory(std::filesystem::u8path(folder)));
  const std::string file = folder + "/cookies.txt";
  ASSERT_TRUE(store_response_cookies(file, "127.0.0.1", "/x", {"a=1; path=/"}));
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::u8path(file)));
  EXPECT_TRUE(test_support::owner_only(file));
  EXPECT_EQ(cookie_header_from_file(file, "127.0.0.1", "/x", false), "a=1");
}
