// Whatever the caller hands over, every export answers without crashing: a
// non-null text (JSON where it answers JSON), or a plain value.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "extension/NSStringEx.h"
#include "helper/JsonHelper.h"
#include "support/FakeEnv.h"
#include "vrkfont/VRKFont.h"

namespace vrk {
namespace {

std::string Take(char* text) {
  EXPECT_NE(text, nullptr);
  if (text == nullptr) return "";
  std::string copy = text;
  if (text != ConstantEmptyString()) std::free(text);
  return copy;
}

void ExpectEnvelope(char* text) {
  std::string json = Take(text);
  auto value = JsonHelper::jsonToObject(json);
  ASSERT_TRUE(value && value->is_object()) << json;
  EXPECT_TRUE((*value)["code"].is_string()) << json;
}

TEST(Exports, SurviveNullInvalidAndHugeArguments) {
  test::ScopedFakeEnv env;
  env->windows.onScreen = test::Windows({"Adobe Photoshop"});
  env->windows.all = test::Windows({"Adobe Photoshop", "Adobe Illustrator"});
  env->scripts.scripts["/s.lua"] = [](const test::SubroutineEvent&) {
    return test::ScriptResult{std::string(R"({"code":1})")};
  };
  const std::string huge(10 * 1024 * 1024, 'a');
  const char* inputs[] = {nullptr, "", "\xFF\xFE", "\xC0\xAF", "[\"/nope\"]", "{", huge.c_str()};
  for (const char* a : inputs) {
    for (const char* script : {static_cast<const char*>(nullptr), "/s.lua", "\xFF"}) {
      ExpectEnvelope(SetSoftwareFont(a, a, a, script, a));
      ExpectEnvelope(SetSoftwareBatchFonts(a, script));
      ExpectEnvelope(SetSoftwareDoJs(a, a, script));
      ExpectEnvelope(GetSoftwareFileFonts(script));
      Take(GetSoftwareFilePath(script));
    }
    Take(RegisterFont(a));
    Take(UnRegisterFont(a));
    FontIsRegistered(a, a, a);
    FontIsRegistered(nullptr, a, a);
    Take(FindFont(a, a));
    // Nothing is installed here: every input answers the one constant "0".
    EXPECT_STREQ(CheckSoftwareIsInstalled(a), "0");
    EXPECT_EQ(CheckSoftwareIsInstalled(a), CheckSoftwareIsInstalled(nullptr));
    EXPECT_STREQ(SetAppName(a), "1");
    Take(GetAppName());
  }
  Take(GetAvailableFonts());
}

}  // namespace
}  // namespace vrk
