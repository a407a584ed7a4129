// The check-in as the user describes it, unit by unit: --bug and --file texts, and the strict
// --files-json format. The host is an executable, so the unit is compiled in here directly.
#include "../checkin/checkin.cpp"

#include <gtest/gtest.h>

namespace host {
namespace {

TEST(CheckIn, BugAndFileOptions) {
  const BugRef bug = parse_bug_ref("QA: nightly:42");
  EXPECT_EQ(bug.connection, "QA: nightly");
  EXPECT_EQ(bug.id, "42");
  const FileVersion file = parse_file_version("Main:Rel-2:widgets:C:/odd:name.c:-7");
  EXPECT_EQ(file.mainline, "Main");
  EXPECT_EQ(file.branch, "Rel-2");
  EXPECT_EQ(file.repository, "widgets");
  EXPECT_EQ(file.file, "C:/odd:name.c");
  EXPECT_EQ(file.version, -7);
  EXPECT_EQ(parse_file_version("M:B:R:f:2147483647").version, 2147483647);
  EXPECT_THROW(parse_file_version("M:B:R:f:2147483648"), UsageError);
  EXPECT_THROW(parse_file_version("M:B:R:f: 1"), UsageError);
  EXPECT_THROW(parse_file_version("M:B:R:f:"), UsageError);
}

std::string refused(const std::string& text) {
  try {
    parse_checkin_json(text, "c.json");
  } catch (const UsageError& error) {
    return error.what();
  }
  return "accepted";
}

TEST(CheckIn, JsonFormat) {
  const CheckIn checkin = parse_checkin_json(
      R"({"hours": 2.5, "bugs": [{"connection": "A", "id": 7}, {"connection": "B", "id": "x-1"}],
          "files": [{"mainline": "M", "branch": "B", "repository": "R", "file": "f",
                     "version": -1}]})",
      "c.json");
  EXPECT_EQ(checkin.hours.value_or("?"), "2.5");
  EXPECT_FALSE(checkin.comment.has_value());
  ASSERT_EQ(checkin.bugs.size(), 2u);
  EXPECT_EQ(checkin.bugs[0].connection, "A");
  EXPECT_EQ(checkin.bugs[0].id, "7");
  EXPECT_EQ(checkin.bugs[1].id, "x-1");
  ASSERT_EQ(checkin.files.size(), 1u);
  EXPECT_EQ(checkin.files[0].version, -1);

  EXPECT_EQ(refused(R"({"comment": 5})"),
            "c.json: the document: \"comment\" must be a string, not a number");
  EXPECT_EQ(refused(R"({"bugs": {}})"), "c.json: the document: \"bugs\" must be an array, not an object");
  EXPECT_EQ(refused(R"({"bugs": [{"connection": "A", "id": ""}]})"), "c.json: bugs[0]: \"id\" is empty");
  EXPECT_EQ(refused(R"({"files": [{"mainline": "M", "branch": "", "repository": "R", "file": "f", "version": 1}]})"),
            "c.json: files[0]: \"branch\" is empty");
  EXPECT_EQ(refused(R"({"files": [{"mainline": "M", "branch": "B", "repository": "R", "file": "f", "version": 1e3}]})"),
            "c.json: files[0]: \"version\" must be a 32-bit integer");
  EXPECT_EQ(refused(R"({"bugs": [{"connection": "A", "id": "1", "note": "x"}]})"),
            "c.json: bugs[0]: unknown member \"note\"");
}

// What the parser would quietly accept or repair is refused, naming the file.
TEST(CheckIn, JsonStrictness) {
  EXPECT_EQ(refused(R"({"bugs": [{"connection": "A", "id": "1", "id": "2"}]})"),
            "c.json: not valid JSON: member \"id\" given twice");
  EXPECT_EQ(refused(R"({"comment": "a", "files": [], "comment": "b"})"),
            "c.json: not valid JSON: member \"comment\" given twice");
  // Equal names in different objects are fine.
  EXPECT_EQ(refused(R"({"bugs": [{"connection": "A", "id": "1"}, {"connection": "A", "id": "2"}]})"),
            "accepted");
  for (const std::string& text : {std::string("{\"comment\": \"\xff\"}"), std::string("{\"comment\": \"\\ud834\"}"),
                                  std::string("{\"bugs\": [],}"), std::string("// c\n{}"), std::string("{} {}")}) {
    EXPECT_EQ(refused(text).rfind("c.json: not valid JSON: ", 0), 0u) << text;
  }
}

}  // namespace
}  // namespace host
