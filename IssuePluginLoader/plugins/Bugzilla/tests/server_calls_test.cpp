// Server calls against the Bugzilla test server: when the session is reused and when a login
// comes first (asserted on the exchanges the server recorded), how the token travels, and the
// codes and messages of failed calls (transport failures through the exports are in the
// fault-injection suite).
#include "server_calls.h"
#include "session.h"

#include "reply_values.h"
#include "test_server.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using bugzilla::call_with_login;
using bugzilla::describe_call_failure;
using bugzilla::prepare_client;
using test_support::TempDir;
using test_support::TestServer;
using XmlRpc::XmlRpcClient;
using XmlRpc::XmlRpcValue;
using Context = test_support::HostContext;

const char kLogin[] = "alice@example.com";
const char kPassword[] = "alice-pass-1";
const char kMarker[] = "Bugzilla_logincookie=marker-7f3e";

using Methods = std::vector<std::string>;

// The cookie date `seconds_from_now` away, as servers write it in expires attributes.
std::string cookie_date(double seconds_from_now) {
  const std::time_t when = std::time(nullptr) + static_cast<std::time_t>(seconds_from_now);
  const std::tm parts = test_support::utc_parts(when);
  char text[64];
  std::strftime(text, sizeof text, "%a, %d-%b-%Y %H:%M:%S GMT", &parts);
  return text;
}

XmlRpcValue connection_for(const std::string& server_url, int port = -1) {
  XmlRpcValue connection;
  connection["name"] = "Main";
  connection["server_url"] = server_url;
  if (port >= 0) connection["port"] = port;
  connection["web_service_extension"] = "/xmlrpc.cgi";
  connection["product"] = "Widgets";
  connection["connect_timeout_seconds"] = 5;
  connection["timeout_seconds"] = 30;
  return connection;
}

// Parameters for Bug.search with a "token" member, as the callers build them.
XmlRpcValue search_params(const std::string& token) {
  XmlRpcValue params;
  params[0]["product"] = "Widgets";
  params[0]["token"] = token;
  return params;
}

// The parameter struct of a recorded request (its first parameter).
XmlRpcValue first_param(XmlRpcValue& request) {
  XmlRpcValue& params = request["params"];
  if (params.getType() != XmlRpcValue::TypeArray || params.size() == 0) return XmlRpcValue();
  return params[0];
}

// Members are public so that the table cases below can spoil the session through them.
class ServerCallsTest : public ::testing::Test {
public:
  // The server starts with the first test rather than in SetUpTestSuite, where a failure to
  // start would only mark the tests skipped.
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  void SetUp() override {
    if (server_ == nullptr) server_ = new TestServer();
    server_->reset();
    server_->clearRequests();
    session_.reset();  // its cookie file goes with it
    session_ = std::make_unique<bugzilla::Session>(dir_.file("cookies.txt"));
    connection_ = connection_for(server_->url());
    client_ = prepare_client(connection_);
  }

  // One call through the session layer for `context` on the suite's server.
  int call(const Context& context, const char* method, XmlRpcValue& result,
           const XmlRpcValue& params = XmlRpcValue()) {
    return call_with_login(*session_, *client_, context.context, method, result, params,
                           bugzilla::Authentication::Password);
  }

  // A session made by a real login, then a fresh cookie file; the server's record is cleared.
  std::string establish_session() {
    XmlRpcValue result;
    EXPECT_EQ(call(alice_, "Bugzilla.version", result), 0);
    EXPECT_FALSE(result.hasMember("faultCode"));
    EXPECT_FALSE(session_->token.empty());
    write_cookie_file(cookie_date(30 * 86400.0));
    server_->clearRequests();
    return session_->token;
  }

  void write_cookie_file(const std::string& date) {
    dir_.write("cookies.txt", std::string(kMarker) + "; path=/; expires=" + date +
                                  "; HttpOnly; domain=127.0.0.1\n");
  }
  bool marker_in_cookie_file() const {
    return dir_.exists("cookies.txt") &&
           dir_.read("cookies.txt").find(kMarker) != std::string::npos;
  }

  static TestServer* server_;
  TempDir dir_;
  std::unique_ptr<bugzilla::Session> session_;
  XmlRpcValue connection_;
  std::unique_ptr<XmlRpcClient> client_;
  const Context alice_{kLogin, kPassword, "Main"};
};

TestServer* ServerCallsTest::server_ = nullptr;

TEST_F(ServerCallsTest, FreshSessionOfTheSameLoginIsReused) {
  const std::string token = establish_session();
  XmlRpcValue result;
  EXPECT_EQ(call(alice_, "Bug.search", result, search_params("")), 0);
  EXPECT_FALSE(result.hasMember("faultCode"));

  XmlRpcValue requests = server_->requests();
  ASSERT_EQ(server_->methods(), Methods({"Bug.search"}));
  EXPECT_EQ(first_param(requests[0])["token"].toText(), token);
  EXPECT_NE(requests[0]["cookie"].toText().find(kMarker), std::string::npos);
  EXPECT_TRUE(marker_in_cookie_file());
  EXPECT_EQ(session_->token, token);
}

// Each case spoils one condition of reuse: the cookie file goes, a login, then the call.
TEST_F(ServerCallsTest, SessionIsRenewedWhenAnyConditionFails) {
  struct Case {
    const char* what;
    void (*spoil)(ServerCallsTest&);
    bool cookie_file_existed;
  };
  const Case cases[] = {
      {"empty token", [](ServerCallsTest& t) { t.session_->token.clear(); },
       true},
      {"other login",
       [](ServerCallsTest& t) { t.session_->login = "bob@example.com"; }, true},
      {"login differs in letter case only",
       [](ServerCallsTest& t) { t.session_->login = "Alice@Example.com"; }, true},
      {"expired cookie",
       [](ServerCallsTest& t) { t.write_cookie_file("Sat, 01-Jan-2000 00:00:00 GMT"); }, true},
      {"cookie expiring within the hour",
       [](ServerCallsTest& t) { t.write_cookie_file(cookie_date(1800)); }, true},
      {"no cookie file",
       [](ServerCallsTest& t) { std::remove(t.dir_.file("cookies.txt").c_str()); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    const std::string old_token = establish_session();
    c.spoil(*this);
    ASSERT_EQ(marker_in_cookie_file(), c.cookie_file_existed);

    XmlRpcValue result;
    EXPECT_EQ(call(alice_, "Bug.search", result, search_params(old_token)), 0);
    EXPECT_FALSE(result.hasMember("faultCode"));

    XmlRpcValue requests = server_->requests();
    ASSERT_EQ(server_->methods(), Methods({"User.login", "Bug.search"}));
    EXPECT_EQ(requests[0]["cookie"].toText().find("marker"), std::string::npos);
    EXPECT_FALSE(marker_in_cookie_file());
    EXPECT_EQ(session_->login, kLogin);
    EXPECT_FALSE(session_->token.empty());
    EXPECT_NE(session_->token, old_token);
    EXPECT_EQ(first_param(requests[1])["token"].toText(), session_->token);
  }
}

// A server that sets a login cookie with an expiry and returns a token: the cookie file the
// client writes is read back by the expiry check, and later calls go straight through.
TEST_F(ServerCallsTest, CookieAndTokenFromTheLoginAreReused) {
  server_->configure("login_style", XmlRpcValue("both"));
  XmlRpcValue result;
  EXPECT_EQ(call(alice_, "Bug.search", result, search_params("")), 0);
  EXPECT_EQ(call(alice_, "Bug.search", result, search_params("")), 0);
  EXPECT_EQ(call(alice_, "Bugzilla.version", result), 0);
  EXPECT_FALSE(result.hasMember("faultCode"));
  EXPECT_EQ(server_->methods(),
            Methods({"User.login", "Bug.search", "Bug.search", "Bugzilla.version"}));
  EXPECT_NE(dir_.read("cookies.txt").find(" expires="), std::string::npos);
}

TEST_F(ServerCallsTest, RefusedLoginReturnsItsFaultWithoutTheCall) {
  bugzilla::Session& state = *session_;
  state.login = "earlier@example.com";
  state.token = "1-earlier";
  state.server = "earlier server";
  const Context wrong(kLogin, "not-the-password", "Main");

  XmlRpcValue result;
  EXPECT_EQ(call(wrong, "Bug.search", result, search_params("")), 0);
  ASSERT_TRUE(result.hasMember("faultCode"));
  EXPECT_EQ(server_->methods(), Methods({"User.login"}));
  EXPECT_EQ(state.login, "earlier@example.com");
  EXPECT_EQ(state.token, "1-earlier");
  EXPECT_EQ(state.server, "earlier server");

  char* message = nullptr;
  EXPECT_EQ(describe_call_failure(0, bugzilla::kCaptionBugSearch, &message, result), 300);
  ASSERT_NE(message, nullptr);
  EXPECT_EQ(std::string(message), result["faultString"].toText());
  EXPECT_EQ(std::string(message).find("not-the-password"), std::string::npos);
  delete[] message;
}

// A Bugzilla 4.2 style login gives cookies and no token: every call logs in again, and the
// calls go out without any "token" member (such a server refuses even an empty one).
TEST_F(ServerCallsTest, LoginWithoutTokenLogsInForEveryCall) {
  server_->configure("login_style", XmlRpcValue("cookie"));
  XmlRpcValue result;
  EXPECT_EQ(call(alice_, "Bugzilla.version", result), 0);
  EXPECT_FALSE(result.hasMember("faultCode"));
  EXPECT_EQ(session_->login, kLogin);
  EXPECT_TRUE(session_->token.empty());
  EXPECT_TRUE(dir_.exists("cookies.txt"));

  XmlRpcValue struct_params;
  struct_params["product"] = "Widgets";
  struct_params["token"] = "1-stale";
  EXPECT_EQ(call(alice_, "Bug.search", result, struct_params), 0);
  EXPECT_FALSE(result.hasMember("faultCode"));
  EXPECT_EQ(call(alice_, "Bug.search", result, search_params("")), 0);
  EXPECT_FALSE(result.hasMember("faultCode"));

  XmlRpcValue requests = server_->requests();
  ASSERT_EQ(server_->methods(), Methods({"User.login", "Bugzilla.version", "User.login",
                                         "Bug.search", "User.login", "Bug.search"}));
  EXPECT_FALSE(first_param(requests[3]).hasMember("token"));
  EXPECT_TRUE(first_param(requests[3]).hasMember("product"));
  EXPECT_FALSE(first_param(requests[5]).hasMember("token"));
  EXPECT_TRUE(first_param(requests[5]).hasMember("product"));
}

TEST_F(ServerCallsTest, TokenGoesIntoEveryParameterStructAndNowhereElse) {
  const std::string token = establish_session();
  XmlRpcValue result;
  XmlRpcValue without_token;
  without_token[0]["product"] = "Widgets";
  EXPECT_EQ(call(alice_, "Bug.search", result, without_token), 0);
  EXPECT_EQ(call(alice_, "Bugzilla.version", result), 0);

  XmlRpcValue requests = server_->requests();
  ASSERT_EQ(server_->methods(), Methods({"Bug.search", "Bugzilla.version"}));
  EXPECT_EQ(first_param(requests[0])["token"].toText(), token);
  EXPECT_EQ(requests[1]["params"].size(), 0);
}

TEST_F(ServerCallsTest, SessionOfOneServerIsNotUsedOnAnother) {
  const std::string first_token = establish_session();
  TestServer other;
  XmlRpcValue other_connection = connection_for(other.url());
  std::unique_ptr<XmlRpcClient> other_client = prepare_client(other_connection);

  XmlRpcValue result;
  EXPECT_EQ(call_with_login(*session_, *other_client, alice_.context, "Bug.search", result,
                            search_params(first_token), bugzilla::Authentication::Password),
            0);
  EXPECT_FALSE(result.hasMember("faultCode"));

  EXPECT_TRUE(server_->methods().empty());
  XmlRpcValue requests = other.requests();
  ASSERT_EQ(other.methods(), Methods({"User.login", "Bug.search"}));
  EXPECT_NE(first_param(requests[1])["token"].toText(), first_token);
  EXPECT_EQ(first_param(requests[1])["token"].toText(), session_->token);
  EXPECT_EQ(session_->server, bugzilla::session_server_of(*other_client));
}

TEST_F(ServerCallsTest, PrepareClientTakesTheConnectionsMembers) {
  XmlRpcValue connection = connection_for("bugzilla.example.com", 8443);
  connection["web_service_extension"] = "/bz/xmlrpc.cgi";
  const int members = connection.size();
  std::unique_ptr<XmlRpcClient> client = prepare_client(connection);
  EXPECT_EQ(client->host(), "bugzilla.example.com");
  EXPECT_EQ(client->port(), 8443);
  EXPECT_EQ(client->uri(), "/bz/xmlrpc.cgi");
  EXPECT_EQ(client->cookieFilePath(), "");  // the session gives it one when it calls
  EXPECT_EQ(connection.size(), members);

  XmlRpcValue without_port;
  without_port["server_url"] = "https://bugzilla.example.com";
  without_port["web_service_extension"] = "/xmlrpc.cgi";
  client = prepare_client(without_port);
  EXPECT_EQ(client->port(), 0);
  EXPECT_EQ(without_port.size(), 2);
}

TEST_F(ServerCallsTest, TooBigAReplyFailsOnlyThatCall) {
  connection_["max_response_mb"] = 1;
  client_ = prepare_client(connection_);
  establish_session();
  XmlRpcValue huge;
  huge["megabytes"] = 3;
  server_->inject("Bugzilla.version", "huge", huge, 1);
  XmlRpcValue result;
  EXPECT_EQ(call(alice_, "Bugzilla.version", result), 204);
  EXPECT_EQ(call(alice_, "Bugzilla.version", result), 0);
}

TEST_F(ServerCallsTest, FailedConnectLeavesNoSession) {
  XmlRpcValue unreachable = connection_for("127.0.0.1", test_support::refused_port());
  client_ = prepare_client(unreachable);
  XmlRpcValue result;
  EXPECT_EQ(call(alice_, "Bug.search", result, search_params("")), 202);
  EXPECT_TRUE(session_->login.empty());
}

// describe_call_failure and its messages, without a server.
TEST(DescribeCallFailure, FaultsGiveTheirTextAndNumber) {
  struct Case {
    XmlRpcValue fault_code;
    const char* fault_string;  // null: no "faultString" member
    int expected;
  };
  const Case cases[] = {
      {XmlRpcValue("Client"), "Bad request", 1},
      {XmlRpcValue(410), "You must log in before using this part of Bugzilla.", 410},
      {XmlRpcValue("410"), "login required", 410},
      {XmlRpcValue(-32601), "unknown method", -32601},
      {XmlRpcValue(" -3x"), "odd code", -3},
      {XmlRpcValue("+7"), "signed", 7},
      {XmlRpcValue("abc"), "no number", 0},
      {XmlRpcValue("client"), "lower case client", 0},
      {XmlRpcValue(""), "empty code", 0},
      {XmlRpcValue(300), nullptr, 300},
  };
  for (const Case& c : cases) {
    XmlRpcValue fault;
    fault["faultCode"] = c.fault_code;
    if (c.fault_string) fault["faultString"] = c.fault_string;
    char* message = nullptr;
    EXPECT_EQ(describe_call_failure(0, "Get Bugs", &message, fault), c.expected)
        << c.fault_code.toText();
    ASSERT_NE(message, nullptr);
    EXPECT_STREQ(message, c.fault_string ? c.fault_string : "");
    delete[] message;
    EXPECT_TRUE(fault.hasMember("faultCode"));  // the caller's value is untouched
  }
}

TEST(DescribeCallFailure, TransportCodesAndOthers) {
  struct Case {
    int code;
    const char* caption;
    const char* expected_message;  // null: no message
  };
  const Case cases[] = {
      {202, "Bug Search", "Bug Search failed to connect to Bugzilla server"},
      {203, "Add Comment", "Add Comment failed to send request to Bugzilla server"},
      {204, "Get Comments", "Get Comments failed to receive response from Bugzilla server"},
      {205, "Add Comment", nullptr},
      {-1, "Bug Fields", nullptr},
      {1, "Bug Fields", nullptr},
  };
  for (const Case& c : cases) {
    char sentinel[] = "untouched";
    char* message = sentinel;
    XmlRpcValue fault;  // transport codes do not look at the reply
    fault["faultCode"] = 99;
    EXPECT_EQ(describe_call_failure(c.code, c.caption, &message, fault), c.code);
    if (c.expected_message == nullptr) {
      EXPECT_EQ(message, sentinel) << c.code;
    } else {
      ASSERT_NE(message, sentinel);
      EXPECT_STREQ(message, c.expected_message);
      delete[] message;
    }
  }
}

TEST(DescribeCallFailure, SuccessWritesNothing) {
  char sentinel[] = "untouched";
  char* message = sentinel;
  XmlRpcValue reply;
  reply["bugs"][0]["id"] = 1;
  EXPECT_EQ(describe_call_failure(0, "Get Bugs", &message, reply), 0);
  EXPECT_EQ(message, sentinel);
  EXPECT_FALSE(bugzilla::call_failed(0, reply));
  EXPECT_TRUE(bugzilla::call_failed(204, reply));
  reply["faultCode"] = 0;
  EXPECT_TRUE(bugzilla::call_failed(0, reply));
}

TEST(FormatMessage, FillsTheCaptionExactly) {
  char* text = bugzilla::format_message("%s failed to connect to Bugzilla server", "Get Bugs");
  EXPECT_STREQ(text, "Get Bugs failed to connect to Bugzilla server");
  delete[] text;
  text = bugzilla::format_message("[%s]", "");
  EXPECT_STREQ(text, "[]");
  delete[] text;
  text = bugzilla::format_message("%s!", "100% %s sure");  // the argument is not a format
  EXPECT_STREQ(text, "100% %s sure!");
  delete[] text;

  text = bugzilla::reply_not_understood("Bug Fields");
  const std::string message = text;
  delete[] text;
  EXPECT_EQ(message.rfind("Bug Fields", 0), 0u) << message;
  EXPECT_NE(message.find("not understood"), std::string::npos) << message;
}

}  // namespace
