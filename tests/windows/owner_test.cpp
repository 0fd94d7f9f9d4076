// SPDX-License-Identifier: MIT
// What names an application: desktop entries in private XDG folders, the
// version resource of a Windows program, Wine processes in a private /proc.
#include <gtest/gtest.h>
#include <pwd.h>

#include <array>
#include <filesystem>

#include "platform/linux/DesktopEntries.h"
#include "platform/linux/VersionResource.h"
#include "platform/linux/WindowOwners.h"
#include "support/PeBuilder.h"
#include "support/World.h"
#include "vrkfont/VRKFont.h"

namespace vrk {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using petest::Image;
using petest::String;
using Files = std::vector<std::pair<std::string, std::string>>;
const auto kRowName = [](const auto& info) { return std::string(info.param.name); };

// Files under the world's root; content "->x" makes a link to x.
void Plant(const test::World& world, const Files& files) {
  for (const auto& [path, content] : files) {
    fs::create_directories(fs::path(world.Path(path)).parent_path());
    if (content.starts_with("->")) fs::create_symlink(content.substr(2), world.Path(path));
    if (!content.starts_with("->")) test::WriteFile(world.Path(path), content);
  }
}
// An entry in data/applications of the world, data being one of its folders.
std::pair<std::string, std::string> T(std::string data, std::string keys = "",
                                      std::string id = "t") {
  return {data + "/applications/" + id + ".desktop", "[Desktop Entry]\nType=Application\n" + keys};
}

struct EntryRow {
  const char* name;
  Files files;  // under data (XDG_DATA_HOME), or sys1 and sys2 (XDG_DATA_DIRS)
  const char* id;
  const char* installed;
};
class Installed : public testing::TestWithParam<EntryRow> {};

TEST_P(Installed, DecidedByTheFirstEntryWithTheId) {
  test::World world;
  setenv("XDG_DATA_DIRS", (world.Path("sys1") + ":rel:" + world.Path("sys2")).c_str(), 1);
  ASSERT_EQ(chdir(world.root().c_str()), 0);  // where the relative data folder "rel" would be
  Plant(world, GetParam().files);
  EXPECT_STREQ(CheckSoftwareIsInstalled(GetParam().id), GetParam().installed);
  ASSERT_EQ(chdir("/"), 0);
}

using E = EntryRow;
INSTANTIATE_TEST_SUITE_P(
    Table, Installed,
    testing::Values(
        E{"DataHome", {{T("data").first, "# c\n\n" + T("").second}}, "t", "1"},
        E{"LaterDataDir", {T("sys2")}, "t", "1"}, E{"RelativeDataDir", {T("rel")}, "t", "0"},
        E{"DashesAsFolders", {T("sys1", "", "a/b-c/d")}, "a-b-c-d", "1"},
        E{"FolderIsNoEntry", {T("sys1", "", "t.desktop/x")}, "t", "0"},
        E{"FolderLoopEnds", {{"sys1/applications/x", "->."}, T("sys1")}, "x-x-x-x-t", "0"},
        E{"HiddenMasksLater", {T("data", " Hidden = true"), T("sys1")}, "t", "0"},
        E{"BrokenMasksLater", {{T("data").first, "Type=Application"}, T("sys1")}, "t", "0"},
        E{"HiddenInOtherGroup", {T("sys1", "[Desktop Action a]\nHidden=true")}, "t", "1"},
        E{"MainGroupNotFirst", {{T("sys1").first, "[A]\n" + T("").second}}, "t", "0"},
        E{"NotApplication", {{T("sys1").first, "[Desktop Entry]\nType=Link"}}, "t", "0"},
        E{"NulByte", {T("sys1", "\0"s)}, "t", "0"},
        E{"NotUtf8", {T("sys1", "Name=\xff")}, "t", "0"},
        E{"TryExecInPath", {T("sys1", "TryExec=sh")}, "t", "1"},
        E{"TryExecAbsolute", {T("sys1", "TryExec=/bin/sh")}, "t", "1"},
        E{"TryExecMissing", {T("sys1", "TryExec=no-such-vrk-tool")}, "t", "0"},
        E{"TryExecNotExecutable", {T("sys1", "TryExec=/etc/passwd")}, "t", "0"},
        E{"TryExecRelative", {T("sys1", "TryExec=bin/sh")}, "t", "0"},
        E{"TryExecEmpty", {T("sys1", "TryExec=")}, "t", "0"},
        E{"EmptyId", {T("sys1", "", "")}, "", "0"}, E{"NullId", {}, nullptr, "0"},
        E{"NoClimbingBySlash", {T("sys1", "", "../x")}, "../x", "0"},
        E{"NoClimbingByDash", {T("sys1", "", "../x")}, "..-x", "0"}),
    kRowName);

// XDG_DATA_HOME when absolute, else under HOME when absolute, else under the
// password entry's home.
TEST(DataFolders, HomeFallsBackToThePasswordEntry) {
  test::World world;
  const std::string user = getpwuid(getuid())->pw_dir + "/.local/share"s;
  for (auto [home, data, front] :
       std::vector<std::array<const char*, 3>>{{"/h", "/d", "/d"},
                                               {"/h", "d", "/h/.local/share"},
                                               {"/h", nullptr, "/h/.local/share"},
                                               {"", 0, user.c_str()},
                                               {"h", 0, user.c_str()},
                                               {nullptr, 0, user.c_str()}}) {
    home ? setenv("HOME", home, 1) : unsetenv("HOME");
    data ? setenv("XDG_DATA_HOME", data, 1) : unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(platform::desktop::DataFolders().front(), front) << (home ? home : "unset");
  }
}

// Native windows by their desktop entries, from a table that follows the folders.
TEST(DesktopNames, NameApplicationsByClassOrId) {
  test::World world;
  Plant(world, {T("sysdata", "Name=Ink", "org.ink.Ink"),
                T("sysdata", "Name=V", "vendor/tool"),
                T("sysdata", "Name=Gimp\nStartupWMClass=g-2", "gimp"),
                T("sysdata", "Comment=c", "n"),
                T("sysdata", "Name=Gone\nHidden=true", "h"),
                T("sysdata", "Name=Masked", "m"),
                T("sysdata", "Name=By Class\nStartupWMClass=S", "c"),
                T("sysdata", "Name=By Id", "s"),
                {T("data", "", "m").first, "[Desktop Entry]\nType=Link\nName=L"}});
  platform::OwnerNamer namer;
  for (auto [instance, klass, owner] :
       std::vector<std::array<const char*, 3>>{{"x", "org.ink.Ink", "Ink"},
                                               {"g-2", "G", "Gimp"},
                                               {"x", "vendor-tool", "V"},
                                               {"h", "H", "H"},
                                               {"n", "N", "N"},
                                               {"m", "M", "M"},
                                               {"s", "S", "By Class"},
                                               {"solo", "", "solo"},
                                               {"", "", "-"}}) {
    EXPECT_EQ(namer.FromClass(instance, klass).value_or("-"), owner) << klass;
  }
  Plant(world, {T("sysdata", "Name=Later", "later")});
  const std::string apps = world.Path("sysdata/applications");
  fs::last_write_time(apps, fs::last_write_time(apps) + std::chrono::hours(1));
  EXPECT_EQ(platform::OwnerNamer().FromClass("later", "L"), "Later");
  setenv("XDG_DATA_DIRS", world.Path("data").c_str(), 1);
  EXPECT_EQ(platform::OwnerNamer().FromClass("later", "L"), "L");
}

std::string English(std::vector<std::string> strings) {
  return petest::Version({{u"040904b0", std::move(strings)}});
}
const std::string kBoth =
    English({String(u"CompanyName", u"A"), String(u"FileDescription", u" Ed\t"),
             String(u"ProductName", u"Adobe Photoshop")});

struct PeRow {
  const char* name;
  std::string file;
  const char* names;  // "product|description", "-" for one missing; "none": refused
};
class VersionResource : public testing::TestWithParam<PeRow> {};

TEST_P(VersionResource, ReadsNamesOrRefuses) {
  auto n = platform::pe::ReadVersionNames(GetParam().file);
  EXPECT_EQ(n ? n->productName.value_or("-") + "|" + n->fileDescription.value_or("-") : "none",
            GetParam().names);
}

using P = PeRow;
using L = petest::Layout;
INSTANTIATE_TEST_SUITE_P(
    Table, VersionResource,
    testing::Values(P{"BothTrimmed", Image(kBoth), "Adobe Photoshop|Ed"},
                    P{"Pe32", Image(kBoth, L{.pe32 = true, .optionalSize = 224}),
                      "Adobe Photoshop|Ed"},
                    P{"DescriptionOnly", Image(English({String(u"FileDescription", u"D")})), "-|D"},
                    P{"BlankIsNone", Image(English({String(u"ProductName", u" \t")})), "none"},
                    P{"Utf16", Image(English({String(u"ProductName", u"é€\U0001F600\xD800x")})),
                      "é€😀\uFFFDx|-"},
                    P{"EnglishFirst",
                      Image(petest::Version({{u"040704b0", {String(u"ProductName", u"B")}},
                                             {u"040904b0", {String(u"ProductName", u"E")}}})),
                      "E|-"},
                    P{"OtherLanguage",
                      Image(petest::Version({{u"0407", {String(u"ProductName", u"B")}}})), "B|-"},
                    P{"NotMZ", "MX" + Image(kBoth).substr(2), "none"},
                    P{"TooFewDirectories", Image(kBoth, L{.directoryCount = 2}), "none"},
                    P{"OptionalHeaderShort", Image(kBoth, L{.optionalSize = 132}), "none"},
                    P{"NoResourceRva", Image(kBoth, L{.resourceRva = 0}), "none"},
                    P{"NoVersionType", Image(kBoth, L{.typeId = 3}), "none"},
                    P{"DataEntryForDirectory", Image(kBoth, L{.secondLevel = 0x48}), "none"}),
    kRowName);

// Processes as Wine leaves them: the command line is the Windows path, the
// prefix is in the environment, the program files are mapped.
struct ProcessRow {
  const char* name;
  std::string cmdline;
  std::vector<std::string> mapped;
  std::string environ;  // "@" stands for the world's root
  const char* owner;
};
class WineProcess : public testing::TestWithParam<ProcessRow> {};

TEST_P(WineProcess, NamesTheProgram) {
  const ProcessRow& r = GetParam();
  test::World world;
  const std::string in = "prefix/drive_c/Program Files/Adobe/";
  std::string maps = "00400000-00401000 r--p 0 08:01 1 /usr/bin/wine64-preloader\n",
              env = r.environ;
  for (const std::string& file : r.mapped)
    maps += "7f-7f r--p 0 08:01 2 " + world.Path(in + file) + "\n";
  for (size_t at; (at = env.find('@')) != std::string::npos;) env.replace(at, 1, world.root());
  Plant(world, {{in + "Ps.exe", Image(kBoth)},
                {in + "D.exe", Image(English({String(u"FileDescription", u"D")}))},
                {in + "Plain.exe", "MZ"},
                {"prefix/dosdevices/c:", "->../drive_c"},
                {"home/.wine", "->../prefix"},
                {"proc/42/maps", maps},
                {"proc/42/cmdline", r.cmdline},
                {"proc/42/environ", env}});
  platform::OwnerNamer namer(world.Path("proc"));
  EXPECT_EQ(namer.FromProcess(42).value_or("-"), r.owner);
  EXPECT_EQ(namer.FromProcess(43), std::nullopt);
}

const std::string kPs = "C:\\Program Files\\Adobe\\Ps.exe\0\0\0"s;
const std::string kPrefix = "A=1\0WINEPREFIX=@/prefix\0"s;
using W = ProcessRow;
INSTANTIATE_TEST_SUITE_P(
    Table, WineProcess,
    testing::Values(
        W{"MappedByName", kPs, {"D.exe", "Ps.exe"}, "", "Adobe Photoshop"},
        W{"OnlyMappedProgram", "C:\\x\\start.exe", {"Ps.exe"}, "", "Adobe Photoshop"},
        W{"InPrefixAnyCase",
          "c:\\PROGRAM FILES\\adobe\\ps.EXE\0-x\0"s,
          {},
          kPrefix,
          "Adobe Photoshop"},
        W{"DefaultPrefix", kPs, {}, "HOME=@/home\0"s, "Adobe Photoshop"},
        W{"RelativePrefix", kPs, {}, "WINEPREFIX=prefix\0"s, "Ps"},
        W{"DescriptionOnly", "C:\\Program Files\\Adobe\\D.exe", {"D.exe"}, "", "D"},
        W{"NoVersionResource", "C:\\Program Files\\Adobe\\Plain.exe", {"Plain.exe"}, "", "Plain"},
        W{"NoClimbing",
          "C:\\..\\..\\prefix\\drive_c\\Program Files\\Adobe\\Ps.exe",
          {},
          kPrefix,
          "Ps"},
        W{"NativeProgram", "/usr/bin/gedit\0--new\0"s, {"Plain.exe"}, kPrefix, "-"}),
    kRowName);

}  // namespace
}  // namespace vrk
