// SPDX-License-Identifier: MIT
// The script-driven exports through the C interface: real Lua host scripts,
// the real file system under a private world, the fake window list.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>

#include "platform/linux/LinuxPlatform.h"
#include "support/FakeEnv.h"
#include "support/World.h"
#include "vrkfont/VRKFont.h"

namespace vrk::test {
namespace {

namespace fs = std::filesystem;
using Calls = std::vector<HostScript::Call>;

enum Op { kFont, kBatch, kFonts, kDoJs, kPath };
const HostScript::Call kCalls[] = {
    {"setSoftwareFont", {"Photoshop", "Arial-BoldMT", "a3", "a4", "Kelvra"}},
    {"setSoftwareBatchFonts", {"Photoshop", "{}"}},
    {"getSoftwareFileFonts", {"Photoshop"}},
    {"setSoftwareDoJs", {"Photoshop", "go()"}},
    {"getSoftwareFilePath", {"Photoshop"}}};
const char* const kPs = "Adobe Photoshop 2024";
const std::string kMissing = "<no file>";

std::string H(Op op, const std::string& statement) {
  return HostScript::Handler(kCalls[op].handler, statement);
}
std::string R(Op op, const std::string& answer) {
  return H(op, HostScript::Answer(answer));
}
std::string Ps(const char* code, const char* msg, const std::string& rest = "") {
  return std::string(R"({"code":")") + code + R"(","msg":")" + msg + R"(","software":"Photoshop")" +
         rest + "}";
}
std::string Fail(Op op, const char* msg, const std::string& software = "") {
  return std::string(R"({"code":"101","msg":")") + msg + R"(","software":")" + software +
         (op == kFonts ? R"(","fontListString":"")" : R"(","version":"")") +
         (op == kDoJs ? R"(,"doResult":"")" : "") + "}";
}
std::string Deep(int n) {
  return std::string(n, '[') + std::string(n, ']');
}
unsigned Mode(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

class Software : public ::testing::Test {
 protected:
  World world;
  HostScript script;
  std::unique_ptr<platform::ScriptRunner> lua = platform::NewLuaScriptRunner();
  std::unique_ptr<platform::FileSystem> files = platform::NewLinuxFileSystem();
  ScopedFakeEnv env;
  const std::string data = world.Path("data");

  void SetUp() override {
    env->UseScripts(lua.get());
    env->UseFiles(files.get());
    Show(kPs);
    script.Write(H(kFont, "return ''"));
    WriteFile(script.dir() + "/calls.log", "");
  }
  void Show(const char* owner) { env->windows.onScreen = env->windows.all = Windows({owner}); }
  const char* Path() const { return script.path().c_str(); }
  void Put(const std::string& body) {
    if (body == kMissing) return (void)std::remove(Path());
    if (body[0] == '\x1b') return WriteFile(Path(), body);
    const size_t lead = body.rfind("\xEF\xBB\xBF#", 0) == 0 ? body.find('\n') + 1 : 0;
    script.Write(body.substr(lead));
    WriteFile(Path(), body.substr(0, lead) + ReadFile(Path()));
  }
  // Envelopes compared by value; DoJs rows give the Photoshop result.
  std::string Call(Op op) {
    switch (op) {
      case kFont:
        return TakeJson(SetSoftwareFont("Arial-BoldMT", "a3", "a4", Path(), "/no")).dump();
      case kBatch:
        return TakeJson(SetSoftwareBatchFonts("{}", Path())).dump();
      case kFonts:
        return TakeJson(GetSoftwareFileFonts(Path())).dump();
      case kDoJs:
        return TakeJson(SetSoftwareDoJs("go()", "ai()", Path())).dump();
      default:
        return Take(GetSoftwareFilePath(Path()));
    }
  }
  static std::string Expected(Op op, const std::string& text) {
    if (op == kPath) return text;
    if (op != kDoJs) return nlohmann::json::parse(text).dump();
    return nlohmann::json::parse(R"({"code":"1","msg":"Success","aiResult":)" +
                                 Fail(kDoJs, "App Is Not Exist") + R"(,"psResult":)" + text + "}")
        .dump();
  }
  std::string Font(const char* owner, const char* plugin, const char* font = "Menlo") {
    Show(owner);
    return TakeJson(SetSoftwareFont(font, "", "", Path(), plugin))["msg"];
  }
};

TEST_F(Software, EveryEnvelopeRowAndTheHandlerCalled) {
  ASSERT_EQ(std::system(("luac5.4 -o " + script.dir() + "/c.luac " + Path()).c_str()), 0);
  const std::string compiled = ReadFile(script.dir() + "/c.luac");
  const std::string deepText = R"('{"version":"\\"' .. string.rep('[', 600) .. '"}')";
  const struct {
    Op op;
    const char* owner;
    std::string body, expected;
    bool ran;
  } rows[] = {
      {kFont, kPs, R(kFont, R"({"code":"1","version":"25.0"})"),
       Ps("1", "Success", R"(,"version":"25.0")"), 1},
      {kFont, kPs, R(kFont, R"({"code":102,"version":[true]})"),
       Ps("102", "Layer Error", R"(,"version":[true])"), 1},
      {kFont, kPs, R(kFont, "applied"), Ps("1", "Success"), 1},
      {kFont, kPs, H(kFont, "return 102"), Fail(kFont, "Try Fail"), 1},
      {kFont, kPs, H(kFont, "error('busy')"), Fail(kFont, "AppleScript Fail", "Photoshop"), 1},
      {kFont, kPs, H(kFont, "os.exit(3)"), Fail(kFont, "AppleScript Fail", "Photoshop"), 1},
      {kFont, kPs, kMissing, Fail(kFont, "AppleScript Init Fail"), 0},
      {kFont, "Finder", H(kFont, ""), Fail(kFont, "No Software", "Finder"), 0},
      {kFont, "Sketch", H(kFont, ""), Fail(kFont, "Sketch Plugin Fail"), 0},
      {kFont, "XD", H(kFont, ""),
       R"({"code":"105","msg":"AdobeXD Plugin Lose","software":"","version":""})", 0},
      {kFont, kPs, R(kFont, "{\"version\":" + Deep(512) + "}"),
       Ps("1", "Success", ",\"version\":" + Deep(512)), 1},
      {kFont, kPs, R(kFont, "{\"version\":" + Deep(513) + "}"), Fail(kFont, "Try Fail"), 1},
      {kFont, kPs, H(kFont, "return " + deepText),
       Ps("1", "Success", R"(,"version":"\")" + std::string(600, '[') + "\""), 1},
      {kBatch, kPs, R(kBatch, R"({"code":101,"version":"v2","doResult":{"A":[1]}})"),
       Ps("101", "Layer Error", R"(,"version":"v2","fontMapResult":{"A":[1]})"), 1},
      {kBatch, kPs, R(kBatch, R"({"code":"102","doResult":null})"),
       Ps("102", "Can`t connect to software", R"(,"fontMapResult":null)"), 1},
      {kBatch, "Finder", R(kBatch, "done"), R"({"code":"1","msg":"Success"})", 1},
      {kBatch, kPs, "function broken(", Fail(kBatch, "AppleScript Init Fail"), 0},
      {kBatch, kPs, "os.exit(0)", Fail(kBatch, "AppleScript Init Fail"), 0},
      {kFonts, kPs, R(kFonts, R"({"code":"102","fontListString":["A"]})"),
       Ps("102", "Layer Error", R"(,"fontListString":["A"])"), 1},
      {kFonts, kPs, H(kFonts, "return {}"), Ps("1", "Success"), 1},
      {kFonts, kPs, compiled, Fail(kFonts, "AppleScript Init Fail"), 0},
      {kFonts, kPs, H(kFont, ""), Fail(kFonts, "AppleScript Fail", "Photoshop"), 0},
      {kFonts, "Finder", H(kFonts, ""), Fail(kFonts, "No Software", "Finder"), 0},
      {kDoJs, kPs, R(kDoJs, R"({"code":101,"version":"26","doResult":[1]})"),
       Ps("101", "Not Do", R"(,"version":"26","doResult":[1])"), 1},
      {kDoJs, kPs, R(kDoJs, R"({"code":"102","doResult":null})"),
       Ps("1", "Success", R"(,"doResult":null)"), 1},
      {kDoJs, kPs, H(kDoJs, "error('x')"), Fail(kDoJs, "AppleScript Fail", "Photoshop"), 1},
      {kDoJs, kPs, R(kDoJs, "[1]"), Fail(kDoJs, "Try Fail"), 1},
      {kDoJs, kPs, kMissing, Fail(kDoJs, "AppleScript Init Fail"), 0},
      {kDoJs, "Finder", H(kDoJs, ""), Fail(kDoJs, "App Is Not Exist"), 0},
      {kPath, kPs, R(kPath, "Macintosh HD:Users:me:a.psd"), "/Users/me/a.psd", 1},
      {kPath, kPs, "\xEF\xBB\xBF#!/usr/bin/lua\n" + R(kPath, "D:x"), "/x", 1},
      {kPath, kPs, R(kPath, "/Users/me/c.psd"), "", 1},
      {kPath, kPs, H(kPath, "return 'D:home\\0:x'"), "", 1},
      {kPath, kPs, H(kPath, "return 'D:\\xff'"), "", 1},
      {kPath, "Finder", R(kPath, "D:x"), "", 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << kCalls[row.op].handler << " " << row.body.substr(0, 300));
    std::remove((script.dir() + "/calls.log").c_str());
    Put(row.body);
    Show(row.owner);
    EXPECT_EQ(Call(row.op), Expected(row.op, row.expected));
    HostScript::Call call = kCalls[row.op];
    call.args[0] = row.owner == kPs ? "Photoshop" : "";
    EXPECT_EQ(script.Calls(), row.ran ? Calls{call} : Calls{});
  }
  // The label follows the identity; a caller text that is not UTF-8 fails the call.
  Put(H(kFont, "return ''"));
  SetAppName("MuXan");
  Show(kPs);
  Call(kFont);
  SetAppName(nullptr);
  EXPECT_EQ(script.Calls().back().args.back(), "Muxan");
  EXPECT_EQ(TakeJson(SetSoftwareFont("\xC0\xAF", "", "", Path(), "")),
            nlohmann::json::parse(Fail(kFont, "Try Fail")));
}

TEST_F(Software, DoJsRunsOnlyRunningHostsPhotoshopFirst) {
  Put(H(kDoJs, "return ''"));
  env->windows.all = Windows({"Adobe Illustrator 2024", "", kPs});
  const nlohmann::json both = nlohmann::json::parse(
      R"({"code":"1","msg":"Success","psResult":)" + Ps("1", "Success") +
      R"(,"aiResult":{"code":"1","msg":"Success","software":"Illustrator"}})");
  EXPECT_EQ(TakeJson(SetSoftwareDoJs("ps()", "ai()", Path())), both);
  EXPECT_EQ(script.Calls(), (Calls{{"setSoftwareDoJs", {"Photoshop", "ps()"}},
                                   {"setSoftwareDoJs", {"Illustrator", "ai()"}}}));
  const nlohmann::json half = TakeJson(SetSoftwareDoJs("\xC0\x80", "ai()", Path()));
  EXPECT_EQ(half["psResult"], nlohmann::json::parse(Fail(kDoJs, "Try Fail")));
  EXPECT_EQ(half["aiResult"], both["aiResult"]);
}

TEST_F(Software, DeepAnswersFailTheCallNotTheCaller) {
  for (Op op : {kFont, kDoJs}) {  // 100 MB of brackets
    Put(H(
        op,
        R"(return '{"version":' .. string.rep('[', 50000000) .. string.rep(']', 50000000) .. '}')"));
    EXPECT_EQ(Call(op), Expected(op, Fail(op, "Try Fail")));
  }
}

TEST_F(Software, SketchHandOffInstallsAWholeCopyOfTheCallersBundle) {
  const std::string real = world.Path("caller/real"), link = world.Path("caller/link");
  const std::string plugins = data + "/com.bohemiancoding.sketch3/Plugins";
  const std::string bundle = plugins + "/KelvraSetFont.sketchplugin",
                    code = bundle + "/Contents/Sketch";
  fs::create_directories(real + "/Contents/Sketch");
  WriteFile(real + "/Contents/Sketch/tool", "run()");
  fs::permissions(real + "/Contents/Sketch/tool", fs::perms(0700));
  fs::create_symlink(world.Path("secret"), real + "/Contents/Sketch/linked");
  fs::create_directory_symlink(real, link);
  EXPECT_EQ(Font("Sketch", link.c_str()), "Sketch Plugin Fail");  // no plug-in folder to install to
  fs::create_directories(plugins);
  ASSERT_EQ(::mkfifo((real + "/Contents/pipe").c_str(), 0600), 0);
  EXPECT_EQ(Font("Sketch", link.c_str()), "Sketch Plugin Fail");
  EXPECT_TRUE(fs::is_empty(plugins));  // a copy that stops part-way leaves nothing
  fs::remove(real + "/Contents/pipe");
  const mode_t umask = ::umask(0777);
  EXPECT_EQ(Font("Sketch", link.c_str()), "Success");
  ::umask(umask);
  EXPECT_EQ(script.Calls().back().args[0], "Sketch");
  EXPECT_FALSE(fs::is_symlink(bundle));
  EXPECT_EQ(fs::read_symlink(code + "/linked"), world.Path("secret"));
  EXPECT_EQ((std::vector{Mode(bundle), Mode(code), Mode(code + "/tool"),
                         Mode(code + "/KelvraFontName.txt")}),
            (std::vector{0755u, 0755u, 0755u, 0644u}));
  EXPECT_EQ(Font("Sketch", nullptr, "思"), "Success");  // installed: the caller's copy is not read
  EXPECT_EQ(ReadFile(code + "/KelvraFontName.txt"), "思");
  fs::remove_all(code);
  EXPECT_EQ(Font("Sketch", nullptr), "Sketch Plugin Fail");
}

TEST_F(Software, AdobeXDHandOffMakesItsStorageAndReplacesAPlantedLink) {
  const std::string storage =
      data + "/Adobe/UXP/PluginsStorage/SPRK/External/KelvraSetFont/PluginData";
  const std::string name = storage + "/KelvraFontName.txt";
  EXPECT_EQ(Font("XD", nullptr), "AdobeXD Plugin Lose");
  fs::create_directories(data + "/Adobe/UXP/Plugins/External/KelvraSetFont");
  SetAppName("MuXan");
  EXPECT_EQ(Font("XD", nullptr), "AdobeXD Plugin Lose");
  SetAppName(nullptr);
  const mode_t umask = ::umask(0777);
  EXPECT_EQ(Font("XD", nullptr), "Success");
  ::umask(umask);
  EXPECT_EQ((std::vector{Mode(data + "/Adobe/UXP/PluginsStorage"), Mode(storage), Mode(name)}),
            (std::vector{0700u, 0700u, 0644u}));
  WriteFile(world.Path("victim"), "keep");
  fs::remove(name);
  fs::create_symlink(world.Path("victim"), name);
  EXPECT_EQ(Font("XD", nullptr, "Menlo-Bold"), "Success");
  EXPECT_EQ(ReadFile(world.Path("victim")) + ReadFile(name), "keepMenlo-Bold");
  EXPECT_FALSE(fs::is_symlink(name));
  fs::remove_all(storage);
  WriteFile(storage, "");
  EXPECT_EQ(Font("XD", nullptr), "AdobeXD Plugin Fail");
}

}  // namespace
}  // namespace vrk::test
