// SPDX-License-Identifier: MIT
// The document and font-setting exports through the C interface: real Lua
// host scripts, the fake window list, the fake file system for the plug-ins.
#include <gtest/gtest.h>
#include <pthread.h>

#include <cstdio>
#include <functional>

#include "HostScript.h"
#include "extension/Text.h"
#include "helper/GlobalHelper.h"
#include "helper/JsonHelper.h"
#include "vrkfont/VRKFont.h"

namespace vrk::test {
namespace {

const std::string kData = "/home/u/.local/share";
const std::string kSketchBundle =
    kData + "/com.bohemiancoding.sketch3/Plugins/KelvraSetFont.sketchplugin";
const std::string kXdPlugin = kData + "/Adobe/UXP/Plugins/External/KelvraSetFont";
const std::string kXdData =
    kData + "/Adobe/UXP/PluginsStorage/SPRK/External/KelvraSetFont/PluginData";

JsonValue J(const char* text) {
  return JsonValue::parse(text);
}

// The three envelope exports that call one handler once.
enum Op { kFont, kBatch, kFonts };
const char* const kHandler[] = {"setSoftwareFont", "setSoftwareBatchFonts", "getSoftwareFileFonts"};
const char* const kTryFail[] = {
    R"({"code":"101","msg":"Try Fail","software":"","version":""})",
    R"({"code":"101","msg":"Try Fail","software":"","version":""})",
    R"({"code":"101","msg":"Try Fail","software":"","fontListString":""})"};
const char* const kInitFail[] = {
    R"({"code":"101","msg":"AppleScript Init Fail","software":"","version":""})",
    R"({"code":"101","msg":"AppleScript Init Fail","software":"","version":""})",
    R"({"code":"101","msg":"AppleScript Init Fail","software":"","fontListString":""})"};

class SoftwareTest : public ::testing::Test {
 protected:
  ScriptEnv env;
  HostScript script;
  void SetUp() override { env->windows.onScreen = Windows({"Finder", "Adobe Photoshop 2024"}); }

  JsonValue Call(Op op, const char* text = "Arial-BoldMT") { return Call(op, text, Path()); }
  JsonValue Call(Op op, const char* text, const char* path) {
    switch (op) {
      case kFont:
        return TakeJson(SetSoftwareFont(text, "a3", "a4", path, "/caller/Plugin"));
      case kBatch:
        return TakeJson(SetSoftwareBatchFonts(text, path));
      case kFonts:
        return TakeJson(GetSoftwareFileFonts(path));
    }
    return {};
  }
  const char* Path() const { return script.path().c_str(); }
  void Serve(const char* handler, const std::string& statement = "return '{\"code\":\"1\"}'") {
    script.Write(HostScript::Handler(handler, statement));
  }
  JsonValue DoJs(const char* ps = "alert('ps')", const char* ai = "alert('ai')") {
    return TakeJson(SetSoftwareDoJs(ps, ai, Path()));
  }
};

TEST_F(SoftwareTest, EveryAnswerRowAndTheArgumentsTheHandlerGets) {
  struct Case {
    Op op;
    std::string statement;
    const char* expected;
  };
  const auto answer = HostScript::Answer;
  const Case cases[] = {
      {kFont, answer(R"({"code":"1","version":"25.0"})"),
       R"({"code":"1","msg":"Success","software":"Photoshop","version":"25.0"})"},
      // 101 means nothing to this export; a null version is kept, not dropped.
      {kFont, answer(R"({"code":"101","version":null})"),
       R"({"code":"1","msg":"Success","software":"Photoshop","version":null})"},
      {kFont, answer(R"({"code":102,"version":{"major":[25,true]}})"),
       R"({"code":"102","msg":"Layer Error","software":"Photoshop","version":{"major":[25,true]}})"},
      {kFont, answer(R"({"code":"102"})"),
       R"({"code":"102","msg":"Layer Error","software":"Photoshop"})"},
      {kFont, answer("applied"), R"({"code":"1","msg":"Success","software":"Photoshop"})"},
      {kFont, "return {}", R"({"code":"1","msg":"Success","software":"Photoshop"})"},
      {kFont, "return 102", kTryFail[kFont]},
      {kFont, "error('busy')",
       R"({"code":"101","msg":"AppleScript Fail","software":"Photoshop","version":""})"},
      // Batch codes read the other way round.
      {kBatch, answer(R"({"code":"101","version":"v2","doResult":{"Arial":[1,"ok"]}})"),
       R"({"code":"101","msg":"Layer Error","software":"Photoshop","version":"v2",
           "fontMapResult":{"Arial":[1,"ok"]}})"},
      {kBatch, answer(R"({"code":101})"),
       R"({"code":"101","msg":"Layer Error","software":"Photoshop"})"},
      {kBatch, answer(R"({"code":"102","doResult":["x",null]})"),
       R"({"code":"102","msg":"Can`t connect to software","software":"Photoshop",
           "fontMapResult":["x",null]})"},
      {kBatch, answer(R"({"doResult":null,"version":false})"),
       R"({"code":"1","msg":"Success","software":"Photoshop","version":false,
           "fontMapResult":null})"},
      {kBatch, answer("replaced 3 fonts"),
       R"({"code":"1","msg":"Success","software":"Photoshop"})"},
      {kBatch, "return 7", kTryFail[kBatch]},
      {kBatch, "error('no document')",
       R"({"code":"101","msg":"AppleScript Fail","software":"Photoshop","version":""})"},
      {kFonts, answer(R"({"code":"1","fontListString":"Arial|Menlo"})"),
       R"({"code":"1","msg":"Success","software":"Photoshop","fontListString":"Arial|Menlo"})"},
      {kFonts, answer(R"({"code":"102","fontListString":["Arial"]})"),
       R"({"code":"102","msg":"Layer Error","software":"Photoshop","fontListString":["Arial"]})"},
      {kFonts, answer(R"({"code":102})"),
       R"({"code":"102","msg":"Layer Error","software":"Photoshop"})"},
      {kFonts, answer(R"({"code":101,"fontListString":3})"),
       R"({"code":"1","msg":"Success","software":"Photoshop","fontListString":3})"},
      {kFonts, answer("Arial, Menlo"), R"({"code":"1","msg":"Success","software":"Photoshop"})"},
      {kFonts, answer(R"("Arial")"), kTryFail[kFonts]},
      {kFonts, "error('no document')",
       R"({"code":"101","msg":"AppleScript Fail","software":"Photoshop","fontListString":""})"},
  };
  const std::vector<std::string> args[] = {{"Photoshop", "Arial-BoldMT", "a3", "a4", "Kelvra"},
                                           {"Photoshop", "Arial-BoldMT"},
                                           {"Photoshop"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.statement);
    Serve(kHandler[c.op], c.statement);
    EXPECT_EQ(Call(c.op), J(c.expected));
    EXPECT_EQ(script.Calls().back(), (HandlerCall{kHandler[c.op], args[c.op]}));
  }
}

TEST_F(SoftwareTest, ScriptsThatCannotServeTheCall) {
  for (Op op : {kFont, kBatch, kFonts}) {
    SCOPED_TRACE(kHandler[op]);
    script.Write("");
    std::remove(Path());
    EXPECT_EQ(Call(op), J(kInitFail[op]));
    script.Write("function broken(");
    EXPECT_EQ(Call(op), J(kInitFail[op]));
    // Caller texts are not read when the script cannot load.
    EXPECT_EQ(Call(op, nullptr), J(kInitFail[op]));
    Serve(op == kFonts ? "setSoftwareFont" : "getSoftwareFileFonts");
    EXPECT_EQ(Call(op)["msg"], "AppleScript Fail");

    Serve(kHandler[op]);
    EXPECT_EQ(Call(op, "x", nullptr), J(kTryFail[op]));
    if (op != kFonts) {
      EXPECT_EQ(Call(op, nullptr), J(kTryFail[op]));
      EXPECT_EQ(Call(op, "Bad\xC0\xAF"), J(kTryFail[op]));
    }
  }
  EXPECT_EQ(TakeJson(SetSoftwareFont("Arial", nullptr, "b", Path(), nullptr)), J(kTryFail[kFont]));
  EXPECT_EQ(TakeJson(SetSoftwareFont("Arial", "a", nullptr, Path(), nullptr)), J(kTryFail[kFont]));
  EXPECT_TRUE(script.Calls().empty());
}

TEST_F(SoftwareTest, NoSupportedHost) {
  script.Write(HostScript::Handler("setSoftwareFont", "return ''") +
               HostScript::Handler("getSoftwareFileFonts", "return ''"));
  env->windows.onScreen = Windows({"Finder", "Firefox"});
  EXPECT_EQ(Call(kFont, "Arial", nullptr),
            J(R"({"code":"101","msg":"No Software","software":"Finder","version":""})"));
  EXPECT_EQ(Call(kFonts, "", nullptr),
            J(R"({"code":"101","msg":"No Software","software":"Finder","fontListString":""})"));
  env->windows.onScreen = Windows({"kelvra", "Electron Helper"});
  EXPECT_EQ(Call(kFont), J(R"({"code":"101","msg":"No Software","version":""})"));
  EXPECT_EQ(Call(kFonts), J(R"({"code":"101","msg":"No Software","fontListString":""})"));
  EXPECT_TRUE(script.Calls().empty());

  // Batch calls the script anyway, with "" for the host and no software key.
  script.Write(HostScript::Handler("setSoftwareBatchFonts", "return ''"));
  EXPECT_EQ(Call(kBatch, "{}"), J(R"({"code":"1","msg":"Success"})"));
  EXPECT_EQ(script.Calls(), (std::vector<HandlerCall>{{"setSoftwareBatchFonts", {"", "{}"}}}));
  Serve("getSoftwareFileFonts");
  EXPECT_EQ(Call(kBatch), J(R"({"code":"101","msg":"AppleScript Fail","version":""})"));
}

TEST_F(SoftwareTest, FontLabelFollowsIdentity) {
  Serve("setSoftwareFont");
  const std::tuple<const char*, Text, std::string, std::string> cases[] = {
      {"Adobe Illustrator", "MuXan", "Illustrator", "Muxan"},
      {"Keynote", std::nullopt, "Keynote", "Kelvra"},
  };
  const char* font = "\xE6\x80\x9D\xE6\xBA\x90\xE9\xBB\x91\xE4\xBD\x93";
  for (const auto& [owner, identity, host, label] : cases) {
    GlobalHelper::SetAppName(identity);
    env->windows.onScreen = Windows({owner});
    EXPECT_EQ(TakeJson(SetSoftwareFont(font, "{\"size\":12}", "", Path(), nullptr))["software"],
              host);
    EXPECT_EQ(script.Calls().back(),
              (HandlerCall{"setSoftwareFont", {host, font, "{\"size\":12}", "", label}}));
  }
}

TEST_F(SoftwareTest, SketchHandOffComesBeforeTheScript) {
  env->windows.onScreen = Windows({"Sketch"});
  const JsonValue fail =
      J(R"({"code":"101","msg":"Sketch Plugin Fail","software":"","version":""})");
  Serve("setSoftwareFont");
  EXPECT_EQ(Call(kFont), fail);  // nothing to install from
  EXPECT_TRUE(script.Calls().empty());

  env->files.AddFolder(kSketchBundle);
  env->files.AddFolder(kSketchBundle + "/Contents");
  env->files.AddFolder(kSketchBundle + "/Contents/Sketch");
  EXPECT_EQ(Call(kFont, "Menlo"), J(R"({"code":"1","msg":"Success","software":"Sketch"})"));
  EXPECT_EQ(script.Calls().back().args[0], "Sketch");
  // The hand-off stays when the script then fails to load.
  script.Write("x = ");
  EXPECT_EQ(Call(kFont, "Menlo-Regular"), J(kInitFail[kFont]));
  EXPECT_EQ(env->files.Content(kSketchBundle + "/Contents/Sketch/KelvraFontName.txt"),
            "Menlo-Regular");
}

TEST_F(SoftwareTest, AdobeXDHandOffRows) {
  Serve("setSoftwareFont");
  env->windows.onScreen = Windows({"XD"});
  EXPECT_EQ(Call(kFont),
            J(R"({"code":"105","msg":"AdobeXD Plugin Lose","software":"","version":""})"));
  env->files.AddFolder(kXdPlugin);
  env->files.failWrites = true;
  EXPECT_EQ(Call(kFont),
            J(R"({"code":"101","msg":"AdobeXD Plugin Fail","software":"","version":""})"));
  EXPECT_TRUE(script.Calls().empty());

  // The storage folders the plug-in has not made yet are made for it.
  env->files.failWrites = false;
  EXPECT_EQ(Call(kFont, "Menlo"), J(R"({"code":"1","msg":"Success","software":"AdobeXD"})"));
  EXPECT_EQ(env->files.Content(kXdData + "/KelvraFontName.txt"), "Menlo");
  EXPECT_EQ(script.Calls().back().args[0], "AdobeXD");
}

TEST_F(SoftwareTest, BatchFromDesignToolsWritesNoPluginFile) {
  Serve("setSoftwareBatchFonts");
  for (const char* owner : {"Sketch", "XD"}) {
    env->windows.onScreen = Windows({owner});
    EXPECT_EQ(Call(kBatch)["code"], "1");
  }
  EXPECT_TRUE(env->files.nodes.empty());
  EXPECT_EQ(script.Calls()[0].args[0], "Sketch");
  EXPECT_EQ(script.Calls()[1].args[0], "AdobeXD");
}

// ---- SetSoftwareDoJs ----

JsonValue Both(JsonValue ps, JsonValue ai) {
  return {{"code", "1"}, {"msg", "Success"}, {"psResult", ps}, {"aiResult", ai}};
}
const JsonValue kNotRunning =
    J(R"({"code":"101","msg":"App Is Not Exist","software":"","version":"","doResult":""})");
const JsonValue kDoJsTryFail =
    J(R"({"code":"101","msg":"Try Fail","software":"","version":"","doResult":""})");

TEST_F(SoftwareTest, DoJsCallsOnlyRunningHostsPhotoshopFirst) {
  Serve("setSoftwareDoJs");
  const JsonValue psDone = J(R"({"code":"1","msg":"Success","software":"Photoshop"})");
  const JsonValue aiDone = J(R"({"code":"1","msg":"Success","software":"Illustrator"})");
  env->windows.all = {};
  EXPECT_EQ(TakeJson(SetSoftwareDoJs(nullptr, nullptr, nullptr)), Both(kNotRunning, kNotRunning));
  EXPECT_TRUE(script.Calls().empty());

  env->windows.all = Windows({"Adobe Illustrator 2024"});
  EXPECT_EQ(DoJs(nullptr, "app.activeDocument"), Both(kNotRunning, aiDone));
  env->windows.all = Windows({"Adobe Illustrator 2024", "", "Adobe Photoshop 2024"});
  EXPECT_EQ(DoJs("", "var a = \"\xE4\xB8\xAD\";\n"), Both(psDone, aiDone));
  EXPECT_EQ(script.Calls(), (std::vector<HandlerCall>{
                                {"setSoftwareDoJs", {"Illustrator", "app.activeDocument"}},
                                {"setSoftwareDoJs", {"Photoshop", ""}},
                                {"setSoftwareDoJs", {"Illustrator", "var a = \"\xE4\xB8\xAD\";\n"}},
                            }));
  // One host's failure stays in its own result.
  EXPECT_EQ(DoJs(nullptr, "x"), Both(kDoJsTryFail, aiDone));
  EXPECT_EQ(DoJs("\xC0\x80", "x"), Both(kDoJsTryFail, aiDone));
  EXPECT_EQ(TakeJson(SetSoftwareDoJs("x", "y", nullptr)), Both(kDoJsTryFail, kDoJsTryFail));
}

TEST_F(SoftwareTest, DoJsEveryRunRow) {
  env->windows.all = Windows({"Adobe Photoshop 2024", "Adobe Illustrator 2024"});
  const JsonValue initFail =
      J(R"({"code":"101","msg":"AppleScript Init Fail","software":"","version":"","doResult":""})");
  EXPECT_EQ(DoJs(), Both(initFail, initFail));
  const std::pair<std::string, const char*> cases[] = {
      {HostScript::Answer(R"({"code":101,"version":"26","doResult":[1,{"a":null}]})"),
       R"({"code":"101","msg":"Not Do","version":"26","doResult":[1,{"a":null}]})"},
      {HostScript::Answer(R"({"code":"102","doResult":null})"),
       R"({"code":"1","msg":"Success","doResult":null})"},
      {HostScript::Answer("undefined"), R"({"code":"1","msg":"Success"})"},
      {"error('no document')",
       R"({"code":"101","msg":"AppleScript Fail","version":"","doResult":""})"},
  };
  for (const auto& [statement, run] : cases) {
    SCOPED_TRACE(statement);
    Serve("setSoftwareDoJs", statement);
    JsonValue ps = J(run), ai = J(run);
    ps["software"] = "Photoshop";
    ai["software"] = "Illustrator";
    EXPECT_EQ(DoJs(), Both(ps, ai));
  }
  Serve("setSoftwareDoJs", HostScript::Answer("[1]"));
  EXPECT_EQ(DoJs(), Both(kDoJsTryFail, kDoJsTryFail));
}

// ---- Deep answers ----

// Runs f on a thread with a 256 KB stack, where recursing once per nesting
// level of a deep answer overflows.
void OnSmallStack(const std::function<void()>& f) {
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, 256 * 1024), 0);
  pthread_t thread;
  auto run = [](void* p) -> void* {
    (*static_cast<const std::function<void()>*>(p))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, run, const_cast<std::function<void()>*>(&f)), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}

JsonValue NestedArrays(size_t depth) {
  JsonValue value = JsonValue::array();
  for (size_t i = 1; i < depth; ++i) {
    JsonValue outer = JsonValue::array();
    outer.push_back(std::move(value));
    value = std::move(outer);
  }
  return value;
}

TEST_F(SoftwareTest, DeepAnswersFailTheCallNotTheCaller) {
  env->windows.all = Windows({"Adobe Photoshop 2024"});
  constexpr int kDoJs = 3;
  const char* const handler[] = {"setSoftwareFont", "setSoftwareBatchFonts", "getSoftwareFileFonts",
                                 "setSoftwareDoJs"};
  const char* const answerKey[] = {"version", "doResult", "fontListString", "doResult"};
  const char* const envelopeKey[] = {"version", "fontMapResult", "fontListString", "doResult"};
  const size_t limit = JsonHelper::kMaxDepth;
  const std::pair<int, size_t> cases[] = {
      {kFont, limit},      {kBatch, limit},     {kFonts, limit},     {kDoJs, limit},
      {kFont, limit + 1},  {kBatch, limit + 1}, {kFonts, limit + 1}, {kDoJs, limit + 1},
      {kFont, 2000},       {kDoJs, 2000},       {kBatch, 55000},     {kFonts, 55000},
      {kFont, 50'000'000}, {kDoJs, 50'000'000},  // a 100 MB answer
  };
  for (const auto& [opRow, depth] : cases) {
    const int op = opRow;  // a plain copy: clang 14 cannot capture a binding
    SCOPED_TRACE(std::string(handler[op]) + " " + std::to_string(depth));
    const std::string n = std::to_string(depth);
    Serve(handler[op], std::string("return '{\"code\":\"1\",\"") + answerKey[op] +
                           "\":' .. string.rep('[', " + n + ") .. string.rep(']', " + n +
                           ") .. '}'");
    std::string text;
    OnSmallStack([&] {
      text = TakeText(op == kDoJs    ? SetSoftwareDoJs("a", "b", Path())
                      : op == kFont  ? SetSoftwareFont("Arial", "a3", "a4", Path(), "/p")
                      : op == kBatch ? SetSoftwareBatchFonts("{}", Path())
                                     : GetSoftwareFileFonts(Path()));
    });
    ASSERT_FALSE(text.empty());
    JsonValue run = J(R"({"code":"1","msg":"Success","software":"Photoshop"})");
    run[envelopeKey[op]] = NestedArrays(depth <= limit ? depth : 1);
    if (depth > limit) run = op == kDoJs ? kDoJsTryFail : J(kTryFail[op]);
    EXPECT_EQ(JsonValue::parse(text), op == kDoJs ? Both(run, kNotRunning) : run);
  }

  // Brackets inside a text are no nesting.
  Serve("setSoftwareFont", "return '{\"version\":\"' .. string.rep('[', 100000) .. '\"}'");
  EXPECT_EQ(Call(kFont)["version"], std::string(100000, '['));
}

// ---- GetSoftwareFilePath ----

TEST_F(SoftwareTest, FilePathFromTheColonAnswer) {
  const auto path = [](const std::string& answer) {
    return HostScript::Handler("getSoftwareFilePath", HostScript::Answer(answer));
  };
  const std::pair<std::string, std::string> cases[] = {
      {path("Macintosh HD:Users:me:Documents:poster.psd"), "/Users/me/Documents/poster.psd"},
      {path(":Users:me:b.ai"), "/Users/me/b.ai"},
      {path("Macintosh HD:"), "/"},
      {path("Data:Data:x.psd"), "/Data/x.psd"},
      {path("Vol:a/b:c.psd"), "/a/b/c.psd"},
      {path("Disk::x"), "//x"},
      // Every failure is the constant empty string.
      {path("/Users/me/c.psd"), ""},
      {path(""), ""},
      {"getSoftwareFilePath = (", ""},
      {HostScript::Handler("getSoftwareFileFonts", "return 'D:a'"), ""},
      {HostScript::Handler("getSoftwareFilePath", "error('no document')"), ""},
      {HostScript::Handler("getSoftwareFilePath", "return {'D:a'}"), ""},
      // A C caller would read a shorter, different path.
      {HostScript::Handler("getSoftwareFilePath", "return 'Disk:home\\0:evil'"), ""},
  };
  for (const auto& [body, expected] : cases) {
    SCOPED_TRACE(body);
    script.Write(body);
    char* text = GetSoftwareFilePath(Path());
    EXPECT_EQ(text == ConstantEmptyString(), expected.empty());
    EXPECT_EQ(TakeText(text), expected);
  }
  EXPECT_EQ(script.Calls().front(), (HandlerCall{"getSoftwareFilePath", {"Photoshop"}}));
  EXPECT_EQ(GetSoftwareFilePath(nullptr), ConstantEmptyString());
  EXPECT_EQ(GetSoftwareFilePath((script.dir() + "/none.lua").c_str()), ConstantEmptyString());

  // Without a host the script is never run.
  Serve("getSoftwareFilePath", "return 'D:doc.sketch'");
  const size_t before = script.Calls().size();
  env->windows.onScreen = Windows({"Finder"});
  EXPECT_EQ(GetSoftwareFilePath(Path()), ConstantEmptyString());
  EXPECT_EQ(script.Calls().size(), before);
  env->windows.onScreen = Windows({"Sketch"});
  EXPECT_EQ(TakeText(GetSoftwareFilePath(Path())), "/doc.sketch");
  EXPECT_EQ(script.Calls().back(), (HandlerCall{"getSoftwareFilePath", {"Sketch"}}));
}

}  // namespace
}  // namespace vrk::test
