// The bugs of a connection's product under one filter: one Bug.search, then the first
// comments of all found bugs in one Bug.comments call. Over REST the search asks for each
// bug's "description" too: bugzilla.mozilla.org returns the first comment there, which saves
// the second call; upstream Bugzilla leaves it out.
#include "connections.h"
#include "issues.h"
#include "query_failures.h"
#include "records.h"
#include "reply_reading.h"
#include "server_calls.h"
#include "server_session.h"

#include <XmlRpc/XmlRpcClient.h>
#include <XmlRpc/XmlRpcException.h>
#include <XmlRpc/XmlRpcFilter.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>

namespace bugzilla {

using XmlRpc::XmlRpcFilter;
using XmlRpc::XmlRpcValue;

namespace {

using Step = XmlRpcFilter::Step;

const char* const kListedMembers[] = {"id", "summary", "severity", "status", "description"};
constexpr int kSearchedMembers = 4;  // "description" only where REST can give it

// What the listing reads of the search reply: four members of each bug (five over REST).
// The rest of a large reply is dropped as it arrives.
XmlRpcFilter search_reply_filter(bool with_description) {
  XmlRpcFilter filter;
  for (int m = 0; m < kSearchedMembers + (with_description ? 1 : 0); ++m) {
    filter.keep({Step::member("bugs"), Step::anyElement(), Step::member(kListedMembers[m])});
  }
  return filter;
}

// Over REST only what the listing reads is asked for: the server then builds nothing else.
std::string include_fields() {
  std::string names;
  for (const char* member : kListedMembers) names += std::string(names.empty() ? "" : ",") + member;
  return names;
}

// True when the search reply gave every bug its first comment.
bool descriptions_given(const XmlRpcValue& bugs, int count) {
  for (int i = 0; i < count; ++i) {
    const XmlRpcValue* description = reply_element(bugs, i).find("description");
    if (description == nullptr || description->getType() != XmlRpcValue::TypeString) return false;
  }
  return true;
}

// {"product", the filter's user member if any} as the only parameter.
XmlRpcValue search_parameters(const XmlRpcValue& connection, const char* login,
                              const char* filter, bool rest) {
  XmlRpcValue parameters;
  XmlRpcValue& search = parameters[0];
  search["product"] = reply_member(connection, "product");
  if (std::strcmp(filter, kFilterAssignedToMe) == 0) {
    search["assigned_to"] = login;
  } else if (std::strcmp(filter, kFilterCreatedByMe) == 0) {
    search["reporter"] = login;
  }
  if (rest) search["include_fields"] = include_fields();
  return parameters;
}

// {"ids": every bug's "id" as it came} as the only parameter.
XmlRpcValue comments_parameters(const XmlRpcValue& bugs, int count) {
  XmlRpcValue parameters;
  XmlRpcValue& request = parameters[0];
  XmlRpcValue::ValueArray& ids = request["ids"].asArray();
  ids.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) ids.push_back(reply_member(reply_element(bugs, i), "id"));
  return parameters;
}

// "text" of the first comment of the bug that the comments reply's "bugs" names by id.
const XmlRpcValue& first_comment_text(const XmlRpcValue& comments_by_id, const char* id) {
  const XmlRpcValue& comments = reply_member(reply_member(comments_by_id, id), "comments");
  return reply_member(reply_element(comments, 0), "text");
}

}  // namespace

int32_t get_issue_list(const RequestContext& context, const char* filter,
                       IssueRecord*** issues_out, int32_t* count_out, int32_t* flag_out,
                       char** error_out) {
  XmlRpcValue connection;
  if (find_connection(text_or_empty(context.connection_name), connection, error_out) != 0) {
    return 1;
  }
  ServerSession session(connection, context);
  const bool rest = session.web_service() == WebService::Rest;
  const XmlRpcFilter search_filter = search_reply_filter(rest);
  const XmlRpcFilter comments_filter = first_comment_filter();
  // Every listing logs in afresh.
  session.sign_in_afresh();

  const char* caption = kCaptionBugSearch;  // the call whose reply is being read
  try {
    XmlRpcValue found;
    session.client().setReplyFilter(&search_filter);
    int code = session.call(
        "Bug.search",
        search_parameters(connection, text_or_empty(context.login), text_or_empty(filter), rest),
        found);
    if (call_failed(code, found)) {
      report_failed_call(code, caption, error_out, std::move(found));
      return 1;
    }
    // A search reply always has "bugs"; one without it is not a search reply.
    if (!found.hasMember("bugs")) throw XmlRpc::XmlRpcException("search reply without bugs");
    const XmlRpcValue& bugs = reply_member(found, "bugs");
    const int count = reply_array_size(bugs);
    if (count == 0) return 0;

    // Filled from the search reply first, so that a reply we cannot read costs no second call.
    // The ids stay in the reply: the comments are asked for by them.
    OwnedIssueList issues(new_issue_list(static_cast<size_t>(count)),
                          static_cast<uint32_t>(count));
    for (int i = 0; i < count; ++i) {
      const XmlRpcValue& bug = reply_element(bugs, i);
      IssueRecord* issue = issues[static_cast<size_t>(i)];
      issue->id = value_to_cstring(reply_member(bug, "id"));
      issue->summary = take_cstring(reply_member(bug, "summary"));
      issue->severity = take_cstring(reply_member(bug, "severity"));
      issue->status = take_cstring(reply_member(bug, "status"));
      issue->flag1 = 1;
      issue->flag2 = 1;
    }

    if (descriptions_given(bugs, count)) {
      for (int i = 0; i < count; ++i) {
        issues[static_cast<size_t>(i)]->description =
            take_cstring(reply_member(reply_element(bugs, i), "description"));
      }
    } else {
      caption = kCaptionGetComments;
      XmlRpcValue parameters = comments_parameters(bugs, count);
      found.clear();  // done with: the records hold their copies, the comments get its room
      XmlRpcValue comments;
      session.client().setReplyFilter(&comments_filter);
      code = session.call("Bug.comments", std::move(parameters), comments);
      if (call_failed(code, comments)) {
        report_failed_call(code, caption, error_out, std::move(comments));
        return 1;
      }
      const XmlRpcValue& comments_by_id = reply_member(comments, "bugs");
      for (int i = 0; i < count; ++i) {
        IssueRecord* issue = issues[static_cast<size_t>(i)];
        issue->description = take_cstring(first_comment_text(comments_by_id, issue->id));
      }
    }

    *issues_out = issues.release();
    *count_out = count;
    *flag_out = 1;
    return 0;
  } catch (const XmlRpc::XmlRpcException&) {
    return report_reply_not_understood(caption, error_out);
  }
}

}  // namespace bugzilla
