// SPDX-License-Identifier: MIT
// Host detection and presence, installed applications and the names of the
// windows' owners: over an in-memory list, in private XDG folders and /proc,
// and on a private Xvfb.
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>

#include <atomic>
#include <filesystem>
#include <functional>

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

namespace vrk {

// While set, every other call of the wrapped system calls fails with EINTR, as
// a signal would make it (the executable links with --wrap).
std::atomic<bool> g_interrupting{false};
bool Interrupt() {
  thread_local bool flip = false;
  if (!g_interrupting || !(flip = !flip)) return false;
  errno = EINTR;
  return true;
}

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using petest::String;
using platform::WindowInfo;
using xtest::Client;
using Files = std::vector<std::pair<std::string, std::string>>;
using Change = std::function<void(Client&, xcb_window_t)>;

// One answer of the library, as text, against the one expected.
struct Row {
  const char* name;
  std::function<std::string()> answer;
  std::string expected;
};
class Answer : public testing::TestWithParam<Row> {};
TEST_P(Answer, IsExpected) {
  EXPECT_EQ(GetParam().answer(), GetParam().expected);
}
const auto kRowName = [](const auto& info) { return std::string(info.param.name); };

// Owners frontmost first: nullptr has none, a leading '*' marks the caller's own.
std::vector<WindowInfo> L(std::initializer_list<const char*> owners) {
  std::vector<WindowInfo> list;
  for (const char* o : owners)
    list.push_back(o ? WindowInfo{o + (*o == '*'), *o == '*'} : WindowInfo{});
  return list;
}
std::string Key(const Json& j, const char* key) {
  return j.contains(key) ? j[key].get<std::string>() : "-";
}
// The frontmost host, then the unsupported application: "-" for no such key.
std::function<std::string()> Front(std::vector<WindowInfo> windows, const char* identity = "") {
  return [=] {
    test::ScopedFakeEnv env;
    env->windows.onScreen = windows;
    GlobalHelper::SetAppName(TextFromC(identity));
    Json j = WindowsHelper::EnumWindows();
    return Key(j, "choseAppName") + "," + Key(j, "unsupportedAppNames");
  };
}
std::function<std::string()> Present(std::vector<WindowInfo> windows, const char* asked) {
  return [=] {
    test::ScopedFakeEnv env;
    env->windows.all = windows;
    return Key(WindowsHelper::EnumWindowsCheckAppNameExist(asked), "choseAppName");
  };
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Host, Answer, testing::Values(
    Row{"BehindOther", Front(L({"Finder", "Adobe Photoshop", "Word"})), "Photoshop,"},
    Row{"StackingBeatsRuleOrder", Front(L({"Microsoft Word", "Adobe Illustrator"})), "Word,"},
    Row{"RuleOrderInOneName", Front(L({"Word Photoshop"})), "Photoshop,"},
    Row{"XDOnlyByEquality", Front(L({"Adobe XD", "XD"})), "AdobeXD,"},
    Row{"FirstUnsupportedKept", Front(L({nullptr, "photoshop", "Safari"})), "-,photoshop"},
    Row{"OwnElectronCallerSkipped", Front(L({"*F", "kelvra-x", "My Electron", "Safari"})), "-,Safari"},
    Row{"OwnNameByIdentity", Front(L({"穆仙", "kelvra"}), "MuXan"), "-,kelvra"},
    Row{"EmptyNameGivesWay", Front({WindowInfo{""}, WindowInfo{"Finder"}}), "-,Finder"},
    Row{"FirstPresent", Present(L({nullptr, "Finder", "Adobe Illustrator", "Adobe Photoshop"}), "Adobe"),
        "Illustrator"},
    Row{"AskedNameMustMatch", Present(L({"Adobe Photoshop"}), "Illustrator"), "-"},
    Row{"BadNameFailsAtAnOwner", Present(L({"Adobe Photoshop"}), nullptr), ""}), kRowName);
// clang-format on

// Files under the world's root; content "->x" makes a link to x.
void Plant(const test::World& world, const Files& files) {
  for (const auto& [path, content] : files) {
    fs::create_directories(fs::path(world.Path(path)).parent_path());
    if (content.starts_with("->")) fs::create_symlink(content.substr(2), world.Path(path));
    if (!content.starts_with("->")) test::WriteFile(world.Path(path), content);
  }
}
// An application entry with these keys in the applications folder of `data`.
std::pair<std::string, std::string> T(std::string data, std::string keys = "",
                                      std::string id = "t") {
  return {data + "/applications/" + id + ".desktop", "[Desktop Entry]\nType=Application\n" + keys};
}
// Whether installed, with entries in data (XDG_DATA_HOME), sys1 and sys2 (XDG_DATA_DIRS).
std::function<std::string()> Installed(Files files, const char* id) {
  return [=] {
    test::World world;
    setenv("XDG_DATA_DIRS", (world.Path("sys1") + ":rel:" + world.Path("sys2")).c_str(), 1);
    EXPECT_EQ(chdir(world.root().c_str()), 0);  // where the relative folder "rel" would be
    Plant(world, files);
    std::string answer = CheckSoftwareIsInstalled(id);
    return chdir("/") == 0 ? answer : "no way back";
  };
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Installed, Answer, testing::Values(
    Row{"DataHome", Installed({{T("data").first, "# c\n\n" + T("").second}}, "t"), "1"},
    Row{"RelativeDataDir", Installed({T("rel")}, "t"), "0"},
    Row{"DashesAsFolders", Installed({T("sys2", "", "a/b-c/d")}, "a-b-c-d"), "1"},
    Row{"FolderLoopEnds", Installed({{"sys1/applications/x", "->."}, T("sys1")}, "x-x-x-t"), "0"},
    Row{"HiddenMasksLater", Installed({T("data", " Hidden = true"), T("sys1")}, "t"), "0"},
    Row{"BrokenMasksLater", Installed({{T("data").first, "Type=Application"}, T("sys1")}, "t"), "0"},
    Row{"HiddenInOtherGroup", Installed({T("sys1", "[Desktop Action a]\nHidden=true")}, "t"), "1"},
    Row{"MainGroupNotFirst", Installed({{T("sys1").first, "[A]\n" + T("").second}}, "t"), "0"},
    Row{"NotApplication", Installed({{T("sys1").first, "[Desktop Entry]\nType=Link"}}, "t"), "0"},
    Row{"NulByte", Installed({T("sys1", "\0"s)}, "t"), "0"},
    Row{"NotUtf8", Installed({T("sys1", "X=\xff")}, "t"), "0"},
    Row{"TryExecInPath", Installed({T("sys1", "TryExec=sh")}, "t"), "1"},
    Row{"TryExecAbsolute", Installed({T("sys1", "TryExec=/bin/sh")}, "t"), "1"},
    Row{"TryExecNotExecutable", Installed({T("sys1", "TryExec=/etc/passwd")}, "t"), "0"},
    Row{"TryExecRelative", Installed({T("sys1", "TryExec=../../../../../../../../bin/sh")}, "t"), "0"},
    Row{"EmptyId", Installed({T("sys1", "", "")}, ""), "0"},
    Row{"NullId", Installed({}, nullptr), "0"},
    Row{"NoClimbingBySlash", Installed({T("sys1", "", "../x")}, "../x"), "0"},
    Row{"NoClimbingByDash", Installed({T("sys1", "", "../x")}, "..-x"), "0"}), kRowName);
// clang-format on

// The user's data folder: XDG_DATA_HOME when absolute, else under HOME when
// absolute, else under the password entry's home (nullptr: unset).
std::function<std::string()> DataHome(const char* home, const char* data) {
  return [=] {
    test::World world;
    home ? setenv("HOME", home, 1) : unsetenv("HOME");
    data ? setenv("XDG_DATA_HOME", data, 1) : unsetenv("XDG_DATA_HOME");
    return platform::desktop::DataFolders().front();
  };
}
const std::string kPw = getpwuid(getuid())->pw_dir + "/.local/share"s;

// clang-format off
INSTANTIATE_TEST_SUITE_P(DataHome, Answer, testing::Values(
    Row{"Absolute", DataHome("/h", "/d"), "/d"},
    Row{"RelativeUnderHome", DataHome("/h", "d"), "/h/.local/share"},
    Row{"EmptyHome", DataHome("", nullptr), kPw},
    Row{"RelativeHome", DataHome("h", nullptr), kPw},
    Row{"NoHome", DataHome(nullptr, nullptr), kPw}), kRowName);
// clang-format on

// Native windows by their desktop entries: StartupWMClass before the ID, the
// class before the instance, the first entry with an ID hiding later ones;
// the table follows the folders.
TEST(DesktopNames, NameApplicationsByClassOrId) {
  test::World world;
  Plant(world, {T("sysdata", "Name=Ink", "org.ink"),
                T("sysdata", "Name=G\nStartupWMClass=g-2", "gimp"),
                T("sysdata", "Name=Id", "s"),
                T("sysdata", "Name=Gone\nHidden=true", "h"),
                T("sysdata", "Name=Masked", "m"),
                {T("data", "", "m").first, "[Desktop Entry]\nType=Link"}});
  platform::OwnerNamer namer;
  EXPECT_EQ(namer.FromClass("x", "org.ink"), "Ink");
  EXPECT_EQ(namer.FromClass("g-2", "s"), "G");
  EXPECT_EQ(namer.FromClass("h", "m"), "m");
  EXPECT_EQ(namer.FromClass("solo", ""), "solo");
  EXPECT_EQ(namer.FromClass("", ""), std::nullopt);
  Plant(world, {T("sysdata", "Name=Later", "later")});
  const std::string apps = world.Path("sysdata/applications");
  fs::last_write_time(apps, fs::last_write_time(apps) + std::chrono::hours(1));
  EXPECT_EQ(platform::OwnerNamer().FromClass("later", "L"), "Later");
  setenv("XDG_DATA_DIRS", world.Path("data").c_str(), 1);
  EXPECT_EQ(platform::OwnerNamer().FromClass("later", "L"), "L");
}

// Strings in one table of the given language, and then maybe in an English one.
std::string Image(std::vector<std::string> strings, const char16_t* language = u"040904b0",
                  std::vector<std::string> english = {}) {
  std::vector<std::pair<std::u16string, std::vector<std::string>>> tables{{language, strings}};
  if (!english.empty()) tables.push_back({u"040904b0", english});
  return petest::Image(petest::Version(tables));
}
const std::string kPs = Image({String(u"CompanyName", u"A"), String(u"FileDescription", u" Ed\t"),
                               String(u"ProductName", u"Adobe Photoshop")});
std::string Broken(size_t at, uint32_t value) {
  std::string image = kPs;
  petest::Put(image, at, value);
  return image;
}
// "product|description", "-" for one missing; "none" when refused.
std::function<std::string()> Names(std::string file) {
  return [=] {
    auto n = platform::pe::ReadVersionNames(file);
    return n ? n->productName.value_or("-") + "|" + n->fileDescription.value_or("-") : "none";
  };
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(VersionResource, Answer, testing::Values(
    Row{"BothTrimmed", Names(kPs), "Adobe Photoshop|Ed"},
    Row{"DescriptionOnly", Names(Image({String(u"FileDescription", u"D")})), "-|D"},
    Row{"BlankIsNone", Names(Image({String(u"ProductName", u" \t")})), "none"},
    Row{"Utf16", Names(Image({String(u"ProductName", u"é€\U0001F600\xD800x")})), "é€😀\uFFFDx|-"},
    Row{"EnglishFirst", Names(Image({String(u"ProductName", u"B")}, u"0407",
                                    {String(u"ProductName", u"E")})), "E|-"},
    Row{"NotMZ", Names(Broken(0, 'M' | 'X' << 8)), "none"},
    Row{"TooFewDirectories", Names(Broken(0xC4, 2)), "none"},
    Row{"NoVersionType", Names(Broken(0x210, 3)), "none"},
    Row{"DirectoryLoopsToRoot", Names(Broken(0x214, 0x80000000)), "none"}), kRowName);
// clang-format on

// A process as Wine leaves it: the command line is the Windows path, the prefix
// is in the environment ("@" standing for the root), the program maybe mapped.
std::function<std::string()> Wine(std::string cmdline, std::vector<std::string> mapped,
                                  std::string environ) {
  return [=] {
    test::World world;
    std::string in = "prefix/drive_c/Program Files/Adobe/", env = environ, maps;
    for (size_t at; (at = env.find('@')) != std::string::npos;) env.replace(at, 1, world.root());
    for (const std::string& file : mapped)
      maps += "0-1 r--p 0 08:01 2 " + world.Path(in + file) + "\n";
    // clang-format off
    Plant(world, {{in + "Ps.exe", kPs}, {in + "Plain.exe", "MZ"}, {"prefix/dosdevices/c:", "->../drive_c"},
                  {"home/.wine", "->../prefix"}, {"proc/42/cmdline", cmdline}, {"proc/42/environ", env},
                  {"proc/42/maps", "0-1 r--p 0 08:01 1 /usr/bin/wine64-preloader\n" + maps}});
    // clang-format on
    platform::OwnerNamer namer(world.Path("proc"));
    return namer.FromProcess(43) ? "?" : namer.FromProcess(42).value_or("-");
  };
}
const std::string kPath = "C:\\Program Files\\Adobe\\Ps.exe\0\0\0"s;
const std::string kPrefix = "A=1\0WINEPREFIX=@/prefix\0"s;

// clang-format off
INSTANTIATE_TEST_SUITE_P(WineProcess, Answer, testing::Values(
    Row{"MappedByName", Wine(kPath, {"Plain.exe", "Ps.exe"}, ""), "Adobe Photoshop"},
    Row{"OnlyMappedProgram", Wine("C:\\x\\start.exe", {"Ps.exe"}, ""), "Adobe Photoshop"},
    Row{"InPrefixAnyCase", Wine("c:\\PROGRAM FILES\\adobe\\ps.EXE\0-x"s, {}, kPrefix), "Adobe Photoshop"},
    Row{"DefaultPrefix", Wine(kPath, {}, "HOME=@/home\0"s), "Adobe Photoshop"},
    Row{"RelativePrefix", Wine(kPath, {}, "WINEPREFIX=prefix\0"s), "Ps"},
    Row{"NoVersionResource", Wine("C:\\Program Files\\Adobe\\Plain.exe", {}, kPrefix), "Plain"},
    Row{"NoClimbing", Wine("C:\\..\\..\\prefix\\drive_c\\Program Files\\Adobe\\Ps.exe", {}, kPrefix), "Ps"},
    Row{"NativeProgram", Wine("/usr/bin/gedit\0--new\0"s, {"Ps.exe"}, kPrefix), "-"}), kRowName);
// clang-format on

// Owner names, "*" marking the caller's own windows.
std::string Of(const std::vector<WindowInfo>& windows) {
  std::string names;
  for (const auto& w : windows) {
    names += (names.empty() ? "" : ",") + w.ownerName.value_or("-") + (w.caller ? "*" : "");
  }
  return names;
}
// Each X test on its own server; one that never returns fails.
void PrivateServer() {
  alarm(120);
  setenv("XDG_DATA_HOME", "/nonexistent", 1);  // owners named by their class alone
  setenv("XDG_DATA_DIRS", "/nonexistent", 1);
}
// A window manager, alive while its check window names itself.
void Manager(Client& x, xcb_window_t check, const std::vector<std::string>& supported) {
  for (xcb_window_t w : {check, x.root()}) {
    x.SetCardinals(w, "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW, {check});
  }
  x.SetAtoms(x.root(), "_NET_SUPPORTED", supported);
  x.Sync();
}
Change Text(xcb_atom_t property, std::string bytes, const char* type = "STRING") {
  return [=](Client& x, xcb_window_t w) { x.SetBytes(w, property, x.Atom(type), bytes); };
}
Change Card(const char* property, uint32_t value, const char* type = "CARDINAL") {
  return [=](Client& x, xcb_window_t w) { x.SetCardinals(w, property, x.Atom(type), {value, 0}); };
}
Change Net(std::string kind, std::vector<std::string> names) {  // _NET_WM_STATE and _TYPE
  for (auto& n : names) n = "_NET_WM_" + kind + "_" + n;
  return [=](Client& x, xcb_window_t w) { x.SetAtoms(w, "_NET_WM_" + kind, names); };
}
// The current desktop, while a manager lives (its check window inside this
// window, so the stack stays as it is) or after it has gone.
Change Current(uint32_t desktop, bool live) {
  return [=](Client& x, xcb_window_t w) {
    if (live) Manager(x, x.Create(w), {});
    x.SetCardinals(x.root(), "_NET_CURRENT_DESKTOP", XCB_ATOM_CARDINAL, {desktop});
  };
}
Change Do(void (Client::*call)(xcb_window_t)) {
  return [=](Client& x, xcb_window_t w) { (x.*call)(w); };
}
// A mapped window after the changes, as "on screen|among all windows".
std::function<std::string()> Window(std::vector<Change> changes) {
  return [=] {
    PrivateServer();
    xtest::Xvfb server;
    Client x;
    xcb_window_t w = x.Create();
    x.Map(w);
    for (const Change& change : changes) change(x, w);
    x.Sync();
    auto list = platform::NewX11WindowList();
    return Of(list->OnScreenWindows()) + "|" + Of(list->AllWindows());
  };
}
const Change kT = Text(XCB_ATOM_WM_CLASS, "t\0T\0"s);
const uint32_t kSelf = getpid();
const Change kOwnPid = Card("_NET_WM_PID", kSelf);

// clang-format off
INSTANTIATE_TEST_SUITE_P(X11Window, Answer, testing::Values(
    Row{"Shown", Window({kT, Card("WM_STATE", 1, "WM_STATE"), Net("STATE", {"ABOVE"}),
                         Net("WINDOW_TYPE", {"NORMAL"}), Card("_NET_WM_DESKTOP", 1), Current(1, true)}),
        "T|T"},
    Row{"Unmapped", Window({kT, Do(&Client::Unmap)}), "|T"},
    Row{"OverrideRedirect", Window({kT, Do(&Client::SetOverrideRedirect)}), "|T"},
    Row{"Iconic", Window({kT, Card("WM_STATE", 3, "WM_STATE")}), "|T"},
    Row{"Hidden", Window({kT, Net("STATE", {"ABOVE", "HIDDEN"})}), "|T"},
    Row{"Dock", Window({kT, Net("WINDOW_TYPE", {"DOCK"})}), "|T"},
    Row{"Desktop", Window({kT, Net("WINDOW_TYPE", {"NORMAL", "DESKTOP"})}), "|T"},
    Row{"OtherDesktop", Window({kT, Card("_NET_WM_DESKTOP", 0), Current(1, true)}), "|T"},
    Row{"AllDesktops", Window({kT, Card("_NET_WM_DESKTOP", ~0u), Current(1, true)}), "T|T"},
    Row{"DesktopOfGoneManager", Window({kT, Card("_NET_WM_DESKTOP", 0), Current(1, false)}), "T|T"},
    Row{"InstanceAlone", Window({Text(XCB_ATOM_WM_CLASS, "solo\0\0"s)}), "solo|solo"},
    Row{"Utf8", Window({Text(XCB_ATOM_WM_CLASS, "m\0穆仙\0"s, "UTF8_STRING")}), "穆仙|穆仙"},
    Row{"Latin1", Window({Text(XCB_ATOM_WM_CLASS, "c\0Caf\xe9\0"s)}), "Café|Café"},
    Row{"OverlongClass", Window({Text(XCB_ATOM_WM_CLASS, "l\0"s + std::string(40000, 'x'))}), "-|-"},
    Row{"ClassBeatsProcess", Window({kT, kOwnPid}), "T*|T*"},
    Row{"WineClassOfNoWine", Window({Text(XCB_ATOM_WM_CLASS, "p\0p.exe\0"s), kOwnPid}), "p.exe*|p.exe*"},
    Row{"ProcessExecutable", Window({kOwnPid}), "windows_tests*|windows_tests*"},
    Row{"ProcessElsewhere", Window({kOwnPid, Text(XCB_ATOM_WM_CLIENT_MACHINE, "far.example")}), "-|-"},
    Row{"ProcessGone", Window({Card("_NET_WM_PID", 0x3FFFFFF0)}), "-|-"}), kRowName);
// clang-format on

class X11 : public testing::Test {
 protected:
  void SetUp() override { PrivateServer(); }
  std::string OnScreen() { return Of(list_->OnScreenWindows()); }
  xtest::Xvfb server_;
  Client x_;
  std::unique_ptr<platform::WindowList> list_ = platform::NewX11WindowList();
};

// Without a manager, the server's stacking, and a frame's client is the window
// below it that carries WM_STATE, however deep. A live manager's list counts
// once it keeps one: read from its top however broken, each window once, no
// root, no window gone or too far back.
TEST_F(X11, StackingByServerOrManager) {
  xcb_window_t a = x_.App("A"), b = x_.App("B"), gone = x_.App("Gone");
  x_.Unmap(x_.App("Hidden"));
  x_.Destroy(gone);
  xcb_window_t c = x_.Create(), client = c;
  x_.Map(x_.Create(c));  // a decoration beside the client
  for (int depth = 0; depth < 3; ++depth) x_.Map(client = x_.Create(client));
  Card("WM_STATE", 1, "WM_STATE")(x_, client);
  x_.SetClass(client, "c", "C");
  x_.Map(c);
  x_.Raise(a);
  EXPECT_EQ(OnScreen(), "A,C,B");
  std::vector<uint32_t> list{b};                                       // bottom to top
  for (uint32_t i = 0; i < 5000; ++i) list.push_back(0x7F000000 + i);  // no client's ids
  list.insert(list.end(), {client, a, x_.root(), a, gone, 0});
  x_.SetClass(x_.root(), "root", "Root");
  x_.SetCardinals(x_.root(), "_NET_CLIENT_LIST_STACKING", XCB_ATOM_WINDOW, list);
  xcb_window_t check = x_.Create();
  Manager(x_, check, {"_NET_CLIENT_LIST_STACKING"});
  EXPECT_EQ(OnScreen(), "A,C");
  EXPECT_EQ(Of(list_->AllWindows()), "-,A,C,Hidden,B");
  Manager(x_, check, {"_NET_WM_STATE"});
  EXPECT_EQ(OnScreen(), "A,C,B");
  Manager(x_, check, {"_NET_CLIENT_LIST_STACKING"});
  x_.Destroy(check);
  EXPECT_EQ(OnScreen(), "A,C,B");
}

// The caller's own windows, whatever their class, are never the unsupported
// application; another process's window of that class is. A server stopped,
// or held by another client's grab, counts as none; no server, no windows.
TEST_F(X11, CallerWindowsStallsAndNoServer) {
  platform::SetEnvForTesting(nullptr);
  GlobalHelper::SetAppName(std::string("Other"));
  x_.App("Adobe Illustrator", false);
  for (uint32_t pid : {1u, kSelf})
    Card("_NET_WM_PID", pid)(x_, x_.App(pid == 1 ? "Finder" : "Kelvra"));
  x_.Sync();
  EXPECT_EQ(Key(WindowsHelper::EnumWindows(), "unsupportedAppNames"), "Finder");
  Card("_NET_WM_PID", 1)(x_, x_.App("Kelvra"));
  x_.Sync();
  EXPECT_EQ(Key(WindowsHelper::EnumWindows(), "unsupportedAppNames"), "Kelvra");
  const Json present = Json::parse(R"({"choseAppName": "Illustrator"})");
  EXPECT_EQ(WindowsHelper::EnumWindowsCheckAppNameExist("Illustrator"), present);
  for (bool grab : {false, true}) {
    std::unique_ptr<Client> grabber = grab ? std::make_unique<Client>() : nullptr;
    grab ? grabber->Grab() : server_.Pause();
    EXPECT_EQ(WindowsHelper::EnumWindows(), Json::object());
    EXPECT_EQ(WindowsHelper::EnumWindowsCheckAppNameExist("Illustrator"), Json::object());
    grab ? grabber.reset() : server_.Resume();
    EXPECT_EQ(WindowsHelper::EnumWindowsCheckAppNameExist("Illustrator"), present);
  }
  for (const char* display : {"", ":31999", "unix:31999", "localhost:31999", "nonsense"}) {
    setenv("DISPLAY", display, 1);
    EXPECT_EQ(OnScreen(), "") << display;
  }
}

TEST_F(X11, InterruptedCallsAreRetried) {
  x_.App("Adobe Photoshop");
  test::World world;
  Plant(world, {T("data"), {"p.exe", kPs}});
  setenv("DISPLAY", ("unix"s + getenv("DISPLAY")).c_str(), 1);
  g_interrupting = true;
  std::string names = OnScreen(), installed = CheckSoftwareIsInstalled("t");
  auto pe = platform::pe::ReadVersionNamesOfFile(world.Path("p.exe"));
  g_interrupting = false;
  EXPECT_EQ(names, "Adobe Photoshop");
  EXPECT_EQ(installed, "1");
  EXPECT_EQ(pe ? pe->productName : std::nullopt, "Adobe Photoshop");
}

}  // namespace
}  // namespace vrk

#define VRK_INTERRUPTED(type, name, params, ...)               \
  type __real_##name params;                                   \
  type __wrap_##name params {                                  \
    return vrk::Interrupt() ? -1 : __real_##name(__VA_ARGS__); \
  }
extern "C" {
VRK_INTERRUPTED(int, poll, (pollfd * f, nfds_t n, int t), f, n, t)
VRK_INTERRUPTED(ssize_t, recv, (int fd, void* b, size_t n, int f), fd, b, n, f)
VRK_INTERRUPTED(ssize_t, read, (int fd, void* b, size_t n), fd, b, n)
VRK_INTERRUPTED(ssize_t, pread, (int fd, void* b, size_t n, off_t at), fd, b, n, at)
}
