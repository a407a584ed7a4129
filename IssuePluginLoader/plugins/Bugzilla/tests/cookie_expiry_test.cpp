// The cookie expiry check: which piece counts, how its date is read, the true calendar, and
// the one-hour margin. The clock is always passed in.
#include "cookie_expiry.h"
#include "test_platform.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <string>

namespace {

using bugzilla::cookie_expired;

// The check run on a stream holding `content`, against `now` or else the system clock.
int expired_at(const std::string& content, double now, bool system_clock = false) {
  std::FILE* stream = std::tmpfile();
  if (stream == nullptr) {
    ADD_FAILURE() << "no temporary file";
    return -1;
  }
  if (!content.empty()) std::fwrite(content.data(), 1, content.size(), stream);
  std::rewind(stream);
  const int result = system_clock ? cookie_expired(stream) : cookie_expired(stream, now);
  std::fclose(stream);
  return result;
}

// The real UTC epoch seconds of a date (month counted from 1).
double utc(int year, int month, int day, int hour, int minute) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  return static_cast<double>(test_support::utc_seconds(t));
}

// A cookie file line with an expiry attribute, as a server sends it.
std::string cookie_line(const std::string& date) {
  return "Bugzilla_login=12; path=/; expires=" + date + "; HttpOnly; domain=127.0.0.1\n";
}

// The check's count for the file is exactly `expected` when the clock one hour before it
// says expired and one second earlier says good.
void expect_expiry_count(const std::string& content, double expected) {
  EXPECT_EQ(expired_at(content, expected - 3600), 1) << content;
  EXPECT_EQ(expired_at(content, expected - 3601), 0) << content;
}

TEST(CookieExpiry, MarginOfOneHour) {
  const std::string file = cookie_line("Sat, 01-Jun-2030 12:00:00 GMT");
  const double expiry = utc(2030, 6, 1, 12, 0);
  EXPECT_EQ(expired_at(file, expiry - 30 * 60), 1);    // 30 minutes ahead of the clock
  EXPECT_EQ(expired_at(file, expiry - 2 * 3600), 0);   // two hours ahead
  EXPECT_EQ(expired_at(file, expiry + 1), 1);          // behind the clock
  EXPECT_EQ(expired_at(file, expiry + 86400.0 * 400), 1);
}

// Seconds and the zone are not read; every date counts as UTC on the real calendar, leap
// days (with the century rule) included.
TEST(CookieExpiry, DatesCountOnTheTrueCalendar) {
  struct Case {
    const char* text;
    int year, month, day, hour, minute;
  };
  const Case cases[] = {
      {"Thu, 01-Jan-1970 00:00:00 GMT", 1970, 1, 1, 0, 0},
      {"Wed, 31-Dec-1969 23:59:59 GMT", 1969, 12, 31, 23, 59},
      {"Fri, 01-Mar-1968 06:00:00 GMT", 1968, 3, 1, 6, 0},
      {"Sat, 15-Jun-1901 08:15:00 GMT", 1901, 6, 15, 8, 15},
      {"Thu, 01-Mar-1900 00:00:00 GMT", 1900, 3, 1, 0, 0},
      {"Wed, 01-Mar-1972 00:00:00 GMT", 1972, 3, 1, 0, 0},
      {"Fri, 15-Mar-2021 10:30:00 GMT", 2021, 3, 15, 10, 30},
      {"Mon, 28-Feb-2000 23:59:00 GMT", 2000, 2, 28, 23, 59},
      {"Wed, 01-Mar-2000 00:00:00 GMT", 2000, 3, 1, 0, 0},
      {"Fri, 01-Jan-2038 00:00:00 GMT", 2038, 1, 1, 0, 0},
      {"Wed, 28-Feb-2024 23:59:00 GMT", 2024, 2, 28, 23, 59},
      {"Thu, 29-Feb-2024 12:00:00 GMT", 2024, 2, 29, 12, 0},
      {"Fri, 01-Mar-2024 00:00:00 GMT", 2024, 3, 1, 0, 0},
      {"Tue, 31-Dec-2024 23:59:00 UTC", 2024, 12, 31, 23, 59},
      {"Sun, 01-Sep-2024 10:00:00 PST", 2024, 9, 1, 10, 0},
      {"Sat, 31-Dec-2099 23:59:00 GMT", 2099, 12, 31, 23, 59},
      {"Mon, 01-Mar-2100 00:00:00 GMT", 2100, 3, 1, 0, 0},
      {"Wed, 01-Mar-2400 00:00:00 GMT", 2400, 3, 1, 0, 0},
  };
  ASSERT_EQ(utc(2024, 3, 1, 0, 0), 1709251200.0);
  ASSERT_EQ(utc(2021, 3, 15, 10, 30), 1615804200.0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    expect_expiry_count(cookie_line(c.text), utc(c.year, c.month, c.day, c.hour, c.minute));
  }
}

TEST(CookieExpiry, TwoDigitYearsAreTakenLiterally) {
  const std::string file = cookie_line("Fri, 01-Jan-38 00:00:00 GMT");
  expect_expiry_count(file, utc(38, 1, 1, 0, 0));
  EXPECT_EQ(expired_at(file, 0), 1);
  EXPECT_EQ(expired_at(cookie_line("Fri, 31-Dec-99 23:59:00 GMT"), utc(1999, 1, 1, 0, 0)), 1);
}

TEST(CookieExpiry, WhichPieceCounts) {
  const std::string past = "expires=Fri, 15-Mar-2021 10:30:00 GMT";
  const std::string future = "expires=Sat, 01-Jan-2050 00:00:00 GMT";
  const double now = utc(2030, 1, 1, 0, 0);
  struct Case {
    const char* what;
    std::string content;
    int expected;
  };
  const Case cases[] = {
      {"expiry is the last piece, no ';' after it", "a=1; path=/; " + past, 1},
      {"expiry piece ends the file with a line break", "a=1; " + past + "\n", 1},
      {"only the first expiry counts (past first)", "a=1; " + past + "\nb=2; " + future, 1},
      {"only the first expiry counts (future first)", "a=1; " + future + "\nb=2; " + past, 0},
      {"no blank after ';': not an expiry, a later one is",
       "a=1;" + past + "; path=/\nb=2; " + future, 0},
      {"no blank after ';' and nothing later", "a=1;" + past + "\n", 0},
      {"on a new line after ';'", "a=1;\n " + past + "\n", 0},
      {"upper case", "a=1; E" + past.substr(1) + "\n", 0},
      {"all upper case", "a=1; EXPIRES=Fri, 15-Mar-2021 10:30:00 GMT\n", 0},
      {"at the very start of the file", " " + past + "; a=1\n", 1},
      {"line breaks stay inside pieces", "a=1; path=/\nb=2; " + future + "\nc=3; " + past, 0},
      {"empty file", "", 0},
      {"only ';'", ";;;", 0},
      {"cookies without expiry", "a=1; path=/; domain=x\nb=2; HttpOnly\n", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(expired_at(c.content, now), c.expected) << c.what;
  }
}

// Dates that cannot be read count as expired even against a clock at 1970.
TEST(CookieExpiry, UnreadableDatesCountAsExpired) {
  const char* pieces[] = {
      " expires=Fri, 15-mar-2099 10:30:00 GMT",  // month names are case-sensitive
      " expires=Fri, 15-MAR-2099 10:30:00 GMT",
      " expires=Fri, 15-Xyz-2099 10:30:00 GMT",
      " expires=Fri, 15 Mar 2099 10:30:00 GMT",  // blanks instead of '-' misalign the month
      " expires=2099-03-15T10:30:00Z",
      " expires",                                // nothing after the word
      " expires=",
      " expires=Fri, 15-Ma",                     // month cut short
      " expires=Fri, 15-Mar-",                   // no year: year 0, far in the past
      " expires=Fri, 15-Mar-xx 10:30:00 GMT",
  };
  for (const char* piece : pieces) {
    EXPECT_EQ(expired_at(std::string("a=1;") + piece + "; path=/\n", 0), 1) << piece;
  }
}

// A day, hour or minute that cannot be read counts as 0.
TEST(CookieExpiry, UnreadFieldsCountAsZero) {
  expect_expiry_count("a=1; expires=Fri, 15-Mar-2031 GMT\n", utc(2031, 3, 15, 0, 0));
  expect_expiry_count("a=1; expires=Fri, 15-Mar-2031 10 GMT\n", utc(2031, 3, 15, 10, 0));
  expect_expiry_count("a=1; expires=Fri, 15 - Mar - 2031 10 : 30\n", utc(2031, 3, 15, 10, 30));
}

// Whatever numbers a file holds, the count stays in range (the sanitizer build checks this).
TEST(CookieExpiry, ExtremeNumbers) {
  EXPECT_EQ(expired_at(" expires=X, 2147483647-Dec-2147483647 2147483647:2147483647", 0), 0);
  EXPECT_EQ(expired_at(" expires=X, -2147483648-Jan--2147483648 -2147483648:-2147483648", 0), 1);
}

// Pieces are kept to 499 characters; the rest of a longer piece is skipped up to its ';'
// and the scan goes on.
TEST(CookieExpiry, LongPieces) {
  const std::string long_value = "a=" + std::string(600, 'x');
  const std::string past = " expires=Fri, 15-Mar-2021 10:30:00 GMT";
  const double now = utc(2030, 1, 1, 0, 0);

  // An expiry after a long piece is still found.
  EXPECT_EQ(expired_at(long_value + ";" + past + "\n", now), 1);
  // The tail of a long piece is not a piece of its own, even when it reads " expires".
  EXPECT_EQ(expired_at(std::string(499, 'x') + past + "; path=/\n", now), 0);
  EXPECT_EQ(expired_at(std::string(498, 'x') + ";" + past + "; path=/\n", now), 1);

  // A long expiry piece is parsed from its first 499 characters.
  expect_expiry_count(std::string("a=1;") + past + std::string(600, ' ') + "tail; path=/",
                      utc(2021, 3, 15, 10, 30));
  // ... so a date beyond them is not read, and counts as expired.
  const std::string far_date = " expires=Fri," + std::string(490, ' ') + "15-Mar-2099 10:30:00";
  EXPECT_EQ(expired_at("a=1;" + far_date + "; path=/", 0), 1);
  // With the same date inside the limit, it would have been good.
  EXPECT_EQ(expired_at("a=1; expires=Fri, 15-Mar-2099 10:30:00; path=/", 0), 0);
}

TEST(CookieExpiry, DefaultClockIsTheSystemClock) {
  EXPECT_EQ(expired_at(cookie_line("Fri, 31-Dec-9999 23:59:00 GMT"), 0, true), 0);
  EXPECT_EQ(expired_at(cookie_line("Thu, 01-Jan-1970 00:00:00 GMT"), 0, true), 1);
}

}  // namespace
