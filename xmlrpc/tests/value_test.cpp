// The value type: kinds, conversions, growth, copies, the large-struct index and equality.
#include "test_helpers.h"

#include <XmlRpc/XmlRpcValue.h>

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

using XmlRpc::XmlRpcException;
using XmlRpc::XmlRpcStruct;
using XmlRpc::XmlRpcValue;
using lib_test::date_time;

namespace {

// One value of every kind, built through the public constructors.
struct KindSample {
  const char* label;
  std::function<XmlRpcValue()> make;
  XmlRpcValue::Type type;
};

std::vector<KindSample> everyKind() {
  return {
      {"invalid", [] { return XmlRpcValue(); }, XmlRpcValue::TypeInvalid},
      {"boolean", [] { return XmlRpcValue(true); }, XmlRpcValue::TypeBoolean},
      {"int", [] { return XmlRpcValue(42); }, XmlRpcValue::TypeInt},
      {"double", [] { return XmlRpcValue(2.5); }, XmlRpcValue::TypeDouble},
      {"string", [] { return XmlRpcValue("text"); }, XmlRpcValue::TypeString},
      {"date-time", [] { return XmlRpcValue(date_time(2024, 3, 9, 10, 11, 12)); },
       XmlRpcValue::TypeDateTime},
      {"base64", [] { return XmlRpcValue("\x01\x02", 2); }, XmlRpcValue::TypeBase64},
      {"array", [] { XmlRpcValue v; v[0] = 1; return v; }, XmlRpcValue::TypeArray},
      {"struct", [] { XmlRpcValue v; v["a"] = 1; return v; }, XmlRpcValue::TypeStruct},
  };
}

}  // namespace

// ---- construction and kinds ------------------------------------------------------------

TEST(ValueKinds, MovesNeverThrowAndTheValueStaysSmall) {
  static_assert(std::is_nothrow_move_constructible<XmlRpcValue>::value, "moves must not throw");
  static_assert(std::is_nothrow_move_assignable<XmlRpcValue>::value, "moves must not throw");
  if (sizeof(void*) == 8) {
    EXPECT_EQ(sizeof(XmlRpcValue), 16u);
  }
}

TEST(ValueKinds, EachConstructorGivesItsKind) {
  for (const KindSample& sample : everyKind()) {
    SCOPED_TRACE(sample.label);
    EXPECT_EQ(sample.make().getType(), sample.type);
    EXPECT_EQ(sample.make().valid(), sample.type != XmlRpcValue::TypeInvalid);
  }
}

TEST(ValueKinds, ConstructorsKeepTheirContent) {
  XmlRpcValue null(static_cast<const char*>(nullptr));
  EXPECT_EQ(null.stringValue(), "");
  std::string moved = "moved text";
  EXPECT_EQ(XmlRpcValue(std::move(moved)).stringValue(), "moved text");
  EXPECT_EQ(XmlRpcValue(std::string("a\0b", 3)).size(), 3);

  XmlRpcValue bytes("\x00\xff\x10", 3);
  EXPECT_EQ(bytes.asBinary(), (XmlRpcValue::BinaryData{0x00, 0xff, 0x10}));
  EXPECT_EQ(XmlRpcValue(nullptr, 0).size(), 0);

  // The full year and the month counted from 1, exactly as given.
  XmlRpcValue when(date_time(2024, 12, 31, 23, 59, 58));
  EXPECT_EQ(when.asDateTime().tm_year, 2024);
  EXPECT_EQ(when.asDateTime().tm_mon, 12);
  EXPECT_EQ(when.asDateTime().tm_sec, 58);
}

TEST(ValueKinds, AssignmentsReplaceTheKind) {
  XmlRpcValue v;
  v["x"] = 1;
  v = 7;
  EXPECT_EQ(v.getType(), XmlRpcValue::TypeInt);
  v = 1.5;
  EXPECT_EQ(v.asDouble(), 1.5);
  v = true;
  EXPECT_TRUE(v.asBool());
  v = "text";
  EXPECT_EQ(v.stringValue(), "text");
  v = std::string("other");
  EXPECT_EQ(v.stringValue(), "other");
  v = static_cast<const char*>(nullptr);
  EXPECT_EQ(v.stringValue(), "");
  v.clear();
  EXPECT_FALSE(v.valid());
}

// ---- reading as a kind -----------------------------------------------------------------

TEST(ValueConversions, OnlyIntsAndTextsReadAsText) {
  EXPECT_EQ(XmlRpcValue(12345).toText(), "12345");
  EXPECT_EQ(XmlRpcValue(0).toText(), "0");
  EXPECT_EQ(XmlRpcValue(-17).toText(), "-17");
  EXPECT_EQ(XmlRpcValue(INT_MIN).toText(), "-2147483648");
  EXPECT_EQ(XmlRpcValue("Client").toText(), "Client");
  EXPECT_EQ(XmlRpcValue().toText(), "");
  for (const KindSample& sample : everyKind()) {
    const XmlRpcValue::Type t = sample.type;
    if (t != XmlRpcValue::TypeInvalid && t != XmlRpcValue::TypeInt && t != XmlRpcValue::TypeString) {
      EXPECT_THROW(sample.make().toText(), XmlRpcException) << sample.label;
    }
  }
}

TEST(ValueConversions, InvalidReadAsAKindBecomesItsEmptyValue) {
  XmlRpcValue b, i, d, s, t, bin, a, st;
  EXPECT_FALSE(b.asBool());
  EXPECT_EQ(i.asInt(), 0);
  EXPECT_EQ(d.asDouble(), 0.0);
  EXPECT_EQ(s.asString(), "");
  const std::tm& tm = t.asDateTime();
  EXPECT_EQ(tm.tm_year, 0);
  EXPECT_EQ(tm.tm_mon, 0);
  EXPECT_EQ(tm.tm_mday, 0);
  EXPECT_EQ(tm.tm_hour + tm.tm_min + tm.tm_sec + tm.tm_wday + tm.tm_yday + tm.tm_isdst, 0);
  EXPECT_TRUE(bin.asBinary().empty());
  EXPECT_TRUE(a.asArray().empty());
  EXPECT_TRUE(st.asStruct().empty());

  const XmlRpcValue::Type expected[] = {XmlRpcValue::TypeBoolean, XmlRpcValue::TypeInt,
                                        XmlRpcValue::TypeDouble, XmlRpcValue::TypeString,
                                        XmlRpcValue::TypeDateTime, XmlRpcValue::TypeBase64,
                                        XmlRpcValue::TypeArray, XmlRpcValue::TypeStruct};
  const XmlRpcValue* converted[] = {&b, &i, &d, &s, &t, &bin, &a, &st};
  for (size_t k = 0; k < 8; ++k) EXPECT_EQ(converted[k]->getType(), expected[k]) << k;
}

TEST(ValueConversions, AccessByReferenceChangesTheValue) {
  XmlRpcValue v;
  v.asInt() = 5;
  v.asInt() += 1;
  EXPECT_EQ(v, XmlRpcValue(6));
  XmlRpcValue s("ab");
  s.asString() += "c";
  EXPECT_EQ(s.stringValue(), "abc");
}

TEST(ValueConversions, KindMismatchThrowsWithBothKindsNamed) {
  XmlRpcValue text("abc");
  try {
    text.asArray();
    FAIL() << "no exception";
  } catch (const XmlRpcException& e) {
    EXPECT_STREQ(e.what(), "type error: expected array, value is string");
  }
  try {
    XmlRpcValue(3).asString();
    FAIL() << "no exception";
  } catch (const XmlRpcException& e) {
    EXPECT_STREQ(e.what(), "type error: expected string, value is int");
  }
  // Every kind refuses to be read as every other kind, and stays as it was.
  for (const KindSample& have : everyKind()) {
    for (const KindSample& want : everyKind()) {
      if (have.type == want.type || have.type == XmlRpcValue::TypeInvalid ||
          want.type == XmlRpcValue::TypeInvalid)
        continue;
      XmlRpcValue v = have.make();
      EXPECT_THROW(v.assertTypeOrInvalid(want.type), XmlRpcException)
          << have.label << " as " << want.label;
      EXPECT_EQ(v, have.make());
    }
  }
}

TEST(ValueConversions, ConstAccessRequiresTheKind) {
  const XmlRpcValue invalid;
  EXPECT_THROW(invalid.stringValue(), XmlRpcException);
  EXPECT_THROW(invalid.arrayValue(), XmlRpcException);
  EXPECT_THROW(invalid.structValue(), XmlRpcException);
  EXPECT_THROW(XmlRpcValue(1).stringValue(), XmlRpcException);
  EXPECT_FALSE(invalid.valid());  // const access never converts
}

TEST(ValueConversions, SizeCountsContainersAndBytes) {
  XmlRpcValue array;
  array.assertArray(3);
  XmlRpcValue record;
  record["a"] = 1;
  record["b"] = 2;
  EXPECT_EQ(array.size(), 3);
  EXPECT_EQ(record.size(), 2);
  EXPECT_EQ(XmlRpcValue("four").size(), 4);
  EXPECT_EQ(XmlRpcValue("xyz", 3).size(), 3);
  for (const KindSample& sample : everyKind()) {
    if (sample.type == XmlRpcValue::TypeArray || sample.type == XmlRpcValue::TypeStruct ||
        sample.type == XmlRpcValue::TypeString || sample.type == XmlRpcValue::TypeBase64)
      continue;
    EXPECT_THROW(sample.make().size(), XmlRpcException) << sample.label;
  }
}

// ---- growth ----------------------------------------------------------------------------

TEST(ValueGrowth, IndexingAnInvalidValueMakesAnArrayAndGrowsIt) {
  XmlRpcValue v;
  v[2] = "third";
  ASSERT_EQ(v.getType(), XmlRpcValue::TypeArray);
  EXPECT_EQ(v.size(), 3);
  EXPECT_FALSE(v[0].valid());
  v[0] = 1;
  EXPECT_EQ(v.size(), 3);  // never shrinks
  v.assertArray(1);
  EXPECT_EQ(v.size(), 3);
  v.assertArray(5);
  EXPECT_EQ(v.size(), 5);
  EXPECT_EQ(v[2].stringValue(), "third");
  EXPECT_THROW(v[-1], XmlRpcException);
}

TEST(ValueGrowth, NamingAMemberMakesAStructAndAddsItAsInvalid) {
  XmlRpcValue v;
  XmlRpcValue& member = v["missing"];
  EXPECT_EQ(v.getType(), XmlRpcValue::TypeStruct);
  EXPECT_FALSE(member.valid());
  EXPECT_TRUE(v.hasMember("missing"));
  EXPECT_EQ(v.size(), 1);
  // An absent "port" read through the struct reads as 0, an absent text as "".
  EXPECT_EQ(v["port"].asInt(), 0);
  EXPECT_EQ(v[std::string("name")].toText(), "");
  EXPECT_EQ(v.size(), 3);
}

TEST(ValueGrowth, OtherKindsRefuseToGrow) {
  XmlRpcValue text("abc");
  EXPECT_THROW(text[0], XmlRpcException);
  EXPECT_THROW(text["a"], XmlRpcException);
  XmlRpcValue array;
  array[0] = 1;
  EXPECT_THROW(array["a"], XmlRpcException);
  XmlRpcValue record;
  record["a"] = 1;
  EXPECT_THROW(record[0], XmlRpcException);
  EXPECT_THROW(record.assertArray(1), XmlRpcException);
  EXPECT_THROW(array.assertStruct(), XmlRpcException);
}

TEST(ValueGrowth, LookupsNeverGrow) {
  XmlRpcValue v;
  EXPECT_EQ(v.find("a"), nullptr);
  EXPECT_EQ(v.at(0), nullptr);
  EXPECT_FALSE(v.hasMember("a"));
  EXPECT_FALSE(v.valid());

  v["a"] = 1;
  ASSERT_NE(v.find("a"), nullptr);
  EXPECT_EQ(v.find("a")->toText(), "1");
  EXPECT_EQ(v.find("b"), nullptr);
  EXPECT_EQ(v.at(0), nullptr);  // a struct has no positions
  EXPECT_EQ(v.size(), 1);

  XmlRpcValue list;
  list[1] = "x";
  ASSERT_NE(list.at(1), nullptr);
  EXPECT_EQ(list.at(1)->stringValue(), "x");
  EXPECT_EQ(list.at(2), nullptr);
  EXPECT_EQ(list.at(-1), nullptr);
  EXPECT_FALSE(list.hasMember("x"));
  EXPECT_EQ(list.find("x"), nullptr);
  EXPECT_FALSE(XmlRpcValue("x").hasMember("x"));
}

TEST(ValueGrowth, RemoveMember) {
  XmlRpcValue v;
  v["a"] = 1;
  v["b"] = 2;
  EXPECT_TRUE(v.removeMember("a"));
  EXPECT_FALSE(v.removeMember("a"));
  EXPECT_FALSE(v.hasMember("a"));
  EXPECT_TRUE(v.hasMember("b"));
  EXPECT_EQ(v.size(), 1);
  XmlRpcValue text("a");
  EXPECT_FALSE(text.removeMember("a"));
}

// ---- copies and moves ------------------------------------------------------------------

TEST(ValueCopies, CopiesAreDeepAndIndependent) {
  XmlRpcValue original;
  original["list"][0] = "first";
  original["list"][1]["inner"] = 5;
  original["bytes"] = XmlRpcValue("ab", 2);
  original["when"] = XmlRpcValue(date_time(2020, 1, 2, 3, 4, 5));

  XmlRpcValue copy(original);
  EXPECT_EQ(copy, original);
  copy["list"][0] = "changed";
  copy["list"][1]["inner"] = 6;
  copy["bytes"].asBinary().push_back('c');
  copy["when"].asDateTime().tm_year = 1999;
  copy["added"] = true;

  EXPECT_EQ(original["list"][0].stringValue(), "first");
  EXPECT_EQ(original["list"][1]["inner"].asInt(), 5);
  EXPECT_EQ(original["bytes"].size(), 2);
  EXPECT_EQ(original["when"].asDateTime().tm_year, 2020);
  EXPECT_FALSE(original.hasMember("added"));

  XmlRpcValue assigned;
  assigned = original;
  EXPECT_EQ(assigned, original);
  assigned["list"][0] = "again";
  EXPECT_EQ(original["list"][0].stringValue(), "first");
}

TEST(ValueCopies, AssigningFromOwnContentIsSafe) {
  XmlRpcValue v;
  v["child"]["leaf"] = "kept";
  v = v["child"];
  EXPECT_EQ(v["leaf"].stringValue(), "kept");

  XmlRpcValue w;
  w[0][0] = 9;
  w = std::move(w[0]);
  EXPECT_EQ(w[0].asInt(), 9);

  XmlRpcValue self("same");
  const XmlRpcValue& alias = self;
  self = alias;
  EXPECT_EQ(self.stringValue(), "same");
  self = self.stringValue().c_str();
  EXPECT_EQ(self.stringValue(), "same");
}

TEST(ValueCopies, MovesLeaveTheSourceInvalid) {
  XmlRpcValue source;
  source["a"] = "b";
  XmlRpcValue target(std::move(source));
  EXPECT_FALSE(source.valid());  // NOLINT(bugprone-use-after-move): moved-from is invalid by design
  EXPECT_EQ(target["a"].stringValue(), "b");
  XmlRpcValue other("x");
  other = std::move(target);
  EXPECT_FALSE(target.valid());  // NOLINT(bugprone-use-after-move)
  EXPECT_TRUE(other.hasMember("a"));
}

// ---- struct order and the large-struct index -------------------------------------------

TEST(StructMembers, KeepInsertionOrder) {
  XmlRpcValue v;
  const char* names[] = {"zeta", "alpha", "mid", "beta"};
  for (const char* n : names) v[n] = n;
  std::vector<std::string> seen;
  for (const auto& member : v.structValue()) seen.push_back(member.first);
  EXPECT_EQ(seen, std::vector<std::string>(std::begin(names), std::end(names)));
}

class LargeStruct : public ::testing::TestWithParam<int> {
protected:
  // A struct the way the decoder builds it: by append, one member per bug.
  static XmlRpcStruct build(int count) {
    XmlRpcStruct s;
    for (int i = 0; i < count; ++i) s.append(std::to_string(i)) = i;
    return s;
  }
  static void expectAll(const XmlRpcStruct& s, int count) {
    for (int i = 0; i < count; ++i) {
      const XmlRpcValue* v = s.find(std::to_string(i));
      ASSERT_NE(v, nullptr) << i;
      ASSERT_EQ(v->toText(), std::to_string(i));
    }
    EXPECT_EQ(s.find(std::to_string(count)), nullptr);
    EXPECT_EQ(s.find(""), nullptr);
  }
};

TEST_P(LargeStruct, LookupFindsEveryMember) {
  const int count = GetParam();
  expectAll(build(count), count);
}

TEST_P(LargeStruct, AppendAfterLookupsIsFound) {
  const int count = GetParam();
  XmlRpcStruct s = build(count);
  expectAll(s, count);  // the index now exists
  for (int i = count; i < count * 3; ++i) s.append(std::to_string(i)) = i;
  expectAll(s, count * 3);
  s["extra"] = "x";
  EXPECT_EQ(s.find("extra")->toText(), "x");
  EXPECT_EQ(s.size(), static_cast<size_t>(count * 3 + 1));
}

TEST_P(LargeStruct, RemoveShiftsPositionsCorrectly) {
  const int count = GetParam();
  XmlRpcStruct s = build(count);
  expectAll(s, count);
  EXPECT_TRUE(s.remove("0"));
  EXPECT_TRUE(s.remove(std::to_string(count / 2)));
  EXPECT_FALSE(s.remove("absent"));
  EXPECT_EQ(s.find("0"), nullptr);
  EXPECT_EQ(s.find(std::to_string(count / 2)), nullptr);
  for (int i = 1; i < count; ++i) {
    if (i == count / 2) continue;
    const XmlRpcValue* v = s.find(std::to_string(i));
    ASSERT_NE(v, nullptr) << i;
    ASSERT_EQ(v->toText(), std::to_string(i));
  }
  EXPECT_EQ(s.size(), static_cast<size_t>(count - 2));
}

TEST_P(LargeStruct, CopiesDoNotShareTheIndex) {
  const int count = GetParam();
  XmlRpcStruct original = build(count);
  expectAll(original, count);
  XmlRpcStruct copy(original);
  copy.remove("1");
  copy.append("new") = 1;
  copy["0"] = "changed";
  expectAll(original, count);
  EXPECT_EQ(original.find("new"), nullptr);
  EXPECT_EQ(copy.find("1"), nullptr);
  EXPECT_EQ(copy.find("0")->toText(), "changed");
  EXPECT_EQ(copy.find(std::to_string(count - 1))->toText(), std::to_string(count - 1));

  XmlRpcStruct assigned;
  assigned.append("stale") = 0;
  assigned = original;
  EXPECT_EQ(assigned.find("stale"), nullptr);
  expectAll(assigned, count);
  original.remove("0");
  EXPECT_NE(assigned.find("0"), nullptr);

  XmlRpcStruct moved(std::move(assigned));
  expectAll(moved, count);
}

TEST_P(LargeStruct, DuplicateAppendFindsTheLastOne) {
  const int count = GetParam();
  XmlRpcStruct s = build(count);
  s.append("5") = "later";
  EXPECT_EQ(s.find("5")->toText(), "later");
  XmlRpcStruct copy(s);  // a fresh index built over the duplicate
  EXPECT_EQ(copy.find("5")->toText(), "later");
  EXPECT_TRUE(s.remove("5"));  // replacement semantics: no older "5" reappears
  EXPECT_EQ(s.find("5"), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Sizes, LargeStruct, ::testing::Values(3, 16, 17, 100, 50000));

// ---- equality --------------------------------------------------------------------------

TEST(ValueEquality, StructMemberOrderDoesNotMatter) {
  XmlRpcValue a, b;
  a["x"] = 1;
  a["y"] = "two";
  b["y"] = "two";
  b["x"] = 1;
  EXPECT_EQ(a, b);
  b["x"] = 2;
  EXPECT_NE(a, b);
  b["x"] = 1;
  b["z"] = XmlRpcValue();
  EXPECT_NE(a, b);  // an extra member, even an invalid one

  // A name a reply gives twice, with two values: the struct still equals its copy.
  XmlRpcValue twice;
  twice.asStruct().append("n") = 1;
  twice.asStruct().append("n") = 2;
  const XmlRpcValue copy(twice);
  EXPECT_EQ(twice, copy);
  XmlRpcValue other;
  other.asStruct().append("n") = 1;
  other.asStruct().append("n") = 3;
  EXPECT_NE(twice, other);
}

TEST(ValueEquality, KindAndContentMustMatch) {
  for (const KindSample& left : everyKind()) {
    for (const KindSample& right : everyKind()) {
      EXPECT_EQ(left.make() == right.make(), left.type == right.type)
          << left.label << " vs " << right.label;
    }
  }
  EXPECT_NE(XmlRpcValue(1), XmlRpcValue(true));
  EXPECT_NE(XmlRpcValue(1), XmlRpcValue(1.0));
  EXPECT_NE(XmlRpcValue("1"), XmlRpcValue(1));
  EXPECT_NE(XmlRpcValue(0.1), XmlRpcValue(0.2));
  EXPECT_NE(XmlRpcValue("ab", 2), XmlRpcValue("ac", 2));
  EXPECT_NE(XmlRpcValue(date_time(2020, 1, 1, 0, 0, 0)), XmlRpcValue(date_time(2020, 1, 1, 0, 0, 1)));

  XmlRpcValue longer, shorter;
  longer[1] = 1;
  shorter[0] = XmlRpcValue();
  EXPECT_NE(longer, shorter);
  XmlRpcValue nested1, nested2;
  nested1["a"][0]["b"] = "deep";
  nested2["a"][0]["b"] = "deeper";
  EXPECT_NE(nested1, nested2);
  nested2["a"][0]["b"] = "deep";
  EXPECT_EQ(nested1, nested2);
}
