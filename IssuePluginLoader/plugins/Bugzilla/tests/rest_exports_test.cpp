// The exports over Bugzilla's REST API, through the plug-in loaded as a host loads it, against
// the test server in both of its REST styles: upstream Bugzilla 5.0 to 5.2 (rest.cgi,
// credentials only as parameters) and bugzilla.mozilla.org (/rest, credentials in headers,
// descriptions in the search). Asserted on what the host gets and on the server's record.
#include "plugin_calls.h"
#include "plugin_loader.h"
#include "reply_values.h"
#include "test_server.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using test_support::ExportResult;
using test_support::LoadedPlugin;
using test_support::TestServer;
using Context = test_support::HostContext;
using XmlRpc::XmlRpcValue;
using Methods = std::vector<std::string>;

const char kAlice[] = "alice@example.com";
const char kAlicePassword[] = "alice-pass-1";
const char kAliceKey[] = "AliceApiKey0123456789abcdefghijKLMNOPQRS";
const char kBobKey[] = "BobApiKey0123456789abcdefghijKLMNOPQRSTU";

class RestExports : public ::testing::TestWithParam<const char*> {
protected:
  bool bmo() const { return std::string(GetParam()) == "bmo"; }

  void SetUp() override {
    TestServer::Options options;
    options.rest_style = GetParam();
    server_ = std::make_unique<TestServer>(options);
    test_support::ConnectionSpec password = test_support::connection_for(*server_, "Rest");
    password.uri = server_->restUri();
    password.extra = "<web_service>REST</web_service>";
    test_support::ConnectionSpec keyed = password;
    keyed.name = "Rest key";
    keyed.extra += "<authentication>api_key</authentication>";
    dir_.write("BugzillaConnections.txt", test_support::connections_file({password, keyed}));
    char* error = nullptr;
    ASSERT_EQ(plugin_.Initialize(dir_.path().c_str(), &error), 0);
    plugin_.FreeString(error);
  }
  void TearDown() override { plugin_.Uninitialize(); }

  // The REST requests the server recorded, as "METHOD path" without the query.
  std::vector<std::string> resources() {
    std::vector<std::string> lines;
    XmlRpcValue requests = server_->requests();
    for (int i = 0; i < requests.size(); ++i) {
      const std::string path = requests[i]["path"].toText();
      lines.push_back(requests[i]["http_method"].toText() + " " + path.substr(0, path.find('?')));
    }
    return lines;
  }
  std::string base() const { return server_->restUri(); }

  std::unique_ptr<TestServer> server_;
  test_support::TempDir dir_;
  LoadedPlugin plugin_{BUGZILLA_PLUGIN_PATH};
};

// Where the token went: bugzilla.mozilla.org's header, or upstream's parameter (never a
// header there, which it would ignore and run the call anonymously).
void expect_token_placed(XmlRpcValue& request, bool in_header) {
  XmlRpcValue& headers = request["headers"];
  EXPECT_EQ(headers.hasMember("x-bugzilla-token"), in_header) << request["path"].toText();
  EXPECT_EQ(request["params"].hasMember("token"), !in_header) << request["path"].toText();
}

TEST_P(RestExports, ListingShowingAndAttachingWithAPassword) {
  Context alice(kAlice, kAlicePassword, "Rest");
  const ExportResult listed = test_support::list_issues(plugin_, alice, "Assigned To Me");
  ASSERT_EQ(listed.code, 0) << listed.message;
  // Restricted bug 5 among alice's: the search ran as her, not anonymously.
  EXPECT_EQ(listed.issue_ids.size(), 19u);
  EXPECT_EQ(listed.issue_ids[3], "5");

  XmlRpcValue requests = server_->requests();
  const std::vector<std::string> made = resources();
  ASSERT_GE(made.size(), 3u);
  EXPECT_EQ(made[0], "GET " + base() + "/login");
  EXPECT_EQ(made[1], "GET " + base() + "/whoami");  // where credentials go, asked once
  EXPECT_EQ(made[2], "GET " + base() + "/bug");
  EXPECT_EQ(requests[2]["params"]["include_fields"],
            test_support::make_array({"id", "summary", "severity", "status", "description"}));
  expect_token_placed(requests[2], bmo());
  // bugzilla.mozilla.org gives the first comments with the search: one request.
  EXPECT_EQ(made.size(), bmo() ? 3u : 4u);
  if (!bmo()) {
    EXPECT_EQ(made[3], "GET " + base() + "/bug/1/comment");
    expect_token_placed(requests[3], false);
  }

  server_->clearRequests();
  const ExportResult shown = test_support::issue_details(plugin_, alice, "2");
  ASSERT_EQ(shown.code, 0) << shown.message;
  EXPECT_EQ(resources(), (std::vector<std::string>{"GET " + base() + "/version",
                                                   "GET " + base() + "/bug/2",
                                                   "GET " + base() + "/bug/2/comment",
                                                   "GET " + base() + "/field/bug"}));

  server_->clearRequests();
  const ExportResult attached = test_support::attach_file(plugin_, alice, "7");
  ASSERT_EQ(attached.code, 0) << attached.message;
  EXPECT_TRUE(attached.refused.empty()) << attached.refused[0];
  requests = server_->requests();
  ASSERT_EQ(resources(), (std::vector<std::string>{"POST " + base() + "/bug/7/comment"}));
  expect_token_placed(requests[0], bmo());
  EXPECT_NE(requests[0]["params"]["comment"].toText().find("kova://"), std::string::npos);
  EXPECT_EQ(std::string(requests[0]["path"].toText()).find('?'), std::string::npos);
}

TEST_P(RestExports, DetailsReadAsOverXmlRpc) {
  Context alice(kAlice, kAlicePassword, "Rest");
  char* error = nullptr;
  IssueRecord* issue = nullptr;
  CustomFieldRecord** fields = nullptr;
  int32_t count = 0;
  RequestContext context = alice.context;
  ASSERT_EQ(plugin_.GetIssueDetails(&context, "4", &issue, &fields, &count, &error), 0)
      << (error ? error : "");
  ASSERT_NE(issue, nullptr);
  EXPECT_STREQ(issue->id, "4");
  int datetimes = 0;
  std::string resolution;
  for (int32_t i = 0; i < count; ++i) {
    const FieldChoice* choice = fields[i]->choice_count > 0 ? fields[i]->choices[0] : nullptr;
    if (choice == nullptr || choice->label == nullptr) continue;
    const std::string label = choice->label;
    // "2026-09-04T09:00:00", as XML-RPC date-times reach the host.
    if (label.size() == 19 && label[4] == '-' && label[10] == 'T' && label[16] == ':') {
      ++datetimes;
    }
    if (i == 0) resolution = label;
  }
  EXPECT_EQ(datetimes, 2);  // Modified and Reported
  EXPECT_EQ(resolution, "DUPLICATE of bug # 1");
  plugin_.FreeIssue(issue);
  plugin_.FreeCustomFieldsList(fields, static_cast<uint32_t>(count));
}

TEST_P(RestExports, ApiKeysAreCheckedOnceAndNeverSentAnonymously) {
  Context alice(kAlice, kAliceKey, "Rest key");
  const ExportResult listed = test_support::list_issues(plugin_, alice, "Assigned To Me");
  ASSERT_EQ(listed.code, 0) << listed.message;
  EXPECT_EQ(listed.issue_ids.size(), 19u);
  EXPECT_EQ(listed.issue_ids[3], "5");  // restricted: the key was used, not ignored
  XmlRpcValue requests = server_->requests();
  const std::vector<std::string> made = resources();
  // bugzilla.mozilla.org names the key's owner; upstream does not know /whoami and is asked
  // with /valid_login, then takes the key as a parameter.
  ASSERT_GE(made.size(), 2u);
  EXPECT_EQ(made[0], "GET " + base() + "/whoami");
  EXPECT_EQ(made[1], "GET " + base() + (bmo() ? "/bug" : "/valid_login"));
  for (int i = 1; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i]["headers"].hasMember("x-bugzilla-api-key"), bmo()) << made[i];
    EXPECT_EQ(requests[i]["params"].hasMember("api_key"), !bmo()) << made[i];
  }

  server_->clearRequests();
  ASSERT_EQ(test_support::issue_details(plugin_, alice, "1").code, 0);
  EXPECT_EQ(resources().front(), "GET " + base() + "/version");  // the key is not asked again

  Context bob_key_for_alice(kAlice, kBobKey, "Rest key");
  const ExportResult refused = test_support::list_issues(plugin_, bob_key_for_alice);
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.message.find("does not belong to alice@example.com"), std::string::npos)
      << refused.message;
  EXPECT_EQ(refused.all_messages().find(kBobKey), std::string::npos);
}

TEST_P(RestExports, FaultsAndFailuresAreReportedAsOverXmlRpc) {
  Context alice(kAlice, kAlicePassword, "Rest");
  ExportResult unknown = test_support::issue_details(plugin_, alice, "999999");
  EXPECT_EQ(unknown.code, 101);
  EXPECT_NE(unknown.message.find("999999"), std::string::npos) << unknown.message;

  Context wrong(kAlice, "not-the-password", "Rest");
  ExportResult refused = test_support::issue_details(plugin_, wrong, "1");
  EXPECT_EQ(refused.code, 300);
  EXPECT_EQ(refused.all_messages().find("not-the-password"), std::string::npos);

  XmlRpcValue location;
  location["location"] = "https://elsewhere.example/login?token=secret-token";
  server_->inject("Bug.search", "redirect", location, 1);
  ExportResult redirected = test_support::list_issues(plugin_, alice);
  EXPECT_EQ(redirected.code, 1);
  EXPECT_NE(redirected.message.find("HTTP 302"), std::string::npos) << redirected.message;
  EXPECT_NE(redirected.message.find("https://elsewhere.example/login"), std::string::npos);
  EXPECT_EQ(redirected.message.find("secret-token"), std::string::npos);

  server_->inject("Bug.get", "http500", XmlRpcValue(), 1);
  ExportResult broken = test_support::issue_details(plugin_, alice, "1");
  EXPECT_EQ(broken.code, 204);
  EXPECT_NE(broken.message.find("HTTP 500"), std::string::npos) << broken.message;
}

TEST_P(RestExports, AnEndedSessionIsRenewedOnce) {
  Context alice(kAlice, kAlicePassword, "Rest");
  ASSERT_EQ(test_support::issue_details(plugin_, alice, "1").code, 0);
  server_->expireSessions();  // the token held is now refused: 32000 upstream, 307 on bmo
  server_->clearRequests();
  const ExportResult attached = test_support::attach_file(plugin_, alice, "7");
  ASSERT_EQ(attached.code, 0) << attached.message;
  EXPECT_TRUE(attached.refused.empty()) << attached.refused[0];
  EXPECT_EQ(resources(), (std::vector<std::string>{"POST " + base() + "/bug/7/comment",
                                                   "GET " + base() + "/login",
                                                   "POST " + base() + "/bug/7/comment"}));
}

INSTANTIATE_TEST_SUITE_P(Styles, RestExports, ::testing::Values("upstream", "bmo"));

// A product of 3,000 bugs over upstream REST: the first comments come in several requests,
// none with a request line the server would refuse, and every bug gets its own.
TEST(RestListing, ManyBugsAreSplitIntoShortRequestLines) {
  constexpr int kBugs = 3000;
  std::string fixture =
      "{\"users\": [{\"id\": 2, \"login\": \"alice@example.com\", \"password\": "
      "\"alice-pass-1\", \"groups\": []}], \"products\": [{\"id\": 1, \"name\": \"Big\", "
      "\"components\": [{\"id\": 1, \"name\": \"Main\", \"default_assigned_to\": "
      "\"alice@example.com\"}], \"versions\": [\"unspecified\"], \"milestones\": [\"---\"]}], "
      "\"bugs\": [";
  for (int id = 1; id <= kBugs; ++id) {
    const std::string n = std::to_string(id);
    fixture += std::string(id > 1 ? ", " : "") + "{\"id\": " + n +
               ", \"product\": \"Big\", \"component\": \"Main\", \"summary\": \"Bug " + n +
               "\", \"status\": \"CONFIRMED\", \"assigned_to\": \"alice@example.com\", "
               "\"creator\": \"alice@example.com\", \"creation_time\": \"2026-09-04T09:00:00Z\", "
               "\"last_change_time\": \"2026-09-04T09:00:00Z\", \"comments\": [{\"creator\": "
               "\"alice@example.com\", \"time\": \"2026-09-04T09:00:00Z\", \"text\": \"First of " +
               n + "\"}]}";
  }
  test_support::TempDir dir;
  dir.write("big.json", fixture + "]}");
  TestServer::Options options;
  options.fixture = dir.file("big.json");
  TestServer server(options);
  test_support::ConnectionSpec rest = test_support::connection_for(server, "Big", "Big");
  rest.uri = server.restUri();
  rest.extra = "<web_service>rest</web_service>";
  dir.write("BugzillaConnections.txt", test_support::connections_file({rest}));
  LoadedPlugin plugin(BUGZILLA_PLUGIN_PATH);
  char* error = nullptr;
  ASSERT_EQ(plugin.Initialize(dir.path().c_str(), &error), 0);

  Context alice(kAlice, kAlicePassword, "Big");
  RequestContext context = alice.context;
  IssueRecord** issues = nullptr;
  int32_t count = 0, flag = 0;
  ASSERT_EQ(plugin.GetIssueList(&context, "Not Filtered", &issues, &count, &flag, &error), 0)
      << (error ? error : "");
  ASSERT_EQ(count, kBugs);
  for (int32_t i = 0; i < count; ++i) {
    ASSERT_EQ(std::string(issues[i]->description), "First of " + std::string(issues[i]->id));
  }
  plugin.FreeIssueList(issues, static_cast<uint32_t>(count));

  int comment_requests = 0;
  XmlRpcValue requests = server.requests();
  for (int i = 0; i < requests.size(); ++i) {
    if (requests[i]["method"].toText() != "Bug.comments") continue;
    ++comment_requests;
    // "GET <path> HTTP/1.1" as it went out: the record hides the token, which is no longer.
    const size_t line = 4 + requests[i]["path"].toText().size() + 9;
    EXPECT_LE(line, 8000u + 64u);
  }
  EXPECT_GE(comment_requests, 3);
  plugin.Uninitialize();
}

}  // namespace
