// Runs tests/echo_server.py for the client tests: starts it, reads the port it prints, and
// stops it (closing its standard input ends it; a kill makes sure).
#pragma once

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

class SpawnedServer {
public:
  explicit SpawnedServer(const std::vector<std::string>& arguments) {
    int to_child[2];
    int from_child[2];
    if (pipe(to_child) != 0 || pipe(from_child) != 0) return;
    std::vector<std::string> argv_text = {"python3", SOURCE_ROOT "/xmlrpc/tests/echo_server.py"};
    argv_text.insert(argv_text.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& text : argv_text) argv.push_back(&text[0]);
    argv.push_back(nullptr);

    pid_ = fork();
    if (pid_ == 0) {
      dup2(to_child[0], 0);
      dup2(from_child[1], 1);
      close(to_child[0]);
      close(to_child[1]);
      close(from_child[0]);
      close(from_child[1]);
      execvp("python3", argv.data());
      _exit(127);
    }
    close(to_child[0]);
    close(from_child[1]);
    stdin_ = to_child[1];
    port_ = read_port(from_child[0]);
    close(from_child[0]);
  }

  ~SpawnedServer() {
    if (stdin_ >= 0) close(stdin_);
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }

  SpawnedServer(const SpawnedServer&) = delete;
  SpawnedServer& operator=(const SpawnedServer&) = delete;

  int port() const { return port_; }

private:
  // The first line the server prints, waiting at most 20 seconds for it.
  static int read_port(int fd) {
    std::string line;
    for (int waited = 0; waited < 200 && line.find('\n') == std::string::npos; ++waited) {
      pollfd ready = {fd, POLLIN, 0};
      if (poll(&ready, 1, 100) <= 0) continue;
      char buffer[64];
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n <= 0) break;
      line.append(buffer, static_cast<size_t>(n));
    }
    return line.find('\n') == std::string::npos ? 0 : std::stoi(line);
  }

  pid_t pid_ = -1;
  int stdin_ = -1;
  int port_ = 0;
};
