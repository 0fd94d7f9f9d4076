// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cmath>

#include "helper/GlobalHelper.h"
#include "helper/JsonHelper.h"
#include "support/World.h"
#include "vrkfont/VRKFont.h"

namespace vrk::test {
namespace {

Json Nested(int depth) {
  return depth > 1 ? Json::array({Nested(depth - 1)}) : Json::array();
}

TEST(Json, EncoderWritesThePrettyFormOrNothing) {
  Json value = Json::parse(R"({"a":[1,{"b":true}],"c":null,"d":{},"e":[]})");
  value["s"] = Json::array(
      {"/a b", "穆", std::string("\t\n\b\f\r\x1f\"\\\0", 9), 1.5, -7, 18446744073709551615ull});
  EXPECT_EQ(Take(JsonHelper::objectToJson(value)),
            "{\n  \"a\" : [\n    1,\n    {\n      \"b\" : true\n    }\n  ],\n  \"c\" : null,\n"
            "  \"d\" : {},\n  \"e\" : [],\n  \"s\" : [\n    \"\\/a b\",\n    \"穆\",\n"
            "    \"\\t\\n\\b\\f\\r\\u001f\\\"\\\\\\u0000\",\n    1.5,\n    -7,\n"
            "    18446744073709551615\n  ]\n}");
  EXPECT_NE(Take(JsonHelper::objectToJson(Nested(JsonHelper::kMaxDepth + 3))), "");
  for (const Json& bad :
       {Json::array({"\xC3\x28"}), Json::object({{"\xE0\x80\xAF", 1}}), Json::array({std::nan("")}),
        Json::array({INFINITY}), Json("scalar"), Nested(JsonHelper::kMaxDepth + 4)})
    EXPECT_EQ(JsonHelper::objectToJson(bad), ConstantEmptyString()) << bad.type_name();
}

TEST(Json, DecoderTakesAnyValueButNoLoneSurrogateOrOverflow) {
  EXPECT_EQ(JsonHelper::jsonToObject(R"(["\ud83d\ude00"])"), Json::array({"\xF0\x9F\x98\x80"}));
  EXPECT_EQ(JsonHelper::jsonToObject(Nested(JsonHelper::kMaxDepth + 1).dump()),
            Nested(JsonHelper::kMaxDepth + 1));
  for (const std::string& bad : std::vector<std::string>{
           "", "[1,]", "\"\xC3\x28\"", R"(["\ud800"])", R"(["\udc00x"])", R"(["\ud800\u0041"])",
           "[1e400]", Nested(JsonHelper::kMaxDepth + 2).dump()})
    EXPECT_FALSE(JsonHelper::jsonToObject(bad)) << bad;
}

TEST(Utf8, EveryBoundary) {
  for (std::string_view good :
       {"\x7F", "\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xED\x9F\xBF", "\xEE\x80\x80",
        "\xEF\xBF\xBF", "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF"})
    EXPECT_TRUE(IsValidUtf8(good)) << good;
  for (std::string_view bad :
       {"\x80", "\x91\x80\x80\x80", "\xC1\xBF\xBF\xBF", "\xC3\x28", "\xE0\x9F\xBF", "\xED\xA0\x80",
        "\xED\xBF\xBF", "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80"})
    EXPECT_FALSE(IsValidUtf8(bad)) << bad;
  EXPECT_FALSE(IsValidUtf8(std::string_view("\xC3\xA9", 1)));  // cut short
}

TEST(Identity, SetAndGet) {
  char* one = SetAppName("穆仙");
  char* held = GetAppName();
  EXPECT_STREQ(one, "1");
  EXPECT_EQ(SetAppName("later"), one);  // one constant, never freed
  EXPECT_EQ(Take(held), "穆仙");        // the caller's copy outlives the next SetAppName
  std::string seen;                     // the name answered : the label chosen
  for (const char* given : {"MuXan", "muxan", static_cast<const char*>(nullptr), "\xFF"}) {
    SetAppName(given);
    seen += Take(GetAppName()) + ":" +
            GlobalHelper::ChooseByIdentity<std::string>("Muxan", "Kelvra") + " ";
  }
  EXPECT_EQ(seen, "MuXan:Muxan muxan:Kelvra :Kelvra :Kelvra ");
}

}  // namespace
}  // namespace vrk::test
