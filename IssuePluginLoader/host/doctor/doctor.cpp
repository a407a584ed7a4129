// doctor: checks one connection step by step, from the connections file to the product, and
// says for each failed step what to do about it. A connection may use Bugzilla's XML-RPC
// service or its REST API; the steps are the same, the web service's own step named after it.
#include "commands/commands.h"
#include "credentials/password.h"
#include "doctor/doctor_calls.h"
#include "doctor/doctor_network.h"
#include "doctor/doctor_report.h"
#include "doctor/rest_probe.h"
#include "output/output.h"
#include "plugin/plugin_outputs.h"

// The plug-in's own connection reading, client set-up and sign-in.
#include "api_key_check.h"
#include "authentication.h"
#include "connections.h"
#include "plugin_state.h"
#include "records.h"
#include "rest_credentials.h"
#include "server_calls.h"
#include "web_service.h"

#include <XmlRpc/AsciiCase.h>

#include <algorithm>
#include <mutex>
#include <memory>
#include <optional>

namespace host {

namespace {

constexpr const char* kStepNames[] = {"connections file", "connection name", "host resolves",
                                      "TCP port",         "TLS",             "web service",
                                      "login",            "product"};
constexpr size_t kServiceStep = 5;  // named after the connection's web service

class Doctor {
public:
  Doctor(const Options& options, Plugin& plugin)
      : arguments_(options),
        plugin_(plugin),
        name_(*options.connection),
        file_(options.data_dir + "/BugzillaConnections.txt") {}

  int run() {
    // Each step runs only when the ones before it passed; the rest are listed as skipped.
    using Step = bool (Doctor::*)();
    for (Step step : {&Doctor::connections_file, &Doctor::connection_name, &Doctor::host_resolves,
                      &Doctor::tcp_port, &Doctor::tls, &Doctor::web_service, &Doctor::login,
                      &Doctor::product}) {
      if (!(this->*step)()) break;
    }
    for (size_t i = report_.steps().size(); i < std::size(kStepNames); ++i) {
      report_.add(i == kServiceStep ? service_step() : kStepNames[i], StepStatus::Skipped,
                  "not checked: an earlier step failed");
    }
    print_out(arguments_.json ? report_.json(name_, file_) : report_.text(name_, file_));
    return report_.failed() ? kExitFailure : kExitOk;
  }

private:
  bool rest() const { return service_ == bugzilla::WebService::Rest; }
  const char* service_step() const { return rest() ? "REST service" : "XML-RPC service"; }

  bool pass(const char* step, std::string detail, StepStatus status = StepStatus::Ok,
            std::string advice = "") {
    report_.add(step, status, std::move(detail), std::move(advice));
    return true;
  }
  bool fail(const char* step, std::string detail, std::string advice) {
    report_.add(step, StepStatus::Failed, std::move(detail), std::move(advice));
    return false;
  }

  bool connections_file() {
    PluginList<ConnectionEntry> list(plugin_.FreeConnectionList);
    PluginText error(plugin_);
    const int32_t code =
        plugin_.GetConnectionList(nullptr, list.items_out(), list.count_out(), error.out());
    if (code != 0) {
      const std::string message = error.text_or("code " + std::to_string(code));
      if (message.find("does not exist") != std::string::npos) {
        return fail("connections file", "the plug-in cannot open " + file_ + ": " + message,
                    "create the file (testing/sample/BugzillaConnections.txt shows the format) "
                    "or give --data-dir the directory that holds it");
      }
      return fail("connections file", "the plug-in cannot use " + file_ + ": " + message,
                  "correct the entry the message names; every <connection> holds <name>, "
                  "<server_url>, <port>, <web_service_extension> and <product>");
    }
    for (int32_t i = 0; i < list.size(); ++i) {
      names_.push_back(list[i] != nullptr && list[i]->name != nullptr ? list[i]->name : "");
    }
    return pass("connections file", std::to_string(names_.size()) +
                                        (names_.size() == 1 ? " connection in " : " connections in ") +
                                        file_);
  }

  bool connection_name() {
    if (std::find(names_.begin(), names_.end(), name_) == names_.end()) {
      std::string known;
      for (const auto& name : names_) known += (known.empty() ? "\"" : ", \"") + name + "\"";
      return fail("connection name", "no connection is named \"" + name_ + "\"",
                  names_.empty() ? std::string("add a <connection> with <name>") + name_ +
                                       "</name> to the file"
                                 : "use one of " + known + " (names match exactly, letter case too)");
    }
    // The plug-in's own reading and client, with a cookie file of doctor's own.
    {
      std::lock_guard<std::mutex> lock(bugzilla::plugin_state_mutex());
      bugzilla::plugin_state().connections_file_path = file_;
    }
    char* message = nullptr;
    const int found = bugzilla::find_connection(name_.c_str(), connection_, &message);
    const std::string problem = message != nullptr ? message : "";
    bugzilla::free_string(message);
    if (found != 0) {
      return fail("connection name", problem, "check that the file is readable by this user");
    }
    try {
      service_ = bugzilla::web_service_of(connection_);
    } catch (const XmlRpc::XmlRpcException& error) {
      return fail("connection name", error.what(),
                  "write <web_service>xmlrpc</web_service> or <web_service>rest</web_service>, "
                  "or leave it out for XML-RPC");
    }
    client_ = bugzilla::prepare_client(connection_);
    client_->setCookieFilePath(cookies_.path());
    const XmlRpc::XmlRpcValue* product = connection_.find("product");
    product_ = product != nullptr ? product->toText() : "";
    const XmlRpc::Endpoint& endpoint = client_->endpoint();
    return pass("connection name", "\"" + name_ + "\": " +
                                       (endpoint.valid ? endpoint.url : client_->host()) +
                                       ", product \"" + product_ + "\"" +
                                       (rest() ? ", REST API" : ""));
  }

  bool host_resolves() {
    if (!endpoint().valid) {
      return fail("host resolves", "<server_url> names no host",
                  "set <server_url> to the Bugzilla server, e.g. https://bugzilla.example.com");
    }
    std::string problem;
    if (!resolve_host(endpoint().host, endpoint().port, addresses_, problem)) {
      return fail("host resolves", "\"" + endpoint().host + "\" does not resolve: " + problem,
                  "check the host name in <server_url> (no path or spaces) and this machine's "
                  "name service (DNS, /etc/hosts)");
    }
    std::string list;
    for (const auto& address : addresses_) {
      if (list.find(address.text) == std::string::npos) list += (list.empty() ? "" : ", ") + address.text;
    }
    return pass("host resolves", endpoint().host + " resolves to " + list);
  }

  bool tcp_port() {
    const int timeout = std::max(1, client_->connectTimeout());
    std::string reached, problem;
    if (!connect_tcp(addresses_, timeout, reached, problem)) {
      return fail("TCP port",
                  "port " + std::to_string(endpoint().port) + " of " + endpoint().host +
                      " does not accept connections: " + problem,
                  "check <port> (absent or 0 means 80 for http, 443 for https) and that the web "
                  "server runs and is reachable from here (firewall, proxy)");
    }
    return pass("TCP port", reached + " port " + std::to_string(endpoint().port) +
                                " accepts connections");
  }

  const XmlRpc::Endpoint& endpoint() const { return client_->endpoint(); }

  bool tls() {
    if (!endpoint().https) {
      return pass("TLS", "plain http: nothing to verify", StepStatus::Skipped);
    }
    version_ = call_method(*client_, "Bugzilla.version", XmlRpc::XmlRpcValue(), service_);
    // TCP is known to work, so a connect failure now is the TLS handshake or its verification.
    if (version_->code == XmlRpc::kConnectFailed) {
      return fail("TLS", "the TLS handshake failed: " + version_->failure.detail,
                  "if a private authority signed the certificate, set <ca_file> to its CA "
                  "bundle; check that <server_url> names the host the certificate is for; if "
                  "this port serves plain http, write http:// in <server_url>");
    }
    if (!client_->verifiesTls()) {
      return pass("TLS", "connected, but certificate verification is switched off",
                  StepStatus::Warning,
                  "remove <verify_tls>false</verify_tls> (set <ca_file> instead) so that the "
                  "password goes only to the real server");
    }
    return pass("TLS", "the certificate of " + endpoint().host + " verifies");
  }

  bool web_service() {
    if (!version_) {
      version_ = call_method(*client_, "Bugzilla.version", XmlRpc::XmlRpcValue(), service_);
    }
    return rest() ? rest_service() : xmlrpc_service();
  }

  bool xmlrpc_service() {
    const CallResult& call = *version_;
    const std::string& url = endpoint().url;
    if (call.succeeded()) {
      const std::string version = call.member_text("version");
      if (version.empty()) {
        return pass("XML-RPC service", url + " answers XML-RPC but gives no Bugzilla version",
                    StepStatus::Warning, "check that the path leads to Bugzilla's xmlrpc.cgi");
      }
      return pass("XML-RPC service", "Bugzilla " + version + " answers at " + url);
    }
    if (call.fault()) {
      return fail("XML-RPC service",
                  url + " answers XML-RPC but not Bugzilla.version (" + fault_text(call) + ")",
                  "check that <server_url> and <web_service_extension> lead to Bugzilla's "
                  "xmlrpc.cgi");
    }
    const XmlRpc::TransportFailure& failure = call.failure;
    if (failure.http_status == 404 && last_segment_of(client_->uri()) == "xmlrpc.cgi") {
      // No xmlrpc.cgi where Bugzilla's directory is: servers that serve only the REST API
      // (bugzilla.mozilla.org) answer so.
      if (const auto found = find_rest_service(connection_, web_directory_of(client_->uri()))) {
        return fail("XML-RPC service",
                    url + " answers HTTP 404 (not found): this server offers only the REST API "
                          "(Bugzilla " + found->version + " answers REST at " + found->url + ")",
                    "set <web_service>rest</web_service> and <web_service_extension>" +
                        found->base_path + "</web_service_extension> in the connection");
      }
    }
    if (failure.http_status == 404) {
      return fail("XML-RPC service", "wrong web service path: " + url + " answers HTTP 404 (not found)",
                  "set <web_service_extension> to the path of Bugzilla's XML-RPC service: "
                  "xmlrpc.cgi in Bugzilla's directory, e.g. /xmlrpc.cgi or /bugzilla/xmlrpc.cgi");
    }
    if (failure.http_status >= 400) {
      return fail("XML-RPC service", url + " answers HTTP " + std::to_string(failure.http_status),
                  "see the web server's error log");
    }
    if (failure.content_type.find("html") != std::string::npos) {
      return fail("XML-RPC service",
                  "XML-RPC not enabled, or not Bugzilla: " + url + " answers an HTML page (HTTP " +
                      std::to_string(failure.http_status) + ")",
                  "enable Bugzilla's XML-RPC interface (install the Perl modules checksetup.pl "
                  "lists for it and run checksetup.pl again), or point <server_url> and "
                  "<web_service_extension> at Bugzilla");
    }
    return fail("XML-RPC service", url + ": " + transport_problem(call),
                "check <server_url>, <port> and <web_service_extension>");
  }

  // GET {base}/version, as the plug-in maps Bugzilla.version.
  bool rest_service() {
    const CallResult& call = *version_;
    const std::string& url = endpoint().url;
    const std::string resource = url + "/version";
    if (call.succeeded()) {
      const std::string version = call.member_text("version");
      if (version.empty()) {
        return pass("REST service", resource + " answers JSON but gives no Bugzilla version",
                    StepStatus::Warning,
                    "check that <web_service_extension> is Bugzilla's REST base path");
      }
      return pass("REST service", "Bugzilla " + version + " answers REST at " + url);
    }
    // 32614: a REST service, but no /version below this base (one level too deep).
    if (call.fault() && call.fault_code() == "32614") {
      return wrong_rest_base(resource + " answers REST error 32614 (no such resource)");
    }
    if (call.fault()) {
      return fail("REST service",
                  resource + " answers REST but not the version (" + fault_text(call) + ")",
                  "check that <server_url> and <web_service_extension> lead to Bugzilla's "
                  "REST API");
    }
    const XmlRpc::TransportFailure& failure = call.failure;
    if (failure.http_status == 404) {
      return wrong_rest_base(resource + " answers HTTP 404 (not found)");
    }
    if (!failure.location.empty()) {
      // The query of a redirect's target may echo the request's.
      const std::string target = failure.location.substr(0, failure.location.find('?'));
      return fail("REST service",
                  resource + " redirects to " + target + " (HTTP " +
                      std::to_string(failure.http_status) + ")",
                  "write in <server_url> the address the server calls itself (scheme, host "
                  "name and port as in the redirect)");
    }
    if (failure.http_status >= 400) {
      return fail("REST service", resource + " answers HTTP " + std::to_string(failure.http_status),
                  "see the web server's error log");
    }
    if (failure.content_type.find("html") != std::string::npos) {
      return fail("REST service",
                  "not Bugzilla's REST API: " + resource + " answers an HTML page (HTTP " +
                      std::to_string(failure.http_status) + ")",
                  "point <server_url> and <web_service_extension> at Bugzilla's REST API "
                  "(Bugzilla 5.0 or later: /rest.cgi in Bugzilla's directory, or /rest), or "
                  "write <web_service>xmlrpc</web_service> for an older Bugzilla");
    }
    return fail("REST service", resource + ": " + transport_problem(call),
                "check <server_url>, <port> and <web_service_extension>");
  }

  // Names the base path where the REST API does answer when one is found beside the given one.
  bool wrong_rest_base(const std::string& finding) {
    const std::string detail = "wrong REST base path: " + finding;
    if (const auto found =
            find_rest_service(connection_, web_directory_of(client_->uri()), client_->uri())) {
      return fail("REST service", detail,
                  "set <web_service_extension> to " + found->base_path + ": Bugzilla " +
                      found->version + " answers REST at " + found->url);
    }
    return fail("REST service", detail,
                "set <web_service_extension> to Bugzilla's REST base path: rest.cgi in "
                "Bugzilla's directory, e.g. /rest.cgi or /bugzilla/rest.cgi, or /rest where the "
                "server maps it so (bugzilla.mozilla.org)");
  }

  bool login() {
    if (!arguments_.user) {
      return pass("login", "not checked: give --user LOGIN to check it", StepStatus::Skipped);
    }
    const std::string& user = *arguments_.user;
    api_key_ = bugzilla::authentication_of(connection_) == bugzilla::Authentication::ApiKey;
    Secret password;
    try {
      password = obtain_password(arguments_.password_file, user, api_key_ ? "API key" : "password");
    } catch (const PasswordError& error) {
      return fail("login", error.what(),
                  "give --password-file FILE or set BUGZILLA_PASSWORD, or run on a terminal");
    }
    if (api_key_) return api_key_login(user, std::move(password));
    // The plug-in's own sign-in; its session (token) then serves the product check.
    RequestContext context{const_cast<char*>(user.c_str()), password.text().data(),
                           const_cast<char*>(name_.c_str())};
    CallResult call;
    bugzilla::Session session(std::string{});  // doctor keeps its cookie file itself
    call.code = bugzilla::login_user(session, *client_, context, call.reply, service_);
    if (call.succeeded()) {
      token_ = Secret(session.token);
      logged_in_ = true;
      if (rest() && takes_credentials_only_in_urls()) {
        return pass("login",
                    "logged in as " + user + ", but this server (Bugzilla 5.0 to 5.2) takes the "
                    "password only as a URL query parameter, so it lands in the web server's "
                    "access log",
                    StepStatus::Warning,
                    "write <authentication>api_key</authentication> in the connection and give "
                    "an API key (Bugzilla: Preferences, API Keys) in place of the password");
      }
      return pass("login", "logged in as " + user);
    }
    if (call.fault() && call.fault_code() == "300") {
      return fail("login", "wrong login or password for " + user + " (" + fault_text(call) + ")",
                  "check --user (the Bugzilla login, usually an e-mail address) and the password "
                  "from --password-file, BUGZILLA_PASSWORD or the prompt");
    }
    if (call.fault()) {
      return fail("login", "Bugzilla refused the login of " + user + " (" + fault_text(call) + ")",
                  "the account may be disabled or locked; ask the Bugzilla administrator");
    }
    return fail("login", std::string(rest() ? "GET /login: " : "User.login: ") +
                             transport_problem(call),
                "the server stopped answering; run doctor again and check the server's log");
  }

  // The plug-in's own question (GET /whoami with the token in its header): upstream servers
  // do not read credentials from headers, so everything they take goes in the URL.
  bool takes_credentials_only_in_urls() {
    if (token_.text().empty()) return false;
    bugzilla::Credentials credentials;
    credentials.token = token_.text();
    XmlRpc::XmlRpcValue reply;
    bugzilla::ask_who_am_i(*client_, credentials, reply);
    return bugzilla::credential_place(bugzilla::session_server_of(*client_)) ==
           bugzilla::CredentialPlace::Parameters;
  }

  // The plug-in's own question for a key: whose is it? Each answer its own advice.
  bool api_key_login(const std::string& user, Secret key) {
    const bugzilla::ApiKeyCheck check =
        bugzilla::check_api_key(*client_, user, key.text(), service_);
    switch (check.owner) {
      case bugzilla::ApiKeyOwner::Login:
        token_ = std::move(key);
        logged_in_ = true;
        return pass("login", "the API key belongs to " + user);
      case bugzilla::ApiKeyOwner::SomeoneElse:
        return fail("login", "the API key belongs to someone else: " + check.message,
                    "give the API key of " + user + " (Bugzilla: Preferences, API Keys), or "
                    "the login it belongs to in --user");
      case bugzilla::ApiKeyOwner::UnknownOrRevoked:
        return fail("login", "the server does not know the API key, or it was revoked (" +
                                 check.message + ")",
                    "create a new API key in Bugzilla (Preferences, API Keys) and use that");
      case bugzilla::ApiKeyOwner::ServerTooOld:
        return fail("login", "the server is too old for API keys: " + check.message,
                    "write <authentication>password</authentication> in the connection (or "
                    "leave it out) and give the password, or upgrade Bugzilla to 5.0 or later");
      case bugzilla::ApiKeyOwner::Failed: break;
    }
    return fail("login",
                std::string(rest() ? "GET /whoami or /valid_login: " : "User.valid_login: ") +
                    check.message,
                "the server stopped answering; run doctor again and check the server's log");
  }

  XmlRpc::XmlRpcValue with_token(XmlRpc::XmlRpcValue params) {
    bugzilla::put_credential(params,
                             api_key_ ? bugzilla::Authentication::ApiKey
                                      : bugzilla::Authentication::Password,
                             token_.text());
    return params;
  }

  // A REST server may quote what the URL carried; the credential never reaches the report.
  CallResult call_with_token(const char* method, const XmlRpc::XmlRpcValue& params) {
    CallResult call = call_method(*client_, method, with_token(params), service_);
    bugzilla::hide_secret_in_fault(call.reply, token_.text(), api_key_ ? "[API key]" : "[token]");
    return call;
  }

  bool product() {
    const std::string& product = product_;
    if (product.empty()) {
      return fail("product", "the connection names no product",
                  "add <product>NAME</product> to the connection: bug lists search that product");
    }
    const std::string who = logged_in_ ? "to " + *arguments_.user : "without a login";
    const std::string hidden =
        logged_in_ ? "" : "; products with restricted access are found only with --user";
    XmlRpc::XmlRpcValue params;
    params["names"][0] = product;
    const CallResult call = call_with_token("Product.get", params);
    if (call.succeeded()) {
      const XmlRpc::XmlRpcValue* products = call.reply.find("products");
      for (int i = 0; products != nullptr && products->getType() == XmlRpc::XmlRpcValue::TypeArray &&
                      i < products->size();
           ++i) {
        const XmlRpc::XmlRpcValue* entry = products->at(i);
        const XmlRpc::XmlRpcValue* name = entry != nullptr ? entry->find("name") : nullptr;
        std::string text;
        try {
          text = name != nullptr ? name->toText() : "";
        } catch (const XmlRpc::XmlRpcException&) {
        }
        if (text == product || XmlRpc::equalsIgnoringAsciiCase(text, product)) {
          return pass("product", "product \"" + text + "\" exists and is visible " + who);
        }
      }
      return fail("product", "no product \"" + product + "\" is visible " + who,
                  "correct <product> in the connection: it must name a Bugzilla product the user "
                  "may see" + hidden);
    }
    // No Product.get: -32601 over XML-RPC, no such resource (32614) over REST.
    if (call.fault() && (call.fault_code() == "-32601" || call.fault_code() == "32614")) {
      return product_by_search(product, who, hidden);
    }
    if (call.fault()) {
      return fail("product", "Product.get refused: " + fault_text(call),
                  "correct <product> in the connection" + hidden);
    }
    return fail("product", "Product.get: " + transport_problem(call),
                "the server stopped answering; run doctor again and check the server's log");
  }

  // Servers without Product.get: a search limited to one bug. Bugzilla does not report an
  // unknown product in a search, so an empty result is only a warning.
  bool product_by_search(const std::string& product, const std::string& who,
                         const std::string& hidden) {
    XmlRpc::XmlRpcValue params;
    params["product"] = product;
    params["limit"] = 1;
    const CallResult call = call_with_token("Bug.search", params);
    if (call.succeeded()) {
      const XmlRpc::XmlRpcValue* bugs = call.reply.find("bugs");
      if (bugs != nullptr && bugs->getType() == XmlRpc::XmlRpcValue::TypeArray && bugs->size() > 0) {
        return pass("product", "product \"" + product + "\" has bugs visible " + who);
      }
      return pass("product", "no bug of product \"" + product + "\" is visible " + who +
                                 " (this server has no Product.get to tell an empty product "
                                 "from an unknown one)",
                  StepStatus::Warning, "check <product> in the connection" + hidden);
    }
    if (call.fault()) {
      return fail("product", "Bug.search refused: " + fault_text(call),
                  "correct <product> in the connection" + hidden);
    }
    return fail("product", "Bug.search: " + transport_problem(call),
                "the server stopped answering; run doctor again and check the server's log");
  }

  const Options& arguments_;
  Plugin& plugin_;
  std::string name_;
  std::string file_;
  DoctorReport report_;
  std::vector<std::string> names_;
  XmlRpc::XmlRpcValue connection_;
  std::string product_;
  std::vector<ResolvedAddress> addresses_;
  ScratchCookieFile cookies_;
  std::unique_ptr<XmlRpc::XmlRpcClient> client_;
  std::optional<CallResult> version_;
  bugzilla::WebService service_ = bugzilla::WebService::XmlRpc;
  Secret token_;  // the login token, or the API key of a key connection
  bool api_key_ = false;
  bool logged_in_ = false;
};

}  // namespace

int run_doctor(const Options& options, Plugin& plugin) { return Doctor(options, plugin).run(); }

}  // namespace host
