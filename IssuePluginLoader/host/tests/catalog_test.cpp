// Commands that need no Bugzilla server: connections, filters, workflow, validate; their
// tables, their JSON and their exit statuses.
#include "host_fixture.h"

namespace host_test {
namespace {

test_support::ConnectionSpec connection(const std::string& name, const std::string& url, int port) {
  test_support::ConnectionSpec spec;
  spec.name = name;
  spec.server_url = url;
  spec.port = port;
  return spec;
}

class Catalog : public ::testing::Test {
protected:
  Outcome host(std::vector<std::string> args) {
    args.insert(args.begin(), {"--data-dir", dir_.path()});
    return run_host(args);
  }
  test_support::TempDir dir_;
};

TEST_F(Catalog, ConnectionsTableAndJsonKeepTheFileOrder) {
  dir_.write("BugzillaConnections.txt",
             test_support::connections_file({connection("Main tracker", "https://bugzilla.example.com", 443),
                                             connection("QA", "http://qa.example.com", -1)}));

  const Outcome table = host({"connections"});
  ASSERT_EQ(table.status, 0) << table.err;
  EXPECT_EQ(table.out, "CONNECTION\nMain tracker\nQA\n");

  const Outcome json = host({"connections", "--json"});
  ASSERT_EQ(json.status, 0) << json.err;
  auto flat = flatten_json(json.out);
  EXPECT_EQ(flat["/connections/0/name"], "Main tracker");
  EXPECT_EQ(flat["/connections/1/name"], "QA");
  EXPECT_EQ(flat.count("/connections/2/name"), 0u);
}

TEST_F(Catalog, JsonEscapesWhateverANameHolds) {
  // Quote, backslash, tab and UTF-8 inside a name (the reader trims only the ends).
  const std::string odd = "Q\"A \\ tab\there – Größe ✓";
  const auto entry = [](const std::string& name) {
    return "<connection><name>" + name +
           "</name><server_url>http://a</server_url><port>80</port>"
           "<web_service_extension>/xmlrpc.cgi</web_service_extension><product>P</product>"
           "</connection>";
  };
  dir_.write("BugzillaConnections.txt",
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?><bugzilla_connections>"
             "<velloran_server><ip_address>v</ip_address><port>1</port></velloran_server>" +
                 entry("x &amp; y") + entry("Q&quot;A \\ tab\there – Größe ✓") +
                 "</bugzilla_connections>\n");
  const Outcome json = host({"connections", "--json"});
  ASSERT_EQ(json.status, 0) << json.err;
  auto flat = flatten_json(json.out);
  ASSERT_EQ(flat.count("!error"), 0u) << flat["!error"] << "\n" << json.out;
  EXPECT_EQ(flat["/connections/0/name"], "x & y");
  EXPECT_EQ(flat["/connections/1/name"], odd);
  EXPECT_TRUE(contains(json.out, "\\t")) << "a tab must be escaped: " << json.out;

  // The table shows the tab as a space, nothing raw.
  const Outcome table = host({"connections"});
  EXPECT_TRUE(contains(table.out, "Q\"A \\ tab here – Größe ✓\n")) << table.out;
}

TEST_F(Catalog, EmptyConnectionsFileIsNotAnError) {
  dir_.write("BugzillaConnections.txt",
             "<?xml version=\"1.0\"?><bugzilla_connections><velloran_server><ip_address>v"
             "</ip_address><port>1</port></velloran_server></bugzilla_connections>\n");
  const Outcome table = host({"connections"});
  EXPECT_EQ(table.status, 0) << table.err;
  EXPECT_TRUE(contains(table.out, "No connections are configured")) << table.out;
  const Outcome json = host({"connections", "--json"});
  EXPECT_EQ(flatten_json(json.out)["/connections"], "[]") << json.out;
}

TEST_F(Catalog, MissingConnectionsFileFailsWithThePluginsMessage) {
  const Outcome missing = host({"connections"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err,
            "issue-plugin-host: GetConnectionList failed: BugzillaConnections.txt does not exist\n");
  EXPECT_EQ(missing.out, "");
}

TEST_F(Catalog, DataDirectoryWithTrailingSlashWorks) {
  dir_.write("BugzillaConnections.txt", test_support::connections_file({connection("One", "http://a", 80)}));
  const Outcome run = run_host({"--data-dir", dir_.path() + "/", "connections"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(contains(run.out, "One\n"));
}

TEST(Sample, DocumentedConnectionsFileIsValid) {
  const Outcome run =
      run_host({"--data-dir", std::string(SOURCE_ROOT) + "/testing/sample", "connections"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "CONNECTION\nMain tracker\nQA\n");
}

TEST_F(Catalog, FiltersInThePluginsOrder) {
  const Outcome table = host({"filters"});
  ASSERT_EQ(table.status, 0) << table.err;
  EXPECT_EQ(table.out, "FILTER\nAssigned To Me\nCreated By Me\nNot Filtered\n");
  auto flat = flatten_json(host({"filters", "--json"}).out);
  EXPECT_EQ(flat["/filters/0"], "Assigned To Me");
  EXPECT_EQ(flat["/filters/1"], "Created By Me");
  EXPECT_EQ(flat["/filters/2"], "Not Filtered");
  EXPECT_EQ(flat.size(), 3u);
}

TEST_F(Catalog, WorkflowListsTheTwoFixFields) {
  const Outcome table = host({"workflow"});
  ASSERT_EQ(table.status, 0) << table.err;
  EXPECT_EQ(table.out,
            "FIELD         KEY        TYPE\n"
            "Hours Worked  work_time  2\n"
            "Comment       comment    3\n");
  auto flat = flatten_json(host({"workflow", "--json"}).out);
  EXPECT_EQ(flat["/fields/0/label"], "Hours Worked");
  EXPECT_EQ(flat["/fields/0/key"], "work_time");
  EXPECT_EQ(flat["/fields/0/type"], "2");
  EXPECT_EQ(flat["/fields/0/choices"], "[]");
  EXPECT_EQ(flat["/fields/1/label"], "Comment");
  EXPECT_EQ(flat["/fields/1/key"], "comment");
  EXPECT_EQ(flat["/fields/1/type"], "3");
}

struct ValidateCase {
  std::string hours;
  size_t comment_bytes;
  bool valid;
  const char* message;
};

void PrintTo(const ValidateCase& c, std::ostream* out) {
  *out << "--hours \"" << c.hours << "\", a comment of " << c.comment_bytes << " bytes";
}

class Validate : public Catalog, public ::testing::WithParamInterface<ValidateCase> {};

TEST_P(Validate, VerdictAndExitStatus) {
  const ValidateCase& c = GetParam();
#if defined(_WIN32)
  // A Windows command line holds at most 32767 characters: the comment cannot reach the host.
  if (c.comment_bytes > 32000) GTEST_SKIP() << "argument longer than a Windows command line";
#endif
  const std::vector<std::string> entries{"--hours", c.hours, "--comment",
                                         std::string(c.comment_bytes, 'c')};
  std::vector<std::string> args{"validate"};
  args.insert(args.end(), entries.begin(), entries.end());
  const Outcome table = host(args);
  EXPECT_EQ(table.status, c.valid ? 0 : 1) << table.err;
  EXPECT_EQ(table.out, c.valid ? std::string("valid\n") : std::string("invalid: ") + c.message + "\n");

  args.push_back("--json");
  const Outcome json = host(args);
  EXPECT_EQ(json.status, c.valid ? 0 : 1);
  auto flat = flatten_json(json.out);
  EXPECT_EQ(flat["/valid"], c.valid ? "true" : "false");
  EXPECT_EQ(flat["/message"], c.valid ? std::string("null") : std::string(c.message));
}

INSTANTIATE_TEST_SUITE_P(
    Entries, Validate,
    // The limits themselves are the plug-in's tests; here its verdict and message pass through.
    ::testing::Values(ValidateCase{"2", 10, true, ""},
                      ValidateCase{"100000", 10, false, "Too Many Hours Worked"},
                      ValidateCase{"1", 60000, false, "Comment must be less than 60,000 characters"}));

TEST_F(Catalog, ValidateWithoutEntriesTakesThemAsEmpty) {
  const Outcome run = host({"validate"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "valid\n");
}

}  // namespace
}  // namespace host_test
