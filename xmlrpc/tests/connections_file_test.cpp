// Reading the connections file: layout freedom, member kinds, every fault and the refusals.
#include <XmlRpc/XmlRpcValue.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using XmlRpc::XmlRpcValue;

namespace {

// The plug-in joins the file's lines with nothing between them.
std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line;
  return text;
}

std::string file(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><bugzilla_connections>" + body +
         "</bugzilla_connections>";
}

std::string connection(const std::string& members) {
  return "<connection>" + members + "</connection>";
}

const std::string kServer =
    "<velloran_server><ip_address>vcs.example.com</ip_address><port>8081</port></velloran_server>";

// The text of the last "fault" in the list, as the plug-in reports it.
std::string lastFault(const XmlRpcValue& list) {
  std::string fault;
  for (const XmlRpcValue& entry : list.arrayValue())
    if (const XmlRpcValue* f = entry.find("fault")) fault = f->stringValue();
  return fault;
}

int faultCount(const XmlRpcValue& list) {
  int count = 0;
  for (const XmlRpcValue& entry : list.arrayValue()) count += entry.hasMember("fault") ? 1 : 0;
  return count;
}

}  // namespace

// ---- good files ------------------------------------------------------------------------

TEST(ConnectionsFile, SampleFileJoinedFromItsLines) {
  const std::string text = joined({
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
      "<bugzilla_connections>",
      "  <velloran_server>",
      "    <ip_address>vcs.example.com</ip_address>",
      "    <port>8081</port>",
      "  </velloran_server>",
      "  <connection>",
      "    <name>Main tracker</name>",
      "    <server_url>https://bugzilla.example.com</server_url>",
      "    <port>443</port>",
      "    <web_service_extension>/xmlrpc.cgi</web_service_extension>",
      "    <product>Widgets</product>",
      "  </connection>",
      "  <connection>",
      "    <name>QA</name>",
      "    <server_url>qa.example.com</server_url>",
      "  </connection>",
      "</bugzilla_connections>",
  });
  XmlRpcValue list;
  ASSERT_EQ(list.connectionList(text), XmlRpcValue::kConnectionsOk);
  ASSERT_EQ(list.getType(), XmlRpcValue::TypeArray);
  ASSERT_EQ(list.size(), 2);

  XmlRpcValue expected;
  expected["name"] = "Main tracker";
  expected["server_url"] = "https://bugzilla.example.com";
  expected["port"] = 443;
  expected["web_service_extension"] = "/xmlrpc.cgi";
  expected["product"] = "Widgets";
  EXPECT_EQ(list[0], expected);
  EXPECT_EQ(list[0]["port"].getType(), XmlRpcValue::TypeInt);

  // Only what the file writes is present; an absent port reads as 0 through the struct.
  EXPECT_EQ(list[1].size(), 2);
  EXPECT_FALSE(list[1].hasMember("port"));
  EXPECT_EQ(list[1]["port"].asInt(), 0);
}

TEST(ConnectionsFile, ValueSplitOverTwoLinesJoinsIntoOne) {
  const std::string text = joined({
      "<bugzilla_connections><connection><name>Main</name>",
      "<server_url>https://bugzilla.exa",
      "mple.com</server_url><po",
      "rt>44",
      "3</port></connection></bugzilla_connections>",
  });
  XmlRpcValue list;
  ASSERT_EQ(list.connectionList(text), 0);
  EXPECT_EQ(list[0]["server_url"].stringValue(), "https://bugzilla.example.com");
  EXPECT_EQ(list[0]["port"].asInt(), 443);
}

TEST(ConnectionsFile, EachMemberReadsAsItsKind) {
  const struct {
    const char* members;
    const char* key;
    XmlRpcValue expected;
  } cases[] = {
      // Trimmed at the ends, inner space kept.
      {"<name>\t  Main  tracker \r\n</name>", "name", XmlRpcValue("Main  tracker")},
      {"<port>  80\t</port>", "port", XmlRpcValue(80)},
      {"<product> </product>", "product", XmlRpcValue("")},
      {"<verify_tls> false </verify_tls>", "verify_tls", XmlRpcValue(false)},
      {"<verify_tls>FALSE</verify_tls>", "verify_tls", XmlRpcValue(false)},
      {"<verify_tls>True</verify_tls>", "verify_tls", XmlRpcValue(true)},
      {"<authentication>password</authentication>", "authentication", XmlRpcValue("password")},
      {"<authentication> API_Key </authentication>", "authentication", XmlRpcValue("api_key")},
      {"<web_service> REST </web_service>", "web_service", XmlRpcValue("rest")},
      // Escapes and CDATA are ordinary XML.
      {"<name>R&amp;D &#x41;</name>", "name", XmlRpcValue("R&D A")},
      {"<product><![CDATA[<Widgets>]]></product>", "product", XmlRpcValue("<Widgets>")},
      {"<connect_timeout_seconds>15</connect_timeout_seconds>", "connect_timeout_seconds",
       XmlRpcValue(15)},
      {"<timeout_seconds>2147483647</timeout_seconds>", "timeout_seconds",
       XmlRpcValue(2147483647)},
      {"<max_response_mb>1</max_response_mb>", "max_response_mb", XmlRpcValue(1)},
      {"<ca_file>/etc/ssl/private-ca.pem</ca_file>", "ca_file",
       XmlRpcValue("/etc/ssl/private-ca.pem")},
      {"<port>0</port>", "port", XmlRpcValue(0)},
      {"<port>65535</port>", "port", XmlRpcValue(65535)},
      {"<port>00080</port>", "port", XmlRpcValue(80)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.members);
    XmlRpcValue list;
    ASSERT_EQ(list.connectionList(file("<!-- test tracker -->" + connection(c.members))), 0);
    EXPECT_EQ(list[0][c.key], c.expected);
    EXPECT_EQ(list[0].size(), 1);  // no defaults filled in
  }
}

TEST(ConnectionsFile, EmptyRootGivesAnEmptyList) {
  for (const std::string text :
       {"<bugzilla_connections/>", "<bugzilla_connections>  \t</bugzilla_connections>"}) {
    XmlRpcValue list;
    EXPECT_EQ(list.connectionList(text), 0) << text;
    EXPECT_EQ(list.getType(), XmlRpcValue::TypeArray) << text;
    EXPECT_EQ(list.size(), 0) << text;
  }
}

TEST(ConnectionsFile, ReplacesWhatTheValueHeld) {
  XmlRpcValue list("old");
  ASSERT_EQ(list.connectionList(file(connection("<name>A</name>"))), 0);
  EXPECT_EQ(list.size(), 1);
  XmlRpcValue previous;
  previous[0]["name"] = "stale";
  EXPECT_EQ(previous.connectionList(""), XmlRpcValue::kConnectionsNoRoot);
  EXPECT_FALSE(previous.valid());
}

// ---- bad entries in a well-formed file -------------------------------------------------

struct BadEntryCase {
  const char* label;
  std::string members;  // of the second connection; the first is good
  std::string fault;
};

class BadEntry : public ::testing::TestWithParam<BadEntryCase> {};

TEST_P(BadEntry, FaultNamesPositionNameAndMember) {
  const BadEntryCase& c = GetParam();
  const std::string good = connection("<name>Main</name><port>443</port>");
  const std::string third = connection("<name>Third</name>");
  XmlRpcValue list;
  ASSERT_EQ(list.connectionList(file(good + connection(c.members) + third)),
            XmlRpcValue::kConnectionsBadEntry);
  ASSERT_EQ(list.size(), 3);
  EXPECT_EQ(lastFault(list), c.fault);
  EXPECT_EQ(faultCount(list), 1);
  EXPECT_TRUE(list[1].hasMember("fault"));
  // The good connections around it remain usable.
  EXPECT_EQ(list[0]["port"].asInt(), 443);
  EXPECT_EQ(list[2]["name"].stringValue(), "Third");
}

INSTANTIATE_TEST_SUITE_P(
    Connections, BadEntry,
    ::testing::Values(
        BadEntryCase{"PortNotANumber", "<name>QA</name><port>44x3</port>",
                     "connection 2 (\"QA\"): port is not a number: \"44x3\""},
        BadEntryCase{"NameAfterBadMember", "<port>44x3</port><name>QA</name>",
                     "connection 2 (\"QA\"): port is not a number: \"44x3\""},
        BadEntryCase{"NoName", "<port>http</port>",
                     "connection 2 (no name): port is not a number: \"http\""},
        BadEntryCase{"EmptyPort", "<name>QA</name><port></port>",
                     "connection 2 (\"QA\"): port is not a number: \"\""},
        BadEntryCase{"SignedPort", "<name>QA</name><port>+80</port>",
                     "connection 2 (\"QA\"): port is not a number: \"+80\""},
        BadEntryCase{"NegativePort", "<name>QA</name><port>-1</port>",
                     "connection 2 (\"QA\"): port is not a number: \"-1\""},
        BadEntryCase{"PortTooLarge", "<name>QA</name><port>65536</port>",
                     "connection 2 (\"QA\"): port is out of range (0 to 65535): \"65536\""},
        BadEntryCase{"PortOverflowsInt", "<name>QA</name><port>99999999999999999999</port>",
                     "connection 2 (\"QA\"): port is out of range (0 to 65535): "
                     "\"99999999999999999999\""},
        BadEntryCase{"TimeoutNotANumber", "<name>QA</name><timeout_seconds>5m</timeout_seconds>",
                     "connection 2 (\"QA\"): timeout_seconds is not a number: \"5m\""},
        BadEntryCase{"TimeoutZero",
                     "<name>QA</name><connect_timeout_seconds>0</connect_timeout_seconds>",
                     "connection 2 (\"QA\"): connect_timeout_seconds is out of range "
                     "(1 to 2147483647): \"0\""},
        BadEntryCase{"MegabytesBeyondInt",
                     "<name>QA</name><max_response_mb>2147483648</max_response_mb>",
                     "connection 2 (\"QA\"): max_response_mb is out of range "
                     "(1 to 2147483647): \"2147483648\""},
        BadEntryCase{"VerifyTlsNotAFlag", "<name>QA</name><verify_tls>yes</verify_tls>",
                     "connection 2 (\"QA\"): verify_tls is neither true nor false: \"yes\""},
        // A flag is the whole word: a value that merely begins with one is a mistake.
        BadEntryCase{"VerifyTlsBeginsWithFalse", "<name>QA</name><verify_tls>falsee</verify_tls>",
                     "connection 2 (\"QA\"): verify_tls is neither true nor false: \"falsee\""},
        BadEntryCase{"VerifyTlsBeginsWithTrue", "<name>QA</name><verify_tls>true1</verify_tls>",
                     "connection 2 (\"QA\"): verify_tls is neither true nor false: \"true1\""},
        BadEntryCase{"VerifyTlsShortOfAWord", "<name>QA</name><verify_tls>fals</verify_tls>",
                     "connection 2 (\"QA\"): verify_tls is neither true nor false: \"fals\""},
        BadEntryCase{"UnknownAuthentication",
                     "<name>QA</name><authentication>token</authentication>",
                     "connection 2 (\"QA\"): authentication is neither password nor api_key: "
                     "\"token\""},
        BadEntryCase{"AuthenticationBeginsWithAKind",
                     "<name>QA</name><authentication>api_keys</authentication>",
                     "connection 2 (\"QA\"): authentication is neither password nor api_key: "
                     "\"api_keys\""},
        BadEntryCase{"UnknownWebService", "<name>QA</name><web_service>soap</web_service>",
                     "connection 2 (\"QA\"): web_service is neither xmlrpc nor rest: \"soap\""},
        BadEntryCase{"MemberGivenTwice", "<name>QA</name><port>1</port><port>2</port>",
                     "connection 2 (\"QA\"): port is given twice"},
        BadEntryCase{"NameGivenTwice", "<name>QA</name><name>Other</name>",
                     "connection 2 (\"QA\"): name is given twice"},
        BadEntryCase{"UnknownMember", "<name>QA</name><prot>80</prot>",
                     "connection 2 (\"QA\"): unknown element <prot>"},
        BadEntryCase{"ServerMemberInConnection", "<name>QA</name><ip_address>x</ip_address>",
                     "connection 2 (\"QA\"): unknown element <ip_address>"},
        BadEntryCase{"NestedElement", "<name>QA</name><port><value>80</value></port>",
                     "connection 2 (\"QA\"): port holds a nested element <value>"},
        BadEntryCase{"StrayText", "<name>QA</name> oops <port>80</port>",
                     "connection 2 (\"QA\"): unexpected text \"oops\""},
        BadEntryCase{"FirstProblemIsReported", "<name>QA</name><port>x</port><bogus/>",
                     "connection 2 (\"QA\"): port is not a number: \"x\""}),
    [](const ::testing::TestParamInfo<BadEntryCase>& info) { return info.param.label; });

TEST(ConnectionsFile, BadEntryKeepsItsGoodMembers) {
  XmlRpcValue list;
  ASSERT_EQ(list.connectionList(file(connection(
                "<name>QA</name><port>44x3</port><server_url>qa.example.com</server_url>"))),
            XmlRpcValue::kConnectionsBadEntry);
  EXPECT_EQ(list[0]["server_url"].stringValue(), "qa.example.com");
  EXPECT_FALSE(list[0].hasMember("port"));
}

TEST(ConnectionsFile, LongValuesAreShortenedInMessages) {
  const std::string longValue(500, '7');
  XmlRpcValue list;
  ASSERT_EQ(list.connectionList(file(connection("<port>x" + longValue + "</port>"))), 2);
  const std::string fault = lastFault(list);
  EXPECT_LT(fault.size(), 150u);
  EXPECT_NE(fault.find("...\""), std::string::npos) << fault;
}

// ---- faults of the file as a whole -----------------------------------------------------

struct FileFaultCase {
  const char* label;
  std::string text;
  int code;
  std::string fault;
};

class FileFault : public ::testing::TestWithParam<FileFaultCase> {};

TEST_P(FileFault, ReportedAsTheLastFaultOfAList) {
  const FileFaultCase& c = GetParam();
  XmlRpcValue list;
  EXPECT_EQ(list.connectionList(c.text), c.code);
  ASSERT_EQ(list.getType(), XmlRpcValue::TypeArray);
  EXPECT_EQ(lastFault(list), c.fault);
}

// 1-based column of `needle` in `text`, as the messages count.
std::string columnOf(const std::string& text, const std::string& needle, size_t offset = 0) {
  return std::to_string(text.find(needle) + 1 + offset);
}

const std::string kMismatched =
    file(connection("<name>A</name>") + connection("<name>B</nam>"));
const std::string kUnclosed = "<bugzilla_connections><connection><name>A</name>";
const std::string kBomb =
    "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">"
    "<!ENTITY lol2 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">"
    "<!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">]>"
    "<bugzilla_connections><connection><name>&lol3;</name></connection></bugzilla_connections>";

INSTANTIATE_TEST_SUITE_P(
    Files, FileFault,
    ::testing::Values(
        // expat puts a mismatched end tag at its name, just after "</".
        FileFaultCase{"MismatchedTag", kMismatched, XmlRpcValue::kConnectionsBrokenXml,
                      "BugzillaConnections.txt is not well-formed XML: mismatched tag at column " +
                          columnOf(kMismatched, "</nam>", 2)},
        FileFaultCase{"UnclosedRoot", kUnclosed, XmlRpcValue::kConnectionsBrokenXml,
                      "BugzillaConnections.txt is not well-formed XML: no element found at "
                      "column " + std::to_string(kUnclosed.size() + 1)},
        FileFaultCase{"LineCountedWhenTextHasLineBreaks",
                      "<bugzilla_connections>\n<connection>\n</bogus>",
                      XmlRpcValue::kConnectionsBrokenXml,
                      "BugzillaConnections.txt is not well-formed XML: mismatched tag at line 3, "
                      "column 3"},
        FileFaultCase{"UndefinedEntity", file(connection("<name>&nbsp;</name>")),
                      XmlRpcValue::kConnectionsBrokenXml,
                      "BugzillaConnections.txt is not well-formed XML: undefined entity at "
                      "column " + columnOf(file(connection("<name>&nbsp;</name>")), "&nbsp;")},
        FileFaultCase{"JunkAfterRoot", "<bugzilla_connections/>junk",
                      XmlRpcValue::kConnectionsBrokenXml,
                      "BugzillaConnections.txt is not well-formed XML: junk after document "
                      "element at column 24"},
        FileFaultCase{"WrongRoot", "<connections><connection/></connections>",
                      XmlRpcValue::kConnectionsBadEntry,
                      "BugzillaConnections.txt: the root element is <connections>, expected "
                      "<bugzilla_connections>"},
        FileFaultCase{"UnknownTopLevelElement",
                      file(connection("<name>A</name>") + "<server><port>1</port></server>"),
                      XmlRpcValue::kConnectionsBadEntry,
                      "BugzillaConnections.txt: unknown element <server> in "
                      "<bugzilla_connections>"},
        FileFaultCase{"TextInRoot", file("stray" + connection("<name>A</name>")),
                      XmlRpcValue::kConnectionsBadEntry,
                      "BugzillaConnections.txt: unexpected text \"stray\" in "
                      "<bugzilla_connections>"},
        FileFaultCase{"EntityBomb", kBomb, XmlRpcValue::kConnectionsRefused,
                      "BugzillaConnections.txt declares a DOCTYPE or entities, which are not "
                      "accepted; refused"},
        FileFaultCase{"PlainDoctype",
                      "<!DOCTYPE bugzilla_connections><bugzilla_connections/>",
                      XmlRpcValue::kConnectionsRefused,
                      "BugzillaConnections.txt declares a DOCTYPE or entities, which are not "
                      "accepted; refused"}),
    [](const ::testing::TestParamInfo<FileFaultCase>& info) { return info.param.label; });

TEST(ConnectionsFile, BrokenXmlKeepsTheConnectionsBeforeTheBreak) {
  XmlRpcValue list;
  ASSERT_EQ(list.connectionList(kMismatched), XmlRpcValue::kConnectionsBrokenXml);
  ASSERT_EQ(list.size(), 2);
  EXPECT_EQ(list[0]["name"].stringValue(), "A");
  EXPECT_FALSE(list[0].hasMember("fault"));
}

TEST(ConnectionsFile, BadEntriesAndBrokenXmlTogetherReportBrokenLast) {
  XmlRpcValue list;
  EXPECT_EQ(list.connectionList("<bugzilla_connections><connection><port>x</port></connection>"
                                "<connection>"),
            XmlRpcValue::kConnectionsBrokenXml);
  EXPECT_EQ(faultCount(list), 2);
  EXPECT_EQ(lastFault(list).rfind("BugzillaConnections.txt is not well-formed XML: ", 0), 0u);
}

TEST(ConnectionsFile, TextWithoutARootElementLeavesNoList) {
  const std::vector<std::string> texts = {
      "", "   ", "Main tracker at https://bugzilla.example.com port 443",
      "<?xml version=\"1.0\"?>", "<!-- only a comment -->", "no <bugzilla_connections/>"};
  for (const std::string& text : texts) {
    XmlRpcValue list;
    EXPECT_EQ(list.connectionList(text), XmlRpcValue::kConnectionsNoRoot) << text;
    EXPECT_NE(list.getType(), XmlRpcValue::TypeArray) << text;
  }
}

TEST(ConnectionsFile, MoreThanOneMebibyteIsRefusedUnparsed) {
  const std::string head = "<bugzilla_connections><connection><name>A</name></connection><!--";
  const std::string tail = "--></bugzilla_connections>";
  const size_t limit = 1024 * 1024;
  const std::string atLimit = head + std::string(limit - head.size() - tail.size(), 'x') + tail;
  ASSERT_EQ(atLimit.size(), limit);

  XmlRpcValue accepted;
  EXPECT_EQ(accepted.connectionList(atLimit), 0);
  EXPECT_EQ(accepted.size(), 1);

  XmlRpcValue refused;
  EXPECT_EQ(refused.connectionList(head + std::string(limit, 'x') + tail),
            XmlRpcValue::kConnectionsRefused);
  ASSERT_EQ(refused.size(), 1);
  EXPECT_EQ(lastFault(refused), "BugzillaConnections.txt is larger than 1 MiB; refused");
  EXPECT_FALSE(refused[0].hasMember("name"));

  XmlRpcValue server;
  EXPECT_EQ(server.serverInfo(kServer + std::string(limit, ' ')), XmlRpcValue::kConnectionsRefused);
  EXPECT_TRUE(server.hasMember("fault"));
}

// ---- the server section ----------------------------------------------------------------

TEST(ServerInfo, ReadsTheSectionBesideConnections) {
  const std::string text = file(connection("<name>A</name><port>443</port>") + kServer +
                                connection("<name>B</name>"));
  XmlRpcValue server;
  ASSERT_EQ(server.serverInfo(text), 0);
  XmlRpcValue expected;
  expected["ip_address"] = "vcs.example.com";
  expected["port"] = 8081;
  EXPECT_EQ(server, expected);

  XmlRpcValue list;
  ASSERT_EQ(list.connectionList(text), 0);
  EXPECT_EQ(list.size(), 2);  // the server section is not a connection
  EXPECT_EQ(list[1]["name"].stringValue(), "B");
}

TEST(ServerInfo, EachReaderIgnoresTheOthersBadSection) {
  const std::string badConnection = file(kServer + connection("<name>QA</name><port>x</port>"));
  XmlRpcValue server;
  EXPECT_EQ(server.serverInfo(badConnection), 0);
  EXPECT_FALSE(server.hasMember("fault"));

  const std::string badServer = file(
      "<velloran_server><ip_address>vcs</ip_address><port>80x</port></velloran_server>" +
      connection("<name>A</name>"));
  XmlRpcValue list;
  EXPECT_EQ(list.connectionList(badServer), 0);
  EXPECT_EQ(list.size(), 1);
}

struct ServerFaultCase {
  const char* label;
  std::string text;
  int code;
  std::string fault;
};

class ServerFault : public ::testing::TestWithParam<ServerFaultCase> {};

TEST_P(ServerFault, ReturnsNonZeroWithAFaultMember) {
  const ServerFaultCase& c = GetParam();
  XmlRpcValue server;
  EXPECT_EQ(server.serverInfo(c.text), c.code);
  ASSERT_EQ(server.getType(), XmlRpcValue::TypeStruct);
  ASSERT_TRUE(server.hasMember("fault"));
  EXPECT_EQ(server["fault"].stringValue(), c.fault);
}

INSTANTIATE_TEST_SUITE_P(
    Sections, ServerFault,
    ::testing::Values(
        ServerFaultCase{"MissingSection", file(connection("<name>A</name>")),
                        XmlRpcValue::kConnectionsNoServerSection,
                        "BugzillaConnections.txt has no <velloran_server> section"},
        ServerFaultCase{"PortNotANumber",
                        file("<velloran_server><ip_address>vcs</ip_address><port>80x</port>"
                             "</velloran_server>"),
                        XmlRpcValue::kConnectionsBadEntry,
                        "velloran_server: port is not a number: \"80x\""},
        ServerFaultCase{"MissingAddress", file("<velloran_server><port>80</port></velloran_server>"),
                        XmlRpcValue::kConnectionsBadEntry, "velloran_server: ip_address is missing"},
        ServerFaultCase{"UnknownMember",
                        file("<velloran_server><ip_address>vcs</ip_address><name>x</name>"
                             "</velloran_server>"),
                        XmlRpcValue::kConnectionsBadEntry,
                        "velloran_server: unknown element <name>"},
        ServerFaultCase{"SectionGivenTwice", file(kServer + kServer),
                        XmlRpcValue::kConnectionsBadEntry, "velloran_server is given twice"},
        ServerFaultCase{"BrokenXmlInConnections",
                        file(kServer + "<connection><name>A</connection>"),
                        XmlRpcValue::kConnectionsBrokenXml,
                        "BugzillaConnections.txt is not well-formed XML: mismatched tag at "
                        "column " + columnOf(file(kServer + "<connection><name>A</connection>"),
                                             "</connection>", 2)},
        ServerFaultCase{"WrongRoot", "<connections>" + kServer + "</connections>",
                        XmlRpcValue::kConnectionsBadEntry,
                        "BugzillaConnections.txt: the root element is <connections>, expected "
                        "<bugzilla_connections>"},
        ServerFaultCase{"NoRoot", "vcs.example.com 8081", XmlRpcValue::kConnectionsNoRoot,
                        "BugzillaConnections.txt holds no XML element"},
        ServerFaultCase{"Doctype", "<!DOCTYPE x [<!ENTITY a \"b\">]>" + file(kServer),
                        XmlRpcValue::kConnectionsRefused,
                        "BugzillaConnections.txt declares a DOCTYPE or entities, which are not "
                        "accepted; refused"}),
    [](const ::testing::TestParamInfo<ServerFaultCase>& info) { return info.param.label; });

TEST(ServerInfo, BadSectionKeepsItsGoodMembers) {
  XmlRpcValue server;
  ASSERT_EQ(server.serverInfo(file(
                "<velloran_server><ip_address> vcs </ip_address><port>x</port></velloran_server>")),
            XmlRpcValue::kConnectionsBadEntry);
  EXPECT_EQ(server["ip_address"].stringValue(), "vcs");
  EXPECT_FALSE(server.hasMember("port"));
}
