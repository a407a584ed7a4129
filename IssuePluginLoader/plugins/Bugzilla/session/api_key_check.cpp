#include "api_key_check.h"

#include "bugzilla_call.h"
#include "server_calls.h"
#include "rest_credentials.h"

#include <XmlRpc/AsciiCase.h>
#include <XmlRpc/XmlRpcException.h>

#include <cstdlib>

namespace bugzilla {

namespace {

using XmlRpc::XmlRpcValue;

constexpr char kMethod[] = "User.valid_login";
constexpr int kUnknownOrRevokedKey = 306;
constexpr int kUnknownMethod = -32601;
constexpr int kNoSuchResource = 32614;
constexpr char kNotUnderstood[] =
    "The Bugzilla server's answer to User.valid_login was not understood.";

// The number a fault code starts with ("Client" and the like give 0), as failures report it.
long fault_number(const XmlRpcValue& fault) {
  const XmlRpcValue* code = fault.find("faultCode");
  return code ? std::strtol(code->toText().c_str(), nullptr, 10) : 0;
}

std::string fault_text(const XmlRpcValue& fault) {
  const XmlRpcValue* text = fault.find("faultString");
  return text ? text->toText() : std::string();
}

// Servers before Bugzilla's own method codes answered an unknown method through SOAP::Lite.
bool unknown_method(const XmlRpcValue& fault) {
  return fault_number(fault) == kUnknownMethod ||
         fault_text(fault).find("Failed to locate method") != std::string::npos;
}

std::string transport_message(int code) {
  switch (code) {
    case XmlRpc::kConnectFailed: return "The API key check failed to connect to Bugzilla server";
    case XmlRpc::kSendFailed: return "The API key check failed to send request to Bugzilla server";
    case XmlRpc::kReceiveFailed:
      return "The API key check failed to receive response from Bugzilla server";
    default: return "The API key check failed (transport code " + std::to_string(code) + ")";
  }
}

}  // namespace

std::string api_key_not_theirs_message(const std::string& login) {
  return "The API key does not belong to " + login + ". Enter an API key that " + login +
         " created in Bugzilla (Preferences, API Keys).";
}

std::string api_keys_unsupported_message() {
  return "API keys need Bugzilla 5.0 or later, and this server does not accept them. Set the "
         "connection's authentication to password, or upgrade Bugzilla.";
}

void hide_secret_in_fault(XmlRpcValue& reply, const std::string& secret, const char* mark_text) {
  if (secret.empty() || !reply.hasMember("faultCode") || !reply.hasMember("faultString")) return;
  XmlRpcValue& text = reply["faultString"];
  if (text.getType() != XmlRpcValue::TypeString) return;
  std::string& hidden = text.asString();
  const std::string mark = mark_text;
  for (size_t at = hidden.find(secret); at != std::string::npos;
       at = hidden.find(secret, at + mark.size())) {
    hidden.replace(at, secret.size(), mark);
  }
}

ApiKeyCheck check_api_key(XmlRpc::XmlRpcClient& client, const std::string& login,
                          const std::string& api_key, WebService service) {
  XmlRpcValue params;
  params[0]["login"] = login;
  put_credential(params, Authentication::ApiKey, api_key);

  ApiKeyCheck check;
  bool ask_valid_login = true;
  if (service == WebService::Rest) {
    Credentials key;
    key.api_key = api_key;
    check.code = ask_who_am_i(client, key, check.reply);
    const XmlRpcValue* name = check.reply.find("name");
    if (check.code == XmlRpc::kExchangeCompleted && name != nullptr &&
        !check.reply.hasMember("faultCode")) {
      // Logins are e-mail addresses, which Bugzilla matches in any letter case.
      check.reply = XmlRpcValue(name->getType() == XmlRpcValue::TypeString &&
                                XmlRpc::equalsIgnoringAsciiCase(name->toText(), login));
    }
    ask_valid_login = check.code == XmlRpc::kExchangeCompleted &&
                      check.reply.hasMember("faultCode") &&
                      fault_number(check.reply) == kNoSuchResource;
  }
  if (ask_valid_login) check.code = call_bugzilla(client, service, kMethod, params, check.reply);
  if (check.code != XmlRpc::kExchangeCompleted) {
    check.message = transport_message(check.code);
    return check;
  }
  if (check.reply.hasMember("faultCode")) {
    hide_secret_in_fault(check.reply, api_key);
    try {
      check.message = fault_text(check.reply);
      if (unknown_method(check.reply)) {
        check.owner = ApiKeyOwner::ServerTooOld;
        check.message = api_keys_unsupported_message();
      } else if (fault_number(check.reply) == kUnknownOrRevokedKey) {
        check.owner = ApiKeyOwner::UnknownOrRevoked;
      }
    } catch (const XmlRpc::XmlRpcException&) {  // a fault whose members are of odd kinds
      check.message = kNotUnderstood;
    }
    return check;
  }
  if (check.reply.getType() != XmlRpcValue::TypeBoolean) {
    check.message = kNotUnderstood;
    return check;
  }
  if (XmlRpcValue(check.reply).asBool()) {
    check.owner = ApiKeyOwner::Login;
    check.message = "The API key belongs to " + login + ".";
  } else {
    check.owner = ApiKeyOwner::SomeoneElse;
    check.message = api_key_not_theirs_message(login);
  }
  return check;
}

}  // namespace bugzilla
