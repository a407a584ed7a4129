#if !defined(_WIN32)

#include "test_platform.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace test_support {

namespace {

constexpr int kStopSeconds = 5;

std::runtime_error failure(const std::string& script, const std::string& what) {
  return std::runtime_error(script.substr(script.rfind('/') + 1) + ": " + what);
}

// The first line the helper prints, within `seconds`.
std::string read_first_line(int fd, int seconds, const std::string& script) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::seconds(seconds);
  std::string text;
  while (text.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) throw failure(script, "no first line in time");
    pollfd wait_for{fd, POLLIN, 0};
    const int ready = poll(&wait_for, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) throw failure(script, "no first line in time");
    char buffer[64];
    const ssize_t count = read(fd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) throw failure(script, "exited before printing its first line");
    text.append(buffer, static_cast<size_t>(count));
  }
  return text.substr(0, text.find('\n'));
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

}  // namespace

struct HelperProcess::Running {
  pid_t pid = -1;
  int stdin_fd = -1;
};

HelperProcess::HelperProcess(const std::string& script, const std::vector<std::string>& arguments,
                             int startup_seconds)
    : running_(new Running) {
  std::vector<std::string> text = {"python3", "-B", script};
  text.insert(text.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : text) argv.push_back(argument.data());
  argv.push_back(nullptr);

  int to_child[2];
  int from_child[2];
  if (pipe2(to_child, O_CLOEXEC) != 0) throw failure(script, std::strerror(errno));
  if (pipe2(from_child, O_CLOEXEC) != 0) {
    close(to_child[0]);
    close(to_child[1]);
    throw failure(script, std::strerror(errno));
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, to_child[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, from_child[1], STDOUT_FILENO);
  const int spawned =
      posix_spawnp(&running_->pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(to_child[0]);
  close(from_child[1]);
  running_->stdin_fd = to_child[1];
  try {
    if (spawned != 0) {
      running_->pid = -1;
      throw failure(script, std::string("cannot start python3: ") + std::strerror(spawned));
    }
    first_line_ = read_first_line(from_child[0], startup_seconds, script);
  } catch (...) {
    close(from_child[0]);
    close(running_->stdin_fd);
    if (running_->pid > 0) stop_process(running_->pid);
    throw;
  }
  close(from_child[0]);  // the helpers print nothing the tests need after their first line
}

HelperProcess::~HelperProcess() {
  close(running_->stdin_fd);
  stop_process(running_->pid);
}

ProcessRun run_process(const std::string& program, const std::vector<std::string>& arguments,
                       const ProcessOptions& options) {
  ProcessRun run;
  int out_pipe[2], err_pipe[2], in_pipe[2] = {-1, -1};
  if (pipe2(out_pipe, O_CLOEXEC) != 0) return run;
  if (pipe2(err_pipe, O_CLOEXEC) != 0) {
    close(out_pipe[0]);
    close(out_pipe[1]);
    return run;
  }
  const bool feed = !options.input.empty();
  if (feed && pipe2(in_pipe, O_CLOEXEC) != 0) in_pipe[0] = in_pipe[1] = -1;

  std::vector<std::string> argv_text{program};
  argv_text.insert(argv_text.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& text : argv_text) argv.push_back(text.data());
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid == 0) {
    const int in_fd = feed ? in_pipe[0] : open("/dev/null", O_RDONLY);
    dup2(in_fd, STDIN_FILENO);
    dup2(out_pipe[1], STDOUT_FILENO);
    dup2(err_pipe[1], STDERR_FILENO);
    for (const auto& name : options.unset) unsetenv(name.c_str());
    for (const auto& [name, value] : options.env) setenv(name.c_str(), value.c_str(), 1);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (feed && in_pipe[0] >= 0) {
    close(in_pipe[0]);
    // Small inputs only (a password line): they fit the pipe's buffer.
    const ssize_t written = write(in_pipe[1], options.input.data(), options.input.size());
    (void)written;
    close(in_pipe[1]);
  }
  if (pid < 0) {
    close(out_pipe[0]);
    close(err_pipe[0]);
    return run;
  }

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
      run.timed_out = true;
      break;
    }
    if (poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
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

std::string make_temp_directory(const std::string& prefix) {
  std::string pattern = "/tmp/" + prefix + "XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp: " + std::string(std::strerror(errno)));
  }
  return pattern;
}

bool owner_only(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && (info.st_mode & 0777) == 0600;
}

void open_to_everybody(const std::string& path) { chmod(path.c_str(), 0644); }

std::time_t utc_seconds(std::tm parts) { return timegm(&parts); }

std::tm utc_parts(std::time_t seconds) {
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  return parts;
}

}  // namespace test_support

#endif
