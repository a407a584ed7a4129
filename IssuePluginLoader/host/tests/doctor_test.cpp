// doctor against the Bugzilla test server: a passing run, and each failing step diagnosed
// with its advice while the later steps are skipped.
#include "host_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>

namespace host_test {
namespace {

constexpr const char* kSteps[] = {"connections file", "connection name", "host resolves",
                                  "TCP port",         "TLS",             "XML-RPC service",
                                  "login",            "product"};

// A loopback port on which nothing listens (bound once by us, then released).
int closed_port() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

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

TEST_F(Doctor, MissingConnectionsFile) {
  std::remove(dir_.file("BugzillaConnections.txt").c_str());
  Report report = doctor();
  expect_failure_at(report, "connections file");
  EXPECT_TRUE(contains(report.detail("connections file"), "does not exist"));
  EXPECT_TRUE(contains(report.advice("connections file"), "create the file"));
}

TEST_F(Doctor, UnknownConnectionNameListsTheConfiguredOnes) {
  Report report;
  report.run = host({"doctor", "--connection", "demo", "--json"});
  report.json = flatten_json(report.run.out);
  expect_failure_at(report, "connection name");
  EXPECT_EQ(report.detail("connection name"), "no connection is named \"demo\"");
  EXPECT_TRUE(contains(report.advice("connection name"), "use one of \"Demo\""));
}

TEST_F(Doctor, WrongPortIsFoundAtTheTcpStep) {
  static int port;
  port = closed_port();
  with_connection([](test_support::ConnectionSpec& spec) { spec.port = port; });
  Report report = doctor({"--user", kDemoUser});
  expect_failure_at(report, "TCP port");
  EXPECT_TRUE(contains(report.detail("TCP port"), "Connection refused")) << report.detail("TCP port");
  EXPECT_TRUE(contains(report.advice("TCP port"), "check <port>"));
}

TEST_F(Doctor, WrongPathIsA404) {
  with_connection([](test_support::ConnectionSpec& spec) { spec.uri = "/xmlrpc.php"; });
  Report report = doctor();
  expect_failure_at(report, "XML-RPC service");
  EXPECT_TRUE(contains(report.detail("XML-RPC service"), "wrong web service path"));
  EXPECT_TRUE(contains(report.detail("XML-RPC service"), "HTTP 404"));
}

TEST_F(Doctor, HtmlPageMeansNoXmlRpc) {
  server_->inject("Bugzilla.version", "not_xml");
  Report report = doctor();
  expect_failure_at(report, "XML-RPC service");
  EXPECT_TRUE(contains(report.detail("XML-RPC service"), "XML-RPC not enabled, or not Bugzilla"))
      << report.detail("XML-RPC service");
}

TEST_F(Doctor, ServerErrorIsNamedByItsStatus) {
  server_->inject("Bugzilla.version", "http500");
  Report report = doctor();
  expect_failure_at(report, "XML-RPC service");
  EXPECT_TRUE(contains(report.detail("XML-RPC service"), "answers HTTP 500"))
      << report.detail("XML-RPC service");
}

TEST_F(Doctor, WrongPassword) {
  Report report = doctor({"--user", kDemoUser},
                         RunOptions{{{"BUGZILLA_PASSWORD", "guess-1"}}, {}, "", 60});
  expect_failure_at(report, "login");
  EXPECT_TRUE(contains(report.detail("login"), "wrong login or password")) << report.detail("login");
  EXPECT_TRUE(contains(report.detail("login"), "fault 300"));
  EXPECT_FALSE(contains(report.run.out, "guess-1"));
}

TEST_F(Doctor, NoPasswordAtAllFailsTheLoginStep) {
  RunOptions none;
  none.unset = {"BUGZILLA_PASSWORD"};
  Report report = doctor({"--user", kDemoUser}, none);
  expect_failure_at(report, "login");
  EXPECT_TRUE(contains(report.detail("login"), "no password")) << report.detail("login");
}

TEST_F(Doctor, UnknownProduct) {
  with_connection([](test_support::ConnectionSpec& spec) { spec.product = "Wigdets"; });
  Report report = doctor({"--user", kDemoUser});
  expect_failure_at(report, "product");
  EXPECT_EQ(report.detail("product"),
            std::string("no product \"Wigdets\" is visible to ") + kDemoUser);
  EXPECT_TRUE(contains(report.advice("product"), "correct <product>"));
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
