// Several users listing at once through one loaded plug-in, against the test server with a
// fixed wait on every Bugzilla request: with a session per user, N users should take about
// as long as one. Each round starts from no sessions (Initialize ... Uninitialize), so every
// listing signs in as well. Prints a table, then one JSON line with the figures.
#include "plugin_calls.h"
#include "process_cpu.h"
#include "plugin_loader.h"
#include "reply_values.h"
#include "test_server.h"


#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using test_support::ExportResult;
using test_support::HostContext;
using test_support::LoadedPlugin;
using test_support::TestServer;

const int kUserCounts[] = {1, 2, 4, 8};
const double kServerDelaySeconds = 0.5;

// The machine's count of connections dropped because a listening socket's queue was full
// (ListenOverflows in /proc/net/netstat; any process's sockets), -1 when unknown. The python
// server listens with a queue of 5: when it falls behind accepting a burst of connections,
// the dropped one is retried a second later and that round takes a second longer.
long listen_overflows() {
  std::FILE* netstat = std::fopen("/proc/net/netstat", "r");
  if (netstat == nullptr) return -1;
  char names[4096], values[4096];
  long found = -1;
  while (found < 0 && std::fgets(names, sizeof names, netstat) != nullptr &&
         std::fgets(values, sizeof values, netstat) != nullptr) {
    if (std::strncmp(names, "TcpExt:", 7) != 0) continue;
    char* name_state = nullptr;
    char* value_state = nullptr;
    char* name = strtok_r(names, " \n", &name_state);
    char* value = strtok_r(values, " \n", &value_state);
    while (name != nullptr && value != nullptr) {
      if (std::strcmp(name, "ListenOverflows") == 0) {
        found = std::atol(value);
        break;
      }
      name = strtok_r(nullptr, " \n", &name_state);
      value = strtok_r(nullptr, " \n", &value_state);
    }
  }
  std::fclose(netstat);
  return found;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Holds every thread until all are ready, so that none starts its listing early.
class StartGate {
public:
  void wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    opened_.wait(lock, [this] { return open_; });
  }
  void open() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      open_ = true;
    }
    opened_.notify_all();
  }

private:
  std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = false;
};

struct Round {
  double wall_seconds = 0;
  double cpu_seconds = 0;
};

// One round: `users` threads, each its own user, list at once; fails the run on any error or
// on users seeing different listings.
Round run_round(LoadedPlugin& plugin, const std::string& data_dir, int users) {
  char* error = nullptr;
  if (plugin.Initialize(data_dir.c_str(), &error) != 0) {
    std::fprintf(stderr, "Initialize failed: %s\n", error ? error : "");
    std::exit(1);
  }
  plugin.FreeString(error);

  std::vector<std::unique_ptr<HostContext>> contexts;
  for (int n = 1; n <= users; ++n) {
    const std::string user = "user" + std::to_string(n);
    contexts.push_back(
        std::make_unique<HostContext>(user + "@example.com", user + "-pass", "bench"));
  }
  std::vector<ExportResult> results(static_cast<size_t>(users));
  StartGate gate;
  std::vector<std::thread> threads;
  for (size_t i = 0; i < results.size(); ++i) {
    threads.emplace_back([&, i] {
      gate.wait();
      results[i] = test_support::list_issues(plugin, *contexts[i], "Not Filtered");
    });
  }

  const double cpu_before = cpu_seconds();
  const auto started = std::chrono::steady_clock::now();
  gate.open();
  for (std::thread& thread : threads) thread.join();
  Round round;
  round.wall_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  round.cpu_seconds = cpu_seconds() - cpu_before;
  plugin.Uninitialize();

  for (const ExportResult& result : results) {
    if (result.code != 0 || result.count == 0 || result.count != results[0].count) {
      std::fprintf(stderr, "GetIssueList failed: code %d, %d issues (first user: %d): %s\n",
                   result.code, result.count, results[0].count, result.message.c_str());
      std::exit(1);
    }
  }
  return round;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: users_bench PLUGIN [ROUNDS]\n");
    return 2;
  }
  const int rounds = argc == 3 ? std::atoi(argv[2]) : 5;
  if (rounds < 1) {
    std::fprintf(stderr, "ROUNDS must be 1 or more\n");
    return 2;
  }
  try {
    TestServer server;
    server.addUsers(kUserCounts[std::size(kUserCounts) - 1]);
    test_support::TempDir dir;
    dir.write("BugzillaConnections.txt",
              test_support::connections_file({test_support::connection_for(server, "bench")}));
    LoadedPlugin plugin(argv[1]);

    // Without the wait once, so that loading libraries and first connections do not count.
    run_round(plugin, dir.path(), 1);
    server.configure("delay_seconds", kServerDelaySeconds);
    server.clearRequests();
    run_round(plugin, dir.path(), 1);
    // Server requests one listing makes (sign-in included), for the floor of its wall time.
    const int calls = server.requests().size();

    std::printf("%d users' listings at once, %.1f s server wait per request (%d requests per "
                "listing), median of %d rounds\n\n",
                kUserCounts[std::size(kUserCounts) - 1], kServerDelaySeconds, calls, rounds);
    std::printf("| users | wall s per round | wall / 1 user | CPU ms per listing | listen "
                "overflows |\n");
    std::printf("|---|---|---|---|---|\n");
    std::string json = "{\"server_delay_seconds\": " + std::to_string(kServerDelaySeconds) +
                       ", \"requests_per_listing\": " + std::to_string(calls) +
                       ", \"rounds\": " + std::to_string(rounds) + ", \"users\": {";
    double one_user_wall = 0, most_users_wall = 0;
    for (const int users : kUserCounts) {
      server.clearRequests();  // the record would only grow
      std::vector<double> walls, cpus;
      const long overflows_before = listen_overflows();
      for (int r = 0; r < rounds; ++r) {
        const Round round = run_round(plugin, dir.path(), users);
        walls.push_back(round.wall_seconds);
        cpus.push_back(round.cpu_seconds / users);
      }
      const long overflows = overflows_before < 0 ? -1 : listen_overflows() - overflows_before;
      const double wall = median(walls);
      const double cpu = median(cpus);
      if (users == 1) one_user_wall = wall;
      most_users_wall = wall;
      std::printf("| %d | %.3f | %.2f | %.2f | %ld |\n", users, wall, wall / one_user_wall,
                  cpu * 1e3, overflows);
      char entry[200];
      std::snprintf(entry, sizeof entry,
                    "%s\"%d\": {\"wall_seconds\": %.6f, \"cpu_seconds_per_listing\": %.6f, "
                    "\"listen_overflows\": %ld}",
                    users == 1 ? "" : ", ", users, wall, cpu, overflows);
      json += entry;
    }
    const double ratio = most_users_wall / one_user_wall;
    std::printf("\n%d users / 1 user, wall time: %.2fx (goal at most 1.5x)\n\n",
                kUserCounts[std::size(kUserCounts) - 1], ratio);
    std::printf("%s}}\n", json.c_str());
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "users_bench: %s\n", failure.what());
    return 1;
  }
  return 0;
}
