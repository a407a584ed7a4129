// The host's own JSON pieces, unit by unit: the string escaper and writer (checked against
// python's json module), the strict reader, and the check-in file format built on it.
//
// The host is an executable, not a library, so the units are compiled in here directly.
#include "../checkin.cpp"
#include "../json_reader.cpp"
#include "../json_writer.cpp"
#include "../utf8.cpp"

#include "host_process.h"

#include <gtest/gtest.h>

namespace host {
namespace {

TEST(JsonQuote, EscapesWhatJsonRequiresAndPassesUtf8) {
  EXPECT_EQ(json_quote(""), "\"\"");
  EXPECT_EQ(json_quote("a\"b\\c/d"), "\"a\\\"b\\\\c/d\"");
  EXPECT_EQ(json_quote("\n\r\t\b\f"), "\"\\n\\r\\t\\b\\f\"");
  EXPECT_EQ(json_quote(std::string("\x01\x1f\x7f", 3)), "\"\\u0001\\u001f\x7f\"");
  EXPECT_EQ(json_quote(std::string("nul\0here", 8)), "\"nul\\u0000here\"");
  EXPECT_EQ(json_quote("Größe – ✓ 𝄞"), "\"Größe – ✓ 𝄞\"");
}

TEST(JsonQuote, InvalidUtf8BecomesReplacementCharacters) {
  EXPECT_EQ(json_quote("\xff"), "\"\\ufffd\"");
  EXPECT_EQ(json_quote("a\xc3"), "\"a\\ufffd\"");                  // cut sequence
  EXPECT_EQ(json_quote("\xc0\xaf"), "\"\\ufffd\\ufffd\"");         // overlong
  EXPECT_EQ(json_quote("\xed\xa0\x80"), "\"\\ufffd\\ufffd\\ufffd\"");  // surrogate
  EXPECT_EQ(json_quote("\xf4\x90\x80\x80"), "\"\\ufffd\\ufffd\\ufffd\\ufffd\"");  // > U+10FFFF
  EXPECT_EQ(json_quote("\xe2\x82\xac"), "\"€\"");
}

TEST(JsonWriter, EveryByteStringSurvivesAnIndependentReader) {
  // All 256 byte values, and some multi-byte sequences, valid and broken.
  std::string bytes;
  for (int c = 0; c < 256; ++c) bytes += static_cast<char>(c);
  bytes += "Größe\xe2\x82";
  JsonWriter json;
  json.begin_object()
      .key("bytes").value(bytes)
      .key("nested").begin_array().value(1).value(true).null().begin_object().end_object()
      .end_array()
      .key("empty").begin_array().end_array()
      .key("k\"ey").value(static_cast<const char*>(nullptr))
      .end_object();
  auto flat = host_test::flatten_json(json.str());
  ASSERT_EQ(flat.count("!error"), 0u) << flat["!error"] << json.str();
  std::string expected;  // what a reader must see: the bytes, invalid ones as U+FFFD
  for (int c = 0; c < 128; ++c) expected += static_cast<char>(c);
  for (int c = 128; c < 256; ++c) expected += "\xef\xbf\xbd";
  expected += "Größe\xef\xbf\xbd\xef\xbf\xbd";
  EXPECT_EQ(flat["/bytes"], expected);
  EXPECT_EQ(flat["/nested/0"], "1");
  EXPECT_EQ(flat["/nested/1"], "true");
  EXPECT_EQ(flat["/nested/2"], "null");
  EXPECT_EQ(flat["/nested/3"], "{}");
  EXPECT_EQ(flat["/empty"], "[]");
  EXPECT_EQ(flat["/k\"ey"], "null");
}

TEST(JsonReader, ReadsEveryKind) {
  const JsonValue value = parse_json(
      " {\"s\": \"a\\\"\\\\\\/\\b\\f\\n\\r\\t\\u00e9\\u20ac\\ud834\\udd1e\", \"n\": -12.5e+3,"
      " \"z\": 0, \"t\": true, \"f\": false, \"nil\": null, \"a\": [1, [], {}], \"u\": \"Grüße\"} ");
  ASSERT_EQ(value.kind, JsonValue::Kind::Object);
  EXPECT_EQ(value.find("s")->text, "a\"\\/\b\f\n\r\té€𝄞");
  EXPECT_EQ(value.find("n")->kind, JsonValue::Kind::Number);
  EXPECT_EQ(value.find("n")->text, "-12.5e+3");
  EXPECT_EQ(value.find("z")->text, "0");
  EXPECT_TRUE(value.find("t")->boolean);
  EXPECT_EQ(value.find("f")->kind, JsonValue::Kind::Boolean);
  EXPECT_FALSE(value.find("f")->boolean);
  EXPECT_EQ(value.find("nil")->kind, JsonValue::Kind::Null);
  EXPECT_EQ(value.find("a")->elements.size(), 3u);
  EXPECT_EQ(value.find("u")->text, "Grüße");
  EXPECT_EQ(value.members.front().first, "s");  // document order kept
  EXPECT_EQ(value.find("absent"), nullptr);
}

struct BadJson {
  const char* name;  // the case's name in the test list
  std::string text;
  const char* error;  // the start of the reason, after the position
};

// Shown when a case fails, instead of the object's bytes.
void PrintTo(const BadJson& bad, std::ostream* out) { *out << bad.name; }

class JsonReaderRefuses : public ::testing::TestWithParam<BadJson> {};

TEST_P(JsonReaderRefuses, WithPositionAndReason) {
  try {
    parse_json(GetParam().text);
    ADD_FAILURE() << "accepted: " << GetParam().text;
  } catch (const JsonError& error) {
    EXPECT_TRUE(std::string(error.what()).find(GetParam().error) != std::string::npos) << error.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Strictness, JsonReaderRefuses,
    ::testing::Values(BadJson{"EmptyDocument", "", "line 1, column 1: unexpected end"},
                      BadJson{"TwoDocuments", "{} {}", "unexpected text after the document"},
                      BadJson{"TrailingCommaInArray", "[1,]", "unexpected character ']'"},
                      BadJson{"TrailingCommaInObject", "{\"a\": 1,}", "expected a member name"},
                      BadJson{"MissingColon", "{\"a\" 1}", "expected ':'"},
                      BadJson{"DuplicateMember", "{\"a\": 1, \"a\": 2}",
                              "line 1, column 10: member \"a\" given twice"},
                      BadJson{"MissingComma", "[1 2]", "expected ',' or ']'"},
                      BadJson{"Comment", "// note\n{}", "unexpected character '/'"},
                      BadJson{"SingleQuotedName", "{'a': 1}", "expected a member name"},
                      BadJson{"LeadingZero", "[01]", "must not start with 0"},
                      BadJson{"NoFractionDigits", "[1.]", "a digit is missing"},
                      BadJson{"MinusAlone", "[-]", "a digit is missing"},
                      BadJson{"NoExponentDigits", "[1e]", "a digit is missing"},
                      BadJson{"MisspelledLiteral", "[tru]", "invalid literal"},
                      BadJson{"RawLineFeedInString", "[\"a\nb\"]", "control character in a string"},
                      BadJson{"UnknownEscape", "[\"\\x\"]", "unknown escape"},
                      BadJson{"BadUnicodeEscape", "[\"\\u12G4\"]", "four hexadecimal digits"},
                      BadJson{"LoneHighSurrogate", "[\"\\ud834\"]", "unpaired surrogate"},
                      BadJson{"LoneLowSurrogate", "[\"\\udd1e\"]", "unpaired surrogate"},
                      BadJson{"InvalidUtf8", "[\"\xff\"]", "invalid UTF-8"},
                      BadJson{"UnterminatedString", "[\"abc", "unterminated string"},
                      BadJson{"PositionCountsLines", "\n\n  [x]", "line 3, column 4"},
                      BadJson{"NestedTooDeeply", std::string(65, '[') + std::string(65, ']'),
                              "nested too deeply"}),
    [](const ::testing::TestParamInfo<BadJson>& info) { return info.param.name; });

TEST(JsonReader, NestingUpToTheLimitIsFine) {
  EXPECT_NO_THROW(parse_json(std::string(64, '[') + std::string(64, ']')));
}

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

TEST(CheckIn, JsonFormat) {
  const CheckIn checkin = parse_checkin_json(
      R"({"hours": 2.5, "bugs": [{"connection": "A", "id": 7}, {"connection": "B", "id": "x-1"}],
          "files": [{"mainline": "M", "branch": "B", "repository": "R", "file": "f",
                     "version": -1}]})",
      "c.json");
  EXPECT_EQ(checkin.hours.value_or("?"), "2.5");  // kept as written
  EXPECT_FALSE(checkin.comment.has_value());
  ASSERT_EQ(checkin.bugs.size(), 2u);
  EXPECT_EQ(checkin.bugs[0].connection, "A");
  EXPECT_EQ(checkin.bugs[0].id, "7");
  EXPECT_EQ(checkin.bugs[1].id, "x-1");
  ASSERT_EQ(checkin.files.size(), 1u);
  EXPECT_EQ(checkin.files[0].version, -1);

  const auto refused = [](const std::string& text) {
    try {
      parse_checkin_json(text, "c.json");
    } catch (const UsageError& error) {
      return std::string(error.what());
    }
    return std::string("accepted");
  };
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
  EXPECT_EQ(refused("{"), "c.json: not valid JSON: line 1, column 2: expected a member name in double quotes");
}

}  // namespace
}  // namespace host
