// SPDX-License-Identifier: MIT
// Hosts, installed applications and window owners, in private folders and Xvfbs.
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>

#include <atomic>
#include <filesystem>
#include <sstream>

#include "helper/GlobalHelper.h"
#include "helper/WindowsHelper.h"
#include "platform/linux/DesktopEntries.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/VersionResource.h"
#include "platform/linux/WindowOwners.h"
#include "support/FakeEnv.h"
#include "support/PeBuilder.h"
#include "support/World.h"
#include "support/XServer.h"
#include "vrkfont/VRKFont.h"

// While set, every other wrapped system call fails with EINTR, as signals would make it.
std::atomic<bool> g_interrupting{false};
// While set, send fails with this error, as when the server has gone.
std::atomic<int> g_sendError{0};

namespace vrk {
namespace {

using namespace std::string_literals;
using petest::String;
using xtest::Client;
using Change = std::function<void(Client&, xcb_window_t)>;
using Row = std::tuple<const char*, std::function<std::string()>, std::string>;
class Answer : public testing::TestWithParam<Row> {};
TEST_P(Answer, IsExpected) {
  EXPECT_EQ(std::get<1>(GetParam())(), std::get<2>(GetParam()));
}
const auto kRowName = [](const auto& info) { return std::string(std::get<0>(info.param)); };

// The front host and the unsupported one ("-": no such key), or the whole answer for a host
// present holding `asked`. Owners frontmost first: nullptr none, a leading '*' the caller's own.
auto Front(std::vector<const char*> owners, bool present = false, const char* asked = nullptr) {
  return [=] {
    test::ScopedFakeEnv env;
    for (const char* o : owners)
      env->windows.onScreen.push_back({o ? Text(o + (*o == '*')) : std::nullopt, o && *o == '*'});
    env->windows.all = env->windows.onScreen;
    GlobalHelper::SetAppName(""s);
    if (present) return WindowsHelper::EnumWindowsCheckAppNameExist(asked).dump();
    Json j = WindowsHelper::EnumWindows();
    return j.value("choseAppName", "-") + "," + j.value("unsupportedAppNames", "-");
  };
}

const std::string kApp = "[Desktop Entry]\nType=Application\n";
// Whether installed, per ID, with folder/applications/ID.desktop for each "folder/ID" of the
// XDG folders data, sys1 and sys2 (content "->x": a link to x instead).
auto Installed(std::map<std::string, std::string> files, std::vector<const char*> ids) {
  return [=] {
    test::World world;
    setenv("XDG_DATA_DIRS", (world.Path("sys1") + ":rel:" + world.Path("sys2")).c_str(), 1);
    EXPECT_EQ(chdir(world.root().c_str()), 0);  // where the relative folder "rel" would be
    for (auto [at, content] : files) {
      std::string path = world.Path(std::string(at).insert(at.find('/'), "/applications"));
      std::filesystem::create_directories(std::filesystem::path(path).parent_path());
      if (content.starts_with("->")) std::filesystem::create_symlink(content.substr(2), path);
      if (!content.starts_with("->")) test::WriteFile(path + ".desktop", content);
    }
    std::string answers;
    for (const char* id : ids) answers += CheckSoftwareIsInstalled(id);
    return chdir("/") == 0 ? answers : "no way back";
  };
}

const auto Image = [](std::vector<std::string> strings, const char16_t* language = u"040904b0") {
  return petest::Image(petest::Version({{language, strings}}));
};
const std::string kPs = Image({String(u"CompanyName", u"A"), String(u"FileDescription", u" Ed\t"),
                               String(u"ProductName", u"Adobe Photoshop")});
// "product|description", "-" for one missing.
auto Names(std::string file) {
  return [=] {
    auto n = platform::pe::ReadVersionNames(file);
    return n ? n->productName.value_or("-") + "|" + n->fileDescription.value_or("-") : "none";
  };
}
const auto Broken = [](size_t at, uint32_t value, std::string image = kPs) {
  return petest::Put(image, at, value), Names(image);
};

// The names of a Wine process in a private /proc, its prefix "$/.wine" holding
// C:\\apps\\Tool.exe (a product name) and C:\\Other.exe (a description only);
// "$" stands for the root and "|" for a NUL. Each ";" in `cmdline` starts the
// next program under the same number, "@" marking a new start time.
auto Process(std::string cmdline, std::string environ, std::string maps = "") {
  return [=] {
    test::TempDir root;
    const auto make = [&](const std::string& file, const std::string& bytes) {
      std::filesystem::create_directories(std::filesystem::path(root.path() + file).parent_path());
      test::WriteFile(root.path() + file, bytes);
    };
    const auto put = [&](const std::string& file, std::string text) {
      for (size_t at; (at = text.find('$')) != std::string::npos;) text.replace(at, 1, root.path());
      std::replace(text.begin(), text.end(), '|', '\0');
      make(file, text);
    };
    make("/.wine/drive_c/apps/Tool.exe", kPs);
    make("/.wine/drive_c/Other.exe", Image({String(u"FileDescription", u"Other")}));
    make("/.wine/dosdevices/d:", "");
    put("/proc/7/environ", environ);
    std::filesystem::create_directory_symlink("../drive_c", root.path() + "/.wine/dosdevices/c:");
    put("/proc/7/maps", maps);
    std::string names, run;
    std::istringstream runs(cmdline);
    static int start = 0;  // the library keeps what it learned of a process
    for (start += 10; std::getline(runs, run, ';');) {
      if (run.starts_with('@')) run.erase(0, 1), ++start;
      std::string stat = "7 (a) b) S";
      for (int field = 4; field < 22; ++field) stat += " 0";
      put("/proc/7/stat", stat + " " + std::to_string(start) + " 0");
      put("/proc/7/cmdline", run + "|");
      names += platform::OwnerNamer(root.path() + "/proc").FromProcess(7).value_or("-") + ";";
    }
    return names;
  };
}

// Owner names, "*" marking the caller's own windows.
std::string Of(const std::vector<platform::WindowInfo>& windows) {
  std::string names;
  for (const auto& w : windows) {
    if (!names.empty()) names += ',';
    names += w.ownerName.value_or("-");
    if (w.caller) names += '*';
  }
  return names;
}
// A window manager, alive while its check window names itself.
void Manager(Client& x, xcb_window_t check, const std::vector<std::string>& supported) {
  for (xcb_window_t w : {check, x.root()})
    x.SetCardinals(w, "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW, {check});
  x.SetAtoms(x.root(), "_NET_SUPPORTED", supported);
  x.Sync();
}
Change Bytes(std::string bytes, const char* type = "STRING", xcb_atom_t to = XCB_ATOM_WM_CLASS) {
  return [=](Client& x, xcb_window_t w) { x.SetBytes(w, to, x.Atom(type), bytes); };
}
Change Card(const char* property, uint32_t value, const char* type = "CARDINAL") {
  return [=](Client& x, xcb_window_t w) { x.SetCardinals(w, property, x.Atom(type), {value, 0}); };
}
Change Net(std::string kind, std::vector<std::string> names) {  // _NET_WM_STATE and _TYPE
  for (auto& n : names) n = "_NET_WM_" + kind + "_" + n;
  return [=](Client& x, xcb_window_t w) { x.SetAtoms(w, "_NET_WM_" + kind, names); };
}
const auto Class = [](std::string name) { return Bytes("t\0"s + name + '\0'); };
const Change kOwnPid = Card("_NET_WM_PID", getpid());
const Change kNoneThenDock = [](Client& x, xcb_window_t w) {
  x.SetCardinals(w, "_NET_WM_WINDOW_TYPE", XCB_ATOM_ATOM, {0, x.Atom("_NET_WM_WINDOW_TYPE_DOCK")});
};

// The user's data folder for each HOME and XDG_DATA_HOME (nullptr: unset).
TEST(DataHome, Fallbacks) {
  test::World world;
  const std::string pw = getpwuid(getuid())->pw_dir + "/.local/share;"s;
  std::string answers;
  for (auto [home, data] : std::vector<std::pair<const char*, const char*>>{
           {"/h", "/d"}, {"/h", "d"}, {"", nullptr}, {"h", nullptr}, {nullptr, nullptr}}) {
    home ? setenv("HOME", home, 1) : unsetenv("HOME");
    data ? setenv("XDG_DATA_HOME", data, 1) : unsetenv("XDG_DATA_HOME");
    answers += platform::desktop::DataFolders().front() + ";";
  }
  EXPECT_EQ(answers, "/d;/h/.local/share;" + pw + pw + pw);
}

class X11 : public testing::Test {
 protected:
  void SetUp() override {
    alarm(120);                                  // a call that never returns fails the test
    setenv("XDG_DATA_HOME", "/nonexistent", 1);  // owners named by their class alone
    setenv("XDG_DATA_DIRS", "/nonexistent", 1);
  }
  std::string OnScreen() { return Of(list_->OnScreenWindows()); }
  xtest::Xvfb server_;
  Client x_;
  std::unique_ptr<platform::WindowList> list_ = platform::NewX11WindowList();
};

TEST_F(X11, WindowsNamedAndShown) {
  // clang-format off
  for (const std::vector<Change>& changes : std::vector<std::vector<Change>>{
      {Class("Shown"), Card("WM_STATE", 1, "WM_STATE"), Net("STATE", {"ABOVE"}),
       Net("WINDOW_TYPE", {"NORMAL"}), Card("_NET_WM_DESKTOP", 1)},
      {Class("Unmapped"), &Client::Unmap}, {Class("Iconic"), Card("WM_STATE", 3, "WM_STATE")},
      {Class("Hidden"), Net("STATE", {"HIDDEN"})}, {Class("Away"), Card("_NET_WM_DESKTOP", 0)},
      {Class("Dock"), kNoneThenDock}, {Bytes("solo\0\0"s)}, {Bytes("c\0Caf\xe9\0"s)},
      {Bytes("m\0穆仙\0"s, "UTF8_STRING")}, {Bytes("l\0"s + std::string(40000, 'x'))}, {kOwnPid},
      {Class("Own"), kOwnPid}, {Bytes("p\0p.exe\0"s), kOwnPid}, {Card("_NET_WM_PID", ~9u)},
      {kOwnPid, Bytes("far", "STRING", XCB_ATOM_WM_CLIENT_MACHINE)}}) {
    // clang-format on
    xcb_window_t w = x_.Map(x_.Create());
    for (const Change& change : changes) change(x_, w);
  }
  x_.SetCardinals(x_.root(), "_NET_CURRENT_DESKTOP", XCB_ATOM_CARDINAL, {1});
  x_.Sync();
  const std::string named = "-,-,p.exe*,Own*,windows_tests*,-,穆仙,Café,solo,";
  EXPECT_EQ(OnScreen(), named + "Away,Shown");  // desktops count only while their manager lives
  EXPECT_EQ(Of(list_->AllWindows()), named + "Dock,Away,Hidden,Iconic,Unmapped,Shown");
  Manager(x_, x_.Create(), {});
  EXPECT_EQ(OnScreen(), named + "Shown");
}

// The server's stacking, a frame named by its client below; a live manager's
// list, read from its top: each window once, no root, none gone or too far back.
TEST_F(X11, StackingByServerOrManager) {
  xcb_window_t a = x_.App("A"), b = x_.App("B"), gone = x_.App("Gone");
  x_.App("Hidden", false);
  x_.Destroy(gone);
  xcb_window_t frame = x_.Create(), client = frame;
  x_.Map(x_.Create(frame));  // decorations beside the client, one as deep as it
  for (int depth = 0; depth < 3; ++depth) {
    if (depth == 2) x_.Map(x_.Create(client));
    x_.Map(client = x_.Create(client));
  }
  for (const Change& change : {Card("WM_STATE", 1, "WM_STATE"), Class("C")}) change(x_, client);
  x_.Map(frame);
  EXPECT_EQ(OnScreen(), "C,B,A");
  std::vector<uint32_t> list{b};                                       // bottom to top
  for (uint32_t i = 0; i < 5000; ++i) list.push_back(0x7F000000 + i);  // no client's ids
  list.insert(list.end(), {client, a, x_.root(), a, gone, 0});
  Class("Root")(x_, x_.root());
  x_.SetCardinals(x_.root(), "_NET_CLIENT_LIST_STACKING", XCB_ATOM_WINDOW, list);
  xcb_window_t check = x_.Create();
  Manager(x_, check, {"_NET_CLIENT_LIST_STACKING"});
  EXPECT_EQ(OnScreen(), "A,C");
  EXPECT_EQ(Of(list_->AllWindows()), "-,C,Hidden,B,A");
  Manager(x_, check, {"_NET_WM_STATE"});
  EXPECT_EQ(OnScreen(), "C,B,A");
  Manager(x_, check, {"_NET_CLIENT_LIST_STACKING"});
  x_.Destroy(check);
  EXPECT_EQ(OnScreen(), "C,B,A");
}

// A server held by another's grab or gone while greeted counts as none; no server, no windows.
TEST_F(X11, StalledOrNoServer) {
  platform::SetEnvForTesting(nullptr);
  x_.App("Adobe Illustrator", false);
  auto present = [] { return WindowsHelper::EnumWindowsCheckAppNameExist("Illustrator").dump(); };
  std::string answers = present();
  auto grabber = std::make_unique<Client>();
  grabber->Grab();
  answers += WindowsHelper::EnumWindows().dump() + present();
  grabber.reset();
  answers += present();
  g_sendError = EPIPE;  // gone while being greeted: no retries
  answers += present();
  g_sendError = 0;
  EXPECT_EQ(answers, R"({"choseAppName":"Illustrator"}{}{}{"choseAppName":"Illustrator"}{})");
  for (const char* display : {"", ":31999", "nonsense"}) {
    setenv("DISPLAY", display, 1);
    EXPECT_EQ(OnScreen(), "") << display;
  }
}

TEST_F(X11, InterruptedCallsAreRetried) {
  x_.App("P");
  test::World world;
  std::filesystem::create_directories(world.Path("data/applications"));
  std::string answers = OnScreen();  // named by its entry from the next walk on
  test::WriteFile(world.Path("data/applications/t.desktop"), kApp + "StartupWMClass=P\nName=Shop");
  test::WriteFile(world.Path("p.exe"), kPs);
  setenv("DISPLAY", ("unix"s + getenv("DISPLAY")).c_str(), 1);
  g_interrupting = true;
  answers += OnScreen() + CheckSoftwareIsInstalled("t");
  auto pe = platform::pe::ReadVersionNamesOfFile(world.Path("p.exe"));
  g_interrupting = false;
  EXPECT_EQ(answers + (pe ? pe->productName.value_or("-") : "none"), "PShop1Adobe Photoshop");
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Host, Answer, testing::Values(
    Row{"BehindOther", Front({"Finder", "Adobe Photoshop", "Word"}), "Photoshop,"},
    Row{"StackingBeatsRuleOrder", Front({"Microsoft Word", "Adobe Illustrator"}), "Word,"},
    Row{"RuleOrderInOneName", Front({"Word Photoshop"}), "Photoshop,"},
    Row{"XDOnlyByEquality", Front({"Adobe XD", "Keynote"}), "Keynote,"},
    Row{"OwnElectronCallerSkipped", Front({"*F", "kelvra-x", "Electron", "Safari"}), "-,Safari"},
    Row{"FirstUnsupportedKept", Front({nullptr, "", "photoshop", "Safari"}), "-,photoshop"},
    Row{"FirstPresent", Front({0, "F", "Adobe Illustrator", "Adobe Photoshop"}, 1, "Adobe"),
        R"({"choseAppName":"Illustrator"})"},
    Row{"BadNameFailsAtAnOwner", Front({"Adobe Photoshop"}, true), R"({"choseAppName":""})"},
    Row{"AskedNameMustMatch", Front({"Adobe Photoshop"}, true, "Illustrator"), "{}"}), kRowName);
INSTANTIATE_TEST_SUITE_P(Installed, Answer, testing::Values(
    Row{"FoldersAndDashes", Installed({{"data/a", "# c\n\n" + kApp}, {"rel/b", kApp},
        {"sys2/c", kApp}, {"sys2/d/e-f/g", kApp}}, {"a", "b", "c", "d-e-f-g"}), "1011"},
    Row{"LoopsAndClimbingEnd", Installed({{"sys1/x", "->."}, {"sys1/t", kApp}, {"sys1/../x", kApp}},
        {"x-x-x-t", "../x", "..-x", "", nullptr}), "00000"},
    Row{"HiddenOrBrokenMasksLater", Installed({{"data/h", kApp + " Hidden = true"},
        {"sys1/h", kApp}, {"data/b", "Type=App"}, {"sys1/b", kApp}}, {"h", "b"}), "00"},
    Row{"Parsing", Installed({{"sys1/a", "[A]\n" + kApp}, {"sys1/b", kApp + "\0"s},
        {"sys1/c", kApp + "X=\xff"}, {"sys1/d", "[Desktop Entry]\nType=Link"},
        {"sys1/e", kApp + "[Action]\nHidden=true"}}, {"a", "b", "c", "d", "e"}), "00001"},
    Row{"TryExec", Installed({{"sys1/a", kApp + "TryExec=sh"}, {"sys1/b", kApp + "TryExec=/bin/sh"},
        {"sys1/c", kApp + "TryExec=/etc/passwd"}}, {"a", "b", "c"}), "110"}), kRowName);
const std::string kTool = "$/.wine/drive_c/apps/Tool.exe", kMap = "7f-8f r-xp 0 8:1 9    ";
INSTANTIATE_TEST_SUITE_P(Wine, Answer, testing::Values(
    Row{"InPrefix", Process("C:\\APPS\\tool.exe;@c:\\Other.exe;@D:\\x.exe;@x.exe;@/bin/sh;@C:\\\xff.exe",
        "WINEPREFIXX=/no|WINEPREFIX=$/.wine|"), "Adobe Photoshop;Other;x;x;-;-;"},
    Row{"InHomeWine", Process("C:\\apps\\Tool.exe", "WINEPREFIX=.wine|HOME=$"), "Adobe Photoshop;"},
    Row{"InMaps", Process("C:\\..\\Tool.exe;@C:\\a\\nope.exe", "HOME=/no",
        kMap + "/lib/a.so\n" + kMap + kTool + "\n" + kMap + "$/b.exe (deleted)"),
        "Adobe Photoshop;Adobe Photoshop;"},
    Row{"InMapsByName", Process("C:\\b.exe", "", kMap + kTool + "\n" + kMap + "$/.wine/drive_c/B.exe"),
        "B;"},
    Row{"KnownUntilRestarted", Process("C:\\Other.exe;C:\\apps\\Tool.exe;@C:\\apps\\Tool.exe",
        "WINEPREFIX=$/.wine"), "Other;Other;Adobe Photoshop;"}), kRowName);
INSTANTIATE_TEST_SUITE_P(VersionResource, Answer, testing::Values(
    Row{"BothTrimmed", Names(kPs), "Adobe Photoshop|Ed"},
    Row{"DescriptionOnly", Names(Image({String(u"FileDescription", u"D")})), "-|D"},
    Row{"Utf16", Names(Image({String(u"ProductName", u"é€\U0001F600\U00010000\xD800x\uE000")})),
        "é€😀𐀀\uFFFDx\uE000|-"},
    Row{"EnglishFirst", Names(petest::Image(petest::Version({{u"0407", {String(u"ProductName",
        u"B")}}, {u"040904b0", {String(u"ProductName", u"E")}}}))), "E|-"},
    Row{"NotMz", Broken(0, 'M' | 'X' << 8), "none"}, Row{"FewFolders", Broken(0xC4, 2), "none"},
    Row{"NoVersionType", Broken(0x210, 3), "none"},
    Row{"LoopingFolders", Broken(0x214, 0x80000000), "none"},
    // Address 0 means no resources, even where a section starts there.
    Row{"NoResourceAddress", [] {
      std::string image = kPs;
      for (uint32_t at : {0xD8, 0x154, 0x248}) petest::Put(image, at, at == 0x248 ? 0x60 : 0);
      return Names(image)();
    }, "none"}), kRowName);
// clang-format on

}  // namespace
}  // namespace vrk

#define VRK_INTERRUPTED(type, name, params, ...)                    \
  type __real_##name params;                                        \
  type __wrap_##name params {                                       \
    thread_local bool flip = false;                                 \
    if (g_interrupting && (flip = !flip)) return errno = EINTR, -1; \
    return __real_##name(__VA_ARGS__);                              \
  }
extern "C" {
VRK_INTERRUPTED(int, poll, (pollfd * f, nfds_t n, int t), f, n, t)
VRK_INTERRUPTED(ssize_t, recv, (int fd, void* b, size_t n, int f), fd, b, n, f)
VRK_INTERRUPTED(ssize_t, read, (int fd, void* b, size_t n), fd, b, n)
VRK_INTERRUPTED(ssize_t, pread, (int fd, void* b, size_t n, off_t at), fd, b, n, at)
ssize_t __real_send(int fd, const void* b, size_t n, int f);
ssize_t __wrap_send(int fd, const void* b, size_t n, int f) {
  thread_local int refused = 0;
  // A caller retrying anyway ends after a while, and then is seen connected.
  if (g_sendError != 0 && refused++ < 100) return errno = g_sendError, -1;
  return __real_send(fd, b, n, f);
}
}
