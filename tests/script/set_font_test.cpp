// SetSoftwareFont through the C interface: real Lua host scripts, the fake
// window list, and the fake file system for the plug-ins.
#include <gtest/gtest.h>

#include "HostScript.h"
#include "helper/GlobalHelper.h"
#include "vrkfont/VRKFont.h"

namespace vrk::test {
namespace {

const std::string kData = "/home/u/.local/share";
const std::string kSketchBundle =
    kData + "/com.bohemiancoding.sketch3/Plugins/KelvraSetFont.sketchplugin";
const std::string kSketchFontFile = kSketchBundle + "/Contents/Sketch/KelvraFontName.txt";
const std::string kXdPlugin = kData + "/Adobe/UXP/Plugins/External/KelvraSetFont";
const std::string kXdData =
    kData + "/Adobe/UXP/PluginsStorage/SPRK/External/KelvraSetFont/PluginData";

class SetFontTest : public ::testing::Test {
 protected:
  ScriptEnv env;
  HostScript script;

  void SetUp() override { env->windows.onScreen = Windows({"Finder", "Adobe Photoshop 2024"}); }

  JsonValue Apply(const char* font = "Arial-BoldMT", const char* arg3 = "a3",
                  const char* arg4 = "a4") {
    return TakeJson(SetSoftwareFont(font, arg3, arg4, script.path().c_str(), "/caller/Plugin"));
  }

  void AddInstalledSketchPlugin() {
    env->files.AddFolder(kSketchBundle);
    env->files.AddFolder(kSketchBundle + "/Contents");
    env->files.AddFolder(kSketchBundle + "/Contents/Sketch");
  }
};

TEST_F(SetFontTest, EveryAnswerRow) {
  struct Case {
    std::string statement;
    JsonValue expected;
  };
  const Case cases[] = {
      {HostScript::Answer(R"({"code":"1","version":"25.0"})"),
       {{"code", "1"}, {"msg", "Success"}, {"software", "Photoshop"}, {"version", "25.0"}}},
      {HostScript::Answer(R"({"code":1})"),
       {{"code", "1"}, {"msg", "Success"}, {"software", "Photoshop"}}},
      {HostScript::Answer(R"({"code":"101","version":null})"),
       {{"code", "1"}, {"msg", "Success"}, {"software", "Photoshop"}, {"version", nullptr}}},
      {HostScript::Answer(R"({"code":"102","version":25})"),
       {{"code", "102"}, {"msg", "Layer Error"}, {"software", "Photoshop"}, {"version", 25}}},
      {HostScript::Answer(R"({"code":102,"version":{"major":[25,true]}})"),
       {{"code", "102"},
        {"msg", "Layer Error"},
        {"software", "Photoshop"},
        {"version", {{"major", {25, true}}}}}},
      {HostScript::Answer(R"({"code":102})"),
       {{"code", "102"}, {"msg", "Layer Error"}, {"software", "Photoshop"}}},
      {HostScript::Answer("applied"),
       {{"code", "1"}, {"msg", "Success"}, {"software", "Photoshop"}}},
      {"return {}", {{"code", "1"}, {"msg", "Success"}, {"software", "Photoshop"}}},
      {"return", {{"code", "1"}, {"msg", "Success"}, {"software", "Photoshop"}}},
      {"return 102", {{"code", "101"}, {"msg", "Try Fail"}, {"software", ""}, {"version", ""}}},
      {HostScript::Answer(R"(["1"])"),
       {{"code", "101"}, {"msg", "Try Fail"}, {"software", ""}, {"version", ""}}},
      {"error('Photoshop is busy')",
       {{"code", "101"}, {"msg", "AppleScript Fail"}, {"software", "Photoshop"}, {"version", ""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.statement);
    script.Write(HostScript::Handler("setSoftwareFont", c.statement));
    EXPECT_EQ(Apply(), c.expected);
  }
}

TEST_F(SetFontTest, ScriptsThatDoNotServeTheCall) {
  const JsonValue initFail = {
      {"code", "101"}, {"msg", "AppleScript Init Fail"}, {"software", ""}, {"version", ""}};
  const JsonValue noAnswer = {
      {"code", "101"}, {"msg", "AppleScript Fail"}, {"software", "Photoshop"}, {"version", ""}};

  EXPECT_EQ(Apply(), initFail);  // not written yet
  script.Write("function setSoftwareFont(");
  EXPECT_EQ(Apply(), initFail);
  // Arguments are not read when the script cannot load.
  EXPECT_EQ(Apply("Arial", nullptr, nullptr), initFail);
  script.Write(HostScript::Handler("getSoftwareFileFonts", "return '{}'"));
  EXPECT_EQ(Apply(), noAnswer);
  script.Write(HostScript::Handler("setSoftwareFont", "os.exit(1)"));
  EXPECT_EQ(Apply(), noAnswer);
}

TEST_F(SetFontTest, NoSupportedHostLeavesScriptAndPluginsAlone) {
  script.Write(HostScript::Handler("setSoftwareFont", "return 'x'"));
  env->windows.onScreen = Windows({"Finder", "Firefox"});
  EXPECT_EQ(TakeJson(SetSoftwareFont("Arial", "a", "b", nullptr, nullptr)),
            (JsonValue{
                {"code", "101"}, {"msg", "No Software"}, {"software", "Finder"}, {"version", ""}}));
  env->windows.onScreen = Windows({"kelvra", "Electron Helper"});
  EXPECT_EQ(Apply(), (JsonValue{{"code", "101"}, {"msg", "No Software"}, {"version", ""}}));
  EXPECT_TRUE(script.Calls().empty());
}

TEST_F(SetFontTest, NullOrInvalidCallerTextsFailAfterTheScriptLoads) {
  script.Write(HostScript::Handler("setSoftwareFont", "return 'x'"));
  const JsonValue tryFail = {
      {"code", "101"}, {"msg", "Try Fail"}, {"software", ""}, {"version", ""}};
  EXPECT_EQ(Apply("Arial", nullptr, "b"), tryFail);
  EXPECT_EQ(Apply("Arial", "a", nullptr), tryFail);
  EXPECT_EQ(Apply(nullptr, "a", "b"), tryFail);
  EXPECT_EQ(Apply("Bad\xC0\xAF", "a", "b"), tryFail);
  EXPECT_EQ(TakeJson(SetSoftwareFont("Arial", "a", "b", nullptr, nullptr)), tryFail);
  EXPECT_TRUE(script.Calls().empty());
}

TEST_F(SetFontTest, HandlerArgumentsFollowHostAndIdentity) {
  script.Write(HostScript::Handler("setSoftwareFont", "return '{\"code\":\"1\"}'"));
  struct Case {
    const char* owner;
    std::optional<std::string> identity;
    std::string host;
    std::string label;
  };
  const Case cases[] = {
      {"Adobe Photoshop 2024", std::nullopt, "Photoshop", "Kelvra"},
      {"Adobe Illustrator", "MuXan", "Illustrator", "Muxan"},
      {"Adobe InDesign", "muxan", "InDesign", "Kelvra"},
      {"Adobe After Effects", "MUXAN", "AfterEffects", "Kelvra"},
      {"Microsoft Word", "", "Word", "Kelvra"},
      {"Microsoft PowerPoint", "MuXan", "PowerPoint", "Muxan"},
      {"Keynote", "Kelvra", "Keynote", "Kelvra"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.owner);
    GlobalHelper::SetAppName(c.identity);
    env->windows.onScreen = Windows({c.owner});
    size_t seen = script.Calls().size();
    EXPECT_EQ(Apply("\xE6\x80\x9D\xE6\xBA\x90\xE9\xBB\x91\xE4\xBD\x93", "{\"size\":12}", ""),
              (JsonValue{{"code", "1"}, {"msg", "Success"}, {"software", c.host}}));
    auto calls = script.Calls();
    ASSERT_EQ(calls.size(), seen + 1);
    EXPECT_EQ(calls.back(),
              (HandlerCall{"setSoftwareFont",
                           {c.host, "\xE6\x80\x9D\xE6\xBA\x90\xE9\xBB\x91\xE4\xBD\x93",
                            "{\"size\":12}", "", c.label}}));
  }
}

TEST_F(SetFontTest, SketchGetsTheNameBeforeTheScriptRuns) {
  script.Write(HostScript::Handler("setSoftwareFont", "return '{\"code\":\"1\"}'"));
  env->windows.onScreen = Windows({"Sketch"});
  AddInstalledSketchPlugin();
  EXPECT_EQ(Apply("Menlo-Regular"),
            (JsonValue{{"code", "1"}, {"msg", "Success"}, {"software", "Sketch"}}));
  EXPECT_EQ(env->files.Content(kSketchFontFile), "Menlo-Regular");
  ASSERT_EQ(script.Calls().size(), 1u);
  EXPECT_EQ(script.Calls()[0].args[0], "Sketch");
}

TEST_F(SetFontTest, FailedSketchHandOffSkipsTheScript) {
  script.Write(HostScript::Handler("setSoftwareFont", "return '{\"code\":\"1\"}'"));
  env->windows.onScreen = Windows({"Sketch"});
  const JsonValue fail = {
      {"code", "101"}, {"msg", "Sketch Plugin Fail"}, {"software", ""}, {"version", ""}};
  // Nothing to install from.
  EXPECT_EQ(Apply(), fail);
  // Installed, but the name cannot be written where the plug-in reads it.
  env->files.AddFolder(kSketchBundle);
  EXPECT_EQ(Apply(), fail);
  EXPECT_TRUE(script.Calls().empty());
}

TEST_F(SetFontTest, AdobeXDHandOffRows) {
  script.Write(HostScript::Handler("setSoftwareFont", "return '{\"code\":\"1\"}'"));
  env->windows.onScreen = Windows({"XD"});
  EXPECT_EQ(
      Apply(),
      (JsonValue{
          {"code", "105"}, {"msg", "AdobeXD Plugin Lose"}, {"software", ""}, {"version", ""}}));
  env->files.AddFolder(kXdPlugin);
  EXPECT_EQ(
      Apply(),
      (JsonValue{
          {"code", "101"}, {"msg", "AdobeXD Plugin Fail"}, {"software", ""}, {"version", ""}}));
  EXPECT_TRUE(script.Calls().empty());

  env->files.AddFolder(kXdData);
  EXPECT_EQ(Apply("Menlo-Regular"),
            (JsonValue{{"code", "1"}, {"msg", "Success"}, {"software", "AdobeXD"}}));
  EXPECT_EQ(env->files.Content(kXdData + "/KelvraFontName.txt"), "Menlo-Regular");
  ASSERT_EQ(script.Calls().size(), 1u);
  EXPECT_EQ(script.Calls()[0].args[0], "AdobeXD");
}

TEST_F(SetFontTest, HandOffStaysWhenTheScriptThenFails) {
  env->windows.onScreen = Windows({"Sketch"});
  AddInstalledSketchPlugin();
  EXPECT_EQ(
      Apply("Menlo-Regular"),
      (JsonValue{
          {"code", "101"}, {"msg", "AppleScript Init Fail"}, {"software", ""}, {"version", ""}}));
  EXPECT_EQ(env->files.Content(kSketchFontFile), "Menlo-Regular");
}

}  // namespace
}  // namespace vrk::test
