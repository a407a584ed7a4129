// REST bodies: the JSON we write for POSTs and what we make of the JSON servers answer.
#include "json_decode.h"
#include "json_encode.h"
#include "test_helpers.h"

#include <XmlRpc/XmlRpcFilter.h>
#include <XmlRpc/XmlRpcValue.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <string>

using XmlRpc::XmlRpcFilter;
using XmlRpc::XmlRpcValue;
using namespace XmlRpc::detail;
using Step = XmlRpcFilter::Step;

namespace {

const char kReplacement[] = "\xEF\xBF\xBD";

XmlRpcValue decoded(const std::string& body, const XmlRpcFilter* filter = nullptr) {
  XmlRpcValue result;
  std::string error;
  EXPECT_TRUE(decode_json(body.data(), body.size(), result, error, nullptr, filter))
      << body << ": " << error;
  return result;
}

std::string nested(int depth) {
  return std::string(depth, '[') + "1" + std::string(depth, ']');
}

}  // namespace

TEST(JsonDecode, ScalarsAndTheirKinds) {
  const struct {
    const char* json;
    XmlRpcValue expected;
  } cases[] = {
      {"[42]", XmlRpcValue(42)},
      {"[-2147483648]", XmlRpcValue(-2147483647 - 1)},
      {"[2147483648]", XmlRpcValue(2147483648.0)},  // beyond an int: a double
      {"[-9223372036854775809]", XmlRpcValue(-9223372036854775809.0)},
      {"[18446744073709551615]", XmlRpcValue(18446744073709551615.0)},
      {"[1.5]", XmlRpcValue(1.5)},
      {"[-1e300]", XmlRpcValue(-1e300)},
      {"[0.0]", XmlRpcValue(0.0)},
      {"[true]", XmlRpcValue(true)},
      {"[false]", XmlRpcValue(false)},
      {"[\"\"]", XmlRpcValue("")},
      {"[\"a \\\"q\\\" \\\\ \\/ \\n\\t\\r\"]", XmlRpcValue("a \"q\" \\ / \n\t\r")},
      {"[\"caf\xC3\xA9 \\u00e9 \\ud83d\\ude00\"]",
       XmlRpcValue("caf\xC3\xA9 \xC3\xA9 \xF0\x9F\x98\x80")},
      {"[\"2026-12-09T00:15:32Z\"]", XmlRpcValue("2026-12-09T00:15:32Z")},
  };
  for (const auto& c : cases) {
    const XmlRpcValue result = decoded(c.json);
    ASSERT_EQ(result.getType(), XmlRpcValue::TypeArray) << c.json;
    const XmlRpcValue& element = *result.at(0);
    EXPECT_EQ(element.getType(), c.expected.getType()) << c.json;
    EXPECT_EQ(element, c.expected) << c.json;
  }
}

// Texts without escapes are read where they stand in the body, the others unescaped: the two
// must agree wherever a text ends (spaces before the next comma, colon or bracket).
TEST(JsonDecode, TextsInPlaceAndUnescapedAgree) {
  XmlRpcValue result = decoded(
      "{\"a\" : \"plain\" ,\"b\":[ \"x\"\t,\"y\"\n] , \"c\":\"ends \\\\\"\r\n,"
      "\"d\":\"\\\"quoted\\\"\" }");
  EXPECT_EQ(result["a"], XmlRpcValue("plain"));
  EXPECT_EQ(result["b"][0], XmlRpcValue("x"));
  EXPECT_EQ(result["b"][1], XmlRpcValue("y"));
  EXPECT_EQ(result["c"], XmlRpcValue("ends \\"));
  EXPECT_EQ(result["d"], XmlRpcValue("\"quoted\""));
}

// A client decodes reply after reply with one scratch: nothing of an earlier reply, long,
// refused or cut, shows in a later one.
TEST(JsonDecode, OneScratchForRepliesInTurn) {
  JsonScratch scratch;
  const std::string large = "[\"" + std::string(5 * 1024 * 1024, 'x') + "\"]";
  const std::string replies[] = {large, "[1,", "{\"a\":\"long text here\"}", "[2]", large, "[3]"};
  const bool valid[] = {true, false, true, true, true, true};
  for (size_t i = 0; i < sizeof(valid); ++i) {
    XmlRpcValue result;
    JsonResponse response(result, nullptr, &scratch);
    // An announced size beyond any memory is refused before anything is asked of it.
    EXPECT_THROW(response.expect(SIZE_MAX / 2), std::bad_alloc);
    for (size_t at = 0; at < replies[i].size(); at += 1000) {
      response.feed(replies[i].data() + at, std::min<size_t>(1000, replies[i].size() - at));
    }
    std::string error;
    EXPECT_EQ(response.finish(error), valid[i]) << i << ": " << error;
    if (valid[i]) {
      EXPECT_EQ(result, decoded(replies[i])) << i;
    }
  }
}

TEST(JsonDecode, BareScalarDocuments) {
  EXPECT_EQ(decoded("true"), XmlRpcValue(true));  // bugzilla.mozilla.org's valid_login
  EXPECT_EQ(decoded(" false\n"), XmlRpcValue(false));
  EXPECT_EQ(decoded("7"), XmlRpcValue(7));
  EXPECT_EQ(decoded("\"text\""), XmlRpcValue("text"));
  EXPECT_FALSE(decoded("null").valid());
}

TEST(JsonDecode, NullMembersAreLeftOutAndNullElementsInvalid) {
  const XmlRpcValue bug = decoded(
      R"({"id":4,"dupe_of":null,"alias":[],"deadline":null,"flags":[null,1,null],)"
      R"("detail":{"nick":null,"id":3},"is_open":true,"empty":{}})");
  XmlRpcValue expected;
  expected["id"] = 4;
  expected["alias"].assertArray(0);
  expected["flags"][0] = XmlRpcValue();
  expected["flags"][1] = 1;
  expected["flags"][2] = XmlRpcValue();
  expected["detail"]["id"] = 3;
  expected["is_open"] = true;
  expected["empty"].assertStruct();
  EXPECT_EQ(bug, expected);
  EXPECT_FALSE(bug.hasMember("dupe_of"));
  EXPECT_FALSE(bug.hasMember("deadline"));
  EXPECT_EQ(bug.find("flags")->size(), 3);
  // Members keep the server's order.
  EXPECT_EQ(bug.structValue().begin()->first, "id");
}

TEST(JsonDecode, NestedArraysAndTheNestingLimit) {
  const XmlRpcValue nested_value = decoded(R"([[1,[2,[]]],[[["deep"]]]])");
  EXPECT_EQ(nested_value.at(0)->at(1)->at(0)->getType(), XmlRpcValue::TypeInt);
  EXPECT_EQ(nested_value.at(1)->at(0)->at(0)->at(0)->stringValue(), "deep");

  XmlRpcValue result;
  std::string error;
  const std::string deepest = nested(64);
  ASSERT_TRUE(decode_json(deepest.data(), deepest.size(), result, error)) << error;
  const std::string too_deep = nested(65);
  EXPECT_FALSE(decode_json(too_deep.data(), too_deep.size(), result, error));
  EXPECT_NE(error.find("64"), std::string::npos) << error;
  std::string objects;
  for (int i = 0; i < 65; ++i) objects += "{\"m\":";
  objects += "1" + std::string(65, '}');
  EXPECT_FALSE(decode_json(objects.data(), objects.size(), result, error));
  const std::string very_deep = nested(100000);
  EXPECT_FALSE(decode_json(very_deep.data(), very_deep.size(), result, error));
}

// Text is repaired as XML-RPC text is: each ill-formed UTF-8 subpart and each character XML
// forbids (raw or escaped) becomes U+FFFD, wherever the body was cut.
TEST(JsonDecode, UnusableTextBecomesReplacements) {
  const std::string body =
      "{\"text\":\"bell\\u0007 nul\\u0000 latin1 caf\xE9 cut\xE2\x82 end\\uffff ok\xC3\xA9 "
      "raw\x01 & &#1;\",\"n\xFF\":1}";
  const std::string r = kReplacement;
  XmlRpcValue expected;
  expected["text"] = "bell" + r + " nul" + r + " latin1 caf" + r + " cut" + r + " end" + r +
                     " ok\xC3\xA9 raw" + r + " & &#1;";
  expected["n" + r] = 1;
  EXPECT_EQ(decoded(body), expected);
  for (size_t cut = 0; cut <= body.size(); ++cut) {
    XmlRpcValue result;
    JsonResponse response(result);
    response.feed(body.data(), cut);
    response.feed(body.data() + cut, body.size() - cut);
    std::string error;
    ASSERT_TRUE(response.finish(error)) << "cut at " << cut << ": " << error;
    EXPECT_EQ(result, expected) << "cut at " << cut;
  }
}

TEST(JsonDecode, AFilterKeepsOnlyWhatTheListingReads) {
  const std::string body =
      R"({"bugs":[{"id":1,"summary":"one","creator_detail":{"id":1,"nick":"admin"},)"
      R"("status":"NEW","description":"first","alias":null,"severity":"major"},)"
      R"({"id":2,"summary":"two","status":"FIXED","severity":null,"cc":[1,2,3]}],"faults":[]})";
  XmlRpcFilter listing;
  for (const char* member : {"id", "summary", "severity", "status", "description"}) {
    listing.keep({Step::member("bugs"), Step::anyElement(), Step::member(member)});
  }
  XmlRpcValue expected;
  expected["bugs"][0]["id"] = 1;
  expected["bugs"][0]["summary"] = "one";
  expected["bugs"][0]["status"] = "NEW";
  expected["bugs"][0]["description"] = "first";
  expected["bugs"][0]["severity"] = "major";
  expected["bugs"][1]["id"] = 2;
  expected["bugs"][1]["summary"] = "two";
  expected["bugs"][1]["status"] = "FIXED";
  EXPECT_EQ(decoded(body, &listing), expected);

  // Positions before a kept element hold invalid values; a wrong kind is kept whole.
  XmlRpcFilter second;
  second.keep({Step::member("bugs"), Step::element(1), Step::member("cc")});
  second.keep({Step::member("faults"), Step::member("x")});
  expected.clear();
  expected["bugs"][0] = XmlRpcValue();
  expected["bugs"][1]["cc"][0] = 1;
  expected["bugs"][1]["cc"][1] = 2;
  expected["bugs"][1]["cc"][2] = 3;
  expected["faults"].assertArray(0);
  EXPECT_EQ(decoded(body, &second), expected);
}

TEST(JsonDecode, ErrorObjectsBecomeFaultsUnfiltered) {
  const std::string body =
      R"({"documentation":"https://bugzilla.readthedocs.org/en/5.0/api/","error":true,)"
      R"("message":"Bug 999999 does not exist.","code":101})";
  XmlRpcFilter listing;
  listing.keep({Step::member("bugs"), Step::anyElement(), Step::member("id")});
  XmlRpcValue result;
  std::string error;
  bool fault = false;
  ASSERT_TRUE(decode_json(body.data(), body.size(), result, error, &fault, &listing)) << error;
  EXPECT_TRUE(fault);
  XmlRpcValue expected;
  expected["faultCode"] = 101;
  expected["faultString"] = "Bug 999999 does not exist.";
  EXPECT_EQ(result, expected);

  // "error" false, or inside a member, is an ordinary value.
  const std::string ordinary = R"({"error":false,"result":{"error":true,"code":1,"message":"m"}})";
  ASSERT_TRUE(decode_json(ordinary.data(), ordinary.size(), result, error, &fault)) << error;
  EXPECT_FALSE(fault);
  EXPECT_EQ(result["result"]["code"], XmlRpcValue(1));

  const std::string shapeless = R"({"error":true,"message":"no code"})";
  EXPECT_FALSE(decode_json(shapeless.data(), shapeless.size(), result, error, &fault));

  // A member given twice: the last one counts for the fault; an ordinary value keeps both.
  const std::string twice = R"({"error":true,"code":1,"message":"first","message":"last"})";
  ASSERT_TRUE(decode_json(twice.data(), twice.size(), result, error, &fault)) << error;
  EXPECT_TRUE(fault);
  EXPECT_EQ(result["faultString"], XmlRpcValue("last"));
  // Such a member holding members of its own keeps its name, escaped or not.
  for (const char* text : {R"({"error":{"id":1}})", R"({"\u0065rror":{"\u0069d":1}})"}) {
    const std::string nested = text;
    ASSERT_TRUE(decode_json(nested.data(), nested.size(), result, error, &fault)) << error;
    EXPECT_EQ(result["error"]["id"], XmlRpcValue(1)) << nested;
    EXPECT_EQ(result.size(), 1) << nested;
  }
  const std::string repeated = R"({"message":"first","message":"last"})";
  ASSERT_TRUE(decode_json(repeated.data(), repeated.size(), result, error, &fault)) << error;
  ASSERT_EQ(result.size(), 2);
  EXPECT_EQ(result.structValue().begin()->second, XmlRpcValue("first"));
  EXPECT_EQ(result["message"], XmlRpcValue("last"));
}

TEST(JsonDecode, WhatIsNotOneJsonValueIsRefused) {
  const std::string listing = R"({"bugs":[{"id":1,"summary":"a"},{"id":2,"summary":"b"}]})";
  XmlRpcFilter ids;
  ids.keep({Step::member("bugs"), Step::anyElement(), Step::member("id")});
  const std::string refused[] = {
      "",
      "   ",
      "<html><body><h1>502 Bad Gateway</h1></body></html>",
      "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML 2.0//EN\"><title>414 Request-URI Too Long</title>",
      "{\"a\":1} x",
      "[1,2] [3]",
      "true false",
      "[1 2]",
      "{\"a\" 1}",
      "{\"a\":nul}",
      "{\"a\":\"raw tab\there\"}",
      "[1e400]",
      "[-inf]",
      "[-1x]",
      "tru",
  };
  for (const std::string& body : refused) {
    XmlRpcValue result("stale");
    std::string error;
    EXPECT_FALSE(decode_json(body.data(), body.size(), result, error)) << body;
    EXPECT_FALSE(error.empty()) << body;
    EXPECT_FALSE(result.valid()) << body;
  }
  // Cut anywhere, with or without a filter.
  for (size_t cut = 0; cut < listing.size(); ++cut) {
    XmlRpcValue result;
    std::string error;
    EXPECT_FALSE(decode_json(listing.data(), cut, result, error)) << cut;
    EXPECT_FALSE(decode_json(listing.data(), cut, result, error, nullptr, &ids)) << cut;
    EXPECT_FALSE(result.valid()) << cut;
  }
}

TEST(JsonEncode, EveryKindAndTextEscaping) {
  const unsigned char bytes[] = {0, 1, 0xFF};
  XmlRpcValue body;
  body["comment"] = "say \"hi\" \\ back\n\ttab\r bell\x07 del\x7F caf\xC3\xA9 \xF0\x9F\x98\x80";
  body["latin1"] = "caf\xE9 \x93q\x94";
  body["id"] = -7;
  body["ratio"] = 0.1;
  body["big"] = 1e300;
  body["whole"] = 2.0;
  body["infinite"] = 1e308 * 10;
  body["private"] = true;
  body["public"] = false;
  body["when"] = XmlRpcValue(lib_test::date_time(2026, 12, 9, 0, 15, 32));
  body["bytes"] = XmlRpcValue(bytes, sizeof bytes);
  body["none"] = XmlRpcValue();
  body["ids"][0] = 6;
  body["ids"][1] = "2";
  body["empty"].assertArray(0);
  body["nested"]["inner"].assertStruct();
  EXPECT_EQ(encode_json(body),
            "{\"comment\":\"say \\\"hi\\\" \\\\ back\\n\\ttab\\r bell\\u0007 del\x7F caf\xC3\xA9 "
            "\xF0\x9F\x98\x80\",\"latin1\":\"caf\xC3\xA9 \xE2\x80\x9Cq\xE2\x80\x9D\",\"id\":-7,"
            "\"ratio\":0.1,\"big\":1e+300,\"whole\":2.0,\"infinite\":null,\"private\":true,\"public\":false,"
            "\"when\":\"2026-12-09T00:15:32Z\",\"bytes\":\"AAH/\",\"none\":null,"
            "\"ids\":[6,\"2\"],\"empty\":[],\"nested\":{\"inner\":{}}}");
  // What we write, we read back (but nulls, which are left out).
  body.removeMember("none");
  body.removeMember("infinite");
  body.removeMember("latin1");
  body["when"] = "2026-12-09T00:15:32Z";
  body["bytes"] = "AAH/";
  const std::string text = encode_json(body);
  XmlRpcValue back;
  std::string error;
  ASSERT_TRUE(decode_json(text.data(), text.size(), back, error)) << error;
  body["comment"] = "say \"hi\" \\ back\n\ttab\r bell\xEF\xBF\xBD del\x7F caf\xC3\xA9 \xF0\x9F\x98\x80";
  EXPECT_EQ(back, body);
}
