// Every export of the loaded plug-in with its n-th operator-new allocation failing, for
// n = 1, 2, ... until the export runs through without meeting the failure. Each time the
// export must neither crash nor leak, and must report the failure to the host.
//
// The replaced allocation functions live in this executable, so they also serve the plug-in
// and the XML-RPC library, which the dynamic linker binds to the executable's definitions.
// Windows binds no DLL to them: there the plug-in, the library and the C++ runtime are linked
// into this executable, which binds the exports from itself (an empty plug-in path).
#include <XmlRpc/XmlRpcValue.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "plugin_loader.h"
#include "test_server.h"

#if defined(__SANITIZE_ADDRESS__)
extern "C" int __lsan_do_recoverable_leak_check();
#endif

// ---------------------------------------------------------------------------------------
// Allocation functions that fail on request. Only the armed n-th allocation fails; the
// ones after it succeed, as when memory runs short for a moment.

namespace {

struct FailureSwitch {
  bool armed = false;
  long fail_at = 0;          // 1-based index of the allocation that fails
  long seen = 0;             // allocations since arming
  bool hit = false;          // the failing allocation was reached
  bool hit_nothrow = false;  // ... through a nothrow form, whose caller may do without
};

FailureSwitch g_switch;

// Where the failing allocation is made: a place for a debugger's breakpoint.
__attribute__((noinline)) void failing_allocation_reached() noexcept {
  g_switch.hit = true;
  asm volatile("" ::: "memory");
}

bool allocation_fails(bool nothrow) noexcept {
  if (!g_switch.armed) return false;
  if (++g_switch.seen != g_switch.fail_at) return false;
  g_switch.hit_nothrow = nothrow;
  failing_allocation_reached();
  return true;
}

void* allocate(std::size_t size, bool nothrow) noexcept {
  if (allocation_fails(nothrow)) return nullptr;
  return std::malloc(size != 0 ? size : 1);
}

void* allocate_aligned(std::size_t size, std::align_val_t alignment, bool nothrow) noexcept {
  if (allocation_fails(nothrow)) return nullptr;
  const std::size_t align = static_cast<std::size_t>(alignment);
#if defined(_WIN32)
  return _aligned_malloc(size != 0 ? size : 1, align);
#else
  void* memory = nullptr;
  if (posix_memalign(&memory, align < sizeof(void*) ? sizeof(void*) : align,
                     size != 0 ? size : 1) != 0) {
    return nullptr;
  }
  return memory;
#endif
}

void release_aligned(void* memory) noexcept {
#if defined(_WIN32)
  _aligned_free(memory);
#else
  std::free(memory);
#endif
}

void* allocate_or_throw(std::size_t size) {
  void* memory = allocate(size, false);
  if (memory == nullptr) throw std::bad_alloc();
  return memory;
}

void* allocate_aligned_or_throw(std::size_t size, std::align_val_t alignment) {
  void* memory = allocate_aligned(size, alignment, false);
  if (memory == nullptr) throw std::bad_alloc();
  return memory;
}

}  // namespace

void* operator new(std::size_t size) { return allocate_or_throw(size); }
void* operator new[](std::size_t size) { return allocate_or_throw(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return allocate(size, true);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return allocate(size, true);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  return allocate_aligned_or_throw(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return allocate_aligned_or_throw(size, alignment);
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return allocate_aligned(size, alignment, true);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return allocate_aligned(size, alignment, true);
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete(void* memory, std::align_val_t) noexcept { release_aligned(memory); }
void operator delete[](void* memory, std::align_val_t) noexcept { release_aligned(memory); }
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept {
  release_aligned(memory);
}
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept {
  release_aligned(memory);
}
void operator delete(void* memory, std::align_val_t, const std::nothrow_t&) noexcept {
  release_aligned(memory);
}
void operator delete[](void* memory, std::align_val_t, const std::nothrow_t&) noexcept {
  release_aligned(memory);
}

namespace {

using test_support::LoadedPlugin;
using test_support::TestServer;
using XmlRpc::XmlRpcValue;

// Arms the switch for the duration of one export call.
class Armed {
 public:
  explicit Armed(long fail_at) {
    g_switch.seen = 0;
    g_switch.hit = false;
    g_switch.hit_nothrow = false;
    g_switch.fail_at = fail_at;
    g_switch.armed = true;
  }
  ~Armed() { g_switch.armed = false; }
  Armed(const Armed&) = delete;
  Armed& operator=(const Armed&) = delete;
};

const char kLogin[] = "alice@example.com";
const char kPassword[] = "alice-pass-1";

// What one armed run of an export told the host.
struct Attempt {
  int32_t code = 0;
  bool reports_messages = true;  // the export has an error-text parameter
  bool message = false;          // it handed out one
  bool failed_entries = false;   // AttachToIssues listed refused comments
};

class Environment;
using Runner = std::function<Attempt(Environment&, long fail_at)>;

// The plug-in, its data directory and the test server, shared by all rows.
class Environment {
 public:
  Environment() : plugin(BUGZILLA_PLUGIN_PATH) {
    test_support::ConnectionSpec rest_widgets = test_support::connection_for(server, "RestWidgets");
    rest_widgets.uri = server.restUri();
    rest_widgets.extra = "<web_service>rest</web_service>";
    test_support::ConnectionSpec rest_gadgets = rest_widgets;
    rest_gadgets.name = "RestGadgets";
    rest_gadgets.product = "Gadgets";
    dir.write("BugzillaConnections.txt",
              test_support::connections_file(
                  {test_support::connection_for(server, "Widgets"),
                   test_support::connection_for(server, "Gadgets", "Gadgets"), rest_widgets,
                   rest_gadgets}));
  }

  // Every run starts alike: no session, so the server-talking exports log in each time.
  void fresh_start() {
    plugin.Uninitialize();
    char* error = nullptr;
    plugin.Initialize(dir.path().c_str(), &error);
    plugin.FreeString(error);
  }

  // Hands a message to the check and releases it.
  bool take_message(char* error) {
    const bool present = error != nullptr;
    plugin.FreeString(error);
    return present;
  }

  TestServer server;
  test_support::TempDir dir;
  LoadedPlugin plugin;
  std::string login = kLogin, password = kPassword, widgets = "Widgets", gadgets = "Gadgets";
  std::string rest_widgets = "RestWidgets", rest_gadgets = "RestGadgets";
  RequestContext context(std::string& connection) {
    return RequestContext{&login[0], &password[0], &connection[0]};
  }
};

Environment* g_env = nullptr;

Attempt descriptor_read(const void* value) {
  Attempt attempt;
  attempt.reports_messages = false;
  attempt.code = value != nullptr ? 0 : 1;
  return attempt;
}

// One row per export.
struct ExportRow {
  const char* name;
  Runner run;
};

std::vector<ExportRow> export_rows() {
  std::vector<ExportRow> rows;
  auto descriptor = [&rows](const char* name, std::function<const void*(LoadedPlugin&)> read) {
    rows.push_back({name, [read](Environment& env, long fail_at) {
                      Armed armed(fail_at);
                      return descriptor_read(read(env.plugin));
                    }});
  };
  descriptor("KOVAIP_APIVersion", [](LoadedPlugin& p) -> const void* { return p.APIVersion; });
  descriptor("KOVAIP_PluginProvider",
             [](LoadedPlugin& p) -> const void* { return p.PluginProvider; });
  descriptor("KOVAIP_PluginNotes", [](LoadedPlugin& p) -> const void* { return p.PluginNotes; });
  descriptor("KOVAIP_PluginVersion",
             [](LoadedPlugin& p) -> const void* { return p.PluginVersion; });
  descriptor("KOVAIP_PluginUUID", [](LoadedPlugin& p) -> const void* { return p.PluginUUID; });
  descriptor("KOVAIP_PluginAuthors",
             [](LoadedPlugin& p) -> const void* { return p.PluginAuthors; });

  rows.push_back({"Initialize", [](Environment& env, long fail_at) {
                    Attempt attempt;
                    char* error = nullptr;
                    {
                      Armed armed(fail_at);
                      attempt.code = env.plugin.Initialize(env.dir.path().c_str(), &error);
                    }
                    attempt.message = env.take_message(error);
                    return attempt;
                  }});
  rows.push_back({"Uninitialize", [](Environment& env, long fail_at) {
                    env.dir.write("cookies.txt", "");  // something to delete
                    Attempt attempt;
                    attempt.reports_messages = false;
                    {
                      Armed armed(fail_at);
                      attempt.code = env.plugin.Uninitialize();
                    }
                    // A failed run must not have deleted the file; a finished one must.
                    EXPECT_EQ(env.dir.exists("cookies.txt"), attempt.code != 0);
                    return attempt;
                  }});

  // The release functions, each given what the matching export handed out.
  rows.push_back({"FreeString", [](Environment& env, long fail_at) {
                    char* text = nullptr;
                    env.plugin.GetConnectionList(nullptr, nullptr, nullptr, &text);
                    EXPECT_NE(text, nullptr);
                    Armed armed(fail_at);
                    env.plugin.FreeString(text);
                    Attempt attempt;
                    attempt.reports_messages = false;
                    return attempt;
                  }});
  rows.push_back({"FreeStringList", [](Environment& env, long fail_at) {
                    char** list = nullptr;
                    int32_t count = 0;
                    char* error = nullptr;
                    EXPECT_EQ(env.plugin.GetFilterList(nullptr, &list, &count, &error), 0);
                    Armed armed(fail_at);
                    env.plugin.FreeStringList(list, static_cast<uint32_t>(count));
                    Attempt attempt;
                    attempt.reports_messages = false;
                    return attempt;
                  }});
  rows.push_back({"FreeConnectionList", [](Environment& env, long fail_at) {
                    ConnectionEntry** list = nullptr;
                    int32_t count = 0;
                    char* error = nullptr;
                    EXPECT_EQ(env.plugin.GetConnectionList(nullptr, &list, &count, &error), 0);
                    Armed armed(fail_at);
                    env.plugin.FreeConnectionList(list, static_cast<uint32_t>(count));
                    Attempt attempt;
                    attempt.reports_messages = false;
                    return attempt;
                  }});
  rows.push_back(
      {"FreeCustomFieldsList", [](Environment& env, long fail_at) {
         CustomFieldRecord** list = nullptr;
         int32_t count = 0;
         char* error = nullptr;
         EXPECT_EQ(env.plugin.GetFixWorkflow(nullptr, nullptr, nullptr, &list, &count, &error), 0);
         Armed armed(fail_at);
         env.plugin.FreeCustomFieldsList(list, static_cast<uint32_t>(count));
         Attempt attempt;
         attempt.reports_messages = false;
         return attempt;
       }});
  rows.push_back(
      {"FreeIssue", [](Environment& env, long fail_at) {
         RequestContext context = env.context(env.widgets);
         IssueRecord* issue = nullptr;
         CustomFieldRecord** fields = nullptr;
         int32_t count = 0;
         char* error = nullptr;
         EXPECT_EQ(env.plugin.GetIssueDetails(&context, "1", &issue, &fields, &count, &error), 0);
         env.plugin.FreeCustomFieldsList(fields, static_cast<uint32_t>(count));
         Armed armed(fail_at);
         env.plugin.FreeIssue(issue);
         Attempt attempt;
         attempt.reports_messages = false;
         return attempt;
       }});
  rows.push_back(
      {"FreeIssueList", [](Environment& env, long fail_at) {
         RequestContext context = env.context(env.gadgets);
         IssueRecord** issues = nullptr;
         int32_t count = 0, flag = 0;
         char* error = nullptr;
         EXPECT_EQ(
             env.plugin.GetIssueList(&context, "Not Filtered", &issues, &count, &flag, &error), 0);
         Armed armed(fail_at);
         env.plugin.FreeIssueList(issues, static_cast<uint32_t>(count));
         Attempt attempt;
         attempt.reports_messages = false;
         return attempt;
       }});
  rows.push_back(
      {"FreeFailedAttachmentList", [](Environment& env, long fail_at) {
         XmlRpcValue fault;
         fault["code"] = 114;
         fault["string"] = "Refused.";
         env.server.inject("Bug.add_comment", "fault", fault, 1);
         RequestContext context = env.context(env.widgets);
         std::string id = "1";
         IssueAttachment issue{&id[0], &env.widgets[0], nullptr, 0, nullptr, nullptr, 0};
         IssueAttachment* issues[] = {&issue};
         FailedAttachment** failed = nullptr;
         int32_t failed_count = 0;
         char* error = nullptr;
         EXPECT_EQ(env.plugin.AttachToIssues(&context, issues, 1, &failed, &failed_count, &error),
                   0);
         EXPECT_EQ(failed_count, 1);
         Armed armed(fail_at);
         env.plugin.FreeFailedAttachmentList(failed, static_cast<uint32_t>(failed_count));
         Attempt attempt;
         attempt.reports_messages = false;
         return attempt;
       }});

  // The exports that produce something.
  rows.push_back({"GetConnectionList", [](Environment& env, long fail_at) {
                    ConnectionEntry** list = nullptr;
                    int32_t count = 0;
                    char* error = nullptr;
                    Attempt attempt;
                    {
                      Armed armed(fail_at);
                      attempt.code = env.plugin.GetConnectionList(nullptr, &list, &count, &error);
                    }
                    if (attempt.code == 0) {
                      EXPECT_EQ(count, 4);
                    }
                    if (list) env.plugin.FreeConnectionList(list, static_cast<uint32_t>(count));
                    attempt.message = env.take_message(error);
                    return attempt;
                  }});
  rows.push_back({"GetFilterList", [](Environment& env, long fail_at) {
                    char** list = nullptr;
                    int32_t count = 0;
                    char* error = nullptr;
                    Attempt attempt;
                    {
                      Armed armed(fail_at);
                      attempt.code = env.plugin.GetFilterList(nullptr, &list, &count, &error);
                    }
                    if (attempt.code == 0) {
                      EXPECT_EQ(count, 3);
                    }
                    if (list) env.plugin.FreeStringList(list, static_cast<uint32_t>(count));
                    attempt.message = env.take_message(error);
                    return attempt;
                  }});
  rows.push_back({"GetFixWorkflow", [](Environment& env, long fail_at) {
                    CustomFieldRecord** fields = nullptr;
                    int32_t count = 0;
                    char* error = nullptr;
                    Attempt attempt;
                    {
                      Armed armed(fail_at);
                      attempt.code = env.plugin.GetFixWorkflow(nullptr, nullptr, nullptr, &fields,
                                                               &count, &error);
                    }
                    if (attempt.code == 0) {
                      EXPECT_EQ(count, 2);
                    }
                    if (fields)
                      env.plugin.FreeCustomFieldsList(fields, static_cast<uint32_t>(count));
                    attempt.message = env.take_message(error);
                    return attempt;
                  }});
  rows.push_back(
      {"ValidateWorkflow", [](Environment& env, long fail_at) {
         CustomFieldRecord** fields = nullptr;
         int32_t count = 0;
         char* error = nullptr;
         EXPECT_EQ(env.plugin.GetFixWorkflow(nullptr, nullptr, nullptr, &fields, &count, &error),
                   0);
         // An entry that fails validation, so that the verdict carries a message.
         std::string hours = "1000000", comment = "Fixed the crash.";
         FieldChoice hours_choice{&hours[0], nullptr, 0};
         FieldChoice comment_choice{&comment[0], nullptr, 0};
         FieldChoice* hours_choices[] = {&hours_choice};
         FieldChoice* comment_choices[] = {&comment_choice};
         CustomFieldRecord hours_field = *fields[0];
         CustomFieldRecord comment_field = *fields[1];
         hours_field.choices = hours_choices;
         hours_field.choice_count = 1;
         comment_field.choices = comment_choices;
         comment_field.choice_count = 1;
         CustomFieldRecord* entries[] = {&hours_field, &comment_field};
         int32_t valid = -1;
         Attempt attempt;
         {
           Armed armed(fail_at);
           attempt.code =
               env.plugin.ValidateWorkflow(nullptr, nullptr, nullptr, entries, 2, &valid, &error);
         }
         if (attempt.code == 0) {
           EXPECT_EQ(valid, 0);
         }
         env.plugin.FreeCustomFieldsList(fields, static_cast<uint32_t>(count));
         attempt.message = env.take_message(error);
         // A finished run gives the verdict's message; the check below needs it
         // only from failed runs.
         if (attempt.code == 0) attempt.message = false;
         return attempt;
       }});
  // The exports that talk to Bugzilla, over each web service.
  struct Service {
    const char* list_name;
    const char* details_name;
    const char* attach_name;
    std::string Environment::*gadgets;
    std::string Environment::*widgets;
  };
  for (const Service& service :
       {Service{"GetIssueList", "GetIssueDetails", "AttachToIssues", &Environment::gadgets,
                &Environment::widgets},
        Service{"GetIssueList_REST", "GetIssueDetails_REST", "AttachToIssues_REST",
                &Environment::rest_gadgets, &Environment::rest_widgets}}) {
    std::string Environment::*gadgets = service.gadgets;
    std::string Environment::*widgets = service.widgets;
  rows.push_back({service.list_name, [gadgets](Environment& env, long fail_at) {
                    RequestContext context = env.context(env.*gadgets);
                    IssueRecord** issues = nullptr;
                    int32_t count = 0, flag = 0;
                    char* error = nullptr;
                    Attempt attempt;
                    {
                      Armed armed(fail_at);
                      attempt.code = env.plugin.GetIssueList(&context, "Not Filtered", &issues,
                                                             &count, &flag, &error);
                    }
                    if (attempt.code == 0) {
                      EXPECT_GT(count, 0);
                    }
                    if (issues) env.plugin.FreeIssueList(issues, static_cast<uint32_t>(count));
                    attempt.message = env.take_message(error);
                    return attempt;
                  }});
  rows.push_back({service.details_name, [widgets](Environment& env, long fail_at) {
                    RequestContext context = env.context(env.*widgets);
                    IssueRecord* issue = nullptr;
                    CustomFieldRecord** fields = nullptr;
                    int32_t count = 0;
                    char* error = nullptr;
                    Attempt attempt;
                    {
                      Armed armed(fail_at);
                      attempt.code = env.plugin.GetIssueDetails(&context, "4", &issue, &fields,
                                                                &count, &error);
                    }
                    if (attempt.code == 0) {
                      EXPECT_EQ(count, 9);
                    }
                    env.plugin.FreeIssue(issue);
                    if (fields)
                      env.plugin.FreeCustomFieldsList(fields, static_cast<uint32_t>(count));
                    attempt.message = env.take_message(error);
                    return attempt;
                  }});
  rows.push_back(
      {service.attach_name, [widgets](Environment& env, long fail_at) {
         RequestContext context = env.context(env.*widgets);
         std::string mainline = "main", branch = "dev", repository = "tools",
                     file = "src/frobnicator.c";
         AttachedFile attached{&mainline[0], &branch[0], &repository[0], &file[0], 7};
         AttachedFile* files[] = {&attached};
         std::string id = "1";
         IssueAttachment issue{&id[0], &(env.*widgets)[0], files, 1, nullptr, nullptr, 0};
         IssueAttachment* issues[] = {&issue};
         FailedAttachment** failed = nullptr;
         int32_t failed_count = 0;
         char* error = nullptr;
         Attempt attempt;
         {
           Armed armed(fail_at);
           attempt.code =
               env.plugin.AttachToIssues(&context, issues, 1, &failed, &failed_count, &error);
         }
         // A comment that could not be sent is reported in the list, with its text.
         if (attempt.code == 0 && failed_count > 0) {
           attempt.failed_entries = true;
           attempt.message = failed[0]->message != nullptr;
         }
         if (failed) {
           env.plugin.FreeFailedAttachmentList(failed, static_cast<uint32_t>(failed_count));
         }
         if (error) attempt.message = true;
         env.take_message(error);
         return attempt;
       }});
  }
  return rows;
}

// Runs longer than this many failure points are strided through, to keep the suite quick.
const long kMaxPointsPerExport = 120;

// The number of operator-new allocations of one complete run.
long allocations_of_a_run(Environment& env, const Runner& run) {
  env.fresh_start();
  run(env, -1);  // never fails; counts
  return g_switch.seen;
}

class AllocationFailure : public ::testing::TestWithParam<ExportRow> {
 protected:
  static void SetUpTestSuite() { g_env = new Environment(); }
  static void TearDownTestSuite() {
    delete g_env;
    g_env = nullptr;
    std::printf("[ SUMMARY  ] allocation failure points: %ld in all\n", total_points_);
  }
  static long total_points_;
};

long AllocationFailure::total_points_ = 0;

TEST_P(AllocationFailure, EveryFailureIsReportedWithoutLeaks) {
  const ExportRow& row = GetParam();
  Environment& env = *g_env;
  const long allocations = allocations_of_a_run(env, row.run);
  const long stride = allocations > kMaxPointsPerExport
                          ? (allocations + kMaxPointsPerExport - 1) / kMaxPointsPerExport
                          : 1;
  long points = 0;
  long absorbed = 0;  // nothrow failures the caller did without
  bool completed = false;
  for (long n = 1; !completed; n += stride) {
    env.fresh_start();
    const Attempt attempt = row.run(env, n);
    if (!g_switch.hit) {
      completed = true;
      EXPECT_EQ(attempt.code, 0) << row.name << " did not finish cleanly";
      EXPECT_FALSE(attempt.failed_entries) << row.name;
      break;
    }
    ++points;
    if (g_switch.hit_nothrow && attempt.code == 0 && !attempt.failed_entries) {
      // The caller of a nothrow form did without (std::stable_sort falls back to sorting in
      // place); the run's own checks saw complete results.
      ++absorbed;
      continue;
    }
    const bool allocated_after_failure = g_switch.seen > n;
    // The failure reaches the host: a code (or a refused comment), and a message unless the
    // message itself could not be made.
    EXPECT_TRUE(attempt.code != 0 || attempt.failed_entries)
        << row.name << ": allocation " << n << " failed unnoticed";
    if (attempt.reports_messages && allocated_after_failure) {
      EXPECT_TRUE(attempt.message) << row.name << ": allocation " << n << " failed silently";
    }
#if defined(__SANITIZE_ADDRESS__)
    if (__lsan_do_recoverable_leak_check() != 0) {
      ADD_FAILURE() << row.name << ": leak after allocation " << n << " failed";
      break;
    }
#endif
    if (::testing::Test::HasFailure()) break;  // one broken point says enough
    ASSERT_LT(n, allocations + stride + 1) << row.name << " never completed";
  }
  EXPECT_TRUE(completed);
  total_points_ += points;
  std::printf(
      "[ POINTS   ] %-26s %5ld allocations, %5ld failure points (stride %ld), "
      "%ld absorbed\n",
      row.name, allocations, points, stride, absorbed);
}

std::string row_name(const ::testing::TestParamInfo<ExportRow>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Exports, AllocationFailure, ::testing::ValuesIn(export_rows()), row_name);

// The replaced functions really serve the plug-in: a listing allocates through them, and
// failing its first allocation is noticed.
TEST(AllocationFailureSwitch, ReachesThePlugin) {
  Environment env;
  const std::vector<ExportRow> rows = export_rows();
  for (const ExportRow& row : rows) {
    if (std::string(row.name) != "GetIssueList" && std::string(row.name) != "GetFilterList") {
      continue;
    }
    EXPECT_GT(allocations_of_a_run(env, row.run), 0) << row.name;
    env.fresh_start();
    const Attempt attempt = row.run(env, 1);
    EXPECT_TRUE(g_switch.hit) << row.name;
    EXPECT_NE(attempt.code, 0) << row.name;
  }
}

}  // namespace
