// SPDX-License-Identifier: MIT
// The window list against a private Xvfb, with windows built as applications
// and window managers leave them.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>

#include <atomic>
#include <functional>

#include "helper/GlobalHelper.h"
#include "helper/WindowsHelper.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/VersionResource.h"
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

using xtest::Client;
using Names = std::vector<std::string>;
using Change = std::function<void(Client&, xcb_window_t)>;
using namespace std::string_literals;

// A window manager, alive while its check window names itself.
void Manager(Client& x, xcb_window_t check, const std::vector<std::string>& supported) {
  for (xcb_window_t w : {check, x.root()}) {
    x.SetCardinals(w, "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW, {check});
  }
  x.SetAtoms(x.root(), "_NET_SUPPORTED", supported);
  x.Sync();
}

class X11 : public testing::Test {
 protected:
  void SetUp() override {
    alarm(120);                                  // a call that never returns fails the test
    setenv("XDG_DATA_HOME", "/nonexistent", 1);  // owners named by their class alone
    setenv("XDG_DATA_DIRS", "/nonexistent", 1);
    ASSERT_NO_THROW(server_ = std::make_unique<xtest::Xvfb>());
    x_ = std::make_unique<Client>();
  }
  // Owner names, "*" marking the caller's own windows.
  Names Of(const std::vector<platform::WindowInfo>& windows) {
    Names names;
    for (const auto& w : windows)
      names.push_back(w.ownerName.value_or("-") + (w.caller ? "*" : ""));
    return names;
  }
  Names OnScreen() { return Of(list_->OnScreenWindows()); }
  Names All() { return Of(list_->AllWindows()); }
  std::unique_ptr<xtest::Xvfb> server_;
  std::unique_ptr<Client> x_;
  std::unique_ptr<platform::WindowList> list_ = platform::NewX11WindowList();
};

Change Text(xcb_atom_t property, std::string bytes, const char* type = "STRING") {
  return [=](Client& x, xcb_window_t w) { x.SetBytes(w, property, x.Atom(type), bytes); };
}
Change Class(std::string bytes, const char* type = "STRING") {
  return Text(XCB_ATOM_WM_CLASS, bytes, type);
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
const Change kT = Class("t\0T\0"s);
const uint32_t kSelf = getpid();
const Change kOwnPid = Card("_NET_WM_PID", kSelf);

struct WindowRow {
  const char* name;
  std::vector<Change> changes;
  const char* owner;
  bool shown;
};
class X11Window : public X11, public testing::WithParamInterface<WindowRow> {};

// Whatever the changes to a mapped window, it stays among all windows.
TEST_P(X11Window, IsNamedAndShownOrNot) {
  xcb_window_t w = x_->Create();
  x_->Map(w);
  for (const Change& change : GetParam().changes) change(*x_, w);
  x_->Sync();
  EXPECT_EQ(OnScreen(), GetParam().shown ? Names{GetParam().owner} : Names{});
  EXPECT_EQ(All(), Names{GetParam().owner});
}

using W = WindowRow;
INSTANTIATE_TEST_SUITE_P(
    Table, X11Window,
    testing::Values(
        W{"Shown",
          {kT, Card("WM_STATE", 1, "WM_STATE"), Net("STATE", {"ABOVE"}),
           Net("WINDOW_TYPE", {"NORMAL"}), Card("_NET_WM_DESKTOP", 1), Current(1, true)},
          "T",
          1},
        W{"Unmapped", {kT, [](Client& x, xcb_window_t w) { x.Unmap(w); }}, "T", 0},
        W{"OverrideRedirect",
          {kT, [](Client& x, xcb_window_t w) { x.SetOverrideRedirect(w); }},
          "T",
          0},
        W{"Iconic", {kT, Card("WM_STATE", 3, "WM_STATE")}, "T", 0},
        W{"Hidden", {kT, Net("STATE", {"ABOVE", "HIDDEN"})}, "T", 0},
        W{"Dock", {kT, Net("WINDOW_TYPE", {"DOCK"})}, "T", 0},
        W{"Desktop", {kT, Net("WINDOW_TYPE", {"NORMAL", "DESKTOP"})}, "T", 0},
        W{"OtherDesktop", {kT, Card("_NET_WM_DESKTOP", 0), Current(1, true)}, "T", 0},
        W{"AllDesktops", {kT, Card("_NET_WM_DESKTOP", ~0u), Current(1, true)}, "T", 1},
        W{"DesktopOfGoneManager", {kT, Card("_NET_WM_DESKTOP", 0), Current(1, false)}, "T", 1},
        W{"InstanceAlone", {Class("solo\0\0"s)}, "solo", 1},
        W{"Utf8", {Class("m\0穆仙\0"s, "UTF8_STRING")}, "穆仙", 1},
        W{"Latin1", {Class("c\0Caf\xe9\0"s)}, "Café", 1},
        W{"OverlongClass", {Class("l\0"s + std::string(40000, 'x'))}, "-", 1},
        W{"ClassBeatsProcess", {kT, kOwnPid}, "T*", 1},
        W{"WineClassOfNoWine", {Class("p\0p.exe\0"s), kOwnPid}, "p.exe*", 1},
        W{"ProcessExecutable", {kOwnPid}, "windows_tests*", 1},
        W{"ProcessElsewhere", {kOwnPid, Text(XCB_ATOM_WM_CLIENT_MACHINE, "far.example")}, "-", 1},
        W{"ProcessGone", {Card("_NET_WM_PID", 0x3FFFFFF0)}, "-", 1}),
    [](const auto& info) { return std::string(info.param.name); });

// Without a manager, the server's stacking, and a frame's client is the window
// below it that carries WM_STATE, however deep. A live manager's list counts
// once it keeps one: read from its top however broken, each window once, no
// root, no window gone or too far back.
TEST_F(X11, StackingByServerOrManager) {
  xcb_window_t a = x_->App("A"), b = x_->App("B"), gone = x_->App("Gone");
  x_->Unmap(x_->App("Hidden"));
  x_->Destroy(gone);
  xcb_window_t c = x_->Create(), parent = c;
  x_->Map(x_->Create(c));  // a decoration beside the client
  for (int depth = 0; depth < 3; ++depth) x_->Map(parent = x_->Create(parent));
  Card("WM_STATE", 1, "WM_STATE")(*x_, parent);
  x_->SetClass(parent, "c", "C");
  x_->Map(c);
  x_->Raise(a);
  EXPECT_EQ(OnScreen(), (Names{"A", "C", "B"}));
  std::vector<uint32_t> list{b};                                       // bottom to top
  for (uint32_t i = 0; i < 5000; ++i) list.push_back(0x7F000000 + i);  // no client's ids
  list.insert(list.end(), {parent, a, x_->root(), a, gone, 0});
  x_->SetClass(x_->root(), "root", "Root");
  x_->SetCardinals(x_->root(), "_NET_CLIENT_LIST_STACKING", XCB_ATOM_WINDOW, list);
  xcb_window_t check = x_->Create();
  Manager(*x_, check, {"_NET_CLIENT_LIST_STACKING"});
  EXPECT_EQ(OnScreen(), (Names{"A", "C"}));
  EXPECT_EQ(All(), (Names{"-", "A", "C", "Hidden", "B"}));
  Manager(*x_, check, {"_NET_WM_STATE"});
  EXPECT_EQ(OnScreen(), (Names{"A", "C", "B"}));
  Manager(*x_, check, {"_NET_CLIENT_LIST_STACKING"});
  x_->Destroy(check);
  EXPECT_EQ(OnScreen(), (Names{"A", "C", "B"}));
}

// The caller's own windows, whatever their class, are never the unsupported
// application; another process's window of that class is. A server stopped,
// or held by another client's grab, counts as none; no server, no windows.
TEST_F(X11, CallerWindowsStallsAndNoServer) {
  platform::SetEnvForTesting(nullptr);
  GlobalHelper::SetAppName(std::string("Other"));
  x_->App("Adobe Illustrator", false);
  Card("_NET_WM_PID", 1)(*x_, x_->App("Finder"));
  kOwnPid(*x_, x_->App("Kelvra"));
  x_->Sync();
  EXPECT_EQ(WindowsHelper::EnumWindows(), Json::parse(R"({"unsupportedAppNames": "Finder"})"));
  Card("_NET_WM_PID", 1)(*x_, x_->App("Kelvra"));
  x_->Sync();
  EXPECT_EQ(WindowsHelper::EnumWindows(), Json::parse(R"({"unsupportedAppNames": "Kelvra"})"));
  const Json present = Json::parse(R"({"choseAppName": "Illustrator"})");
  EXPECT_EQ(WindowsHelper::EnumWindowsCheckAppNameExist("Illustrator"), present);
  for (bool grab : {false, true}) {
    std::unique_ptr<Client> grabber = grab ? std::make_unique<Client>() : nullptr;
    grab ? grabber->Grab() : server_->Pause();
    EXPECT_EQ(WindowsHelper::EnumWindows(), Json::object());
    EXPECT_EQ(WindowsHelper::EnumWindowsCheckAppNameExist("Illustrator"), Json::object());
    grab ? grabber.reset() : server_->Resume();
    EXPECT_EQ(WindowsHelper::EnumWindowsCheckAppNameExist("Illustrator"), present);
  }
  for (const char* display : {"", ":31999", "unix:31999", "localhost:31999", "nonsense"}) {
    setenv("DISPLAY", display, 1);
    EXPECT_TRUE(list_->OnScreenWindows().empty()) << display;
  }
}

TEST_F(X11, InterruptedCallsAreRetried) {
  x_->App("Adobe Photoshop");
  test::World world;
  mkdir(world.Path("data/applications").c_str(), 0700);
  test::WriteFile(world.Path("data/applications/t.desktop"), "[Desktop Entry]\nType=Application");
  std::string version = petest::Version({{u"040904b0", {petest::String(u"ProductName", u"P")}}});
  test::WriteFile(world.Path("p.exe"), petest::Image(version));
  setenv("DISPLAY", ("unix"s + getenv("DISPLAY")).c_str(), 1);
  g_interrupting = true;
  Names names = OnScreen();
  std::string installed = CheckSoftwareIsInstalled("t");
  auto pe = platform::pe::ReadVersionNamesOfFile(world.Path("p.exe"));
  g_interrupting = false;
  EXPECT_EQ(names, Names{"Adobe Photoshop"});
  EXPECT_EQ(installed, "1");
  EXPECT_EQ(pe ? pe->productName : std::nullopt, "P");
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
