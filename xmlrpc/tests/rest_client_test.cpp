// XmlRpcClient::executeRest against a loopback server that answers as Bugzilla's REST service
// did in the recorded exchanges, and misbehaves as proxies and Apache do.
#include "spawned_server.h"
#include "test_helpers.h"

#include <XmlRpc/XmlRpcClient.h>
#include <XmlRpc/XmlRpcFilter.h>

#include <gtest/gtest.h>

#include <string>

using XmlRpc::RestRequest;
using XmlRpc::XmlRpcClient;
using XmlRpc::XmlRpcFilter;
using XmlRpc::XmlRpcValue;

namespace {

class RestTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { server_ = new SpawnedServer({"raw"}); }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override { ASSERT_GT(server_->port(), 0) << "raw server did not start"; }

  static XmlRpcClient client() {
    XmlRpcClient made("127.0.0.1", server_->port(), "/rest");
    made.setConnectTimeout(5);
    made.setIdleTimeout(20);
    return made;
  }

  static RestRequest get(std::vector<std::string> path) {
    RestRequest request;
    request.path = std::move(path);
    return request;
  }

  static SpawnedServer* server_;
};
SpawnedServer* RestTest::server_ = nullptr;

}  // namespace

TEST_F(RestTest, PathAndQueryAreEscapedBelowTheBasePath) {
  XmlRpcClient c = client();
  RestRequest request = get({"inspect", "widget colour", "a/b", "caf\xC3\xA9", "100%"});
  request.query = {{"ids", "6"}, {"ids", "2"}, {"summary", "a&b=c d+e"}, {"login", "\xC3\xA9?#"}};
  XmlRpcValue seen;
  ASSERT_EQ(c.executeRest(request, seen), 0) << c.lastFailure().detail;
  const std::string line =
      "GET /rest/inspect/widget%20colour/a%2fb/caf%c3%a9/100%25"
      "?ids=6&ids=2&summary=a%26b%3dc+d%2be&login=%c3%a9%3f%23 HTTP/1.1";
  EXPECT_EQ(seen["request_line"].stringValue(), line);
  EXPECT_EQ(c.restRequestLineLength(request), line.size());

  // A base path with a trailing slash, a bare host with one in it.
  XmlRpcClient slash(("http://127.0.0.1:" + std::to_string(server_->port()) + "/rest/").c_str(),
                     0, "");
  ASSERT_EQ(slash.executeRest(get({"inspect"}), seen), 0) << slash.lastFailure().detail;
  EXPECT_EQ(seen["request_line"].stringValue(), "GET /rest/inspect HTTP/1.1");

  for (const char* segment : {"", ".", ".."}) {
    EXPECT_EQ(c.executeRest(get({"bug", segment}), seen), 203) << segment;
    EXPECT_EQ(c.restRequestLineLength(get({"bug", segment})), 0u) << segment;
  }
  request = get({"inspect"});
  request.query = {{"a=b", "c"}};
  EXPECT_EQ(c.executeRest(request, seen), 203);
  request.query.clear();
  request.headers = {{"X-BUGZILLA-API-KEY", "key\r\nX-Injected: 1"}};
  EXPECT_EQ(c.executeRest(request, seen), 203);
}

TEST_F(RestTest, HeadersAcceptAndNoCookies) {
  lib_test::ScratchDir dir;
  const std::string cookies = dir.file("cookies.txt");
  lib_test::write(cookies, "Bugzilla_login=1; path=/; domain=127.0.0.1\n");
  XmlRpcClient c = client();
  c.setCookieFilePath(cookies);
  RestRequest request = get({"inspect"});
  request.headers = {{"X-BUGZILLA-API-KEY", "AliceApiKey"}};
  XmlRpcValue seen;
  ASSERT_EQ(c.executeRest(request, seen), 0) << c.lastFailure().detail;
  EXPECT_EQ(seen["x-bugzilla-api-key"].stringValue(), "AliceApiKey");
  EXPECT_EQ(seen["accept"].stringValue(), "application/json");
  EXPECT_FALSE(seen.hasMember("cookie"));        // null: the header was absent
  EXPECT_FALSE(seen.hasMember("content-type"));  // a GET has no body

  // A cookie the reply sets is not kept either.
  XmlRpcValue listing;
  ASSERT_EQ(c.executeRest(get({"listing"}), listing), 0) << c.lastFailure().detail;
  EXPECT_EQ(lib_test::read(cookies), "Bugzilla_login=1; path=/; domain=127.0.0.1\n");
}

TEST_F(RestTest, PostsSendTheBodyAsJson) {
  XmlRpcClient c = client();
  RestRequest request = get({"inspect", "7", "comment"});
  request.post = true;
  request.body["comment"] = "\"quoted\" line\nnext \xE2\x82\xAC";
  request.body["is_private"] = false;
  request.body["work_time"] = 1.5;
  XmlRpcValue seen;
  ASSERT_EQ(c.executeRest(request, seen), 0) << c.lastFailure().detail;
  EXPECT_EQ(seen["request_line"].stringValue(), "POST /rest/inspect/7/comment HTTP/1.1");
  EXPECT_EQ(seen["content-type"].stringValue(), "application/json");
  EXPECT_FALSE(seen.hasMember("expect"));
  // The server saw the bytes as Latin-1; the euro sign's three bytes arrive as three characters.
  EXPECT_EQ(seen["body"].stringValue(),
            "{\"comment\":\"\\\"quoted\\\" line\\nnext \xC3\xA2\xC2\x82\xC2\xAC\","
            "\"is_private\":false,\"work_time\":1.5}");

  request.body = XmlRpcValue("not a struct");
  EXPECT_EQ(c.executeRest(request, seen), 203);
}

TEST_F(RestTest, RepliesAndTheirOutcomes) {
  struct Case {
    const char* name;
    int code;
    long status;
  };
  const Case cases[] = {
      {"created", 0, 201},
      {"valid_login", 0, 200},
      {"unknown_bug", 0, 404},  // a REST error: a fault
      {"error_200", 0, 200},
      {"html500", 204, 500},
      {"proxy502", 204, 502},
      {"json500", 204, 500},  // JSON, but not an error object and not 2xx
      {"uri414", 204, 414},
      {"truncated", 204, 200},
      {"empty", 204, 200},
      {"redirect", 204, 302},
  };
  XmlRpcClient c = client();
  for (const Case& item : cases) {
    XmlRpcValue result("stale");
    RestRequest request = get({item.name});
    request.query = {{"token", "2-SecretTok"}};
    EXPECT_EQ(c.executeRest(request, result), item.code) << item.name << ": "
                                                         << c.lastFailure().detail;
    EXPECT_EQ(c.lastFailure().http_status, item.status) << item.name;
    EXPECT_EQ(result.valid(), item.code == 0) << item.name;
    EXPECT_EQ(c.lastFailure().detail.find("SecretTok"), std::string::npos) << item.name;
    if (item.code != 0) {
      EXPECT_FALSE(c.lastFailure().content_type.empty() && item.status != 302) << item.name;
      EXPECT_NE(c.lastFailure().detail.find(std::to_string(item.status)), std::string::npos)
          << item.name << ": " << c.lastFailure().detail;
    }
  }
  XmlRpcValue result;
  ASSERT_EQ(c.executeRest(get({"unknown_bug"}), result), 0);
  EXPECT_EQ(result["faultCode"], XmlRpcValue(101));
  EXPECT_EQ(result["faultString"].stringValue(), "Bug 999999 does not exist.");
  ASSERT_EQ(c.executeRest(get({"valid_login"}), result), 0);
  EXPECT_EQ(result, XmlRpcValue(true));
  ASSERT_EQ(c.executeRest(get({"redirect"}), result), 204);
  EXPECT_EQ(c.lastFailure().location, "http://127.0.0.1:1/rest/");  // not followed
  ASSERT_EQ(c.executeRest(get({"html500"}), result), 204);
  EXPECT_EQ(c.lastFailure().content_type, "text/html");
  EXPECT_TRUE(c.lastFailure().location.empty());
}

// bugzilla.mozilla.org's replies end when the connection closes; the filter keeps what the
// listing reads; the size limit counts the body as for XML-RPC.
TEST_F(RestTest, ACloseDelimitedListingThroughTheFilterAndTheLimit) {
  XmlRpcClient c = client();
  XmlRpcFilter filter;
  for (const char* member : {"id", "summary", "severity", "status", "description"}) {
    filter.keep({XmlRpcFilter::Step::member("bugs"), XmlRpcFilter::Step::anyElement(),
                 XmlRpcFilter::Step::member(member)});
  }
  c.setReplyFilter(&filter);
  XmlRpcValue listing;
  ASSERT_EQ(c.executeRest(get({"listing"}), listing), 0) << c.lastFailure().detail;
  ASSERT_EQ(listing["bugs"].size(), 2000);
  const XmlRpcValue& last = listing["bugs"][1999];
  EXPECT_EQ(last.structValue().size(), 4u);
  EXPECT_EQ(*last.find("id"), XmlRpcValue(2000));
  EXPECT_EQ(last.find("summary")->stringValue(), "bug 2000 \xC3\xA9");
  EXPECT_FALSE(last.hasMember("assigned_to_detail"));

  // The same connection-closing server, a second call.
  ASSERT_EQ(c.executeRest(get({"listing"}), listing), 0) << c.lastFailure().detail;
  c.setMaxResponseBytes(10000);
  EXPECT_EQ(c.executeRest(get({"listing"}), listing), 204);
  EXPECT_NE(c.lastFailure().detail.find("larger than 10000 bytes"), std::string::npos)
      << c.lastFailure().detail;
  EXPECT_FALSE(listing.valid());
}
