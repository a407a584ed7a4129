// Runs the built issue-plugin-host as a child process, the way a person or a script does,
// and reads what it printed. Shared by the host's test files (header only: each test file is
// its own executable).
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace host_test {

struct Outcome {
  int status = -1;  // exit status; -1 when the child did not exit normally
  std::string out;
  std::string err;
};

struct RunOptions {
  std::map<std::string, std::string> env;  // added to (or replacing in) the environment
  std::vector<std::string> unset;          // removed from the environment
  std::string input;                       // standard input (a pipe; empty: /dev/null)
  int timeout_seconds = 60;                // a hung child is killed and the test fails
};

// Runs `program` with `args`; COLUMNS is fixed at 100 unless the options set it, and
// BUGZILLA_PASSWORD is cleared unless the options set it.
inline Outcome run_program(const std::string& program, const std::vector<std::string>& args,
                       const RunOptions& options = {}) {
  int out_pipe[2], err_pipe[2], in_pipe[2] = {-1, -1};
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) return {};
  const bool feed = !options.input.empty();
  if (feed && pipe2(in_pipe, O_CLOEXEC) != 0) return {};

  std::vector<std::string> argv_text{program};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& text : argv_text) argv.push_back(text.data());
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid == 0) {
    if (feed) {
      dup2(in_pipe[0], STDIN_FILENO);
    } else {
      const int null_fd = open("/dev/null", O_RDONLY);
      dup2(null_fd, STDIN_FILENO);
    }
    dup2(out_pipe[1], STDOUT_FILENO);
    dup2(err_pipe[1], STDERR_FILENO);
    unsetenv("BUGZILLA_PASSWORD");
    setenv("COLUMNS", "100", 1);
    for (const auto& name : options.unset) unsetenv(name.c_str());
    for (const auto& [name, value] : options.env) setenv(name.c_str(), value.c_str(), 1);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (feed) {
    close(in_pipe[0]);
    // Small inputs only (a password line): they fit the pipe's buffer.
    const ssize_t written = write(in_pipe[1], options.input.data(), options.input.size());
    (void)written;
    close(in_pipe[1]);
  }

  Outcome run;
  struct pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&run.out, &run.err};
  int open_count = 2;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(options.timeout_seconds);
  while (open_count > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      kill(pid, SIGKILL);
      ADD_FAILURE() << "issue-plugin-host did not finish within " << options.timeout_seconds
                    << " s";
      break;
    }
    if (poll(fds, 2, static_cast<int>(left.count())) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  for (auto& fd : fds) {
    if (fd.fd >= 0) close(fd.fd);
  }
  int wait_status = 0;
  waitpid(pid, &wait_status, 0);
  run.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  return run;
}

inline Outcome run_host(const std::vector<std::string>& args, const RunOptions& options = {}) {
  return run_program(HOST_BINARY, args, options);
}

// The host's --json output read by an independent parser (python's json module) and
// flattened to "path" -> value: members by name, elements by index, each step written as
// "/name"; strings as they are, numbers and true/false/null as JSON writes them, empty
// containers as [] or {}. A document that does not parse gives the single key "!error".
inline std::map<std::string, std::string> flatten_json(const std::string& document) {
  static const char* script =
      "import json, sys\n"
      "out = sys.stdout.buffer\n"
      "def emit(path, text):\n"
      "    for part in (path.encode(), text.encode()):\n"
      "        out.write(b'%d:' % len(part) + part)\n"
      "def walk(path, value):\n"
      "    if isinstance(value, dict):\n"
      "        if not value: emit(path, '{}')\n"
      "        for k, v in value.items(): walk(path + '/' + k, v)\n"
      "    elif isinstance(value, list):\n"
      "        if not value: emit(path, '[]')\n"
      "        for i, v in enumerate(value): walk(path + '/' + str(i), v)\n"
      "    elif isinstance(value, str): emit(path, value)\n"
      "    else: emit(path, json.dumps(value))\n"
      "try:\n"
      "    with open(sys.argv[1], 'rb') as f: document = json.loads(f.read().decode('utf-8'))\n"
      "except Exception as error:\n"
      "    emit('!error', str(error)); sys.exit(0)\n"
      "walk('', document)\n";
  // The document can be larger than a pipe's buffer: it goes through a file.
  char path[] = "/tmp/host-json-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return {{"!error", "no temporary file"}};
  const ssize_t written = write(fd, document.data(), document.size());
  close(fd);
  const Outcome run = run_program("/usr/bin/env", {"python3", "-c", script, path});
  unlink(path);
  std::map<std::string, std::string> flat;
  if (written != static_cast<ssize_t>(document.size())) return {{"!error", "short write"}};
  // Length-prefixed "N:bytes" pairs: texts may hold any byte, NUL included.
  size_t at = 0;
  const auto next = [&](std::string& part) {
    const size_t colon = run.out.find(':', at);
    if (colon == std::string::npos) return false;
    const size_t length = std::strtoul(run.out.c_str() + at, nullptr, 10);
    if (colon + 1 + length > run.out.size()) return false;
    part = run.out.substr(colon + 1, length);
    at = colon + 1 + length;
    return true;
  };
  std::string key, value;
  while (at < run.out.size() && next(key) && next(value)) flat[key] = value;
  if (flat.empty()) flat["!error"] = "no output from the JSON reader: " + run.err;
  return flat;
}

}  // namespace host_test
