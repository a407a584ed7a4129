// The XML-RPC wire format: what we write, what we accept and what we refuse.
#include "utf8_text.h"
#include "wire_decode.h"
#include "wire_encode.h"
#include "test_helpers.h"

#include <XmlRpc/XmlRpcFilter.h>
#include <XmlRpc/XmlRpcValue.h>

#include <expat.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

using XmlRpc::XmlRpcValue;
using namespace XmlRpc::detail;
using lib_test::date_time;

namespace {

std::string response_with(const std::string& value_xml) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><methodResponse><params><param>" +
         value_xml + "</param></params></methodResponse>";
}

bool decode(const std::string& body, XmlRpcValue& result, bool* fault = nullptr) {
  std::string error;
  const bool ok = decode_response(body.data(), body.size(), result, error, fault);
  EXPECT_EQ(ok, error.empty()) << error;
  return ok;
}

bool well_formed(const std::string& xml) {
  XML_Parser parser = XML_ParserCreate("UTF-8");
  const bool ok = XML_Parse(parser, xml.data(), static_cast<int>(xml.size()), 1) == XML_STATUS_OK;
  XML_ParserFree(parser);
  return ok;
}

// The text between <string> and </string> of a request carrying `text` as its one parameter.
std::string encoded_text(const std::string& text) {
  const std::string request = encode_request("m", XmlRpcValue(text));
  const size_t begin = request.find("<string>") + 8;
  return request.substr(begin, request.find("</string>") - begin);
}

// A request's parameter read back through the response decoder.
XmlRpcValue round_trip(const XmlRpcValue& value) {
  const std::string request = encode_request("m", value);
  const size_t begin = request.find("<param>");
  const size_t end = request.find("</params>");
  XmlRpcValue back;
  EXPECT_TRUE(decode("<methodResponse><params>" + request.substr(begin, end - begin) +
                         "</params></methodResponse>",
                     back));
  return back;
}

std::string nested_arrays(int depth) {
  std::string xml;
  for (int i = 0; i < depth; ++i) xml += "<value><array><data>";
  xml += "<value><int>1</int></value>";
  for (int i = 0; i < depth; ++i) xml += "</data></array></value>";
  return xml;
}

std::string nested_structs(int depth) {
  std::string xml;
  for (int i = 0; i < depth; ++i) xml += "<value><struct><member><name>m</name>";
  xml += "<value>leaf</value>";
  for (int i = 0; i < depth; ++i) xml += "</member></struct></value>";
  return xml;
}

const char kReplacement[] = "\xEF\xBF\xBD";

}  // namespace

// ---------------------------------------------------------------------------------------------
// Decoding

struct ScalarCase {
  const char* value_xml;
  XmlRpcValue expected;
};

TEST(WireDecode, EveryScalarKind) {
  const unsigned char bytes[] = {0, 1, 2, 0xFE, 0xFF};
  const ScalarCase cases[] = {
      {"<value><int>42</int></value>", XmlRpcValue(42)},
      {"<value><i4>-7</i4></value>", XmlRpcValue(-7)},
      {"<value><int>+15</int></value>", XmlRpcValue(15)},
      {"<value><i8>123</i8></value>", XmlRpcValue(123)},
      {"<value><int>-2147483648</int></value>", XmlRpcValue(-2147483647 - 1)},
      // Too long for 32 bits: the digits survive as text.
      {"<value><i8>9223372036854775807</i8></value>", XmlRpcValue("9223372036854775807")},
      {"<value><int>2147483648</int></value>", XmlRpcValue("2147483648")},
      {"<value><i8>-99999999999999999999999</i8></value>",
       XmlRpcValue("-99999999999999999999999")},
      {"<value><boolean>1</boolean></value>", XmlRpcValue(true)},
      {"<value><boolean>0</boolean></value>", XmlRpcValue(false)},
      {"<value><double>3.25</double></value>", XmlRpcValue(3.25)},
      {"<value><double>-1e300</double></value>", XmlRpcValue(-1e300)},
      {"<value><double> 0.1 </double></value>", XmlRpcValue(0.1)},
      {"<value><string>a &amp; b &lt;c&gt; &#13;&#x41;</string></value>",
       XmlRpcValue("a & b <c> \rA")},
      {"<value><string /></value>", XmlRpcValue("")},
      {"<value><string>  padded  </string></value>", XmlRpcValue("  padded  ")},
      {"<value>untyped text</value>", XmlRpcValue("untyped text")},
      {"<value>  </value>", XmlRpcValue("  ")},
      {"<value></value>", XmlRpcValue("")},
      {"<value/>", XmlRpcValue("")},
      {"<value>\n  <int>5</int>\n</value>", XmlRpcValue(5)},
      {"<value><string>caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80</string></value>",
       XmlRpcValue("caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80")},
      {"<value><dateTime.iso8601>20261208T02:55:09</dateTime.iso8601></value>",
       XmlRpcValue(date_time(2026, 12, 8, 2, 55, 9))},
      {"<value><dateTime.iso8601>1999-01-31T23:59:60Z</dateTime.iso8601></value>",
       XmlRpcValue(date_time(1999, 1, 31, 23, 59, 60))},
      {"<value><dateTime.iso8601>20210315T10:30:00+01:00</dateTime.iso8601></value>",
       XmlRpcValue(date_time(2021, 3, 15, 10, 30, 0))},
      {"<value><dateTime.iso8601>20210315T10:30:00.250</dateTime.iso8601></value>",
       XmlRpcValue(date_time(2021, 3, 15, 10, 30, 0))},
      {"<value><base64>AAEC\n  /v8=</base64></value>", XmlRpcValue(bytes, sizeof bytes)},
      {"<value><base64></base64></value>", XmlRpcValue(bytes, 0)},
      {"<value><base64>AAE</base64></value>", XmlRpcValue(bytes, 2)},
      {"<value><nil/></value>", XmlRpcValue()},
      {"<value><ex:nil/></value>", XmlRpcValue()},
  };
  for (const ScalarCase& c : cases) {
    XmlRpcValue result("stale");
    ASSERT_TRUE(decode(response_with(c.value_xml), result)) << c.value_xml;
    EXPECT_EQ(result.getType(), c.expected.getType()) << c.value_xml;
    EXPECT_TRUE(result == c.expected) << c.value_xml;
  }
}

TEST(WireDecode, NestedAndEmptyContainers) {
  const std::string body = response_with(
      "<value><struct>"
      "<member><name>bugs</name><value><array><data>"
      "<value><struct><member><name>id</name><value><int>7</int></value></member>"
      "<member><name>alias</name><value><array><data /></array></value></member>"
      "<member><name>cc</name><value><array><data></data></array></value></member>"
      "<member><name>flags</name><value><struct/></value></member>"
      "<member><name>dupe_of</name><value><nil/></value></member>"
      "</struct></value>"
      "<value>second</value>"
      "</data></array></value></member>"
      "<member>\n<name>count</name>\n<value><int>2</int></value>\n</member>"
      "</struct></value>");
  XmlRpcValue result;
  ASSERT_TRUE(decode(body, result));
  ASSERT_EQ(result.getType(), XmlRpcValue::TypeStruct);
  EXPECT_EQ(result.size(), 2);
  XmlRpcValue& bugs = result["bugs"];
  ASSERT_EQ(bugs.getType(), XmlRpcValue::TypeArray);
  ASSERT_EQ(bugs.size(), 2);
  XmlRpcValue& bug = bugs[0];
  EXPECT_EQ(bug["id"].asInt(), 7);
  EXPECT_EQ(bug["alias"].getType(), XmlRpcValue::TypeArray);
  EXPECT_EQ(bug["alias"].size(), 0);
  EXPECT_EQ(bug["cc"].size(), 0);
  EXPECT_EQ(bug["flags"].getType(), XmlRpcValue::TypeStruct);
  EXPECT_EQ(bug["flags"].size(), 0);
  EXPECT_TRUE(bug.hasMember("dupe_of"));
  EXPECT_EQ(bug["dupe_of"].getType(), XmlRpcValue::TypeInvalid);
  EXPECT_EQ(bugs[1].stringValue(), "second");
  EXPECT_EQ(result["count"].asInt(), 2);
  // Members keep the server's order.
  EXPECT_EQ(result.structValue().begin()->first, "bugs");
}

TEST(WireDecode, FaultKeepsItsIntegerCode) {
  const std::string body =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><methodResponse><fault><value><struct>"
      "<member><name>faultString</name><value><string>The requested method 'Bug.get_bugs' was "
      "not found.</string></value></member>"
      "<member><name>faultCode</name><value><int>-32601</int></value></member>"
      "</struct></value></fault></methodResponse>";
  XmlRpcValue result;
  bool fault = false;
  ASSERT_TRUE(decode(body, result, &fault));
  EXPECT_TRUE(fault);
  EXPECT_EQ(result["faultCode"].getType(), XmlRpcValue::TypeInt);
  EXPECT_EQ(result["faultCode"].toText(), "-32601");
  EXPECT_EQ(result["faultString"].stringValue(),
            "The requested method 'Bug.get_bugs' was not found.");

  XmlRpcValue plain;
  ASSERT_TRUE(decode(response_with("<value><int>1</int></value>"), plain, &fault));
  EXPECT_FALSE(fault);
}

TEST(WireDecode, MalformedRepliesAreRefused) {
  const std::string fault_head = "<methodResponse><fault><value><struct>";
  const std::string malformed[] = {
      "",
      "not xml at all",
      "<html><body>Internal Server Error</body></html>",
      response_with("<value><string>cut in the mid"),
      response_with("<value><int>1</int></value>").substr(0, 60),
      "<methodResponse><params><param><value><int>1</int></value></param></params>",
      "<methodResponse></methodResponse>",
      "<methodResponse><params></params></methodResponse>",
      "<methodResponse><params><param><value>1</value></param><param><value>2</value></param>"
      "</params></methodResponse>",
      "<methodResponse><params><param></param></params></methodResponse>",
      "<methodCall><params><param><value>1</value></param></params></methodCall>",
      response_with("<value><int>1</int><int>2</int></value>"),
      response_with("<value>text<int>1</int></value>"),
      response_with("<value><int>1</int>text</value>"),
      response_with("<value><int><b>1</b></int></value>"),
      response_with("<value><float>1.5</float></value>"),
      response_with("<value><int></int></value>"),
      response_with("<value><int>12a</int></value>"),
      response_with("<value><int>+-1</int></value>"),
      response_with("<value><int>1.0</int></value>"),
      response_with("<value><boolean>true</boolean></value>"),
      response_with("<value><boolean>2</boolean></value>"),
      response_with("<value><double>1,5</double></value>"),
      response_with("<value><double></double></value>"),
      response_with("<value><dateTime.iso8601>2026120T02:55:09</dateTime.iso8601></value>"),
      response_with("<value><dateTime.iso8601>20261308T02:55:09</dateTime.iso8601></value>"),
      response_with("<value><dateTime.iso8601>20261208 02:55:09</dateTime.iso8601></value>"),
      response_with("<value><dateTime.iso8601>20261208T02:55:09x</dateTime.iso8601></value>"),
      response_with("<value><base64>A*==</base64></value>"),
      response_with("<value><base64>AA=A</base64></value>"),
      // 4k+1 digits: the last one is a lone sixth of a group, not a byte.
      response_with("<value><base64>AAAAA</base64></value>"),
      response_with("<value><base64>AAAAAAAAA</base64></value>"),
      response_with("<value><base64>AAAAA==</base64></value>"),
      response_with("<value><nil>x</nil></value>"),
      response_with("<value><array></array></value>"),
      response_with("<value><array><value>1</value></array></value>"),
      response_with("<value><array><data>text<value>1</value></data></array></value>"),
      response_with("<value><struct><member><value>1</value></member></struct></value>"),
      response_with("<value><struct><member><name>a</name></member></struct></value>"),
      response_with("<value><struct><member><name>a</name><value>1</value><value>2</value>"
                    "</member></struct></value>"),
      response_with("<value><struct><value>1</value></struct></value>"),
      fault_head + "<member><name>faultCode</name><value><int>4</int></value></member>"
                   "</struct></value></fault></methodResponse>",
      "<methodResponse><fault><value><string>no</string></value></fault></methodResponse>",
      "<?xml version=\"1.0\"?><!DOCTYPE methodResponse [<!ENTITY e \"boom\">]>" +
          response_with("<value>&e;</value>").substr(38),
      "<!DOCTYPE methodResponse SYSTEM \"http://127.0.0.1/x.dtd\">" +
          response_with("<value>1</value>").substr(38),
  };
  for (const std::string& body : malformed) {
    XmlRpcValue result("stale");
    std::string error;
    EXPECT_FALSE(decode_response(body.data(), body.size(), result, error)) << body;
    EXPECT_FALSE(error.empty()) << body;
    EXPECT_FALSE(result.valid()) << body;
  }
}

TEST(WireDecode, NestingIsLimitedTo64Levels) {
  XmlRpcValue result;
  ASSERT_TRUE(decode(response_with(nested_arrays(64)), result));
  const XmlRpcValue* inner = &result;
  for (int i = 0; i < 64; ++i) inner = inner->at(0);
  ASSERT_NE(inner, nullptr);
  EXPECT_EQ(*inner, XmlRpcValue(1));
  ASSERT_TRUE(decode(response_with(nested_structs(64)), result));

  std::string error;
  const std::string arrays = response_with(nested_arrays(65));
  EXPECT_FALSE(decode_response(arrays.data(), arrays.size(), result, error));
  EXPECT_NE(error.find("64"), std::string::npos) << error;
  const std::string structs = response_with(nested_structs(65));
  EXPECT_FALSE(decode_response(structs.data(), structs.size(), result, error));
  const std::string very_deep = response_with(nested_arrays(100000));
  EXPECT_FALSE(decode_response(very_deep.data(), very_deep.size(), result, error));
}

TEST(WireDecode, UnusableCharactersBecomeReplacementsAndTheRestDecodes) {
  // A Bugzilla comment with control characters XML forbids, broken UTF-8 and a noncharacter.
  const std::string body =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><methodResponse><params><param><value><struct>"
      "<member><name>text</name><value><string>bell\x07 vt\x0B nul\x01 "
      "latin1 caf\xE9 cut\xE2\x82 end\xEF\xBF\xBF ok\xC3\xA9\t\n"
      "refs &#1;&#x1f;&#xFFFE;&#1114112; kept &#x41;&#13;&#233;</string></value></member>"
      "<member><name>id</name><value><int>12</int></value></member>"
      "</struct></value></param></params></methodResponse>";
  XmlRpcValue result;
  ASSERT_TRUE(decode(body, result));
  const std::string r = kReplacement;
  EXPECT_EQ(result["text"].stringValue(), "bell" + r + " vt" + r + " nul" + r + " latin1 caf" +
                                              r + " cut" + r + " end" + r + " ok\xC3\xA9\t\n" +
                                              "refs " + r + r + r + r + " kept A\r\xC3\xA9");
  EXPECT_EQ(result["id"].asInt(), 12);
}

TEST(WireDecode, DeclaredEncodingDoesNotOverrideUtf8) {
  const std::string body =
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><methodResponse><params><param>"
      "<value><string>\xC3\xA9</string></value></param></params></methodResponse>";
  XmlRpcValue result;
  ASSERT_TRUE(decode(body, result));
  EXPECT_EQ(result.stringValue(), "\xC3\xA9");
}

// ---------------------------------------------------------------------------------------------
// Encoding

// A body fed to the stream in two pieces cut at every byte decodes as it does whole.
TEST(WireDecode, PiecesCutAnywhereDecodeAsTheWholeBody) {
  const std::string body =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><methodResponse><params><param><value><struct>"
      "<member><name>t\xC3\xA9xt</name><value><string>a &amp; b\x07 caf\xE9 \xE2\x82\xAC"
      "&#1;&#x41;</string></value></member><member><name>n</name><value><array><data>"
      "<value><int>-7</int></value><value><double>1.5</double></value><value>plain</value>"
      "<value><dateTime.iso8601>20260102T03:04:05</dateTime.iso8601></value>"
      "<value><base64>AQID</base64></value></data></array></value></member>"
      "</struct></value></param></params></methodResponse>";
  XmlRpcValue whole;
  ASSERT_TRUE(decode(body, whole));
  for (size_t cut = 0; cut <= body.size(); ++cut) {
    XmlRpcValue result;
    ResponseStream stream(result);
    stream.feed(body.data(), cut);
    stream.feed(body.data() + cut, body.size() - cut);
    std::string error;
    ASSERT_TRUE(stream.finish(error)) << "cut at " << cut << ": " << error;
    EXPECT_EQ(result, whole) << "cut at " << cut;
  }
  // A refusal is known as soon as its byte arrives; what follows is not read.
  XmlRpcValue result;
  ResponseStream stream(result);
  EXPECT_FALSE(stream.feed("<methodResponse><oops>", 22));
  EXPECT_FALSE(stream.feed(body.data(), body.size()));
  std::string error;
  EXPECT_FALSE(stream.finish(error));
  EXPECT_NE(error.find("unexpected element"), std::string::npos) << error;
  EXPECT_FALSE(result.valid());
}

// The reason and its line and column are the same however the refused body arrived.
TEST(WireDecode, RefusalTextDoesNotDependOnThePieces) {
  std::string head = "<?xml version=\"1.0\"?>\n<methodResponse>\n<params>\n<param>\n<value><struct>\n";
  for (int i = 0; i < 40; ++i) {
    head += "<member><name>member" + std::to_string(i) + "</name><value><int>" +
            std::to_string(i) + "</int></value></member>\n";
  }
  const std::string tail = "</value>\n</param>\n</params>\n</methodResponse>\n";
  const std::string bodies[] = {
      head + "</struct>   stray text, long enough to be cut   " + tail,
      head + "<member><name>x</name><value><int>1x</int></value></member></struct>" + tail,
      head + "</struct><oops/>" + tail,
      head + "</struct></valeu>" + tail,
      head + "</struct>",
  };
  for (const std::string& body : bodies) {
    XmlRpcValue result;
    std::string whole;
    ASSERT_FALSE(decode_response(body.data(), body.size(), result, whole));
    for (const size_t piece : {size_t{1}, size_t{7}, size_t{360}}) {
      ResponseStream stream(result);
      for (size_t at = 0; at < body.size(); at += piece) {
        stream.feed(body.data() + at, std::min(piece, body.size() - at));
      }
      std::string error;
      EXPECT_FALSE(stream.finish(error));
      EXPECT_EQ(error, whole) << "pieces of " << piece;
    }
  }
}

TEST(WireDecode, AFilterKeepsOnlyWhatItsPathsName) {
  using Step = XmlRpc::XmlRpcFilter::Step;
  const std::string comment = "<struct><member><name>id</name><value><int>1</int></value></member>"
                              "<member><name>text</name><value><string>%</string></value></member>"
                              "</struct>";
  auto comments = [&](const char* first, const char* second) {
    std::string a = comment, b = comment;
    a.replace(a.find('%'), 1, first);
    b.replace(b.find('%'), 1, second);
    return "<value><struct><member><name>comments</name><value><array><data><value>" + a +
           "</value><value>" + b + "</value></data></array></value></member></struct></value>";
  };
  const std::string body = response_with(
      "<value><struct><member><name>bugs</name><value><struct>"
      "<member><name>7</name>" + comments("seven", "later") + "</member>"
      "<member><name>8</name>" + comments("eight", "later") + "</member>"
      "<member><name>9</name><value><string>not a struct</string></value></member>"
      "</struct></value></member>"
      "<member><name>comments</name><value><struct></struct></value></member>"
      "</struct></value>");

  XmlRpc::XmlRpcFilter first_texts;
  first_texts.keep({Step::member("bugs"), Step::anyMember(), Step::member("comments"),
                    Step::element(0), Step::member("text")});
  XmlRpcValue kept;
  std::string error;
  ASSERT_TRUE(decode_response(body.data(), body.size(), kept, error, nullptr, &first_texts))
      << error;
  XmlRpcValue expected;
  expected["bugs"]["7"]["comments"][0]["text"] = "seven";
  expected["bugs"]["8"]["comments"][0]["text"] = "eight";
  expected["bugs"]["9"] = "not a struct";  // the wrong kind is kept for the caller to see
  EXPECT_EQ(kept, expected);

  // Positions before a kept element hold invalid values; any-element keeps them all.
  XmlRpc::XmlRpcFilter second_ids;
  second_ids.keep({Step::member("bugs"), Step::member("8"), Step::member("comments"),
                   Step::element(1), Step::member("id")});
  ASSERT_TRUE(decode_response(body.data(), body.size(), kept, error, nullptr, &second_ids));
  expected.clear();
  expected["bugs"]["8"]["comments"][1]["id"] = 1;
  EXPECT_EQ(kept, expected);
  EXPECT_FALSE(kept["bugs"]["8"]["comments"][0].valid());

  // What is dropped is still checked, and a fault is never filtered.
  const std::string bad = response_with(
      "<value><struct><member><name>other</name><value><int>x</int></value></member>"
      "</struct></value>");
  EXPECT_FALSE(decode_response(bad.data(), bad.size(), kept, error, nullptr, &first_texts));
  EXPECT_NE(error.find("bad integer"), std::string::npos) << error;
  const std::string fault =
      "<methodResponse><fault><value><struct><member><name>faultCode</name><value><int>4</int>"
      "</value></member><member><name>faultString</name><value>no</value></member></struct>"
      "</value></fault></methodResponse>";
  bool is_fault = false;
  ASSERT_TRUE(decode_response(fault.data(), fault.size(), kept, error, &is_fault, &first_texts));
  EXPECT_TRUE(is_fault);
  EXPECT_EQ(kept["faultString"].stringValue(), "no");
}

TEST(WireEncode, ParametersFollowTheValueKind) {
  auto count_params = [](const XmlRpcValue& params) {
    const std::string xml = encode_request("Bug.get", params);
    EXPECT_TRUE(well_formed(xml)) << xml;
    size_t count = 0;
    for (size_t at = xml.find("<param>"); at != std::string::npos; at = xml.find("<param>", at + 1)) {
      ++count;
    }
    return count;
  };
  XmlRpcValue array;
  array[0] = 1;
  array[1] = "two";
  array[2]["three"] = 3.0;
  EXPECT_EQ(count_params(array), 3u);
  XmlRpcValue empty_array;
  empty_array.assertArray(0);
  EXPECT_EQ(count_params(empty_array), 0u);
  XmlRpcValue record;
  record["ids"][0] = 1;
  EXPECT_EQ(count_params(record), 1u);
  EXPECT_EQ(count_params(XmlRpcValue(5)), 1u);
  EXPECT_EQ(count_params(XmlRpcValue()), 0u);

  const std::string xml = encode_request("User.login", XmlRpcValue());
  EXPECT_NE(xml.find("<methodName>User.login</methodName>"), std::string::npos);
}

TEST(WireEncode, EveryKindHasItsElement) {
  const unsigned char bytes[] = {'h', 'i', 0, 0xFF};
  XmlRpcValue params;
  params[0] = 7;
  params[1] = true;
  params[2] = 2.5;
  params[3] = "text";
  params[4] = XmlRpcValue(date_time(2026, 3, 5, 7, 8, 9));
  params[5] = XmlRpcValue(bytes, sizeof bytes);
  params[6][0] = XmlRpcValue();
  params[7]["k"] = XmlRpcValue();
  params[8].assertArray(0);
  params[9].assertStruct();
  const std::string xml = encode_request("m", params);
  ASSERT_TRUE(well_formed(xml)) << xml;
  const char* fragments[] = {
      "<param><value><int>7</int></value></param>",
      "<param><value><boolean>1</boolean></value></param>",
      "<param><value><double>2.5</double></value></param>",
      "<param><value><string>text</string></value></param>",
      "<param><value><dateTime.iso8601>20260305T07:08:09</dateTime.iso8601></value></param>",
      "<param><value><base64>aGkA/w==</base64></value></param>",
      "<param><value><array><data><value><nil/></value></data></array></value></param>",
      "<param><value><struct><member><name>k</name><value><nil/></value></member></struct>"
      "</value></param>",
      "<param><value><array><data></data></array></value></param>",
      "<param><value><struct></struct></value></param>",
  };
  for (const char* fragment : fragments) {
    EXPECT_NE(xml.find(fragment), std::string::npos) << fragment << "\nin " << xml;
  }
}

TEST(WireEncode, ValuesSurviveOurOwnDecoder) {
  XmlRpcValue value;
  value["int"] = -12;
  value["big"] = 2147483647;
  value["bool"] = false;
  value["double"] = 1.0 / 3.0;
  value["text"] = "line\nnext \xE2\x9C\x93 & <tag> \"quoted\" 'single'\ttab";
  value["cr"] = "a\r\nb\rc";
  value["when"] = XmlRpcValue(date_time(1999, 12, 31, 23, 59, 58));
  std::string all_bytes;
  for (int i = 0; i < 256; ++i) all_bytes.push_back(static_cast<char>(i));
  int slot = 0;
  for (size_t length : {0u, 1u, 2u, 3u, 256u}) {
    value["bytes"][slot++] = XmlRpcValue(all_bytes.data(), length);
  }
  value["empty_struct"].assertStruct();
  value["nested"][0][0]["deep"][1] = "x";
  EXPECT_EQ(round_trip(value), value);
}

TEST(WireEncode, TextIsEscapedAndCarriageReturnsSurvive) {
  EXPECT_EQ(encoded_text("a&b<c>d\"e'f"), "a&amp;b&lt;c&gt;d\"e'f");
  EXPECT_EQ(encoded_text("one\r\ntwo\rthree\ttab"), "one&#13;\ntwo&#13;three\ttab");
  const char with_nul[] = "nul\0bell\x07vt\x0B";
  EXPECT_EQ(encoded_text(std::string(with_nul, sizeof with_nul - 1)),
            std::string("nul") + kReplacement + "bell" + kReplacement + "vt" + kReplacement);
  EXPECT_EQ(encoded_text("non\xEF\xBF\xBF" "char"), std::string("non") + kReplacement + "char");
  EXPECT_EQ(encoded_text("\xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80"),
            "\xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80");
}

TEST(WireEncode, InvalidUtf8IsTakenAsWindows1252) {
  struct Case {
    const char* input;
    const char* expected;
  };
  const Case cases[] = {
      {"caf\xE9", "caf\xC3\xA9"},
      {"\x80 5", "\xE2\x82\xAC 5"},
      {"\x93quoted\x94", "\xE2\x80\x9Cquoted\xE2\x80\x9D"},
      {"P\xE4ssw\xF6rd\xDF", "P\xC3\xA4ssw\xC3\xB6rd\xC3\x9F"},
      // Valid UTF-8 and Windows-1252 in one text: each part keeps its characters.
      {"\xC3\xA9 and \xE9", "\xC3\xA9 and \xC3\xA9"},
      // A cut UTF-8 sequence is two Windows-1252 characters.
      {"\xE2\x82", "\xC3\xA2\xE2\x80\x9A"},
      // Unassigned in Windows-1252.
      {"\x81", "\xEF\xBF\xBD"},
      // Overlong and surrogate forms are not UTF-8.
      {"\xC0\xAF", "\xC3\x80\xC2\xAF"},
      {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xE2\x82\xAC"},
  };
  for (const Case& c : cases) EXPECT_EQ(encoded_text(c.input), c.expected) << c.input;
  // The method name gets the same treatment.
  EXPECT_TRUE(well_formed(encode_request("M\xE9thode<&>", XmlRpcValue())));
}

TEST(WireEncode, AnyBytesMakeAWellFormedRequest) {
  for (int byte = 0; byte < 256; ++byte) {
    const std::string text(3, static_cast<char>(byte));
    ASSERT_TRUE(well_formed(encode_request("m", XmlRpcValue(text)))) << byte;
  }
  std::mt19937 random(20240601);
  for (int round = 0; round < 500; ++round) {
    std::string text(random() % 64, '\0');
    for (char& c : text) c = static_cast<char>(random() & 0xFF);
    XmlRpcValue params;
    params[0] = text;
    params[1][text] = text;  // member names too
    ASSERT_TRUE(well_formed(encode_request(text, params))) << round;
  }
}

TEST(WireEncode, DoublesNeverUseExponents) {
  const double values[] = {0.0, -0.0, 1.0, -2.5, 0.1, 1.0 / 3.0, 1e-7, 123456789.125, 1e21,
                           1e300, -1e300, 5e-324, std::numeric_limits<double>::max(),
                           std::numeric_limits<double>::min()};
  for (const double value : values) {
    const std::string text = format_double(value);
    EXPECT_EQ(text.find_first_of("eE"), std::string::npos) << text;
    EXPECT_EQ(std::strtod(text.c_str(), nullptr), value) << text;
  }
  EXPECT_EQ(format_double(0.1), "0.1");
  EXPECT_EQ(format_double(1e-7), "0.0000001");
  EXPECT_EQ(format_double(1e21), "1000000000000000000000");
  EXPECT_EQ(format_double(-2.5), "-2.5");
  EXPECT_EQ(format_double(std::numeric_limits<double>::infinity()), "inf");
  EXPECT_EQ(format_double(-std::numeric_limits<double>::infinity()), "-inf");
  EXPECT_EQ(format_double(std::nan("")), "nan");
}

// ---------------------------------------------------------------------------------------------
// UTF-8 primitives

TEST(Utf8Text, StepsThroughWellAndIllFormedSequences) {
  struct Case {
    const char* bytes;
    int length;
    bool valid;
    uint32_t code_point;
  };
  const Case cases[] = {
      {"A", 1, true, 0x41},
      {"\xC3\xA9", 2, true, 0xE9},
      {"\xE2\x82\xAC", 3, true, 0x20AC},
      {"\xF0\x9F\x98\x80", 4, true, 0x1F600},
      {"\xF4\x8F\xBF\xBF", 4, true, 0x10FFFF},
      {"\xC0\x80", 1, false, 0},          // overlong
      {"\xC1\xBF", 1, false, 0},          // overlong
      {"\xE0\x80\x80", 1, false, 0},      // overlong
      {"\xED\xA0\x80", 1, false, 0},      // surrogate
      {"\xF4\x90\x80\x80", 1, false, 0},  // above U+10FFFF
      {"\xF5\x80", 1, false, 0},
      {"\x80", 1, false, 0},
      {"\xE2\x82z", 2, false, 0},         // cut: its maximal subpart is one error
      {"\xF0\x9F\x98", 3, false, 0},
  };
  for (const Case& c : cases) {
    const auto* p = reinterpret_cast<const unsigned char*>(c.bytes);
    const Utf8Step step = next_utf8(p, p + std::char_traits<char>::length(c.bytes));
    EXPECT_EQ(step.length, c.length) << c.bytes;
    EXPECT_EQ(step.valid, c.valid) << c.bytes;
    if (c.valid) {
      EXPECT_EQ(step.code_point, c.code_point) << c.bytes;
    }
  }
}

TEST(Utf8Text, RepairIsTheSameWhereverThePiecesAreCut) {
  auto repaired = [](const std::string& text) {
    return replace_unusable_xml_text(text.data(), text.size());
  };
  const std::string r = kReplacement;
  EXPECT_EQ(repaired("plain\t\r\n \xC3\xA9 \xF0\x9F\x98\x80 &amp; &#9;&#x41; &#;&#x; &#12"),
            "plain\t\r\n \xC3\xA9 \xF0\x9F\x98\x80 &amp; &#9;&#x41; &#;&#x; &#12");
  const std::string broken = "a\x01" "b\xE2\x82" "c\xFF\xFE" "d\xC3\xA9 \xEF\xBF\xBE" +
                             std::string("\0", 1) + "&#12;&#x0B;&#99999999999999;e";
  const std::string expected =
      "a" + r + "b" + r + "c" + r + r + "d\xC3\xA9 " + r + r + r + r + r + "e";
  EXPECT_EQ(repaired(broken), expected);

  // Two pieces cut at every byte, and one byte at a time.
  for (size_t cut = 0; cut <= broken.size(); ++cut) {
    XmlTextRepair repair;
    std::string out;
    auto sink = [&out](const char* piece, size_t n) { out.append(piece, n); };
    repair.feed(broken.data(), cut, false, sink);
    repair.feed(broken.data() + cut, broken.size() - cut, false, sink);
    repair.feed(nullptr, 0, true, sink);
    EXPECT_EQ(out, expected) << "cut at " << cut;
  }
  XmlTextRepair repair;
  std::string out;
  auto sink = [&out](const char* piece, size_t n) { out.append(piece, n); };
  for (const char c : broken) repair.feed(&c, 1, false, sink);
  repair.feed(nullptr, 0, true, sink);
  EXPECT_EQ(out, expected);
}
