// Whether the session cookie kept in the cookie file is still good for an hour or more.
#pragma once

#include <cstdio>

namespace bugzilla {

// 1 when the cookie file's first expiry lies within the next hour (or is unreadable), 0 when
// it lies further ahead or the file has no expiry. Pieces longer than 499 characters are cut
// to 499 and the scan goes on past them. `now_seconds`: the clock, seconds since 1970 UTC.
int cookie_expired(std::FILE* stream);
int cookie_expired(std::FILE* stream, double now_seconds);

}  // namespace bugzilla
