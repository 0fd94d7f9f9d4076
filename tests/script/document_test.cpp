// The document operations through the C interface: batch replacement, script
// runs in Photoshop and Illustrator, the document path and its fonts.
#include <gtest/gtest.h>

#include <cstring>

#include "HostScript.h"
#include "extension/NSStringEx.h"
#include "vrkfont/VRKFont.h"

namespace vrk::test {
namespace {

class DocumentTest : public ::testing::Test {
 protected:
  ScriptEnv env;
  HostScript script;
  void SetUp() override { env->windows.onScreen = Windows({"Finder", "Adobe Photoshop 2024"}); }
};

// ---- SetSoftwareBatchFonts ----

using BatchTest = DocumentTest;

JsonValue Batch(const HostScript& script, const char* fontMap = "{\"Arial\":\"Menlo\"}") {
  return TakeJson(SetSoftwareBatchFonts(fontMap, script.path().c_str()));
}

TEST_F(BatchTest, EveryAnswerRow) {
  struct Case {
    std::string statement;
    JsonValue expected;
  };
  const Case cases[] = {
      {HostScript::Answer(R"({"code":"101","version":"v2","doResult":{"Arial":[1,"ok"]}})"),
       {{"code", "101"},
        {"msg", "Layer Error"},
        {"software", "Photoshop"},
        {"version", "v2"},
        {"fontMapResult", {{"Arial", {1, "ok"}}}}}},
      {HostScript::Answer(R"({"code":101})"),
       {{"code", "101"}, {"msg", "Layer Error"}, {"software", "Photoshop"}}},
      {HostScript::Answer(R"({"code":"102","doResult":["x",null]})"),
       {{"code", "102"},
        {"msg", "Can`t connect to software"},
        {"software", "Photoshop"},
        {"fontMapResult", {"x", nullptr}}}},
      {HostScript::Answer(R"({"code":102,"version":7})"),
       {{"code", "102"},
        {"msg", "Can`t connect to software"},
        {"software", "Photoshop"},
        {"version", 7}}},
      {HostScript::Answer(R"({"code":"1","version":2.5,"doResult":"done"})"),
       {{"code", "1"},
        {"msg", "Success"},
        {"software", "Photoshop"},
        {"version", 2.5},
        {"fontMapResult", "done"}}},
      {HostScript::Answer(R"({"doResult":null,"version":false})"),
       {{"code", "1"},
        {"msg", "Success"},
        {"software", "Photoshop"},
        {"version", false},
        {"fontMapResult", nullptr}}},
      {HostScript::Answer("replaced 3 fonts"),
       {{"code", "1"}, {"msg", "Success"}, {"software", "Photoshop"}}},
      {"return {}", {{"code", "1"}, {"msg", "Success"}, {"software", "Photoshop"}}},
      {"return 7", {{"code", "101"}, {"msg", "Try Fail"}, {"software", ""}, {"version", ""}}},
      {"error('no document')",
       {{"code", "101"}, {"msg", "AppleScript Fail"}, {"software", "Photoshop"}, {"version", ""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.statement);
    script.Write(HostScript::Handler("setSoftwareBatchFonts", c.statement));
    EXPECT_EQ(Batch(script), c.expected);
  }
  const std::vector<HandlerCall> calls = script.Calls();
  ASSERT_EQ(calls.size(), std::size(cases));
  EXPECT_EQ(calls[0],
            (HandlerCall{"setSoftwareBatchFonts", {"Photoshop", "{\"Arial\":\"Menlo\"}"}}));
}

TEST_F(BatchTest, ConnectFailureMessageKeepsItsGraveAccent) {
  script.Write(HostScript::Handler("setSoftwareBatchFonts", "return '{\"code\":102}'"));
  char* text = SetSoftwareBatchFonts("{}", script.path().c_str());
  EXPECT_NE(std::strstr(text, "\"Can`t connect to software\""), nullptr) << text;
  TakeJson(text);
}

TEST_F(BatchTest, TheScriptIsCalledWithoutAHostToo) {
  script.Write(HostScript::Handler("setSoftwareBatchFonts", "return ''") +
               HostScript::Handler("getSoftwareFileFonts", "return ''"));
  env->windows.onScreen = Windows({"Finder"});
  EXPECT_EQ(Batch(script), (JsonValue{{"code", "1"}, {"msg", "Success"}}));
  // The handler is missing from this script: no answer, still no host.
  script.Write(HostScript::Handler("getSoftwareFileFonts", "return ''"));
  EXPECT_EQ(Batch(script),
            (JsonValue{{"code", "101"}, {"msg", "AppleScript Fail"}, {"version", ""}}));
  EXPECT_EQ(script.Calls(),
            (std::vector<HandlerCall>{{"setSoftwareBatchFonts", {"", "{\"Arial\":\"Menlo\"}"}}}));
}

TEST_F(BatchTest, DesignToolsGetNoPluginFile) {
  script.Write(HostScript::Handler("setSoftwareBatchFonts", "return ''"));
  for (const char* owner : {"Sketch", "XD"}) {
    env->windows.onScreen = Windows({owner});
    EXPECT_EQ(Batch(script)["code"], "1");
  }
  EXPECT_TRUE(env->files.nodes.empty());
  const std::vector<HandlerCall> calls = script.Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].args[0], "Sketch");
  EXPECT_EQ(calls[1].args[0], "AdobeXD");
}

TEST_F(BatchTest, BadArgumentsAndScripts) {
  const JsonValue initFail = {
      {"code", "101"}, {"msg", "AppleScript Init Fail"}, {"software", ""}, {"version", ""}};
  const JsonValue tryFail = {
      {"code", "101"}, {"msg", "Try Fail"}, {"software", ""}, {"version", ""}};
  EXPECT_EQ(Batch(script, nullptr), initFail);
  script.Write("error('broken at load')");
  EXPECT_EQ(Batch(script), initFail);
  script.Write(HostScript::Handler("setSoftwareBatchFonts", "return ''"));
  EXPECT_EQ(Batch(script, nullptr), tryFail);
  EXPECT_EQ(Batch(script, "\xFF"), tryFail);
  EXPECT_EQ(TakeJson(SetSoftwareBatchFonts("{}", nullptr)), tryFail);
  EXPECT_TRUE(script.Calls().empty());
}

// ---- SetSoftwareDoJs ----

class DoJsTest : public DocumentTest {
 protected:
  JsonValue DoJs(const char* ps = "alert('ps')", const char* ai = "alert('ai')") {
    return TakeJson(SetSoftwareDoJs(ps, ai, script.path().c_str()));
  }
  static JsonValue Envelope(JsonValue ps, JsonValue ai) {
    return {{"code", "1"}, {"msg", "Success"}, {"psResult", ps}, {"aiResult", ai}};
  }
};

const JsonValue kNotRunning = {{"code", "101"},
                               {"msg", "App Is Not Exist"},
                               {"software", ""},
                               {"version", ""},
                               {"doResult", ""}};

TEST_F(DoJsTest, OnlyRunningHostsAreCalledPhotoshopFirst) {
  script.Write(HostScript::Handler("setSoftwareDoJs", "return '{\"code\":\"1\"}'"));
  const JsonValue psDone = {{"code", "1"}, {"msg", "Success"}, {"software", "Photoshop"}};
  const JsonValue aiDone = {{"code", "1"}, {"msg", "Success"}, {"software", "Illustrator"}};

  env->windows.all = {};
  EXPECT_EQ(TakeJson(SetSoftwareDoJs(nullptr, nullptr, nullptr)),
            Envelope(kNotRunning, kNotRunning));
  EXPECT_TRUE(script.Calls().empty());

  env->windows.all = Windows({"Adobe Illustrator 2024"});
  EXPECT_EQ(DoJs(nullptr, "app.activeDocument"), Envelope(kNotRunning, aiDone));
  EXPECT_EQ(script.Calls(),
            (std::vector<HandlerCall>{{"setSoftwareDoJs", {"Illustrator", "app.activeDocument"}}}));

  env->windows.all = Windows({"Adobe Illustrator 2024", "", "Adobe Photoshop 2024"});
  EXPECT_EQ(DoJs("", "var a = \"\xE4\xB8\xAD\";\n"), Envelope(psDone, aiDone));
  const std::vector<HandlerCall> calls = script.Calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[1], (HandlerCall{"setSoftwareDoJs", {"Photoshop", ""}}));
  EXPECT_EQ(calls[2],
            (HandlerCall{"setSoftwareDoJs", {"Illustrator", "var a = \"\xE4\xB8\xAD\";\n"}}));
}

TEST_F(DoJsTest, EveryHostRunRow) {
  env->windows.all = Windows({"Adobe Photoshop 2024", "Adobe Illustrator 2024"});
  struct Case {
    std::string statement;
    JsonValue run;  // software filled in per host where it is the host name
    bool named;
  };
  const Case cases[] = {
      {HostScript::Answer(R"({"code":"101","version":"26","doResult":[1,{"a":null}]})"),
       {{"code", "101"}, {"msg", "Not Do"}, {"version", "26"}, {"doResult", {1, {{"a", nullptr}}}}},
       true},
      {HostScript::Answer(R"({"code":101})"), {{"code", "101"}, {"msg", "Not Do"}}, true},
      {HostScript::Answer(R"({"code":"102","doResult":null})"),
       {{"code", "1"}, {"msg", "Success"}, {"doResult", nullptr}},
       true},
      {HostScript::Answer(R"({"code":1,"version":true,"doResult":"ok"})"),
       {{"code", "1"}, {"msg", "Success"}, {"version", true}, {"doResult", "ok"}},
       true},
      {HostScript::Answer("undefined"), {{"code", "1"}, {"msg", "Success"}}, true},
      {"return", {{"code", "1"}, {"msg", "Success"}}, true},
      {HostScript::Answer("[1]"),
       {{"code", "101"}, {"msg", "Try Fail"}, {"software", ""}, {"version", ""}, {"doResult", ""}},
       false},
      {"error('not running a document')",
       {{"code", "101"}, {"msg", "AppleScript Fail"}, {"version", ""}, {"doResult", ""}},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.statement);
    script.Write(HostScript::Handler("setSoftwareDoJs", c.statement));
    JsonValue ps = c.run;
    JsonValue ai = c.run;
    if (c.named) {
      ps["software"] = "Photoshop";
      ai["software"] = "Illustrator";
    }
    EXPECT_EQ(DoJs(), Envelope(ps, ai));
  }
}

TEST_F(DoJsTest, EachHostKeepsItsOwnFailure) {
  env->windows.all = Windows({"Adobe Photoshop 2024", "Adobe Illustrator 2024"});
  const JsonValue initFail = {{"code", "101"},
                              {"msg", "AppleScript Init Fail"},
                              {"software", ""},
                              {"version", ""},
                              {"doResult", ""}};
  EXPECT_EQ(DoJs(), Envelope(initFail, initFail));

  script.Write(HostScript::Handler("setSoftwareDoJs", "return ''"));
  const JsonValue tryFail = {
      {"code", "101"}, {"msg", "Try Fail"}, {"software", ""}, {"version", ""}, {"doResult", ""}};
  const JsonValue aiDone = {{"code", "1"}, {"msg", "Success"}, {"software", "Illustrator"}};
  EXPECT_EQ(DoJs(nullptr, "x"), Envelope(tryFail, aiDone));
  EXPECT_EQ(DoJs("\xC0\x80", "x"), Envelope(tryFail, aiDone));
  EXPECT_EQ(TakeJson(SetSoftwareDoJs("x", "y", nullptr)), Envelope(tryFail, tryFail));
}

// ---- GetSoftwareFilePath ----

using FilePathTest = DocumentTest;

TEST_F(FilePathTest, ColonPathsBecomeSlashPaths) {
  struct Case {
    std::string answer;
    std::string path;
  };
  const Case cases[] = {
      {"Macintosh HD:Users:me:Documents:poster.psd", "/Users/me/Documents/poster.psd"},
      {"Data:Projects:a.indd", "/Projects/a.indd"},
      {":Users:me:b.ai", "/Users/me/b.ai"},
      {"Macintosh HD:", "/"},
      {"/Users/me/c.psd", ""},
      {"Data:Data:x.psd", "/Data/x.psd"},
      {"Vol:a/b:c.psd", "/a/b/c.psd"},
      {"Disk:home:\xE6\x96\x87\xE6\xA1\xA3:f.psd", "/home/\xE6\x96\x87\xE6\xA1\xA3/f.psd"},
      {"Disk::x", "//x"},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    script.Write(HostScript::Handler("getSoftwareFilePath", HostScript::Answer(c.answer)));
    char* path = GetSoftwareFilePath(script.path().c_str());
    if (c.path.empty()) {
      EXPECT_EQ(path, ConstantEmptyString());
    }
    EXPECT_EQ(TakeText(path), c.path);
  }
  EXPECT_EQ(script.Calls().back(), (HandlerCall{"getSoftwareFilePath", {"Photoshop"}}));
}

TEST_F(FilePathTest, EveryFailureIsTheConstantEmptyString) {
  struct Case {
    const char* what;
    std::string body;
  };
  const Case cases[] = {
      {"does not load", "getSoftwareFilePath = ("},
      {"handler missing", HostScript::Handler("getSoftwareFileFonts", "return 'D:a'")},
      {"handler raises", HostScript::Handler("getSoftwareFilePath", "error('no document')")},
      {"no text form", HostScript::Handler("getSoftwareFilePath", "return {'D:a'}")},
      {"number", HostScript::Handler("getSoftwareFilePath", "return 12")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    script.Write(c.body);
    EXPECT_EQ(GetSoftwareFilePath(script.path().c_str()), ConstantEmptyString());
  }
  EXPECT_EQ(GetSoftwareFilePath(nullptr), ConstantEmptyString());
  EXPECT_EQ(GetSoftwareFilePath((script.dir() + "/none.lua").c_str()), ConstantEmptyString());
}

TEST_F(FilePathTest, HostDecidesWhetherTheScriptRuns) {
  script.Write(HostScript::Handler("getSoftwareFilePath", "return 'D:doc.sketch'"));
  env->windows.onScreen = Windows({"Finder"});
  EXPECT_EQ(GetSoftwareFilePath(nullptr), ConstantEmptyString());
  EXPECT_EQ(GetSoftwareFilePath(script.path().c_str()), ConstantEmptyString());
  EXPECT_TRUE(script.Calls().empty());

  env->windows.onScreen = Windows({"Sketch"});
  EXPECT_EQ(TakeText(GetSoftwareFilePath(script.path().c_str())), "/doc.sketch");
  EXPECT_EQ(script.Calls(), (std::vector<HandlerCall>{{"getSoftwareFilePath", {"Sketch"}}}));
  EXPECT_TRUE(env->files.nodes.empty());
}

// ---- GetSoftwareFileFonts ----

using FileFontsTest = DocumentTest;

JsonValue Fonts(const HostScript& script) {
  return TakeJson(GetSoftwareFileFonts(script.path().c_str()));
}

TEST_F(FileFontsTest, EveryAnswerRow) {
  struct Case {
    std::string statement;
    JsonValue expected;
  };
  const JsonValue tryFail = {
      {"code", "101"}, {"msg", "Try Fail"}, {"software", ""}, {"fontListString", ""}};
  const Case cases[] = {
      {HostScript::Answer(R"({"code":"1","fontListString":"Arial|Menlo"})"),
       {{"code", "1"},
        {"msg", "Success"},
        {"software", "Photoshop"},
        {"fontListString", "Arial|Menlo"}}},
      {HostScript::Answer(R"({"code":"102","fontListString":["Arial"]})"),
       {{"code", "102"},
        {"msg", "Layer Error"},
        {"software", "Photoshop"},
        {"fontListString", {"Arial"}}}},
      {HostScript::Answer(R"({"code":102})"),
       {{"code", "102"}, {"msg", "Layer Error"}, {"software", "Photoshop"}}},
      {HostScript::Answer(R"({"code":101,"fontListString":3})"),
       {{"code", "1"}, {"msg", "Success"}, {"software", "Photoshop"}, {"fontListString", 3}}},
      {HostScript::Answer(R"({"fontListString":null})"),
       {{"code", "1"}, {"msg", "Success"}, {"software", "Photoshop"}, {"fontListString", nullptr}}},
      {HostScript::Answer(R"({"fontListString":{"Arial":{"used":true}}})"),
       {{"code", "1"},
        {"msg", "Success"},
        {"software", "Photoshop"},
        {"fontListString", {{"Arial", {{"used", true}}}}}}},
      {HostScript::Answer("Arial, Menlo"),
       {{"code", "1"}, {"msg", "Success"}, {"software", "Photoshop"}}},
      {"return nil", {{"code", "1"}, {"msg", "Success"}, {"software", "Photoshop"}}},
      {HostScript::Answer(R"(["Arial"])"), tryFail},
      {HostScript::Answer(R"("Arial")"), tryFail},
      {"error('no document')",
       {{"code", "101"},
        {"msg", "AppleScript Fail"},
        {"software", "Photoshop"},
        {"fontListString", ""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.statement);
    script.Write(HostScript::Handler("getSoftwareFileFonts", c.statement));
    EXPECT_EQ(Fonts(script), c.expected);
  }
  EXPECT_EQ(script.Calls().front(), (HandlerCall{"getSoftwareFileFonts", {"Photoshop"}}));
}

TEST_F(FileFontsTest, HostAndScriptFailures) {
  const JsonValue initFail = {
      {"code", "101"}, {"msg", "AppleScript Init Fail"}, {"software", ""}, {"fontListString", ""}};
  EXPECT_EQ(Fonts(script), initFail);
  script.Write("x = ");
  EXPECT_EQ(Fonts(script), initFail);
  EXPECT_EQ(
      TakeJson(GetSoftwareFileFonts(nullptr)),
      (JsonValue{{"code", "101"}, {"msg", "Try Fail"}, {"software", ""}, {"fontListString", ""}}));

  script.Write(HostScript::Handler("getSoftwareFileFonts", "return '{}'"));
  env->windows.onScreen = Windows({"Finder"});
  EXPECT_EQ(TakeJson(GetSoftwareFileFonts(nullptr)), (JsonValue{{"code", "101"},
                                                                {"msg", "No Software"},
                                                                {"software", "Finder"},
                                                                {"fontListString", ""}}));
  env->windows.onScreen = {};
  EXPECT_EQ(Fonts(script),
            (JsonValue{{"code", "101"}, {"msg", "No Software"}, {"fontListString", ""}}));
  EXPECT_TRUE(script.Calls().empty());

  env->windows.onScreen = Windows({"Sketch"});
  EXPECT_EQ(Fonts(script), (JsonValue{{"code", "1"}, {"msg", "Success"}, {"software", "Sketch"}}));
  EXPECT_EQ(script.Calls(), (std::vector<HandlerCall>{{"getSoftwareFileFonts", {"Sketch"}}}));
}

}  // namespace
}  // namespace vrk::test
