// XmlRpcClient against real servers on loopback: python's own xmlrpc.server for interoperability
// and cookies, a misbehaving HTTP server for the transport failures, and TLS.
#include "spawned_server.h"
#include "test_helpers.h"
#include "test_server.h"

#include <XmlRpc/XmlRpcClient.h>

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <memory>

using XmlRpc::XmlRpcClient;
using XmlRpc::XmlRpcValue;
using namespace lib_test;

namespace {

XmlRpcValue call(XmlRpcClient& client, const char* method,
                 const XmlRpcValue& params = XmlRpcValue()) {
  XmlRpcValue result;
  const int code = client.execute(method, params, result);
  EXPECT_EQ(code, 0) << method << ": " << client.lastFailure().detail;
  return result;
}

// One parameter, even when it is an array itself.
XmlRpcValue one(const XmlRpcValue& value) {
  XmlRpcValue params;
  params[0] = value;
  return params;
}

XmlRpcValue texts(std::initializer_list<const char*> items) {
  XmlRpcValue params;
  params.assertArray(0);
  int i = 0;
  for (const char* item : items) params[i++] = item;
  return params;
}

class EchoServerTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { server_ = new SpawnedServer({"xmlrpc"}); }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override { ASSERT_GT(server_->port(), 0) << "echo server did not start"; }

  static std::unique_ptr<XmlRpcClient> client(const char* host = "127.0.0.1") {
    auto made = std::make_unique<XmlRpcClient>(host, server_->port(), "/RPC2");
    made->setConnectTimeout(5);
    made->setIdleTimeout(20);
    return made;
  }

  static SpawnedServer* server_;
};
SpawnedServer* EchoServerTest::server_ = nullptr;

}  // namespace

// ---------------------------------------------------------------------------------------------
// Interoperability with python's xmlrpc.server

TEST_F(EchoServerTest, EveryKindRoundTrips) {
  const unsigned char bytes[] = {0, 1, 2, 0x7F, 0x80, 0xFE, 0xFF};
  struct Case {
    XmlRpcValue value;
    const char* python_type;
  };
  const Case cases[] = {
      {XmlRpcValue(42), "int"},
      {XmlRpcValue(-2147483647 - 1), "int"},
      {XmlRpcValue(true), "bool"},
      {XmlRpcValue(false), "bool"},
      {XmlRpcValue(0.1), "float"},
      {XmlRpcValue(-1e300), "float"},
      {XmlRpcValue(1e-300), "float"},
      {XmlRpcValue(123456.789), "float"},
      {XmlRpcValue("plain"), "str"},
      {XmlRpcValue(""), "str"},
      {XmlRpcValue("<tag> & \"quotes\" 'apostrophes'\ttab\nline"), "str"},
      {XmlRpcValue("gr\xC3\xBC\xC3\x9F \xE6\x97\xA5\xE6\x9C\xAC \xE2\x82\xAC \xF0\x9F\x98\x80"), "str"},
      {XmlRpcValue(date_time(2026, 12, 8, 2, 55, 9)), "datetime"},
      {XmlRpcValue(date_time(1999, 1, 31, 0, 0, 0)), "datetime"},
      {XmlRpcValue(bytes, sizeof bytes), "bytes"},
      {XmlRpcValue(bytes, 0), "bytes"},
  };
  auto c = client();
  for (const Case& item : cases) {
    const XmlRpcValue back = call(*c, "echo", one(item.value));
    EXPECT_EQ(back.getType(), item.value.getType()) << item.python_type;
    EXPECT_TRUE(back == item.value) << item.python_type;
    EXPECT_EQ(call(*c, "types", one(item.value)).stringValue(), item.python_type);
  }
}

TEST_F(EchoServerTest, TextArrivesAsTheSameCharacters) {
  auto c = client();
  auto code_points = [&](const char* text) {
    XmlRpcValue list = call(*c, "code_points", one(XmlRpcValue(text)));
    std::vector<int> points;
    for (int i = 0; i < list.size(); ++i) points.push_back(list[i].asInt());
    return points;
  };
  // A carriage return survives the server's parser (the escaping rules are the wire tests').
  EXPECT_EQ(code_points("a\r\nb\rc"), (std::vector<int>{'a', 13, 10, 'b', 13, 'c'}));
  // Windows-1252 bytes arrive as their characters.
  EXPECT_EQ(code_points("caf\xE9 \x80 \x93q\x94"),
            (std::vector<int>{'c', 'a', 'f', 0xE9, ' ', 0x20AC, ' ', 0x201C, 'q', 0x201D}));
}

TEST_F(EchoServerTest, NestedAndEmptyContainersRoundTrip) {
  XmlRpcValue value;
  value["bugs"][0]["id"] = 1;
  value["bugs"][0]["alias"].assertArray(0);
  value["bugs"][0]["flags"].assertStruct();
  value["bugs"][0]["comments"][0]["text"] = "first";
  value["bugs"][0]["comments"][0]["time"] = XmlRpcValue(date_time(2020, 2, 29, 12, 0, 0));
  value["bugs"][1]["id"] = 2;
  value["bugs"][1]["dupe_of"] = XmlRpcValue();  // python's None, sent back as <nil/>
  XmlRpcValue* deep = &value["deep"];
  for (int i = 0; i < 30; ++i) deep = &(*deep)[0];
  *deep = "bottom";
  value["empty array"].assertArray(0);
  value["empty struct"].assertStruct();

  auto c = client();
  const XmlRpcValue back = call(*c, "echo", one(value));
  EXPECT_TRUE(back == value);
  EXPECT_EQ(back.find("bugs")->at(1)->find("dupe_of")->getType(), XmlRpcValue::TypeInvalid);
  const XmlRpcValue types = call(*c, "types", one(value));
  EXPECT_EQ(types.find("empty array")->getType(), XmlRpcValue::TypeArray);
  EXPECT_EQ(types.find("bugs")->at(1)->find("dupe_of")->stringValue(), "NoneType");
}

TEST_F(EchoServerTest, LargeArraysBothWays) {
  auto c = client();
  // Large replies come gzip-compressed from python; the client must inflate them.
  XmlRpcValue numbers = call(*c, "numbers", one(XmlRpcValue(200000)));
  ASSERT_EQ(numbers.size(), 200000);
  EXPECT_EQ(numbers[0].asInt(), 0);
  EXPECT_EQ(numbers[199999].asInt(), 199999);

  XmlRpcValue list;
  list.assertArray(50000);
  for (int i = 0; i < 50000; ++i) list[i] = "item " + std::to_string(i) + " \xC3\xA9";
  const XmlRpcValue back = call(*c, "echo", one(list));
  EXPECT_TRUE(back == list);
}

TEST_F(EchoServerTest, FaultsAreCompletedExchanges) {
  auto c = client();
  XmlRpcValue params;
  params[0] = 410;
  params[1] = "You must log in before using this part of Bugzilla.";
  XmlRpcValue result;
  ASSERT_EQ(c->execute("fault", params, result), 0);
  ASSERT_TRUE(result.hasMember("faultCode"));
  EXPECT_EQ(result["faultCode"].getType(), XmlRpcValue::TypeInt);
  EXPECT_EQ(result["faultCode"].toText(), "410");
  EXPECT_EQ(result["faultString"].stringValue(), params[1].stringValue());

  params[0] = "Client";
  ASSERT_EQ(c->execute("fault", params, result), 0);
  EXPECT_EQ(result["faultCode"].toText(), "Client");

  ASSERT_EQ(c->execute("no.such.method", XmlRpcValue(), result), 0);
  EXPECT_TRUE(result.hasMember("faultString"));
  EXPECT_EQ(c->lastFailure().code, 0);
}

TEST_F(EchoServerTest, OneConnectionServesAClientsCalls) {
  auto c = client();
  const int first = call(*c, "connection").asInt();
  EXPECT_EQ(call(*c, "connection").asInt(), first);
  EXPECT_EQ(call(*c, "connection").asInt(), first);
  // A copy keeps the settings but opens its own connection.
  XmlRpcClient copy(*c);
  EXPECT_EQ(copy.host(), "127.0.0.1");
  EXPECT_EQ(copy.port(), server_->port());
  EXPECT_EQ(copy.uri(), "/RPC2");
  const int second = call(copy, "connection").asInt();
  EXPECT_NE(second, first);
  EXPECT_EQ(call(copy, "connection").asInt(), second);
  EXPECT_EQ(call(*c, "connection").asInt(), first);
}

TEST_F(EchoServerTest, HostTextForms) {
  const std::string port = std::to_string(server_->port());
  const std::string forms[] = {"http://127.0.0.1", "HTTP://127.0.0.1/", " 127.0.0.1 "};
  for (const std::string& host : forms) {
    XmlRpcClient c(host.c_str(), server_->port(), "RPC2");
    EXPECT_EQ(call(c, "echo", one(XmlRpcValue(1))).asInt(), 1) << host;
  }
  // The port may come with the host when the port argument is 0.
  XmlRpcClient embedded(("http://127.0.0.1:" + port).c_str(), 0, "/RPC2");
  EXPECT_EQ(call(embedded, "echo", one(XmlRpcValue(2))).asInt(), 2);

  XmlRpcClient unsupported(("ftp://127.0.0.1:" + port).c_str(), 0, "/RPC2");
  XmlRpcValue result;
  EXPECT_EQ(unsupported.execute("echo", one(XmlRpcValue(1)), result), 202);
}

// ---------------------------------------------------------------------------------------------
// The cookie file

TEST_F(EchoServerTest, CookiesAreStoredReplacedAndExpired) {
  ScratchDir dir;
  const std::string file = dir.file("cookies.txt");
  auto c = client();
  c->setCookieFilePath(file);
  EXPECT_EQ(c->cookieFilePath(), file);

  call(*c, "echo", one(XmlRpcValue(1)));
  EXPECT_FALSE(exists(file));  // no cookie, no file
  EXPECT_EQ(call(*c, "cookie").stringValue(), "");

  call(*c, "set_cookie",
       texts({"Bugzilla_login=2; path=/; expires=Fri, 01-Jan-2038 00:00:00 GMT; HttpOnly"}));
  EXPECT_EQ(read(file),
            "Bugzilla_login=2; path=/; expires=Fri, 01-Jan-2038 00:00:00 GMT; HttpOnly; "
            "domain=127.0.0.1\n");
  EXPECT_EQ(call(*c, "cookie").stringValue(), "Bugzilla_login=2");

  call(*c, "set_cookie", texts({"Bugzilla_login=3; path=/", "session=s1; path=/RPC2"}));
  EXPECT_EQ(call(*c, "cookie").stringValue(), "session=s1; Bugzilla_login=3");

  // A cookie for another path stays at home.
  call(*c, "set_cookie", texts({"elsewhere=1; path=/other"}));
  EXPECT_EQ(call(*c, "cookie").stringValue(), "session=s1; Bugzilla_login=3");

  call(*c, "set_cookie", texts({"session=; path=/RPC2; Max-Age=0",
                                "Bugzilla_login=x; path=/; expires=Thu, 01-Jan-1970 00:00:00 GMT"}));
  EXPECT_EQ(read(file), "elsewhere=1; path=/other; domain=127.0.0.1\n");
  EXPECT_EQ(call(*c, "cookie").stringValue(), "");
  call(*c, "set_cookie", texts({"elsewhere=; path=/other; Max-Age=0"}));
  EXPECT_FALSE(exists(file));
}

TEST_F(EchoServerTest, CookiesAreSharedByClientsOfOneFileButNotAcrossHosts) {
  ScratchDir dir;
  const std::string file = dir.file("cookies.txt");
  auto numeric = client("127.0.0.1");
  auto same_host = client("127.0.0.1");
  auto named = client("localhost");  // the same server under another host name
  for (auto* c : {numeric.get(), same_host.get(), named.get()}) c->setCookieFilePath(file);

  call(*numeric, "set_cookie", texts({"Bugzilla_login=7; path=/"}));
  EXPECT_EQ(call(*same_host, "cookie").stringValue(), "Bugzilla_login=7");
  EXPECT_EQ(call(*named, "cookie").stringValue(), "");

  call(*named, "set_cookie", texts({"Bugzilla_login=named; path=/"}));
  EXPECT_EQ(call(*named, "cookie").stringValue(), "Bugzilla_login=named");
  EXPECT_EQ(call(*numeric, "cookie").stringValue(), "Bugzilla_login=7");

  // A later change by one client reaches the other through the file.
  call(*same_host, "set_cookie", texts({"Bugzilla_login=8; path=/"}));
  EXPECT_EQ(call(*numeric, "cookie").stringValue(), "Bugzilla_login=8");
  EXPECT_EQ(read(file),
            "Bugzilla_login=8; path=/; domain=127.0.0.1\n"
            "Bugzilla_login=named; path=/; domain=localhost\n");

  // A copy keeps the cookie file.
  XmlRpcClient copy(*numeric);
  EXPECT_EQ(copy.cookieFilePath(), file);
  EXPECT_EQ(call(copy, "cookie").stringValue(), "Bugzilla_login=8");
}

// ---------------------------------------------------------------------------------------------
// Transport failures

namespace {

class RawServerTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { server_ = new SpawnedServer({"raw"}); }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override { ASSERT_GT(server_->port(), 0) << "raw server did not start"; }

  static SpawnedServer* server_;
};
SpawnedServer* RawServerTest::server_ = nullptr;

}  // namespace

TEST_F(RawServerTest, EachFailureHasItsCode) {
  struct Case {
    const char* path;
    int code;
    long http_status;
  };
  const Case cases[] = {
      {"/close", 204, 0},         // connection closed before an answer
      {"/stall", 204, 0},         // nothing arrives within the idle limit
      {"/stall_body", 204, 200},  // the body stops halfway
      {"/http500", 204, 500},     // an HTML error page
      {"/ok500", 204, 500},       // a non-fault answer needs status 200
      {"/redirect", 204, 302},
      {"/truncated", 204, 200},   // complete HTTP, cut XML
      {"/cut", 204, 200},         // fewer bytes than announced
      {"/malformed", 204, 200},
      {"/not_xml", 204, 200},
      {"/huge", 204, 200},          // announced too large
      {"/huge_chunked", 204, 200},  // grows too large while arriving
      {"/gzip_bomb", 204, 200},     // too large once inflated
      {"/good", 0, 200},
      {"/gzip", 0, 200},
  };
  for (const Case& c : cases) {
    XmlRpcClient client("127.0.0.1", server_->port(), c.path);
    client.setConnectTimeout(5);
    client.setIdleTimeout(1);
    client.setMaxResponseBytes(64 * 1024);
    XmlRpcValue result("stale");
    const int code = client.execute("any.method", XmlRpcValue(), result);
    EXPECT_EQ(code, c.code) << c.path << ": " << client.lastFailure().detail;
    EXPECT_EQ(client.lastFailure().code, c.code) << c.path;
    EXPECT_EQ(client.lastFailure().http_status, c.http_status) << c.path;
    if (c.code == 0) {
      EXPECT_EQ(result.stringValue(), "fine") << c.path;
      EXPECT_TRUE(client.lastFailure().detail.empty()) << c.path;
    } else {
      EXPECT_FALSE(result.valid()) << c.path;
      EXPECT_FALSE(client.lastFailure().detail.empty()) << c.path;
    }
  }
}

TEST_F(RawServerTest, FailureDetailsNameTheCause) {
  XmlRpcClient client("127.0.0.1", server_->port(), "/http500");
  XmlRpcValue result;
  ASSERT_EQ(client.execute("m", XmlRpcValue(), result), 204);
  EXPECT_EQ(client.lastFailure().content_type, "text/html");
  EXPECT_NE(client.lastFailure().detail.find("500"), std::string::npos);

  XmlRpcClient big("127.0.0.1", server_->port(), "/huge_chunked");
  big.setMaxResponseBytes(1000);
  ASSERT_EQ(big.execute("m", XmlRpcValue(), result), 204);
  EXPECT_NE(big.lastFailure().detail.find("larger than 1000 bytes"), std::string::npos)
      << big.lastFailure().detail;
}

// The limit counts the body as it arrives (inflated): a body of exactly the limit is read,
// one of a byte more abandoned, whether announced, chunked or compressed.
TEST_F(RawServerTest, ABodyOfExactlyTheLimitIsAccepted) {
  const struct {
    const char* path;
    size_t body_bytes;
  } bodies[] = {{"/huge", 2 << 20}, {"/huge_chunked", 2 << 20}, {"/gzip_bomb", 8 << 20}};
  for (const auto& body : bodies) {
    for (const size_t over : {size_t{0}, size_t{1}}) {
      XmlRpcClient client("127.0.0.1", server_->port(), body.path);
      client.setMaxResponseBytes(body.body_bytes - over);
      XmlRpcValue result;
      const int code = client.execute("m", XmlRpcValue(), result);
      if (over == 0) {
        ASSERT_EQ(code, 0) << body.path << ": " << client.lastFailure().detail;
        EXPECT_EQ(result.getType(), XmlRpcValue::TypeString) << body.path;
      } else {
        EXPECT_EQ(code, 204) << body.path;
        EXPECT_NE(client.lastFailure().detail.find("larger than"), std::string::npos)
            << body.path << ": " << client.lastFailure().detail;
        EXPECT_FALSE(result.valid()) << body.path;
      }
    }
  }
}

// The idle limit bounds a silence, not the whole reply: a body dripping in over about three
// seconds arrives whole under a one-second limit.
TEST_F(RawServerTest, ASlowButSteadyReplyOutlastsTheIdleLimit) {
  XmlRpcClient client("127.0.0.1", server_->port(), "/drip");
  client.setIdleTimeout(1);
  XmlRpcValue result;
  ASSERT_EQ(client.execute("m", XmlRpcValue(), result), 0) << client.lastFailure().detail;
  EXPECT_EQ(result.stringValue(), "fine");
}

TEST_F(RawServerTest, ARequestCutOffWhileSendingIs203) {
  XmlRpcClient client("127.0.0.1", server_->port(), "/reset");
  client.setIdleTimeout(5);
  XmlRpcValue result;
  // Larger than the socket buffers, so the reset meets it in mid-flight.
  const int code = client.execute("m", XmlRpcValue(std::string(32 << 20, 'x')), result);
  EXPECT_EQ(code, 203) << client.lastFailure().detail;
}

TEST_F(RawServerTest, RequestsArePostsOfXmlWithCompressionOffered) {
  XmlRpcClient client("127.0.0.1", server_->port(), "/inspect");
  XmlRpcValue result;
  ASSERT_EQ(client.execute("m", XmlRpcValue(std::string(4096, 'x')), result), 0)
      << client.lastFailure().detail;
  const std::string seen = result.stringValue();
  EXPECT_EQ(seen.rfind("POST /inspect HTTP/1.1|text/xml|", 0), 0u) << seen;
  EXPECT_NE(seen.find("gzip"), std::string::npos) << seen;
  EXPECT_EQ(seen.back(), '|') << "no Expect header wanted: " << seen;
}

TEST_F(RawServerTest, AFaultIsAnAnswerWhateverTheStatus) {
  XmlRpcClient client("127.0.0.1", server_->port(), "/fault500");
  XmlRpcValue result;
  ASSERT_EQ(client.execute("m", XmlRpcValue(), result), 0) << client.lastFailure().detail;
  EXPECT_EQ(result["faultCode"].toText(), "32000");
  EXPECT_EQ(result["faultString"].stringValue(), "token expired");
}

TEST_F(RawServerTest, ControlCharactersInAReplyDoNotSpoilIt) {
  XmlRpcClient client("127.0.0.1", server_->port(), "/dirty");
  XmlRpcValue result;
  ASSERT_EQ(client.execute("Bug.comments", XmlRpcValue(), result), 0)
      << client.lastFailure().detail;
  EXPECT_EQ(result["text"].stringValue(),
            "bell\xEF\xBF\xBD form\xEF\xBF\xBD caf\xEF\xBF\xBD");
  EXPECT_EQ(result["id"].asInt(), 5);
}

TEST(ClientConnect, NothingListeningIs202) {
  XmlRpcClient client("127.0.0.1", test_support::refused_port(), "/RPC2");
  client.setConnectTimeout(2);
  XmlRpcValue result("stale");
  EXPECT_EQ(client.execute("m", XmlRpcValue(1), result), 202);
  EXPECT_EQ(client.lastFailure().code, 202);
  EXPECT_FALSE(client.lastFailure().detail.empty());
  EXPECT_FALSE(result.valid());
}

TEST(ClientConnect, ConnectTimeoutIs202) {
#if defined(_WIN32)
  GTEST_SKIP() << "a silent listener needs the Linux backlog behaviour";
#else
  // A listener that never accepts, with its tiny backlog filled: further handshakes go
  // unanswered, as with a server behind a dropping firewall.
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 0), 0);
  socklen_t size = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
  std::vector<int> fillers;
  for (int i = 0; i < 4; ++i) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    fcntl(fd, F_SETFL, O_NONBLOCK);
    connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    fillers.push_back(fd);
  }
  usleep(200 * 1000);
  // Where the kernel still completes handshakes, there is no silent server to time out on.
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  fcntl(probe, F_SETFL, O_NONBLOCK);
  connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
  pollfd writable = {probe, POLLOUT, 0};
  const bool handshakes_complete = poll(&writable, 1, 300) > 0;
  close(probe);
  if (handshakes_complete) {
    for (const int fd : fillers) close(fd);
    close(listener);
    GTEST_SKIP() << "this kernel completes handshakes beyond the backlog";
  }

  XmlRpcClient client("127.0.0.1", ntohs(address.sin_port), "/RPC2");
  client.setConnectTimeout(1);
  client.setIdleTimeout(1);
  XmlRpcValue result;
  EXPECT_EQ(client.execute("m", XmlRpcValue(), result), 202) << client.lastFailure().detail;
  for (const int fd : fillers) close(fd);
  close(listener);
#endif
}

// ---------------------------------------------------------------------------------------------
// HTTPS

#if defined(_WIN32)
// curl's Schannel check matches DNS names only, and wine's Schannel checks no chain at all
// without a CA file: here the certificate is for localhost, and an untrusted one is one that
// another authority's file does not vouch for.
const char kCertifiedHost[] = "localhost";
const char kUncertifiedHost[] = "127.0.0.1";
const char* const kUntrustedCaFile = "other.pem";
#else
const char kCertifiedHost[] = "127.0.0.1";
const char kUncertifiedHost[] = "localhost";
const char* const kUntrustedCaFile = nullptr;  // the system's authorities
#endif

std::string https(const char* host) { return std::string("https://") + host; }

class TlsTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
#if defined(_WIN32)
    // Made on the Linux side before the run (testing/CMakeLists.txt): the same path names the
    // files there and, through wine's drive Z:, here.
    certificates_ = TEST_TLS_DIR "/";
#else
    dir_ = new ScratchDir();
    certificates_ = dir_->file("");
    // A self-signed certificate for 127.0.0.1 only, made now so none is kept in the tree.
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 "
        "-subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout '" +
        certificate("key.pem") + "' -out '" + certificate("cert.pem") + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return;
#endif
    server_ = new SpawnedServer({"xmlrpc", "--tls", certificate("cert.pem"), certificate("key.pem")});
  }
  static void TearDownTestSuite() {
    delete server_;
    delete dir_;
    server_ = nullptr;
    dir_ = nullptr;
  }
  static std::string certificate(const char* name) { return certificates_ + name; }
  void SetUp() override {
    ASSERT_NE(server_, nullptr) << "openssl could not make a certificate";
    ASSERT_GT(server_->port(), 0) << "TLS echo server did not start";
  }

  static int echo(XmlRpcClient& client) {
    client.setConnectTimeout(5);
    client.setIdleTimeout(10);
    XmlRpcValue result;
    const int code = client.execute("echo", one(XmlRpcValue("secret")), result);
    if (code == 0) {
      EXPECT_EQ(result.stringValue(), "secret");
    }
    return code;
  }

  static ScratchDir* dir_;
  static std::string certificates_;
  static SpawnedServer* server_;
};
ScratchDir* TlsTest::dir_ = nullptr;
std::string TlsTest::certificates_;
SpawnedServer* TlsTest::server_ = nullptr;

TEST_F(TlsTest, CertificateVerification) {
  const struct {
    const char* label;
    const char* host;
    const char* ca_file;  // null: none given
    bool verify;
    int code;
  } cases[] = {
      {"an untrusted certificate is refused", kCertifiedHost, kUntrustedCaFile, true, 202},
      {"the given authority is trusted", kCertifiedHost, "cert.pem", true, 0},
      {"the host name must match the certificate", kUncertifiedHost, "cert.pem", true, 202},
      {"verification can be turned off", kCertifiedHost, nullptr, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    XmlRpcClient client(https(c.host).c_str(), server_->port(), "/RPC2");
    if (c.ca_file != nullptr) client.setCaFile(certificate(c.ca_file));
    client.setVerifyTls(c.verify);
    EXPECT_EQ(echo(client), c.code) << client.lastFailure().detail;
    // A second call reuses the connection, or reports the same refusal.
    EXPECT_EQ(echo(client), c.code) << client.lastFailure().detail;
    EXPECT_EQ(client.lastFailure().detail.empty(), c.code == 0);
  }
}

TEST_F(TlsTest, SecureCookiesTravelOnlyOverHttps) {
  ScratchDir cookies;
  const std::string file = cookies.file("cookies.txt");
  XmlRpcClient secure(https(kCertifiedHost).c_str(), server_->port(), "/RPC2");
  secure.setCaFile(certificate("cert.pem"));
  secure.setCookieFilePath(file);
  call(secure, "set_cookie", texts({"tls_only=1; path=/; Secure", "both=2; path=/"}));
  EXPECT_EQ(call(secure, "cookie").stringValue(), "tls_only=1; both=2");

  SpawnedServer plain({"xmlrpc"});
  ASSERT_GT(plain.port(), 0);
  XmlRpcClient insecure(kCertifiedHost, plain.port(), "/RPC2");
  insecure.setCookieFilePath(file);
  EXPECT_EQ(call(insecure, "cookie").stringValue(), "both=2");
}
