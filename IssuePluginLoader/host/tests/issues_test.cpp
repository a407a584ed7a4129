// list and show against the Bugzilla test server: tables, JSON, failures and the password's
// sources.
#include "host_fixture.h"

#include <set>

namespace host_test {
namespace {

// Bugs of product Widgets assigned to alice in the default fixture, in id order.
const std::vector<std::string> kAliceAssigned = {"1",  "3",  "4",  "5",  "8",  "10", "12",
                                                 "13", "14", "17", "18", "21", "23", "26",
                                                 "27", "29", "31", "32", "35"};

size_t display_columns(const std::string& text) {
  size_t count = 0;
  for (unsigned char c : text) count += (c & 0xC0) != 0x80;
  return count;
}

// The display column at which `part` starts in `line`.
size_t column_of(const std::string& line, const std::string& part) {
  const size_t at = line.find(part);
  return at == std::string::npos ? std::string::npos : display_columns(line.substr(0, at));
}

class Issues : public HostTest {
protected:
  Outcome list(std::vector<std::string> extra = {}, RunOptions options = {}) {
    std::vector<std::string> args{"list", "--connection", "Demo", "--user", kDemoUser};
    args.insert(args.end(), extra.begin(), extra.end());
    return host(args, options);
  }
  Outcome show(const std::string& id, std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"show", "--connection", "Demo", "--user", kDemoUser, id};
    args.insert(args.end(), extra.begin(), extra.end());
    return host(args);
  }
};

TEST_F(Issues, ListTableIsAlignedAndCounted) {
  const Outcome run = list();
  ASSERT_EQ(run.status, 0) << run.err;
  const auto lines = lines_of(run.out);
  ASSERT_EQ(lines.size(), kAliceAssigned.size() + 2) << run.out;
  EXPECT_EQ(lines.front(), "ID  STATUS       SEVERITY     SUMMARY");
  EXPECT_EQ(lines.back(), std::to_string(kAliceAssigned.size()) + " bugs");
  const size_t summary_column = column_of(lines.front(), "SUMMARY");
  std::set<std::string> ids;
  for (size_t i = 1; i + 1 < lines.size(); ++i) {
    ids.insert(lines[i].substr(0, lines[i].find(' ')));
  }
  EXPECT_EQ(ids, std::set<std::string>(kAliceAssigned.begin(), kAliceAssigned.end()));
  // Rows with multi-byte summaries (bug 8) line up like the others.
  for (const auto& [line, summary] :
       std::vector<std::pair<std::string, std::string>>{
           {"1 ", "Frobnicator crashes on startup"}, {"8 ", "Größenänderung"}}) {
    bool seen = false;
    for (const auto& row : lines) {
      if (row.compare(0, line.size(), line) != 0) continue;
      EXPECT_EQ(column_of(row, summary), summary_column) << row;
      seen = true;
    }
    EXPECT_TRUE(seen) << summary;
  }
  EXPECT_TRUE(contains(run.out, "1   CONFIRMED    critical     Frobnicator crashes on startup\n"))
      << run.out;
}

TEST_F(Issues, ListCutsLongSummariesToTheTerminalWidth) {
  RunOptions narrow;
  narrow.env["COLUMNS"] = "50";
  const Outcome run = list({}, narrow);
  ASSERT_EQ(run.status, 0) << run.err;
  bool cut = false;
  for (const auto& line : lines_of(run.out)) {
    EXPECT_LE(display_columns(line), 50u) << line;
    cut = cut || (line.size() > 3 && line.compare(line.size() - 3, 3, "...") == 0);
  }
  EXPECT_TRUE(cut) << run.out;
}

TEST_F(Issues, ListJsonIsCompleteWithDescriptions) {
  const Outcome run = list({"--json"});
  ASSERT_EQ(run.status, 0) << run.err;
  auto flat = flatten_json(run.out);
  EXPECT_EQ(flat["/connection"], "Demo");
  EXPECT_EQ(flat["/filter"], "Assigned To Me");
  std::set<std::string> ids;
  for (size_t i = 0; flat.count("/bugs/" + std::to_string(i) + "/id") != 0; ++i) {
    const std::string bug = "/bugs/" + std::to_string(i);
    ids.insert(flat[bug + "/id"]);
    if (flat[bug + "/id"] == "1") {
      EXPECT_EQ(flat[bug + "/summary"], "Frobnicator crashes on startup");
      EXPECT_EQ(flat[bug + "/status"], "CONFIRMED");
      EXPECT_EQ(flat[bug + "/severity"], "critical");
      EXPECT_EQ(flat[bug + "/description"], "Start the frobnicator; it segfaults immediately.");
    }
    if (flat[bug + "/id"] == "8") {
      // Long texts are never cut in JSON, and UTF-8 passes through.
      EXPECT_EQ(flat[bug + "/summary"], "Größenänderung wird nicht gespeichert – „XL“ geht verloren");
      EXPECT_EQ(flat[bug + "/description"],
                "Nach dem Speichern ist die Größe „XL“ wieder „M“. Grüße aus Köln!");
    }
  }
  EXPECT_EQ(ids, std::set<std::string>(kAliceAssigned.begin(), kAliceAssigned.end()));
}

TEST_F(Issues, ListOtherFilters) {
  auto created = flatten_json(list({"--filter", "Created By Me", "--json"}).out);
  std::set<std::string> ids;
  for (size_t i = 0; created.count("/bugs/" + std::to_string(i) + "/id") != 0; ++i) {
    ids.insert(created["/bugs/" + std::to_string(i) + "/id"]);
  }
  EXPECT_TRUE(ids.count("2") == 1 && ids.count("4") == 1 && ids.count("1") == 0) << created.size();

  const Outcome all = list({"--filter", "Not Filtered"});
  ASSERT_EQ(all.status, 0) << all.err;
  EXPECT_TRUE(contains(all.out, "\n7   UNCONFIRMED")) << all.out;  // bob's bug without comments
}

TEST_F(Issues, ListWithAFilterThePluginDoesNotOfferIsAUsageError) {
  const Outcome run = list({"--filter", "assigned to me"});
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(contains(run.err, "unknown filter \"assigned to me\"; the plug-in offers "
                                "\"Assigned To Me\", \"Created By Me\", \"Not Filtered\""))
      << run.err;
  EXPECT_TRUE(server_->methods().empty()) << "nothing may reach the server";
}

TEST_F(Issues, ListWithoutMatchesSaysSo) {
  const Outcome run = host({"list", "--connection", "Demo", "--user", "carol@example.com"},
                       RunOptions{{{"BUGZILLA_PASSWORD", "Grüße-pass-1"}}, {}, "", 60});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "No bugs match the filter \"Assigned To Me\" in connection \"Demo\".\n");
  const Outcome json = host({"list", "--connection", "Demo", "--user", "carol@example.com", "--json"},
                        RunOptions{{{"BUGZILLA_PASSWORD", "Grüße-pass-1"}}, {}, "", 60});
  EXPECT_EQ(flatten_json(json.out)["/bugs"], "[]") << json.out;
}

TEST_F(Issues, FailuresGoToStderrWithThePluginsMessage) {
  const Outcome unknown = host({"list", "--connection", "Nowhere", "--user", kDemoUser});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_EQ(unknown.err, "issue-plugin-host: GetIssueList failed: Connection Not Found\n");
  EXPECT_EQ(unknown.out, "");

  const Outcome wrong = host({"list", "--connection", "Demo", "--user", kDemoUser, "--json"},
                         RunOptions{{{"BUGZILLA_PASSWORD", "not-the-password"}}, {}, "", 60});
  EXPECT_EQ(wrong.status, 1);
  EXPECT_TRUE(contains(wrong.err, "GetIssueList failed: ")) << wrong.err;
  EXPECT_FALSE(contains(wrong.err, "not-the-password")) << wrong.err;
  EXPECT_EQ(wrong.out, "");
}

TEST_F(Issues, PasswordSources) {
  RunOptions none;
  none.unset = {"BUGZILLA_PASSWORD"};
  const Outcome missing = list({}, none);
  EXPECT_EQ(missing.status, 2);
  EXPECT_TRUE(contains(missing.err, "no password: give --password-file FILE or set "
                                    "BUGZILLA_PASSWORD"))
      << missing.err;
  EXPECT_TRUE(server_->methods().empty());

  dir_.write("password.txt", std::string(kDemoPassword) + "\r\nsecond line ignored\n");
  const Outcome from_file = list({"--password-file", dir_.file("password.txt")}, none);
  EXPECT_EQ(from_file.status, 0) << from_file.err;

  RunOptions piped = none;
  piped.input = std::string(kDemoPassword) + "\n";
  const Outcome from_stdin = list({"--password-file", "-"}, piped);
  EXPECT_EQ(from_stdin.status, 0) << from_stdin.err;

  // The file wins over the environment.
  RunOptions both;
  both.env["BUGZILLA_PASSWORD"] = "wrong";
  EXPECT_EQ(list({"--password-file", dir_.file("password.txt")}, both).status, 0);

  const Outcome unreadable = list({"--password-file", dir_.file("absent.txt")}, none);
  EXPECT_EQ(unreadable.status, 2);
  EXPECT_TRUE(contains(unreadable.err, "cannot read the password file")) << unreadable.err;
  dir_.write("empty.txt", "\n");
  EXPECT_EQ(list({"--password-file", dir_.file("empty.txt")}, none).status, 2);

  for (const Outcome* run : {&from_file, &from_stdin}) {
    EXPECT_FALSE(contains(run->out + run->err, kDemoPassword));
  }
}

TEST_F(Issues, ShowDuplicateBug) {
  const Outcome run = show("4");
  ASSERT_EQ(run.status, 0) << run.err;
  const auto lines = lines_of(run.out);
  ASSERT_GE(lines.size(), 6u) << run.out;
  EXPECT_EQ(lines[0], "Bug 4: Frobnicator crashes at launch");
  EXPECT_EQ(lines[1], "  Status:    RESOLVED");
  EXPECT_EQ(lines[2], "  Severity:  critical");
  EXPECT_EQ(lines[3], "Description:");
  EXPECT_TRUE(contains(run.out, "\nFIELD ")) << run.out;
  bool resolution = false, dates = false;
  for (const auto& line : lines) {
    if (line.rfind("Resolution", 0) == 0) {
      resolution = true;
      EXPECT_TRUE(contains(line, "resolution") && contains(line, "DUPLICATE of bug # 1")) << line;
    }
    if (contains(line, "creation_ts")) {
      dates = true;
      EXPECT_TRUE(contains(line, "  5  ")) << line;
    }
  }
  EXPECT_TRUE(resolution && dates) << run.out;
}

TEST_F(Issues, ShowJsonHasTheRecordAndEveryChoice) {
  const Outcome run = show("2", {"--json"});
  ASSERT_EQ(run.status, 0) << run.err;
  auto flat = flatten_json(run.out);
  EXPECT_EQ(flat["/bug/id"], "2");
  EXPECT_EQ(flat["/bug/summary"], "Widget colour is wrong");
  EXPECT_EQ(flat["/bug/description"], "The widget is painted teal instead of blue.");
  // An open bug: eight fields; the alias arrives as a list on 5.0 and is shown as its text.
  EXPECT_EQ(flat.count("/fields/7/key"), 1u);
  EXPECT_EQ(flat.count("/fields/8/key"), 0u);
  bool alias = false;
  for (int i = 0; i < 8; ++i) {
    const std::string field = "/fields/" + std::to_string(i);
    if (flat[field + "/key"] != "alias") continue;
    alias = true;
    EXPECT_EQ(flat[field + "/type"], "2");
    EXPECT_EQ(flat[field + "/choices/0/label"], "widget-colour");
    EXPECT_EQ(flat[field + "/choices/0/current"], "true");
  }
  EXPECT_TRUE(alias) << run.out;
  EXPECT_EQ(flat["/fields/0/key"], "product");
  EXPECT_EQ(flat["/fields/0/choices/0/label"], "Widgets");
  EXPECT_EQ(flat["/fields/0/choices/0/value"], "Widgets");
  EXPECT_EQ(flat["/fields/0/choices/0/current"], "true");

  const Outcome table = show("2");
  for (const auto& line : lines_of(table.out)) {
    if (line.rfind("Alias", 0) == 0) {
      EXPECT_TRUE(contains(line, "widget-colour")) << line;
    }
  }
}

TEST_F(Issues, ShowUnknownBugFailsWithTheFault) {
  const Outcome run = show("99999");
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(contains(run.err, "GetIssueDetails failed (code 101): ")) << run.err;
  EXPECT_EQ(run.out, "");
}

}  // namespace
}  // namespace host_test
