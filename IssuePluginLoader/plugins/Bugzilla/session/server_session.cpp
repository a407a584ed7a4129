#include "server_session.h"

#include "plugin_state.h"
#include "records.h"
#include "server_calls.h"
#include "session_table.h"

#include <string>
#include <utility>

namespace bugzilla {

ServerSession::ServerSession(XmlRpc::XmlRpcValue& connection, const RequestContext& context)
    : context_(context),
      authentication_(authentication_of(connection)),
      web_service_(web_service_of(connection)),
      client_(prepare_client(connection)),
      session_(session_table().acquire(data_directory(), session_server_of(*client_),
                                       text_or_empty(context.login),
                                       text_or_empty(context.password),
                                       authentication_ == Authentication::Password)),
      in_use_(session_->in_use) {}

int ServerSession::call(const char* method, XmlRpc::XmlRpcValue params,
                        XmlRpc::XmlRpcValue& result) {
  return call_with_login(*session_, *client_, context_, method, result, std::move(params),
                         authentication_, web_service_);
}

void ServerSession::sign_in_afresh() { session_->token.clear(); }

}  // namespace bugzilla
