// The plug-in as a host sees it: loaded with dlopen or LoadLibrary, its descriptor and exports looked up by
// name, its exported symbol table, the lifecycle and the argument checks of every export.
#include "plugin_loader.h"
#include "test_server.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

using test_support::LoadedPlugin;
using test_support::TempDir;
namespace fs = std::filesystem;

std::string connections_file(const std::vector<std::string>& names) {
  std::string text = "<?xml version=\"1.0\"?>\n<bugzilla_connections>\n";
  for (const std::string& name : names) {
    text += "<connection><name>" + name + "</name><server_url>https://bugzilla.example"
            "</server_url></connection>\n";
  }
  return text + "</bugzilla_connections>\n";
}

// Owns the error text an export handed out.
struct Message {
  explicit Message(const LoadedPlugin& plugin) : plugin(plugin) {}
  ~Message() { plugin.FreeString(text); }
  std::string str() const { return text ? text : "(null)"; }
  const LoadedPlugin& plugin;
  char* text = nullptr;
};

class ExportsTest : public ::testing::Test {
protected:
  // The names GetConnectionList lists, or the failure message prefixed with "!".
  std::vector<std::string> connection_names() {
    ConnectionEntry** list = nullptr;
    int32_t count = 0;
    Message error(plugin_);
    if (plugin_.GetConnectionList(nullptr, &list, &count, &error.text) != 0) {
      return {"!" + error.str()};
    }
    EXPECT_EQ(error.text, nullptr);
    std::vector<std::string> names;
    for (int32_t i = 0; i < count; ++i) names.push_back(list[i]->name);
    plugin_.FreeConnectionList(list, static_cast<uint32_t>(count));
    return names;
  }

  void initialize(const char* directory) {
    char marker[] = "must be overwritten with null";
    char* error = marker;
    ASSERT_EQ(plugin_.Initialize(directory, &error), 0);
    EXPECT_EQ(error, nullptr);
  }

  LoadedPlugin plugin_{BUGZILLA_PLUGIN_PATH};
};

TEST_F(ExportsTest, DescriptorValues) {
  EXPECT_EQ(*plugin_.APIVersion, 1);
  EXPECT_STREQ(plugin_.PluginProvider, "Bugzilla");
  EXPECT_STREQ(plugin_.PluginNotes,
               "This plugin allows Velloran to process attachments for Bugzilla.");
  EXPECT_STREQ(plugin_.PluginVersion, "1.0.0");
  EXPECT_STREQ(plugin_.PluginAuthors, "Quenmoor Software");
  EXPECT_TRUE(std::regex_match(
      plugin_.PluginUUID,
      std::regex("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}")))
      << plugin_.PluginUUID;
}

struct DynamicSymbol {
  char type;    // nm's letter: T code, R/D data
  size_t size;  // bytes the symbol covers; kNoSize where the format keeps none (PE)
};
constexpr size_t kNoSize = static_cast<size_t>(-1);

#if defined(_WIN32)

// The export directory of the DLL as Windows loaded it: code is what lies in an executable
// section. Exports by ordinal only are listed as "#n".
std::map<std::string, DynamicSymbol> defined_dynamic_symbols(const std::string& library) {
  const LoadedPlugin plugin(library);
  const auto* base = static_cast<const unsigned char*>(plugin.handle);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  const auto* exports =
      reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
  const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  const auto* ordinals = reinterpret_cast<const WORD*>(base + exports->AddressOfNameOrdinals);
  const auto* addresses = reinterpret_cast<const DWORD*>(base + exports->AddressOfFunctions);
  auto kind = [&](DWORD rva) {
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
      if (rva >= section->VirtualAddress && rva < section->VirtualAddress + section->Misc.VirtualSize) {
        return (section->Characteristics & IMAGE_SCN_MEM_EXECUTE) != 0 ? 'T' : 'D';
      }
    }
    return '?';
  };
  std::map<std::string, DynamicSymbol> symbols;
  std::set<DWORD> named;
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
    named.insert(ordinals[i]);
    symbols[reinterpret_cast<const char*>(base + names[i])] =
        DynamicSymbol{kind(addresses[ordinals[i]]), kNoSize};
  }
  for (DWORD i = 0; i < exports->NumberOfFunctions; ++i) {
    if (named.count(i) == 0 && addresses[i] != 0) {
      symbols["#" + std::to_string(i + exports->Base)] = DynamicSymbol{kind(addresses[i]), kNoSize};
    }
  }
  return symbols;
}

#else

// The defined dynamic symbols of the library, as nm lists them.
std::map<std::string, DynamicSymbol> defined_dynamic_symbols(const std::string& library) {
  const std::string command = "nm -D -S --defined-only '" + library + "' 2>/dev/null";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) throw std::runtime_error("cannot run nm");
  std::map<std::string, DynamicSymbol> symbols;
  char line[1024];
  while (std::fgets(line, sizeof line, pipe.get()) != nullptr) {
    std::istringstream fields(line);
    std::string address, size, type, name;
    // Symbols without a size (absolute ones) have three fields; they are listed with size 0.
    if (!(fields >> address >> size >> type)) continue;
    if (!(fields >> name)) {
      name = type;
      type = size;
      size = "0";
    }
    symbols[name] = DynamicSymbol{type[0], std::stoul(size, nullptr, 16)};
  }
  return symbols;
}

#endif

// The names of issue_plugin_exports.h, the one list every loader is generated from.
std::set<std::string> listed_functions() {
#define FUNCTION_NAME(name) #name,
  return {ISSUE_PLUGIN_FUNCTIONS(FUNCTION_NAME)};
#undef FUNCTION_NAME
}

std::set<std::string> listed_exports() {
  std::set<std::string> names = listed_functions();
#define DESCRIPTOR_NAME(name, type) names.insert("KOVAIP_" #name);
  ISSUE_PLUGIN_DESCRIPTORS(DESCRIPTOR_NAME)
#undef DESCRIPTOR_NAME
  return names;
}

// The version script names what the linker exports; it must name exactly the listed exports.
TEST(ExportTable, VersionScriptNamesExactlyTheListedExports) {
  std::ifstream script(SOURCE_ROOT "/IssuePluginLoader/plugins/Bugzilla/boundary/exports.map");
  ASSERT_TRUE(script.is_open());
  std::set<std::string> global;
  std::string word;
  bool in_global = false;
  while (script >> word) {
    if (word == "global:") in_global = true;
    else if (word == "local:") in_global = false;
    else if (in_global && word.back() == ';') global.insert(word.substr(0, word.size() - 1));
  }
  EXPECT_EQ(global.size(), 22u);
  EXPECT_EQ(global, listed_exports());
}

TEST(ExportTable, ListsExactlyTheTwentyTwoNamesWithTheirKinds) {
  const std::map<std::string, DynamicSymbol> symbols =
      defined_dynamic_symbols(BUGZILLA_PLUGIN_PATH);
  const std::set<std::string> functions = listed_functions();
  // The texts are the arrays themselves: each symbol covers its characters and the NUL.
  const std::map<std::string, size_t> data = {
      {"KOVAIP_APIVersion", 4},
      {"KOVAIP_PluginProvider", sizeof("Bugzilla")},
      {"KOVAIP_PluginNotes",
       sizeof("This plugin allows Velloran to process attachments for Bugzilla.")},
      {"KOVAIP_PluginVersion", sizeof("1.0.0")},
      {"KOVAIP_PluginUUID", 37},
      {"KOVAIP_PluginAuthors", sizeof("Quenmoor Software")}};

  std::set<std::string> listed;
  for (const auto& entry : symbols) listed.insert(entry.first);
  EXPECT_EQ(listed, listed_exports());

  for (const std::string& name : functions) {
    auto found = symbols.find(name);
    if (found != symbols.end()) {
      EXPECT_EQ(found->second.type, 'T') << name;
    }
  }
  for (const auto& [name, size] : data) {
    auto found = symbols.find(name);
    if (found == symbols.end()) continue;
    EXPECT_TRUE(found->second.type == 'R' || found->second.type == 'D') << name;
    if (found->second.size != kNoSize) {
      EXPECT_EQ(found->second.size, size) << name;
    }
  }
}

TEST_F(ExportsTest, InitializeJoinsTheDirectoryWithEachFileName) {
  TempDir data;
  data.write("BugzillaConnections.txt", connections_file({"Main", "QA"}));
  initialize(data.path().c_str());
  EXPECT_EQ(connection_names(), (std::vector<std::string>{"Main", "QA"}));

  data.write("cookies.txt", "cookie");
  EXPECT_EQ(plugin_.Uninitialize(), 0);
  EXPECT_FALSE(data.exists("cookies.txt"));
  EXPECT_EQ(plugin_.Uninitialize(), -1);
  // Uninitialize keeps the paths.
  EXPECT_EQ(connection_names(), (std::vector<std::string>{"Main", "QA"}));
}

// The host passes UTF-8; Windows must open the names through its wide-character calls, since
// the ANSI code page would read these bytes as other characters.
TEST_F(ExportsTest, DataDirectoryNamedInUtf8) {
  TempDir data;
  const std::string directory = data.path() + "/Daten-\xC3\xBC\xCE\x94";  // "Daten-üΔ"
  ASSERT_TRUE(fs::create_directory(fs::u8path(directory)));
  std::ofstream(fs::u8path(directory + "/BugzillaConnections.txt")) << connections_file({"Main"});
  initialize(directory.c_str());
  EXPECT_EQ(connection_names(), std::vector<std::string>{"Main"});
  std::ofstream(fs::u8path(directory + "/cookies.txt")) << "cookie";
  EXPECT_EQ(plugin_.Uninitialize(), 0);
  EXPECT_FALSE(fs::exists(fs::u8path(directory + "/cookies.txt")));
}

TEST_F(ExportsTest, SecondInitializeReplacesThePaths) {
  TempDir first, second;
  first.write("BugzillaConnections.txt", connections_file({"First"}));
  second.write("BugzillaConnections.txt", connections_file({"Second"}));
  second.write("cookies.txt", "cookie");
  initialize(first.path().c_str());
  EXPECT_EQ(connection_names(), std::vector<std::string>{"First"});
  initialize(second.path().c_str());
  EXPECT_EQ(connection_names(), std::vector<std::string>{"Second"});
  EXPECT_EQ(plugin_.Uninitialize(), 0);
  EXPECT_FALSE(second.exists("cookies.txt"));
}

TEST_F(ExportsTest, EmptyOrNullDirectoryNamesFilesAtTheRoot) {
  TempDir data;
  data.write("BugzillaConnections.txt", connections_file({"Main"}));
  for (const char* directory : {"", static_cast<const char*>(nullptr)}) {
    initialize(data.path().c_str());
    initialize(directory);
    // The paths are now "/BugzillaConnections.txt" and "/cookies.txt"; never delete a real one.
    ASSERT_FALSE(fs::exists("/BugzillaConnections.txt"));
    ASSERT_FALSE(fs::exists("/cookies.txt"));
    EXPECT_EQ(connection_names(),
              std::vector<std::string>{"!BugzillaConnections.txt does not exist"});
    EXPECT_EQ(plugin_.Uninitialize(), -1);
  }
}

TEST_F(ExportsTest, InitializeWithoutErrorPointerChangesNothing) {
  TempDir kept, ignored;
  kept.write("BugzillaConnections.txt", connections_file({"Kept"}));
  ignored.write("BugzillaConnections.txt", connections_file({"Ignored"}));
  initialize(kept.path().c_str());
  EXPECT_EQ(plugin_.Initialize(ignored.path().c_str(), nullptr), 1);
  EXPECT_EQ(connection_names(), std::vector<std::string>{"Kept"});
}

// A private copy of the library has state of its own, never initialised by another test.
TEST(FreshPlugin, ExportsBeforeInitializeSeeNoFiles) {
  TempDir copy_dir;
  const std::string copy = copy_dir.file("libBugzillaFresh.so");
  fs::copy_file(BUGZILLA_PLUGIN_PATH, copy);
  LoadedPlugin plugin(copy);
  ConnectionEntry* untouched[1] = {nullptr};
  ConnectionEntry** list = untouched;
  int32_t count = -5;
  char* error = nullptr;
  EXPECT_EQ(plugin.GetConnectionList(nullptr, &list, &count, &error), 1);
  ASSERT_NE(error, nullptr);
  EXPECT_STREQ(error, "BugzillaConnections.txt does not exist");
  plugin.FreeString(error);
  EXPECT_EQ(list, untouched);
  EXPECT_EQ(count, -5);
  EXPECT_EQ(plugin.Uninitialize(), -1);
}

TEST_F(ExportsTest, NullOutParametersAreRefused) {
  TempDir data;
  data.write("BugzillaConnections.txt", connections_file({"Main"}));
  initialize(data.path().c_str());

  RequestContext context{const_cast<char*>("user"), const_cast<char*>("secret"),
                         const_cast<char*>("Main")};
  ConnectionEntry** connections = nullptr;
  char** filters = nullptr;
  IssueRecord** issues = nullptr;
  IssueRecord* issue = nullptr;
  CustomFieldRecord** fields = nullptr;
  FailedAttachment** failed = nullptr;
  int32_t count = 0, flag = 0;
  const LoadedPlugin& p = plugin_;
  const char* all = "Not Filtered";

  // Each call gets one required pointer null and the error pointer set.
  struct Case {
    const char* what;
    std::function<int32_t(char**)> call;
  };
  const std::vector<Case> cases = {
      {"GetConnectionList list",
       [&](char** e) { return p.GetConnectionList(nullptr, nullptr, &count, e); }},
      {"GetConnectionList count",
       [&](char** e) { return p.GetConnectionList(nullptr, &connections, nullptr, e); }},
      {"GetFilterList filters",
       [&](char** e) { return p.GetFilterList(nullptr, nullptr, &count, e); }},
      {"GetFilterList count",
       [&](char** e) { return p.GetFilterList(nullptr, &filters, nullptr, e); }},
      {"GetIssueList context",
       [&](char** e) { return p.GetIssueList(nullptr, all, &issues, &count, &flag, e); }},
      {"GetIssueList issues",
       [&](char** e) { return p.GetIssueList(&context, all, nullptr, &count, &flag, e); }},
      {"GetIssueList count",
       [&](char** e) { return p.GetIssueList(&context, all, &issues, nullptr, &flag, e); }},
      {"GetIssueList flag",
       [&](char** e) { return p.GetIssueList(&context, all, &issues, &count, nullptr, e); }},
      {"GetIssueDetails context",
       [&](char** e) { return p.GetIssueDetails(nullptr, "1", &issue, &fields, &count, e); }},
      {"GetIssueDetails issue",
       [&](char** e) { return p.GetIssueDetails(&context, "1", nullptr, &fields, &count, e); }},
      {"GetIssueDetails fields",
       [&](char** e) { return p.GetIssueDetails(&context, "1", &issue, nullptr, &count, e); }},
      {"GetIssueDetails count",
       [&](char** e) { return p.GetIssueDetails(&context, "1", &issue, &fields, nullptr, e); }},
      {"GetFixWorkflow fields",
       [&](char** e) { return p.GetFixWorkflow(nullptr, nullptr, nullptr, nullptr, &count, e); }},
      {"GetFixWorkflow count",
       [&](char** e) { return p.GetFixWorkflow(nullptr, nullptr, nullptr, &fields, nullptr, e); }},
      {"ValidateWorkflow valid",
       [&](char** e) { return p.ValidateWorkflow(0, 0, 0, fields, 0, nullptr, e); }},
      {"ValidateWorkflow fields",
       [&](char** e) { return p.ValidateWorkflow(0, 0, 0, nullptr, 2, &flag, e); }},
      {"AttachToIssues context",
       [&](char** e) { return p.AttachToIssues(nullptr, nullptr, 0, &failed, &count, e); }},
      {"AttachToIssues issues",
       [&](char** e) { return p.AttachToIssues(&context, nullptr, 1, &failed, &count, e); }},
      {"AttachToIssues failed",
       [&](char** e) { return p.AttachToIssues(&context, nullptr, 0, nullptr, &count, e); }},
      {"AttachToIssues count",
       [&](char** e) { return p.AttachToIssues(&context, nullptr, 0, &failed, nullptr, e); }},
  };
  for (const Case& c : cases) {
    Message error(plugin_);
    EXPECT_EQ(c.call(&error.text), 1) << c.what;
    EXPECT_EQ(error.str(), "Invalid argument") << c.what;
    EXPECT_EQ(c.call(nullptr), 1) << c.what << " without error pointer";
  }
  // With every other pointer in place, a missing error pointer alone is refused too.
  EXPECT_EQ(p.GetConnectionList(nullptr, &connections, &count, nullptr), 1);
  EXPECT_EQ(p.GetFilterList(nullptr, &filters, &count, nullptr), 1);
  EXPECT_EQ(p.GetFixWorkflow(nullptr, nullptr, nullptr, &fields, &count, nullptr), 1);
  EXPECT_EQ(p.ValidateWorkflow(nullptr, nullptr, nullptr, fields, 0, &flag, nullptr), 1);
  EXPECT_EQ(connections, nullptr);
  EXPECT_EQ(filters, nullptr);
  EXPECT_EQ(fields, nullptr);
}

TEST_F(ExportsTest, NullTextsFromTheHostReadAsEmpty) {
  // No connection has the empty name, so lookups of a null name find nothing.
  TempDir data;
  data.write("BugzillaConnections.txt", connections_file({"Main"}));
  initialize(data.path().c_str());
  RequestContext context{nullptr, nullptr, nullptr};
  IssueRecord** issues = nullptr;
  IssueRecord* issue = nullptr;
  CustomFieldRecord** fields = nullptr;
  int32_t count = 0, flag = 0;
  Message list_error(plugin_), details_error(plugin_);
  EXPECT_EQ(plugin_.GetIssueList(&context, nullptr, &issues, &count, &flag, &list_error.text), 1);
  EXPECT_NE(plugin_.GetIssueDetails(&context, nullptr, &issue, &fields, &count,
                                    &details_error.text),
            0);
  EXPECT_EQ(list_error.str(), "Connection Not Found");
  EXPECT_EQ(details_error.str(), "Connection Not Found");
}

TEST_F(ExportsTest, ReleasesAcceptNullAndZeroLengthArrays) {
  plugin_.FreeString(nullptr);
  plugin_.FreeIssue(nullptr);
  plugin_.FreeStringList(nullptr, 3);
  plugin_.FreeConnectionList(nullptr, 3);
  plugin_.FreeCustomFieldsList(nullptr, 3);
  plugin_.FreeIssueList(nullptr, 3);
  plugin_.FreeFailedAttachmentList(nullptr, 3);
  // Zero-length arrays: only the array goes (ASan reports a leak or a bad free otherwise).
  plugin_.FreeStringList(new char*[0], 0);
  plugin_.FreeConnectionList(new ConnectionEntry*[0], 0);
  plugin_.FreeCustomFieldsList(new CustomFieldRecord*[0], 0);
  plugin_.FreeIssueList(new IssueRecord*[0], 0);
  plugin_.FreeFailedAttachmentList(new FailedAttachment*[0], 0);
}

}  // namespace
