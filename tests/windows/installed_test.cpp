// SPDX-License-Identifier: MIT
// Installed applications against desktop entries in private XDG folders.
#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/Env.h"
#include "platform/linux/DesktopEntries.h"
#include "vrkfont/VRKFont.h"

namespace vrk {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

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
              {File(kSys, "tool.desktop",
                    "[Desktop Entry]\nType=Application\n[Desktop Action new]\nHidden=true")},
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
        Entry{"NoClimbingByDash", {File("home/", "escape.desktop")}, "..-escape", false},
        Entry{
            "TryExecInPath", {File(kSys, "tool.desktop", kEntry + "TryExec=sh\n"s)}, "tool", true},
        Entry{"TryExecAbsolute",
              {File(kSys, "tool.desktop", kEntry + "TryExec=/bin/sh\n"s)},
              "tool",
              true},
        Entry{"TryExecMissing",
              {File(kSys, "tool.desktop", kEntry + "TryExec=no-such-vrk-tool\n"s)},
              "tool",
              false},
        Entry{"TryExecNotExecutable",
              {File(kSys, "tool.desktop", kEntry + "TryExec=/etc/passwd\n"s)},
              "tool",
              false},
        Entry{"TryExecRelativePath",
              {File(kSys, "tool.desktop", kEntry + "TryExec=bin/sh\n"s)},
              "tool",
              false},
        Entry{"TryExecEmpty", {File(kSys, "tool.desktop", kEntry + "TryExec=\n"s)}, "tool", false},
        Entry{"BrokenEntryMasksLowerFolders",
              {File(kApp, "tool.desktop", "Type=Application\n"), File(kSys, "tool.desktop")},
              "tool",
              false},
        Entry{"NoMainGroup",
              {File(kSys, "tool.desktop", "Type=Application\nName=T\n")},
              "tool",
              false},
        Entry{"MainGroupNotFirst",
              {File(kSys, "tool.desktop", "# c\n[Other]\nA=b\n"s + kEntry)},
              "tool",
              false},
        Entry{
            "CommentsBeforeGroup", {File(kSys, "tool.desktop", "# c\n\n"s + kEntry)}, "tool", true},
        Entry{"LinkType",
              {File(kSys, "tool.desktop", "[Desktop Entry]\nType=Link\nURL=x\n")},
              "tool",
              false},
        Entry{"NoType", {File(kSys, "tool.desktop", "[Desktop Entry]\nName=T\n")}, "tool", false},
        Entry{"NulByte", {File(kSys, "tool.desktop", kEntry + "\0"s)}, "tool", false},
        Entry{"NotUtf8", {File(kSys, "tool.desktop", kEntry + "Comment=\xff\n"s)}, "tool", false},
        Entry{"OverlongLine",
              {File(kSys, "tool.desktop", kEntry + "Comment="s + std::string(70000, 'x'))},
              "tool",
              false}),
    [](const auto& info) { return std::string(info.param.name); });

// Files that must neither block, nor be read in full, nor loop the search.
TEST_F(Desktop, SpecialFilesAndFolderLoops) {
  fs::path apps = root_ / kSys;
  fs::create_directories(apps / "real");
  std::ofstream(apps / "real/tool.desktop") << kEntry;
  ASSERT_EQ(mkfifo((apps / "fifo.desktop").c_str(), 0600), 0);
  fs::create_directory_symlink(".", apps / "x");
  fs::create_directory_symlink(".", apps / "x-x");
  fs::create_directory_symlink("real", apps / "link");
  {
    std::ofstream big(apps / "big.desktop");
    big << kEntry;
  }
  fs::resize_file(apps / "big.desktop", 1ull << 30);  // sparse
  std::string loop;
  for (int i = 0; i < 40; ++i) loop += "x-";
  struct Case {
    std::string id;
    const char* installed;
  };
  for (const Case& c :
       {Case{"fifo", "0"}, Case{"big", "0"}, Case{loop + "tool", "0"}, Case{"link-tool", "1"}}) {
    EXPECT_STREQ(CheckSoftwareIsInstalled(c.id.c_str()), c.installed) << c.id;
  }
}

TEST_F(Desktop, HomeFallsBackToPasswordEntry) {
  unsetenv("XDG_DATA_HOME");
  struct passwd* pw = getpwuid(getuid());
  ASSERT_NE(pw, nullptr);
  for (const char* home : {"", "relative"}) {
    setenv("HOME", home, 1);
    EXPECT_EQ(platform::desktop::DataFolders().front(), std::string(pw->pw_dir) + "/.local/share");
  }
  unsetenv("HOME");
  EXPECT_EQ(platform::desktop::DataFolders().front(), std::string(pw->pw_dir) + "/.local/share");
}

TEST_F(Desktop, DataHomeDefaultsUnderHome) {
  Write("user/.local/share/applications/tool.desktop", kEntry);
  unsetenv("XDG_DATA_HOME");
  EXPECT_STREQ(CheckSoftwareIsInstalled("tool"), "1");
  setenv("XDG_DATA_HOME", "relative/home", 1);
  EXPECT_STREQ(CheckSoftwareIsInstalled("tool"), "1");
}

}  // namespace
}  // namespace vrk
