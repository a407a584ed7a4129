#include "api_key_calls.h"

#include "api_key_check.h"
#include "bugzilla_call.h"
#include "plugin_state.h"
#include "records.h"
#include "server_calls.h"
#include "sha256.h"

#include <XmlRpc/XmlRpcException.h>

#include <algorithm>
#include <mutex>

namespace bugzilla {

namespace {

using XmlRpc::XmlRpcValue;

constexpr size_t kConfirmedKeysKept = 32;

XmlRpcValue refusal(const XmlRpcValue& code, const std::string& text) {
  XmlRpcValue fault;
  fault["faultCode"] = code;
  fault["faultString"] = text;
  return fault;
}

bool confirmed(const std::string& digest) {
  std::lock_guard<std::mutex> lock(plugin_state_mutex());
  const std::vector<std::string>& kept = plugin_state().confirmed_api_keys;
  return std::find(kept.begin(), kept.end(), digest) != kept.end();
}

void remember(std::string digest) {
  std::lock_guard<std::mutex> lock(plugin_state_mutex());
  std::vector<std::string>& kept = plugin_state().confirmed_api_keys;
  if (kept.size() >= kConfirmedKeysKept) kept.erase(kept.begin());
  kept.push_back(std::move(digest));
}

// Asks the server whose the key is; false, with what to report in `result` (and the code to
// return in `code`), when the calls must not go ahead.
bool key_is_the_logins(XmlRpc::XmlRpcClient& client, const std::string& login,
                       const std::string& api_key, XmlRpcValue& result, int& code,
                       WebService service) {
  if (api_key.empty()) {
    code = XmlRpc::kExchangeCompleted;
    result = refusal(1, "No API key was given for " + login + ". Enter the API key that " +
                            login + " created in Bugzilla (Preferences, API Keys).");
    return false;
  }
  ApiKeyCheck check = check_api_key(client, login, api_key, service);
  code = check.code;
  switch (check.owner) {
    case ApiKeyOwner::Login:
      return true;
    case ApiKeyOwner::SomeoneElse:
      result = refusal(1, check.message);
      return false;
    case ApiKeyOwner::ServerTooOld:
      result = std::move(check.reply);
      result["faultString"] = check.message;
      return false;
    case ApiKeyOwner::UnknownOrRevoked:
    case ApiKeyOwner::Failed:
      if (code == XmlRpc::kExchangeCompleted && !check.reply.hasMember("faultCode")) {
        throw XmlRpc::XmlRpcException("User.valid_login answered with no boolean");
      }
      result = std::move(check.reply);
      return false;
  }
  return false;
}

}  // namespace

std::string api_key_digest(const std::string& server, const std::string& login,
                           const std::string& api_key) {
  return sha256_of_parts({&server, &login, &api_key});
}

int call_with_api_key(XmlRpc::XmlRpcClient& client, const RequestContext& context,
                      const char* method, XmlRpc::XmlRpcValue& result,
                      XmlRpc::XmlRpcValue params, WebService service) {
  const std::string login = text_or_empty(context.login);
  const std::string api_key = text_or_empty(context.password);
  std::string digest = api_key_digest(session_server_of(client), login, api_key);
  if (!confirmed(digest)) {
    int code = XmlRpc::kExchangeCompleted;
    if (!key_is_the_logins(client, login, api_key, result, code, service)) return code;
    remember(std::move(digest));
  }
  put_credential(params, Authentication::ApiKey, api_key);
  const int code = call_bugzilla(client, service, method, params, result);
  hide_secret_in_fault(result, api_key);
  return code;
}

}  // namespace bugzilla
