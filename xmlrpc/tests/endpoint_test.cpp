// The server address of a connection, split once: what every part of the system connects to.
#include <XmlRpc/XmlRpcEndpoint.h>

#include <gtest/gtest.h>

namespace {

using XmlRpc::makeEndpoint;

struct EndpointCase {
  const char* host_text;
  int port;
  bool https;
  const char* host;
  int effective_port;
  const char* url;
};

class Endpoints : public ::testing::TestWithParam<EndpointCase> {};

TEST_P(Endpoints, SplitIntoSchemeHostPortAndUrl) {
  const EndpointCase& c = GetParam();
  const XmlRpc::Endpoint endpoint = makeEndpoint(c.host_text, c.port, "/xmlrpc.cgi");
  ASSERT_TRUE(endpoint.valid) << c.host_text;
  EXPECT_EQ(endpoint.https, c.https);
  EXPECT_EQ(endpoint.host, c.host);
  EXPECT_EQ(endpoint.port, c.effective_port);
  EXPECT_EQ(endpoint.url, c.url);
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, Endpoints,
    ::testing::Values(
        EndpointCase{"bugzilla.example.com", 0, false, "bugzilla.example.com", 80,
                     "http://bugzilla.example.com/xmlrpc.cgi"},
        EndpointCase{" HTTPS://Bugs.Example.com/bugzilla/ ", 0, true, "bugs.example.com", 443,
                     "https://bugs.example.com/bugzilla/xmlrpc.cgi"},
        EndpointCase{"http://bugs:8080", 0, false, "bugs", 8080, "http://bugs:8080/xmlrpc.cgi"},
        EndpointCase{"http://bugs:8080", 9090, false, "bugs", 9090, "http://bugs:9090/xmlrpc.cgi"},
        EndpointCase{"https://[::1]:8443", 0, true, "::1", 8443, "https://[::1]:8443/xmlrpc.cgi"},
        EndpointCase{"[fe80::1]", 0, false, "fe80::1", 80, "http://[fe80::1]/xmlrpc.cgi"}));

TEST(Endpoint, RefusesWhatIsNotAnHttpServer) {
  for (const char* text : {"", "ftp://bugs", "http://user@bugs", "http://", "http://bugs:99999",
                           "http://bugs:80x", "https://[::1"}) {
    EXPECT_FALSE(makeEndpoint(text, 0, "/xmlrpc.cgi").valid) << text;
  }
}

}  // namespace
