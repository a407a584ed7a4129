// One bug's details: the bug as an IssueRecord and a list of its fields with their values,
// adapted to the server's Bugzilla version (asked anew on every call).
#include "bugzilla_version.h"
#include "connections.h"
#include "datetime_text.h"
#include "issues.h"
#include "query_failures.h"
#include "records.h"
#include "reply_reading.h"
#include "server_calls.h"
#include "server_session.h"

#include <XmlRpc/XmlRpcClient.h>
#include <XmlRpc/XmlRpcException.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>

namespace bugzilla {

using XmlRpc::XmlRpcValue;

namespace {

constexpr int32_t kDateTimeType = 5;

struct FieldPosition {
  const char* bug_member;  // member of the bug struct holding the value
  const char* name;        // Bugzilla's field name: asked of Bug.fields, and the entry's key
  int32_t type;
  // Caption on servers older than 3.6, which have no Bug.fields: the plug-in's long-standing
  // captions ("Resolution", "Priority", "Severity", "Alias", "Assigned To", "Modified",
  // "Reported"), plus "Product" and "Component", which that set lacks. Its "Duplicate" names
  // no entry: the resolution entry shows the duplicate.
  const char* older_caption;
};

constexpr FieldPosition kFieldTable[] = {
    {"resolution", "resolution", 0, "Resolution"},
    {"product", "product", 0, "Product"},
    {"component", "component", 0, "Component"},
    {"priority", "priority", 0, "Priority"},
    {"severity", "bug_severity", 0, "Severity"},
    {"alias", "alias", 2, "Alias"},
    {"assigned_to", "assigned_to", 2, "Assigned To"},
    {"last_change_time", "delta_ts", kDateTimeType, "Modified"},
    {"creation_time", "creation_ts", kDateTimeType, "Reported"},
};
constexpr int kFieldPositions = sizeof(kFieldTable) / sizeof(kFieldTable[0]);

struct IssueRelease {
  void operator()(IssueRecord* issue) const noexcept { free_issue(issue); }
};
using OwnedIssue = std::unique_ptr<IssueRecord, IssueRelease>;

// The choice of the resolution entry: "DUPLICATE of bug # <dupe_of>" for a duplicate.
void fill_resolution(FieldChoice& choice, const XmlRpcValue& bug) {
  const std::string resolution = reply_text(reply_member(bug, "resolution"));
  std::string label = resolution;
  if (resolution == "DUPLICATE") label += " of bug # " + reply_text(reply_member(bug, "dupe_of"));
  choice.label = dup_cstring(label);
  choice.value = dup_cstring(resolution);
  choice.flag = 1;
}

// The texts of a non-empty array of texts joined with ", " (a 5.x alias list); false for any
// other array.
bool joined_texts(const XmlRpcValue& array, std::string& joined) {
  const XmlRpcValue::ValueArray& elements = array.arrayValue();
  if (elements.empty()) return false;
  for (const XmlRpcValue& element : elements) {
    if (element.getType() != XmlRpcValue::TypeString) return false;
  }
  for (const XmlRpcValue& element : elements) {
    if (!joined.empty()) joined += ", ";
    joined += reply_text(element);
  }
  return true;
}

// Key, type and the one choice of an entry, from the bug. On newer servers an alias list
// shows its texts; any other value that is an array (an empty alias list) shows no value.
void fill_entry(CustomFieldRecord& entry, int position, const XmlRpcValue& bug,
                bool newer_server) {
  const FieldPosition& field = kFieldTable[position];
  entry.key = dup_cstring(field.name);
  entry.type = field.type;
  entry.choices = new_single_choice();
  entry.choice_count = 1;
  FieldChoice& choice = *entry.choices[0];
  const XmlRpcValue& value = reply_member(bug, field.bug_member);
  if (position == 0) {
    fill_resolution(choice, bug);
  } else if (field.type == kDateTimeType) {
    choice.label = datetime_to_text(value);
    choice.value = datetime_to_text(value);
    choice.flag = 1;
  } else if (newer_server && value.getType() == XmlRpcValue::TypeArray) {
    std::string aliases;
    if (std::strcmp(field.bug_member, "alias") == 0 && joined_texts(value, aliases)) {
      choice.label = dup_cstring(aliases);
      choice.value = dup_cstring(aliases);
      choice.flag = 1;
    }
    // otherwise left as allocated: no texts, flag 0
  } else {
    choice.label = value_to_cstring(value);
    choice.value = value_to_cstring(value);
    choice.flag = 1;
  }
}

XmlRpcValue fields_parameters() {
  XmlRpcValue request;
  XmlRpcValue::ValueArray& names = request["names"].asArray();
  for (const FieldPosition& field : kFieldTable) names.emplace_back(field.name);
  return request;
}

}  // namespace

int32_t get_issue_details(const RequestContext& context, const char* issue_id,
                          IssueRecord** issue_out, CustomFieldRecord*** fields_out,
                          int32_t* count_out, char** error_out) {
  XmlRpcValue connection;
  const int found =
      find_connection(text_or_empty(context.connection_name), connection, error_out);
  if (found != 0) return found;
  // Declared before the client, which refers to it during the comments call.
  const XmlRpc::XmlRpcFilter comments_filter = first_comment_filter();
  ServerSession session(connection, context);

  OwnedIssue issue;
  const char* caption = kCaptionVersion;  // the call whose reply is being read
  try {
    XmlRpcValue version_reply;
    int code = session.call("Bugzilla.version", XmlRpcValue(), version_reply);
    if (call_failed(code, version_reply)) {
      return report_failed_call(code, caption, error_out, std::move(version_reply));
    }
    const std::string version = reply_string(reply_member(version_reply, "version"));

    caption = kCaptionGetBugs;
    XmlRpcValue bug_request;
    bug_request[0]["ids"][0] = text_or_empty(issue_id);
    // REST came with Bugzilla 5.0: a REST server takes the newest path whatever it says.
    const bool rest = session.web_service() == WebService::Rest;
    const char* method = version_below(version, 5, 0) && !rest ? "Bug.get_bugs" : "Bug.get";
    XmlRpcValue bug_reply;
    code = session.call(method, std::move(bug_request), bug_reply);
    if (call_failed(code, bug_reply)) {
      return report_failed_call(code, caption, error_out, std::move(bug_reply));
    }
    const XmlRpcValue& bugs = reply_member(bug_reply, "bugs");
    const int bug_count = reply_array_size(bugs);

    // One call for the comments of every bug in the reply; with no bug it has no parameters.
    XmlRpcValue comments_request;
    if (bug_count > 0) {
      XmlRpcValue::ValueArray& ids = comments_request["ids"].asArray();
      ids.reserve(static_cast<size_t>(bug_count));
      for (int i = 0; i < bug_count; ++i) ids.push_back(reply_member(reply_element(bugs, i), "id"));
    }
    caption = kCaptionGetComments;
    XmlRpcValue comments_reply;
    session.client().setReplyFilter(&comments_filter);
    code = session.call("Bug.comments", std::move(comments_request), comments_reply);
    session.client().setReplyFilter(nullptr);
    if (call_failed(code, comments_reply)) {
      return report_failed_call(code, caption, error_out, std::move(comments_reply));
    }

    // The bug is the first element; further ones only added their ids to the comments call.
    caption = kCaptionGetBugs;
    const XmlRpcValue& bug = reply_element(bugs, 0);
    issue.reset(new IssueRecord{});
    issue->id = value_to_cstring(reply_member(bug, "id"));
    issue->summary = value_to_cstring(reply_member(bug, "summary"));
    issue->status = value_to_cstring(reply_member(bug, "status"));
    issue->severity = value_to_cstring(reply_member(bug, "severity"));
    issue->flag1 = 1;
    issue->flag2 = 1;
    caption = kCaptionGetComments;
    const XmlRpcValue& comments =
        reply_member(reply_member(reply_member(comments_reply, "bugs"), issue->id), "comments");
    issue->description = value_to_cstring(reply_member(reply_element(comments, 0), "text"));

    // An open bug has no resolution entry.
    caption = kCaptionGetBugs;
    const bool open = reply_bool(reply_member(bug, "is_open"));
    const int first_position = open ? 1 : 0;
    const uint32_t entry_count = static_cast<uint32_t>(kFieldPositions - first_position);
    const bool newer_server = rest || !version_below(version, 3, 6);
    OwnedFieldList entries(new_custom_field_list(entry_count), entry_count);
    for (uint32_t e = 0; e < entry_count; ++e) {
      fill_entry(*entries[e], first_position + static_cast<int>(e), bug, newer_server);
    }

    if (newer_server) {
      caption = kCaptionBugFields;
      XmlRpcValue fields_reply;
      code = session.call("Bug.fields", fields_parameters(), fields_reply);
      if (call_failed(code, fields_reply)) {
        // Described first: an unreadable fault throws, and the handler below hands the
        // record out then; releasing it earlier would let the handler overwrite it.
        const int32_t failed =
            report_failed_call(code, caption, error_out, std::move(fields_reply));
        *issue_out = issue.release();
        return failed;
      }
      // Captions by position in the order they came, not matched by name.
      const XmlRpcValue& fields = reply_member(fields_reply, "fields");
      for (uint32_t e = 0; e < entry_count; ++e) {
        const XmlRpcValue& field = reply_element(fields, first_position + static_cast<int>(e));
        entries[e]->label = value_to_cstring(reply_member(field, "display_name"));
      }
    } else {
      for (uint32_t e = 0; e < entry_count; ++e) {
        entries[e]->label = dup_cstring(kFieldTable[first_position + e].older_caption);
      }
    }

    *issue_out = issue.release();
    *fields_out = entries.release();
    *count_out = static_cast<int32_t>(entry_count);
    return 0;
  } catch (const XmlRpc::XmlRpcException&) {
    // A Bug.fields failure leaves the finished record with the host, as a failed call does.
    if (caption == kCaptionBugFields) *issue_out = issue.release();
    return report_reply_not_understood(caption, error_out);
  }
}

}  // namespace bugzilla
