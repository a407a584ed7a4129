// Runs tests/echo_server.py for the client tests: starts it, reads the port it prints, and
// stops it (closing its standard input ends it; a kill makes sure).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "test_platform.h"

class SpawnedServer {
public:
  explicit SpawnedServer(const std::vector<std::string>& arguments) {
    try {
      process_ = std::make_unique<test_support::HelperProcess>(
          SOURCE_ROOT "/xmlrpc/tests/echo_server.py", arguments, kStartupSeconds);
      port_ = std::stoi(process_->first_line());
    } catch (const std::exception& error) {
      ADD_FAILURE() << error.what();  // port 0: every test of the suite fails to connect
    }
  }

  SpawnedServer(const SpawnedServer&) = delete;
  SpawnedServer& operator=(const SpawnedServer&) = delete;

  int port() const { return port_; }

private:
  static constexpr int kStartupSeconds = 20;
  std::unique_ptr<test_support::HelperProcess> process_;
  int port_ = 0;
};
