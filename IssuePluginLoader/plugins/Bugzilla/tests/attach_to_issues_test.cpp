// Attaching check-ins to bugs: the comment texts and their split, the Bug.add_comment
// parameters, failed comments and the early failures, against the Bugzilla test server.
#include "attachment_comment.h"
#include "fix_workflow.h"
#include "plugin_sessions.h"
#include "reply_values.h"
#include "records.h"
#include "test_server.h"

#include <XmlRpc/XmlRpcException.h>
#include <XmlRpc/XmlRpcValue.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <limits>
#include <memory>
#include <ostream>
#include <string>
#include <vector>


namespace bugzilla {

// Found by argument-dependent lookup, so beside CommentSpan rather than in the unnamed namespace.
inline bool operator==(const CommentSpan& a, const CommentSpan& b) {
  return a.fix_header == b.fix_header && a.first_file == b.first_file &&
         a.file_count == b.file_count;
}

inline std::ostream& operator<<(std::ostream& out, const CommentSpan& span) {
  return out << "{" << span.fix_header << "," << span.first_file << "," << span.file_count
             << "}";
}

namespace {

using test_support::TestServer;
using test_support::fault_args;
using XmlRpc::XmlRpcValue;

// ---------------------------------------------------------------------------------------
// Comment text and its split, without a server.

struct PlanCase {
  const char* name;
  bool header;
  size_t header_estimate;
  std::vector<size_t> blocks;
  std::vector<CommentSpan> expected;
};

void PrintTo(const PlanCase& c, std::ostream* out) { *out << c.name; }

class CommentPlan : public ::testing::TestWithParam<PlanCase> {};

TEST_P(CommentPlan, SpreadsFilesWithoutPassingTheLimit) {
  const PlanCase& c = GetParam();
  EXPECT_EQ(c.expected, plan_comments(c.header, c.header_estimate, c.blocks));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommentPlan,
    ::testing::Values(
        PlanCase{"NoFilesNoHeader", false, 0, {}, {{false, 0, 0}}},
        PlanCase{"NoFilesHeader", true, 20, {}, {{true, 0, 0}}},
        PlanCase{"HugeHeaderNoFiles", true, 90000, {}, {{true, 0, 0}}},
        PlanCase{"AllInOne", true, 20, {200, 300, 400}, {{true, 0, 3}}},
        PlanCase{"ExactlyAtTheLimit", false, 0, {65000, 530, 1}, {{false, 0, 2}, {false, 2, 1}}},
        PlanCase{"OneByteOver", false, 0, {65000, 531, 1}, {{false, 0, 1}, {false, 1, 2}}},
        PlanCase{"HeaderPlusFileAtTheLimit", true, 65000, {530}, {{true, 0, 1}}},
        PlanCase{"LongHeaderGoesOutAlone", true, 65000, {531, 100}, {{true, 0, 0}, {false, 0, 2}}},
        PlanCase{"OversizedHeaderAlone", true, 70000, {100}, {{true, 0, 0}, {false, 0, 1}}},
        PlanCase{"OversizedFileAlone", false, 0, {100, 70000, 100},
                 {{false, 0, 1}, {false, 1, 1}, {false, 2, 1}}},
        PlanCase{"OversizedFirstFileWithoutHeader", false, 0, {70000}, {{false, 0, 1}}},
        PlanCase{"ThreeComments", true, 100, {30000, 30000, 30000, 30000, 30000},
                 {{true, 0, 2}, {false, 2, 2}, {false, 4, 1}}}),
    [](const ::testing::TestParamInfo<PlanCase>& info) { return info.param.name; });

TEST(CommentText, BlockAndHeaderLayout) {
  char mainline[] = "Main";
  char branch[] = "dev";
  char repository[] = "widgets";
  char file[] = "src/a.c";
  AttachedFile attached{mainline, branch, repository, file, 12};
  VelloranServer server{"vcs.example.com", 8081};
  std::string text;
  append_fix_header(text, "Fixed it");
  append_file_block(text, attached, server);
  EXPECT_EQ(
      "Fix Comment: Fixed it\n\n"
      "Velloran Attachment\nMainline: Main\nBranch: dev\nRepository: widgets\n"
      "File: src/a.c\nVersion: 12\nkova://vcs.example.com:8081//dev//widgets/src/a.c\n\n",
      text);
  EXPECT_EQ(8u + 15u, fix_header_estimate("Fixed it"));
  EXPECT_EQ(115u + 4 + 15 + 2 * (3 + 7 + 7), file_block_estimate(attached, server));
}

TEST(CommentText, NullTextsReadAsEmpty) {
  AttachedFile attached{nullptr, nullptr, nullptr, nullptr, -1};
  VelloranServer server;
  std::string text;
  append_fix_header(text, nullptr);
  append_file_block(text, attached, server);
  EXPECT_EQ(
      "Fix Comment: \n\nVelloran Attachment\nMainline: \nBranch: \nRepository: \nFile: \n"
      "Version: -1\nkova://:0/////\n\n",
      text);
  EXPECT_EQ(115u, file_block_estimate(attached, server));
}

TEST(CommentText, EstimateNeverUndercountsTheBlock) {
  // The widest numbers both fields can hold.
  for (int number : {std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), 0}) {
    std::string long_name(300, 'n');
    AttachedFile attached{&long_name[0], &long_name[0], &long_name[0], &long_name[0], number};
    VelloranServer server{"255.255.255.255", number};
    std::string text;
    append_file_block(text, attached, server);
    EXPECT_LE(text.size(), file_block_estimate(attached, server)) << number;
  }
}

// ---------------------------------------------------------------------------------------
// Host records, built the way the host passes them: texts it owns, read only by the plug-in.

struct HostFile {
  std::string mainline;
  std::string branch;
  std::string repository;
  std::string file;
  int32_t version;
};

class HostIssue {
public:
  HostIssue(std::string id, std::string connection, const std::vector<HostFile>& files = {},
            const std::vector<std::string>& fix_entries = {})
      : id_(std::move(id)), connection_(std::move(connection)) {
    for (const HostFile& file : files) {
      files_text_.push_back(file);
      HostFile& owned = files_text_.back();
      files_.push_back(AttachedFile{&owned.mainline[0], &owned.branch[0], &owned.repository[0],
                                    &owned.file[0], owned.version});
      file_pointers_.push_back(&files_.back());
    }
    for (const std::string& entry : fix_entries) {
      entries_.push_back(entry);
      choices_.push_back(FieldChoice{&entries_.back()[0], nullptr, 0});
      choice_lists_.push_back(&choices_.back());
      fields_.push_back(CustomFieldRecord{nullptr, nullptr, 3, &choice_lists_.back(), 1});
      field_pointers_.push_back(&fields_.back());
    }
    record_.issue_id = &id_[0];
    record_.connection_name = &connection_[0];
    record_.files = file_pointers_.empty() ? nullptr : file_pointers_.data();
    record_.file_count = static_cast<uint32_t>(file_pointers_.size());
    record_.fix_fields = field_pointers_.empty() ? nullptr : field_pointers_.data();
    record_.fix_field_count = static_cast<int32_t>(field_pointers_.size());
  }
  HostIssue(const HostIssue&) = delete;
  HostIssue& operator=(const HostIssue&) = delete;

  IssueAttachment* get() { return &record_; }
  AttachedFile& file(size_t i) { return files_[i]; }
  CustomFieldRecord& field(size_t i) { return fields_[i]; }

private:
  std::string id_, connection_;
  std::deque<HostFile> files_text_;
  std::deque<AttachedFile> files_;
  std::vector<AttachedFile*> file_pointers_;
  std::deque<std::string> entries_;
  std::deque<FieldChoice> choices_;
  std::deque<FieldChoice*> choice_lists_;
  std::deque<CustomFieldRecord> fields_;
  std::vector<CustomFieldRecord*> field_pointers_;
  IssueAttachment record_{};
};

struct Failed {
  std::string id, connection, message;  // message "<null>" when none
  bool operator==(const Failed& other) const {
    return id == other.id && connection == other.connection && message == other.message;
  }
};

std::ostream& operator<<(std::ostream& out, const Failed& failed) {
  return out << "{" << failed.id << ", " << failed.connection << ", " << failed.message << "}";
}

FailedAttachment* const kUntouchedList[1] = {nullptr};
constexpr int32_t kUntouchedCount = -5;

// The out-parameters of one call, preset so that "not written" shows; released afterwards.
struct Outcome {
  int32_t code = -1;
  std::string error;  // "<null>" when none
  bool list_null = false;
  int32_t count = kUntouchedCount;
  std::vector<Failed> failed;
};

const char kAlice[] = "alice@example.com";
const char kAlicePassword[] = "alice-pass-1";
const char kNoServerInfo[] = "Error getting server info from BugzillaConnections.txt";
const char kNoConnection[] = "Error getting connection info from BugzillaConnections.txt";
const char kReceiveFailed[] = "Add Comment failed to receive response from Bugzilla server";

std::string block(const HostFile& f, const std::string& ip = "vcs.example.com",
                  int port = 8081) {
  return "Velloran Attachment\nMainline: " + f.mainline + "\nBranch: " + f.branch +
         "\nRepository: " + f.repository + "\nFile: " + f.file +
         "\nVersion: " + std::to_string(f.version) + "\nkova://" + ip + ":" +
         std::to_string(port) + "//" + f.branch + "//" + f.repository + "/" + f.file + "\n\n";
}

class AttachTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    main_ = new TestServer();
    other_ = new TestServer();
  }
  static void TearDownTestSuite() {
    delete main_;
    delete other_;
    main_ = other_ = nullptr;
  }

  void SetUp() override {
    main_->reset();
    other_->reset();
    write_connections();
    test_support::reset_plugin_state(dir_);
    context_.login = const_cast<char*>(kAlice);
    context_.password = const_cast<char*>(kAlicePassword);
    context_.connection_name = nullptr;  // not read: each issue names its own
  }

  void write_connections(const std::string& velloran_host = "vcs.example.com",
                         int velloran_port = 8081) {
    dir_.write("BugzillaConnections.txt",
               test_support::connections_file({test_support::connection_for(*main_, "Main"),
                                               test_support::connection_for(*other_, "Other")},
                                              velloran_host, velloran_port));
  }

  Outcome attach(std::vector<HostIssue*> issues) {
    std::vector<IssueAttachment*> records;
    for (HostIssue* issue : issues) records.push_back(issue->get());
    FailedAttachment** list = const_cast<FailedAttachment**>(kUntouchedList);
    int32_t count = kUntouchedCount;
    char* error = reinterpret_cast<char*>(&count);  // must be replaced
    Outcome out;
    out.code = attach_to_issues(context_, records.data(), static_cast<uint32_t>(records.size()),
                                &list, &count, &error);
    out.count = count;
    out.error = error ? error : "<null>";
    out.list_null = list == nullptr;
    if (list != nullptr && list != kUntouchedList) {
      for (int32_t i = 0; i < count; ++i) {
        out.failed.push_back(Failed{list[i]->id, list[i]->connection,
                                    list[i]->message ? list[i]->message : "<null>"});
      }
      free_failed_attachment_list(list, static_cast<uint32_t>(count));
    }
    free_string(error);
    return out;
  }

  // The parameter structs of every Bug.add_comment the server received, in order.
  static std::vector<XmlRpcValue> comments_sent(TestServer& server) {
    std::vector<XmlRpcValue> sent;
    XmlRpcValue requests = server.requests();
    for (int i = 0; i < requests.size(); ++i) {
      if (requests[i]["method"].toText() != "Bug.add_comment") continue;
      EXPECT_EQ(1, requests[i]["params"].size());
      sent.push_back(requests[i]["params"][0]);
    }
    return sent;
  }

  // The texts of the bug's comments on the server (trailing blanks are dropped there).
  static std::vector<std::string> comments_on(TestServer& server, int bug) {
    std::vector<std::string> texts;
    XmlRpcValue record = server.bug(bug);
    for (int i = 0; i < record["comments"].size(); ++i) {
      texts.push_back(record["comments"][i]["text"].toText());
    }
    return texts;
  }

  static std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
  }

  static std::vector<std::string> member_names(const XmlRpcValue& value) {
    std::vector<std::string> names;
    for (const auto& member : value.structValue()) names.push_back(member.first);
    return names;
  }

  // The token of alice's session on the main server (a reference: a test may empty it).
  static std::string& main_token() {
    static std::shared_ptr<bugzilla::Session> held;
    held = test_support::plugin_session(*main_, kAlice, kAlicePassword);
    return held->token;
  }

  static TestServer* main_;
  static TestServer* other_;
  test_support::TempDir dir_;
  RequestContext context_{};
};

TestServer* AttachTest::main_ = nullptr;
TestServer* AttachTest::other_ = nullptr;

const HostFile kWidgetFile{"Main", "dev", "widgets", "src/frob.c", 12};
const HostFile kGizmoFile{"Main", "release-2.4", "gizmos", "include/gizmo.h", 3};

using Names = std::vector<std::string>;

TEST_F(AttachTest, OneFileWithFixFieldsIsOneCommentWithHeaderAndHours) {
  HostIssue issue("1", "Main", {kWidgetFile}, {"2.50", "Fixed the crash"});
  const size_t before = comments_on(*main_, 1).size();

  const Outcome out = attach({&issue});
  EXPECT_EQ(0, out.code);
  EXPECT_EQ("<null>", out.error);
  EXPECT_TRUE(out.list_null);
  EXPECT_EQ(0, out.count);

  EXPECT_EQ((Names{"User.login", "Bug.add_comment"}), main_->methods());
  EXPECT_TRUE(other_->methods().empty());
  std::vector<XmlRpcValue> sent = comments_sent(*main_);
  ASSERT_EQ(1u, sent.size());
  const std::string expected =
      "Fix Comment: Fixed the crash\n\nVelloran Attachment\nMainline: Main\nBranch: dev\n"
      "Repository: widgets\nFile: src/frob.c\nVersion: 12\n"
      "kova://vcs.example.com:8081//dev//widgets/src/frob.c\n\n";
  EXPECT_EQ((Names{"work_time", "comment", "id", "token"}), member_names(sent[0]));
  EXPECT_EQ(XmlRpcValue("2.50"), sent[0]["work_time"]);  // as typed, as a text
  EXPECT_EQ(XmlRpcValue(expected), sent[0]["comment"]);
  EXPECT_EQ(XmlRpcValue("1"), sent[0]["id"]);
  EXPECT_FALSE(main_token().empty());
  EXPECT_EQ(XmlRpcValue(main_token()), sent[0]["token"]);

  const std::vector<std::string> on_server = comments_on(*main_, 1);
  ASSERT_EQ(before + 1, on_server.size());
  EXPECT_EQ(trimmed(expected), on_server.back());
  EXPECT_EQ(XmlRpcValue(2.5), main_->bug(1)["comments"][static_cast<int>(before)]["work_time"]);
}

TEST_F(AttachTest, WithoutExactlyTwoFixFieldsTheCommentIsTheBlocksAlone) {
  for (const std::vector<std::string>& entries :
       {std::vector<std::string>{}, std::vector<std::string>{"3", "ignored", "third"},
        std::vector<std::string>{"3"}}) {
    main_->reset();
    main_token().clear();
    HostIssue issue("2", "Main", {kWidgetFile, kGizmoFile}, entries);
    const Outcome out = attach({&issue});
    EXPECT_EQ(0, out.code);
    EXPECT_TRUE(out.list_null);
    std::vector<XmlRpcValue> sent = comments_sent(*main_);
    ASSERT_EQ(1u, sent.size()) << entries.size() << " fields";
    EXPECT_EQ((Names{"comment", "id", "token"}), member_names(sent[0]));
    EXPECT_EQ(XmlRpcValue(block(kWidgetFile) + block(kGizmoFile)), sent[0]["comment"]);
    EXPECT_EQ(XmlRpcValue("2"), sent[0]["id"]);
  }
}

TEST_F(AttachTest, NoFilesWithFixFieldsSendsTheHeaderAlone) {
  HostIssue issue("3", "Main", {}, {"-3", "Reviewed, nothing to change"});
  const Outcome out = attach({&issue});
  EXPECT_EQ(0, out.code);
  EXPECT_TRUE(out.list_null);
  std::vector<XmlRpcValue> sent = comments_sent(*main_);
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ(XmlRpcValue("Fix Comment: Reviewed, nothing to change\n\n"), sent[0]["comment"]);
  EXPECT_EQ(XmlRpcValue("-3"), sent[0]["work_time"]);
  EXPECT_EQ("Fix Comment: Reviewed, nothing to change", comments_on(*main_, 3).back());
}

TEST_F(AttachTest, NoFilesAndNoFixFieldsSendsAnEmptyCommentThatBugzillaRefuses) {
  HostIssue issue("3", "Main");
  HostIssue next("2", "Main", {kWidgetFile});
  const Outcome out = attach({&issue, &next});
  EXPECT_EQ(0, out.code);
  EXPECT_EQ("<null>", out.error);
  std::vector<XmlRpcValue> sent = comments_sent(*main_);
  ASSERT_EQ(2u, sent.size());
  EXPECT_EQ((Names{"comment", "id", "token"}), member_names(sent[0]));
  EXPECT_EQ(XmlRpcValue(""), sent[0]["comment"]);
  ASSERT_EQ(1, out.count);
  EXPECT_EQ((Failed{"3", "Main",
                    "The function requires a comment argument, and that argument was not set."}),
            out.failed[0]);
  EXPECT_EQ(trimmed(block(kWidgetFile)), comments_on(*main_, 2).back());
}

// Files whose blocks are about 5 kB each: twelve fit in one comment, and a thirteenth would
// take it past the 65535 characters Bugzilla accepts.
std::vector<HostFile> long_files(int count) {
  std::vector<HostFile> files;
  for (int i = 0; i < count; ++i) {
    const std::string n = std::to_string(i);
    files.push_back(HostFile{"Mainline-" + n, "branch-" + n + std::string(500, 'b'),
                             "repo-" + n + std::string(600, 'r'),
                             "dir/" + std::string(1400, 'f') + "/file-" + n + ".c", i + 1});
  }
  return files;
}

std::vector<size_t> blocks_per_comment(const std::vector<XmlRpcValue>& sent) {
  std::vector<size_t> counts;
  for (const XmlRpcValue& comment : sent) {
    const std::string text = comment.find("comment")->toText();
    size_t count = 0;
    for (size_t at = text.find("Velloran Attachment\n"); at != std::string::npos;
         at = text.find("Velloran Attachment\n", at + 1)) {
      ++count;
    }
    counts.push_back(count);
  }
  return counts;
}

TEST_F(AttachTest, ManyLongFilesAreSpreadOverCommentsThatBugzillaAccepts) {
  const std::vector<HostFile> files = long_files(30);
  HostIssue issue("1", "Main", files, {"4", "Large check-in"});
  const size_t before = comments_on(*main_, 1).size();

  const Outcome out = attach({&issue});
  EXPECT_EQ(0, out.code);
  EXPECT_TRUE(out.list_null) << (out.failed.empty() ? "" : out.failed[0].message);

  std::vector<XmlRpcValue> sent = comments_sent(*main_);
  ASSERT_EQ(3u, sent.size());
  std::string joined;
  for (size_t i = 0; i < sent.size(); ++i) {
    const std::string text = sent[i]["comment"].toText();
    EXPECT_LE(text.size(), kCommentLimit) << "comment " << i;
    EXPECT_EQ(i == 0, sent[i].hasMember("work_time")) << "comment " << i;
    EXPECT_EQ(XmlRpcValue("1"), sent[i]["id"]);
    EXPECT_EQ(i == 0, text.rfind("Fix Comment: ", 0) == 0) << "comment " << i;
    joined += text;
  }
  // Every file once, in order, and nothing else.
  std::string expected = "Fix Comment: Large check-in\n\n";
  for (const HostFile& file : files) expected += block(file);
  EXPECT_EQ(expected, joined);

  // Packed as tightly as the estimate allows: blocks of about 5190 estimated bytes, so twelve
  // fit within 65530 and a thirteenth (which the plain running-total rule would still add,
  // making a comment Bugzilla refuses) does not.
  EXPECT_EQ((std::vector<size_t>{12, 12, 6}), blocks_per_comment(sent));

  const std::vector<std::string> on_server = comments_on(*main_, 1);
  ASSERT_EQ(before + 3, on_server.size());
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(trimmed(sent[i]["comment"].toText()), on_server[before + i]);
  }
}

TEST_F(AttachTest, LongFixHeaderGoesOutAloneWithTheHours) {
  // A comment just under the validation limit and a file whose block does not fit beside it.
  const std::string fix_comment(59990, 'c');
  const HostFile big{"Main", std::string(1000, 'b'), std::string(1000, 'r'),
                     std::string(1500, 'f'), 1};
  HostIssue issue("1", "Main", {big, kWidgetFile}, {"1.5", fix_comment});
  const Outcome out = attach({&issue});
  EXPECT_EQ(0, out.code);
  EXPECT_TRUE(out.list_null) << (out.failed.empty() ? "" : out.failed[0].message);

  std::vector<XmlRpcValue> sent = comments_sent(*main_);
  ASSERT_EQ(2u, sent.size());
  EXPECT_EQ(XmlRpcValue("Fix Comment: " + fix_comment + "\n\n"), sent[0]["comment"]);
  EXPECT_EQ(XmlRpcValue("1.5"), sent[0]["work_time"]);
  EXPECT_EQ(XmlRpcValue(block(big) + block(kWidgetFile)), sent[1]["comment"]);
  EXPECT_FALSE(sent[1].hasMember("work_time"));
}

TEST_F(AttachTest, TwoIssuesOnTwoConnectionsUseTheirOwnServers) {
  HostIssue first("1", "Main", {kWidgetFile});
  HostIssue second("3", "Other", {kGizmoFile});
  const Outcome out = attach({&first, &second});
  EXPECT_EQ(0, out.code);
  EXPECT_TRUE(out.list_null);

  std::vector<XmlRpcValue> on_main = comments_sent(*main_);
  std::vector<XmlRpcValue> on_other = comments_sent(*other_);
  ASSERT_EQ(1u, on_main.size());
  ASSERT_EQ(1u, on_other.size());
  EXPECT_EQ(XmlRpcValue("1"), on_main[0]["id"]);
  EXPECT_EQ(XmlRpcValue(block(kWidgetFile)), on_main[0]["comment"]);
  EXPECT_EQ(XmlRpcValue("3"), on_other[0]["id"]);
  EXPECT_EQ(XmlRpcValue(block(kGizmoFile)), on_other[0]["comment"]);
  // Each server was logged into for its own comment.
  EXPECT_EQ(main_->methods().front(), "User.login");
  EXPECT_EQ(other_->methods().front(), "User.login");
  EXPECT_EQ(trimmed(block(kGizmoFile)), comments_on(*other_, 3).back());
}

TEST_F(AttachTest, RefusedAndCutCommentsAreListedWhileLaterIssuesGoOn) {
  main_->inject("Bug.add_comment", "fault",
                fault_args(410, "You must log in before using this part of Bugzilla."), 1);
  other_->inject("Bug.add_comment", "close", XmlRpcValue(), 1);
  HostIssue refused("1", "Main", {kWidgetFile});
  HostIssue cut("3", "Other", {kGizmoFile});
  HostIssue fine("2", "Main", {kGizmoFile}, {"1", "Done"});
  const size_t before = comments_on(*main_, 2).size();

  const Outcome out = attach({&refused, &cut, &fine});
  EXPECT_EQ(0, out.code);
  EXPECT_EQ("<null>", out.error);
  ASSERT_EQ(2, out.count);
  EXPECT_EQ((std::vector<Failed>{
                {"1", "Main", "You must log in before using this part of Bugzilla."},
                {"3", "Other", kReceiveFailed}}),
            out.failed);
  ASSERT_EQ(before + 1, comments_on(*main_, 2).size());
  EXPECT_EQ(trimmed("Fix Comment: Done\n\n" + block(kGizmoFile)), comments_on(*main_, 2).back());
}

TEST_F(AttachTest, TwoOfThreeCommentsFailing) {
  const std::vector<HostFile> files = long_files(30);
  HostIssue issue("1", "Main", files);
  main_->inject("Bug.add_comment", "fault", fault_args(114, "Comments cannot be longer."), 2);
  const size_t before = comments_on(*main_, 1).size();

  const Outcome out = attach({&issue});
  EXPECT_EQ(0, out.code);
  EXPECT_EQ((std::vector<Failed>{{"1", "Main", "Comments cannot be longer."},
                                 {"1", "Main", "Comments cannot be longer."}}),
            out.failed);
  std::vector<XmlRpcValue> sent = comments_sent(*main_);
  ASSERT_EQ(3u, sent.size());
  EXPECT_EQ((std::vector<size_t>{12, 12, 6}), blocks_per_comment(sent));
  const std::vector<std::string> on_server = comments_on(*main_, 1);
  ASSERT_EQ(before + 1, on_server.size());
  EXPECT_EQ(trimmed(sent[2]["comment"].toText()), on_server.back());
}

TEST_F(AttachTest, RefusedLoginIsListedLikeARefusedComment) {
  context_.password = const_cast<char*>("wrong");
  HostIssue issue("1", "Main", {kWidgetFile});
  const Outcome out = attach({&issue});
  EXPECT_EQ(0, out.code);
  ASSERT_EQ(1, out.count);
  EXPECT_EQ((Failed{"1", "Main", "The login or password you entered is not valid."}),
            out.failed[0]);
  EXPECT_EQ((Names{"User.login"}), main_->methods());
}

TEST_F(AttachTest, UnknownConnectionOnTheSecondIssueStopsWithoutTheList) {
  main_->inject("Bug.add_comment", "fault", fault_args(102, "Not authorised"), 1);
  HostIssue failing("5", "Main", {kWidgetFile});
  HostIssue added("2", "Main", {kWidgetFile});
  HostIssue unknown("3", "Nowhere", {kWidgetFile});
  HostIssue never("4", "Main", {kWidgetFile});
  const size_t before = comments_on(*main_, 2).size();

  const Outcome out = attach({&failing, &added, &unknown, &never});
  EXPECT_EQ(1, out.code);
  EXPECT_EQ(kNoConnection, out.error);
  EXPECT_TRUE(out.list_null);                 // set to null on entry, never handed out
  EXPECT_EQ(kUntouchedCount, out.count);      // not written
  EXPECT_EQ(before + 1, comments_on(*main_, 2).size());  // the earlier comment stays
  EXPECT_EQ(2u, comments_sent(*main_).size());            // nothing after the stop
}

TEST_F(AttachTest, ZeroIssuesStillReadTheServerInformation) {
  Outcome out = attach({});
  EXPECT_EQ(0, out.code);
  EXPECT_EQ("<null>", out.error);
  EXPECT_TRUE(out.list_null);
  EXPECT_EQ(0, out.count);
  EXPECT_TRUE(main_->methods().empty());

  dir_.write("BugzillaConnections.txt",
             "<bugzilla_connections><velloran_server><ip_address>x</ip_address>"
             "<port>eighty</port></velloran_server></bugzilla_connections>");
  out = attach({});
  EXPECT_EQ(1, out.code);
  EXPECT_EQ(kNoServerInfo, out.error);
  EXPECT_EQ(kUntouchedCount, out.count);
  EXPECT_TRUE(out.list_null);
}

TEST_F(AttachTest, BrokenServerSectionSendsNothing) {
  const std::string main_connection =
      "<connection><name>Main</name><server_url>http://127.0.0.1</server_url><port>" +
      std::to_string(main_->port()) +
      "</port><web_service_extension>/xmlrpc.cgi</web_service_extension></connection>";
  const std::vector<std::string> broken = {
      // no <velloran_server> at all
      "<bugzilla_connections>" + main_connection + "</bugzilla_connections>",
      // a port that is no number
      "<bugzilla_connections><velloran_server><ip_address>h</ip_address><port>eighty</port>"
      "</velloran_server>" + main_connection + "</bugzilla_connections>",
      // not XML
      "velloran_server = vcs.example.com:8081",
  };
  for (const std::string& text : broken) {
    dir_.write("BugzillaConnections.txt", text);
    HostIssue issue("1", "Main", {kWidgetFile});
    const Outcome out = attach({&issue});
    EXPECT_EQ(1, out.code) << text;
    EXPECT_EQ(kNoServerInfo, out.error) << text;
    EXPECT_EQ(kUntouchedCount, out.count);
    EXPECT_TRUE(main_->methods().empty()) << text;
  }
}

TEST_F(AttachTest, MissingConnectionsFile) {
  std::remove(dir_.file("BugzillaConnections.txt").c_str());
  Outcome out = attach({});
  EXPECT_EQ(0, out.code);
  EXPECT_TRUE(out.list_null);
  EXPECT_EQ(0, out.count);

  HostIssue issue("1", "Main", {kWidgetFile});
  out = attach({&issue});
  EXPECT_EQ(1, out.code);
  EXPECT_EQ(kNoConnection, out.error);
  EXPECT_EQ(kUntouchedCount, out.count);
}

TEST_F(AttachTest, ServerAddressAndPortComeFromTheConnectionsFile) {
  write_connections("10.1.2.3", 4711);
  HostIssue issue("1", "Main", {kWidgetFile});
  EXPECT_EQ(0, attach({&issue}).code);
  std::vector<XmlRpcValue> sent = comments_sent(*main_);
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ(XmlRpcValue(block(kWidgetFile, "10.1.2.3", 4711)), sent[0]["comment"]);
}

TEST_F(AttachTest, FirstCommentAfterAFreshStartCarriesTheTokenOfItsLogin) {
  // A server that also sets the login cookie, so that the session is kept between comments.
  main_->configure("login_style", XmlRpcValue("both"));
  ASSERT_TRUE(main_token().empty());
  HostIssue first("1", "Main", {kWidgetFile});
  HostIssue second("2", "Main", {kWidgetFile});
  const Outcome out = attach({&first, &second});
  EXPECT_EQ(0, out.code);
  EXPECT_TRUE(out.list_null) << (out.failed.empty() ? "" : out.failed[0].message);

  EXPECT_EQ((Names{"User.login", "Bug.add_comment", "Bug.add_comment"}), main_->methods());
  const std::string token = main_token();
  ASSERT_FALSE(token.empty());
  std::vector<XmlRpcValue> sent = comments_sent(*main_);
  ASSERT_EQ(2u, sent.size());
  EXPECT_EQ(XmlRpcValue(token), sent[0]["token"]);
  EXPECT_EQ(XmlRpcValue(token), sent[1]["token"]);
}

TEST_F(AttachTest, NullHostTextsReadAsEmpty) {
  HostIssue issue("1", "Main", {kWidgetFile}, {"x", "y"});
  issue.file(0).mainline = nullptr;
  issue.file(0).branch = nullptr;
  issue.file(0).repository = nullptr;
  issue.file(0).file = nullptr;
  issue.field(0).choices = nullptr;         // hours: no choice at all
  issue.field(1).choices[0]->label = nullptr;  // comment: a choice without label
  const Outcome out = attach({&issue});
  EXPECT_EQ(0, out.code);
  EXPECT_TRUE(out.list_null) << (out.failed.empty() ? "" : out.failed[0].message);
  std::vector<XmlRpcValue> sent = comments_sent(*main_);
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ(XmlRpcValue("Fix Comment: \n\n" + block(HostFile{"", "", "", "", 12})),
            sent[0]["comment"]);
  EXPECT_EQ(XmlRpcValue(""), sent[0]["work_time"]);
}

TEST_F(AttachTest, ReplyOfAnUnexpectedKindPropagatesWithoutLeaking) {
  // The first issue's refusal is gathered, then a reply whose fault code is an array cannot
  // be read: the exception leaves, and the gathered entry must not leak (checked by ASan).
  main_->inject("Bug.add_comment", "fault", fault_args(102, "Not authorised"), 1);
  XmlRpcValue odd;
  odd["faultCode"][0] = 1;
  odd["faultString"] = "odd";
  XmlRpcValue args;
  args["member"] = "";
  args["value"] = odd;
  main_->inject("Bug.add_comment", "wrong_kind", args, 1);
  HostIssue refused("1", "Main", {kWidgetFile});
  HostIssue odd_reply("2", "Main", {kWidgetFile});
  std::vector<IssueAttachment*> records = {refused.get(), odd_reply.get()};
  FailedAttachment** list = const_cast<FailedAttachment**>(kUntouchedList);
  int32_t count = kUntouchedCount;
  char* error = nullptr;
  EXPECT_THROW(attach_to_issues(context_, records.data(), 2, &list, &count, &error),
               XmlRpc::XmlRpcException);
  EXPECT_EQ(nullptr, list);
  EXPECT_EQ(kUntouchedCount, count);
  EXPECT_EQ(nullptr, error);
}

#if defined(__SANITIZE_ADDRESS__)
TEST_F(AttachTest, HandedOutTextsHaveExactlyTheirSize) {
  main_->inject("Bug.add_comment", "fault", fault_args(102, "Not authorised"), 1);
  HostIssue issue("1", "Main", {kWidgetFile});
  FailedAttachment** list = nullptr;
  int32_t count = 0;
  char* error = nullptr;
  std::vector<IssueAttachment*> records = {issue.get()};
  ASSERT_EQ(0, attach_to_issues(context_, records.data(), 1, &list, &count, &error));
  ASSERT_EQ(1, count);
  EXPECT_EQ(sizeof(FailedAttachment*), __sanitizer_get_allocated_size(list));
  EXPECT_EQ(2u, __sanitizer_get_allocated_size(list[0]->id));
  EXPECT_EQ(5u, __sanitizer_get_allocated_size(list[0]->connection));
  EXPECT_EQ(15u, __sanitizer_get_allocated_size(list[0]->message));
  free_failed_attachment_list(list, 1);

  std::remove(dir_.file("BugzillaConnections.txt").c_str());
  ASSERT_EQ(1, attach_to_issues(context_, records.data(), 1, &list, &count, &error));
  EXPECT_EQ(sizeof(kNoConnection), __sanitizer_get_allocated_size(error));
  free_string(error);
}
#endif

}  // namespace
}  // namespace bugzilla
