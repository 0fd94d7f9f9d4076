// The Sketch and Adobe XD plug-in hand-offs: the fake file system for the
// decision table, a private XDG data folder for the real writes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "HostScript.h"
#include "helper/AdobeXDHelper.h"
#include "helper/GlobalHelper.h"
#include "helper/SketchHelper.h"
#include "platform/linux/LinuxPlatform.h"

namespace vrk::test {
namespace {

namespace fs = std::filesystem;

const std::string kData = "/home/u/.local/share";
const std::string kPlugins = kData + "/com.bohemiancoding.sketch3/Plugins";

std::string SketchBundle(const std::string& prefix) {
  return kPlugins + "/" + prefix + "SetFont.sketchplugin";
}
std::string SketchFontFile(const std::string& prefix) {
  return SketchBundle(prefix) + "/Contents/Sketch/" + prefix + "FontName.txt";
}
std::string XdPlugin(const std::string& prefix) {
  return kData + "/Adobe/UXP/Plugins/External/" + prefix + "SetFont";
}
std::string XdData(const std::string& prefix) {
  return kData + "/Adobe/UXP/PluginsStorage/SPRK/External/" + prefix + "SetFont/PluginData";
}

void AddBundle(FakeFileSystem& files, const std::string& path, uint64_t size = 4096) {
  files.AddFolder(path, size);
  files.AddFolder(path + "/Contents");
  files.AddFolder(path + "/Contents/Sketch");
  files.AddFile(path + "/Contents/Sketch/manifest.json", "{}");
}

TEST(SketchHandOff, DecisionTable) {
  enum Setup { kInstalled, kCallerCopyOnly, kNothing, kSizeZero, kNoSketchFolder, kNoPluginsDir };
  struct Case {
    const char* what;
    Setup setup;
    const char* pluginPath;
    const char* font;
    bool result;
    std::optional<std::string> written;
  };
  const Case cases[] = {
      {"installed", kInstalled, "/caller/Plugin.sketchplugin", "Menlo", true, "Menlo"},
      {"installed, caller copy never read", kInstalled, nullptr, "Menlo", true, "Menlo"},
      {"copied from the caller", kCallerCopyOnly, "/caller/Plugin.sketchplugin", "Menlo", true,
       "Menlo"},
      {"caller copy missing", kNothing, "/caller/Plugin.sketchplugin", "Menlo", false, {}},
      {"caller copy null", kNothing, nullptr, "Menlo", false, {}},
      {"caller copy not UTF-8", kCallerCopyOnly, "/caller/\xFF", "Menlo", false, {}},
      {"size-0 item stays and is used", kSizeZero, "/caller/Plugin.sketchplugin", "Menlo", true,
       "Menlo"},
      {"no Contents/Sketch folder", kNoSketchFolder, nullptr, "Menlo", false, {}},
      {"no Sketch plug-in folder",
       kNoPluginsDir,
       "/caller/Plugin.sketchplugin",
       "Menlo",
       false,
       {}},
      {"null font name", kInstalled, nullptr, nullptr, false, {}},
      {"font name not UTF-8", kInstalled, nullptr, "Bad\xC0\x80", false, {}},
      {"non-ASCII font name", kInstalled, nullptr,
       "\xE5\xBE\xAE\xE8\xBD\xAF\xE9\x9B\x85\xE9\xBB\x91", true,
       "\xE5\xBE\xAE\xE8\xBD\xAF\xE9\x9B\x85\xE9\xBB\x91"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedFakeEnv env;
    FakeFileSystem& files = env->files;
    if (c.setup != kNoPluginsDir) files.AddFolder(kPlugins);
    AddBundle(files, "/caller/Plugin.sketchplugin");
    if (c.setup == kInstalled) AddBundle(files, SketchBundle("Kelvra"));
    if (c.setup == kSizeZero) AddBundle(files, SketchBundle("Kelvra"), 0);
    if (c.setup == kNoSketchFolder) files.AddFolder(SketchBundle("Kelvra"));
    if (c.setup == kNothing) files.nodes.clear(), files.AddFolder(kPlugins);

    EXPECT_EQ(SketchHelper::ManagePluginSketch(c.pluginPath, c.font), c.result);
    EXPECT_EQ(files.Content(SketchFontFile("Kelvra")), c.written);
    if (c.setup == kCallerCopyOnly && c.result) {
      EXPECT_EQ(files.Content(SketchBundle("Kelvra") + "/Contents/Sketch/manifest.json"), "{}");
    }
  }
}

TEST(SketchHandOff, PrefixFollowsIdentity) {
  for (auto [identity, prefix] : {std::pair<Text, std::string>{"MuXan", "Muxan"},
                                  {"muXan", "Kelvra"},
                                  {std::nullopt, "Kelvra"}}) {
    SCOPED_TRACE(prefix);
    ScopedFakeEnv env;
    GlobalHelper::SetAppName(identity);
    env->files.AddFolder(kPlugins);
    AddBundle(env->files, "/caller/Plugin.sketchplugin");
    EXPECT_TRUE(SketchHelper::ManagePluginSketch("/caller/Plugin.sketchplugin", "Menlo"));
    EXPECT_EQ(env->files.Content(SketchFontFile(prefix)), "Menlo");
  }
  ScopedFakeEnv env;
  env->files.dataDir = std::nullopt;
  EXPECT_FALSE(SketchHelper::ManagePluginSketch("/caller/Plugin.sketchplugin", "Menlo"));
}

TEST(AdobeXDHandOff, DecisionTable) {
  enum Setup { kReady, kNoPlugin, kSizeZero, kNoPluginData };
  struct Case {
    const char* what;
    Setup setup;
    const char* font;
    int result;
    std::optional<std::string> written;
  };
  const Case cases[] = {
      {"installed with storage", kReady, "Menlo", 1, "Menlo"},
      {"non-ASCII name", kReady, "Caf\xC3\xA9-Bold", 1, "Caf\xC3\xA9-Bold"},
      {"plug-in missing", kNoPlugin, "Menlo", -1, {}},
      {"plug-in missing, name never read", kNoPlugin, nullptr, -1, {}},
      {"size-0 plug-in item", kSizeZero, "Menlo", -1, {}},
      {"no PluginData folder", kNoPluginData, "Menlo", 0, {}},
      {"null font name", kReady, nullptr, 0, {}},
      {"font name not UTF-8", kReady, "\xF5\x80\x80\x80", 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedFakeEnv env;
    FakeFileSystem& files = env->files;
    if (c.setup != kNoPlugin) files.AddFolder(XdPlugin("Kelvra"), c.setup == kSizeZero ? 0 : 96);
    if (c.setup != kNoPluginData) files.AddFolder(XdData("Kelvra"));
    const size_t before = files.nodes.size();

    EXPECT_EQ(AdobeXDHelper::ManagePluginAdobeXDSetFont(c.font), c.result);
    EXPECT_EQ(files.Content(XdData("Kelvra") + "/KelvraFontName.txt"), c.written);
    if (!c.written) {
      EXPECT_EQ(files.nodes.size(), before);
    }
  }
}

TEST(AdobeXDHandOff, PrefixFollowsIdentity) {
  ScopedFakeEnv env;
  GlobalHelper::SetAppName("MuXan");
  env->files.AddFolder(XdPlugin("Kelvra"));
  env->files.AddFolder(XdData("Kelvra"));
  EXPECT_EQ(AdobeXDHelper::ManagePluginAdobeXDSetFont("Menlo"), -1);
  env->files.AddFolder(XdPlugin("Muxan"));
  env->files.AddFolder(XdData("Muxan"));
  EXPECT_EQ(AdobeXDHelper::ManagePluginAdobeXDSetFont("Menlo"), 1);
  EXPECT_EQ(env->files.Content(XdData("Muxan") + "/MuxanFontName.txt"), "Menlo");
  EXPECT_FALSE(env->files.Content(XdData("Kelvra") + "/KelvraFontName.txt"));
}

// The real file system under a private $XDG_DATA_HOME.
class RealHandOffTest : public ::testing::Test {
 protected:
  TempDir home;
  TempDir caller;
  std::unique_ptr<platform::FileSystem> files = platform::NewLinuxFileSystem();
  ScopedFakeEnv env;

  void SetUp() override {
    setenv("XDG_DATA_HOME", home.path().c_str(), 1);
    env->UseFiles(files.get());
  }
  std::string Data(const std::string& rest) const { return home.path() + rest; }
  std::vector<std::string> Entries(const std::string& dir) const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(RealHandOffTest, SketchInstallsFromTheCallersBundleAndRewrites) {
  const std::string source = caller.path() + "/\xE7\xA9\x86SetFont.sketchplugin";
  fs::create_directories(source + "/Contents/Sketch");
  WriteFile(source + "/Contents/Sketch/manifest.json", "{\"name\":\"set font\"}");
  WriteFile(source + "/Contents/Sketch/KelvraFontName.txt", "Old");
  const std::string bundle = Data("/com.bohemiancoding.sketch3/Plugins/KelvraSetFont.sketchplugin");

  // Without Sketch's own plug-in folder there is nowhere to install to.
  EXPECT_FALSE(SketchHelper::ManagePluginSketch(source.c_str(), "Menlo"));
  EXPECT_FALSE(fs::exists(bundle));

  fs::create_directories(Data("/com.bohemiancoding.sketch3/Plugins"));
  EXPECT_TRUE(SketchHelper::ManagePluginSketch(source.c_str(), "Menlo"));
  EXPECT_EQ(ReadFile(bundle + "/Contents/Sketch/manifest.json"), "{\"name\":\"set font\"}");
  EXPECT_EQ(ReadFile(bundle + "/Contents/Sketch/KelvraFontName.txt"), "Menlo");

  // Installed now: the caller's copy is no longer needed, and the name is replaced.
  EXPECT_TRUE(SketchHelper::ManagePluginSketch(nullptr, "\xE6\x80\x9D\xE6\xBA\x90"));
  EXPECT_EQ(ReadFile(bundle + "/Contents/Sketch/KelvraFontName.txt"), "\xE6\x80\x9D\xE6\xBA\x90");
  EXPECT_EQ(Entries(bundle + "/Contents/Sketch"),
            (std::vector<std::string>{"KelvraFontName.txt", "manifest.json"}));
  EXPECT_EQ(ReadFile(source + "/Contents/Sketch/KelvraFontName.txt"), "Old");
}

TEST_F(RealHandOffTest, SketchEmptyFileInTheWayFailsTheWrite) {
  fs::create_directories(Data("/com.bohemiancoding.sketch3/Plugins"));
  const std::string bundle = Data("/com.bohemiancoding.sketch3/Plugins/KelvraSetFont.sketchplugin");
  WriteFile(bundle, "");
  fs::create_directories(caller.path() + "/P.sketchplugin/Contents/Sketch");
  EXPECT_FALSE(
      SketchHelper::ManagePluginSketch((caller.path() + "/P.sketchplugin").c_str(), "Menlo"));
  EXPECT_TRUE(fs::is_regular_file(bundle));
}

TEST_F(RealHandOffTest, AdobeXDWritesOnlyIntoExistingStorage) {
  fs::create_directories(Data("/Adobe/UXP/Plugins/External/KelvraSetFont"));
  const std::string storage =
      Data("/Adobe/UXP/PluginsStorage/SPRK/External/KelvraSetFont/PluginData");
  EXPECT_EQ(AdobeXDHelper::ManagePluginAdobeXDSetFont("Menlo"), 0);
  EXPECT_FALSE(fs::exists(Data("/Adobe/UXP/PluginsStorage")));

  fs::create_directories(storage);
  EXPECT_EQ(AdobeXDHelper::ManagePluginAdobeXDSetFont("Menlo"), 1);
  EXPECT_EQ(AdobeXDHelper::ManagePluginAdobeXDSetFont("Menlo-Bold"), 1);
  EXPECT_EQ(ReadFile(storage + "/KelvraFontName.txt"), "Menlo-Bold");
  EXPECT_EQ(Entries(storage), std::vector<std::string>{"KelvraFontName.txt"});
}

TEST_F(RealHandOffTest, APlantedLinkIsReplacedNotFollowed) {
  fs::create_directories(Data("/Adobe/UXP/Plugins/External/KelvraSetFont"));
  const std::string storage =
      Data("/Adobe/UXP/PluginsStorage/SPRK/External/KelvraSetFont/PluginData");
  fs::create_directories(storage);
  const std::string victim = caller.path() + "/victim.txt";
  WriteFile(victim, "keep me");
  fs::create_symlink(victim, storage + "/KelvraFontName.txt");

  EXPECT_EQ(AdobeXDHelper::ManagePluginAdobeXDSetFont("Menlo"), 1);
  EXPECT_EQ(ReadFile(victim), "keep me");
  EXPECT_FALSE(fs::is_symlink(storage + "/KelvraFontName.txt"));
  EXPECT_EQ(ReadFile(storage + "/KelvraFontName.txt"), "Menlo");
}

}  // namespace
}  // namespace vrk::test
