// The filter names and the bug list under a filter, against the Bugzilla test server.
#include "issues.h"
#include "plugin_loader.h"
#include "plugin_sessions.h"
#include "reply_values.h"
#include "records.h"
#include "server_calls.h"
#include "test_server.h"

#include <XmlRpc/XmlRpcValue.h>

#include <gtest/gtest.h>

#include <cstring>
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

const char kAlice[] = "alice@example.com";
const char kAlicePassword[] = "alice-pass-1";

IssueRecord* const kUntouchedList[1] = {nullptr};

// The out-parameters of one listing, preset so that "not written" can be seen; released after.
struct Listing {
  int32_t code = -1;
  IssueRecord** issues = const_cast<IssueRecord**>(kUntouchedList);
  int32_t count = -7;
  int32_t flag = -7;
  char* error = nullptr;

  bool written() const { return issues != kUntouchedList || count != -7 || flag != -7; }
  std::string message() const { return error ? error : "<null>"; }
  std::vector<std::string> ids() const {
    std::vector<std::string> result;
    if (issues == kUntouchedList) return result;
    for (int32_t i = 0; i < count; ++i) result.push_back(issues[i]->id);
    return result;
  }
  ~Listing() {
    if (issues != kUntouchedList) bugzilla::free_issue_list(issues, static_cast<uint32_t>(count));
    bugzilla::free_string(error);
  }
};

class IssueListTest : public ::testing::Test {
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
    dir_.write("BugzillaConnections.txt",
               test_support::connections_file(
                   {test_support::connection_for(*server_, "Gadgets", "Gadgets"),
                    test_support::connection_for(*server_, "Widgets", "Widgets")}));
    test_support::reset_plugin_state(dir_);
  }

  void list(Listing& out, const char* filter, const char* connection = "Gadgets",
            const char* login = kAlice, const char* password = kAlicePassword) {
    Context context(login, password, connection);
    out.code = bugzilla::get_issue_list(context.context, filter, &out.issues, &out.count,
                                        &out.flag, &out.error);
  }

  XmlRpcValue sent(const std::string& method) { return test_support::params_of(*server_, method); }

  static std::string token() {
    return test_support::plugin_session(*server_, kAlice, kAlicePassword)->token;
  }

  static TestServer* server_;
  test_support::TempDir dir_;
};

TestServer* IssueListTest::server_ = nullptr;

using Methods = std::vector<std::string>;

// --- filter names ----------------------------------------------------------------------------

void expect_filter_names(char** names, int32_t count) {
  ASSERT_EQ(count, 3);
  const char* expected[] = {"Assigned To Me", "Created By Me", "Not Filtered"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_STREQ(names[i], expected[i]);
#if defined(__SANITIZE_ADDRESS__)
    EXPECT_EQ(__sanitizer_get_allocated_size(names[i]), std::strlen(expected[i]) + 1);
#endif
  }
}

TEST(FilterList, ThreeNamesInOrderEachInItsOwnExactBuffer) {
  char** names = nullptr;
  int32_t count = 0;
  char* error = reinterpret_cast<char*>(&count);  // must be replaced by null
  EXPECT_EQ(bugzilla::get_filter_list(&names, &count, &error), 0);
  EXPECT_EQ(error, nullptr);
  expect_filter_names(names, count);
  bugzilla::free_string_list(names, static_cast<uint32_t>(count));
}

TEST(FilterList, ThroughTheLoadedPlugin) {
  test_support::LoadedPlugin plugin(BUGZILLA_PLUGIN_PATH);
  char** names = nullptr;
  int32_t count = 0;
  char* error = nullptr;
  EXPECT_EQ(plugin.GetFilterList(nullptr, &names, &count, &error), 0);
  EXPECT_EQ(error, nullptr);
  expect_filter_names(names, count);
  plugin.FreeStringList(names, static_cast<uint32_t>(count));
}

// --- search parameters per filter ----------------------------------------------------------

struct FilterCase {
  const char* filter;
  const char* user_member;  // nullptr: none
  std::vector<std::string> ids;
};

void PrintTo(const FilterCase& c, std::ostream* out) { *out << '"' << c.filter << '"'; }

class FilterParameters : public IssueListTest,
                         public ::testing::WithParamInterface<FilterCase> {};

TEST_P(FilterParameters, SearchCarriesProductTheFiltersMemberAndToken) {
  const FilterCase& c = GetParam();
  Listing out;
  list(out, c.filter);
  ASSERT_EQ(out.code, 0) << out.message();
  EXPECT_EQ(out.error, nullptr);
  EXPECT_EQ(out.ids(), c.ids);

  ASSERT_FALSE(token().empty());
  XmlRpcValue expected = make_struct({{"product", "Gadgets"}, {"token", token()}});
  if (c.user_member != nullptr) expected[c.user_member] = kAlice;
  EXPECT_EQ(sent("Bug.search"), make_array({expected}));
}

INSTANTIATE_TEST_SUITE_P(
    Filters, FilterParameters,
    ::testing::Values(FilterCase{"Assigned To Me", "assigned_to", {"41", "42"}},
                      FilterCase{"Created By Me", "reporter", {"40", "42"}},
                      FilterCase{"Not Filtered", nullptr, {"40", "41", "42"}},
                      // Only the exact names select a user member.
                      FilterCase{"assigned to me", nullptr, {"40", "41", "42"}},
                      FilterCase{"Assigned To Me ", nullptr, {"40", "41", "42"}},
                      FilterCase{"", nullptr, {"40", "41", "42"}}));

// --- the listing ---------------------------------------------------------------------------

TEST_F(IssueListTest, ThreeBugsTakeOneCommentsCallAndKeepTheSearchOrder) {
  Listing out;
  list(out, "Not Filtered");
  ASSERT_EQ(out.code, 0) << out.message();
  EXPECT_EQ(server_->methods(), (Methods{"User.login", "Bug.search", "Bug.comments"}));
  // The ids go out as they came (ints), in the search order, with the login's token.
  EXPECT_EQ(sent("Bug.comments"),
            make_array({make_struct({{"ids", make_array({40, 41, 42})}, {"token", token()}})}));

  ASSERT_EQ(out.count, 3);
  EXPECT_EQ(out.flag, 1);
  struct Expected {
    const char *id, *summary, *severity, *status, *description;
  } expected[] = {
      {"40", "Sprocket teeth are misaligned", "major", "CONFIRMED",
       "Every third tooth is off by half a millimetre."},
      {"41", "Sprocket log shows control characters", "minor", "CONFIRMED",
       "The log viewer prints raw escapes."},
      {"42", "Sprocket chain squeaks", "trivial", "RESOLVED", "Needs oil."},
  };
  for (int i = 0; i < 3; ++i) {
    const IssueRecord& issue = *out.issues[i];
    EXPECT_STREQ(issue.id, expected[i].id);
    EXPECT_STREQ(issue.summary, expected[i].summary);
    EXPECT_STREQ(issue.severity, expected[i].severity);
    EXPECT_STREQ(issue.status, expected[i].status);
    EXPECT_STREQ(issue.description, expected[i].description);
    EXPECT_EQ(issue.flag1, 1);
    EXPECT_EQ(issue.flag2, 1);
  }
}

TEST_F(IssueListTest, NoMatchReturnsZeroWithoutCommentsCallOrList) {
  Listing out;
  list(out, "Created By Me", "Gadgets", "carol@example.com", "Grüße-pass-1");
  EXPECT_EQ(out.code, 0) << out.message();
  EXPECT_EQ(out.error, nullptr);
  EXPECT_FALSE(out.written());
  EXPECT_EQ(server_->methods(), (Methods{"User.login", "Bug.search"}));
}

TEST_F(IssueListTest, BugsMissingFromTheCommentsReplyGetTheEmptyDescription) {
  // 40 is missing, 41 has a comment, 42 has an empty comment list.
  XmlRpcValue by_id = make_struct(
      {{"42", make_struct({{"comments", make_array({})}})},
       {"41", make_struct({{"comments", make_array({make_struct({{"text", "Only 41"}})})}})}});
  server_->inject("Bug.comments", "wrong_kind",
                  make_struct({{"member", "bugs"}, {"value", by_id}}), 1);
  Listing out;
  list(out, "Not Filtered");
  ASSERT_EQ(out.code, 0) << out.message();
  ASSERT_EQ(out.ids(), (std::vector<std::string>{"40", "41", "42"}));
  EXPECT_STREQ(out.issues[0]->description, "");
  EXPECT_STREQ(out.issues[1]->description, "Only 41");
  EXPECT_STREQ(out.issues[2]->description, "");
  EXPECT_STREQ(out.issues[0]->summary, "Sprocket teeth are misaligned");
}

TEST_F(IssueListTest, UnknownConnectionTouchesNeitherServerNorToken) {
  test_support::plugin_session(*server_, kAlice, kAlicePassword)->token = "kept-token";
  Listing out;
  list(out, "Not Filtered", "Gizmos");
  EXPECT_EQ(out.code, 1);
  EXPECT_EQ(out.message(), "Connection Not Found");
  EXPECT_FALSE(out.written());
  EXPECT_TRUE(server_->methods().empty());
  EXPECT_EQ(token(), "kept-token");
}

TEST_F(IssueListTest, EveryListingLogsInAfresh) {
  Listing first;
  list(first, "Assigned To Me");
  ASSERT_EQ(first.code, 0) << first.message();
  const std::string first_token = token();
  server_->clearRequests();

  Listing second;
  list(second, "Assigned To Me");
  ASSERT_EQ(second.code, 0) << second.message();
  EXPECT_EQ(server_->methods(), (Methods{"User.login", "Bug.search", "Bug.comments"}));
  EXPECT_NE(token(), first_token);
  EXPECT_EQ(sent("Bug.search")[0]["token"].toText(), token());
}

// Where the server sets a cookie and returns a token, the listing's login serves the details.
TEST_F(IssueListTest, FollowingDetailsReuseTheListingsLogin) {
  server_->configure("login_style", "both");
  Listing out;
  list(out, "Assigned To Me");
  ASSERT_EQ(out.code, 0) << out.message();
  const std::string listing_token = token();
  server_->clearRequests();

  Context context(kAlice, kAlicePassword, "Gadgets");
  IssueRecord* issue = nullptr;
  CustomFieldRecord** fields = nullptr;
  int32_t count = 0;
  char* error = nullptr;
  ASSERT_EQ(bugzilla::get_issue_details(context.context, "41", &issue, &fields, &count, &error), 0)
      << (error ? error : "");
  EXPECT_STREQ(issue->summary, "Sprocket log shows control characters");
  EXPECT_EQ(server_->methods(),
            (Methods{"Bugzilla.version", "Bug.get", "Bug.comments", "Bug.fields"}));
  EXPECT_EQ(sent("Bug.get")[0]["token"].toText(), listing_token);
  XmlRpcValue requests = server_->requests();
  for (int i = 0; i < requests.size(); ++i) {
    EXPECT_NE(requests[i]["cookie"].toText().find("Bugzilla_logincookie="), std::string::npos);
  }
  bugzilla::free_issue(issue);
  bugzilla::free_custom_fields_list(fields, static_cast<uint32_t>(count));
}

// --- failures -------------------------------------------------------------------------------
// Transport failures, faults and replies of the wrong kind are covered call by call by the
// fault-injection suite; these are the cases it does not make.

// A fault code that works out to 0 is still a failure, and a search reply without "bugs" is
// not understood; either way the listing returns 1 without a list.
TEST_F(IssueListTest, ZeroFaultsAndAMissingBugsMemberFail) {
  struct Case {
    const char* method;
    const char* kind;
    XmlRpcValue args;
    std::string message;
    Methods exchanges;
  };
  char* not_understood = bugzilla::reply_not_understood("Bug Search");
  const XmlRpcValue zero_fault = test_support::fault_args(0, "Zero fault.");
  const Case cases[] = {
      {"Bug.search", "fault", zero_fault, "Zero fault.", {"User.login", "Bug.search"}},
      {"Bug.comments", "fault", zero_fault, "Zero fault.",
       {"User.login", "Bug.search", "Bug.comments"}},
      {"Bug.search", "remove", make_struct({{"member", "bugs"}}), not_understood,
       {"User.login", "Bug.search"}},
  };
  bugzilla::free_string(not_understood);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.method) + " " + c.kind);
    SetUp();
    server_->inject(c.method, c.kind, c.args, 1);
    Listing out;
    list(out, "Not Filtered");
    EXPECT_EQ(out.code, 1);
    EXPECT_EQ(out.message(), c.message);
    EXPECT_FALSE(out.written());
    EXPECT_EQ(server_->methods(), c.exchanges);
  }
}

TEST_F(IssueListTest, RefusedLoginFaultIsTheMessage) {
  Listing out;
  list(out, "Not Filtered", "Gadgets", kAlice, "wrong-password");
  EXPECT_EQ(out.code, 1);
  EXPECT_EQ(out.message(), "The login or password you entered is not valid.");
  EXPECT_FALSE(out.written());
  EXPECT_EQ(server_->methods(), (Methods{"User.login"}));
}

// --- through the loaded plug-in -------------------------------------------------------------

TEST_F(IssueListTest, ThroughTheLoadedPlugin) {
  test_support::LoadedPlugin plugin(BUGZILLA_PLUGIN_PATH);
  char* error = nullptr;
  ASSERT_EQ(plugin.Initialize(dir_.path().c_str(), &error), 0);
  plugin.FreeString(error);
  error = nullptr;

  Context context(kAlice, kAlicePassword, "Gadgets");
  IssueRecord** issues = nullptr;
  int32_t count = 0;
  int32_t flag = 0;
  ASSERT_EQ(plugin.GetIssueList(&context.context, "Created By Me", &issues, &count, &flag, &error),
            0);
  EXPECT_EQ(error, nullptr);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(flag, 1);
  EXPECT_STREQ(issues[0]->id, "40");
  EXPECT_STREQ(issues[1]->description, "Needs oil.");
  plugin.FreeIssueList(issues, static_cast<uint32_t>(count));
  plugin.Uninitialize();
}

}  // namespace
