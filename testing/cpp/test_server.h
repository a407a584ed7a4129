// Runs the Bugzilla test server (testing/bugzilla_server.py) on loopback for one test suite,
// and drives it through its control service: recorded requests, fault injection, settings.
#pragma once

#include "test_platform.h"

#include <XmlRpc/XmlRpcValue.h>

#include <memory>
#include <string>
#include <vector>

namespace test_support {

class TestServer {
public:
  struct Options {
    std::string fixture = "default.json";  // file name under testing/fixtures/, or a full path
    std::string login_style = "token";     // "token" (4.4.3+), "cookie" (4.2), "both"
    std::string version = "5.0.6";         // Bugzilla.version; "" answers without "version";
                                           // with rest_style "bmo", "5.0.6" stands for bmo's
                                           // own version "20260820.1"
    std::string rest_style;                // REST API: "" or "upstream" (Bugzilla 5.0.6/5.2,
                                           // under /rest.cgi/), "bmo" (bugzilla.mozilla.org's
                                           // code, under /rest/; no XML-RPC)
  };

  TestServer();  // default options
  explicit TestServer(const Options& options);
  ~TestServer();  // stops the server process
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  int port() const { return port_; }
  std::string url() const;  // "http://127.0.0.1:PORT"
  std::string uri() const { return "/xmlrpc.cgi"; }
  // The REST API's base path: "/rest.cgi" (upstream) or "/rest" (bmo); resources follow it
  // ("/rest.cgi/bug/1"). The server takes either under any prefix.
  std::string restUri() const { return rest_style_ == "bmo" ? "/rest" : "/rest.cgi"; }

  // Every Bugzilla request received since the last clear, oldest first: an array of structs
  // {"method": text, "web_service": "xmlrpc" or "rest", "http_method": text,
  //  "params": array (XML-RPC) or struct (REST: the query and JSON body decoded, credentials
  //  kept), "cookie": text (the Cookie header, "" when none), "path": text (REST: secrets in
  //  the query hidden), "headers": struct (lower-case names), "body": base64 (the raw request),
  //  "started": double (time.monotonic() seconds when the request arrived), "finished": double
  //  (stamped just before the reply's last bytes leave, so it is set once the client has the
  //  whole reply; 0.0 while it is still on its way)}.
  // A request that was not XML-RPC, or a REST request for no known resource, is recorded with
  // the method "". REST requests carry the method they map to ("Bug.search", "Bug.get", ...).
  XmlRpc::XmlRpcValue requests();
  // Only the method names of requests(), in order.
  std::vector<std::string> methods();
  void clearRequests();

  // Back to the fixture's data, the options' settings, no injected faults, no sessions and
  // an empty request record.
  void reset();

  // Settings: "login_style", "version" (text; "" or an invalid value leave "version" out),
  // "get_bugs" (true, false, or "auto": absent from version 5 on), "api_keys" (true, false, or
  // "auto": known from version 5 on), "bad_token" ("fault": 32000 as 5.x, "anonymous": the call
  // runs anonymously as 4.4, or "auto": by the version), "chunked" (replies in chunks without
  // Content-Length, as Apache sends them), "close_connections" (no keep-alive),
  // "delay_seconds" (double: every Bugzilla request is answered only after this wait, which
  // concurrent requests spend side by side; control calls are never delayed),
  // "rest_style" ("upstream" or "bmo").
  void configure(const std::string& name, const XmlRpc::XmlRpcValue& value);

  // Makes the next `times` calls of `method` (-1: all) misbehave. `kind` is one of
  //   "fault"        args: {"code": int or "Client", "string": text}
  //   "close"        close the connection without an answer
  //   "stall"        args: {"seconds": int} then answer normally
  //   "http500"      an HTML error page with status 500
  //   "not_xml"      a 200 reply whose body is not XML
  //   "truncated"    a reply cut in the middle of the XML; optional args {"bytes": n} where to
  //                  cut, {"declare_full": true} announce the whole length, then close
  //   "wrong_kind"   args: {"member": path, "value": any}: replace what a dotted path names in
  //                  the reply ("bugs", "bugs.*.summary", "bugs.0.alias"; "" the whole reply)
  //   "remove"       args: {"member": path}: leave out what the path names
  //   "huge"         args: {"megabytes": int}: a reply padded to that size
  //   "raw"          args: {"body": text}: this exact body with status 200
  //   "redirect"     args: {"location": text}: 302 Found with that Location, empty body
  // All kinds apply to REST calls as well, keyed by the method the resource maps to; a REST
  // "fault" is an error body with the HTTP status Bugzilla gives its code.
  // `method` "*" matches every Bugzilla method. Injections queue up per method, oldest first.
  // libcurl resends a request once when a kept-alive connection closes before any answer, so a
  // single "close" is invisible on a reused connection: inject it twice, or close connections.
  void inject(const std::string& method, const std::string& kind,
              const XmlRpc::XmlRpcValue& args = XmlRpc::XmlRpcValue(), int times = -1);

  // The server's own record of a bug (fixture data plus comments added since, each comment
  // with its "work_time"), for checks that the plug-in cannot make itself.
  XmlRpc::XmlRpcValue bug(int id);

  // Forgets every login token and login cookie, as if the sessions had lapsed on the server:
  // a held token then gets fault 32000 (or runs anonymously, see "bad_token").
  void expireSessions();

  // Adds the users user1@example.com ... user<count>@example.com (ids after the fixture's,
  // password "user<N>-pass", no groups), each with the API key "User<N>ApiKey" padded with
  // "x" to 40 characters. Users that exist already are kept; reset() removes them all.
  void addUsers(int count);

private:
  XmlRpc::XmlRpcValue control(const char* method, const XmlRpc::XmlRpcValue& params);
  std::unique_ptr<HelperProcess> process_;
  int port_ = 0;
  std::string rest_style_;
};

// A fresh directory in the temporary folder, removed with its content when the object goes.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& content) const;
  bool exists(const std::string& name) const;
  std::string read(const std::string& name) const;

private:
  std::string path_;
};

// The text of a BugzillaConnections.txt with one <connection> per entry.
struct ConnectionSpec {
  std::string name;
  std::string server_url;  // e.g. TestServer::url()
  int port = -1;           // -1: leave <port> out
  std::string uri = "/xmlrpc.cgi";
  std::string product = "Widgets";
  std::string extra;       // raw XML members appended inside <connection>
};
std::string connections_file(const std::vector<ConnectionSpec>& connections,
                             const std::string& velloran_host = "vcs.example.com",
                             int velloran_port = 8081);

// A connection to `server`: server_url "http://127.0.0.1" with the server's port and uri.
ConnectionSpec connection_for(const TestServer& server, const std::string& name,
                              const std::string& product = "Widgets");

}  // namespace test_support
