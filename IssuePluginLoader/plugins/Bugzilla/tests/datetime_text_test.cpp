// datetime_to_text: the YYYY-MM-DDTHH:MM:SS text of a date-time value, in a 30-byte buffer.
#include "datetime_text.h"
#include "records.h"
#include "reply_values.h"

#include <XmlRpc/XmlRpcException.h>
#include <XmlRpc/XmlRpcValue.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <ctime>
#include <memory>
#include <ostream>
#include <string>

namespace {

using XmlRpc::XmlRpcValue;

std::tm broken_down(int year, int month, int day, int hour, int minute, int second) {
  std::tm when{};
  when.tm_year = year;  // full year and month from 1, as the value type holds them
  when.tm_mon = month;
  when.tm_mday = day;
  when.tm_hour = hour;
  when.tm_min = minute;
  when.tm_sec = second;
  return when;
}

struct Text {
  explicit Text(char* text) : text(text) {}
  ~Text() { bugzilla::free_string(text); }
  char* text;
};

// The conversion, checked for its buffer: never null, NUL inside the 30 bytes, and (where the
// sanitizer can tell) exactly 30 bytes allocated.
std::string convert(const XmlRpcValue& value) {
  Text result(bugzilla::datetime_to_text(value));
  EXPECT_NE(result.text, nullptr);
  if (result.text == nullptr) return std::string();
  EXPECT_NE(std::memchr(result.text, '\0', bugzilla::kDateTimeTextSize), nullptr);
#if defined(__SANITIZE_ADDRESS__)
  EXPECT_EQ(__sanitizer_get_allocated_size(result.text), bugzilla::kDateTimeTextSize);
#endif
  return std::string(result.text);
}

struct DateCase {
  std::tm when;
  const char* text;
};

void PrintTo(const DateCase& c, std::ostream* out) { *out << c.text; }

class DateTimeTextTest : public ::testing::TestWithParam<DateCase> {};

TEST_P(DateTimeTextTest, FormatsWithLeadingZerosBelowTen) {
  EXPECT_EQ(convert(XmlRpcValue(GetParam().when)), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    CalendarValues, DateTimeTextTest,
    ::testing::Values(DateCase{broken_down(2009, 1, 5, 8, 3, 7), "2009-01-05T08:03:07"},
                      DateCase{broken_down(2016, 12, 31, 23, 59, 59), "2016-12-31T23:59:59"},
                      DateCase{broken_down(2016, 3, 9, 7, 5, 0), "2016-03-09T07:05:00"},
                      DateCase{broken_down(2010, 10, 10, 10, 10, 10), "2010-10-10T10:10:10"},
                      DateCase{broken_down(2016, 9, 9, 9, 9, 9), "2016-09-09T09:09:09"},
                      DateCase{broken_down(2016, 3, 9, 0, 0, 0), "2016-03-09T00:00:00"},
                      DateCase{broken_down(999, 1, 1, 1, 1, 1), "999-01-01T01:01:01"},
                      DateCase{broken_down(5, 11, 20, 12, 30, 45), "5-11-20T12:30:45"},
                      // Negative fields below 10 get the "0" too, then the minus sign.
                      DateCase{broken_down(2016, -5, 1, 0, 0, 0), "2016-0-5-01T00:00:00"},
                      DateCase{broken_down(-44, 3, 15, 12, 0, 0), "-44-03-15T12:00:00"}));

TEST(DateTimeText, EmptyValueIsTheEmptyDateTime) {
  EXPECT_EQ(convert(XmlRpcValue()), "0-00-00T00:00:00");
}

TEST(DateTimeText, OtherKindsAreTheValueTypesError) {
  EXPECT_THROW(bugzilla::datetime_to_text(XmlRpcValue("20160309T07:05:00")),
               XmlRpc::XmlRpcException);
  EXPECT_THROW(bugzilla::datetime_to_text(XmlRpcValue(20160309)), XmlRpc::XmlRpcException);
}

// Fields no wire text can produce: the text is cut at 29 characters and nothing is written
// past the 30 bytes (the sanitizer build catches any overrun).
TEST(DateTimeText, ExtremeFieldsNeverOverrunTheBuffer) {
  const DateCase cases[] = {
      {broken_down(INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN),
       "-2147483648-0-2147483648-0-21"},
      {broken_down(INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX),
       "2147483647-2147483647-2147483"},
      {broken_down(INT_MIN, -1, -1, -1, -1, -1), "-2147483648-0-1-0-1T0-1:0-1:0"},
      {broken_down(2016, 3, 9, INT_MIN, INT_MAX, INT_MIN), "2016-03-09T0-2147483648:21474"},
      {broken_down(-2147483647, 100000, 100000, 100000, 100000, 100000),
       "-2147483647-100000-100000T100"},
  };
  for (const DateCase& c : cases) EXPECT_EQ(convert(XmlRpcValue(c.when)), c.text);
}

TEST(DateTimeText, ElevenCharacterYearWithCalendarFieldsFitsWhole) {
  EXPECT_EQ(convert(XmlRpcValue(broken_down(INT_MIN, 12, 31, 23, 59, 59))),
            "-2147483648-12-31T23:59:59");
}

}  // namespace
