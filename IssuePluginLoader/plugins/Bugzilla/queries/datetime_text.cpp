// Bugzilla date-times as the text the host shows: YYYY-MM-DDTHH:MM:SS.
#include "datetime_text.h"

#include <cstdio>
#include <ctime>

namespace bugzilla {

namespace {

// Appends one piece at the end of the text, never past the buffer: a piece that does not fit
// is cut, and everything after it is dropped.
class BoundedText {
public:
  explicit BoundedText(char* buffer) : buffer_(buffer) { buffer_[0] = '\0'; }

  void append(const char* format, int number) {
    if (used_ + 1 >= kDateTimeTextSize) return;
    const int written = std::snprintf(buffer_ + used_, kDateTimeTextSize - used_, format, number);
    if (written < 0) return;
    used_ += static_cast<size_t>(written);
    if (used_ >= kDateTimeTextSize) used_ = kDateTimeTextSize - 1;
  }

  // Numbers of 9 or less gain one leading "0" (negative ones too: "0-5").
  void append_padded(const char* format, int number) {
    if (number <= 9) append("%d", 0);
    append(format, number);
  }

private:
  char* buffer_;
  size_t used_ = 0;
};

}  // namespace

char* datetime_to_text(XmlRpc::XmlRpcValue value) {
  value.assertTypeOrInvalid(XmlRpc::XmlRpcValue::TypeDateTime);
  // The value holds the full year and the month counted from 1, as the wire text has them.
  const std::tm when = value.asDateTime();
  char* buffer = new char[kDateTimeTextSize];
  BoundedText text(buffer);
  text.append("%d-", when.tm_year);
  text.append_padded("%d-", when.tm_mon);
  text.append_padded("%dT", when.tm_mday);
  text.append_padded("%d:", when.tm_hour);
  text.append_padded("%d:", when.tm_min);
  text.append_padded("%d", when.tm_sec);
  return buffer;
}

}  // namespace bugzilla
