// One bug's details, adapted to the server's version, against the Bugzilla test server.
#include "issues.h"
#include "plugin_loader.h"
#include "plugin_sessions.h"
#include "reply_values.h"
#include "records.h"
#include "server_calls.h"
#include "test_server.h"

#include <XmlRpc/XmlRpcValue.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>


namespace {

using test_support::TestServer;
using test_support::make_array;
using test_support::make_struct;
using Context = test_support::HostContext;
using XmlRpc::XmlRpcValue;
using Methods = std::vector<std::string>;

const char kAlice[] = "alice@example.com";
const char kAlicePassword[] = "alice-pass-1";

IssueRecord kUntouchedIssue{};
CustomFieldRecord* const kUntouchedFields[1] = {nullptr};

// The out-parameters of one call, preset so that "not written" can be seen; released after.
struct Details {
  int32_t code = -1;
  IssueRecord* issue = &kUntouchedIssue;
  CustomFieldRecord** fields = const_cast<CustomFieldRecord**>(kUntouchedFields);
  int32_t count = -7;
  char* error = nullptr;

  bool issue_written() const { return issue != &kUntouchedIssue; }
  bool fields_written() const { return fields != kUntouchedFields || count != -7; }
  std::string message() const { return error ? error : "<null>"; }
  ~Details() {
    if (issue_written()) bugzilla::free_issue(issue);
    if (fields != kUntouchedFields) {
      bugzilla::free_custom_fields_list(fields, static_cast<uint32_t>(count));
    }
    bugzilla::free_string(error);
  }
};

// One entry as the tests expect it; a null choice text means "left null" (flag 0).
struct Entry {
  const char* label;
  const char* key;
  int32_t type;
  const char* choice;
};

void expect_entries(const Details& out, const std::vector<Entry>& expected) {
  ASSERT_EQ(out.count, static_cast<int32_t>(expected.size()));
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("entry " + std::to_string(i));
    const CustomFieldRecord& entry = *out.fields[i];
    EXPECT_STREQ(entry.label, expected[i].label);
    EXPECT_STREQ(entry.key, expected[i].key);
    EXPECT_EQ(entry.type, expected[i].type);
    ASSERT_EQ(entry.choice_count, 1);
    ASSERT_NE(entry.choices, nullptr);
    const FieldChoice& choice = *entry.choices[0];
    if (expected[i].choice == nullptr) {
      EXPECT_EQ(choice.label, nullptr);
      EXPECT_EQ(choice.value, nullptr);
      EXPECT_EQ(choice.flag, 0);
    } else {
      EXPECT_STREQ(choice.label, expected[i].choice);
      EXPECT_STREQ(choice.value, expected[i].choice);
      EXPECT_NE(choice.label, choice.value);  // two separate texts
      EXPECT_EQ(choice.flag, 1);
    }
  }
}

class IssueDetailsTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { server_ = new TestServer(); }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  // The "both" style (a login cookie and a token) lets a login serve the calls after it, so
  // that each test sees one login; the token-only style logs in before every call.
  void SetUp() override {
    server_->reset();
    server_->configure("login_style", "both");
    dir_.write("BugzillaConnections.txt", test_support::connections_file({test_support::connection_for(
                                              *server_, "Widgets", "Widgets")}));
    test_support::reset_plugin_state(dir_);
  }

  void details(Details& out, const char* issue_id, const char* connection = "Widgets",
               const char* password = kAlicePassword) {
    Context context(kAlice, password, connection);
    out.code = bugzilla::get_issue_details(context.context, issue_id, &out.issue, &out.fields,
                                           &out.count, &out.error);
  }

  XmlRpcValue sent(const std::string& method) { return test_support::params_of(*server_, method); }

  static std::string token() {
    return test_support::plugin_session(*server_, kAlice, kAlicePassword)->token;
  }

  static TestServer* server_;
  test_support::TempDir dir_;
};

TestServer* IssueDetailsTest::server_ = nullptr;

// --- the version decides the calls -----------------------------------------------------------

struct VersionCase {
  XmlRpcValue version;  // invalid: the reply has no "version"
  const char* login_style;
  XmlRpcValue get_bugs;  // the server's Bug.get_bugs setting
  Methods methods;       // other than User.login
  int32_t code;
  int32_t entries;       // when code is 0
};

void PrintTo(const VersionCase& c, std::ostream* out) {
  *out << (c.version.valid() ? c.version.toText() : std::string("no version")) << " "
       << c.login_style << (c.get_bugs.getType() == XmlRpcValue::TypeBoolean ? " get_bugs" : "");
}

class VersionRouting : public IssueDetailsTest,
                       public ::testing::WithParamInterface<VersionCase> {};

TEST_P(VersionRouting, MethodsFollowTheVersionComparedByNumbers) {
  const VersionCase& c = GetParam();
  server_->configure("version", c.version);
  server_->configure("login_style", c.login_style);
  server_->configure("get_bugs", c.get_bugs);
  Details out;
  details(out, "3");
  EXPECT_EQ(out.code, c.code) << out.message();
  // Without a token (the cookie style of 4.2) the session layer logs in before every call.
  Methods calls;
  for (const std::string& method : server_->methods()) {
    if (method != "User.login") calls.push_back(method);
  }
  EXPECT_EQ(calls, c.methods);
  EXPECT_EQ(server_->methods().front(), "User.login");
  if (c.code == 0) {
    EXPECT_EQ(out.count, c.entries);
    EXPECT_TRUE(out.issue_written());
  }
}

const Methods kGetWithFields = {"Bugzilla.version", "Bug.get", "Bug.comments", "Bug.fields"};
const Methods kGetBugsWithFields = {"Bugzilla.version", "Bug.get_bugs", "Bug.comments",
                                    "Bug.fields"};
const Methods kGetBugsOnly = {"Bugzilla.version", "Bug.get_bugs", "Bug.comments"};
const XmlRpcValue kAuto("auto");

INSTANTIATE_TEST_SUITE_P(
    Versions, VersionRouting,
    ::testing::Values(
        VersionCase{"5.0", "both", kAuto, kGetWithFields, 0, 9},
        VersionCase{"5.0.6", "both", kAuto, kGetWithFields, 0, 9},
        VersionCase{"5.1.2", "both", kAuto, kGetWithFields, 0, 9},
        VersionCase{"4.4.12", "both", kAuto, kGetBugsWithFields, 0, 9},
        VersionCase{"4.2.16", "cookie", kAuto, kGetBugsWithFields, 0, 9},
        VersionCase{"3.4.14", "cookie", kAuto, kGetBugsOnly, 0, 9},
        // By numbers: "5" is 5.0, "5.10" comes after "5.2", "10.0" after "3.6", and
        // bugzilla.mozilla.org's date-like version is newer than any release.
        VersionCase{"5", "both", kAuto, kGetWithFields, 0, 9},
        VersionCase{"5.10", "both", kAuto, kGetWithFields, 0, 9},
        VersionCase{"10.0", "both", kAuto, kGetWithFields, 0, 9},
        VersionCase{"20260820.1", "both", kAuto, kGetWithFields, 0, 9},
        VersionCase{XmlRpcValue(), "cookie", kAuto, kGetBugsOnly, 0, 9}));

// The older path has no array test: a 5.x-shaped alias list there is a reply it cannot read.
TEST_F(IssueDetailsTest, OlderPathCannotReadAnAliasList) {
  server_->configure("version", "3.4");
  server_->configure("get_bugs", true);
  Details out;
  details(out, "2");
  EXPECT_EQ(out.code, 1);
  char* expected = bugzilla::reply_not_understood("Get Bugs");
  EXPECT_EQ(out.message(), expected);
  bugzilla::free_string(expected);
  EXPECT_FALSE(out.issue_written());
  EXPECT_FALSE(out.fields_written());
}

// --- the record and the entries --------------------------------------------------------------

TEST_F(IssueDetailsTest, OpenBugOnNewerServerEveryCallWithItsExactParameters) {
  Details out;
  details(out, "1");
  ASSERT_EQ(out.code, 0) << out.message();
  EXPECT_EQ(out.error, nullptr);
  EXPECT_EQ(server_->methods(), (Methods{"User.login", "Bugzilla.version", "Bug.get",
                                         "Bug.comments", "Bug.fields"}));
  ASSERT_FALSE(token().empty());
  EXPECT_EQ(sent("Bugzilla.version").size(), 0);
  EXPECT_EQ(sent("Bug.get"),
            make_array({make_struct({{"ids", make_array({"1"})}, {"token", token()}})}));
  EXPECT_EQ(sent("Bug.comments"),
            make_array({make_struct({{"ids", make_array({1})}, {"token", token()}})}));
  EXPECT_EQ(sent("Bug.fields"),
            make_array({make_struct(
                {{"names", make_array({"resolution", "product", "component", "priority",
                                       "bug_severity", "alias", "assigned_to", "delta_ts",
                                       "creation_ts"})},
                 {"token", token()}})}));

  ASSERT_TRUE(out.issue_written());
  EXPECT_STREQ(out.issue->id, "1");
  EXPECT_STREQ(out.issue->summary, "Frobnicator crashes on startup");
  EXPECT_STREQ(out.issue->status, "CONFIRMED");
  EXPECT_STREQ(out.issue->severity, "critical");
  EXPECT_STREQ(out.issue->description, "Start the frobnicator; it segfaults immediately.");
  EXPECT_EQ(out.issue->flag1, 1);
  EXPECT_EQ(out.issue->flag2, 1);
  expect_entries(out, {{"Product", "product", 0, "Widgets"},
                       {"Component", "component", 0, "Frobnicator"},
                       {"Priority", "priority", 0, "High"},
                       {"Severity", "bug_severity", 0, "critical"},
                       {"Alias", "alias", 2, nullptr},  // an empty alias list on 5.x
                       {"AssignedTo", "assigned_to", 2, kAlice},
                       {"Last changed date", "delta_ts", 5, "2026-09-06T17:30:00"},
                       {"Creation date", "creation_ts", 5, "2026-09-01T09:00:00"}});
}

struct ResolutionCase {
  const char* id;
  const char* label;
  const char* value;
};

void PrintTo(const ResolutionCase& c, std::ostream* out) { *out << "bug " << c.id; }

class ClosedBug : public IssueDetailsTest,
                  public ::testing::WithParamInterface<ResolutionCase> {};

TEST_P(ClosedBug, NineEntriesLedByTheResolution) {
  Details out;
  details(out, GetParam().id);
  ASSERT_EQ(out.code, 0) << out.message();
  ASSERT_EQ(out.count, 9);
  const CustomFieldRecord& resolution = *out.fields[0];
  EXPECT_STREQ(resolution.label, "Resolution");
  EXPECT_STREQ(resolution.key, "resolution");
  EXPECT_EQ(resolution.type, 0);
  ASSERT_EQ(resolution.choice_count, 1);
  EXPECT_STREQ(resolution.choices[0]->label, GetParam().label);
  EXPECT_STREQ(resolution.choices[0]->value, GetParam().value);
  EXPECT_EQ(resolution.choices[0]->flag, 1);
  EXPECT_STREQ(out.fields[1]->key, "product");
  EXPECT_STREQ(out.fields[8]->key, "creation_ts");
}

INSTANTIATE_TEST_SUITE_P(Resolutions, ClosedBug,
                         ::testing::Values(ResolutionCase{"3", "FIXED", "FIXED"},
                                           ResolutionCase{"4", "DUPLICATE of bug # 1", "DUPLICATE"},
                                           ResolutionCase{"31", "DUPLICATE of bug # 12",
                                                          "DUPLICATE"},
                                           ResolutionCase{"16", "WONTFIX", "WONTFIX"}));

TEST_F(IssueDetailsTest, LowerCaseDuplicateGetsNoSpecialLabel) {
  server_->inject("Bug.get", "wrong_kind",
                  make_struct({{"member", "bugs.0.resolution"}, {"value", "duplicate"}}), 1);
  Details out;
  details(out, "4");
  ASSERT_EQ(out.code, 0) << out.message();
  EXPECT_STREQ(out.fields[0]->choices[0]->label, "duplicate");
}

// 5.x sends the alias as a list: its texts joined are the value; an empty list, a list that
// is not all texts, or another member that comes as a list has no value.
TEST_F(IssueDetailsTest, ListsOnNewerServers) {
  struct Case {
    const char* what;
    const char* bug;
    const char* member;  // replaced in the reply, or null
    XmlRpcValue list;
    int entry;           // 4: alias, 0: product
    const char* shown;   // null: no value, flag 0
  };
  const Case cases[] = {
      {"one alias", "2", nullptr, XmlRpcValue(), 4, "widget-colour"},
      {"two aliases", "2", "bugs.0.alias", make_array({"widget-colour", "colour-bug"}), 4,
       "widget-colour, colour-bug"},
      {"no alias", "1", nullptr, XmlRpcValue(), 4, nullptr},
      {"alias list with a number", "2", "bugs.0.alias", make_array({"widget-colour", 7}), 4,
       nullptr},
      {"product as a list", "2", "bugs.0.product", make_array({"Widgets"}), 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    if (c.member) {
      server_->inject("Bug.get", "wrong_kind",
                      make_struct({{"member", c.member}, {"value", c.list}}), 1);
    }
    Details out;
    details(out, c.bug);
    ASSERT_EQ(out.code, 0) << out.message();
    ASSERT_EQ(out.count, 8);
    const CustomFieldRecord& entry = *out.fields[c.entry];
    ASSERT_EQ(entry.choice_count, 1);
    const FieldChoice& choice = *entry.choices[0];
    if (c.shown == nullptr) {
      EXPECT_EQ(choice.label, nullptr);
      EXPECT_EQ(choice.value, nullptr);
      EXPECT_EQ(choice.flag, 0);
    } else {
      EXPECT_STREQ(entry.key, "alias");
      EXPECT_STREQ(choice.label, c.shown);
      EXPECT_STREQ(choice.value, c.shown);
      EXPECT_NE(choice.label, choice.value);
      EXPECT_EQ(choice.flag, 1);
    }
  }
}

// Bugzilla 4.2: cookie login, alias a plain string, Bug.get_bugs, captions from Bug.fields.
TEST_F(IssueDetailsTest, AliasTextOnTheFourTwoStyle) {
  server_->configure("login_style", "cookie");
  server_->configure("version", "4.2.16");
  Details out;
  details(out, "2");
  ASSERT_EQ(out.code, 0) << out.message();
  EXPECT_FALSE(sent("Bug.get_bugs")[0].hasMember("token"));
  EXPECT_STREQ(out.issue->description, "The widget is painted teal instead of blue.");
  ASSERT_EQ(out.count, 8);
  EXPECT_STREQ(out.fields[4]->label, "Alias");
  EXPECT_STREQ(out.fields[4]->choices[0]->label, "widget-colour");
  EXPECT_STREQ(out.fields[4]->choices[0]->value, "widget-colour");
  EXPECT_EQ(out.fields[4]->choices[0]->flag, 1);
}

// Servers older than 3.6 have no Bug.fields: the captions are the plug-in's own, the keys are
// the field names as on newer servers.
TEST_F(IssueDetailsTest, OlderServerCaptionsAndKeys) {
  server_->configure("login_style", "cookie");
  server_->configure("version", "3.4.14");
  Details out;
  details(out, "3");
  ASSERT_EQ(out.code, 0) << out.message();
  expect_entries(out, {{"Resolution", "resolution", 0, "FIXED"},
                       {"Product", "product", 0, "Widgets"},
                       {"Component", "component", 0, "Gizmo"},
                       {"Priority", "priority", 0, "High"},
                       {"Severity", "bug_severity", 0, "major"},
                       {"Alias", "alias", 2, ""},  // absent in the 4.2 shape
                       {"Assigned To", "assigned_to", 2, kAlice},
                       {"Modified", "delta_ts", 5, "2026-09-05T17:30:00"},
                       {"Reported", "creation_ts", 5, "2026-09-03T09:00:00"}});
}

TEST_F(IssueDetailsTest, BugWithoutCommentsOrMissingFromTheReplyHasEmptyDescription) {
  Details without;
  details(without, "7");
  ASSERT_EQ(without.code, 0) << without.message();
  EXPECT_STREQ(without.issue->description, "");

  server_->inject("Bug.comments", "wrong_kind",
                  make_struct({{"member", "bugs"}, {"value", make_struct({{"99", "x"}})}}), 1);
  Details missing;
  details(missing, "1");
  ASSERT_EQ(missing.code, 0) << missing.message();
  EXPECT_STREQ(missing.issue->description, "");
  EXPECT_STREQ(missing.issue->summary, "Frobnicator crashes on startup");
}

TEST_F(IssueDetailsTest, TwoBugsShareOneCommentsCallAndTheFirstIsShown) {
  XmlRpcValue first = make_struct({{"id", 2},
                                   {"summary", "Shown"},
                                   {"status", "CONFIRMED"},
                                   {"severity", "minor"},
                                   {"is_open", true}});
  XmlRpcValue second = make_struct({{"id", 3}, {"summary", "Not shown"}, {"is_open", false}});
  server_->inject("Bug.get", "wrong_kind",
                  make_struct({{"member", "bugs"}, {"value", make_array({first, second})}}), 1);
  Details out;
  details(out, "2");
  ASSERT_EQ(out.code, 0) << out.message();
  EXPECT_EQ(sent("Bug.comments"),
            make_array({make_struct({{"ids", make_array({2, 3})}, {"token", token()}})}));
  EXPECT_STREQ(out.issue->id, "2");
  EXPECT_STREQ(out.issue->summary, "Shown");
  EXPECT_STREQ(out.issue->description, "The widget is painted teal instead of blue.");
  EXPECT_EQ(out.count, 8);  // the first bug is open
  EXPECT_STREQ(out.fields[0]->choices[0]->label, "");  // "product" absent: the empty text
}

// With no bug the comments call goes out without parameters; the server's fault decides.
TEST_F(IssueDetailsTest, EmptyBugsSendsCommentsWithoutParameters) {
  server_->inject("Bug.get", "wrong_kind",
                  make_struct({{"member", "bugs"}, {"value", make_array({})}}), 1);
  Details out;
  details(out, "1");
  EXPECT_EQ(sent("Bug.comments").size(), 0);
  EXPECT_EQ(out.code, 50);
  EXPECT_NE(out.message().find("ids, comment_ids"), std::string::npos) << out.message();
  EXPECT_FALSE(out.issue_written());
  EXPECT_FALSE(out.fields_written());
}

TEST_F(IssueDetailsTest, NumericIssueIdGoesOutAsText) {
  Details out;
  details(out, "1234");
  EXPECT_EQ(sent("Bug.get"),
            make_array({make_struct({{"ids", make_array({"1234"})}, {"token", token()}})}));
  EXPECT_EQ(out.code, 101);  // Bugzilla's unknown bug
  EXPECT_FALSE(out.issue_written());
}

TEST_F(IssueDetailsTest, LiveSessionIsReused) {
  Details first;
  details(first, "1");
  ASSERT_EQ(first.code, 0) << first.message();
  server_->clearRequests();
  Details second;
  details(second, "3");
  ASSERT_EQ(second.code, 0) << second.message();
  EXPECT_EQ(server_->methods(), kGetWithFields);
}

// --- failures -------------------------------------------------------------------------------
// Transport failures, faults and replies of the wrong kind are covered call by call by the
// fault-injection suite; these are the cases it does not make.

// A fault code that works out to 0 is still a failure (code 1); only a failed Bug.fields call
// leaves the finished record.
TEST_F(IssueDetailsTest, ZeroFaultsFailWithCodeOne) {
  for (const char* method : {"Bug.comments", "Bug.fields"}) {
    SCOPED_TRACE(method);
    SetUp();
    server_->inject(method, "fault", test_support::fault_args(0, "Zero fault."), 1);
    Details out;
    details(out, "1");
    EXPECT_EQ(out.code, 1);
    EXPECT_EQ(out.message(), "Zero fault.");
    const bool fields_call = std::string(method) == "Bug.fields";
    EXPECT_EQ(out.issue_written(), fields_call);
    if (fields_call) {
      EXPECT_STREQ(out.issue->summary, "Frobnicator crashes on startup");
    }
    EXPECT_FALSE(out.fields_written());
  }
}

TEST_F(IssueDetailsTest, RefusedLoginIsTheServersFault) {
  Details out;
  details(out, "1", "Widgets", "wrong-password");
  EXPECT_EQ(out.code, 300);
  EXPECT_EQ(out.message(), "The login or password you entered is not valid.");
  EXPECT_FALSE(out.issue_written());
  EXPECT_EQ(server_->methods(), (Methods{"User.login"}));
}

TEST_F(IssueDetailsTest, UnknownConnection) {
  Details unknown;
  details(unknown, "1", "Nowhere");
  EXPECT_EQ(unknown.code, 1);
  EXPECT_EQ(unknown.message(), "Connection Not Found");
  EXPECT_FALSE(unknown.issue_written());
  EXPECT_FALSE(unknown.fields_written());
  EXPECT_TRUE(server_->methods().empty());
}

// --- through the loaded plug-in -------------------------------------------------------------

TEST_F(IssueDetailsTest, ThroughTheLoadedPlugin) {
  test_support::LoadedPlugin plugin(BUGZILLA_PLUGIN_PATH);
  char* error = nullptr;
  ASSERT_EQ(plugin.Initialize(dir_.path().c_str(), &error), 0);
  plugin.FreeString(error);
  error = nullptr;

  // A Bug.fields failure hands out the record with the message, and no entries.
  Context context(kAlice, kAlicePassword, "Widgets");
  server_->inject("Bug.fields", "fault", test_support::fault_args(51, "No such field."), 1);
  IssueRecord* issue = nullptr;
  CustomFieldRecord** fields = nullptr;
  int32_t count = -7;
  EXPECT_EQ(plugin.GetIssueDetails(&context.context, "4", &issue, &fields, &count, &error), 51);
  ASSERT_NE(error, nullptr);
  EXPECT_STREQ(error, "No such field.");
  ASSERT_NE(issue, nullptr);
  EXPECT_STREQ(issue->id, "4");
  EXPECT_EQ(fields, nullptr);
  EXPECT_EQ(count, -7);
  plugin.FreeIssue(issue);
  plugin.FreeString(error);
  plugin.Uninitialize();
}

}  // namespace
