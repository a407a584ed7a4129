#include "test_server.h"

#include <XmlRpc/XmlRpcClient.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace test_support {

namespace {

constexpr int kStartupSeconds = 10;  // python's start-up on a loaded machine, with room
constexpr int kControlIdleSeconds = 30;

std::string xml_text(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace

TestServer::TestServer() : TestServer(Options()) {}

TestServer::TestServer(const Options& options) : rest_style_(options.rest_style) {
  const bool full_path = !options.fixture.empty() && options.fixture[0] == '/';
  // The server ends by itself should its parent die without stopping it.
  std::vector<std::string> arguments = {
      "--port", "0",
      "--fixture", full_path ? options.fixture : TEST_FIXTURE_DIR "/" + options.fixture,
      "--login-style", options.login_style};
  const bool bmo = options.rest_style == "bmo";
  if (options.version.empty()) {
    arguments.push_back("--no-version");
  } else if (!(bmo && options.version == Options().version)) {  // bmo: its own version
    arguments.push_back("--version");
    arguments.push_back(options.version);
  }
  if (!options.rest_style.empty()) {
    arguments.push_back("--rest-style");
    arguments.push_back(options.rest_style);
  }
  process_ = std::make_unique<HelperProcess>(TEST_SERVER_SCRIPT, arguments, kStartupSeconds);
  const std::string& line = process_->first_line();
  if (std::sscanf(line.c_str(), "PORT %d", &port_) != 1 || port_ <= 0) {
    throw std::runtime_error("test server: unexpected first line: " + line);
  }
}

TestServer::~TestServer() = default;

std::string TestServer::url() const { return "http://127.0.0.1:" + std::to_string(port_); }

XmlRpc::XmlRpcValue TestServer::control(const char* method, const XmlRpc::XmlRpcValue& params) {
  XmlRpc::XmlRpcClient client("127.0.0.1", port_, "/control");
  client.setIdleTimeout(kControlIdleSeconds);
  XmlRpc::XmlRpcValue result;
  const int code = client.execute(method, params, result);
  if (code != XmlRpc::kExchangeCompleted) {
    throw std::runtime_error(std::string("test server: ") + method + " failed with code " +
                             std::to_string(code) + ": " + client.lastFailure().detail);
  }
  if (const XmlRpc::XmlRpcValue* fault = result.find("faultString")) {
    throw std::runtime_error(std::string("test server: ") + method + ": " + fault->toText());
  }
  return result;
}

XmlRpc::XmlRpcValue TestServer::requests() {
  return control("control.requests", XmlRpc::XmlRpcValue());
}

std::vector<std::string> TestServer::methods() {
  const XmlRpc::XmlRpcValue all = requests();
  std::vector<std::string> names;
  for (int i = 0; i < all.size(); ++i) names.push_back(all.at(i)->find("method")->toText());
  return names;
}

void TestServer::clearRequests() { control("control.clear", XmlRpc::XmlRpcValue()); }

void TestServer::reset() { control("control.reset", XmlRpc::XmlRpcValue()); }

void TestServer::configure(const std::string& name, const XmlRpc::XmlRpcValue& value) {
  XmlRpc::XmlRpcValue params;
  params[0] = name;
  params[1] = value;  // an invalid value goes out as <nil/>: "version" is then left out
  control("control.configure", params);
}

void TestServer::inject(const std::string& method, const std::string& kind,
                        const XmlRpc::XmlRpcValue& args, int times) {
  XmlRpc::XmlRpcValue params;
  params[0] = method;
  params[1] = kind;
  params[2] = args;
  if (!args.valid()) params[2].assertStruct();
  params[3] = times;
  control("control.inject", params);
}

XmlRpc::XmlRpcValue TestServer::bug(int id) {
  XmlRpc::XmlRpcValue params;
  params[0] = id;
  return control("control.bug", params);
}

void TestServer::expireSessions() { control("control.expire_sessions", XmlRpc::XmlRpcValue()); }

void TestServer::addUsers(int count) {
  XmlRpc::XmlRpcValue params;
  params[0] = count;
  control("control.add_users", params);
}

TempDir::TempDir() : path_(make_temp_directory("bugzilla-test-")) {}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void TempDir::write(const std::string& name, const std::string& content) const {
  std::ofstream out(file(name), std::ios::binary | std::ios::trunc);
  out << content;
  if (!out.flush()) throw std::runtime_error("TempDir: cannot write " + file(name));
}

bool TempDir::exists(const std::string& name) const {
  std::error_code ignored;
  return std::filesystem::exists(file(name), ignored);
}

std::string TempDir::read(const std::string& name) const {
  std::ifstream in(file(name), std::ios::binary);
  if (!in) throw std::runtime_error("TempDir: cannot read " + file(name));
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string connections_file(const std::vector<ConnectionSpec>& connections,
                             const std::string& velloran_host, int velloran_port) {
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<bugzilla_connections>\n";
  out += "  <velloran_server><ip_address>" + xml_text(velloran_host) + "</ip_address><port>" +
         std::to_string(velloran_port) + "</port></velloran_server>\n";
  for (const ConnectionSpec& connection : connections) {
    out += "  <connection><name>" + xml_text(connection.name) + "</name><server_url>" +
           xml_text(connection.server_url) + "</server_url>";
    if (connection.port != -1) out += "<port>" + std::to_string(connection.port) + "</port>";
    out += "<web_service_extension>" + xml_text(connection.uri) +
           "</web_service_extension><product>" + xml_text(connection.product) + "</product>" +
           connection.extra + "</connection>\n";
  }
  out += "</bugzilla_connections>\n";
  return out;
}

ConnectionSpec connection_for(const TestServer& server, const std::string& name,
                              const std::string& product) {
  ConnectionSpec connection;
  connection.name = name;
  connection.server_url = "http://127.0.0.1";
  connection.port = server.port();
  connection.uri = server.uri();
  connection.product = product;
  return connection;
}

}  // namespace test_support
