// An export's hold on one user's session with one Bugzilla server: the connection's client,
// the session of that user (found or made, and locked for the export's run) and every call
// made through it with the user's credentials.
#pragma once

#include "authentication.h"
#include "issue_plugin_api.h"
#include "session.h"
#include "web_service.h"

#include <XmlRpc/XmlRpcClient.h>
#include <XmlRpc/XmlRpcValue.h>

#include <memory>
#include <mutex>

namespace bugzilla {

class ServerSession {
public:
  // Prepares the client for `connection`, then waits only for an export of the same user on
  // the same server that is still running; other users' exports go on meanwhile. `context`
  // must outlive the object.
  ServerSession(XmlRpc::XmlRpcValue& connection, const RequestContext& context);
  ServerSession(const ServerSession&) = delete;
  ServerSession& operator=(const ServerSession&) = delete;

  // One Bugzilla call. The user's token or API key goes into the parameter struct (a call
  // without one, Bugzilla.version, carries none); the sign-in is reused, made or renewed as
  // call_with_login does. Returns the transport code; a refused sign-in comes back as 0 with
  // its fault in `result`.
  int call(const char* method, XmlRpc::XmlRpcValue params, XmlRpc::XmlRpcValue& result);

  // The next call signs in afresh (every listing does).
  void sign_in_afresh();

  XmlRpc::XmlRpcClient& client() { return *client_; }
  WebService web_service() const { return web_service_; }

private:
  const RequestContext& context_;
  const Authentication authentication_;
  const WebService web_service_;
  std::unique_ptr<XmlRpc::XmlRpcClient> client_;
  std::shared_ptr<Session> session_;
  std::unique_lock<std::mutex> in_use_;
};

}  // namespace bugzilla
