// One GetIssueList (or, given "details ID", one GetIssueDetails) through the exported
// function, in a process of its own so that its peak memory and CPU time are the call's.
// Given "rest", the connection uses Bugzilla's REST API below /rest instead of XML-RPC.
// Prints one JSON line; a listing's record_bytes (the bytes of every field handed out) lets
// the caller check that another client read the same.
#include "issue_plugin_exports.h"
#include "process_cpu.h"

#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

// The peak resident size of this process image (VmHWM). Not getrusage's ru_maxrss: Linux
// carries that over from the parent that started us, so a large parent would show as ours.
long peak_rss_kib() {
  long peak = 0;
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (status != nullptr) {
    char line[256];
    while (std::fgets(line, sizeof line, status) != nullptr) {
      if (std::sscanf(line, "VmHWM: %ld", &peak) == 1) break;
    }
    std::fclose(status);
  }
  return peak;
}

// Starts the peak afresh from the resident size now, so that start-up does not count.
void reset_peak_rss() {
  std::FILE* clear = std::fopen("/proc/self/clear_refs", "w");
  if (clear != nullptr) {
    std::fputs("5", clear);
    std::fclose(clear);
  }
}

// The resident size now. The baseline must be this, not the peak so far: start-up (loading
// libcurl and OpenSSL) peaks above what stays resident, which would hide a small listing's cost.
long current_rss_kib() {
  long pages = 0, resident = 0;
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm != nullptr) {
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(statm);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Every export bound by name, as a host binds them; a missing one ends the run.
IssuePluginExports load_exports(void* handle) {
  IssuePluginExports exports;
  bind_issue_plugin_exports(exports, [handle](const char* name) {
    void* address = dlsym(handle, name);
    if (address == nullptr) {
      std::fprintf(stderr, "missing export %s\n", name);
      std::exit(2);
    }
    return address;
  });
  return exports;
}

}  // namespace

int main(int argc, char** argv) {
  const bool details = argc == 6 && std::string(argv[4]) == "details";
  const bool rest = argc == 5 && std::string(argv[4]) == "rest";
  if (argc != 4 && !details && !rest) {
    std::fprintf(stderr, "usage: listing_bench PLUGIN DATA_DIR PORT [details ISSUE_ID | rest]\n");
    return 2;
  }
  const std::string data_dir = argv[2];
  std::ofstream(data_dir + "/BugzillaConnections.txt")
      << "<bugzilla_connections><connection><name>bench</name>"
      << "<server_url>http://127.0.0.1</server_url><port>" << argv[3] << "</port>"
      << (rest ? "<web_service>rest</web_service><web_service_extension>/rest"
               : "<web_service_extension>/xmlrpc.cgi")
      << "</web_service_extension><product>Widgets</product></connection>"
      << "</bugzilla_connections>\n";

  void* plugin = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (plugin == nullptr) {
    std::fprintf(stderr, "%s\n", dlerror());
    return 2;
  }
  const IssuePluginExports exports = load_exports(plugin);
  auto initialize = exports.Initialize;
  auto get_issue_list = exports.GetIssueList;
  auto free_issue_list = exports.FreeIssueList;
  auto get_issue_details = exports.GetIssueDetails;
  auto free_issue = exports.FreeIssue;
  auto free_fields = exports.FreeCustomFieldsList;
  auto free_string = exports.FreeString;
  auto uninitialize = exports.Uninitialize;

  char* error = nullptr;
  initialize(data_dir.c_str(), &error);
  char login[] = "alice@example.com";
  char password[] = "x";
  char connection[] = "bench";
  RequestContext context{login, password, connection};

  reset_peak_rss();
  const long baseline_kib = current_rss_kib();
  const double cpu_before = cpu_seconds();
  const auto started = std::chrono::steady_clock::now();
  IssueRecord** issues = nullptr;
  IssueRecord* issue = nullptr;
  CustomFieldRecord** fields = nullptr;
  int32_t count = 0;
  int32_t flag = 0;
  const int32_t code =
      details ? get_issue_details(&context, argv[5], &issue, &fields, &count, &error)
              : get_issue_list(&context, "Assigned To Me", &issues, &count, &flag, &error);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const double cpu = cpu_seconds() - cpu_before;
  const long peak_kib = peak_rss_kib();
  if (code != 0) {
    std::fprintf(stderr, "%s failed: %d %s\n", details ? "GetIssueDetails" : "GetIssueList",
                 code, error ? error : "");
    free_string(error);
    return 1;
  }
  // A details call reports its one record, with the length of its description.
  const int records = details ? 1 : count;
  const size_t description = details && issue->description ? std::strlen(issue->description) : 0;
  size_t record_bytes = 0;
  for (int32_t i = 0; !details && i < count; ++i) {
    for (const char* field : {issues[i]->id, issues[i]->summary, issues[i]->severity,
                              issues[i]->status, issues[i]->description}) {
      record_bytes += field ? std::strlen(field) : 0;
    }
  }
  if (details) {
    free_issue(issue);
    free_fields(fields, static_cast<uint32_t>(count));
  } else {
    free_issue_list(issues, static_cast<uint32_t>(count));
  }
  uninitialize();
  std::printf("{\"records\": %d, \"description_bytes\": %zu, \"record_bytes\": %zu, "
              "\"wall_seconds\": %.6f, \"cpu_seconds\": %.6f, \"baseline_rss_kib\": %ld, "
              "\"peak_rss_kib\": %ld}\n",
              records, description, record_bytes, wall, cpu, baseline_kib, peak_kib);
  return 0;
}
