// doctor against the Bugzilla test server: a passing run, and each failing step diagnosed
// with its advice while the later steps are skipped.
#include "host_fixture.h"

#include <cstdio>

namespace host_test {
namespace {

constexpr const char* kSteps[] = {"connections file", "connection name", "host resolves",
                                  "TCP port",         "TLS",             "XML-RPC service",
                                  "login",            "product"};

class Doctor : public HostTest {
protected:
  struct Report {
    Outcome run;
    std::map<std::string, std::string> json;
    std::string status(const std::string& step) { return field(step, "status"); }
    std::string detail(const std::string& step) { return field(step, "detail"); }
    std::string advice(const std::string& step) { return field(step, "advice"); }
    std::string field(const std::string& step, const std::string& name) {
      for (int i = 0; i < 8; ++i) {
        const std::string prefix = "/steps/" + std::to_string(i) + "/";
        if (json[prefix + "step"] == step) return json[prefix + name];
      }
      return "(no step " + step + ")";
    }
  };

  Report doctor(std::vector<std::string> extra = {}, RunOptions options = {}) {
    std::vector<std::string> args{"doctor", "--connection", "Demo", "--json"};
    args.insert(args.end(), extra.begin(), extra.end());
    Report report;
    report.run = host(args, options);
    report.json = flatten_json(report.run.out);
    return report;
  }

  // Every step before `failed` passed (or was skipped as not applicable), `failed` failed
  // and every later step was skipped; exit status 1.
  static void expect_failure_at(Report& report, const std::string& failed) {
    EXPECT_EQ(report.run.status, 1) << report.run.out;
    EXPECT_EQ(report.json["/ok"], "false");
    bool after = false;
    for (const char* step : kSteps) {
      const std::string status = report.status(step);
      if (step == failed) {
        EXPECT_EQ(status, "failed") << step;
        EXPECT_FALSE(report.advice(step).empty()) << step;
        after = true;
      } else if (after) {
        EXPECT_EQ(status, "skipped") << step;
      } else {
        EXPECT_TRUE(status == "ok" || status == "skipped") << step << ": " << status;
      }
    }
  }

  void with_connection(void (*change)(test_support::ConnectionSpec&)) {
    test_support::ConnectionSpec spec = demo_connection();
    change(spec);
    write_connections({spec});
  }
};

TEST_F(Doctor, PassingRunWithLoginAndProduct) {
  Report report = doctor({"--user", kDemoUser});
  ASSERT_EQ(report.run.status, 0) << report.run.out << report.run.err;
  EXPECT_EQ(report.json["/ok"], "true");
  EXPECT_EQ(report.json["/connection"], "Demo");
  for (const char* step : kSteps) {
    EXPECT_EQ(report.status(step), std::string(step) == "TLS" ? "skipped" : "ok") << step;
  }
  EXPECT_EQ(report.detail("XML-RPC service"),
            "Bugzilla 5.0.6 answers at http://127.0.0.1:" + std::to_string(server_->port()) +
                "/xmlrpc.cgi");
  EXPECT_EQ(report.detail("login"), std::string("logged in as ") + kDemoUser);
  EXPECT_TRUE(contains(report.detail("product"), "\"Widgets\" exists")) << report.detail("product");

  // The product check went out with the login's token, and neither the token nor the
  // password shows anywhere.
  auto requests = server_->requests();
  std::string token;
  for (int i = 0; i < requests.size(); ++i) {
    if (requests[i]["method"].toText() == "Product.get" &&
        requests[i]["params"][0].hasMember("token")) {
      token = requests[i]["params"][0]["token"].toText();
    }
  }
  ASSERT_FALSE(token.empty());
  const Outcome table = host({"doctor", "--connection", "Demo", "--user", kDemoUser});
  EXPECT_EQ(table.status, 0);
  EXPECT_TRUE(contains(table.out, "Result: the connection works.\n")) << table.out;
  for (const Outcome* run : std::vector<const Outcome*>{&report.run, &table}) {
    EXPECT_FALSE(contains(run->out + run->err, token));
    EXPECT_FALSE(contains(run->out + run->err, kDemoPassword));
  }
}

TEST_F(Doctor, WithoutUserTheLoginIsSkippedAndThePublicProductChecked) {
  Report report = doctor();
  EXPECT_EQ(report.run.status, 0) << report.run.out;
  EXPECT_EQ(report.status("login"), "skipped");
  EXPECT_EQ(report.status("product"), "ok");
  EXPECT_TRUE(contains(report.detail("product"), "without a login"));
}

TEST_F(Doctor, TableShowsEachStepAndWhatToDo) {
  with_connection([](test_support::ConnectionSpec& spec) { spec.uri = "/bugzilla/wrong.cgi"; });
  const Outcome run = host({"doctor", "--connection", "Demo"});
  EXPECT_EQ(run.status, 1);
  const auto lines = lines_of(run.out);
  ASSERT_EQ(lines.size(), 1u + 8u + 1u + 1u) << run.out;  // heading, steps, advice, result
  EXPECT_EQ(lines[0].rfind("Checking connection \"Demo\" of ", 0), 0u);
  EXPECT_EQ(lines[1].rfind("  ok    connections file  ", 0), 0u) << lines[1];
  EXPECT_EQ(lines[5].rfind("  skip  TLS  ", 0), 0u) << lines[5];
  EXPECT_EQ(lines[6].rfind("  FAIL  XML-RPC service   wrong web service path", 0), 0u) << lines[6];
  EXPECT_TRUE(contains(lines[7], "what to do: set <web_service_extension>")) << lines[7];
  EXPECT_EQ(lines[8].rfind("  skip  login", 0), 0u) << lines[8];
  EXPECT_EQ(lines.back(), "Result: the connection does not work (1 step failed).");
}

// One failing step per case: what is wrong, the step that must catch it, and what its
// detail and advice must say. Every case runs twice, as JSON and as the table.
struct Failure {
  const char* name;
  void (*change)(test_support::ConnectionSpec&);  // applied to the demo connection, or nullptr
  const char* file_text;   // written as BugzillaConnections.txt instead, when not nullptr
  bool remove_file;        // no BugzillaConnections.txt at all
  const char* inject;      // the kind injected into Bugzilla.version, or nullptr
  const char* connection;  // --connection
  bool with_user;          // --user with the demo login
  const char* password;    // BUGZILLA_PASSWORD; nullptr: the right one, "": unset
  const char* step;        // the step that fails
  const char* detail;      // part of its detail
  const char* advice;      // part of its advice
};

void PrintTo(const Failure& failure, std::ostream* out) { *out << failure.name; }

class DoctorFails : public Doctor, public ::testing::WithParamInterface<Failure> {};

TEST_P(DoctorFails, AtItsStepWithAdvice) {
  const Failure& c = GetParam();
  if (c.remove_file) std::remove(dir_.file("BugzillaConnections.txt").c_str());
  if (c.file_text != nullptr) dir_.write("BugzillaConnections.txt", c.file_text);
  if (c.change != nullptr) with_connection(c.change);
  if (c.inject != nullptr) server_->inject("Bugzilla.version", c.inject);

  std::vector<std::string> args{"doctor", "--connection", c.connection};
  if (c.with_user) args.insert(args.end(), {"--user", kDemoUser});
  RunOptions options;
  if (c.password != nullptr && *c.password == '\0') options.unset = {"BUGZILLA_PASSWORD"};
  if (c.password != nullptr && *c.password != '\0') options.env["BUGZILLA_PASSWORD"] = c.password;

  Report report;
  std::vector<std::string> json_args = args;
  json_args.push_back("--json");
  report.run = host(json_args, options);
  report.json = flatten_json(report.run.out);
  expect_failure_at(report, c.step);
  EXPECT_TRUE(contains(report.detail(c.step), c.detail)) << report.detail(c.step);
  EXPECT_TRUE(contains(report.advice(c.step), c.advice)) << report.advice(c.step);

  const Outcome table = host(args, options);
  EXPECT_EQ(table.status, 1);
  EXPECT_TRUE(contains(table.out, std::string("\n  FAIL  ") + c.step + " ")) << table.out;
  EXPECT_TRUE(contains(table.out, "\n                          what to do: ")) << table.out;
  EXPECT_TRUE(contains(table.out, c.advice)) << table.out;
  EXPECT_TRUE(contains(table.out, "Result: the connection does not work (1 step failed).\n"));

  // Whatever failed, no password shows.
  for (const Outcome* run : std::vector<const Outcome*>{&report.run, &table}) {
    EXPECT_FALSE(contains(run->out + run->err, kDemoPassword));
    if (c.password != nullptr && *c.password != '\0') {
      EXPECT_FALSE(contains(run->out + run->err, c.password));
    }
  }
}

// A loopback port on which nothing listens, for the TCP step.
void closed_port_of(test_support::ConnectionSpec& spec) {
  spec.port = test_support::refused_port();
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, DoctorFails,
    ::testing::Values(
        Failure{"MissingConnectionsFile", nullptr, nullptr, true, nullptr, "Demo", false, nullptr,
                "connections file", "does not exist", "create the file"},
        Failure{"BrokenConnectionsFile", nullptr,
                "<bugzilla_connections><connection><name>Demo</name", false, nullptr, "Demo",
                false, nullptr, "connections file", "not well-formed XML",
                "correct the entry the message names"},
        Failure{"PortNotANumber", nullptr,
                "<bugzilla_connections><velloran_server><ip_address>v</ip_address><port>1</port>"
                "</velloran_server><connection><name>Demo</name><server_url>http://127.0.0.1"
                "</server_url><port>44x3</port><web_service_extension>/xmlrpc.cgi"
                "</web_service_extension><product>Widgets</product></connection>"
                "</bugzilla_connections>",
                false, nullptr, "Demo", false, nullptr, "connections file",
                "port is not a number: \"44x3\"", "correct the entry the message names"},
        Failure{"UnknownConnectionName", nullptr, nullptr, false, nullptr, "demo", false, nullptr,
                "connection name", "no connection is named \"demo\"", "use one of \"Demo\""},
        Failure{"UnresolvableHost",
                [](test_support::ConnectionSpec& spec) {
                  spec.server_url = "http://no-such-host.invalid";
                },
                nullptr, false, nullptr, "Demo", false, nullptr, "host resolves",
                "\"no-such-host.invalid\" does not resolve", "check the host name"},
        Failure{"WrongPort", closed_port_of, nullptr, false, nullptr, "Demo", true, nullptr,
                "TCP port", "Connection refused", "check <port>"},
        // An IPv6 literal is split by the client's own URL parser: DNS and TCP see "::1".
        Failure{"Ipv6LiteralReachesTheTcpStep",
                [](test_support::ConnectionSpec& spec) {
                  spec.server_url = "http://[::1]";
                  spec.port = test_support::refused_port();
                },
                nullptr, false, nullptr, "Demo", false, nullptr, "TCP port",
                " of ::1 does not accept connections", "check <port>"},
        Failure{"HttpsToAPlainHttpPort",
                [](test_support::ConnectionSpec& spec) { spec.server_url = "https://127.0.0.1"; },
                nullptr, false, nullptr, "Demo", true, nullptr, "TLS", "the TLS handshake failed",
                "write http:// in <server_url>"},
        Failure{"WrongPathIsA404",
                [](test_support::ConnectionSpec& spec) { spec.uri = "/xmlrpc.php"; }, nullptr,
                false, nullptr, "Demo", true, nullptr, "XML-RPC service",
                "wrong web service path: http://127.0.0.1:", "set <web_service_extension>"},
        Failure{"HtmlPageMeansNoXmlRpc", nullptr, nullptr, false, "not_xml", "Demo", true,
                nullptr, "XML-RPC service", "XML-RPC not enabled, or not Bugzilla",
                "enable Bugzilla's XML-RPC interface"},
        Failure{"ServerErrorIsNamedByItsStatus", nullptr, nullptr, false, "http500", "Demo", true,
                nullptr, "XML-RPC service", "answers HTTP 500", "web server's error log"},
        Failure{"WrongPassword", nullptr, nullptr, false, nullptr, "Demo", true, "guess-1",
                "login", "wrong login or password for alice@example.com (fault 300",
                "check --user"},
        Failure{"NoPasswordAtAll", nullptr, nullptr, false, nullptr, "Demo", true, "", "login",
                "no password", "--password-file"},
        Failure{"UnknownProduct",
                [](test_support::ConnectionSpec& spec) { spec.product = "Wigdets"; }, nullptr,
                false, nullptr, "Demo", true, nullptr, "product",
                "no product \"Wigdets\" is visible to alice@example.com", "correct <product>"}),
    [](const ::testing::TestParamInfo<Failure>& info) { return info.param.name; });

TEST_F(Doctor, WrongPathNamesTheUrlAndTheStatus) {
  with_connection([](test_support::ConnectionSpec& spec) { spec.uri = "/xmlrpc.php"; });
  Report report = doctor();
  EXPECT_EQ(report.detail("XML-RPC service"),
            "wrong web service path: http://127.0.0.1:" + std::to_string(server_->port()) +
                "/xmlrpc.php answers HTTP 404 (not found)");
}

TEST_F(Doctor, RestrictedProductNeedsTheLogin) {
  with_connection([](test_support::ConnectionSpec& spec) { spec.product = "Secret"; });
  Report anonymous = doctor();
  expect_failure_at(anonymous, "product");
  EXPECT_TRUE(contains(anonymous.advice("product"), "found only with --user"));
  Report logged_in = doctor({"--user", kDemoUser});
  EXPECT_EQ(logged_in.run.status, 0) << logged_in.run.out;
  EXPECT_EQ(logged_in.status("product"), "ok");
}

TEST_F(Doctor, WithoutProductGetTheSearchDecides) {
  XmlRpc::XmlRpcValue fault;
  fault["code"] = -32601;
  fault["string"] = "Can't locate object method \"get\" via package \"Bugzilla::WebService::Product\"";
  server_->inject("Product.get", "fault", fault);
  Report found = doctor({"--user", kDemoUser});
  EXPECT_EQ(found.run.status, 0) << found.run.out;
  EXPECT_TRUE(contains(found.detail("product"), "has bugs")) << found.detail("product");

  with_connection([](test_support::ConnectionSpec& spec) { spec.product = "Wigdets"; });
  Report empty = doctor({"--user", kDemoUser});
  EXPECT_EQ(empty.run.status, 0) << empty.run.out;
  EXPECT_EQ(empty.status("product"), "warning");
  EXPECT_EQ(empty.json["/ok"], "true");
}

}  // namespace
}  // namespace host_test
