// Bugzilla versions compared by their numbers: "5.10" comes after "5.2" and "10.0" after
// "3.6". bugzilla.mozilla.org answers a date ("20260820.1"), newer than any release.
#pragma once

#include <string>

namespace bugzilla {

// True when `version` is older than major.minor. Missing parts count as 0 ("5" is 5.0); text
// after the numbers ("5.0rc1", "4.4.14+") is not read; a version without a leading number
// ("", "unknown") is older than any.
bool version_below(const std::string& version, int major, int minor);

}  // namespace bugzilla
