// The filter names and the bug list under a filter, against the Bugzilla test server.
#include "issues.h"
#include "plugin_loader.h"
#include "plugin_state.h"
#include "records.h"
#include "server_calls.h"
#include "test_server.h"

#include <XmlRpc/XmlRpcValue.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <ostream>
#include <string>
#include <utility>
#include <vector>


#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime knows each allocation's requested size (its header is not always
// installed, so the function is declared here).
extern "C" size_t __sanitizer_get_allocated_size(const volatile void* pointer);
#endif

namespace {

using test_support::TestServer;
using test_support::refused_port;
using XmlRpc::XmlRpcValue;

const char kAlice[] = "alice@example.com";
const char kAlicePassword[] = "alice-pass-1";

XmlRpcValue make_struct(std::initializer_list<std::pair<const char*, XmlRpcValue>> members) {
  XmlRpcValue value;
  value.assertStruct();
  for (const auto& member : members) value[member.first] = member.second;
  return value;
}

XmlRpcValue make_array(std::initializer_list<XmlRpcValue> elements) {
  XmlRpcValue value;
  value.assertArray(0);
  int i = 0;
  for (const XmlRpcValue& element : elements) value[i++] = element;
  return value;
}

// A RequestContext over owned texts.
struct Context {
  Context(std::string login, std::string password, std::string connection)
      : login(std::move(login)), password(std::move(password)), connection(std::move(connection)) {
    context.login = &this->login[0];
    context.password = &this->password[0];
    context.connection_name = &this->connection[0];
  }
  std::string login, password, connection;
  RequestContext context{};
};

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
    write_connections({test_support::connection_for(*server_, "Gadgets", "Gadgets"),
                       test_support::connection_for(*server_, "Widgets", "Widgets")});
    bugzilla::PluginState& state = bugzilla::plugin_state();
    state = bugzilla::PluginState();
    state.cookie_file_path = dir_.file("cookies.txt");
    state.connections_file_path = dir_.file("BugzillaConnections.txt");
  }

  void write_connections(const std::vector<test_support::ConnectionSpec>& connections) {
    dir_.write("BugzillaConnections.txt", test_support::connections_file(connections));
  }

  void list(Listing& out, const char* filter, const char* connection = "Gadgets",
            const char* login = kAlice, const char* password = kAlicePassword) {
    Context context(login, password, connection);
    out.code = bugzilla::get_issue_list(context.context, filter, &out.issues, &out.count,
                                        &out.flag, &out.error);
  }

  // The parameter struct of the only request of `method` since the last reset.
  XmlRpcValue sent(const std::string& method) {
    XmlRpcValue requests = server_->requests();
    XmlRpcValue found;
    int seen = 0;
    for (int i = 0; i < requests.size(); ++i) {
      if (requests[i]["method"].toText() == method) {
        found = requests[i]["params"];
        ++seen;
      }
    }
    EXPECT_EQ(seen, 1) << method;
    return found;
  }

  static std::string token() { return bugzilla::plugin_state().session_token; }

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
  bugzilla::plugin_state().session_token = "kept-token";
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

// In the token style (Bugzilla 4.4.3 and later) only the token authenticates: the bugs that the
// user may see only when logged in are listed, with their comments.
TEST_F(IssueListTest, RestrictedBugsOfTheUserAreListed) {
  server_->configure("login_style", "token");
  Listing out;
  list(out, "Assigned To Me", "Widgets");
  ASSERT_EQ(out.code, 0) << out.message();
  const std::vector<std::string> ids = out.ids();
  auto position = std::find(ids.begin(), ids.end(), "5");
  ASSERT_NE(position, ids.end());
  const IssueRecord& restricted = *out.issues[position - ids.begin()];
  EXPECT_STREQ(restricted.summary, "Secret widget flaw (restricted)");
  EXPECT_STREQ(restricted.description, "Details are restricted to the secret group.");
}

// Token only: no cookie keeps the session, so each call logs in and carries its fresh token.
TEST_F(IssueListTest, TokenStyleCallsCarryTheFreshToken) {
  server_->configure("login_style", "token");
  Listing out;
  list(out, "Created By Me");
  ASSERT_EQ(out.code, 0) << out.message();
  Methods calls;
  for (const std::string& method : server_->methods()) {
    if (method != "User.login") calls.push_back(method);
  }
  EXPECT_EQ(calls, (Methods{"Bug.search", "Bug.comments"}));
  const std::string search_token = sent("Bug.search")[0]["token"].toText();
  EXPECT_EQ(search_token.rfind("2-", 0), 0u) << search_token;  // alice's token
  EXPECT_EQ(sent("Bug.comments")[0]["token"].toText(), token());
  EXPECT_EQ(sent("Bug.search"),
            make_array({make_struct({{"product", "Gadgets"}, {"reporter", kAlice},
                                     {"token", search_token}})}));
}

// Bugzilla 4.2 issues no token and refuses a "token" member on Bug.search: none is sent.
TEST_F(IssueListTest, CookieStyleSendsNoTokenMember) {
  server_->configure("login_style", "cookie");
  Listing out;
  list(out, "Assigned To Me");
  ASSERT_EQ(out.code, 0) << out.message();
  EXPECT_EQ(out.ids(), (std::vector<std::string>{"41", "42"}));
  EXPECT_FALSE(sent("Bug.search")[0].hasMember("token"));
  EXPECT_FALSE(sent("Bug.comments")[0].hasMember("token"));
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

struct FailureCase {
  const char* method;
  const char* kind;
  XmlRpcValue args;
  const char* message;
  Methods exchanges;
};

// What the injection does, for readable test names.
std::string describe(const char* method, const char* kind, const XmlRpcValue& args) {
  std::string text = std::string(method) + " " + kind;
  for (const char* name : {"code", "member"}) {
    if (const XmlRpcValue* value = args.find(name)) text += " " + value->toText();
  }
  return text;
}

void PrintTo(const FailureCase& c, std::ostream* out) {
  *out << describe(c.method, c.kind, c.args);
}

class ListFailure : public IssueListTest, public ::testing::WithParamInterface<FailureCase> {};

// Every failure returns 1 without a list, whatever code it works out to.
TEST_P(ListFailure, ReturnsOneWithTheMessageAndNoList) {
  const FailureCase& c = GetParam();
  // Fresh connections: libcurl resends a request once when a reused connection is closed
  // without an answer, which would hide a single injected "close".
  server_->configure("close_connections", true);
  server_->inject(c.method, c.kind, c.args, 1);
  Listing out;
  list(out, "Not Filtered");
  EXPECT_EQ(out.code, 1);
  EXPECT_EQ(out.message(), c.message);
  EXPECT_FALSE(out.written());
  EXPECT_EQ(server_->methods(), c.exchanges);
}

XmlRpcValue fault(const XmlRpcValue& code, const char* text) {
  return make_struct({{"code", code}, {"string", text}});
}

const Methods kSearchOnly = {"User.login", "Bug.search"};
const Methods kBoth = {"User.login", "Bug.search", "Bug.comments"};

INSTANTIATE_TEST_SUITE_P(
    Injected, ListFailure,
    ::testing::Values(
        FailureCase{"Bug.search", "close", XmlRpcValue(),
                    "Bug Search failed to receive response from Bugzilla server", kSearchOnly},
        FailureCase{"Bug.search", "http500", XmlRpcValue(),
                    "Bug Search failed to receive response from Bugzilla server", kSearchOnly},
        FailureCase{"Bug.comments", "close", XmlRpcValue(),
                    "Get Comments failed to receive response from Bugzilla server", kBoth},
        FailureCase{"Bug.comments", "http500", XmlRpcValue(),
                    "Get Comments failed to receive response from Bugzilla server", kBoth},
        FailureCase{"Bug.search", "fault", fault(410, "You must log in first."),
                    "You must log in first.", kSearchOnly},
        FailureCase{"Bug.comments", "fault", fault(102, "You are not authorized."),
                    "You are not authorized.", kBoth},
        FailureCase{"Bug.search", "fault", fault("Client", "Bad request."), "Bad request.",
                    kSearchOnly},
        // A fault code that works out to 0 is still a failure.
        FailureCase{"Bug.search", "fault", fault(0, "Zero fault."), "Zero fault.", kSearchOnly},
        FailureCase{"Bug.comments", "fault", fault(0, "Zero fault."), "Zero fault.", kBoth},
        FailureCase{"User.login", "close", XmlRpcValue(),
                    "Bug Search failed to receive response from Bugzilla server",
                    Methods{"User.login"}}));

TEST_F(IssueListTest, RefusedLoginFaultIsTheMessage) {
  Listing out;
  list(out, "Not Filtered", "Gadgets", kAlice, "wrong-password");
  EXPECT_EQ(out.code, 1);
  EXPECT_EQ(out.message(), "The login or password you entered is not valid.");
  EXPECT_FALSE(out.written());
  EXPECT_EQ(server_->methods(), (Methods{"User.login"}));
}

TEST_F(IssueListTest, ServerThatCannotBeReachedGivesTheConnectMessage) {
  test_support::ConnectionSpec nowhere =
      test_support::connection_for(*server_, "Nowhere", "Gadgets");
  nowhere.port = refused_port();
  write_connections({nowhere});
  Listing out;
  list(out, "Not Filtered", "Nowhere");
  EXPECT_EQ(out.code, 1);
  EXPECT_EQ(out.message(), "Bug Search failed to connect to Bugzilla server");
  EXPECT_FALSE(out.written());
}

// --- replies of an unexpected kind ----------------------------------------------------------

struct WrongKindCase {
  const char* method;
  const char* kind;  // "wrong_kind", "remove" or "raw"
  XmlRpcValue args;
  const char* caption;
  Methods exchanges;
};

void PrintTo(const WrongKindCase& c, std::ostream* out) {
  *out << describe(c.method, c.kind, c.args);
}

class ListWrongKind : public IssueListTest,
                      public ::testing::WithParamInterface<WrongKindCase> {};

TEST_P(ListWrongKind, ReportsTheCallsReplyAsNotUnderstood) {
  const WrongKindCase& c = GetParam();
  server_->inject(c.method, c.kind, c.args, 1);
  Listing out;
  list(out, "Not Filtered");
  EXPECT_EQ(out.code, 1);
  char* expected = bugzilla::reply_not_understood(c.caption);
  EXPECT_EQ(out.message(), expected);
  EXPECT_NE(out.message().find(c.caption), std::string::npos);
  bugzilla::free_string(expected);
  EXPECT_FALSE(out.written());
  EXPECT_EQ(server_->methods(), c.exchanges);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ListWrongKind,
    ::testing::Values(
        WrongKindCase{"Bug.search", "wrong_kind",
                      make_struct({{"member", "bugs"}, {"value", "not a list"}}), "Bug Search",
                      kSearchOnly},
        WrongKindCase{"Bug.search", "wrong_kind",
                      make_struct({{"member", "bugs.1.summary"},
                                   {"value", make_struct({{"text", "nested"}})}}),
                      "Bug Search", kSearchOnly},
        WrongKindCase{"Bug.search", "wrong_kind",
                      make_struct({{"member", "bugs.2"}, {"value", 42}}), "Bug Search",
                      kSearchOnly},
        WrongKindCase{"Bug.search", "remove", make_struct({{"member", "bugs"}}), "Bug Search",
                      kSearchOnly},
        WrongKindCase{"Bug.comments", "wrong_kind",
                      make_struct({{"member", "bugs"}, {"value", "none"}}), "Get Comments", kBoth},
        WrongKindCase{"Bug.comments", "wrong_kind",
                      make_struct({{"member", "bugs.41.comments.0.text"},
                                   {"value", make_array({"a", "b"})}}),
                      "Get Comments", kBoth}));

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

  Context unknown(kAlice, kAlicePassword, "Gizmos");
  issues = nullptr;
  EXPECT_EQ(plugin.GetIssueList(&unknown.context, "Created By Me", &issues, &count, &flag, &error),
            1);
  ASSERT_NE(error, nullptr);
  EXPECT_STREQ(error, "Connection Not Found");
  EXPECT_EQ(issues, nullptr);
  plugin.FreeString(error);
  plugin.Uninitialize();
}

}  // namespace
