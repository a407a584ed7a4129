#include "checkin/checkin.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

namespace host {

namespace {

bool parse_int32(const std::string& text, int32_t& out) {
  if (text.empty() || !(text[0] == '-' || (text[0] >= '0' && text[0] <= '9'))) return false;
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < INT32_MIN || value > INT32_MAX) return false;
  out = static_cast<int32_t>(value);
  return true;
}

}  // namespace

BugRef parse_bug_ref(const std::string& text) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) {
    throw UsageError("--bug needs CONNECTION:ID, got \"" + text + "\"");
  }
  return BugRef{text.substr(0, colon), text.substr(colon + 1)};
}

FileVersion parse_file_version(const std::string& text) {
  const auto bad = [&](const std::string& why) {
    return UsageError("--file needs MAINLINE:BRANCH:REPOSITORY:FILE:VERSION (" + why +
                      "), got \"" + text + "\"");
  };
  size_t cuts[3];
  size_t from = 0;
  for (size_t& cut : cuts) {
    cut = text.find(':', from);
    if (cut == std::string::npos) throw bad("too few parts");
    from = cut + 1;
  }
  const size_t last = text.rfind(':');
  if (last <= cuts[2]) throw bad("too few parts");
  FileVersion file;
  file.mainline = text.substr(0, cuts[0]);
  file.branch = text.substr(cuts[0] + 1, cuts[1] - cuts[0] - 1);
  file.repository = text.substr(cuts[1] + 1, cuts[2] - cuts[1] - 1);
  file.file = text.substr(cuts[2] + 1, last - cuts[2] - 1);
  if (file.mainline.empty() || file.branch.empty() || file.repository.empty() ||
      file.file.empty()) {
    throw bad("a part is empty");
  }
  if (!parse_int32(text.substr(last + 1), file.version)) {
    throw bad("VERSION is not a 32-bit integer");
  }
  return file;
}

namespace {

using nlohmann::json;

// The parser keeps the last of two equal member names; a check-in that says two things about
// one member is refused instead.
bool refuse_repeated_members(std::vector<std::set<std::string>>& open_objects,
                             json::parse_event_t event, const json& parsed) {
  if (event == json::parse_event_t::object_start) open_objects.emplace_back();
  if (event == json::parse_event_t::object_end) open_objects.pop_back();
  if (event == json::parse_event_t::key &&
      !open_objects.back().insert(parsed.get<std::string>()).second) {
    throw UsageError("member \"" + parsed.get<std::string>() + "\" given twice");
  }
  return true;
}

class JsonFields {
public:
  JsonFields(const json& object, std::string where, const std::string& source)
      : object_(object), where_(std::move(where)), source_(source) {}

  [[noreturn]] void fail(const std::string& why) const {
    throw UsageError(source_ + ": " + where_ + ": " + why);
  }

  void only(std::initializer_list<const char*> names) const {
    if (!object_.is_object()) fail(std::string("must be an object, not ") + kind(object_));
    for (const auto& member : object_.items()) {
      bool known = false;
      for (const char* name : names) known = known || member.key() == name;
      if (!known) fail("unknown member \"" + member.key() + "\"");
    }
  }

  // A string member, or a number member in its text form when `numbers` allows it.
  std::optional<std::string> text(const char* name, bool required, bool numbers) const {
    const auto value = object_.find(name);
    if (value == object_.end()) {
      if (required) fail(std::string("\"") + name + "\" is missing");
      return std::nullopt;
    }
    if (value->is_string()) return value->get<std::string>();
    if (numbers && value->is_number()) return value->dump();
    fail(std::string("\"") + name + "\" must be a string" + (numbers ? " or a number" : "") +
         ", not " + kind(*value));
  }

  std::string nonempty(const char* name) const {
    std::string value = *text(name, true, false);
    if (value.empty()) fail(std::string("\"") + name + "\" is empty");
    return value;
  }

  const json* array(const char* name) const {
    const auto value = object_.find(name);
    if (value == object_.end()) return nullptr;
    if (!value->is_array()) {
      fail(std::string("\"") + name + "\" must be an array, not " + kind(*value));
    }
    return &*value;
  }

  int32_t int32(const char* name) const {
    const auto value = object_.find(name);
    if (value == object_.end()) fail(std::string("\"") + name + "\" is missing");
    int32_t out = 0;
    if (!value->is_number_integer() || !parse_int32(value->dump(), out)) {
      fail(std::string("\"") + name + "\" must be a 32-bit integer");
    }
    return out;
  }

private:
  static const char* kind(const json& value) {
    return value.is_number() ? "a number" : value.is_object() ? "an object"
           : value.is_array() ? "an array" : value.is_string() ? "a string"
           : value.is_boolean() ? "a boolean" : "null";
  }

  const json& object_;
  std::string where_;
  const std::string& source_;
};

}  // namespace

CheckIn parse_checkin_json(const std::string& text, const std::string& source) {
  json document;
  std::vector<std::set<std::string>> open_objects;
  try {
    document = json::parse(text, [&](int, json::parse_event_t event, json& parsed) {
      return refuse_repeated_members(open_objects, event, parsed);
    });
  } catch (const json::parse_error& error) {
    // Without the library's "[json.exception.parse_error.101] " tag: the reader wants the place.
    const std::string reason = error.what();
    const size_t tag_end = reason.find("] ");
    throw UsageError(source + ": not valid JSON: " +
                     (tag_end == std::string::npos ? reason : reason.substr(tag_end + 2)));
  } catch (const UsageError& error) {
    throw UsageError(source + ": not valid JSON: " + error.what());
  }
  CheckIn checkin;
  const JsonFields top(document, "the document", source);
  top.only({"hours", "comment", "bugs", "files"});
  checkin.hours = top.text("hours", false, true);
  checkin.comment = top.text("comment", false, false);
  if (const json* bugs = top.array("bugs")) {
    for (size_t i = 0; i < bugs->size(); ++i) {
      const JsonFields bug((*bugs)[i], "bugs[" + std::to_string(i) + "]", source);
      bug.only({"connection", "id"});
      BugRef ref;
      ref.connection = *bug.text("connection", true, false);
      ref.id = *bug.text("id", true, true);
      if (ref.id.empty()) bug.fail("\"id\" is empty");
      checkin.bugs.push_back(ref);
    }
  }
  if (const json* files = top.array("files")) {
    for (size_t i = 0; i < files->size(); ++i) {
      const JsonFields entry((*files)[i], "files[" + std::to_string(i) + "]", source);
      entry.only({"mainline", "branch", "repository", "file", "version"});
      FileVersion file;
      file.mainline = entry.nonempty("mainline");
      file.branch = entry.nonempty("branch");
      file.repository = entry.nonempty("repository");
      file.file = entry.nonempty("file");
      file.version = entry.int32("version");
      checkin.files.push_back(file);
    }
  }
  return checkin;
}

CheckIn gather_checkin(const Options& options) {
  CheckIn checkin;
  if (options.files_json) {
    const std::string& path = *options.files_json;
    std::ifstream in(path, std::ios::binary);
    if (!in) throw UsageError("cannot read " + path + ": " + std::strerror(errno));
    std::ostringstream content;
    content << in.rdbuf();
    checkin = parse_checkin_json(content.str(), path);
  }
  for (const auto& bug : options.bugs) checkin.bugs.push_back(parse_bug_ref(bug));
  for (const auto& file : options.files) checkin.files.push_back(parse_file_version(file));
  if (options.hours) checkin.hours = options.hours;
  if (options.comment) checkin.comment = options.comment;
  if (checkin.bugs.empty()) throw UsageError("attach needs at least one bug (--bug CONNECTION:ID)");
  if (checkin.files.empty() && !(checkin.comment && !checkin.comment->empty())) {
    throw UsageError("attach needs at least one file (--file) or a --comment");
  }
  return checkin;
}

}  // namespace host
