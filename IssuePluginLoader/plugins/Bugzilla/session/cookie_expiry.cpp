// Whether the session cookie kept in the cookie file is still good for an hour or more.
//
// The file is read as pieces cut at ';' (line breaks stay inside a piece). The first piece
// that begins with " expires" carries the date that counts; a file without one holds only
// session cookies, which the server keeps alive, so it counts as not expired.
//
// A piece is kept to its first 499 characters. The rest of a longer piece is skipped up to the
// next ';' and the scan goes on, so an expiry attribute after a long cookie value is still
// found; a long piece that itself begins with " expires" is parsed from its first 499
// characters.
#include "cookie_expiry.h"

#include <XmlRpc/XmlRpcPlatform.h>

#include <cstdint>
#include <cstring>
#include <ctime>

namespace bugzilla {
namespace {

constexpr size_t kMaxPieceLength = 499;
constexpr char kExpiresPrefix[] = " expires";
constexpr size_t kExpiresPrefixLength = sizeof(kExpiresPrefix) - 1;
constexpr double kMarginSeconds = 3600.0;

// Reads up to the next ';' or the end of the file into `piece` (at most kMaxPieceLength
// characters kept, NUL-terminated). False when the end of the file was reached.
bool read_piece(std::FILE* stream, char (&piece)[kMaxPieceLength + 1]) {
  size_t length = 0;
  int c;
  while ((c = std::fgetc(stream)) != EOF && c != ';') {
    if (length < kMaxPieceLength) piece[length++] = static_cast<char>(c);
  }
  piece[length] = '\0';
  return c != EOF;
}

// Days before the first of each month in a common year.
struct MonthEntry {
  const char name[4];
  int days_before;
};
constexpr MonthEntry kMonths[] = {
    {"Jan", 0},   {"Feb", 31},  {"Mar", 59},  {"Apr", 90},  {"May", 120}, {"Jun", 151},
    {"Jul", 181}, {"Aug", 212}, {"Sep", 243}, {"Oct", 273}, {"Nov", 304}, {"Dec", 334}};

// Index of the month name (matched exactly, case-sensitively), or -1.
int month_index(const char* name) {
  for (int i = 0; i < 12; ++i) {
    if (std::strcmp(kMonths[i].name, name) == 0) return i;
  }
  return -1;
}

int64_t floor_div(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

// Leap years of the Gregorian calendar from year 1 up to and including `year` (negative for
// years before 1, which keeps the difference of two counts right across year 0).
int64_t leap_years_through(int64_t year) {
  return floor_div(year, 4) - floor_div(year, 100) + floor_div(year, 400);
}

bool is_leap_year(int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Seconds since 1970-01-01 00:00 UTC on the true (proleptic Gregorian) calendar: the leap
// days of the years between 1970 and the expiry's year, and the expiry's own leap day when
// the date lies after February. Computed in 64 bits, so no year or day a scan can deliver
// overflows.
double expiry_seconds(int day, int month, int year, int hour, int minute) {
  const int64_t y = year;
  const int64_t leap_days = leap_years_through(y - 1) - leap_years_through(1969);
  int64_t days = (y - 1970) * 365 + leap_days + kMonths[month].days_before + (int64_t{day} - 1);
  if (month >= 2 && is_leap_year(y)) ++days;
  const int64_t seconds = ((days * 24 + hour) * 60 + minute) * 60;
  return static_cast<double>(seconds);
}

}  // namespace

int cookie_expired(std::FILE* stream) {
  return cookie_expired(stream, static_cast<double>(XmlRpc::platform::now_seconds()));
}

int cookie_expired(std::FILE* stream, double now_seconds) {
  char piece[kMaxPieceLength + 1];
  bool is_expiry = false;
  bool more = true;
  while (more && !is_expiry) {
    more = read_piece(stream, piece);
    is_expiry = std::strncmp(piece, kExpiresPrefix, kExpiresPrefixLength) == 0;
  }
  if (!is_expiry) return 0;

  // Fields the scan cannot reach keep these starting values; an unread month stays empty.
  int day = 0;
  int year = 0;
  int hour = 0;
  int minute = 0;
  char month_name[4] = {0, 0, 0, 0};
  // The number of fields read does not matter: what was read counts, the rest stays 0.
  (void)std::sscanf(piece, "%*s %d  %*c %3c - %d %d : %d", &day, month_name, &year, &hour,
                    &minute);

  const int month = month_index(month_name);
  if (month < 0) return 1;

  const double expiry = expiry_seconds(day, month, year, hour, minute);
  return expiry - now_seconds <= kMarginSeconds ? 1 : 0;
}

}  // namespace bugzilla
