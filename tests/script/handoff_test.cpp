// SPDX-License-Identifier: MIT
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

// The edges the real file system cannot show; the rest is in RealHandOffTest.
TEST(HandOff, FakeFileSystemEdges) {
  enum Setup { kInstalled, kNothing, kSizeZero, kNoSketchFolder };
  const char* caller = "/caller/Plugin.sketchplugin";
  const std::tuple<const char*, Setup, const char*, const char*, bool> sketch[] = {
      {"caller copy null", kNothing, nullptr, "Menlo", false},
      {"size-0 item stays and is used", kSizeZero, caller, "Menlo", true},
      {"size-0 item: the caller copy is asked for", kSizeZero, nullptr, "Menlo", false},
      {"name cannot be written: no Contents/Sketch", kNoSketchFolder, nullptr, "Menlo", false},
      {"null font name", kInstalled, nullptr, nullptr, false},
  };
  for (const auto& [what, setup, pluginPath, font, result] : sketch) {
    SCOPED_TRACE(what);
    ScopedFakeEnv env;
    env->files.AddFolder(kPlugins);
    if (setup != kNothing) AddBundle(env->files, caller);
    if (setup == kInstalled || setup == kSizeZero) {
      AddBundle(env->files, SketchBundle("Kelvra"), setup == kSizeZero ? 0 : 4096);
    }
    if (setup == kNoSketchFolder) env->files.AddFolder(SketchBundle("Kelvra"));
    EXPECT_EQ(SketchHelper::ManagePluginSketch(pluginPath, font), result);
    EXPECT_EQ(env->files.Content(SketchFontFile("Kelvra")),
              result ? std::optional<std::string>(font) : std::nullopt);
  }

  const std::tuple<const char*, std::optional<uint64_t>, const char*, int> xd[] = {
      {"installed", 96, "Menlo", 1},
      {"plug-in missing, name never read", std::nullopt, nullptr, -1},
      {"size-0 plug-in item", 0, "Menlo", -1},
      {"null font name", 96, nullptr, 0},
  };
  for (const auto& [what, pluginSize, font, result] : xd) {
    SCOPED_TRACE(what);
    ScopedFakeEnv env;
    if (pluginSize) env->files.AddFolder(XdPlugin("Kelvra"), *pluginSize);
    env->files.AddFolder(XdData("Kelvra"));
    const size_t before = env->files.nodes.size();
    EXPECT_EQ(AdobeXDHelper::ManagePluginAdobeXDSetFont(font), result);
    EXPECT_EQ(env->files.Content(XdData("Kelvra") + "/KelvraFontName.txt"),
              result == 1 ? std::optional<std::string>(font) : std::nullopt);
    EXPECT_EQ(env->files.nodes.size(), before + (result == 1));
  }
}

TEST(HandOff, PrefixFollowsIdentity) {
  ScopedFakeEnv env;
  GlobalHelper::SetAppName("MuXan");
  env->files.AddFolder(kPlugins);
  AddBundle(env->files, "/caller/Plugin.sketchplugin");
  env->files.AddFolder(XdPlugin("Kelvra"));
  env->files.AddFolder(XdData("Kelvra"));
  EXPECT_EQ(AdobeXDHelper::ManagePluginAdobeXDSetFont("Menlo"), -1);
  env->files.AddFolder(XdPlugin("Muxan"));
  env->files.AddFolder(XdData("Muxan"));
  EXPECT_EQ(AdobeXDHelper::ManagePluginAdobeXDSetFont("Menlo"), 1);
  EXPECT_EQ(env->files.Content(XdData("Muxan") + "/MuxanFontName.txt"), "Menlo");
  EXPECT_TRUE(SketchHelper::ManagePluginSketch("/caller/Plugin.sketchplugin", "Menlo"));
  EXPECT_EQ(env->files.Content(SketchFontFile("Muxan")), "Menlo");

  GlobalHelper::SetAppName("muXan");
  EXPECT_TRUE(SketchHelper::ManagePluginSketch("/caller/Plugin.sketchplugin", "Menlo"));
  EXPECT_EQ(env->files.Content(SketchFontFile("Kelvra")), "Menlo");
  env->files.dataDir = std::nullopt;
  EXPECT_FALSE(SketchHelper::ManagePluginSketch("/caller/Plugin.sketchplugin", "Menlo"));
  EXPECT_EQ(AdobeXDHelper::ManagePluginAdobeXDSetFont("Menlo"), 0);
  GlobalHelper::SetAppName(std::nullopt);
}

// The real file system under a private $XDG_DATA_HOME.
class RealHandOffTest : public ::testing::Test {
 protected:
  TempDir home;
  TempDir caller;
  std::unique_ptr<platform::FileSystem> files = platform::NewLinuxFileSystem();
  ScopedFakeEnv env;
  const std::string plugins = home.path() + "/com.bohemiancoding.sketch3/Plugins";
  const std::string sketchDir = plugins + "/KelvraSetFont.sketchplugin/Contents/Sketch";
  const std::string storage =
      home.path() + "/Adobe/UXP/PluginsStorage/SPRK/External/KelvraSetFont/PluginData";

  void SetUp() override {
    setenv("XDG_DATA_HOME", home.path().c_str(), 1);
    env->UseFiles(files.get());
    fs::create_directories(home.path() + "/Adobe/UXP/Plugins/External/KelvraSetFont");
  }
  static std::vector<std::string> Entries(const std::string& dir) {
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

  // Without Sketch's own plug-in folder there is nowhere to install to.
  EXPECT_FALSE(SketchHelper::ManagePluginSketch(source.c_str(), "Menlo"));
  EXPECT_FALSE(fs::exists(plugins));

  fs::create_directories(plugins);
  EXPECT_TRUE(SketchHelper::ManagePluginSketch(source.c_str(), "Menlo"));
  EXPECT_EQ(ReadFile(sketchDir + "/manifest.json"), "{\"name\":\"set font\"}");
  EXPECT_EQ(ReadFile(sketchDir + "/KelvraFontName.txt"), "Menlo");
  // Installed now: the caller's copy is no longer read, and the name is replaced.
  EXPECT_TRUE(SketchHelper::ManagePluginSketch(nullptr, "\xE6\x80\x9D"));
  EXPECT_EQ(ReadFile(sketchDir + "/KelvraFontName.txt"), "\xE6\x80\x9D");
  EXPECT_EQ(Entries(sketchDir), (std::vector<std::string>{"KelvraFontName.txt", "manifest.json"}));
  EXPECT_EQ(ReadFile(source + "/Contents/Sketch/KelvraFontName.txt"), "Old");
}

TEST_F(RealHandOffTest, SketchEmptyFileInTheWayFailsTheWrite) {
  fs::create_directories(plugins);
  WriteFile(plugins + "/KelvraSetFont.sketchplugin", "");
  fs::create_directories(caller.path() + "/P.sketchplugin/Contents/Sketch");
  EXPECT_FALSE(
      SketchHelper::ManagePluginSketch((caller.path() + "/P.sketchplugin").c_str(), "Menlo"));
  EXPECT_TRUE(fs::is_regular_file(plugins + "/KelvraSetFont.sketchplugin"));
}

// The storage area appears only once the plug-in has run, which comes after
// the hand-off: its missing folders are made, and nothing outside it.
TEST_F(RealHandOffTest, AdobeXDMakesTheMissingStorageFolders) {
  const std::string uxp = home.path() + "/Adobe/UXP";
  fs::remove_all(uxp + "/Plugins/External/KelvraSetFont");
  EXPECT_EQ(AdobeXDHelper::ManagePluginAdobeXDSetFont("Menlo"), -1);
  EXPECT_EQ(Entries(uxp), std::vector<std::string>{"Plugins"});

  fs::create_directories(uxp + "/Plugins/External/KelvraSetFont");
  EXPECT_EQ(AdobeXDHelper::ManagePluginAdobeXDSetFont("Menlo"), 1);
  EXPECT_EQ(AdobeXDHelper::ManagePluginAdobeXDSetFont("Menlo-Bold"), 1);
  EXPECT_EQ(ReadFile(storage + "/KelvraFontName.txt"), "Menlo-Bold");
  EXPECT_EQ(Entries(storage), std::vector<std::string>{"KelvraFontName.txt"});

  // A write that still fails is reported.
  fs::remove_all(storage);
  WriteFile(storage, "");
  EXPECT_EQ(AdobeXDHelper::ManagePluginAdobeXDSetFont("Menlo"), 0);
}

// A copy that stops part-way leaves nothing that could pass for installed.
// The caller's copy named through a link is copied, never linked to; links
// inside it stay links, so nothing they point at is copied.
TEST_F(RealHandOffTest, SketchCopyIsWholeAndNeverALink) {
  fs::create_directories(plugins);
  const std::string real = caller.path() + "/real.sketchplugin";
  fs::create_directories(real + "/Contents/Sketch");
  WriteFile(real + "/Contents/Sketch/script.js", "run()");
  const std::string secret = caller.path() + "/private.txt";
  WriteFile(secret, "secret");
  fs::create_symlink(secret, real + "/Contents/Sketch/linked.txt");
  const std::string link = caller.path() + "/link.sketchplugin";
  fs::create_directory_symlink(real, link);
  ASSERT_EQ(mkfifo((real + "/Contents/pipe").c_str(), 0600), 0);
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_FALSE(SketchHelper::ManagePluginSketch(link.c_str(), "Menlo"));
    EXPECT_TRUE(Entries(plugins).empty());
  }

  fs::remove(real + "/Contents/pipe");
  EXPECT_TRUE(SketchHelper::ManagePluginSketch(link.c_str(), "Menlo"));
  EXPECT_EQ(Entries(plugins), std::vector<std::string>{"KelvraSetFont.sketchplugin"});
  EXPECT_FALSE(fs::is_symlink(plugins + "/KelvraSetFont.sketchplugin"));
  EXPECT_EQ(Entries(sketchDir),
            (std::vector<std::string>{"KelvraFontName.txt", "linked.txt", "script.js"}));
  EXPECT_EQ(fs::read_symlink(sketchDir + "/linked.txt"), secret);
  EXPECT_FALSE(fs::exists(real + "/Contents/Sketch/KelvraFontName.txt"));
}

// Whatever the caller's umask, what the library creates is usable.
TEST_F(RealHandOffTest, ModesDoNotDependOnTheUmask) {
  fs::create_directories(plugins);
  const std::string source = caller.path() + "/P.sketchplugin";
  fs::create_directories(source + "/Contents/Sketch");
  WriteFile(source + "/Contents/Sketch/script.js", "run()");
  WriteFile(source + "/Contents/Sketch/tool", "#!/bin/sh\n");
  fs::permissions(source + "/Contents/Sketch/tool", fs::perms(0700));

  const mode_t saved = umask(0777);
  const bool sketch = SketchHelper::ManagePluginSketch(source.c_str(), "Menlo");
  const int xd = AdobeXDHelper::ManagePluginAdobeXDSetFont("Menlo");
  umask(saved);
  EXPECT_TRUE(sketch);
  EXPECT_EQ(xd, 1);

  const std::string bundle = plugins + "/KelvraSetFont.sketchplugin";
  const std::string uxpStorage = home.path() + "/Adobe/UXP/PluginsStorage";
  const std::pair<std::string, unsigned> modes[] = {
      {bundle, 0755},
      {bundle + "/Contents", 0755},
      {sketchDir, 0755},
      {sketchDir + "/script.js", 0644},
      {sketchDir + "/tool", 0755},
      {sketchDir + "/KelvraFontName.txt", 0644},
      {uxpStorage, 0700},
      {storage, 0700},
      {storage + "/KelvraFontName.txt", 0644},
  };
  for (const auto& [path, mode] : modes) {
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0) << path;
    EXPECT_EQ(st.st_mode & 07777, mode) << path;
  }
}

TEST_F(RealHandOffTest, APlantedLinkIsReplacedNotFollowed) {
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
