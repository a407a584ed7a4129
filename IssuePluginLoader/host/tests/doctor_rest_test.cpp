// doctor on connections with <web_service>rest</web_service>, against the test server in both
// of its REST styles: upstream Bugzilla 5.0 to 5.2 (credentials only in the URL) and
// bugzilla.mozilla.org (credentials in headers, no xmlrpc.cgi).
#include "host_fixture.h"

#include <map>

namespace host_test {
namespace {

using test_support::TestServer;

constexpr const char* kSteps[] = {"connections file", "connection name", "host resolves",
                                  "TCP port",         "TLS",             "REST service",
                                  "login",            "product"};
constexpr const char* kAliceKey = "AliceApiKey0123456789abcdefghijKLMNOPQRS";
constexpr const char* kBobKey = "BobApiKey0123456789abcdefghijKLMNOPQRSTU";

struct Report {
  Outcome run;
  std::map<std::string, std::string> json;
  std::string field(const std::string& step, const std::string& name) {
    for (size_t i = 0; i < std::size(kSteps); ++i) {
      const std::string prefix = "/steps/" + std::to_string(i) + "/";
      if (json[prefix + "step"] == step) return json[prefix + name];
    }
    return "(no step " + step + ")";
  }
  std::string status(const std::string& step) { return field(step, "status"); }
  std::string detail(const std::string& step) { return field(step, "detail"); }
  std::string advice(const std::string& step) { return field(step, "advice"); }
};

class DoctorRest : public ::testing::TestWithParam<const char*> {
protected:
  static void TearDownTestSuite() { servers_.clear(); }

  void SetUp() override {
    std::unique_ptr<TestServer>& server = servers_[GetParam()];
    if (!server) {
      TestServer::Options options;
      options.rest_style = GetParam();
      server = std::make_unique<TestServer>(options);
    }
    server->reset();
    server_ = server.get();
    write_connection(server_->restUri(), "<web_service>REST</web_service>");
  }

  bool bmo() const { return std::string(GetParam()) == "bmo"; }
  std::string base_url() const { return server_->url() + server_->restUri(); }

  void write_connection(const std::string& uri, const std::string& extra) {
    test_support::ConnectionSpec spec = test_support::connection_for(*server_, "Demo");
    spec.uri = uri;
    spec.extra = extra;
    dir_.write("BugzillaConnections.txt", test_support::connections_file({spec}));
  }

  // doctor as JSON, with --user and `secret` in BUGZILLA_PASSWORD when a secret is given.
  Report doctor(const char* secret = nullptr, bool json = true) {
    std::vector<std::string> args{"--data-dir", dir_.path(), "doctor", "--connection", "Demo"};
    RunOptions options;
    if (secret != nullptr) {
      args.insert(args.end(), {"--user", kDemoUser});
      options.env["BUGZILLA_PASSWORD"] = secret;
    }
    if (json) args.push_back("--json");
    Report report;
    report.run = run_host(args, options);
    if (json) report.json = flatten_json(report.run.out);
    return report;
  }

  // `failed` failed with advice and every later step was skipped; exit status 1.
  static void expect_failure_at(Report& report, const std::string& failed) {
    EXPECT_EQ(report.run.status, 1) << report.run.out;
    bool after = false;
    for (const char* step : kSteps) {
      if (step == failed) {
        EXPECT_EQ(report.status(step), "failed") << step;
        EXPECT_FALSE(report.advice(step).empty()) << step;
        after = true;
      } else if (after) {
        EXPECT_EQ(report.status(step), "skipped") << step;
      }
    }
  }

  // The login token the server saw: a query parameter upstream, a header on bmo.
  std::string token_sent() {
    XmlRpc::XmlRpcValue requests = server_->requests();
    for (int i = 0; i < requests.size(); ++i) {
      if (requests[i]["params"].hasMember("token")) return requests[i]["params"]["token"].toText();
      if (requests[i]["headers"].hasMember("x-bugzilla-token")) {
        return requests[i]["headers"]["x-bugzilla-token"].toText();
      }
    }
    return "";
  }

  inline static std::map<std::string, std::unique_ptr<TestServer>> servers_;
  TestServer* server_ = nullptr;
  test_support::TempDir dir_;
};

TEST_P(DoctorRest, PassesWithAPasswordAndWarnsWhereItGoesInTheUrl) {
  Report report = doctor(kDemoPassword);
  ASSERT_EQ(report.run.status, 0) << report.run.out << report.run.err;
  EXPECT_EQ(report.json["/ok"], "true");
  for (const char* step : kSteps) {
    if (std::string(step) == "TLS" || std::string(step) == "login") continue;
    EXPECT_EQ(report.status(step), "ok") << step << ": " << report.detail(step);
  }
  EXPECT_EQ(report.detail("REST service"), std::string("Bugzilla ") +
                                               (bmo() ? "20260820.1" : "5.0.6") +
                                               " answers REST at " + base_url());
  EXPECT_TRUE(contains(report.detail("login"), std::string("logged in as ") + kDemoUser));
  // Upstream reads no credential header: the password can only go in the URL of GET /login.
  EXPECT_EQ(report.status("login"), bmo() ? "ok" : "warning");
  EXPECT_EQ(contains(report.detail("login"), "URL query parameter"), !bmo())
      << report.detail("login");
  EXPECT_EQ(contains(report.advice("login"), "<authentication>api_key</authentication>"), !bmo());
  // Every request went to the REST API.
  XmlRpc::XmlRpcValue requests = server_->requests();
  for (int i = 0; i < requests.size(); ++i) EXPECT_EQ(requests[i]["web_service"].toText(), "rest");

  const std::string token = token_sent();
  ASSERT_FALSE(token.empty());
  Report table = doctor(kDemoPassword, false);
  EXPECT_EQ(table.run.status, 0);
  EXPECT_TRUE(contains(table.run.out, "\n  ok    REST service ")) << table.run.out;
  for (const Outcome* run : {&report.run, &table.run}) {
    EXPECT_FALSE(contains(run->out + run->err, token));
    EXPECT_FALSE(contains(run->out + run->err, kDemoPassword));
  }
}

TEST_P(DoctorRest, SaysWhoseApiKeyItIs) {
  write_connection(server_->restUri(),
                   "<web_service>rest</web_service><authentication>api_key</authentication>");
  struct {
    const char* key;
    int status;
    const char* detail;
  } cases[] = {{kAliceKey, 0, "the API key belongs to alice@example.com"},
               {kBobKey, 1, "the API key belongs to someone else"},
               {"NoSuchKey0123456789abcdefghijKLMNOPQRSTU", 1,
                "does not know the API key, or it was revoked"}};
  for (const auto& c : cases) {
    Report report = doctor(c.key);
    EXPECT_EQ(report.run.status, c.status) << report.run.out;
    EXPECT_TRUE(contains(report.detail("login"), c.detail)) << report.detail("login");
    EXPECT_FALSE(contains(report.run.out + report.run.err, c.key));
  }
}

TEST_P(DoctorRest, WrongBasePathNamesTheOneThatAnswers) {
  write_connection("/bugzilla/rest.php", "<web_service>rest</web_service>");
  Report report = doctor(kDemoPassword);
  expect_failure_at(report, "REST service");
  EXPECT_EQ(report.detail("REST service"), "wrong REST base path: " + server_->url() +
                                               "/bugzilla/rest.php/version answers HTTP 404 "
                                               "(not found)");
  EXPECT_TRUE(contains(report.advice("REST service"),
                       "set <web_service_extension> to /bugzilla/rest: Bugzilla "))
      << report.advice("REST service");
}

TEST_P(DoctorRest, HtmlPageIsNotTheRestApi) {
  server_->inject("Bugzilla.version", "not_xml");
  Report report = doctor();
  expect_failure_at(report, "REST service");
  EXPECT_TRUE(contains(report.detail("REST service"), "not Bugzilla's REST API"))
      << report.detail("REST service");
}

// bugzilla.mozilla.org has no xmlrpc.cgi: an XML-RPC connection is pointed at its REST API.
// Upstream's xmlrpc.cgi answers, and nothing is suggested.
TEST_P(DoctorRest, XmlRpcNotFoundSuggestsTheRestApi) {
  write_connection("/xmlrpc.cgi", "");
  Report report = doctor();
  if (!bmo()) {
    EXPECT_EQ(report.run.status, 0) << report.run.out;
    EXPECT_EQ(report.json["/steps/5/status"], "ok");
    return;
  }
  EXPECT_EQ(report.run.status, 1);
  EXPECT_EQ(report.json["/steps/5/step"], "XML-RPC service");
  EXPECT_EQ(report.json["/steps/5/status"], "failed");
  EXPECT_EQ(report.json["/steps/5/detail"],
            server_->url() + "/xmlrpc.cgi answers HTTP 404 (not found): this server offers only "
                             "the REST API (Bugzilla 20260820.1 answers REST at " +
                server_->url() + "/rest)");
  EXPECT_EQ(report.json["/steps/5/advice"],
            "set <web_service>rest</web_service> and "
            "<web_service_extension>/rest</web_service_extension> in the connection");
}

INSTANTIATE_TEST_SUITE_P(Styles, DoctorRest, ::testing::Values("upstream", "bmo"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param);
                         });

}  // namespace
}  // namespace host_test
