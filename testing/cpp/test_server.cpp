#include "test_server.h"

#include <XmlRpc/XmlRpcClient.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace test_support {

namespace {

constexpr int kStartupSeconds = 10;  // python's start-up on a loaded machine, with room
constexpr int kStopSeconds = 5;
constexpr int kControlIdleSeconds = 30;

// Reads the "PORT n" line the server prints first, within kStartupSeconds.
int read_port(int fd) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::seconds(kStartupSeconds);
  std::string text;
  while (text.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) throw std::runtime_error("test server: no port reported in time");
    pollfd wait_for{fd, POLLIN, 0};
    const int ready = poll(&wait_for, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) throw std::runtime_error("test server: no port reported in time");
    char buffer[64];
    const ssize_t count = read(fd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) throw std::runtime_error("test server: exited before reporting its port");
    text.append(buffer, static_cast<size_t>(count));
  }
  int port = 0;
  if (std::sscanf(text.c_str(), "PORT %d", &port) != 1 || port <= 0) {
    throw std::runtime_error("test server: unexpected first line: " + text);
  }
  return port;
}

// SIGTERM, then SIGKILL if it has not ended within kStopSeconds; always reaped.
void stop_process(pid_t pid) {
  kill(pid, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kStopSeconds);
  while (std::chrono::steady_clock::now() < deadline) {
    const pid_t done = waitpid(pid, nullptr, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

pid_t spawn_server(const std::vector<std::string>& arguments, int stdout_fd) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, stdout_fd, STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  pid_t pid = -1;
  const int failure = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failure != 0) {
    throw std::runtime_error(std::string("test server: cannot start python3: ") +
                             std::strerror(failure));
  }
  return pid;
}

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

TestServer::TestServer(const Options& options) {
  const bool full_path = !options.fixture.empty() && options.fixture[0] == '/';
  std::vector<std::string> arguments = {
      "python3", TEST_SERVER_SCRIPT, "--port", "0",
      "--fixture", full_path ? options.fixture : TEST_FIXTURE_DIR "/" + options.fixture,
      "--login-style", options.login_style,
      "--parent-pid", std::to_string(getpid())};
  if (options.version.empty()) {
    arguments.push_back("--no-version");
  } else {
    arguments.push_back("--version");
    arguments.push_back(options.version);
  }

  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
    throw std::runtime_error(std::string("test server: pipe: ") + std::strerror(errno));
  }
  try {
    pid_ = spawn_server(arguments, pipe_fds[1]);
    close(pipe_fds[1]);
    pipe_fds[1] = -1;
    port_ = read_port(pipe_fds[0]);
  } catch (...) {
    if (pipe_fds[1] >= 0) close(pipe_fds[1]);
    close(pipe_fds[0]);
    if (pid_ > 0) stop_process(pid_);
    throw;
  }
  close(pipe_fds[0]);  // the server writes nothing after its port
}

TestServer::~TestServer() {
  if (pid_ > 0) stop_process(pid_);
}

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

TempDir::TempDir() {
  std::string pattern = "/tmp/bugzilla-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error(std::string("TempDir: mkdtemp: ") + std::strerror(errno));
  }
  path_ = pattern;
}

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

int refused_port() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

}  // namespace test_support
