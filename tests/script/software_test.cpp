// SPDX-License-Identifier: MIT
// The script-driven exports: real Lua host scripts, the real file system, the fake window list.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <filesystem>

#include "platform/linux/LinuxPlatform.h"
#include "support/FakeEnv.h"
#include "support/World.h"
#include "vrkfont/VRKFont.h"

std::atomic<bool> g_noRenameat2{false};
extern "C" {
int __real_renameat2(int from, const char* a, int to, const char* b, unsigned flags);
int __wrap_renameat2(int from, const char* a, int to, const char* b, unsigned flags) {
  if (g_noRenameat2) return errno = ENOSYS, -1;
  return __real_renameat2(from, a, to, b, flags);
}
}

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

class Software : public ::testing::Test {
 protected:
  World world;
  HostScript script;
  std::unique_ptr<platform::ScriptRunner> lua = platform::NewLuaScriptRunner();
  std::unique_ptr<platform::FileSystem> files = platform::NewLinuxFileSystem();
  ScopedFakeEnv env;

  static std::string A(const std::string& text) { return HostScript::Answer(text); }
  static unsigned Mode(const std::string& path) { return unsigned(fs::status(path).permissions()); }
  static std::string Deep(int n) { return std::string(n, '[') + std::string(n, ']'); }
  static std::string Fail(Op op, const char* msg, const std::string& software = "") {
    return std::string(R"({"code":"101","msg":")") + msg + R"(","software":")" + software +
           (op == kFonts ? R"(","fontListString":"")" : R"(","version":"")") +
           (op == kDoJs ? R"(,"doResult":"")" : "") + "}";
  }

  void SetUp() override {
    env->scriptsIn = lua.get();
    env->filesIn = files.get();
    Put(kFont, "return ''");
  }
  void Show(const char* owner) { env->windows.onScreen = env->windows.all = Windows({owner}); }
  const char* Path() const { return script.path().c_str(); }
  // A handler's statement, "=" and the whole file, or "-" for none.
  void Put(Op op, const std::string& body) {
    if (body == "-") return (void)fs::remove(Path());
    if (body[0] == '=') return WriteFile(Path(), body.substr(1));
    script.Write(HostScript::Handler(kCalls[op].handler, body));
  }
  // The envelope, or for DoJs the Photoshop result, compactly.
  std::string Call(Op op) {
    if (op == kPath) return Take(GetSoftwareFilePath(Path()));
    if (op == kDoJs) return TakeJson(SetSoftwareDoJs("go()", "ai()", Path()))["psResult"].dump();
    return TakeJson(op == kFont    ? SetSoftwareFont("Arial-BoldMT", "a3", "a4", Path(), "/no")
                    : op == kBatch ? SetSoftwareBatchFonts("{}", Path())
                                   : GetSoftwareFileFonts(Path()))
        .dump();
  }
  std::string Font(const char* owner, const char* plugin, const char* font = "Menlo") {
    Show(owner);
    return TakeJson(SetSoftwareFont(font, "", "", Path(), plugin))["msg"];
  }
};

TEST_F(Software, EnvelopeRowsAndTheHandlerCallsBehindThem) {
  const std::string compiled = "=" + RunCommand("luac5.4 -o - " + script.path());
  // Brackets inside a text do not count towards the depth.
  const std::string text = "\"\\\"" + std::string(600, '[') + "\"";
  // clang-format off
  const std::tuple<Op, const char*, std::string, std::string, bool> rows[] = {
      {kFont, kPs, A("{\"s\":" + text + ",\"version\":" + Deep(512) + "}"), R"({"code":"1","msg":"Success","software":"Photoshop","version":)" + Deep(512) + "}", 1},
      {kFont, kPs, A("{\"a\":\"\",\"version\":" + Deep(513) + "}"), Fail(kFont, "Try Fail"), 1},
      {kFont, kPs, A(R"({"code":102,"version":0})"), R"({"code":"102","msg":"Layer Error","software":"Photoshop","version":0})", 1},
      {kFont, kPs, "return 102", Fail(kFont, "Try Fail"), 1},
      {kFont, kPs, "os.exit(3)", Fail(kFont, "AppleScript Fail", "Photoshop"), 1},
      {kFont, kPs, "-", Fail(kFont, "AppleScript Init Fail"), 0},
      {kFont, "Finder", "", Fail(kFont, "No Software", "Finder"), 0},
      {kFont, "XD", "", R"({"code":"105","msg":"AdobeXD Plugin Lose","software":"","version":""})", 0},
      {kBatch, kPs, A(R"({"code":101,"version":"2","doResult":{"A":1}})"), R"({"code":"101","msg":"Layer Error","software":"Photoshop","version":"2","fontMapResult":{"A":1}})", 1},
      {kBatch, kPs, A(R"({"code":"102","doResult":null})"), R"({"code":"102","msg":"Can`t connect to software","software":"Photoshop","fontMapResult":null})", 1},
      {kBatch, "Finder", A("done"), R"({"code":"1","msg":"Success"})", 1},
      {kFonts, kPs, A(R"({"code":"102","fontListString":["A"]})"), R"({"code":"102","msg":"Layer Error","software":"Photoshop","fontListString":["A"]})", 1},
      {kFonts, kPs, compiled, Fail(kFonts, "AppleScript Init Fail"), 0},
      {kDoJs, kPs, A(R"({"code":101,"doResult":1})"), R"({"code":"101","msg":"Not Do","software":"Photoshop","doResult":1})", 1},
      {kDoJs, "Finder", "", Fail(kDoJs, "App Is Not Exist"), 0},
      {kPath, kPs, A("Macintosh HD:Users:me:a.psd"), "/Users/me/a.psd", 1},
      {kPath, kPs, "=\xEF\xBB\xBF#!lua\nfunction getSoftwareFilePath() return 'D:x' end", "/x", 0},
      {kPath, kPs, A("/Users/me/c.psd"), "", 1},
      {kPath, kPs, "return 'D:home\\0:x'", "", 1},
      {kPath, kPs, "return {}", "", 1},
      {kPath, "Finder", A("D:x"), "", 0},
  };
  // clang-format on
  for (const auto& [op, owner, body, expected, ran] : rows) {
    SCOPED_TRACE(testing::Message() << kCalls[op].handler << " " << body.substr(0, 300));
    fs::remove(script.dir() + "/calls.log");
    Put(op, body);
    Show(owner);
    EXPECT_EQ(Call(op), op == kPath ? expected : nlohmann::json::parse(expected).dump());
    HostScript::Call call = kCalls[op];
    call.args[0] = owner == kPs ? "Photoshop" : "";
    EXPECT_EQ(script.Calls(), ran ? Calls{call} : Calls{});
  }
  // DoJs runs only the hosts that run, Photoshop first.
  Put(kDoJs, "return ''");
  env->windows.all = Windows({"Adobe Illustrator 2024", "", kPs});
  EXPECT_EQ(TakeJson(SetSoftwareDoJs("p", "a", Path()))["aiResult"]["software"], "Illustrator");
  EXPECT_EQ(script.Calls(), (Calls{{"setSoftwareDoJs", {"Photoshop", "p"}},
                                   {"setSoftwareDoJs", {"Illustrator", "a"}}}));
}

TEST_F(Software, DeepAnswersFailTheCallNotTheCaller) {
  Show(kPs);
  for (Op op : {kFont, kDoJs}) {  // 100 MB of brackets
    Put(op, R"(return '{"version":' .. ('['):rep(50000000) .. (']'):rep(50000000) .. '}')");
    EXPECT_EQ(Call(op), nlohmann::json::parse(Fail(op, "Try Fail")).dump());
  }
}

TEST_F(Software, HandOffsInstallAWholeCopyAndWriteTheNameWhateverTheUmask) {
  const std::string real = world.Path("real"), link = world.Path("link"),
                    uxp = world.Path("data/Adobe/UXP");
  const std::string plugins = world.Path("data/com.bohemiancoding.sketch3/Plugins");
  const std::string bundle = plugins + "/KelvraSetFont.sketchplugin",
                    code = bundle + "/Contents/Sketch";
  const std::string storage = uxp + "/PluginsStorage/SPRK/External/KelvraSetFont/PluginData";
  const std::string name = storage + "/KelvraFontName.txt";
  fs::create_directories(real + "/Contents/Sketch");
  WriteFile(real + "/Contents/Sketch/tool", "run()");
  fs::permissions(real + "/Contents/Sketch/tool", fs::perms(0700));
  fs::create_symlink(world.Path("secret"), real + "/Contents/Sketch/linked");
  fs::create_directory_symlink(real, link);
  fs::create_directories(plugins);
  fs::create_directories(uxp + "/Plugins/External/KelvraSetFont");
  ASSERT_EQ(::mkfifo((real + "/Contents/pipe").c_str(), 0600), 0);
  EXPECT_EQ(Font("Sketch", link.c_str()), "Sketch Plugin Fail");
  EXPECT_TRUE(fs::is_empty(plugins));  // a copy that stops part-way leaves nothing
  fs::remove(real + "/Contents/pipe");
  // Nor does one cut short by a full disk, even with room for the name.
  EXPECT_EQ(WithFileSizeLimit(3, [&] { return Font("Sketch", link.c_str(), "思"); }),
            "Sketch Plugin Fail");
  EXPECT_TRUE(fs::is_empty(plugins));

  g_noRenameat2 = true;  // as on a kernel or file system without it
  EXPECT_EQ(Font("Sketch", link.c_str()), "Success");
  g_noRenameat2 = false;
  fs::remove_all(bundle);
  const mode_t umask = ::umask(0777);
  EXPECT_EQ(Font("Sketch", link.c_str()) + Font("XD", nullptr), "SuccessSuccess");
  ::umask(umask);
  EXPECT_FALSE(fs::is_symlink(bundle));
  EXPECT_EQ(fs::read_symlink(code + "/linked"), world.Path("secret"));
  EXPECT_EQ((std::vector{Mode(bundle), Mode(code), Mode(code + "/tool"),
                         Mode(code + "/KelvraFontName.txt"), Mode(uxp + "/PluginsStorage"),
                         Mode(storage), Mode(name)}),
            (std::vector{0755u, 0755u, 0755u, 0644u, 0700u, 0700u, 0644u}));

  // Installed: the caller's copy is not read, and a planted link is replaced, not followed.
  WriteFile(world.Path("victim"), "keep");
  fs::remove(name);
  fs::create_symlink(world.Path("victim"), name);
  EXPECT_EQ(Font("Sketch", nullptr, "思") + Font("XD", nullptr, "思"), "SuccessSuccess");
  EXPECT_EQ(
      ReadFile(code + "/KelvraFontName.txt") + ReadFile(name) + ReadFile(world.Path("victim")),
      "思思keep");

  // A name that cannot be written fails the hand-off.
  fs::remove_all(code);
  fs::remove_all(storage);
  WriteFile(storage, "");
  EXPECT_EQ(Font("Sketch", nullptr) + Font("XD", nullptr), "Sketch Plugin FailAdobeXD Plugin Fail");
}

}  // namespace
}  // namespace vrk::test
