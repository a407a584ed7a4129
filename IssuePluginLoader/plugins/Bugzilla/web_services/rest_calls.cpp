#include "rest_calls.h"

#include "rest_credentials.h"
#include "server_calls.h"

#include <XmlRpc/RestRequest.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

namespace bugzilla {

namespace {

using XmlRpc::RestRequest;
using XmlRpc::XmlRpcValue;

// The parameter struct of an XML-RPC call (where its credentials are too), or an empty one.
XmlRpcValue parameter_struct(XmlRpcValue params) {
  XmlRpcValue fields;
  if (XmlRpcValue* holder = credential_holder(params)) fields = std::move(*holder);
  fields.assertStruct();
  return fields;
}

std::string take_text(XmlRpcValue& fields, const char* name) {
  const XmlRpcValue* member = fields.find(name);
  std::string text = member ? member->toText() : std::string();
  fields.removeMember(name);
  return text;
}

Credentials take_credentials(XmlRpcValue& fields) {
  Credentials credentials;
  credentials.token = take_text(fields, "token");
  credentials.api_key = take_text(fields, "api_key");
  return credentials;
}

// A member as query parameters: an array gives one per element ("ids=6&ids=2").
void add_query(RestRequest& request, const std::string& name, const XmlRpcValue& value) {
  if (value.getType() == XmlRpcValue::TypeArray) {
    for (const XmlRpcValue& element : value.arrayValue()) {
      request.query.emplace_back(name, element.toText());
    }
  } else {
    request.query.emplace_back(name, value.toText());
  }
}

void add_all_to_query(RestRequest& request, const XmlRpcValue& fields) {
  for (const auto& member : fields.structValue()) add_query(request, member.first, member.second);
}

// The credentials where the server reads them: headers where it does (never in a URL),
// otherwise the query of a GET or the body of a POST.
void place_credentials(RestRequest& request, const Credentials& credentials, bool in_headers) {
  const char* name = credentials.api_key.empty() ? "token" : "api_key";
  const std::string& value = credentials.api_key.empty() ? credentials.token : credentials.api_key;
  if (value.empty()) return;
  if (in_headers) {
    request.headers.emplace_back(credentials.api_key.empty() ? "X-BUGZILLA-TOKEN"
                                                             : "X-BUGZILLA-API-KEY",
                                 value);
  } else if (request.post) {
    request.body[name] = value;
  } else {
    request.query.emplace_back(name, value);
  }
}

// Whether the server reads credentials from headers, asked once per server. A question that
// could not be asked at all fails the call with its transport code, as the call itself would.
int credentials_in_headers(XmlRpc::XmlRpcClient& client, const Credentials& credentials,
                           bool& in_headers) {
  in_headers = false;
  if (credentials.empty()) return XmlRpc::kExchangeCompleted;
  const std::string server = session_server_of(client);
  if (credential_place(server) == CredentialPlace::Unknown) {
    XmlRpcValue answer;
    const int code = ask_who_am_i(client, credentials, answer);
    if (code != XmlRpc::kExchangeCompleted) return code;
  }
  in_headers = credential_place(server) == CredentialPlace::Headers;
  return XmlRpc::kExchangeCompleted;
}

// "2026-12-09T00:19:51Z" as the date-time value XML-RPC gives; other texts stay as they are.
void datetime_from_text(XmlRpcValue& value) {
  if (value.getType() != XmlRpcValue::TypeString) return;
  const std::string& text = value.stringValue();
  std::tm when{};
  char zone = 0;
  int consumed = 0;
  if (text.size() != 20 ||
      std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%n", &when.tm_year, &when.tm_mon,
                  &when.tm_mday, &when.tm_hour, &when.tm_min, &when.tm_sec, &zone,
                  &consumed) != 7 ||
      zone != 'Z' || consumed != 20) {
    return;
  }
  value = XmlRpcValue(when);
}

// The date-time members of each struct of an array (bugs, comments).
void datetimes_in(XmlRpcValue* items) {
  if (items == nullptr || items->getType() != XmlRpcValue::TypeArray) return;
  for (XmlRpcValue& item : items->asArray()) {
    if (item.getType() != XmlRpcValue::TypeStruct) continue;
    for (const char* name : {"creation_time", "last_change_time", "time"}) {
      if (XmlRpcValue* member = item.asStruct().find(name)) datetime_from_text(*member);
    }
  }
}

XmlRpcValue* member_of(XmlRpcValue& value, const char* name) {
  return value.getType() == XmlRpcValue::TypeStruct ? value.asStruct().find(name) : nullptr;
}

// One request with the credentials placed. A reply that arrived whole but was no REST reply
// (the library's detail then starts with its status) keeps the status for the message; a cut
// or stalled one is reported as over XML-RPC.
int execute(XmlRpc::XmlRpcClient& client, RestRequest& request, const Credentials& credentials,
            XmlRpcValue& result) {
  bool in_headers = false;
  const int asked = credentials_in_headers(client, credentials, in_headers);
  if (asked != XmlRpc::kExchangeCompleted) {
    result.clear();
    return asked;
  }
  place_credentials(request, credentials, in_headers);
  const int code = client.executeRest(request, result);
  const XmlRpc::TransportFailure& failure = client.lastFailure();
  if (code == XmlRpc::kReceiveFailed && failure.detail.rfind("HTTP status ", 0) == 0) {
    result.clear();
    result["httpStatus"] = static_cast<int>(failure.http_status);
    std::string location = failure.location;
    // A redirect's query may echo what the request carried.
    location = location.substr(0, location.find('?'));
    if (!location.empty()) result["location"] = location;
  }
  return code;
}

XmlRpcValue fault(int code, const std::string& text) {
  XmlRpcValue value;
  value["faultCode"] = code;
  value["faultString"] = text;
  return value;
}

// What Bugzilla answers for a missing argument; an empty id has no place in a resource path.
int missing_argument(const char* name, XmlRpcValue& result) {
  result = fault(50, std::string("The function requires a ") + name +
                         " argument, and that argument was not set.");
  return XmlRpc::kExchangeCompleted;
}

// Bug.comments: GET /bug/{first id}/comment?ids=...; the server merges the query's ids with
// the path's. The ids are split over as many requests as keep each line short enough, and the
// replies' "bugs" joined.
int comments(XmlRpc::XmlRpcClient& client, XmlRpcValue fields, const Credentials& credentials,
             XmlRpcValue& result) {
  const XmlRpcValue* ids = fields.find("ids");
  if (ids == nullptr || ids->getType() != XmlRpcValue::TypeArray || ids->size() == 0) {
    result = fault(50, "The function Bug.comments requires that you set one of the following "
                       "parameters: ids, comment_ids");
    return XmlRpc::kExchangeCompleted;
  }
  const XmlRpcValue::ValueArray& all = ids->arrayValue();
  XmlRpcValue joined;
  joined["bugs"].assertStruct();
  joined["comments"].assertStruct();
  joined["bugs"].asStruct().reserve(all.size());
  size_t next = 0;
  while (next < all.size()) {
    RestRequest request;
    request.path = {"bug", all[next].toText(), "comment"};
    // Both callers read only each comment's text.
    request.query.emplace_back("include_fields", "text");
    size_t taken = next + 1;
    size_t line = client.restRequestLineLength(request);
    while (taken < all.size()) {
      std::string id = all[taken].toText();
      // "&ids=<id>": an id of unreserved characters needs no escape, so its length is known
      // without building the URL again (once per id would cost the square of the count).
      const bool plain = XmlRpc::isUnreservedText(id);
      request.query.emplace_back("ids", std::move(id));
      const size_t longer = plain ? line + 5 + request.query.back().second.size()
                                  : client.restRequestLineLength(request);
      if (longer > kMaxRestRequestLine) {
        request.query.pop_back();
        break;
      }
      line = longer;
      ++taken;
    }
    XmlRpcValue part;
    const int code = execute(client, request, credentials, part);
    if (code != XmlRpc::kExchangeCompleted || part.hasMember("faultCode")) {
      result = std::move(part);
      return code;
    }
    if (XmlRpcValue* bugs = member_of(part, "bugs")) {
      if (bugs->getType() == XmlRpcValue::TypeStruct) {
        XmlRpcValue::ValueStruct& into = joined["bugs"].asStruct();
        // Appended unlooked-for: an id asked for twice is then found once, as the later.
        for (auto& bug : bugs->asStruct()) into.append(bug.first) = std::move(bug.second);
      } else {
        result = std::move(part);  // not understood: left for the caller's kind checks
        return code;
      }
    }
    next = taken;
  }
  result = std::move(joined);
  return XmlRpc::kExchangeCompleted;
}

}  // namespace

int call_rest(XmlRpc::XmlRpcClient& client, const char* method, const XmlRpcValue& params,
              XmlRpcValue& result) {
  result.clear();
  XmlRpcValue fields = parameter_struct(params);
  const Credentials credentials = take_credentials(fields);
  const std::string name = method ? method : "";
  RestRequest request;
  if (name == "Bugzilla.version") {
    request.path = {"version"};
  } else if (name == "User.login") {
    request.path = {"login"};
    add_all_to_query(request, fields);
  } else if (name == "User.logout") {
    request.path = {"logout"};
  } else if (name == "User.valid_login") {
    request.path = {"valid_login"};
    add_all_to_query(request, fields);
    request.query.emplace_back("api_key", credentials.api_key);
    // Asked before the call that set the filter: a copy reads the whole answer.
    XmlRpc::XmlRpcClient unfiltered(client);
    const int code = unfiltered.executeRest(request, result);
    // Upstream answers {"result": true}, bugzilla.mozilla.org the bare boolean, XML-RPC too.
    if (XmlRpcValue* answer = member_of(result, "result")) {
      XmlRpcValue bare = std::move(*answer);
      result = std::move(bare);
    }
    return code;
  } else if (name == "Bug.search") {
    request.path = {"bug"};
    add_all_to_query(request, fields);
  } else if (name == "Bug.get" || name == "Bug.get_bugs") {
    const XmlRpcValue* ids = fields.find("ids");
    const XmlRpcValue* first = ids ? ids->at(0) : nullptr;
    const std::string id = first ? first->toText() : std::string();
    if (id.empty()) return missing_argument("ids", result);
    request.path = {"bug", id};
    fields.removeMember("ids");
    add_all_to_query(request, fields);
  } else if (name == "Bug.comments") {
    return comments(client, std::move(fields), credentials, result);
  } else if (name == "Bug.fields") {
    request.path = {"field", "bug"};
    add_all_to_query(request, fields);
  } else if (name == "Bug.add_comment") {
    request.post = true;
    const std::string id = take_text(fields, "id");
    if (id.empty()) return missing_argument("id", result);
    request.path = {"bug", id, "comment"};
    request.body = std::move(fields);
  } else if (name == "Product.get") {
    request.path = {"product"};
    add_all_to_query(request, fields);
  } else {
    result = fault(-32601, "The requested method '" + name + "' was not found.");
    return XmlRpc::kExchangeCompleted;
  }
  const int code = execute(client, request, credentials, result);
  if (code == XmlRpc::kExchangeCompleted) datetimes_in(member_of(result, "bugs"));
  return code;
}

}  // namespace bugzilla
