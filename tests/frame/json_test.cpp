// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "extension/NSStringEx.h"
#include "extension/Text.h"
#include "helper/JsonHelper.h"

namespace vrk {
namespace {

// The encoder's text as a std::string, freeing the heap copy.
std::string Encoded(const Json& value) {
  char* text = JsonHelper::objectToJson(value);
  std::string copy = text;
  if (text != ConstantEmptyString()) std::free(text);
  return copy;
}

TEST(JsonEncoder, WritesTheFixedPrettyFormEscapingSolidusAndControls) {
  Json value = Json::parse(R"({"a":[1,{"b":true}],"c":null,"d":{},"e":[]})");
  value["s"] = Json::array({"/Users/a", "穆仙", std::string("tab\tnl\nbell\x07q\"b\\\0", 17), 1.5,
                            -7, 18446744073709551615ull});
  EXPECT_EQ(Encoded(value),
            "{\n  \"a\" : [\n    1,\n    {\n      \"b\" : true\n    }\n  ],\n"
            "  \"c\" : null,\n  \"d\" : {},\n  \"e\" : [],\n  \"s\" : [\n"
            "    \"\\/Users\\/a\",\n    \"穆仙\",\n"
            "    \"tab\\tnl\\nbell\\u0007q\\\"b\\\\\\u0000\",\n"
            "    1.5,\n    -7,\n    18446744073709551615\n  ]\n}");
}

TEST(JsonEncoder, AnswersTheConstantEmptyStringForWhatItCannotWrite) {
  const Json cases[] = {
      Json::array({std::string("\xC3\x28")}),              // invalid UTF-8
      Json::object({{"k", std::string("\xE0\x80\xAF")}}),  // overlong
      Json::array({std::nan("")}),                         // NaN
      Json::array({INFINITY}),                             // infinity
      Json("scalar"),                                      // not a container
  };
  for (const Json& value : cases) {
    EXPECT_EQ(JsonHelper::objectToJson(value), ConstantEmptyString()) << value.type_name();
  }
  Json deep = Json::array();
  for (int i = 0; i < 100000; ++i) deep = Json::array({std::move(deep)});
  EXPECT_EQ(JsonHelper::objectToJson(deep), ConstantEmptyString());
}

TEST(JsonDecoder, AcceptsAnyTopLevelValueAndRoundTrips) {
  EXPECT_EQ(JsonHelper::jsonToObject(std::string("102")), Json(102));
  EXPECT_EQ(JsonHelper::jsonToObject(std::string("null")), Json(nullptr));
  for (const char* bad : {"{", "", "nope", "[1,]", "\"\xC3\x28\""}) {
    EXPECT_FALSE(JsonHelper::jsonToObject(std::string(bad))) << bad;
  }
  EXPECT_FALSE(JsonHelper::jsonToObject(std::nullopt));
  // Key order is kept, and the encoder's text reads back as the same value.
  const char* text = R"({"p":"a/b","u":"穆仙","n":[0,-1,2.25,true,false,null],"o":{"x":{}}})";
  Json value = *JsonHelper::jsonToObject(std::string(text));
  EXPECT_EQ(value.dump(), text);
  EXPECT_EQ(*JsonHelper::jsonToObject(Encoded(value)), value);
}

// Answers that break these rules read as text that is not JSON.
TEST(JsonDecoder, RefusesLoneSurrogatesAndOutOfRangeNumbers) {
  for (const char* bad : {R"(["\ud800"])", R"({"a":"\udc00x"})", R"(["\ud800\u0041"])", "[1e400]",
                          "{\"a\":-1e400}"}) {
    EXPECT_FALSE(JsonHelper::jsonToObject(std::string(bad))) << bad;
  }
  EXPECT_EQ(JsonHelper::jsonToObject(std::string(R"(["\ud83d\ude00"])")),
            Json::array({"\xF0\x9F\x98\x80"}));
}

TEST(StringCoercion, GivesTheCodeText) {
  struct Case {
    std::optional<Json> value;
    const char* text;
  } cases[] = {
      {Json(102), "102"},  {Json("102"), "102"}, {Json(true), "1"},      {Json(false), "0"},
      {Json(-3), "-3"},    {Json(2.5), "2.5"},   {Json::array({1}), ""}, {Json::object(), ""},
      {Json(nullptr), ""}, {std::nullopt, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NSStringEx::stringFromValue(c.value), c.text)
        << (c.value ? c.value->dump() : "absent");
  }
}

TEST(Envelope, StoringAnAbsentValueRemovesTheKey) {
  Json envelope = JsonHelper::Envelope({"code", "msg", "version"});
  JsonHelper::Store(envelope, "version", static_cast<const Json*>(nullptr));
  JsonHelper::Store(envelope, "software", Text(std::nullopt));
  JsonHelper::Store(envelope, "code", Text("1"));
  Json null = nullptr;
  JsonHelper::Store(envelope, "msg", &null);
  EXPECT_EQ(envelope.dump(), R"({"code":"1","msg":null})");
}

TEST(Utf8, RejectsEveryMalformedForm) {
  EXPECT_TRUE(IsValidUtf8("plain 穆仙 \xF0\x9F\x98\x80"));
  for (const char* bad : {"\x80", "\xC0\xAF", "\xC3", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                          "\xF8\x88\x80\x80\x80", "a\xE2\x82"}) {
    EXPECT_FALSE(IsValidUtf8(bad)) << bad;
  }
  EXPECT_FALSE(TextFromC(nullptr));
  EXPECT_FALSE(TextFromC("\xFF"));
  EXPECT_EQ(TextFromC(""), "");
}

}  // namespace
}  // namespace vrk
