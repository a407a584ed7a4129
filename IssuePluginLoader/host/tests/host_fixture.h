// A test suite's Bugzilla test server and a data directory whose BugzillaConnections.txt
// names it as connection "Demo" (product Widgets), for running issue-plugin-host against.
#pragma once

#include "host_process.h"
#include "test_server.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace host_test {

constexpr const char* kDemoUser = "alice@example.com";
constexpr const char* kDemoPassword = "alice-pass-1";

class HostTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { server_ = std::make_unique<test_support::TestServer>(); }
  static void TearDownTestSuite() { server_.reset(); }

  void SetUp() override {
    server_->reset();
    write_connections({demo_connection()});
  }

  static test_support::ConnectionSpec demo_connection() {
    test_support::ConnectionSpec spec;
    spec.name = "Demo";
    spec.server_url = "http://127.0.0.1";
    spec.port = server_->port();
    return spec;
  }

  void write_connections(const std::vector<test_support::ConnectionSpec>& connections) {
    dir_.write("BugzillaConnections.txt", test_support::connections_file(connections));
  }

  // The host with --data-dir set and the demo user's password in BUGZILLA_PASSWORD (unless
  // the options set it or ask for it to be unset).
  Outcome host(std::vector<std::string> args, RunOptions options = {}) {
    args.insert(args.begin(), {"--data-dir", dir_.path()});
    bool unset = false;
    for (const auto& name : options.unset) unset = unset || name == "BUGZILLA_PASSWORD";
    if (!unset && options.env.count("BUGZILLA_PASSWORD") == 0) {
      options.env["BUGZILLA_PASSWORD"] = kDemoPassword;
    }
    return run_host(args, options);
  }

  inline static std::unique_ptr<test_support::TestServer> server_;
  test_support::TempDir dir_;
};

// The lines of a text, without their line feeds.
inline std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

inline bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace host_test
