// Wire faults and odd replies on every call the plug-in makes, through the loaded plug-in:
// each row names an injection and the export it hits, and states the code and message the
// host must get. Under the sanitizers the leak check at exit covers each row (ctest runs
// every row in a process of its own).
#include <XmlRpc/XmlRpcValue.h>
#include <gtest/gtest.h>

#include <cctype>
#include <ctime>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "plugin_loader.h"
#include "test_server.h"

namespace {

using test_support::LoadedPlugin;
using test_support::TestServer;
using test_support::refused_port;
using XmlRpc::XmlRpcValue;

const char kLogin[] = "alice@example.com";
const char kPassword[] = "alice-pass-1";
const char kDetailsBug[] = "4";  // closed as a duplicate: every member of the bug is read
const char kAttachBug[] = "1";
// Short enough that a stalled reply costs a second, long enough for a loaded machine.
const int kTimeoutSeconds = 1;
const int kLimitMb = 64;           // the lowered size limit of the usual connections
const int kHugeMb = 300;           // a reply well past that limit
const int kDefaultLimitMb = 1024;  // the client's own limit when the file sets none

enum class Export { List, Details, Attach };

const char* export_name(Export e) {
  switch (e) {
    case Export::List:
      return "GetIssueList";
    case Export::Details:
      return "GetIssueDetails";
    case Export::Attach:
      return "AttachToIssues";
  }
  return "?";
}

// The Bugzilla methods each export calls, in order (a fresh session logs in first).
std::vector<std::string> methods_of(Export e) {
  switch (e) {
    case Export::List:
      return {"User.login", "Bug.search", "Bug.comments"};
    case Export::Details:
      return {"User.login", "Bugzilla.version", "Bug.get", "Bug.comments", "Bug.fields"};
    case Export::Attach:
      return {"User.login", "Bug.add_comment"};
  }
  return {};
}

// The operation named in messages about a call; a login carries the caption of the call
// it was made for.
std::string caption_of(Export e, const std::string& method) {
  if (e == Export::List) return method == "Bug.comments" ? "Get Comments" : "Bug Search";
  if (e == Export::Attach) return "Add Comment";
  if (method == "Bug.get") return "Get Bugs";
  if (method == "Bug.comments") return "Get Comments";
  if (method == "Bug.fields") return "Bug Fields";
  return "Bugzilla Version";
}

// What the host sees. For AttachToIssues a refused comment is no failure of the export:
// `message` is then the failed entry's message and `failed` counts the entries.
struct Outcome {
  int32_t code = 0;
  bool has_message = false;
  std::string message;
  int32_t failed = 0;
  bool issue_handed_out = false;  // GetIssueDetails gave a record
};

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
  return out << "code " << o.code << ", message "
             << (o.has_message ? "\"" + o.message + "\"" : std::string("null")) << ", failed "
             << o.failed;
}

bool operator==(const Outcome& a, const Outcome& b) {
  return a.code == b.code && a.has_message == b.has_message && a.message == b.message &&
         a.failed == b.failed;
}

Outcome success() { return Outcome{}; }

Outcome failure(int32_t code, std::string message) {
  return Outcome{code, true, std::move(message), 0};
}

// A comment the server refused: the export succeeds and lists the comment.
Outcome refused_comment(std::string message) { return Outcome{0, true, std::move(message), 1}; }

// A failed call as each export reports it.
Outcome call_failure(Export e, int described_code, const std::string& message) {
  switch (e) {
    case Export::List:
      return failure(1, message);
    case Export::Details:
      return failure(described_code == 0 ? 1 : described_code, message);
    case Export::Attach:
      return refused_comment(message);
  }
  return Outcome{};
}

// Fault 410, "log in first", on a call, and what the export then reports: a session the
// export's first call made and a later call reuses is renewed once on 410 and the call
// repeated, which the injection lets through.
XmlRpcValue login_required_fault() {
  XmlRpcValue fault;
  fault["code"] = 410;
  fault["string"] = "You must log in before using this part of Bugzilla.";
  return fault;
}

Outcome after_login_required(Export e, const std::string& method) {
  const bool reused = method != "User.login" && method != methods_of(e)[1];
  return reused ? success()
                : call_failure(e, 410, login_required_fault()["string"].toText());
}

Outcome receive_failure(Export e, const std::string& method) {
  return call_failure(e, 204,
                      caption_of(e, method) + " failed to receive response from Bugzilla server");
}

Outcome not_understood(Export e, const std::string& method) {
  return failure(1, caption_of(e, method) +
                        " failed: the Bugzilla server's reply was not understood. Check that "
                        "the connection points at a Bugzilla XML-RPC service.");
}

// AttachToIssues has no caption of its own for an unreadable reply: the export reports it.
const char kAttachUnexpectedValue[] = "AttachToIssues failed: unexpected XML-RPC value: ";
const char kNotABugNumber[] = "' is not a valid bug number nor an alias to a bug.";

// ---------------------------------------------------------------------------------------
// Values of every XML-RPC kind, for the injections and for hand-made reply bodies.

struct Kind {
  const char* name;
  XmlRpcValue value;
  const char* xml;  // the same value as a <value> element
};

XmlRpcValue a_date_time() {
  std::tm when{};
  when.tm_year = 2026;  // the value type keeps the full year and the month from 1
  when.tm_mon = 9;
  when.tm_mday = 1;
  return XmlRpcValue(when);
}

const std::vector<Kind>& all_kinds() {
  static const std::vector<Kind> kinds = [] {
    XmlRpcValue array;
    array[0] = 1;
    XmlRpcValue a_struct;
    a_struct["a"] = 1;
    const char bytes[] = "\x01\x02";
    return std::vector<Kind>{
        {"boolean", XmlRpcValue(true), "<value><boolean>1</boolean></value>"},
        {"int", XmlRpcValue(7), "<value><int>7</int></value>"},
        {"double", XmlRpcValue(1.5), "<value><double>1.5</double></value>"},
        {"string", XmlRpcValue("text"), "<value><string>text</string></value>"},
        {"datetime", a_date_time(),
         "<value><dateTime.iso8601>20260901T00:00:00</dateTime.iso8601></value>"},
        {"base64", XmlRpcValue(bytes, 2), "<value><base64>AQI=</base64></value>"},
        {"array", array, "<value><array><data><value><int>1</int></value></data></array></value>"},
        {"struct", a_struct,
         "<value><struct><member><name>a</name><value><int>1</int></value></member></struct>"
         "</value>"},
    };
  }();
  return kinds;
}

// What a read of a member accepts.
enum Accepts : unsigned {
  kText = 1u << 1 | 1u << 3,  // int or string, read as text
  kString = 1u << 3,
  kBoolean = 1u << 0,
  kDateTime = 1u << 4,
  kArray = 1u << 6,
  kStruct = 1u << 7,
  kTextOrArray = kText | kArray,  // newer servers show an array (a 5.x alias list) as no value
};

bool accepts(unsigned accepted, size_t kind_index) { return (accepted >> kind_index) & 1u; }

// ---------------------------------------------------------------------------------------
// The test rows.

struct Row {
  std::string name;  // the test's name
  Export target;
  std::string method;  // the Bugzilla method the injection is for, "" for none
  std::string kind;    // the injection kind
  XmlRpcValue args;
  Outcome expected;
  bool chunked = false;  // replies without Content-Length, so that big ones really stream
  const char* connection = nullptr;    // null: the export's usual connection
  bool attach_message_prefix = false;  // only the start of the message is fixed
  bool message_suffix = false;         // only the end of the message is fixed
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

std::string test_name(const std::string& text) {
  std::string name;
  for (char c : text) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

std::string short_method(const std::string& method) {
  std::string name;
  for (char c : method) {
    if (c != '.' && c != '_') name += c;
  }
  return name;
}

XmlRpcValue member_args(const std::string& member, const XmlRpcValue& value) {
  XmlRpcValue args;
  args["member"] = member;
  args["value"] = value;
  return args;
}

// Transport faults on every call of every export.
std::vector<Row> wire_fault_rows() {
  std::vector<Row> rows;
  std::set<std::string> stalled_methods;
  for (Export e : {Export::List, Export::Details, Export::Attach}) {
    for (const std::string& method : methods_of(e)) {
      auto add = [&](const std::string& label, const std::string& kind, XmlRpcValue args,
                     Outcome expected, bool chunked = false) {
        Row row;
        row.name =
            test_name(std::string(export_name(e)) + "_" + short_method(method) + "_" + label);
        row.target = e;
        row.method = method;
        row.kind = kind;
        row.args = std::move(args);
        row.expected = std::move(expected);
        row.chunked = chunked;
        rows.push_back(std::move(row));
      };
      const Outcome lost = receive_failure(e, method);
      add("close", "close", XmlRpcValue(), lost);
      add("reset_mid_reply", "reset", XmlRpcValue(), lost);
      // A stall costs the whole timeout: once per method is enough.
      if (stalled_methods.insert(method).second) {
        XmlRpcValue stall;
        stall["seconds"] = kTimeoutSeconds + 3;
        add("stall", "stall", stall, lost);
      }
      add("http500", "http500", XmlRpcValue(), lost);
      add("not_xml", "not_xml", XmlRpcValue(), lost);
      add("truncated", "truncated", XmlRpcValue(), lost);
      XmlRpcValue cut;
      cut["declare_full"] = true;
      add("truncated_declared", "truncated", cut, lost);
      XmlRpcValue huge;
      huge["megabytes"] = kHugeMb;
      add("huge_announced", "huge", huge, lost);
      // Without a length the reply streams up to the limit; once per export is enough.
      if (method == "User.login") add("huge_streamed", "huge", huge, lost, true);
      XmlRpcValue other_document;
      other_document["body"] = "<?xml version=\"1.0\"?><html><body>Bugzilla</body></html>";
      add("other_xml", "raw", other_document, lost);

      add("fault_410", "fault", login_required_fault(), after_login_required(e, method));
      XmlRpcValue client_fault;
      client_fault["code"] = "Client";
      client_fault["string"] = "Bad request.";
      add("fault_Client", "fault", client_fault, call_failure(e, 1, "Bad request."));

      // Both members of a fault, each of every kind: an int or a text is read, the others
      // are replies the plug-in cannot read. One reading serves every call, so the login
      // (which stops the export early) and the export's last call stand for them all.
      if (method != "User.login" && method != methods_of(e).back()) continue;
      const auto& kinds = all_kinds();
      for (size_t k = 0; k < kinds.size(); ++k) {
        for (const bool code_member : {true, false}) {
          const std::string code_xml = code_member ? kinds[k].xml : "<value><int>300</int></value>";
          const std::string text_xml =
              code_member ? "<value><string>Refused.</string></value>" : kinds[k].xml;
          XmlRpcValue raw;
          raw["body"] =
              "<?xml version=\"1.0\"?><methodResponse><fault><value><struct><member><name>"
              "faultCode</name>" +
              code_xml + "</member><member><name>faultString</name>" + text_xml +
              "</member></struct></value></fault></methodResponse>";
          Outcome expected;
          if (accepts(kText, k)) {
            const std::string text = code_member ? "Refused." : kinds[k].value.toText();
            // The int 7 is the code 7; the text "text" starts with no number: 0.
            const bool int_code = kinds[k].value.getType() == XmlRpcValue::TypeInt;
            const int code = !code_member ? 300 : int_code ? 7 : 0;
            expected = call_failure(e, code, text);
          } else if (e == Export::Attach) {
            expected = failure(1, kAttachUnexpectedValue);
          } else {
            expected = not_understood(e, method);
          }
          add(std::string(code_member ? "faultCode_" : "faultString_") + kinds[k].name, "raw", raw,
              expected);
          if (e == Export::Attach && !accepts(kText, k)) rows.back().attach_message_prefix = true;
        }
      }
    }
  }
  return rows;
}

// A member the plug-in reads from a reply, and what it accepts there.
struct ReadMember {
  Export target;
  const char* method;
  const char* path;  // dotted path of the test server's wrong_kind ("" the whole reply)
  unsigned accepted;
};

const ReadMember kReadMembers[] = {
    {Export::List, "User.login", "token", kText},
    {Export::List, "Bug.search", "", kStruct},
    {Export::List, "Bug.search", "bugs", kArray},
    {Export::List, "Bug.search", "bugs.*", kStruct},
    {Export::List, "Bug.search", "bugs.*.id", kText},
    {Export::List, "Bug.search", "bugs.*.summary", kText},
    {Export::List, "Bug.search", "bugs.*.severity", kText},
    {Export::List, "Bug.search", "bugs.*.status", kText},
    {Export::List, "Bug.comments", "", kStruct},
    {Export::List, "Bug.comments", "bugs", kStruct},
    {Export::List, "Bug.comments", "bugs.*", kStruct},
    {Export::List, "Bug.comments", "bugs.*.comments", kArray},
    {Export::List, "Bug.comments", "bugs.*.comments.0", kStruct},
    {Export::List, "Bug.comments", "bugs.*.comments.0.text", kText},
    {Export::Details, "User.login", "token", kText},
    {Export::Details, "Bugzilla.version", "", kStruct},
    {Export::Details, "Bugzilla.version", "version", kString},
    {Export::Details, "Bug.get", "", kStruct},
    {Export::Details, "Bug.get", "bugs", kArray},
    {Export::Details, "Bug.get", "bugs.0", kStruct},
    {Export::Details, "Bug.get", "bugs.0.id", kText},
    {Export::Details, "Bug.get", "bugs.0.summary", kText},
    {Export::Details, "Bug.get", "bugs.0.status", kText},
    {Export::Details, "Bug.get", "bugs.0.severity", kText},
    {Export::Details, "Bug.get", "bugs.0.is_open", kBoolean},
    {Export::Details, "Bug.get", "bugs.0.resolution", kText},
    {Export::Details, "Bug.get", "bugs.0.dupe_of", kText},
    {Export::Details, "Bug.get", "bugs.0.product", kTextOrArray},
    {Export::Details, "Bug.get", "bugs.0.component", kTextOrArray},
    {Export::Details, "Bug.get", "bugs.0.priority", kTextOrArray},
    {Export::Details, "Bug.get", "bugs.0.alias", kTextOrArray},
    {Export::Details, "Bug.get", "bugs.0.assigned_to", kTextOrArray},
    {Export::Details, "Bug.get", "bugs.0.last_change_time", kDateTime},
    {Export::Details, "Bug.get", "bugs.0.creation_time", kDateTime},
    {Export::Details, "Bug.comments", "", kStruct},
    {Export::Details, "Bug.comments", "bugs", kStruct},
    {Export::Details, "Bug.comments", "bugs.4", kStruct},
    {Export::Details, "Bug.comments", "bugs.4.comments", kArray},
    {Export::Details, "Bug.comments", "bugs.4.comments.0", kStruct},
    {Export::Details, "Bug.comments", "bugs.4.comments.0.text", kText},
    {Export::Details, "Bug.fields", "", kStruct},
    {Export::Details, "Bug.fields", "fields", kArray},
    {Export::Details, "Bug.fields", "fields.*", kStruct},
    {Export::Details, "Bug.fields", "fields.*.display_name", kText},
    {Export::Attach, "User.login", "token", kText},
};

// Every read member replaced by a value of every kind it does not accept.
std::vector<Row> wrong_kind_rows() {
  std::vector<Row> rows;
  const auto& kinds = all_kinds();
  for (const ReadMember& member : kReadMembers) {
    for (size_t k = 0; k < kinds.size(); ++k) {
      if (accepts(member.accepted, k)) continue;
      Row row;
      const std::string path = *member.path ? member.path : "reply";
      row.name = test_name(std::string(export_name(member.target)) + "_" +
                           short_method(member.method) + "_" + path + "_" + kinds[k].name);
      row.target = member.target;
      row.method = member.method;
      row.kind = "wrong_kind";
      row.args = member_args(member.path, kinds[k].value);
      if (member.target == Export::Attach) {
        row.expected = failure(1, kAttachUnexpectedValue);
        row.attach_message_prefix = true;
      } else if (std::string(member.path) == "bugs.0.id") {
        // The ids go out to Bug.comments as they came, before the bug is read: the server
        // refuses the odd one, and its fault is what the host gets.
        row.expected = failure(100, kNotABugNumber);
        row.message_suffix = true;
      } else {
        row.expected = not_understood(member.target, member.method);
      }
      rows.push_back(std::move(row));
    }
  }
  return rows;
}

// Nothing is read from the reply of a comment the server took.
std::vector<Row> unread_reply_rows() {
  std::vector<Row> rows;
  for (const Kind& kind : all_kinds()) {
    Row row;
    row.name = std::string("AttachToIssues_BugaddComment_reply_") + kind.name;
    row.target = Export::Attach;
    row.method = "Bug.add_comment";
    row.kind = "wrong_kind";
    row.args = member_args("", kind.value);
    row.expected = success();
    rows.push_back(std::move(row));
  }
  return rows;
}

// Transport failures that do not come from one method.
std::vector<Row> connection_rows() {
  std::vector<Row> rows;
  for (Export e : {Export::List, Export::Details, Export::Attach}) {
    Row refused;
    refused.name = std::string(export_name(e)) + "_connection_refused";
    refused.target = e;
    refused.connection = "Refused";
    refused.expected =
        call_failure(e, 202, caption_of(e, "User.login") + " failed to connect to Bugzilla server");
    rows.push_back(refused);

    // Past the client's own limit, with nothing lowered, refused from its announced length.
    // (Streaming a gigabyte from the test server takes about 15 s, too long for a test.)
    Row over_default;
    over_default.name = std::string(export_name(e)) + "_past_default_size_limit";
    over_default.target = e;
    over_default.connection = "Unlimited";
    over_default.method = "User.login";
    over_default.kind = "huge";
    over_default.args["megabytes"] = kDefaultLimitMb + 8;
    over_default.expected = receive_failure(e, "User.login");
    rows.push_back(over_default);
  }
  return rows;
}

// The same over the REST API: a cut or lost reply reads as over XML-RPC; one that arrived
// whole but was no REST reply adds its HTTP status (and a redirect its target, never followed).
const char* rest_connection(Export e) { return e == Export::List ? "RestGadgets" : "RestWidgets"; }

Outcome rest_refusal(Export e, const std::string& method, const std::string& status) {
  return call_failure(e, 204,
                      caption_of(e, method) +
                          " failed to receive response from Bugzilla server (HTTP " + status +
                          "). Check the connection's server_url and web_service_extension, "
                          "and the web server's log.");
}

std::vector<Row> rest_rows() {
  std::vector<Row> rows;
  for (Export e : {Export::List, Export::Details, Export::Attach}) {
    for (const std::string& method : methods_of(e)) {
      auto add = [&](const std::string& label, const std::string& kind, XmlRpcValue args,
                     Outcome expected) {
        Row row;
        row.name = test_name(std::string("Rest_") + export_name(e) + "_" + short_method(method) +
                             "_" + label);
        row.target = e;
        row.method = method;
        row.kind = kind;
        row.args = std::move(args);
        row.expected = std::move(expected);
        row.connection = rest_connection(e);
        rows.push_back(std::move(row));
      };
      add("close", "close", XmlRpcValue(), receive_failure(e, method));
      XmlRpcValue huge;
      huge["megabytes"] = kHugeMb;
      add("huge_announced", "huge", huge, receive_failure(e, method));
      add("http500", "http500", XmlRpcValue(), rest_refusal(e, method, "500: not a REST reply"));
      add("not_json", "not_xml", XmlRpcValue(), rest_refusal(e, method, "200: not a REST reply"));
      XmlRpcValue elsewhere;
      elsewhere["location"] = "https://elsewhere.example/bugzilla/?token=1-secret";
      add("redirect", "redirect", elsewhere,
          rest_refusal(e, method,
                       "302: a redirect to https://elsewhere.example/bugzilla/, which is not "
                       "followed"));
      add("fault_410", "fault", login_required_fault(), after_login_required(e, method));
    }
  }
  // JSON of the wrong kind where the plug-in reads: as unreadable as over XML-RPC.
  for (const ReadMember& member : {ReadMember{Export::List, "Bug.search", "bugs.*.id", kText},
                                   ReadMember{Export::Details, "Bug.get", "bugs.0.is_open",
                                              kBoolean}}) {
    Row row;
    row.name = test_name(std::string("Rest_") + export_name(member.target) + "_" +
                         short_method(member.method) + "_" + member.path + "_struct");
    row.target = member.target;
    row.method = member.method;
    row.kind = "wrong_kind";
    row.args = member_args(member.path, all_kinds().back().value);
    row.expected = not_understood(member.target, member.method);
    row.connection = rest_connection(member.target);
    rows.push_back(std::move(row));
  }
  return rows;
}

// ---------------------------------------------------------------------------------------

class FaultInjection : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = new TestServer();
    dir_ = new test_support::TempDir();
    plugin_ = new LoadedPlugin(BUGZILLA_PLUGIN_PATH);
    const std::string limits =
        "<timeout_seconds>" + std::to_string(kTimeoutSeconds) + "</timeout_seconds>";
    auto usual = [&](const char* name, const char* product) {
      test_support::ConnectionSpec spec = test_support::connection_for(*server_, name, product);
      spec.extra = limits + "<max_response_mb>" + std::to_string(kLimitMb) + "</max_response_mb>";
      return spec;
    };
    test_support::ConnectionSpec unlimited = usual("Unlimited", "Gadgets");
    unlimited.extra = limits;
    test_support::ConnectionSpec refused = usual("Refused", "Gadgets");
    refused.port = refused_port();
    auto rest = [&](const char* name, const char* product) {
      test_support::ConnectionSpec spec = usual(name, product);
      spec.uri = server_->restUri();
      spec.extra += "<web_service>rest</web_service>";
      return spec;
    };
    dir_->write("BugzillaConnections.txt",
                test_support::connections_file({usual("Gadgets", "Gadgets"),
                                                usual("Widgets", "Widgets"), unlimited, refused,
                                                rest("RestGadgets", "Gadgets"),
                                                rest("RestWidgets", "Widgets")}));
  }
  static void TearDownTestSuite() {
    delete plugin_;
    delete dir_;
    delete server_;
  }

  void SetUp() override {
    server_->reset();
    // One login serves the calls after it, and a "close" is not hidden by a resent request.
    server_->configure("login_style", "both");
    server_->configure("close_connections", true);
    plugin_->Uninitialize();  // no session: every export starts with a login
    char* error = nullptr;
    ASSERT_EQ(plugin_->Initialize(dir_->path().c_str(), &error), 0);
    plugin_->FreeString(error);
  }

  Outcome run(Export e, const char* connection_name) {
    std::string login = kLogin, password = kPassword, connection = connection_name;
    RequestContext context{&login[0], &password[0], &connection[0]};
    Outcome out;
    char* error = nullptr;
    switch (e) {
      case Export::List: {
        IssueRecord** issues = nullptr;
        int32_t count = 0, flag = 0;
        out.code = plugin_->GetIssueList(&context, "Not Filtered", &issues, &count, &flag, &error);
        if (out.code == 0 && error == nullptr) {
          EXPECT_GT(count, 0);
          EXPECT_NE(issues, nullptr);
        }
        if (issues) plugin_->FreeIssueList(issues, static_cast<uint32_t>(count));
        break;
      }
      case Export::Details: {
        IssueRecord* issue = nullptr;
        CustomFieldRecord** fields = nullptr;
        int32_t count = 0;
        out.code = plugin_->GetIssueDetails(&context, kDetailsBug, &issue, &fields, &count, &error);
        out.issue_handed_out = issue != nullptr;
        if (out.code == 0) {
          EXPECT_EQ(count, 9);
        }
        plugin_->FreeIssue(issue);
        if (fields) plugin_->FreeCustomFieldsList(fields, static_cast<uint32_t>(count));
        break;
      }
      case Export::Attach: {
        std::string mainline = "main", branch = "dev", repository = "tools", file = "a.c";
        AttachedFile attached{&mainline[0], &branch[0], &repository[0], &file[0], 3};
        AttachedFile* files[] = {&attached};
        std::string id = kAttachBug;
        IssueAttachment issue{&id[0], &connection[0], files, 1, nullptr, nullptr, 0};
        IssueAttachment* issues[] = {&issue};
        FailedAttachment** failed = nullptr;
        int32_t failed_count = 0;
        out.code = plugin_->AttachToIssues(&context, issues, 1, &failed, &failed_count, &error);
        if (out.code == 0) {
          out.failed = failed_count;
          if (failed_count > 0 && failed[0]->message) {
            out.has_message = true;
            out.message = failed[0]->message;
          }
          EXPECT_EQ(error, nullptr);
        }
        if (failed) plugin_->FreeFailedAttachmentList(failed, static_cast<uint32_t>(failed_count));
        break;
      }
    }
    if (error != nullptr) {
      out.has_message = true;
      out.message = error;
    }
    plugin_->FreeString(error);
    return out;
  }

  static const char* usual_connection(Export e) {
    return e == Export::List ? "Gadgets" : "Widgets";
  }

  static TestServer* server_;
  static test_support::TempDir* dir_;
  static LoadedPlugin* plugin_;
};

TestServer* FaultInjection::server_ = nullptr;
test_support::TempDir* FaultInjection::dir_ = nullptr;
LoadedPlugin* FaultInjection::plugin_ = nullptr;

class FaultRow : public FaultInjection, public ::testing::WithParamInterface<Row> {};

TEST_P(FaultRow, CodeAndMessage) {
  const Row& row = GetParam();
  if (row.chunked) server_->configure("chunked", true);
  if (!row.kind.empty()) server_->inject(row.method, row.kind, row.args, 1);
  const Outcome out =
      run(row.target, row.connection ? row.connection : usual_connection(row.target));
  if (row.attach_message_prefix) {
    EXPECT_EQ(out.code, row.expected.code) << out;
    EXPECT_EQ(out.message.rfind(row.expected.message, 0), 0u) << out;
    EXPECT_GT(out.message.size(), row.expected.message.size()) << out;
  } else if (row.message_suffix) {
    EXPECT_EQ(out.code, row.expected.code) << out;
    const std::string& end = row.expected.message;
    EXPECT_TRUE(out.message.size() > end.size() &&
                out.message.compare(out.message.size() - end.size(), end.size(), end) == 0)
        << out;
  } else {
    EXPECT_EQ(out, row.expected);
  }
  // A failed Bug.fields call still hands out the finished record, and only that call does.
  if (row.target == Export::Details && out.code != 0) {
    EXPECT_EQ(out.issue_handed_out, row.method == "Bug.fields") << out;
  }
  // The injected call was made (a login-only fault stops before the rest).
  if (!row.method.empty()) {
    bool seen = false;
    for (const std::string& method : server_->methods()) seen = seen || method == row.method;
    EXPECT_TRUE(seen) << row.method << " was never called";
  }
}

std::string row_name(const ::testing::TestParamInfo<Row>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Wire, FaultRow, ::testing::ValuesIn(wire_fault_rows()), row_name);
INSTANTIATE_TEST_SUITE_P(WrongKind, FaultRow, ::testing::ValuesIn(wrong_kind_rows()), row_name);
INSTANTIATE_TEST_SUITE_P(UnreadReply, FaultRow, ::testing::ValuesIn(unread_reply_rows()), row_name);
INSTANTIATE_TEST_SUITE_P(Connection, FaultRow, ::testing::ValuesIn(connection_rows()), row_name);
INSTANTIATE_TEST_SUITE_P(Rest, FaultRow, ::testing::ValuesIn(rest_rows()), row_name);

// ---------------------------------------------------------------------------------------
// Bytes no XML may hold: the reply is still read, each unusable piece shown as U+FFFD.

const char kReplacement[] = "\xEF\xBF\xBD";

struct TextRow {
  const char* name;
  Export target;
  const char* method;
  const char* member;
  std::string bytes;
  std::string shown;  // the text the host gets
};

void PrintTo(const TextRow& row, std::ostream* out) { *out << row.name; }

std::string repl(int n) {
  std::string text;
  for (int i = 0; i < n; ++i) text += kReplacement;
  return text;
}

std::vector<TextRow> text_rows() {
  const std::string bad_utf8 = "Caf\xE9 \xC3\x28 \xF0\x9F end";
  const std::string bad_utf8_shown = "Caf" + repl(1) + " " + repl(1) + "( " + repl(1) + " end";
  const std::string controls =
      "a\x01"
      "b\x1F"
      "c\x0B"
      "d&#1;e&#x0;f&#xFFFE;g";
  const std::string controls_shown = "a" + repl(1) + "b" + repl(1) + "c" + repl(1) + "d" + repl(1) +
                                     "e" + repl(1) + "f" + repl(1) + "g";
  std::vector<TextRow> rows;
  for (const auto& text :
       {std::make_pair(bad_utf8, bad_utf8_shown), std::make_pair(controls, controls_shown)}) {
    const bool utf8 = text.first == bad_utf8;
    rows.push_back({utf8 ? "List_summary_invalid_utf8" : "List_summary_forbidden_chars",
                    Export::List, "Bug.search", "bugs.0.summary", text.first, text.second});
    rows.push_back({utf8 ? "List_comment_invalid_utf8" : "List_comment_forbidden_chars",
                    Export::List, "Bug.comments", "bugs.*.comments.0.text", text.first,
                    text.second});
    rows.push_back({utf8 ? "Details_summary_invalid_utf8" : "Details_summary_forbidden_chars",
                    Export::Details, "Bug.get", "bugs.0.summary", text.first, text.second});
    rows.push_back({utf8 ? "Details_caption_invalid_utf8" : "Details_caption_forbidden_chars",
                    Export::Details, "Bug.fields", "fields.0.display_name", text.first,
                    text.second});
    rows.push_back({utf8 ? "Attach_fault_invalid_utf8" : "Attach_fault_forbidden_chars",
                    Export::Attach, "Bug.add_comment", nullptr, text.first, text.second});
  }
  return rows;
}

class UnusableText : public FaultInjection, public ::testing::WithParamInterface<TextRow> {};

TEST_P(UnusableText, IsShownWithReplacementCharacters) {
  const TextRow& row = GetParam();
  XmlRpcValue args;
  if (row.member != nullptr) {
    args["member"] = row.member;
    args["bytes"] = XmlRpcValue(row.bytes.data(), row.bytes.size());
    server_->inject(row.method, "raw_text", args, 1);
  } else {
    const std::string body =
        "<?xml version=\"1.0\"?><methodResponse><fault><value><struct><member><name>faultCode"
        "</name><value><int>114</int></value></member><member><name>faultString</name><value>"
        "<string>" +
        row.bytes +
        "</string></value></member></struct></value></fault>"
        "</methodResponse>";
    args["body"] = XmlRpcValue(body.data(), body.size());
    server_->inject(row.method, "raw", args, 1);
  }

  std::string login = kLogin, password = kPassword;
  std::string connection = usual_connection(row.target);
  RequestContext context{&login[0], &password[0], &connection[0]};
  char* error = nullptr;
  std::string shown;
  switch (row.target) {
    case Export::List: {
      IssueRecord** issues = nullptr;
      int32_t count = 0, flag = 0;
      ASSERT_EQ(plugin_->GetIssueList(&context, "Not Filtered", &issues, &count, &flag, &error), 0);
      ASSERT_GT(count, 0);
      shown = std::string(row.method) == "Bug.search" ? issues[0]->summary : issues[0]->description;
      plugin_->FreeIssueList(issues, static_cast<uint32_t>(count));
      break;
    }
    case Export::Details: {
      IssueRecord* issue = nullptr;
      CustomFieldRecord** fields = nullptr;
      int32_t count = 0;
      ASSERT_EQ(plugin_->GetIssueDetails(&context, kDetailsBug, &issue, &fields, &count, &error),
                0);
      ASSERT_EQ(count, 9);
      shown = std::string(row.method) == "Bug.get" ? issue->summary : fields[0]->label;
      plugin_->FreeIssue(issue);
      plugin_->FreeCustomFieldsList(fields, static_cast<uint32_t>(count));
      break;
    }
    case Export::Attach: {
      std::string id = kAttachBug;
      IssueAttachment issue{&id[0], &connection[0], nullptr, 0, nullptr, nullptr, 0};
      IssueAttachment* issues[] = {&issue};
      FailedAttachment** failed = nullptr;
      int32_t failed_count = 0;
      ASSERT_EQ(plugin_->AttachToIssues(&context, issues, 1, &failed, &failed_count, &error), 0);
      ASSERT_EQ(failed_count, 1);
      shown = failed[0]->message;
      plugin_->FreeFailedAttachmentList(failed, static_cast<uint32_t>(failed_count));
      break;
    }
  }
  EXPECT_EQ(error, nullptr);
  plugin_->FreeString(error);
  EXPECT_EQ(shown, row.shown);
}

std::string text_row_name(const ::testing::TestParamInfo<TextRow>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Replies, UnusableText, ::testing::ValuesIn(text_rows()), text_row_name);

}  // namespace
