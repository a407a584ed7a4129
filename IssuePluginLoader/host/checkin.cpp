#include "checkin.h"

#include "json_reader.h"

#include <XmlRpc/XmlRpcPlatform.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
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

class JsonFields {
public:
  JsonFields(const JsonValue& object, std::string where, const std::string& source)
      : object_(object), where_(std::move(where)), source_(source) {}

  [[noreturn]] void fail(const std::string& why) const {
    throw UsageError(source_ + ": " + where_ + ": " + why);
  }

  void only(std::initializer_list<const char*> names) const {
    if (object_.kind != JsonValue::Kind::Object) {
      fail(std::string("must be an object, not ") + json_kind_name(object_.kind));
    }
    for (const auto& member : object_.members) {
      bool known = false;
      for (const char* name : names) known = known || member.first == name;
      if (!known) fail("unknown member \"" + member.first + "\"");
    }
  }

  // A string member, or a number member kept as written when `numbers` allows it.
  std::optional<std::string> text(const char* name, bool required, bool numbers) const {
    const JsonValue* value = object_.find(name);
    if (value == nullptr) {
      if (required) fail(std::string("\"") + name + "\" is missing");
      return std::nullopt;
    }
    if (value->kind == JsonValue::Kind::String) return value->text;
    if (numbers && value->kind == JsonValue::Kind::Number) return value->text;
    fail(std::string("\"") + name + "\" must be a string" + (numbers ? " or a number" : "") +
         ", not " + json_kind_name(value->kind));
  }

  std::string nonempty(const char* name) const {
    std::string value = *text(name, true, false);
    if (value.empty()) fail(std::string("\"") + name + "\" is empty");
    return value;
  }

  const JsonValue* array(const char* name) const {
    const JsonValue* value = object_.find(name);
    if (value != nullptr && value->kind != JsonValue::Kind::Array) {
      fail(std::string("\"") + name + "\" must be an array, not " + json_kind_name(value->kind));
    }
    return value;
  }

  int32_t int32(const char* name) const {
    const JsonValue* value = object_.find(name);
    if (value == nullptr) fail(std::string("\"") + name + "\" is missing");
    int32_t out = 0;
    if (value->kind != JsonValue::Kind::Number || !parse_int32(value->text, out)) {
      fail(std::string("\"") + name + "\" must be a 32-bit integer");
    }
    return out;
  }

private:
  const JsonValue& object_;
  std::string where_;
  const std::string& source_;
};

}  // namespace

CheckIn parse_checkin_json(const std::string& text, const std::string& source) {
  JsonValue document;
  try {
    document = parse_json(text);
  } catch (const JsonError& error) {
    throw UsageError(source + ": not valid JSON: " + error.what());
  }
  CheckIn checkin;
  const JsonFields top(document, "the document", source);
  top.only({"hours", "comment", "bugs", "files"});
  checkin.hours = top.text("hours", false, true);
  checkin.comment = top.text("comment", false, false);
  if (const JsonValue* bugs = top.array("bugs")) {
    for (size_t i = 0; i < bugs->elements.size(); ++i) {
      const JsonFields bug(bugs->elements[i], "bugs[" + std::to_string(i) + "]", source);
      bug.only({"connection", "id"});
      BugRef ref;
      ref.connection = *bug.text("connection", true, false);
      ref.id = *bug.text("id", true, true);
      if (ref.id.empty()) bug.fail("\"id\" is empty");
      checkin.bugs.push_back(ref);
    }
  }
  if (const JsonValue* files = top.array("files")) {
    for (size_t i = 0; i < files->elements.size(); ++i) {
      const JsonFields entry(files->elements[i], "files[" + std::to_string(i) + "]", source);
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

CheckIn gather_checkin(const Arguments& arguments) {
  CheckIn checkin;
  if (arguments.files_json) {
    const std::string& path = *arguments.files_json;
    std::ifstream in(XmlRpc::platform::file_path(path), std::ios::binary);
    if (!in) throw UsageError("cannot read " + path + ": " + std::strerror(errno));
    std::ostringstream content;
    content << in.rdbuf();
    checkin = parse_checkin_json(content.str(), path);
  }
  for (const auto& bug : arguments.bugs) checkin.bugs.push_back(parse_bug_ref(bug));
  for (const auto& file : arguments.files) checkin.files.push_back(parse_file_version(file));
  if (arguments.hours) checkin.hours = arguments.hours;
  if (arguments.comment) checkin.comment = arguments.comment;
  if (checkin.bugs.empty()) throw UsageError("attach needs at least one bug (--bug CONNECTION:ID)");
  if (checkin.files.empty() && !(checkin.comment && !checkin.comment->empty())) {
    throw UsageError("attach needs at least one file (--file) or a --comment");
  }
  return checkin;
}

}  // namespace host
