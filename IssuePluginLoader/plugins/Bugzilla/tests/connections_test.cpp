// The connections file: reading and joining its lines, listing its connections, finding one
// by name, and the messages of each failure.
#include "connections.h"
#include "plugin_state.h"
#include "records.h"
#include "reply_reading.h"
#include "test_server.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

namespace bugzilla {
namespace {

using XmlRpc::XmlRpcValue;

// A data directory of its own for each test, with the plug-in's connections path set to it.
class ConnectionsTest : public ::testing::Test {
protected:
  void SetUp() override { set_connections_path(dir_.file("BugzillaConnections.txt")); }

  static void set_connections_path(const std::string& path) {
    std::lock_guard<std::mutex> lock(plugin_state_mutex());
    plugin_state().connections_file_path = path;
  }

  void write(const std::string& content, const std::string& name = "BugzillaConnections.txt") {
    dir_.write(name, content);
  }

  // A connections file with the given <connection> bodies.
  void write_connections(const std::vector<std::string>& connections) {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<bugzilla_connections>\n";
    for (const std::string& body : connections) text += "<connection>" + body + "</connection>\n";
    write(text + "</bugzilla_connections>\n");
  }

  // The names GetConnectionList hands out, in order; every entry must carry flag 1.
  std::vector<std::string> listed_names() {
    ConnectionEntry** list = nullptr;
    int32_t count = -1;
    char* error = nullptr;
    EXPECT_EQ(get_connection_list(&list, &count, &error), 0);
    EXPECT_EQ(error, nullptr);
    std::vector<std::string> names;
    if (list == nullptr) return names;
    for (int32_t i = 0; i < count; ++i) {
      EXPECT_EQ(list[i]->flag, 1);
      names.push_back(list[i]->name);
    }
    free_connection_list(list, static_cast<uint32_t>(count));
    return names;
  }

  // find_connection's code, and the message it left (freed here).
  struct Lookup {
    int code;
    std::string message;  // "(null)" when none was stored
    XmlRpcValue connection;
  };
  Lookup lookup(const char* name) {
    Lookup result;
    char* error = nullptr;
    result.code = find_connection(name, result.connection, &error);
    result.message = error ? error : "(null)";
    free_string(error);
    return result;
  }

  test_support::TempDir dir_;
};

TEST_F(ConnectionsTest, ReadJoinedFileDropsLineEndingsOnly) {
  struct Case {
    const char* content;
    const char* joined;
  };
  const Case cases[] = {
      {"a\nb\nc\n", "abc"},
      {"a\r\nb\r\nc", "abc"},       // last line without a line feed still counts
      {"ab\rcd\r\n", "ab\rcd"},     // a carriage return inside a line is content
      {"a\r\r\n", "a\r"},           // only the one before the line feed is a terminator
      {"  spaced  \n\n", "  spaced  "},
      {"", ""},
  };
  for (const Case& c : cases) {
    write(c.content, "joined.txt");
    std::string joined = "stale";
    ASSERT_TRUE(read_joined_file(dir_.file("joined.txt"), joined)) << c.content;
    EXPECT_EQ(joined, c.joined) << c.content;
  }
  std::string untouched = "untouched";
  EXPECT_FALSE(read_joined_file(dir_.file("absent.txt"), untouched));
  EXPECT_FALSE(read_joined_file("", untouched));
}

TEST_F(ConnectionsTest, MissingFileIsReportedAndWritesNoList) {
  ConnectionEntry* untouched_list[1] = {nullptr};
  ConnectionEntry** list = untouched_list;
  int32_t count = -3;
  char* error = nullptr;
  EXPECT_EQ(get_connection_list(&list, &count, &error), 1);
  ASSERT_NE(error, nullptr);
  EXPECT_STREQ(error, "BugzillaConnections.txt does not exist");
  free_string(error);
  EXPECT_EQ(list, untouched_list);
  EXPECT_EQ(count, -3);

  const Lookup found = lookup("Main");
  EXPECT_EQ(found.code, 1);
  EXPECT_EQ(found.message, "Connection Not Found");
  EXPECT_FALSE(found.connection.valid());
}

TEST_F(ConnectionsTest, NoConnectionsGivesAnEmptyNonNullList) {
  write_connections({});
  ConnectionEntry** list = nullptr;
  int32_t count = -1;
  char* error = nullptr;
  ASSERT_EQ(get_connection_list(&list, &count, &error), 0);
  EXPECT_NE(list, nullptr);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(error, nullptr);
  free_connection_list(list, 0);

  EXPECT_EQ(lookup("").message, "Connection Not Found");
  EXPECT_EQ(lookup("Main").code, 1);
}

TEST_F(ConnectionsTest, ListsEveryConnectionInFileOrder) {
  write_connections({"<name>Main</name>", "<name>QA</name>", "<name>Main</name>"});
  EXPECT_EQ(listed_names(), (std::vector<std::string>{"Main", "QA", "Main"}));
}

TEST_F(ConnectionsTest, LookupTakesTheLowerIndexOfDuplicates) {
  write_connections({"<name>QA</name><server_url>https://qa.example</server_url>",
                     "<name>Main</name><server_url>https://first.example</server_url>"
                     "<port>8443</port><web_service_extension>/xmlrpc.cgi"
                     "</web_service_extension><product>Widgets</product>",
                     "<name>Main</name><server_url>https://second.example</server_url>"});
  const Lookup found = lookup("Main");
  ASSERT_EQ(found.code, 0);
  EXPECT_EQ(found.message, "(null)");
  XmlRpcValue connection = found.connection;
  EXPECT_EQ(connection["server_url"].toText(), "https://first.example");
  EXPECT_EQ(connection["port"].toText(), "8443");
  EXPECT_EQ(connection["web_service_extension"].toText(), "/xmlrpc.cgi");
  EXPECT_EQ(connection["product"].toText(), "Widgets");
}

TEST_F(ConnectionsTest, LookupComparesWholeNamesExactly) {
  write_connections({"<name>Main</name>", "<name>Main tracker</name>"});
  for (const char* other : {"main", "MAIN", "Mai", "Main ", " Main", "Main trackers"}) {
    const Lookup found = lookup(other);
    EXPECT_EQ(found.code, 1) << other;
    EXPECT_EQ(found.message, "Connection Not Found") << other;
    EXPECT_FALSE(found.connection.valid()) << other;
  }
  EXPECT_EQ(lookup("Main tracker").code, 0);
}

TEST_F(ConnectionsTest, ConnectionWithoutNameIsListedEmptyAndFoundByEmptyName) {
  write_connections({"<name>Main</name>",
                     "<server_url>https://nameless.example</server_url>"});
  EXPECT_EQ(listed_names(), (std::vector<std::string>{"Main", ""}));
  for (const char* empty : {"", static_cast<const char*>(nullptr)}) {
    Lookup found = lookup(empty);
    ASSERT_EQ(found.code, 0);
    EXPECT_EQ(found.connection["server_url"].toText(), "https://nameless.example");
  }
}

TEST_F(ConnectionsTest, ValueSplitAcrossLinesArrivesJoined) {
  write("<?xml version=\"1.0\"?>\r\n<bugzilla_connections><connection>\r\n"
        "<name>Ma\r\nin</name><server_url>https://bugzilla.exa\nmple.com</server_url>\n"
        "</connection></bugzilla_connections>");
  Lookup found = lookup("Main");
  ASSERT_EQ(found.code, 0) << found.message;
  EXPECT_EQ(found.connection["server_url"].toText(), "https://bugzilla.example.com");
}

TEST_F(ConnectionsTest, EditsTakeEffectAtTheNextCall) {
  write_connections({"<name>Old</name>"});
  EXPECT_EQ(listed_names(), std::vector<std::string>{"Old"});
  write_connections({"<name>New</name>"});
  EXPECT_EQ(listed_names(), std::vector<std::string>{"New"});
  EXPECT_EQ(lookup("Old").code, 1);
}

TEST_F(ConnectionsTest, ProseIsFormattedIncorrectly) {
  for (const char* text : {"This is not a connections file.\n", ""}) {
    write(text);
    XmlRpcValue parsed;
    const int parser_code = parsed.connectionList(text);
    ASSERT_NE(parser_code, 0);

    ConnectionEntry** list = nullptr;
    int32_t count = -1;
    char* error = nullptr;
    EXPECT_EQ(get_connection_list(&list, &count, &error), parser_code);
    ASSERT_NE(error, nullptr);
    EXPECT_STREQ(error, "BugzillaConnections.txt is formatted incorrectly");
    free_string(error);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(count, -1);

    EXPECT_EQ(lookup("Main").message, "Connection Not Found");
  }
}

// The reason of a bad entry comes from the parser; whatever it says reaches the host as is,
// and of several bad entries the last one's reason wins.
TEST_F(ConnectionsTest, BadEntryPassesTheParsersFaultThrough) {
  const std::vector<std::string> connections = {
      "<name>Main</name><port>44x3</port>", "<name>Fine</name>",
      "<name>QA</name><port>eighty</port>"};
  write_connections(connections);
  std::string joined;
  ASSERT_TRUE(read_joined_file(dir_.file("BugzillaConnections.txt"), joined));
  XmlRpcValue parsed;
  const int parser_code = parsed.connectionList(joined);
  ASSERT_NE(parser_code, 0);
  ASSERT_EQ(parsed.getType(), XmlRpcValue::TypeArray);
  std::vector<std::string> faults;
  for (XmlRpcValue& element : parsed.asArray()) {
    if (element.hasMember("fault")) faults.push_back(element["fault"].toText());
  }
  ASSERT_EQ(faults.size(), 2u);
  ASSERT_NE(faults.front(), faults.back());

  char* error = nullptr;
  XmlRpcValue list;
  EXPECT_EQ(load_connections(list, &error), parser_code);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(std::string(error), faults.back());
  free_string(error);

  ConnectionEntry** entries = nullptr;
  int32_t count = -1;
  EXPECT_EQ(get_connection_list(&entries, &count, &error), parser_code);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(std::string(error), faults.back());
  free_string(error);
  EXPECT_EQ(entries, nullptr);

  // A lookup, even of a good entry, says only that it found nothing.
  EXPECT_EQ(lookup("Fine").message, "Connection Not Found");
}

TEST(ValueToCstring, ReadsTextDigitsAndNothing) {
  struct Case {
    const char* what;
    XmlRpcValue value;
    std::string expected;
  };
  const Case cases[] = {
      {"string", XmlRpcValue("Widgets"), "Widgets"},
      {"empty string", XmlRpcValue(""), ""},
      {"int", XmlRpcValue(4242), "4242"},
      {"negative int", XmlRpcValue(-17), "-17"},
      {"invalid", XmlRpcValue(), ""},
      {"NUL inside", XmlRpcValue(std::string("ab\0cd", 5)), "ab"},
      {"NUL first", XmlRpcValue(std::string("\0x", 2)), ""},
  };
  for (const Case& c : cases) {
    char* text = value_to_cstring(c.value);
    ASSERT_NE(text, nullptr) << c.what;
    EXPECT_EQ(std::string(text), c.expected) << c.what;
    free_string(text);
  }
}

}  // namespace
}  // namespace bugzilla
