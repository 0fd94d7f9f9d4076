// Installed applications against desktop entries in private XDG folders.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/Env.h"
#include "vrkfont/VRKFont.h"

namespace vrk {
namespace {

namespace fs = std::filesystem;

class Desktop : public testing::Test {
 protected:
  void SetUp() override {
    platform::SetEnvForTesting(nullptr);
    char pattern[] = "/tmp/vrk-xdg-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    setenv("HOME", (root_ / "user").c_str(), 1);
    setenv("XDG_DATA_HOME", (root_ / "home").c_str(), 1);
    std::string dirs = (root_ / "sys1").string() + ":relative/share:" + (root_ / "sys2").string();
    setenv("XDG_DATA_DIRS", dirs.c_str(), 1);
  }
  void TearDown() override { fs::remove_all(root_); }

  void Write(const std::string& path, const std::string& content) {
    fs::path p = root_ / path;
    fs::create_directories(p.parent_path());
    std::ofstream(p) << content;
  }
  static bool Installed(const char* id) { return CheckSoftwareIsInstalled(id)[0] == '1'; }

  fs::path root_;
};

const char* const kEntry = "[Desktop Entry]\nType=Application\nName=Tool\nExec=tool\n";
const char* const kHidden = "[Desktop Entry]\nType=Application\nName=Tool\nHidden=true\n";

struct EntryCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> files;  // under the temporary root
  const char* id;
  bool installed;
};

void PrintTo(const EntryCase& c, std::ostream* os) {
  *os << c.name;
}

class DesktopEntries : public Desktop, public testing::WithParamInterface<EntryCase> {};

TEST_P(DesktopEntries, DecideWhatIsInstalled) {
  for (const auto& [path, content] : GetParam().files) Write(path, content);
  EXPECT_EQ(Installed(GetParam().id), GetParam().installed);
}

const char* const kApp = "home/applications/";
const char* const kSys = "sys1/applications/";

std::pair<std::string, std::string> File(std::string folder, std::string name,
                                         std::string content = kEntry) {
  return {folder + name, content};
}

INSTANTIATE_TEST_SUITE_P(
    Table, DesktopEntries,
    testing::Values(
        EntryCase{"InDataHome", {File(kApp, "org.example.Tool.desktop")}, "org.example.Tool", true},
        EntryCase{"InLaterDataDir", {File("sys2/applications/", "tool.desktop")}, "tool", true},
        EntryCase{"Absent", {File(kSys, "other.desktop")}, "tool", false},
        EntryCase{"NestedSubfolders", {File(kSys, "a/b-c/d.desktop")}, "a-b-c-d", true},
        EntryCase{"SubfolderIsPartOfId", {File(kSys, "vendor/tool.desktop")}, "tool", false},
        EntryCase{"Hidden", {File(kApp, "tool.desktop", kHidden)}, "tool", false},
        EntryCase{"HiddenMasksLowerFolders",
                  {File(kApp, "tool.desktop", kHidden), File(kSys, "tool.desktop")},
                  "tool",
                  false},
        EntryCase{"HiddenWithSpaces",
                  {File(kSys, "tool.desktop", "[Desktop Entry]\nHidden = true")},
                  "tool",
                  false},
        EntryCase{
            "HiddenOutsideMainGroup",
            {File(kSys, "tool.desktop", "[Desktop Entry]\n[Desktop Action new]\nHidden=true")},
            "tool",
            true},
        EntryCase{"FolderIsNoEntry", {File(kSys, "tool.desktop/x")}, "tool", false},
        EntryCase{"RelativeDataDirIgnored",
                  {File("relative/share/applications/", "tool.desktop")},
                  "tool",
                  false},
        EntryCase{"EmptyId", {File(kSys, ".desktop")}, "", false},
        EntryCase{"NoClimbingBySlash", {File("home/", "escape.desktop")}, "../escape", false},
        EntryCase{"NoClimbingByDash", {File("home/", "escape.desktop")}, "..-escape", false}),
    [](const testing::TestParamInfo<EntryCase>& info) { return info.param.name; });

TEST_F(Desktop, DataHomeDefaultsUnderHome) {
  Write("user/.local/share/applications/tool.desktop", kEntry);
  unsetenv("XDG_DATA_HOME");
  EXPECT_TRUE(Installed("tool"));
  setenv("XDG_DATA_HOME", "relative/home", 1);
  EXPECT_TRUE(Installed("tool"));
}

TEST_F(Desktop, BadIdsAnswerZero) {
  EXPECT_STREQ(CheckSoftwareIsInstalled(nullptr), "0");
  Write("sys1/applications/tool.desktop", kEntry);
  EXPECT_STREQ(CheckSoftwareIsInstalled("tool"), "1");
  EXPECT_STREQ(CheckSoftwareIsInstalled("tool\xff"), "0");
}

}  // namespace
}  // namespace vrk
