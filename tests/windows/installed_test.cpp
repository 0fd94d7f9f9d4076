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

INSTANTIATE_TEST_SUITE_P(
    Table, DesktopEntries,
    testing::Values(
        EntryCase{"InDataHome",
                  {{"home/applications/org.example.Tool.desktop", kEntry}},
                  "org.example.Tool",
                  true},
        EntryCase{"InLaterDataDir",
                  {{"sys2/applications/org.example.Tool.desktop", kEntry}},
                  "org.example.Tool",
                  true},
        EntryCase{"Absent",
                  {{"sys1/applications/org.example.Other.desktop", kEntry}},
                  "org.example.Tool",
                  false},
        EntryCase{"IdIsCaseSensitive",
                  {{"sys1/applications/org.example.Tool.desktop", kEntry}},
                  "org.example.tool",
                  false},
        EntryCase{
            "Subfolder", {{"sys1/applications/vendor/tool.desktop", kEntry}}, "vendor-tool", true},
        EntryCase{
            "NestedSubfolders", {{"sys1/applications/a/b-c/d.desktop", kEntry}}, "a-b-c-d", true},
        EntryCase{"SubfolderNameIsPartOfId",
                  {{"sys1/applications/vendor/tool.desktop", kEntry}},
                  "tool",
                  false},
        EntryCase{"Hidden", {{"home/applications/tool.desktop", kHidden}}, "tool", false},
        EntryCase{"HiddenMasksLowerFolders",
                  {{"home/applications/tool.desktop", kHidden},
                   {"sys1/applications/tool.desktop", kEntry}},
                  "tool",
                  false},
        EntryCase{"HiddenInSubfolderMasksToo",
                  {{"sys1/applications/vendor/tool.desktop", kHidden},
                   {"sys2/applications/vendor-tool.desktop", kEntry}},
                  "vendor-tool",
                  false},
        EntryCase{"HiddenWithSpaces",
                  {{"sys1/applications/tool.desktop", "[Desktop Entry]\nHidden = true\n"}},
                  "tool",
                  false},
        EntryCase{"HiddenFalse",
                  {{"sys1/applications/tool.desktop", "[Desktop Entry]\nHidden=false\n"}},
                  "tool",
                  true},
        EntryCase{"HiddenOutsideMainGroup",
                  {{"sys1/applications/tool.desktop",
                    "[Desktop Entry]\nName=Tool\n[Desktop Action new]\nHidden=true\n"}},
                  "tool",
                  true},
        EntryCase{"FolderIsNoEntry", {{"sys1/applications/tool.desktop/x", kEntry}}, "tool", false},
        EntryCase{"RelativeDataDirIgnored",
                  {{"relative/share/applications/tool.desktop", kEntry}},
                  "tool",
                  false},
        EntryCase{"EmptyId", {{"sys1/applications/.desktop", kEntry}}, "", false},
        EntryCase{"NoClimbingBySlash", {{"home/escape.desktop", kEntry}}, "../escape", false},
        EntryCase{"NoClimbingByDash", {{"home/escape.desktop", kEntry}}, "..-escape", false}),
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
