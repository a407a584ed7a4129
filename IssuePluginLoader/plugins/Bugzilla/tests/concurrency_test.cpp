// Eight host threads, each for its own user, calling every export of the plug-in at once,
// loaded with dlopen as the host loads it, against three test servers: one with token logins
// (5.x), one with cookie logins (4.2, whose sessions live in cookie files), one signed in to
// with API keys, one over the REST API. Each user has a session of their own, so a call that ran with another
// thread's credentials shows up here as another user's bug list, a restricted bug seen or
// refused wrongly, a comment credited to the wrong author, or in the servers' records as a
// request whose token, cookie or key is not its own user's. The ThreadSanitizer build runs
// this test to find data races as well.
#include "plugin_loader.h"
#include "cookie_files.h"
#include "test_server.h"

#include <XmlRpc/XmlRpcValue.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using test_support::LoadedPlugin;
using test_support::TempDir;
using test_support::TestServer;
using XmlRpc::XmlRpcValue;

constexpr int kThreads = 8;
// Rounds per thread; every round calls each export once. BUGZILLA_CONCURRENCY_ROUNDS raises
// it for a longer soak run.
constexpr int kDefaultRounds = 8;

// ---------------------------------------------------------------------------------------
// The tracker's data, written for this test so that every thread has a user of its own and
// every user's lists differ from every other user's.

struct User {
  std::string login, password, api_key;
  bool time_tracker;     // may book hours (group timetracking)
  bool sees_restricted;  // in secretgroup
};

// User k: in secretgroup when k is even, a time tracker when k % 4 < 2, so that every mix
// of the two occurs twice. One password is not ASCII.
User make_user(int k) {
  return User{"user" + std::to_string(k) + "@example.com",
              k == 2 ? std::string("Gr\xC3\xBC\xC3\x9F" "e-pass-2") : "pass-" + std::to_string(k),
              "ConcurrencyKey" + std::to_string(k) + std::string(25, 'x'), k % 4 < 2,
              k % 2 == 0};
}

const std::vector<User>& users() {
  static const std::vector<User> all = [] {
    std::vector<User> made;
    for (int k = 0; k < kThreads; ++k) made.push_back(make_user(k));
    return made;
  }();
  return all;
}

// Bugs: 1 public and 2 in the restricted product take the threads' comments; 10+k is user
// k's, reported by user k-1; 20+k is user k's too but only secretgroup sees it. Lists only
// ever show a bug's first comment, so the comments added meanwhile do not change them.
constexpr int kPublicAttachBug = 1;
constexpr int kRestrictedAttachBug = 2;
int own_bug(int k) { return 10 + k; }
int restricted_bug(int k) { return 20 + k; }
int reported_bug(int k) { return own_bug((k + 1) % kThreads); }  // the one user k reported

std::string bug_json(int id, const char* product, const std::string& assignee,
                     const std::string& creator, bool restricted) {
  const std::string number = std::to_string(id);
  return "{\"id\": " + number + ", \"product\": \"" + product +
         "\", \"component\": \"Main\", \"summary\": \"Bug " + number +
         "\", \"status\": \"CONFIRMED\", \"severity\": \"normal\", \"assigned_to\": \"" +
         assignee + "\", \"creator\": \"" + creator +
         "\", \"creation_time\": \"2026-09-01T09:00:00Z\"" +
         (restricted ? ", \"groups\": [\"secretgroup\"]" : "") +
         ", \"comments\": [{\"creator\": \"" + creator + "\", \"text\": \"First words on bug " +
         number + "\"}]}";
}

std::string fixture_json() {
  std::string json = "{\"time_tracking_group\": \"timetracking\", \"users\": [";
  for (int k = 0; k < kThreads; ++k) {
    const User& user = users()[static_cast<size_t>(k)];
    std::string groups = user.sees_restricted ? "\"secretgroup\"" : "";
    if (user.time_tracker) groups += std::string(groups.empty() ? "" : ", ") + "\"timetracking\"";
    json += std::string(k ? ", " : "") + "{\"id\": " + std::to_string(k + 1) + ", \"login\": \"" +
            user.login + "\", \"password\": \"" + user.password + "\", \"groups\": [" + groups +
            "]}";
  }
  json += "], \"api_keys\": [";
  for (int k = 0; k < kThreads; ++k) {
    const User& user = users()[static_cast<size_t>(k)];
    json += std::string(k ? ", " : "") + "{\"key\": \"" + user.api_key + "\", \"login\": \"" +
            user.login + "\", \"revoked\": false}";
  }
  const char* const product_tail =
      "\"components\": [{\"id\": 1, \"name\": \"Main\", \"default_assigned_to\": "
      "\"user0@example.com\"}], \"versions\": [\"unspecified\"], \"milestones\": [\"---\"]}";
  json += std::string("], \"products\": [{\"id\": 1, \"name\": \"Widgets\", ") + product_tail +
          ", {\"id\": 2, \"name\": \"Secret\", \"groups\": [\"secretgroup\"], " + product_tail +
          "], \"bugs\": [";
  const std::string triage = "triage@example.com";  // no user of the threads
  json += bug_json(kPublicAttachBug, "Widgets", triage, triage, false) + ", " +
          bug_json(kRestrictedAttachBug, "Secret", triage, triage, false);
  for (int k = 0; k < kThreads; ++k) {
    const std::string& login = users()[static_cast<size_t>(k)].login;
    const std::string& reporter = users()[static_cast<size_t>((k + kThreads - 1) % kThreads)].login;
    json += ", " + bug_json(own_bug(k), "Widgets", login, reporter, false);
  }
  for (int k = 0; k < kThreads; ++k) {
    const std::string& login = users()[static_cast<size_t>(k)].login;
    json += ", " + bug_json(restricted_bug(k), "Widgets", login, login, true);
  }
  return json + "]}";
}

// The bug numbers each filter must list for user k, in id order.
std::vector<std::string> expected_ids(int k, int filter) {
  const bool secret = users()[static_cast<size_t>(k)].sees_restricted;
  std::vector<int> ids;
  if (filter == 0) ids = {own_bug(k)};
  if (filter == 1) ids = {reported_bug(k)};
  if (filter == 0 || filter == 1) {
    if (secret) ids.push_back(restricted_bug(k));
  } else {
    ids.push_back(kPublicAttachBug);
    for (int u = 0; u < kThreads; ++u) ids.push_back(own_bug(u));
    for (int u = 0; secret && u < kThreads; ++u) ids.push_back(restricted_bug(u));
  }
  std::vector<std::string> texts;
  for (int id : ids) texts.push_back(std::to_string(id));
  return texts;
}

// Token server, cookie server, API-key server, REST server.
const char* const kConnections[] = {"Current", "Legacy", "Keyed", "Rest"};
constexpr int kConnectionCount = 4;
constexpr int kKeyedConnection = 2;
const char* const kFilters[] = {"Assigned To Me", "Created By Me", "Not Filtered"};
constexpr int kFilterCount = 3;

const char kNoHoursPermission[] =
    "You tried to change the Hours Worked field , but only a user with the required "
    "permissions may change that field.";

// What each thread does in a round, derived from its number so that the whole run is fixed.
int connection_of(int thread, int round) { return (thread + round) % kConnectionCount; }
int filter_of(int thread, int round) { return (thread + round / 2) % kFilterCount; }
int detail_bug_of(int thread, int round) {
  return (thread / 2 + round) % 2 ? restricted_bug(thread) : own_bug(thread);
}
const char* hours_of(int thread, int round) { return (thread + round) % 3 == 0 ? "2" : "0"; }
std::string marker_file(int thread, int round) {
  return "conc/t" + std::to_string(thread) + "/r" + std::to_string(round) + ".c";
}

std::string quoted(const char* text) {
  return text ? "\"" + std::string(text) + "\"" : std::string("null");
}

// ---------------------------------------------------------------------------------------
// Host-side records, owned by the caller as a host owns them.

class HostContext {
public:
  HostContext(const User& user, const std::string& connection)
      : login_(user.login),
        password_(connection == kConnections[kKeyedConnection] ? user.api_key : user.password),
        connection_(connection) {}
  RequestContext* get() {
    context_ = RequestContext{&login_[0], &password_[0], &connection_[0]};
    return &context_;
  }

private:
  std::string login_, password_, connection_;
  RequestContext context_{};
};

// The two fix fields as the host passes them back: each entry is its field's first choice.
class FixEntries {
public:
  FixEntries(std::string hours, std::string comment) : entries_{std::move(hours), std::move(comment)} {
    for (int i = 0; i < 2; ++i) {
      choices_[i] = FieldChoice{&entries_[i][0], nullptr, 0};
      choice_lists_[i] = &choices_[i];
      fields_[i] = CustomFieldRecord{nullptr, nullptr, 0, &choice_lists_[i], 1};
      field_list_[i] = &fields_[i];
    }
  }
  FixEntries(const FixEntries&) = delete;
  FixEntries& operator=(const FixEntries&) = delete;
  CustomFieldRecord** fields() { return field_list_; }

private:
  std::string entries_[2];
  FieldChoice choices_[2];
  FieldChoice* choice_lists_[2];
  CustomFieldRecord fields_[2];
  CustomFieldRecord* field_list_[2];
};

// One issue to attach a single file to, with or without fix entries.
class HostAttachment {
public:
  HostAttachment(int bug, const std::string& connection, const std::string& file,
                 const char* hours, const std::string& fix_comment)
      : issue_id_(std::to_string(bug)), connection_(connection), file_(file),
        fix_(hours ? hours : "", fix_comment) {
    attached_ = AttachedFile{&mainline_[0], &branch_[0], &repository_[0], &file_[0], 1};
    files_[0] = &attached_;
    record_ = IssueAttachment{&issue_id_[0], &connection_[0], files_, 1, nullptr,
                              hours ? fix_.fields() : nullptr, hours ? 2 : 0};
  }
  HostAttachment(const HostAttachment&) = delete;
  HostAttachment& operator=(const HostAttachment&) = delete;
  IssueAttachment* get() { return &record_; }

private:
  std::string issue_id_, connection_, file_;
  std::string mainline_ = "Main", branch_ = "conc", repository_ = "widgets";
  FixEntries fix_;
  AttachedFile attached_{};
  AttachedFile* files_[1] = {};
  IssueAttachment record_{};
};

// ---------------------------------------------------------------------------------------
// Each export called as a host calls it, its outcome written out as one comparable text and
// everything it handed out released with the plug-in's own functions.

std::string render_issue(const IssueRecord* issue) {
  if (issue == nullptr) return "no issue";
  std::ostringstream out;
  out << quoted(issue->id) << ' ' << quoted(issue->summary) << ' ' << quoted(issue->severity)
      << ' ' << quoted(issue->status) << ' ' << quoted(issue->description) << ' '
      << issue->flag1 << issue->flag2;
  return out.str();
}

std::string render_fields(CustomFieldRecord* const* fields, int32_t count) {
  if (fields == nullptr) return "no fields";
  std::ostringstream out;
  out << count << " fields";
  for (int32_t i = 0; i < count; ++i) {
    const CustomFieldRecord* field = fields[i];
    if (field == nullptr) {
      out << " [null]";
      continue;
    }
    out << " [" << quoted(field->label) << ' ' << quoted(field->key) << ' ' << field->type;
    for (int32_t c = 0; field->choices != nullptr && c < field->choice_count; ++c) {
      const FieldChoice* choice = field->choices[c];
      if (choice == nullptr) continue;
      out << " (" << quoted(choice->label) << ' ' << quoted(choice->value) << ' '
          << choice->flag << ')';
    }
    out << ']';
  }
  return out.str();
}

struct Listing {
  std::string text;
  std::vector<std::string> ids;
};

class Host {
public:
  explicit Host(const LoadedPlugin& plugin) : plugin_(plugin) {}

  // The six data exports, read as the host's loader reads them.
  std::string descriptor() const {
    return std::to_string(*plugin_.APIVersion) + ' ' + quoted(plugin_.PluginProvider) + ' ' +
           quoted(plugin_.PluginNotes) + ' ' + quoted(plugin_.PluginVersion) + ' ' +
           quoted(plugin_.PluginUUID) + ' ' + quoted(plugin_.PluginAuthors);
  }

  std::string initialize(const std::string& directory) const {
    char* error = nullptr;
    const int32_t code = plugin_.Initialize(directory.c_str(), &error);
    return finish("code " + std::to_string(code), error);
  }

  std::string uninitialize() const { return "code " + std::to_string(plugin_.Uninitialize()); }

  std::string connections() const {
    ConnectionEntry** list = nullptr;
    int32_t count = 0;
    char* error = nullptr;
    const int32_t code = plugin_.GetConnectionList(nullptr, &list, &count, &error);
    std::ostringstream out;
    out << "code " << code << " count " << count;
    for (int32_t i = 0; list != nullptr && i < count; ++i) {
      out << ' ' << quoted(list[i]->name) << list[i]->flag;
    }
    if (list != nullptr) plugin_.FreeConnectionList(list, static_cast<uint32_t>(count));
    return finish(out.str(), error);
  }

  std::string filters() const {
    char** names = nullptr;
    int32_t count = 0;
    char* error = nullptr;
    const int32_t code = plugin_.GetFilterList(nullptr, &names, &count, &error);
    std::ostringstream out;
    out << "code " << code << " count " << count;
    for (int32_t i = 0; names != nullptr && i < count; ++i) out << ' ' << quoted(names[i]);
    if (names != nullptr) plugin_.FreeStringList(names, static_cast<uint32_t>(count));
    return finish(out.str(), error);
  }

  Listing issues(const User& user, const std::string& connection, const char* filter) const {
    HostContext context(user, connection);
    IssueRecord** issues = nullptr;
    int32_t count = 0;
    int32_t flag = 0;
    char* error = nullptr;
    const int32_t code = plugin_.GetIssueList(context.get(), filter, &issues, &count, &flag,
                                              &error);
    Listing listing;
    std::ostringstream out;
    out << "code " << code << " flag " << flag << " count " << count;
    for (int32_t i = 0; issues != nullptr && i < count; ++i) {
      out << "\n  " << render_issue(issues[i]);
      if (issues[i] != nullptr && issues[i]->id != nullptr) listing.ids.push_back(issues[i]->id);
    }
    if (issues != nullptr) plugin_.FreeIssueList(issues, static_cast<uint32_t>(count));
    listing.text = finish(out.str(), error);
    return listing;
  }

  std::string details(const User& user, const std::string& connection, int bug) const {
    HostContext context(user, connection);
    IssueRecord* issue = nullptr;
    CustomFieldRecord** fields = nullptr;
    int32_t count = 0;
    char* error = nullptr;
    const std::string id = std::to_string(bug);
    const int32_t code =
        plugin_.GetIssueDetails(context.get(), id.c_str(), &issue, &fields, &count, &error);
    const std::string text = "code " + std::to_string(code) + "\n  " + render_issue(issue) +
                             "\n  " + render_fields(fields, count);
    if (issue != nullptr) plugin_.FreeIssue(issue);
    if (fields != nullptr) plugin_.FreeCustomFieldsList(fields, static_cast<uint32_t>(count));
    return finish(text, error);
  }

  std::string fix_workflow() const {
    CustomFieldRecord** fields = nullptr;
    int32_t count = 0;
    char* error = nullptr;
    const int32_t code = plugin_.GetFixWorkflow(nullptr, nullptr, nullptr, &fields, &count,
                                                &error);
    const std::string text = "code " + std::to_string(code) + " " + render_fields(fields, count);
    if (fields != nullptr) plugin_.FreeCustomFieldsList(fields, static_cast<uint32_t>(count));
    return finish(text, error);
  }

  std::string validate(const char* hours, const char* comment) const {
    FixEntries entries(hours, comment);
    int32_t valid = -1;
    char* error = nullptr;
    const int32_t code = plugin_.ValidateWorkflow(nullptr, nullptr, nullptr, entries.fields(),
                                                  2, &valid, &error);
    return finish("code " + std::to_string(code) + " valid " + std::to_string(valid), error);
  }

  std::string attach(const User& user, const std::string& connection,
                     std::vector<IssueAttachment*> issues) const {
    HostContext context(user, connection);
    FailedAttachment** failed = nullptr;
    int32_t failed_count = 0;
    char* error = nullptr;
    const int32_t code =
        plugin_.AttachToIssues(context.get(), issues.data(), static_cast<uint32_t>(issues.size()),
                               &failed, &failed_count, &error);
    std::ostringstream out;
    out << "code " << code << " failed " << failed_count;
    for (int32_t i = 0; failed != nullptr && i < failed_count; ++i) {
      out << " [" << quoted(failed[i]->id) << ' ' << quoted(failed[i]->connection) << ' '
          << quoted(failed[i]->message) << ']';
    }
    if (failed != nullptr) {
      plugin_.FreeFailedAttachmentList(failed, static_cast<uint32_t>(failed_count));
    }
    return finish(out.str(), error);
  }

private:
  // Appends the export's message and releases it.
  std::string finish(const std::string& text, char* error) const {
    const std::string result = text + " error " + quoted(error);
    plugin_.FreeString(error);
    return result;
  }

  const LoadedPlugin& plugin_;
};

// What an attach by `user` must answer: the refused comments, in the order they were sent.
std::string expected_attach(const User& user, const std::string& connection,
                            const char* hours) {
  std::vector<std::string> failures;
  if (!user.time_tracker && std::string(hours) != "0") {
    failures.push_back(quoted(std::to_string(kPublicAttachBug).c_str()) + ' ' +
                       quoted(connection.c_str()) + ' ' + quoted(kNoHoursPermission));
  }
  if (!user.sees_restricted) {
    const std::string id = std::to_string(kRestrictedAttachBug);
    failures.push_back(quoted(id.c_str()) + ' ' + quoted(connection.c_str()) + ' ' +
                       quoted(("You are not authorized to access bug #" + id + ".").c_str()));
  }
  std::string text = "code 0 failed " + std::to_string(failures.size());
  for (const std::string& failure : failures) text += " [" + failure + "]";
  return text + " error null";
}

// ---------------------------------------------------------------------------------------
// The expected answers, taken single-threaded before the threads start.

struct Expected {
  std::string descriptor, initialize, connections, filters, fix_workflow, valid, invalid;
  std::map<std::tuple<int, int, int>, std::string> lists;    // user, connection, filter
  std::map<std::tuple<int, int, int>, std::string> details;  // user, connection, bug
};

// What one thread saw, read by the test after the thread is joined.
struct ThreadLog {
  std::map<std::string, long> calls;  // export name -> calls made
  long problem_count = 0;
  std::vector<std::string> problems;  // the first few, in full

  void check(const char* export_name, int round, const std::string& got,
             const std::string& expected) {
    ++calls[export_name];
    if (got == expected) return;
    ++problem_count;
    if (problems.size() < 5) {
      problems.push_back(std::string(export_name) + " in round " + std::to_string(round) +
                         "\n got:      " + got + "\n expected: " + expected);
    }
  }
};

// Holds every thread until all are ready, so that the calls really overlap.
class StartGate {
public:
  explicit StartGate(int parties) : waiting_(parties) {}
  void arrive_and_wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (--waiting_ == 0) {
      open_.notify_all();
      return;
    }
    open_.wait(lock, [this] { return waiting_ == 0; });
  }

private:
  std::mutex mutex_;
  std::condition_variable open_;
  int waiting_;
};

constexpr int kSteps = 9;

void run_thread(int thread, int rounds, const Host& host, const std::string& directory,
                const Expected& expected, StartGate& gate, ThreadLog& log) {
  const User& user = users()[static_cast<size_t>(thread)];
  gate.arrive_and_wait();
  for (int round = 0; round < rounds; ++round) {
    const int connection_index = connection_of(thread, round);
    const std::string connection = kConnections[connection_index];
    // Threads start the round at different exports, so different exports overlap.
    for (int s = 0; s < kSteps; ++s) {
      switch ((s + thread) % kSteps) {
        case 0:
          // A host restarting the plug-in while other threads use it: the session ends and
          // the next call logs in again. Uninitialize answers -1 when no cookie file is left
          // to delete, which depends on what the other threads did just before.
          if (thread == 0) {
            const std::string removed = host.uninitialize();
            log.check("Uninitialize", round, removed == "code -1" ? "code 0" : removed,
                      "code 0");
            log.check("Initialize", round, host.initialize(directory), expected.initialize);
          }
          break;
        case 1:
          log.check("descriptor", round, host.descriptor(), expected.descriptor);
          break;
        case 2:
          log.check("GetConnectionList", round, host.connections(), expected.connections);
          break;
        case 3:
          log.check("GetFilterList", round, host.filters(), expected.filters);
          break;
        case 4: {
          const int filter = filter_of(thread, round);
          log.check("GetIssueList", round,
                    host.issues(user, connection, kFilters[filter]).text,
                    expected.lists.at({thread, connection_index, filter}));
          break;
        }
        case 5: {
          const int bug = detail_bug_of(thread, round);
          log.check("GetIssueDetails", round, host.details(user, connection, bug),
                    expected.details.at({thread, connection_index, bug}));
          break;
        }
        case 6:
          log.check("GetFixWorkflow", round, host.fix_workflow(), expected.fix_workflow);
          break;
        case 7: {
          const bool valid = round % 2 == 0;
          log.check("ValidateWorkflow", round,
                    host.validate(valid ? "3" : "100000", "concurrent check"),
                    valid ? expected.valid : expected.invalid);
          break;
        }
        case 8: {
          const char* hours = hours_of(thread, round);
          const std::string file = marker_file(thread, round);
          HostAttachment public_bug(kPublicAttachBug, connection, file, hours,
                                    "fixed by thread " + std::to_string(thread));
          HostAttachment restricted_bug(kRestrictedAttachBug, connection, file, nullptr, "");
          log.check("AttachToIssues", round,
                    host.attach(user, connection, {public_bug.get(), restricted_bug.get()}),
                    expected_attach(user, connection, hours));
          break;
        }
      }
    }
  }
}

int rounds_per_thread() {
  const char* text = std::getenv("BUGZILLA_CONCURRENCY_ROUNDS");
  const long rounds = text ? std::strtol(text, nullptr, 10) : kDefaultRounds;
  return rounds >= 1 && rounds <= 100000 ? static_cast<int>(rounds) : kDefaultRounds;
}

// The fixture's file, written before the servers that read it start.
std::string write_fixture(const TempDir& directory) {
  directory.write("concurrency.json", fixture_json());
  return directory.file("concurrency.json");
}

class ConcurrencyTest : public ::testing::Test {
protected:
  void SetUp() override {
    test_support::ConnectionSpec keyed = test_support::connection_for(keyed_, kConnections[2]);
    keyed.extra = "<authentication>api_key</authentication>";
    test_support::ConnectionSpec rest = test_support::connection_for(rest_, kConnections[3]);
    rest.uri = rest_.restUri();
    rest.extra = "<web_service>rest</web_service>";
    data_.write("BugzillaConnections.txt",
                test_support::connections_file(
                    {test_support::connection_for(current_, kConnections[0]),
                     test_support::connection_for(legacy_, kConnections[1]), keyed, rest}));
    ASSERT_EQ(host_.initialize(data_.path()), "code 0 error null");
  }

  TestServer& server_of(int connection) {
    TestServer* servers[] = {&current_, &legacy_, &keyed_, &rest_};
    return *servers[connection];
  }

  // The answers single-threaded: each user's lists exactly the bugs the fixture gives that
  // user, restricted bugs shown or refused by the user's groups.
  void take_expected_answers() {
    expected_.descriptor = host_.descriptor();
    EXPECT_EQ(expected_.descriptor.rfind("1 \"Bugzilla\" ", 0), 0u) << expected_.descriptor;
    expected_.initialize = "code 0 error null";
    expected_.connections = host_.connections();
    EXPECT_EQ(expected_.connections,
              "code 0 count 4 \"Current\"1 \"Legacy\"1 \"Keyed\"1 \"Rest\"1 error null");
    expected_.filters = host_.filters();
    EXPECT_EQ(expected_.filters,
              "code 0 count 3 \"Assigned To Me\" \"Created By Me\" \"Not Filtered\" error null");
    expected_.fix_workflow = host_.fix_workflow();
    EXPECT_EQ(expected_.fix_workflow,
              "code 0 2 fields [\"Hours Worked\" \"work_time\" 2] [\"Comment\" \"comment\" 3]"
              " error null");
    expected_.valid = host_.validate("3", "concurrent check");
    EXPECT_EQ(expected_.valid, "code 0 valid 1 error null");
    expected_.invalid = host_.validate("100000", "concurrent check");
    EXPECT_EQ(expected_.invalid, "code 0 valid 0 error \"Too Many Hours Worked\"");

    for (int u = 0; u < kThreads; ++u) {
      const User& user = users()[static_cast<size_t>(u)];
      for (int c = 0; c < kConnectionCount; ++c) {
        const std::string where = user.login + " on " + kConnections[c];
        for (int f = 0; f < kFilterCount; ++f) {
          const Listing answer = host_.issues(user, kConnections[c], kFilters[f]);
          ASSERT_EQ(answer.text.rfind("code 0 ", 0), 0u) << where << ": " << answer.text;
          EXPECT_EQ(answer.ids, expected_ids(u, f)) << where << ", " << kFilters[f];
          expected_.lists[{u, c, f}] = answer.text;
        }
        for (int bug : {own_bug(u), restricted_bug(u)}) {
          const std::string details = host_.details(user, kConnections[c], bug);
          const std::string id = std::to_string(bug);
          if (bug == own_bug(u) || user.sees_restricted) {
            EXPECT_EQ(details.rfind("code 0\n  \"" + id + "\" \"Bug " + id + "\"", 0), 0u)
                << where << ": " << details;
          } else {
            EXPECT_EQ(details, "code 102\n  no issue\n  no fields error \"You are not "
                               "authorized to access bug #" + id + ".\"")
                << where;
          }
          expected_.details[{u, c, bug}] = details;
        }
      }
    }
  }

  // Every comment the threads added, found by its file name in each server's record of the
  // bug: one per accepted comment, none for refused ones, each credited by the server to the
  // thread's own user with its hours.
  void check_added_comments(int rounds) {
    for (int c = 0; c < kConnectionCount; ++c) {
      for (int bug : {kPublicAttachBug, kRestrictedAttachBug}) {
        // (thread, round) -> "creator hours" of each comment carrying that marker
        std::map<std::pair<int, int>, std::vector<std::string>> found;
        XmlRpcValue record = server_of(c).bug(bug);
        XmlRpcValue& comments = record["comments"];
        for (int i = 0; i < comments.size(); ++i) {
          XmlRpcValue& comment = comments[i];
          const std::string text = comment["text"].toText();
          const size_t at = text.find("File: conc/t");
          if (at == std::string::npos) continue;
          int thread = -1, round = -1;
          ASSERT_EQ(std::sscanf(text.c_str() + at, "File: conc/t%d/r%d.c", &thread, &round), 2)
              << text;
          std::ostringstream entry;
          entry << comment["creator"].toText() << ' ' << comment["work_time"].asDouble();
          found[{thread, round}].push_back(entry.str());
        }
        for (int thread = 0; thread < kThreads; ++thread) {
          const User& user = users()[static_cast<size_t>(thread)];
          for (int round = 0; round < rounds; ++round) {
            std::vector<std::string> wanted;
            const bool here = connection_of(thread, round) == c;
            const std::string hours = hours_of(thread, round);
            if (here && bug == kPublicAttachBug && (user.time_tracker || hours == "0")) {
              wanted.push_back(user.login + ' ' + hours);
            }
            if (here && bug == kRestrictedAttachBug && user.sees_restricted) {
              wanted.push_back(user.login + " 0");
            }
            EXPECT_EQ(found[std::make_pair(thread, round)], wanted)
                << "bug " << bug << " on " << kConnections[c] << ", thread " << thread
                << " round " << round;
            found.erase(std::make_pair(thread, round));
          }
        }
        for (const auto& stray : found) {
          ADD_FAILURE() << "unexpected comment of thread " << stray.first.first << " round "
                        << stray.first.second << " on bug " << bug;
        }
      }
    }
  }

  // The user (thread number) whose credentials a recorded request carries: its token
  // ("<user id>-..."), login cookie ("Bugzilla_login=<user id>") or API key; every one found
  // goes into `holders`.
  static void credential_holders(XmlRpcValue& request, XmlRpcValue& params,
                                 std::set<int>& holders) {
    if (const XmlRpcValue* token = params.find("token")) {
      holders.insert(std::atoi(token->toText().c_str()) - 1);
    }
    if (const XmlRpcValue* key = params.find("api_key")) {
      for (int k = 0; k < kThreads; ++k) {
        if (users()[static_cast<size_t>(k)].api_key == key->toText()) holders.insert(k);
      }
    }
    const std::string cookie = request["cookie"].toText();
    const size_t at = cookie.find("Bugzilla_login=");
    if (at != std::string::npos) holders.insert(std::atoi(cookie.c_str() + at + 15) - 1);
  }

  // The user a request is about, where it names one: a search for their bugs, one of their
  // bugs, a comment carrying their thread's file, their login. -1 otherwise.
  static int named_user(const std::string& method, XmlRpcValue& params) {
    auto user_of_login = [](const std::string& login) {
      for (int k = 0; k < kThreads; ++k) {
        if (users()[static_cast<size_t>(k)].login == login) return k;
      }
      return -1;
    };
    if (method == "User.login") return user_of_login(params["login"].toText());
    if (method == "Bug.search") {
      for (const char* member : {"assigned_to", "reporter"}) {
        if (const XmlRpcValue* login = params.find(member)) return user_of_login(login->toText());
      }
    }
    if ((method == "Bug.get" || method == "Bug.get_bugs") && params.hasMember("ids")) {
      const int bug = std::atoi(params["ids"][0].toText().c_str());
      return bug >= restricted_bug(0) ? bug - restricted_bug(0) : bug - own_bug(0);
    }
    if (method == "Bug.add_comment") {
      int thread = -1;
      const std::string text = params["comment"].toText();
      const size_t at = text.find("File: conc/t");
      if (at != std::string::npos) std::sscanf(text.c_str() + at, "File: conc/t%d/", &thread);
      return thread;
    }
    return -1;
  }

  // The servers' own records: no request carries two users' credentials, and one that names
  // its user carries that user's (after the sign-in, every such request carries some).
  void check_credentials_in_records() {
    for (int c = 0; c < kConnectionCount; ++c) {
      XmlRpcValue requests = server_of(c).requests();
      int checked = 0;
      for (int i = 0; i < requests.size(); ++i) {
        XmlRpcValue& request = requests[i];
        const std::string method = request["method"].toText();
        // XML-RPC records the parameter array, REST the query and body as one struct.
        XmlRpcValue& all = request["params"];
        XmlRpcValue params = all.getType() == XmlRpcValue::TypeStruct ? all
                             : all.size() > 0                        ? all[0]
                                                                     : XmlRpcValue();
        if (params.getType() != XmlRpcValue::TypeStruct) params = XmlRpcValue();
        std::set<int> holders;
        credential_holders(request, params, holders);
        EXPECT_LE(holders.size(), 1u) << kConnections[c] << " request " << i << ": " << method;
        const int named = named_user(method, params);
        if (named < 0 || method == "User.login") continue;
        ++checked;
        EXPECT_EQ(holders, std::set<int>{named})
            << kConnections[c] << " request " << i << ": " << method << " about user "
            << named;
      }
      EXPECT_GT(checked, 0) << kConnections[c];
    }
  }

  TempDir fixture_dir_;
  const std::string fixture_ = write_fixture(fixture_dir_);
  TestServer current_{TestServer::Options{fixture_, "token", "5.0.6", ""}};
  TestServer legacy_{TestServer::Options{fixture_, "cookie", "4.2.1", ""}};
  TestServer keyed_{TestServer::Options{fixture_, "token", "5.0.6", ""}};
  TestServer rest_{TestServer::Options{fixture_, "token", "5.0.6", "upstream"}};
  TempDir data_;
  LoadedPlugin plugin_{BUGZILLA_PLUGIN_PATH};
  Host host_{plugin_};
  Expected expected_;
};

TEST_F(ConcurrencyTest, EightThreadsCallingEveryExportKeepEachUsersSession) {
  ASSERT_NO_FATAL_FAILURE(take_expected_answers());
  for (int c = 0; c < kConnectionCount; ++c) server_of(c).clearRequests();
  const int rounds = rounds_per_thread();

  std::vector<ThreadLog> logs(kThreads);
  StartGate gate(kThreads);
  const auto start = std::chrono::steady_clock::now();
  {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back(run_thread, t, rounds, std::cref(host_), std::cref(data_.path()),
                           std::cref(expected_), std::ref(gate), std::ref(logs[t]));
    }
    for (std::thread& thread : threads) thread.join();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  std::map<std::string, long> calls;
  long total = 0;
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(logs[t].problem_count, 0) << "thread " << t << " as " << users()[t].login;
    for (const std::string& problem : logs[t].problems) ADD_FAILURE() << problem;
    for (const auto& entry : logs[t].calls) {
      calls[entry.first] += entry.second;
      total += entry.second;
    }
  }
  // Every export ran in every thread's rounds, the lifecycle in one thread only.
  EXPECT_EQ(calls.size(), 10u);
  for (const auto& entry : calls) {
    const bool lifecycle = entry.first == "Initialize" || entry.first == "Uninitialize";
    EXPECT_EQ(entry.second, lifecycle ? rounds : kThreads * rounds) << entry.first;
  }

  check_added_comments(rounds);
  check_credentials_in_records();

  // The end of the plug-in's life: the sessions' cookie files go.
  plugin_.Uninitialize();
  EXPECT_EQ(test_support::session_cookie_files(data_), 0);

  // Each call but the descriptor's also releases what it got with the Free* exports.
  std::cout << "[ figures  ] " << kThreads << " threads x " << rounds << " rounds:";
  for (const auto& entry : calls) std::cout << ' ' << entry.first << ' ' << entry.second;
  std::cout << "; " << total << " checked calls in " << seconds << " s" << std::endl;
}

}  // namespace
