// A check-in to attach to bugs, as the user describes it: --bug/--file options or a small
// JSON file (--files-json).
#pragma once

#include "commands/options.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace host {

struct BugRef {
  std::string connection;
  std::string id;
};

struct FileVersion {
  std::string mainline;
  std::string branch;
  std::string repository;
  std::string file;
  int32_t version = 0;
};

struct CheckIn {
  std::vector<BugRef> bugs;
  std::vector<FileVersion> files;
  std::optional<std::string> hours;
  std::optional<std::string> comment;
};

// CONNECTION:ID; the id follows the last colon, so connection names may hold colons.
BugRef parse_bug_ref(const std::string& text);
// MAINLINE:BRANCH:REPOSITORY:FILE:VERSION; the file name may hold colons (the first three
// and the last colon split), VERSION is a decimal 32-bit integer.
FileVersion parse_file_version(const std::string& text);

// The JSON form:
//   {"hours": "1.5", "comment": "...",                      (both optional)
//    "bugs": [{"connection": "Main", "id": "42"}, ...],
//    "files": [{"mainline": "M", "branch": "B", "repository": "R", "file": "F",
//               "version": 3}, ...]}
// "id" may be a string or an integer, "hours" a string or a number. Strict: unknown or
// repeated members, invalid UTF-8, comments and trailing commas are refused. Throws UsageError naming the file and the place.
CheckIn parse_checkin_json(const std::string& text, const std::string& source);

// The check-in of an attach command line: the JSON file's content first, then --bug and
// --file in their order; --hours and --comment replace the file's entries. Needs at least
// one bug, and a file or a comment (an empty Bugzilla comment is refused). Throws UsageError.
CheckIn gather_checkin(const Options& options);

}  // namespace host
