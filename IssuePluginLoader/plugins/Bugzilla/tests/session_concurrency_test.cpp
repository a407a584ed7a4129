// Sessions per user, through the plug-in loaded as a host loads it, asserted on the order of
// events in the test server's record: two users' exports overlap on the server, one user's
// exports never do, and of 65 users the least recently used is the one signed in again.
#include "cookie_files.h"
#include "plugin_calls.h"
#include "plugin_loader.h"
#include "reply_values.h"
#include "test_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using test_support::LoadedPlugin;
using test_support::TestServer;
using Context = test_support::HostContext;
using XmlRpc::XmlRpcValue;

struct Span {
  double started = 0, finished = 0;
};

// The login of a recorded request: User.login names it; later calls carry a token that
// starts with the user's id.
std::string login_of(XmlRpcValue& request, const std::map<int, std::string>& logins) {
  XmlRpcValue& params = request["params"];
  if (params.size() == 0 || params[0].getType() != XmlRpcValue::TypeStruct) return "";
  XmlRpcValue& first = params[0];
  if (first.hasMember("login")) return first["login"].toText();
  if (!first.hasMember("token")) return "";
  const auto found = logins.find(std::atoi(first["token"].toText().c_str()));
  return found == logins.end() ? "" : found->second;
}

std::vector<Span> spans(XmlRpcValue& requests) {
  std::vector<Span> all;
  for (int i = 0; i < requests.size(); ++i) {
    all.push_back({requests[i]["started"].asDouble(), requests[i]["finished"].asDouble()});
  }
  return all;
}

class SessionConcurrency : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    server_ = new TestServer();
    plugin_ = new LoadedPlugin(BUGZILLA_PLUGIN_PATH);
  }
  static void TearDownTestSuite() {
    delete plugin_;
    delete server_;
  }

  void SetUp() override {
    server_->reset();
    dir_.write("BugzillaConnections.txt",
               test_support::connections_file({test_support::connection_for(*server_, "Main")}));
    char* error = nullptr;
    ASSERT_EQ(plugin_->Initialize(dir_.path().c_str(), &error), 0);
    plugin_->FreeString(error);
  }
  void TearDown() override { plugin_->Uninitialize(); }

  static TestServer* server_;
  static LoadedPlugin* plugin_;
  test_support::TempDir dir_;
};

TestServer* SessionConcurrency::server_ = nullptr;
LoadedPlugin* SessionConcurrency::plugin_ = nullptr;

TEST_F(SessionConcurrency, TwoUsersListingAtOnceOverlapOnTheServer) {
  server_->configure("delay_seconds", 0.5);
  Context alice("alice@example.com", "alice-pass-1", "Main");
  Context bob("bob@example.com", "bob-pass-1", "Main");
  test_support::ExportResult alice_list, bob_list;
  {
    std::thread first([&] { alice_list = test_support::list_issues(*plugin_, alice); });
    std::thread second([&] { bob_list = test_support::list_issues(*plugin_, bob); });
    first.join();
    second.join();
  }
  ASSERT_EQ(alice_list.code, 0) << alice_list.message;
  ASSERT_EQ(bob_list.code, 0) << bob_list.message;

  XmlRpcValue requests = server_->requests();
  const std::map<int, std::string> logins{{2, alice.login}, {3, bob.login}};
  std::map<std::string, std::vector<Span>> by_user;
  const std::vector<Span> all = spans(requests);
  for (int i = 0; i < requests.size(); ++i) {
    by_user[login_of(requests[i], logins)].push_back(all[static_cast<size_t>(i)]);
  }
  // At least a sign-in, Bug.search and Bug.comments each.
  ASSERT_GE(by_user[alice.login].size(), 3u);
  ASSERT_GE(by_user[bob.login].size(), 3u);
  EXPECT_EQ(by_user[""].size(), 0u);
  // Each user's sign-in began before the other's ended: neither waited for the other's
  // listing (one after the other, the second would begin after the first's last call).
  const Span& a = by_user[alice.login].front();
  const Span& b = by_user[bob.login].front();
  EXPECT_LT(a.started, b.finished);
  EXPECT_LT(b.started, a.finished);
}

TEST_F(SessionConcurrency, OneUsersExportsRunOneAfterTheOther) {
  server_->configure("delay_seconds", 0.2);
  Context listing("alice@example.com", "alice-pass-1", "Main");
  Context details("alice@example.com", "alice-pass-1", "Main");
  test_support::ExportResult listed, shown;
  {
    std::thread first([&] { listed = test_support::list_issues(*plugin_, listing); });
    std::thread second([&] { shown = test_support::issue_details(*plugin_, details, "1"); });
    first.join();
    second.join();
  }
  ASSERT_EQ(listed.code, 0) << listed.message;
  ASSERT_EQ(shown.code, 0) << shown.message;

  XmlRpcValue requests = server_->requests();
  std::vector<Span> all = spans(requests);
  ASSERT_GE(all.size(), 7u);  // the listing's three calls, the details' four
  std::sort(all.begin(), all.end(),
            [](const Span& x, const Span& y) { return x.started < y.started; });
  for (size_t i = 1; i < all.size(); ++i) {
    EXPECT_GE(all[i].started, all[i - 1].finished) << "request " << i << " overlaps";
  }
}

TEST_F(SessionConcurrency, TheSixtyFifthUserDropsTheLeastRecentlyUsedSession) {
  server_->addUsers(65);
  auto details_of = [](int n) {
    const std::string login = "user" + std::to_string(n) + "@example.com";
    Context context(login, "user" + std::to_string(n) + "-pass", "Main");
    const test_support::ExportResult shown = test_support::issue_details(*plugin_, context, "1");
    EXPECT_EQ(shown.code, 0) << login << ": " << shown.message;
  };
  for (int n = 1; n <= 65; ++n) details_of(n);
  // The first user's session and its cookie file are gone; 64 remain.
  EXPECT_EQ(test_support::session_cookie_files(dir_), 64);

  server_->clearRequests();
  details_of(65);  // still kept: no sign-in
  details_of(1);   // forgotten: signs in again
  const std::vector<std::string> methods = server_->methods();
  EXPECT_EQ(methods, (std::vector<std::string>{"Bugzilla.version", "Bug.get", "Bug.comments",
                                               "Bug.fields", "User.login", "Bugzilla.version",
                                               "Bug.get", "Bug.comments", "Bug.fields"}));
}

}  // namespace
