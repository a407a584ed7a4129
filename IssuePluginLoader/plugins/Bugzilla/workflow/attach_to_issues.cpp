// Attaching check-ins to bugs: one or more Bug.add_comment calls per issue, the refused ones
// gathered for the host.
#include "attachment_comment.h"
#include "connections.h"
#include "fix_workflow.h"
#include "plugin_state.h"
#include "server_session.h"
#include "records.h"
#include "reply_reading.h"
#include "server_calls.h"

#include <XmlRpc/XmlRpcValue.h>

#include <memory>
#include <string>
#include <vector>

namespace bugzilla {

namespace {

using XmlRpc::XmlRpcValue;

struct TextDeleter {
  void operator()(char* text) const noexcept { free_string(text); }
};
using OwnedText = std::unique_ptr<char, TextDeleter>;

struct FailedDeleter {
  void operator()(FailedAttachment* failed) const noexcept {
    free_string(failed->connection);
    free_string(failed->message);
    free_string(failed->id);
    delete failed;
  }
};
using OwnedFailed = std::unique_ptr<FailedAttachment, FailedDeleter>;

// The failed comments in order; everything is released if the call ends early or throws.
class FailedComments {
public:
  void add(const char* issue_id, const char* connection, OwnedText message) {
    OwnedFailed failed(new FailedAttachment{nullptr, nullptr, nullptr});
    failed->id = dup_cstring(issue_id);
    failed->connection = dup_cstring(connection);
    failed->message = message.release();
    entries_.push_back(std::move(failed));
  }

  // The host's list: an array of exactly the entries, or null when none failed.
  void hand_out(FailedAttachment*** list_out, int32_t* count_out) {
    FailedAttachment** list = nullptr;
    if (!entries_.empty()) {
      list = new FailedAttachment*[entries_.size()];
      for (size_t i = 0; i < entries_.size(); ++i) list[i] = entries_[i].release();
    }
    *count_out = static_cast<int32_t>(entries_.size());
    *list_out = list;
    entries_.clear();
  }

private:
  std::vector<OwnedFailed> entries_;
};

// False when the <velloran_server> section cannot be read. A missing connections file is no
// error here: the server stays empty and the first connection lookup reports the file.
bool read_velloran_server(VelloranServer& server) {
  std::string joined;
  if (!read_joined_file(connections_file_path(), joined)) return true;
  XmlRpcValue info;
  if (info.serverInfo(joined) != 0) return false;
  OwnedText address(value_to_cstring(info["ip_address"]));
  server.ip_address = address.get();
  XmlRpcValue port = info["port"];
  server.port = port.asInt();
  return true;
}

// The session layer's text for a failed comment (null when it has none). Should a text be
// stored before an odd reply makes the reading throw, it is released here rather than lost.
OwnedText failure_message(int code, XmlRpcValue result) {
  char* message = nullptr;
  try {
    describe_call_failure(code, kCaptionAddComment, &message, std::move(result));
  } catch (...) {
    free_string(message);
    throw;
  }
  return OwnedText(message);
}

// The host's records with null pointers read as empty ones.
const IssueAttachment& issue_or_empty(const IssueAttachment* issue) {
  static const IssueAttachment empty{};
  return issue ? *issue : empty;
}

const AttachedFile& file_or_empty(const IssueAttachment& issue, size_t index) {
  static const AttachedFile empty{};
  const AttachedFile* file = issue.files[index];
  return file ? *file : empty;
}

// Adds the issue's comments; failures are appended to `failed`. False when the issue's
// connection is unknown.
bool attach_one_issue(const RequestContext& context, const IssueAttachment& issue,
                      const VelloranServer& server, FailedComments& failed) {
  const char* issue_id = text_or_empty(issue.issue_id);
  const char* connection_name = text_or_empty(issue.connection_name);

  XmlRpcValue connection;
  char* lookup_message = nullptr;
  const int lookup = find_connection(connection_name, connection, &lookup_message);
  free_string(lookup_message);  // the caller words this failure itself
  if (lookup != 0) return false;

  ServerSession session(connection, context);

  const bool with_fix = issue.fix_field_count == kFixFieldCount;
  const char* hours = fix_field_entry(issue.fix_fields, issue.fix_field_count,
                                      kHoursFieldIndex);
  const char* fix_comment = fix_field_entry(issue.fix_fields, issue.fix_field_count,
                                            kCommentFieldIndex);

  const size_t file_count = issue.files ? issue.file_count : 0;
  std::vector<size_t> estimates;
  estimates.reserve(file_count);
  for (size_t i = 0; i < file_count; ++i) {
    estimates.push_back(file_block_estimate(file_or_empty(issue, i), server));
  }

  for (const CommentSpan& span :
       plan_comments(with_fix, fix_header_estimate(fix_comment), estimates)) {
    std::string text;
    if (span.fix_header) append_fix_header(text, fix_comment);
    for (size_t i = span.first_file; i < span.first_file + span.file_count; ++i) {
      append_file_block(text, file_or_empty(issue, i), server);
    }

    XmlRpcValue params;
    XmlRpcValue& args = params[0];
    if (span.fix_header) args["work_time"] = hours;  // as typed
    args["comment"] = XmlRpcValue(std::move(text));
    args["id"] = issue_id;

    XmlRpcValue result;
    const int code = session.call("Bug.add_comment", std::move(params), result);
    if (call_failed(code, result)) {
      failed.add(issue_id, connection_name, failure_message(code, std::move(result)));
    }
  }
  return true;
}

}  // namespace

int32_t attach_to_issues(const RequestContext& context, IssueAttachment** issues,
                         uint32_t count, FailedAttachment*** failed_out,
                         int32_t* failed_count_out, char** error_out) {
  *error_out = nullptr;
  *failed_out = nullptr;

  VelloranServer server;
  if (!read_velloran_server(server)) {
    *error_out = dup_cstring("Error getting server info from BugzillaConnections.txt");
    return 1;
  }

  FailedComments failed;
  for (uint32_t i = 0; issues != nullptr && i < count; ++i) {
    if (!attach_one_issue(context, issue_or_empty(issues[i]), server, failed)) {
      // Comments already added stay on the server; the gathered failures are dropped.
      *error_out = dup_cstring("Error getting connection info from BugzillaConnections.txt");
      return 1;
    }
  }
  failed.hand_out(failed_out, failed_count_out);
  return 0;
}

}  // namespace bugzilla
