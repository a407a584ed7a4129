// The command line (read with CLI11) and the plug-in loading, before any server is involved: usage errors,
// help, unusable plug-ins, describe.
#include "host_fixture.h"

#include <filesystem>

namespace host_test {
namespace {

struct UsageCase {
  std::vector<std::string> args;
  const char* message;  // part of the error line
};

// Shown when a case fails: the command line as typed.
void PrintTo(const UsageCase& usage, std::ostream* out) {
  *out << "issue-plugin-host";
  for (const auto& arg : usage.args) *out << ' ' << arg;
}

class UsageErrors : public ::testing::TestWithParam<UsageCase> {};

TEST_P(UsageErrors, ExitTwoWithMessageAndUsage) {
  const UsageCase& usage = GetParam();
  const Outcome run = run_host(usage.args);
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_TRUE(contains(run.err, usage.message)) << run.err;
  EXPECT_TRUE(contains(run.err, "usage: issue-plugin-host")) << run.err;
  EXPECT_EQ(run.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, UsageErrors,
    ::testing::Values(
        UsageCase{{}, "no command given"},
        UsageCase{{"frobnicate"}, "unknown command \"frobnicate\""},
        UsageCase{{"describe", "--verbose"}, "not expected: --verbose"},
        UsageCase{{"describe", "-x"}, "not expected: -x"},
        UsageCase{{"list", "--user", "a@b"}, "--connection is required"},
        UsageCase{{"list", "--connection", "Demo"}, "--user is required"},
        UsageCase{{"list", "--connection"}, "--connection: 1 required TEXT missing"},
        UsageCase{{"show", "--connection", "Demo", "--user", "a@b"}, "BUG_ID is required"},
        UsageCase{{"show", "--connection", "Demo", "--user", "a@b", "1", "2"}, "not expected: 2"},
        UsageCase{{"describe", "extra"}, "not expected: extra"},
        UsageCase{{"filters", "--user", "a@b"}, "--user"},
        UsageCase{{"list", "--connection", "A", "--connection", "B", "--user", "u"},
                  "--connection: At Most 1 required but received 2"},
        UsageCase{{"list", "--connection", "A", "--user", "u", "--password", "x"},
                  "never given on the command line"},
        UsageCase{{"list", "--connection", "A", "--user", "u", "--password=x"},
                  "never given on the command line"},
        UsageCase{{"doctor"}, "--connection is required"},
        UsageCase{{"attach", "--user", "u"}, "attach needs --bug and --file, or --files-json"}));

TEST(Help, PrintsEveryCommandAndExitsZero) {
  for (const auto& args : std::vector<std::vector<std::string>>{{"--help"}, {"help"}, {"-h"}}) {
    const Outcome run = run_host(args);
    EXPECT_EQ(run.status, 0);
    for (const char* command : {"describe", "connections", "filters", "list", "show", "workflow",
                                "validate", "attach", "doctor"}) {
      EXPECT_TRUE(contains(run.out, std::string("  ") + command)) << command;
    }
    EXPECT_TRUE(contains(run.out, "--password-file"));
  }
  const Outcome version = run_host({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("issue-plugin-host ", 0), 0u) << version.out;
  const Outcome one = run_host({"help", "attach"});
  EXPECT_EQ(one.status, 0);
  EXPECT_TRUE(contains(one.out, "--files-json")) << one.out;
  EXPECT_FALSE(contains(one.out, "doctor")) << one.out;
}

TEST(Help, UsageErrorOfOneCommandShowsItsSynopsis) {
  const Outcome run = run_host({"show", "--connection", "Demo", "--user", "u"});
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(contains(run.err, "usage: issue-plugin-host show --connection NAME")) << run.err;
}

TEST(PluginLoading, UnusableLibraryIsAClearFailure) {
#if defined(_WIN32)
  // A system library every Windows has, without any of the descriptor symbols.
  const std::string system_library = "kernel32.dll";
#else
  const std::string system_library = "libc.so.6";
#endif
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/nonexistent/libNothing.so", "cannot load the plug-in /nonexistent/libNothing.so"},
      {system_library, "is not an issue-tracker plug-in: it does not export KOVAIP_APIVersion"},
      {FAKE_PLUGIN_V2, "implements API version 2; this host supports version 1 only"},
      {FAKE_PLUGIN_V1, "does not export KOVAIP_PluginNotes"},
  };
  for (const auto& [library, message] : cases) {
    const Outcome run = run_host({"--plugin", library, "describe"});
    EXPECT_EQ(run.status, 1) << library;
    EXPECT_TRUE(contains(run.err, message)) << run.err;
    EXPECT_EQ(run.out, "");
  }
}

// The plug-in's own values, passed through to the table and the JSON alike.
TEST(Describe, TableAndJsonShowTheDescriptorValues) {
  test_support::TempDir dir;
  const Outcome table = run_host({"--data-dir", dir.path(), "describe"});
  ASSERT_EQ(table.status, 0) << table.err;
  EXPECT_EQ(table.err, "");
  // Options may also follow the command.
  const Outcome run = run_host({"describe", "--json", "--data-dir", dir.path()});
  ASSERT_EQ(run.status, 0) << run.err;
  auto json = flatten_json(run.out);
  // The loaded file itself; Windows gives its full path in its own spelling (Z:\\...).
  std::error_code error;
  EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::u8path(json["/path"]),
                                          BUGZILLA_PLUGIN_PATH, error))
      << json["/path"];
  EXPECT_EQ(json["/uuid"].size(), 36u) << json["/uuid"];
  const std::pair<std::string, std::string> rows[] = {
      {"API version:  ", "/api_version"}, {"Provider:     ", "/provider"},
      {"Version:      ", "/version"},     {"Authors:      ", "/authors"},
      {"Notes:        ", "/notes"},       {"UUID:         ", "/uuid"}};
  for (const auto& [label, key] : rows) {
    EXPECT_TRUE(contains(table.out, label + json[key] + "\n")) << label << "\n" << table.out;
  }
  EXPECT_EQ(json["/api_version"], "1");
  EXPECT_EQ(json["/provider"], "Bugzilla");
  EXPECT_EQ(json["/notes"], "This plugin allows Velloran to process attachments for Bugzilla.");
}

TEST(Describe, ExplicitPluginPathIsUsed) {
  test_support::TempDir dir;
  const Outcome run = run_host({"--plugin", BUGZILLA_PLUGIN_PATH, "--data-dir", dir.path(),
                            "describe"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(contains(run.out, std::string("Plug-in:      ") + BUGZILLA_PLUGIN_PATH)) << run.out;
}

}  // namespace
}  // namespace host_test
