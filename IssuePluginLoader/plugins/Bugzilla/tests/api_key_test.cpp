// Connections that sign in with an API key, through the loaded plug-in against the Bugzilla
// test server (asserted on the exchanges it recorded), and the pieces behind them: the key
// check, the digest that remembers a checked key, the lookup of a connection's kind.
#include "api_key_calls.h"
#include "api_key_check.h"
#include "authentication.h"
#include "plugin_calls.h"
#include "plugin_loader.h"
#include "reply_values.h"
#include "sha256.h"
#include "cookie_files.h"
#include "test_server.h"

#include <XmlRpc/XmlRpcClient.h>
#include <XmlRpc/XmlRpcException.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using test_support::ExportResult;
using test_support::LoadedPlugin;
using test_support::TempDir;
using test_support::TestServer;
using test_support::make_array;
using test_support::make_struct;
using Context = test_support::HostContext;
using XmlRpc::XmlRpcValue;
using Methods = std::vector<std::string>;

const char kAlice[] = "alice@example.com";
const char kAliceKey[] = "AliceApiKey0123456789abcdefghijKLMNOPQRS";
const char kBobKey[] = "BobApiKey0123456789abcdefghijKLMNOPQRSTU";
const char kRevokedKey[] = "RevokedKey0123456789abcdefghijKLMNOPQRST";
const char kUnknownKey[] = "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx";
const char kKeyed[] = "<authentication>api_key</authentication>";

// A server, a data directory and the plug-in, fresh for each test: the plug-in remembers the
// keys it has checked for a server, and every test starts with none.
class ApiKeyExports : public ::testing::Test {
protected:
  void SetUp() override {
    test_support::ConnectionSpec keyed = test_support::connection_for(server_, "Keyed");
    keyed.extra = kKeyed;
    test_support::ConnectionSpec refused = keyed;
    refused.name = "Refused";
    refused.port = test_support::refused_port();
    dir_.write("BugzillaConnections.txt", test_support::connections_file({keyed, refused}));
    char* error = nullptr;
    ASSERT_EQ(plugin_.Initialize(dir_.path().c_str(), &error), 0);
    plugin_.FreeString(error);
  }

  // Each recorded request: the method and its first parameter.
  std::vector<std::pair<std::string, XmlRpcValue>> sent() {
    std::vector<std::pair<std::string, XmlRpcValue>> calls;
    XmlRpcValue requests = server_.requests();
    for (int i = 0; i < requests.size(); ++i) {
      XmlRpcValue& params = requests[i]["params"];
      calls.emplace_back(requests[i]["method"].toText(),
                         params.size() > 0 ? params[0] : XmlRpcValue());
      EXPECT_EQ(requests[i]["cookie"].toText(), "") << "a key connection sent a cookie";
    }
    return calls;
  }

  TestServer server_;
  TempDir dir_;
  LoadedPlugin plugin_{BUGZILLA_PLUGIN_PATH};
};

TEST_F(ApiKeyExports, ListOpenAttachWithTheKeyOnEveryCallAndOneCheck) {
  Context alice(kAlice, kAliceKey, "Keyed");
  const ExportResult listed = list_issues(plugin_, alice, "Assigned To Me");
  ASSERT_EQ(listed.code, 0) << listed.message;
  EXPECT_NE(std::find(listed.issue_ids.begin(), listed.issue_ids.end(), "5"),
            listed.issue_ids.end()) << "the restricted bug is listed only for alice";
  const ExportResult opened = issue_details(plugin_, alice, "5");
  EXPECT_EQ(opened.code, 0) << opened.message;
  const ExportResult attached = attach_file(plugin_, alice, "1");
  EXPECT_EQ(attached.code, 0) << attached.message;
  EXPECT_TRUE(attached.refused.empty());

  EXPECT_EQ(server_.methods(),
            Methods({"User.valid_login", "Bug.search", "Bug.comments", "Bugzilla.version",
                     "Bug.get", "Bug.comments", "Bug.fields", "Bug.add_comment"}));
  for (auto& [method, params] : sent()) {
    SCOPED_TRACE(method);
    if (method == "User.valid_login") {
      EXPECT_EQ(params, make_struct({{"login", kAlice}, {"api_key", kAliceKey}}));
    } else if (method == "Bugzilla.version") {
      EXPECT_FALSE(params.valid());
    } else {
      EXPECT_EQ(params["api_key"].toText(), kAliceKey);
      EXPECT_FALSE(params.hasMember("token"));
    }
  }
  EXPECT_EQ(test_support::session_cookie_files(dir_), 0);
  XmlRpcValue comments = server_.bug(1)["comments"];
  EXPECT_EQ(comments[comments.size() - 1]["creator"].toText(), kAlice);
  EXPECT_TRUE(comments[comments.size() - 1]["added"].asBool());
}

// Every way a key can fail: the code and the literal message the host gets, the exchanges
// made, and never the key in any text or a cookie file.
TEST_F(ApiKeyExports, KeyFailuresAreReportedWithoutTheKey) {
  enum Export { List, Details, Attach };
  struct Case {
    const char* what;
    const char* key;
    const char* connection;
    Export target;
    void (*prepare)(TestServer&);
    int32_t code;
    const char* message;
    Methods methods;
  };
  const char kNotAlices[] =
      "The API key does not belong to alice@example.com. Enter an API key that "
      "alice@example.com created in Bugzilla (Preferences, API Keys).";
  const char kTooOld[] =
      "API keys need Bugzilla 5.0 or later, and this server does not accept them. Set the "
      "connection's authentication to password, or upgrade Bugzilla.";
  static const char kEndedSession[] =
      "The cookies or token provide were not valid or have expired. You may login again to get "
      "new cookies or a new token.";
  const Methods kCheckOnly = {"User.valid_login"};
  auto none = [](TestServer&) {};
  const Case cases[] = {
      {"someone else's key", kBobKey, "Keyed", List, none, 1, kNotAlices, kCheckOnly},
      {"someone else's key, details", kBobKey, "Keyed", Details, none, 1, kNotAlices,
       kCheckOnly},
      {"unknown key", kUnknownKey, "Keyed", Details, none, 306,
       "The API key you specified is invalid. Please check that you typed it correctly.",
       kCheckOnly},
      {"revoked key", kRevokedKey, "Keyed", Attach, none, 0,
       "The API key you specified has been revoked by the user that created it.", kCheckOnly},
      {"Bugzilla 4.4", kAliceKey, "Keyed", Details,
       [](TestServer& s) { s.configure("version", "4.4.14"); }, -32601, kTooOld, kCheckOnly},
      {"Bugzilla 4.4, listing", kAliceKey, "Keyed", List,
       [](TestServer& s) { s.configure("version", "4.4.14"); }, 1, kTooOld, kCheckOnly},
      {"check cannot connect", kAliceKey, "Refused", List, none, 1,
       "Bug Search failed to connect to Bugzilla server", {}},
      {"check answer cut", kAliceKey, "Keyed", Details,
       [](TestServer& s) { s.inject("User.valid_login", "truncated", XmlRpcValue(), 1); }, 204,
       "Bugzilla Version failed to receive response from Bugzilla server", kCheckOnly},
      {"the key check's fault quoting the key", kAliceKey, "Keyed", Details,
       [](TestServer& s) {
         s.inject("User.valid_login", "fault",
                  test_support::fault_args(51, std::string("Bad ") + kAliceKey + "!"), 1);
       },
       51, "Bad [API key]!", kCheckOnly},
      {"no key", "", "Keyed", List, none, 1,
       "No API key was given for alice@example.com. Enter the API key that alice@example.com "
       "created in Bugzilla (Preferences, API Keys).",
       {}},
      {"a fault quoting the key", kAliceKey, "Keyed", Details,
       [](TestServer& s) {
         s.inject("Bug.get", "fault",
                  test_support::fault_args(51, std::string("Bad ") + kAliceKey + "!"), 1);
       },
       51, "Bad [API key]!", {"User.valid_login", "Bugzilla.version", "Bug.get"}},
      // A key has no session to renew: an ended-session fault is that call's failure. (The
      // case before confirmed the key, so no check comes first.)
      {"32000 is not retried", kAliceKey, "Keyed", Attach,
       [](TestServer& s) {
         s.inject("Bug.add_comment", "fault", test_support::fault_args(32000, kEndedSession), 1);
       },
       0, kEndedSession, {"Bug.add_comment"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    server_.reset();
    c.prepare(server_);
    Context alice(kAlice, c.key, c.connection);
    const ExportResult out = c.target == List      ? list_issues(plugin_, alice)
                             : c.target == Details ? issue_details(plugin_, alice, "1")
                                                   : attach_file(plugin_, alice, "1");
    EXPECT_EQ(out.code, c.code) << out.all_messages();
    if (c.target == Attach) {
      EXPECT_EQ(out.refused, std::vector<std::string>({c.message}));
      EXPECT_FALSE(out.has_message);
    } else {
      EXPECT_EQ(out.message, c.message);
    }
    EXPECT_EQ(server_.methods(), c.methods);
    if (*c.key != '\0') {
      EXPECT_EQ(out.all_messages().find(c.key), std::string::npos);
    }
    EXPECT_EQ(test_support::session_cookie_files(dir_), 0);
  }
  // A refused key is not remembered: the next call asks again.
  server_.reset();
  Context bob_key(kAlice, kBobKey, "Keyed");
  issue_details(plugin_, bob_key, "1");
  EXPECT_EQ(server_.methods(), kCheckOnly);
}

// --- the pieces, without the exports ---------------------------------------------------------

TEST(ApiKeyCheck, ClassifiesEachAnswer) {
  TestServer server;
  XmlRpc::XmlRpcClient client("http://127.0.0.1", server.port(), "/xmlrpc.cgi");
  struct Case {
    const char* login;
    const char* key;
    const char* version;
    bugzilla::ApiKeyOwner owner;
    const char* message;
  };
  const Case cases[] = {
      {kAlice, kAliceKey, "5.0.6", bugzilla::ApiKeyOwner::Login,
       "The API key belongs to alice@example.com."},
      {"bob@example.com", kAliceKey, "5.2", bugzilla::ApiKeyOwner::SomeoneElse,
       "The API key does not belong to bob@example.com. Enter an API key that bob@example.com "
       "created in Bugzilla (Preferences, API Keys)."},
      {kAlice, kRevokedKey, "5.0.6", bugzilla::ApiKeyOwner::UnknownOrRevoked,
       "The API key you specified has been revoked by the user that created it."},
      {kAlice, kAliceKey, "4.4.14", bugzilla::ApiKeyOwner::ServerTooOld,
       "API keys need Bugzilla 5.0 or later, and this server does not accept them. Set the "
       "connection's authentication to password, or upgrade Bugzilla."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    server.configure("version", c.version);
    XmlRpc::XmlRpcClient attempt(client);
    const bugzilla::ApiKeyCheck check = bugzilla::check_api_key(attempt, c.login, c.key);
    EXPECT_EQ(check.owner, c.owner);
    EXPECT_EQ(check.code, 0);
    EXPECT_EQ(check.message, c.message);
  }
  XmlRpcValue sent = server.requests()[0]["params"];
  EXPECT_EQ(sent, make_array({make_struct({{"login", kAlice}, {"api_key", kAliceKey}})}));

  server.configure("version", "5.0.6");
  server.inject("User.valid_login", "fault", test_support::fault_args(51, "Something broke."),
                1);
  bugzilla::ApiKeyCheck fault = bugzilla::check_api_key(client, kAlice, kAliceKey);
  EXPECT_EQ(fault.owner, bugzilla::ApiKeyOwner::Failed);
  EXPECT_EQ(fault.message, "Something broke.");

  server.inject("User.valid_login", "wrong_kind",
                make_struct({{"member", ""}, {"value", "yes"}}), 1);
  bugzilla::ApiKeyCheck odd = bugzilla::check_api_key(client, kAlice, kAliceKey);
  EXPECT_EQ(odd.owner, bugzilla::ApiKeyOwner::Failed);
  EXPECT_EQ(odd.message, "The Bugzilla server's answer to User.valid_login was not understood.");

  XmlRpc::XmlRpcClient nowhere("http://127.0.0.1", test_support::refused_port(), "/xmlrpc.cgi");
  bugzilla::ApiKeyCheck unreachable = bugzilla::check_api_key(nowhere, kAlice, kAliceKey);
  EXPECT_EQ(unreachable.owner, bugzilla::ApiKeyOwner::Failed);
  EXPECT_EQ(unreachable.code, 202);
  EXPECT_EQ(unreachable.message, "The API key check failed to connect to Bugzilla server");
}

TEST(ApiKeyDigest, Sha256AndTheCombinationsItTellsApart) {
  // The platform digest, formatted as hexadecimal digits.
  EXPECT_EQ(bugzilla::sha256_hex("abc"),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

  const std::string digest = bugzilla::api_key_digest("server", kAlice, kAliceKey);
  EXPECT_EQ(digest.find(kAliceKey), std::string::npos);
  EXPECT_NE(digest, bugzilla::api_key_digest("server", kAlice, kBobKey));
  EXPECT_NE(digest, bugzilla::api_key_digest("other server", kAlice, kAliceKey));
  // Parts are kept apart: moving text from the login into the key is another combination.
  EXPECT_NE(bugzilla::api_key_digest("s", "ab", "c"), bugzilla::api_key_digest("s", "a", "bc"));
}

TEST(ConnectionAuthentication, ByConnectionName) {
  TempDir dir;
  auto spec = [](const char* name, const char* extra) {
    test_support::ConnectionSpec connection;
    connection.name = name;
    connection.server_url = "http://bugzilla.example.com";
    connection.extra = extra;
    return connection;
  };
  const test_support::ConnectionSpec keyed = spec("Keyed", kKeyed);
  const test_support::ConnectionSpec plain = spec("Plain", "");
  const test_support::ConnectionSpec spelled =
      spec("Spelled", "<authentication>Password</authentication>");
  dir.write("BugzillaConnections.txt", test_support::connections_file({keyed, plain, spelled}));
  const std::string path = dir.file("BugzillaConnections.txt");

  const struct {
    const char* name;
    int code;
    bugzilla::Authentication kind;
    const char* message;
  } cases[] = {
      {"Keyed", 0, bugzilla::Authentication::ApiKey, ""},
      {"Plain", 0, bugzilla::Authentication::Password, ""},
      {"Spelled", 0, bugzilla::Authentication::Password, ""},
      {"keyed", 1, bugzilla::Authentication::Password, "Connection Not Found"},
  };
  for (const auto& c : cases) {
    bugzilla::Authentication kind = bugzilla::Authentication::Password;
    std::string message;
    EXPECT_EQ(bugzilla::connection_authentication(path, c.name, kind, message), c.code) << c.name;
    EXPECT_EQ(kind, c.kind) << c.name;
    EXPECT_EQ(message, c.message) << c.name;
  }
  // A value only a hand-made struct can hold is refused rather than taken for a password.
  XmlRpcValue odd;
  odd["authentication"] = "token";
  EXPECT_THROW(bugzilla::authentication_of(odd), XmlRpc::XmlRpcException);
}

}  // namespace
