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
using Entry = EntryCase;  // short, so a row fits a line

void PrintTo(const EntryCase& c, std::ostream* os) {
  *os << c.name;
}

class DesktopEntries : public Desktop, public testing::WithParamInterface<EntryCase> {};

TEST_P(DesktopEntries, DecideWhatIsInstalled) {
  for (const auto& [path, content] : GetParam().files) Write(path, content);
  EXPECT_STREQ(CheckSoftwareIsInstalled(GetParam().id), GetParam().installed ? "1" : "0");
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
        Entry{"InDataHome", {File(kApp, "org.example.Tool.desktop")}, "org.example.Tool", true},
        Entry{"InLaterDataDir", {File("sys2/applications/", "tool.desktop")}, "tool", true},
        Entry{"Absent", {File(kSys, "other.desktop")}, "tool", false},
        Entry{"NestedSubfolders", {File(kSys, "a/b-c/d.desktop")}, "a-b-c-d", true},
        Entry{"SubfolderIsPartOfId", {File(kSys, "vendor/tool.desktop")}, "tool", false},
        Entry{"Hidden", {File(kApp, "tool.desktop", kHidden)}, "tool", false},
        Entry{"HiddenMasksLowerFolders",
              {File(kApp, "tool.desktop", kHidden), File(kSys, "tool.desktop")},
              "tool",
              false},
        Entry{"HiddenWithSpaces",
              {File(kSys, "tool.desktop", "[Desktop Entry]\nHidden = true")},
              "tool",
              false},
        Entry{"HiddenOutsideMainGroup",
              {File(kSys, "tool.desktop", "[Desktop Entry]\n[Desktop Action new]\nHidden=true")},
              "tool",
              true},
        Entry{"FolderIsNoEntry", {File(kSys, "tool.desktop/x")}, "tool", false},
        Entry{"RelativeDataDirIgnored",
              {File("relative/share/applications/", "tool.desktop")},
              "tool",
              false},
        Entry{"EmptyId", {File(kSys, ".desktop")}, "", false},
        Entry{"NullId", {File(kSys, ".desktop")}, nullptr, false},
        Entry{"IdCaseMatters", {File(kSys, "Tool.desktop")}, "tool", false},
        Entry{"InvalidUtf8Id", {File(kSys, "tool.desktop")}, "tool\xff", false},
        Entry{"NoClimbingBySlash", {File("home/", "escape.desktop")}, "../escape", false},
        Entry{"NoClimbingByDash", {File("home/", "escape.desktop")}, "..-escape", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Desktop, DataHomeDefaultsUnderHome) {
  Write("user/.local/share/applications/tool.desktop", kEntry);
  unsetenv("XDG_DATA_HOME");
  EXPECT_STREQ(CheckSoftwareIsInstalled("tool"), "1");
  setenv("XDG_DATA_HOME", "relative/home", 1);
  EXPECT_STREQ(CheckSoftwareIsInstalled("tool"), "1");
}

}  // namespace
}  // namespace vrk
