// A session the server has ended while the plug-in still holds it: one fresh login and the
// call repeated, only for a reused session, only on 32000 or 410, only once. Through the
// loaded plug-in against the Bugzilla test server, asserted on the exchanges it recorded.
#include "plugin_calls.h"
#include "plugin_loader.h"
#include "reply_values.h"
#include "cookie_files.h"
#include "test_server.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using test_support::ExportResult;
using test_support::LoadedPlugin;
using test_support::TestServer;
using test_support::fault_args;
using Context = test_support::HostContext;
using XmlRpc::XmlRpcValue;
using Methods = std::vector<std::string>;

const char kEnded[] =
    "The cookies or token provide were not valid or have expired. You may login again to get "
    "new cookies or a new token.";
const char kRefusedPassword[] = "The login or password you entered is not valid.";

class SessionRenewal : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    server_ = new TestServer();
    dir_ = new test_support::TempDir();
    plugin_ = new LoadedPlugin(BUGZILLA_PLUGIN_PATH);
    dir_->write("BugzillaConnections.txt",
                test_support::connections_file({test_support::connection_for(*server_, "Main")}));
  }
  static void TearDownTestSuite() {
    delete plugin_;
    delete dir_;
    delete server_;
  }

  // A session to reuse: a login, and the cookie 5.x and 4.4 set on a call without a token.
  void SetUp() override {
    server_->reset();
    plugin_->Uninitialize();
    char* error = nullptr;
    ASSERT_EQ(plugin_->Initialize(dir_->path().c_str(), &error), 0);
    plugin_->FreeString(error);
  }

  void hold_session() {
    ASSERT_EQ(issue_details(*plugin_, alice_, "1").code, 0);
    ASSERT_EQ(test_support::session_cookie_files(*dir_), 1);
    server_->clearRequests();
  }

  // Comments the plug-in added to bug 1.
  static int added_comments() {
    XmlRpcValue comments = server_->bug(1)["comments"];
    int added = 0;
    for (int i = 0; i < comments.size(); ++i) added += comments[i]["added"].asBool() ? 1 : 0;
    return added;
  }

  // The "token" of each recorded request of `method`, in order.
  static std::vector<std::string> tokens_of(const std::string& method) {
    std::vector<std::string> tokens;
    XmlRpcValue requests = server_->requests();
    for (int i = 0; i < requests.size(); ++i) {
      if (requests[i]["method"].toText() == method) {
        tokens.push_back(requests[i]["params"][0]["token"].toText());
      }
    }
    return tokens;
  }

  Context alice_{"alice@example.com", "alice-pass-1", "Main"};
  static TestServer* server_;
  static test_support::TempDir* dir_;
  static LoadedPlugin* plugin_;
};

TestServer* SessionRenewal::server_ = nullptr;
test_support::TempDir* SessionRenewal::dir_ = nullptr;
LoadedPlugin* SessionRenewal::plugin_ = nullptr;

TEST_F(SessionRenewal, EndedSessionGetsOneLoginAndTheCallOnceMore) {
  struct Case {
    const char* what;
    const char* version;
  };
  // 5.x refuses the dead token with 32000; 4.4 runs the call anonymously, and Bug.add_comment
  // refuses that with 410.
  for (const Case& c : {Case{"5.x", "5.0.6"}, Case{"4.4", "4.4.14"}}) {
    SCOPED_TRACE(c.what);
    SetUp();
    server_->configure("version", c.version);
    hold_session();
    server_->expireSessions();

    const ExportResult out = attach_file(*plugin_, alice_, "1");
    EXPECT_EQ(out.code, 0) << out.message;
    EXPECT_TRUE(out.refused.empty()) << out.all_messages();
    EXPECT_EQ(server_->methods(), Methods({"Bug.add_comment", "User.login", "Bug.add_comment"}));
    const std::vector<std::string> tokens = tokens_of("Bug.add_comment");
    ASSERT_EQ(tokens.size(), 2u);
    EXPECT_NE(tokens[0], tokens[1]);  // the repeat carries the new login's token
    EXPECT_EQ(added_comments(), 1);
  }

  // Within one export: the call that met the ended session is repeated once; the renewal
  // deleted the cookie file and a token login sets none, so the later calls log in first,
  // as after any login on such a server.
  SetUp();
  hold_session();
  server_->expireSessions();
  EXPECT_EQ(issue_details(*plugin_, alice_, "1").code, 0);
  EXPECT_EQ(server_->methods(),
            Methods({"Bugzilla.version", "Bug.get", "User.login", "Bug.get", "User.login",
                     "Bug.comments", "User.login", "Bug.fields"}));
}

TEST_F(SessionRenewal, OtherCasesAreReportedAsTheyCame) {
  struct Case {
    const char* what;
    bool session_held;
    XmlRpcValue fault_code;
    const char* fault_text;
    int times;
    Methods methods;
  };
  const Case cases[] = {
      {"no retry after a login made for this call", false, XmlRpcValue(32000), kEnded, 1,
       {"User.login", "Bug.add_comment"}},
      {"no retry on a refused password", true, XmlRpcValue(300), kRefusedPassword, 1,
       {"Bug.add_comment"}},
      {"a second 32000 is reported", true, XmlRpcValue(32000), kEnded, 2,
       {"Bug.add_comment", "User.login", "Bug.add_comment"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    if (c.session_held) hold_session();
    server_->inject("Bug.add_comment", "fault", fault_args(c.fault_code, c.fault_text), c.times);

    const ExportResult out = attach_file(*plugin_, alice_, "1");
    EXPECT_EQ(out.code, 0) << out.message;
    EXPECT_EQ(out.refused, std::vector<std::string>({c.fault_text}));
    EXPECT_EQ(server_->methods(), c.methods);
    EXPECT_EQ(added_comments(), 0);
  }
}

}  // namespace
