// One Bugzilla server call: client set-up, login reuse or renewal, failure codes and texts.
#pragma once

#include "issue_plugin_api.h"

#include <XmlRpc/XmlRpcClient.h>
#include <XmlRpc/XmlRpcValue.h>

#include <cstdio>
#include <memory>

namespace bugzilla {

// Captions of the operations, used in transport failure messages.
extern const char kCaptionBugSearch[];     // "Bug Search"
extern const char kCaptionGetComments[];   // "Get Comments"
extern const char kCaptionVersion[];       // "Bugzilla Version"
extern const char kCaptionGetBugs[];       // "Get Bugs"
extern const char kCaptionBugFields[];     // "Bug Fields"
extern const char kCaptionAddComment[];    // "Add Comment"

// A client for the connection struct, with the cookie file and the connection's optional
// timeouts, size limit and TLS settings.
std::unique_ptr<XmlRpc::XmlRpcClient> prepare_client(XmlRpc::XmlRpcValue& connection);

// Reuses the session or logs in first, then makes the call. `params` may hold a "token"
// member, which is set to the current token just before the call (left out when empty).
int call_with_login(XmlRpc::XmlRpcClient& client, const RequestContext& context,
                    const char* method, XmlRpc::XmlRpcValue& result,
                    XmlRpc::XmlRpcValue params);

int login_user(XmlRpc::XmlRpcClient client_copy, const RequestContext& context,
               XmlRpc::XmlRpcValue& result);

// True when the call failed: a transport code other than 0, or a fault reply.
bool call_failed(int code, const XmlRpc::XmlRpcValue& result);

int describe_call_failure(int code, const char* caption, char** message_out,
                          XmlRpc::XmlRpcValue result);

char* format_message(const char* format, const char* argument);

// The message for a reply that holds a member of an unexpected kind (the value type raised
// XmlRpc::XmlRpcException while it was read): names the operation's caption.
char* reply_not_understood(const char* caption);

// 1 when the cookie file's first expiry lies within the next hour (or is unreadable).
int cookie_expired(std::FILE* stream);
int cookie_expired(std::FILE* stream, double now_seconds);

}  // namespace bugzilla
