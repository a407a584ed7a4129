// What the test helpers need of the operating system, in one place: python helpers (the
// Bugzilla test server, the echo server) started and stopped, a loopback port that refuses
// connections, and a scratch directory. Under wine the python helpers run on the Linux side,
// through testing/process_launcher.py, and reach the tests over loopback all the same.
#pragma once

#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace test_support {

class HelperProcess {
public:
  // Runs `python3 script arguments...` and waits at most `startup_seconds` for the first line
  // it prints (its port, as the helpers announce it). Throws std::runtime_error on failure.
  HelperProcess(const std::string& script, const std::vector<std::string>& arguments,
                int startup_seconds);
  ~HelperProcess();  // closes its standard input, then ends it
  HelperProcess(const HelperProcess&) = delete;
  HelperProcess& operator=(const HelperProcess&) = delete;

  const std::string& first_line() const { return first_line_; }

private:
  struct Running;
  std::unique_ptr<Running> running_;
  std::string first_line_;
};

// A program run to its end: what it printed and how it ended.
struct ProcessRun {
  int status = -1;         // exit status; -1 when it did not exit normally or could not start
  bool timed_out = false;  // it was still running at the deadline and was killed
  std::string out;
  std::string err;
};

struct ProcessOptions {
  std::map<std::string, std::string> env;  // added to (or replacing in) the environment
  std::vector<std::string> unset;          // removed from the environment (applied first)
  std::string input;                       // standard input (empty: the null device)
  int timeout_seconds = 60;
};

// Runs `program` (a path, UTF-8) with `arguments` and collects both of its outputs, read as
// text: on Windows the CR LF line ends of a text-mode stream come back as line feeds.
ProcessRun run_process(const std::string& program, const std::vector<std::string>& arguments,
                       const ProcessOptions& options);

// A loopback port that nothing listens on: connecting to it is refused.
int refused_port();

// A new empty directory in the system's temporary folder, its name starting with `prefix`.
std::string make_temp_directory(const std::string& prefix);

// Whether only the file's owner may read or write it: mode 0600 on POSIX; on Windows a DACL
// that lets in the current user and nobody else but SYSTEM.
bool owner_only(const std::string& path);

// Lets everybody read the file: mode 0644; on Windows an entry for Everyone.
void open_to_everybody(const std::string& path);

// UTC calendar time and seconds since 1970, both ways, dates before 1970 included.
std::time_t utc_seconds(std::tm parts);
std::tm utc_parts(std::time_t seconds);

}  // namespace test_support
