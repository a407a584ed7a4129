// attach against the Bugzilla test server: a check-in from options or from a JSON file, the
// fix entries, failed comments, and what is refused before anything is sent.
#include "host_fixture.h"

namespace host_test {
namespace {

class Attach : public HostTest {
protected:
  Outcome attach(std::vector<std::string> extra) {
    std::vector<std::string> args{"attach", "--user", kDemoUser};
    args.insert(args.end(), extra.begin(), extra.end());
    return host(args);
  }

  // The texts of a bug's comments on the server, oldest first.
  static std::vector<std::string> comments(int bug) {
    XmlRpc::XmlRpcValue record = server_->bug(bug);
    std::vector<std::string> texts;
    for (int i = 0; i < record["comments"].size(); ++i) {
      texts.push_back(record["comments"][i]["text"].toText());
    }
    return texts;
  }
};

const std::vector<std::string> kThreeFiles = {
    "--file", "Main:Main:widgets:src/frobnicator.c:12",
    "--file", "Main:Release-2.5:widgets:docs/manual.txt:3",
    "--file", "Main:Main:widgets:build/config:with:colons.mk:7"};

TEST_F(Attach, ThreeFilesToTwoBugsWithTheFixEntries) {
  const size_t before1 = comments(1).size(), before3 = comments(3).size();
  std::vector<std::string> args{"--bug", "Demo:1", "--bug", "Demo:3", "--hours", "1.5",
                                "--comment", "Fixed the start-up crash"};
  args.insert(args.end(), kThreeFiles.begin(), kThreeFiles.end());
  const Outcome run = attach(args);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "Check-in of 3 files for Demo:1, Demo:3, with the fix entries.\n"
            "Every comment was added.\n");
  EXPECT_EQ(run.err, "");

  for (const auto& [bug, before] : {std::pair<int, size_t>{1, before1}, {3, before3}}) {
    const auto texts = comments(bug);
    ASSERT_EQ(texts.size(), before + 1) << "bug " << bug;
    const std::string& text = texts.back();
    EXPECT_EQ(text.rfind("Fix Comment: Fixed the start-up crash\n\n", 0), 0u) << text;
    EXPECT_TRUE(contains(text, "kova://vcs.example.com:8081//Main//widgets/src/frobnicator.c"))
        << text;
    EXPECT_TRUE(contains(text, "kova://vcs.example.com:8081//Release-2.5//widgets/docs/manual.txt"));
    EXPECT_TRUE(contains(text, "File: build/config:with:colons.mk\nVersion: 7\n")) << text;
  }
  // The hours went with the first comment of each bug.
  auto requests = server_->requests();
  int with_hours = 0;
  for (int i = 0; i < requests.size(); ++i) {
    if (requests[i]["method"].toText() != "Bug.add_comment") continue;
    EXPECT_EQ(requests[i]["params"][0]["work_time"].toText(), "1.5");
    ++with_hours;
  }
  EXPECT_EQ(with_hours, 2);
}

TEST_F(Attach, FilesJsonDescribesTheSameCheckIn) {
  dir_.write("checkin.json", R"({
    "comment": "From JSON \u2013 fine",
    "bugs": [{"connection": "Demo", "id": "10"}, {"connection": "Demo", "id": 12}],
    "files": [{"mainline": "Main", "branch": "Main", "repository": "widgets",
               "file": "src/net.c", "version": 4}]
  })");
  const Outcome run = attach({"--files-json", dir_.file("checkin.json"), "--json"});
  ASSERT_EQ(run.status, 0) << run.err;
  auto flat = flatten_json(run.out);
  EXPECT_EQ(flat["/bugs/0/id"], "10");
  EXPECT_EQ(flat["/bugs/1/id"], "12");
  EXPECT_EQ(flat["/files"], "1");
  EXPECT_EQ(flat["/fix_fields"], "true");
  EXPECT_EQ(flat["/failed"], "[]");
  for (int bug : {10, 12}) {
    const std::string text = comments(bug).back();
    EXPECT_EQ(text.rfind("Fix Comment: From JSON – fine\n\n", 0), 0u) << text;
    EXPECT_TRUE(contains(text, "kova://vcs.example.com:8081//Main//widgets/src/net.c")) << text;
  }
}

TEST_F(Attach, WithoutEntriesTheCommentIsTheFileBlocksAlone) {
  const Outcome run = attach({"--bug", "Demo:14", "--file", "M:B:R:f.c:1"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(comments(14).back().rfind("Velloran Attachment\nMainline: M\n", 0), 0u);
  auto requests = server_->requests();
  for (int i = 0; i < requests.size(); ++i) {
    if (requests[i]["method"].toText() == "Bug.add_comment") {
      EXPECT_FALSE(requests[i]["params"][0].hasMember("work_time"));
    }
  }
}

TEST_F(Attach, FailedCommentsAreListedAndExitOne) {
  const Outcome run = attach({"--bug", "Demo:99999", "--bug", "Demo:13", "--file", "M:B:R:f.c:1"});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(contains(run.out, "These comments failed:\nCONNECTION  BUG    MESSAGE\nDemo        99999  "))
      << run.out;
  EXPECT_EQ(run.err, "issue-plugin-host: 1 comment failed\n");
  // The later bug was still processed.
  EXPECT_TRUE(contains(comments(13).back(), "Velloran Attachment"));

  const Outcome json = attach({"--bug", "Demo:99999", "--file", "M:B:R:f.c:1", "--json"});
  EXPECT_EQ(json.status, 1);
  auto flat = flatten_json(json.out);
  EXPECT_EQ(flat["/failed/0/connection"], "Demo");
  EXPECT_EQ(flat["/failed/0/id"], "99999");
  EXPECT_FALSE(flat["/failed/0/message"].empty());
}

TEST_F(Attach, RejectedEntriesStopBeforeAnythingIsSent) {
  const Outcome run = attach({"--bug", "Demo:1", "--file", "M:B:R:f.c:1", "--hours", "100000"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err,
            "issue-plugin-host: the fix entries were rejected: Too Many Hours Worked; nothing was "
            "attached\n");
  EXPECT_TRUE(server_->methods().empty());
}

TEST_F(Attach, UnknownConnectionIsThePluginsFailure) {
  const Outcome run = attach({"--bug", "Elsewhere:1", "--file", "M:B:R:f.c:1"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err,
            "issue-plugin-host: AttachToIssues failed: Error getting connection info from "
            "BugzillaConnections.txt\n");
}

struct BadCheckIn {
  std::vector<std::string> args;
  std::string json;  // written to checkin.json and passed with --files-json when not empty
  const char* message;
};

void PrintTo(const BadCheckIn& c, std::ostream* out) {
  *out << "attach";
  for (const auto& arg : c.args) *out << ' ' << arg;
  if (!c.json.empty()) *out << " --files-json with " << c.json;
}

class AttachUsage : public Attach, public ::testing::WithParamInterface<BadCheckIn> {};

TEST_P(AttachUsage, RefusedWithExitTwo) {
  std::vector<std::string> args = GetParam().args;
  if (!GetParam().json.empty()) {
    dir_.write("checkin.json", GetParam().json);
    args.insert(args.end(), {"--files-json", dir_.file("checkin.json")});
  }
  const Outcome run = attach(args);
  EXPECT_EQ(run.status, 2) << run.out;
  EXPECT_TRUE(contains(run.err, GetParam().message)) << run.err;
  EXPECT_TRUE(server_->methods().empty());
}

INSTANTIATE_TEST_SUITE_P(
    CheckIns, AttachUsage,
    ::testing::Values(
        BadCheckIn{{"--bug", "Demo", "--file", "M:B:R:f:1"}, "", "--bug needs CONNECTION:ID"},
        BadCheckIn{{"--bug", "Demo:", "--file", "M:B:R:f:1"}, "", "--bug needs CONNECTION:ID"},
        BadCheckIn{{"--bug", "Demo:1", "--file", "M:B:R:1"}, "", "too few parts"},
        BadCheckIn{{"--bug", "Demo:1", "--file", "M::R:f:1"}, "", "a part is empty"},
        BadCheckIn{{"--bug", "Demo:1", "--file", "M:B:R:f:v2"}, "", "VERSION is not a 32-bit"},
        BadCheckIn{{"--file", "M:B:R:f:1"}, "", "attach needs at least one bug"},
        BadCheckIn{{"--bug", "Demo:1"}, "", "attach needs at least one file"},
        BadCheckIn{{}, "{\"bugs\": [{\"connection\": \"Demo\", \"id\": \"1\"},]}",
                   "not valid JSON: parse error at line 1, column 45"},
        BadCheckIn{{}, "{\"bugs\": [], \"file\": []}", "unknown member \"file\""},
        BadCheckIn{{}, "{\"bugs\": [{\"connection\": \"Demo\"}]}",
                   "bugs[0]: \"id\" is missing"},
        BadCheckIn{{}, "[]", "the document: must be an object, not an array"}));

}  // namespace
}  // namespace host_test
