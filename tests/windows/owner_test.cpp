// SPDX-License-Identifier: MIT
// Owner names: the version-resource reader on crafted files, Wine programs
// found through a fake process table, native applications through desktop
// entries, and the caller's own windows on a real X server.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "helper/GlobalHelper.h"
#include "helper/WindowsHelper.h"
#include "platform/Env.h"
#include "platform/linux/VersionResource.h"
#include "platform/linux/WindowOwners.h"
#include "support/PeBuilder.h"
#include "support/XServer.h"

namespace vrk {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using petest::Image;
using petest::Layout;
using petest::String;
using petest::Version;

const auto kCaseName = [](const auto& info) { return std::string(info.param.name); };

std::string English(std::vector<std::string> strings) {
  return Version({{u"040904b0", std::move(strings)}});
}
const std::string kBoth = English(
    {String(u"FileDescription", u"Photo editor"), String(u"ProductName", u"Adobe Photoshop 2024")});

struct ReaderCase {
  const char* name;
  std::string file;
  const char* product;  // nullptr: none
  const char* description;
};
using Pe = ReaderCase;  // short, so a row fits a line
void PrintTo(const ReaderCase& c, std::ostream* os) {
  *os << c.name;
}

class Reader : public testing::TestWithParam<ReaderCase> {};

TEST_P(Reader, ReadsNamesOrRefuses) {
  const ReaderCase& c = GetParam();
  auto names = platform::pe::ReadVersionNames(c.file);
  if (c.product == nullptr && c.description == nullptr) {
    EXPECT_FALSE(names);
    return;
  }
  ASSERT_TRUE(names);
  EXPECT_EQ(names->productName.value_or("(none)"), c.product ? c.product : "(none)");
  EXPECT_EQ(names->fileDescription.value_or("(none)"), c.description ? c.description : "(none)");
}

std::string WithPeOffset(std::string file, uint32_t offset) {
  petest::Put32(file, 0x3C, offset);
  return file;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Reader,
    testing::Values(
        Pe{"BothNames", Image(kBoth), "Adobe Photoshop 2024", "Photo editor"},
        Pe{"DescriptionOnly", Image(English({String(u"FileDescription", u"Tool")})), nullptr,
           "Tool"},
        Pe{"BlankValuesAbsent", Image(English({String(u"ProductName", u" \t")})), nullptr, nullptr},
        Pe{"NonBmpText", Image(English({String(u"ProductName", u"Ti\U0001F600 \xD800x")})),
           "Ti\U0001F600 \uFFFDx", nullptr},
        Pe{"EnglishTableFirst",
           Image(Version({{u"040704b0", {String(u"ProductName", u"Bildbearbeitung")}},
                          {u"040904b0", {String(u"ProductName", u"Editor")}}})),
           "Editor", nullptr},
        Pe{"OtherLanguageOnly",
           Image(Version({{u"040704b0", {String(u"ProductName", u"Bildbearbeitung")}}})),
           "Bildbearbeitung", nullptr},
        Pe{"NoStrings", Image(Version({})), nullptr, nullptr},
        Pe{"NoVersionResource", Image(kBoth, Layout{.typeId = 3}), nullptr, nullptr},
        Pe{"NoResourceDirectory", Image(kBoth, Layout{.directoryCount = 2}), nullptr, nullptr},
        Pe{"DirectoryLoopsToRoot", Image(kBoth, Layout{.secondLevel = 0x80000000}), nullptr,
           nullptr},
        Pe{"DataEntryInsteadOfDirectory", Image(kBoth, Layout{.secondLevel = 0x48}), nullptr,
           nullptr},
        Pe{"SizePastTheEnd", Image(kBoth, Layout{.dataSizeExtra = 0x1000}), nullptr, nullptr},
        Pe{"HugeSize", Image(kBoth, Layout{.dataSizeExtra = 0xFFFF0000}), nullptr, nullptr},
        Pe{"PeOffsetPastTheEnd", WithPeOffset(Image(kBoth), 0xFFFFFFF0), nullptr, nullptr},
        Pe{"NotAnImage", "MZ"s + std::string(100, '\0'), nullptr, nullptr},
        Pe{"Empty", "", nullptr, nullptr}, Pe{"TextFile", "hello, world\n", nullptr, nullptr}),
    kCaseName);

// Every cut of a good file is refused, or read in full when only padding went.
TEST(ReaderTruncated, RefusesEveryCut) {
  std::string file = Image(kBoth);
  for (size_t size = 0; size < file.size(); ++size) {
    auto names = platform::pe::ReadVersionNames(std::string_view(file).substr(0, size));
    if (names) {
      EXPECT_EQ(names->productName, "Adobe Photoshop 2024") << size;
    }
  }
}

// Damage to the version blocks: lengths that run past their parent, a child
// of length zero, a key without its end.
TEST(ReaderBlocks, StaysInsideEachBlock) {
  std::string version = kBoth;
  for (size_t at = 0; at + 2 <= version.size(); at += 2) {
    for (uint32_t value : {0u, 1u, 0xFFFFu}) {
      std::string broken = version;
      petest::Put16(broken, at, value);
      auto names = platform::pe::ReadVersionNames(Image(broken));
      if (names && names->productName) {
        EXPECT_FALSE(names->productName->empty());
      }
    }
  }
}

class TempFolder : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vrk-owner-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
  }
  void TearDown() override { fs::remove_all(root_); }
  void Write(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
  }
  fs::path root_;
};

// Processes as Wine leaves them: the command line is the Windows path padded
// with NULs, the program file is mapped, the prefix is in the environment.
struct ProcessCase {
  const char* name;
  std::string cmdline;
  bool mapped;  // whether the program file shows in maps
  std::string environ;
  const char* owner;  // nullptr: not a Windows program
};
using Proc = ProcessCase;  // short, so a row fits a line
void PrintTo(const ProcessCase& c, std::ostream* os) {
  *os << c.name;
}

class WineProcess : public TempFolder, public testing::WithParamInterface<ProcessCase> {};

const std::string kPad(64, '\0');

TEST_P(WineProcess, NamesTheProgram) {
  const ProcessCase& c = GetParam();
  fs::path prefix = root_ / "prefix";
  fs::path folder = prefix / "drive_c/Program Files/Adobe";
  Write(folder / "Photoshop.exe", Image(kBoth));
  Write(folder / "Plain.exe", "MZ not really");
  Write(folder / "Described.exe", Image(English({String(u"FileDescription", u"Describer")})));
  fs::create_directories(prefix / "dosdevices");
  fs::create_directory_symlink("../drive_c", prefix / "dosdevices/c:");
  fs::create_directories(root_ / "home");
  fs::create_directory_symlink(prefix, root_ / "home/.wine");
  fs::path proc = root_ / "proc/4242";
  std::string program = c.cmdline.substr(0, c.cmdline.find('\0'));
  program = program.substr(program.find_last_of('\\') + 1);
  std::string maps = "00400000-00401000 r--p 00000000 08:01 1 /usr/bin/wine64-preloader\n";
  if (c.mapped)
    maps += "7f000000-7f001000 r--p 00000000 08:01 2 " + (folder / program).string() + "\n";
  Write(proc / "maps", maps);
  Write(proc / "cmdline", c.cmdline);
  std::string environ = c.environ;
  size_t at = 0;
  while ((at = environ.find("@", at)) != std::string::npos) environ.replace(at, 1, root_.string());
  Write(proc / "environ", environ);
  platform::OwnerNamer namer((root_ / "proc").string());
  std::optional<std::string> owner = namer.FromProcess(4242);
  EXPECT_EQ(owner.value_or("(none)"), c.owner ? c.owner : "(none)");
  EXPECT_EQ(namer.FromProcess(4243), std::nullopt);  // no such process
}

const std::string kPrefixEnv = "A=1\0WINEPREFIX=@/prefix\0"s;

INSTANTIATE_TEST_SUITE_P(
    Table, WineProcess,
    testing::Values(
        Proc{"Mapped", "C:\\Program Files\\Adobe\\Photoshop.exe" + kPad, true, "",
             "Adobe Photoshop 2024"},
        Proc{"FromPrefix", "C:\\Program Files\\Adobe\\Photoshop.exe" + kPad, false, kPrefixEnv,
             "Adobe Photoshop 2024"},
        Proc{"PathCaseIgnored", "c:\\PROGRAM FILES\\adobe\\photoshop.EXE\0-x\0"s, false, kPrefixEnv,
             "Adobe Photoshop 2024"},
        Proc{"DefaultPrefix", "C:\\Program Files\\Adobe\\Photoshop.exe" + kPad, false,
             "HOME=@/home\0"s, "Adobe Photoshop 2024"},
        Proc{"RelativePrefixIgnored", "C:\\Program Files\\Adobe\\Photoshop.exe" + kPad, false,
             "WINEPREFIX=prefix\0"s, "Photoshop"},
        Proc{"DescriptionOnly", "C:\\Program Files\\Adobe\\Described.exe" + kPad, true, "",
             "Describer"},
        Proc{"NoVersionResource", "C:\\Program Files\\Adobe\\Plain.exe" + kPad, true, "", "Plain"},
        Proc{"MissingFile", "C:\\Program Files\\Adobe\\Gone.exe" + kPad, false, kPrefixEnv, "Gone"},
        Proc{"NoClimbing", "C:\\..\\..\\prefix\\drive_c\\Program Files\\Adobe\\Photoshop.exe",
             false, kPrefixEnv, "Photoshop"},
        Proc{"NativeProgram", "/usr/bin/gedit\0--new\0"s, false, kPrefixEnv, nullptr}),
    kCaseName);

// Native applications by their desktop entries, in private XDG folders.
class DesktopNames : public TempFolder {
 protected:
  void SetUp() override {
    TempFolder::SetUp();
    setenv("XDG_DATA_HOME", (root_ / "home").c_str(), 1);
    setenv("XDG_DATA_DIRS", (root_ / "sys").c_str(), 1);
  }
  void Entry(const std::string& file, const std::string& keys, const char* folder = "sys") {
    Write(root_ / folder / "applications" / file,
          "[Desktop Entry]\nType=Application\nExec=x\n" + keys);
  }
};

TEST_F(DesktopNames, NameApplicationsByClass) {
  Entry("org.inkscape.Inkscape.desktop", "Name=Inkscape\n");
  Entry("gimp.desktop", "Name=GIMP\nStartupWMClass=gimp-2.10\n");
  Entry("vendor/tool.desktop", "Name=Vendor Tool\n");
  Entry("hidden.desktop", "Name=Gone\nHidden=true\n");
  Entry("masked.desktop", "Name=Masked\n");
  Entry("masked.desktop", "Name=Masked\nHidden=true\n", "home");
  Write(root_ / "sys/applications/link.desktop", "[Desktop Entry]\nType=Link\nName=Link\n");
  Entry("byclass.desktop", "Name=By Class\nStartupWMClass=Shared\n");
  Entry("shared.desktop", "Name=By Id\n");
  struct Case {
    const char* instance;
    const char* klass;
    const char* owner;
  };
  platform::OwnerNamer namer;
  for (const Case& c :
       {Case{"org.inkscape.Inkscape", "org.inkscape.Inkscape", "Inkscape"},
        Case{"gimp-2.10", "Gimp", "GIMP"}, Case{"x", "vendor-tool", "Vendor Tool"},
        Case{"inkscape", "Inkscape", "Inkscape"}, Case{"hidden", "Hidden", "Hidden"},
        Case{"masked", "Masked", "Masked"}, Case{"link", "Link", "Link"},
        Case{"shared", "Shared", "By Class"}, Case{"solo", "", "solo"}}) {
    EXPECT_EQ(namer.FromClass(c.instance, c.klass).value_or("(none)"), c.owner)
        << c.instance << "/" << c.klass;
  }
  EXPECT_EQ(namer.FromClass("", ""), std::nullopt);
  // A later walk sees an entry installed meanwhile.
  Entry("later.desktop", "Name=Later App\n");
  EXPECT_EQ(platform::OwnerNamer().FromClass("later", "Later"), "Later App");
}

// The caller's own windows, whatever the case of their class, never count as
// the unsupported application; another process's window with that class does.
TEST(CallerWindows, ExcludedByProcessInEitherSpelling) {
  std::unique_ptr<xtest::Xvfb> server;
  std::unique_ptr<xtest::Client> x;
  try {
    server = std::make_unique<xtest::Xvfb>();
    x = std::make_unique<xtest::Client>();
  } catch (const std::exception& e) {
    FAIL() << e.what();
  }
  platform::SetEnvForTesting(nullptr);
  setenv("XDG_DATA_DIRS", "/nonexistent", 1);
  setenv("XDG_DATA_HOME", "/nonexistent", 1);
  auto window = [&](const std::string& instance, const std::string& klass, uint32_t pid) {
    xcb_window_t w = x->Create();
    x->SetClass(w, instance, klass);
    x->SetCardinals(w, "_NET_WM_PID", XCB_ATOM_CARDINAL, {pid});
    x->Map(w);
  };
  window("other", "Finder", 1);
  window("kelvra", "Kelvra", getpid());
  window("Kelvra", "Kelvra", getpid());
  for (const char* identity : {"Other", "MuXan"}) {
    GlobalHelper::SetAppName(std::string(identity));
    EXPECT_EQ(WindowsHelper::EnumWindows(), Json::parse(R"({"unsupportedAppNames": "Finder"})"))
        << identity;
  }
  window("kelvra", "Kelvra", 1);
  GlobalHelper::SetAppName(std::string("Other"));
  EXPECT_EQ(WindowsHelper::EnumWindows(), Json::parse(R"({"unsupportedAppNames": "Kelvra"})"));
}

}  // namespace
}  // namespace vrk
