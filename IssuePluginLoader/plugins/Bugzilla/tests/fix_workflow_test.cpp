// The fix-workflow fields and the checks of the user's entries, called directly and through
// the loaded plug-in's exports.
#include "fix_workflow.h"
#include "records.h"

#include "plugin_loader.h"
#include "reply_values.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace {

using bugzilla::get_fix_workflow;
using bugzilla::validate_workflow;

// A field list as the host passes it back: each entry in the first choice's label. Records
// live in deques so that the pointers handed out stay valid.
class HostFields {
public:
  explicit HostFields(const std::vector<std::string>& entries) {
    for (const std::string& entry : entries) {
      texts_.push_back(entry);
      choices_.push_back(FieldChoice{&texts_.back()[0], nullptr, 0});
      choice_lists_.push_back(&choices_.back());
      records_.push_back(CustomFieldRecord{nullptr, nullptr, 3, &choice_lists_.back(), 1});
      pointers_.push_back(&records_.back());
    }
  }
  CustomFieldRecord** get() { return pointers_.data(); }
  int32_t count() const { return static_cast<int32_t>(pointers_.size()); }
  CustomFieldRecord& field(size_t i) { return records_[i]; }

private:
  std::deque<std::string> texts_;
  std::deque<FieldChoice> choices_;
  std::deque<FieldChoice*> choice_lists_;
  std::deque<CustomFieldRecord> records_;
  std::vector<CustomFieldRecord*> pointers_;
};

struct Verdict {
  int32_t result;
  int32_t valid;
  std::string message;  // "<untouched>" when error_out kept the host's value
};

char kHostSentinel[] = "set by the host";

Verdict validate(CustomFieldRecord** fields, int32_t count) {
  int32_t valid = -7;
  char* error = kHostSentinel;
  const int32_t result = validate_workflow(fields, count, &valid, &error);
  Verdict verdict{result, valid, "<untouched>"};
  if (error != kHostSentinel) {
    verdict.message = error ? error : "<null>";
    bugzilla::free_string(error);
  }
  return verdict;
}

Verdict validate(const std::vector<std::string>& entries) {
  HostFields fields(entries);
  return validate(fields.get(), fields.count());
}

const std::string kTooManyHours = "Too Many Hours Worked";
const std::string kCommentTooLong = "Comment must be less than 60,000 characters";
const std::string kWrongCount = "Wrong Number of Fields";

TEST(GetFixWorkflow, HandsOutHoursAndCommentFields) {
  CustomFieldRecord** fields = nullptr;
  int32_t count = -1;
  char* error = kHostSentinel;
  ASSERT_EQ(0, get_fix_workflow(&fields, &count, &error));
  EXPECT_EQ(nullptr, error);
  ASSERT_EQ(2, count);
  ASSERT_NE(nullptr, fields);
  EXPECT_STREQ("Hours Worked", fields[0]->label);
  EXPECT_STREQ("work_time", fields[0]->key);
  EXPECT_EQ(2, fields[0]->type);
  EXPECT_EQ(nullptr, fields[0]->choices);
  EXPECT_EQ(0, fields[0]->choice_count);
  EXPECT_STREQ("Comment", fields[1]->label);
  EXPECT_STREQ("comment", fields[1]->key);
  EXPECT_EQ(3, fields[1]->type);
  EXPECT_EQ(nullptr, fields[1]->choices);
  EXPECT_EQ(0, fields[1]->choice_count);
  EXPECT_NE(fields[0]->label, fields[1]->label);
  bugzilla::free_custom_fields_list(fields, static_cast<uint32_t>(count));
}

struct HoursCase {
  const char* entry;
  bool passes;
};

class HoursEntry : public ::testing::TestWithParam<HoursCase> {};

TEST_P(HoursEntry, IsReadLikeStrtolAndCheckedAgainstTheUpperBoundOnly) {
  const HoursCase& c = GetParam();
  const Verdict verdict = validate({c.entry, "a comment"});
  EXPECT_EQ(0, verdict.result);
  if (c.passes) {
    EXPECT_EQ(1, verdict.valid);
    EXPECT_EQ("<untouched>", verdict.message);
  } else {
    EXPECT_EQ(0, verdict.valid);
    EXPECT_EQ(kTooManyHours, verdict.message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Entries, HoursEntry,
    ::testing::Values(HoursCase{"99999", true}, HoursCase{"100000", false},
                      HoursCase{"-3", true}, HoursCase{"0", true}, HoursCase{"", true},
                      HoursCase{"7 hours", true}, HoursCase{"99999.99", true},
                      HoursCase{" \t\n+99999", true}, HoursCase{"  100000", false},
                      HoursCase{"+100000", false}, HoursCase{"100000 hours", false},
                      HoursCase{"hours 100000", true}, HoursCase{"0x186A0", true},
                      HoursCase{"2147483647", false}, HoursCase{"2147483648", false},
                      HoursCase{"99999999999999999999999", false},
                      HoursCase{"-2147483649", true},
                      HoursCase{"-99999999999999999999999", true},
                      HoursCase{"- 100000", true}));

TEST(ReadHours, SaturatesAtThe32BitLimits) {
  EXPECT_EQ(2147483647, bugzilla::read_hours("2147483647"));
  EXPECT_EQ(2147483647, bugzilla::read_hours("2147483648"));
  EXPECT_EQ(2147483647, bugzilla::read_hours("18446744073709551617"));
  EXPECT_EQ(-2147483647 - 1, bugzilla::read_hours("-2147483648"));
  EXPECT_EQ(-2147483647 - 1, bugzilla::read_hours("-2147483649"));
  EXPECT_EQ(-2147483647 - 1, bugzilla::read_hours("-18446744073709551617"));
  EXPECT_EQ(42, bugzilla::read_hours("  42abc"));
  EXPECT_EQ(0, bugzilla::read_hours(nullptr));
}

TEST(ValidateWorkflow, CommentMustStayBelow60000Bytes) {
  const Verdict shorter = validate({"1", std::string(59999, 'c')});
  EXPECT_EQ(0, shorter.result);
  EXPECT_EQ(1, shorter.valid);
  EXPECT_EQ("<untouched>", shorter.message);

  const Verdict exact = validate({"1", std::string(60000, 'c')});
  EXPECT_EQ(0, exact.result);
  EXPECT_EQ(0, exact.valid);
  EXPECT_EQ(kCommentTooLong, exact.message);

  // Bytes, not characters: 30000 two-byte UTF-8 characters are 60000 bytes.
  std::string utf8;
  for (int i = 0; i < 30000; ++i) utf8 += "\xC3\xA9";
  EXPECT_EQ(kCommentTooLong, validate({"1", utf8}).message);
}

TEST(ValidateWorkflow, OnlyTheFirstFailingCheckIsReported) {
  const Verdict verdict = validate({"200000", std::string(60001, 'c')});
  EXPECT_EQ(0, verdict.result);
  EXPECT_EQ(0, verdict.valid);
  EXPECT_EQ(kTooManyHours, verdict.message);
}

TEST(ValidateWorkflow, WrongNumberOfFieldsIsCheckedBeforeTheContents) {
  for (const std::vector<std::string>& entries :
       {std::vector<std::string>{"1"}, std::vector<std::string>{"1", "ok", "extra"},
        std::vector<std::string>{"200000"},
        std::vector<std::string>{"1", std::string(70000, 'c'), "x"}}) {
    const Verdict verdict = validate(entries);
    EXPECT_EQ(0, verdict.result);
    EXPECT_EQ(0, verdict.valid);
    EXPECT_EQ(kWrongCount, verdict.message) << entries.size() << " fields";
  }
  EXPECT_EQ(kWrongCount, validate(nullptr, 0).message);
  EXPECT_EQ(kWrongCount, validate(nullptr, -2).message);
}

TEST(ValidateWorkflow, FieldsAreTakenByPositionNotByKey) {
  // The host swapped the fields: the comment is read as hours, the hours measured as comment.
  HostFields swapped({"123456 is my comment", "1"});
  swapped.field(0).key = const_cast<char*>("comment");
  swapped.field(1).key = const_cast<char*>("work_time");
  EXPECT_EQ(kTooManyHours, validate(swapped.get(), swapped.count()).message);

  HostFields long_hours({"a short comment", std::string(60000, '9')});
  EXPECT_EQ(kCommentTooLong, validate(long_hours.get(), long_hours.count()).message);

  const Verdict harmless = validate({"fixed it", "3"});
  EXPECT_EQ(1, harmless.valid);
}

TEST(ValidateWorkflow, FieldWithoutAFirstChoiceReadsAsEmpty) {
  HostFields no_choices({"x", "y"});
  no_choices.field(0).choices = nullptr;
  no_choices.field(0).choice_count = 0;
  no_choices.field(1).choice_count = 0;  // a list, but said to be empty
  EXPECT_EQ(1, validate(no_choices.get(), no_choices.count()).valid);

  HostFields null_labels({"x", "y"});
  null_labels.field(0).choices[0]->label = nullptr;
  null_labels.field(1).choices[0] = nullptr;
  EXPECT_EQ(1, validate(null_labels.get(), null_labels.count()).valid);

  // An empty comment does not hide an hours entry that is too large.
  HostFields null_comment({"100000", "y"});
  null_comment.field(1).choices = nullptr;
  null_comment.field(1).choice_count = 0;
  EXPECT_EQ(kTooManyHours, validate(null_comment.get(), null_comment.count()).message);

  CustomFieldRecord* null_records[2] = {nullptr, nullptr};
  EXPECT_EQ(1, validate(null_records, 2).valid);
  EXPECT_EQ(1, validate(nullptr, 2).valid);
}

TEST(ValidateWorkflow, ReadsOnlyTheFirstChoice) {
  HostFields fields({"1", "ok"});
  std::string long_second(70000, 'z');
  FieldChoice second{&long_second[0], nullptr, 0};
  FieldChoice* two[2] = {fields.field(1).choices[0], &second};
  fields.field(1).choices = two;
  fields.field(1).choice_count = 2;
  EXPECT_EQ(1, validate(fields.get(), fields.count()).valid);
}

#if defined(__SANITIZE_ADDRESS__)
TEST(FixWorkflowBuffers, EveryTextHasExactlyItsSize) {
  CustomFieldRecord** fields = nullptr;
  int32_t count = 0;
  char* error = nullptr;
  ASSERT_EQ(0, get_fix_workflow(&fields, &count, &error));
  for (int32_t i = 0; i < count; ++i) {
    EXPECT_EQ(std::strlen(fields[i]->label) + 1, __sanitizer_get_allocated_size(fields[i]->label));
    EXPECT_EQ(std::strlen(fields[i]->key) + 1, __sanitizer_get_allocated_size(fields[i]->key));
  }
  bugzilla::free_custom_fields_list(fields, static_cast<uint32_t>(count));

  struct Rejection {
    std::vector<std::string> entries;
    size_t size;
  };
  for (const Rejection& r : {Rejection{{"1"}, 23u}, Rejection{{"100000", ""}, 22u},
                             Rejection{{"1", std::string(60000, 'c')}, 44u}}) {
    HostFields host(r.entries);
    int32_t valid = 1;
    char* message = nullptr;
    ASSERT_EQ(0, validate_workflow(host.get(), host.count(), &valid, &message));
    ASSERT_NE(nullptr, message);
    EXPECT_EQ(r.size, __sanitizer_get_allocated_size(message)) << message;
    bugzilla::free_string(message);
  }
}
#endif

// The same through the exports of the loaded library, as the host calls them.
class FixWorkflowExports : public ::testing::Test {
protected:
  test_support::LoadedPlugin plugin{BUGZILLA_PLUGIN_PATH};
};

TEST_F(FixWorkflowExports, GetFixWorkflowAndRelease) {
  CustomFieldRecord** fields = nullptr;
  int32_t count = 0;
  char* error = kHostSentinel;
  ASSERT_EQ(0, plugin.GetFixWorkflow(nullptr, nullptr, nullptr, &fields, &count, &error));
  EXPECT_EQ(nullptr, error);
  ASSERT_EQ(2, count);
  EXPECT_STREQ("work_time", fields[0]->key);
  EXPECT_STREQ("comment", fields[1]->key);
  plugin.FreeCustomFieldsList(fields, static_cast<uint32_t>(count));
}

TEST_F(FixWorkflowExports, ValidateWorkflowVerdictsAndNullTexts) {
  HostFields fields({"100000", "c"});
  int32_t valid = -1;
  char* error = nullptr;
  EXPECT_EQ(0, plugin.ValidateWorkflow(nullptr, nullptr, nullptr, fields.get(), fields.count(),
                                       &valid, &error));
  EXPECT_EQ(0, valid);
  ASSERT_NE(nullptr, error);
  EXPECT_EQ(kTooManyHours, error);
  plugin.FreeString(error);

  fields.field(0).choices[0]->label = nullptr;
  fields.field(1).choices = nullptr;
  error = kHostSentinel;
  EXPECT_EQ(0, plugin.ValidateWorkflow(nullptr, nullptr, nullptr, fields.get(), fields.count(),
                                       &valid, &error));
  EXPECT_EQ(1, valid);
  EXPECT_EQ(kHostSentinel, error);

  error = nullptr;
  EXPECT_EQ(0, plugin.ValidateWorkflow(nullptr, nullptr, nullptr, fields.get(), 3, &valid,
                                       &error));
  EXPECT_EQ(0, valid);
  ASSERT_NE(nullptr, error);
  EXPECT_EQ(kWrongCount, error);
  plugin.FreeString(error);
}

}  // namespace
