#include "rest_credentials.h"

#include "plugin_state.h"
#include "server_calls.h"

#include <XmlRpc/RestRequest.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace bugzilla {

namespace {

constexpr size_t kServersKept = 64;
constexpr int kNoSuchResource = 32614;

bool listed(const std::vector<std::string>& servers, const std::string& server) {
  return std::find(servers.begin(), servers.end(), server) != servers.end();
}

void remember(CredentialPlace place, const std::string& server) {
  std::lock_guard<std::mutex> lock(plugin_state_mutex());
  PluginState& state = plugin_state();
  std::vector<std::string>& servers = place == CredentialPlace::Headers
                                          ? state.rest_header_servers
                                          : state.rest_parameter_servers;
  if (listed(servers, server)) return;
  if (servers.size() >= kServersKept) servers.erase(servers.begin());
  servers.push_back(server);
}

}  // namespace

CredentialPlace credential_place(const std::string& server) {
  std::lock_guard<std::mutex> lock(plugin_state_mutex());
  const PluginState& state = plugin_state();
  if (listed(state.rest_header_servers, server)) return CredentialPlace::Headers;
  if (listed(state.rest_parameter_servers, server)) return CredentialPlace::Parameters;
  return CredentialPlace::Unknown;
}

int ask_who_am_i(XmlRpc::XmlRpcClient& client, const Credentials& credentials,
                 XmlRpc::XmlRpcValue& reply) {
  XmlRpc::RestRequest request;
  request.path = {"whoami"};
  if (!credentials.api_key.empty()) {
    request.headers.emplace_back("X-BUGZILLA-API-KEY", credentials.api_key);
  } else {
    request.headers.emplace_back("X-BUGZILLA-TOKEN", credentials.token);
  }
  // A copy, which reads the whole reply whatever filter the caller's next call set.
  XmlRpc::XmlRpcClient unfiltered(client);
  const int code = unfiltered.executeRest(request, reply);
  if (code != XmlRpc::kExchangeCompleted) return code;
  const XmlRpc::XmlRpcValue* fault = reply.find("faultCode");
  if (fault == nullptr && reply.hasMember("name")) {
    remember(CredentialPlace::Headers, session_server_of(client));
  } else if (fault != nullptr && fault->getType() == XmlRpc::XmlRpcValue::TypeInt &&
             XmlRpc::XmlRpcValue(*fault).asInt() == kNoSuchResource) {
    remember(CredentialPlace::Parameters, session_server_of(client));
  }
  return code;
}

}  // namespace bugzilla
