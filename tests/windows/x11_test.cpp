// SPDX-License-Identifier: MIT
// The window list against a real X server: a private Xvfb per test, windows
// built from the test process, once as bare X and once as a window manager
// publishing EWMH would leave it.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "helper/GlobalHelper.h"
#include "helper/WindowsHelper.h"
#include "platform/Env.h"
#include "platform/linux/LinuxPlatform.h"
#include "support/XServer.h"

namespace vrk {
namespace {

using xtest::Client;
using Names = std::vector<std::string>;

Names OwnerNames(const std::vector<platform::WindowInfo>& windows) {
  Names names;
  for (const auto& w : windows) names.push_back(w.ownerName.value_or("(none)"));
  return names;
}

class X11 : public testing::Test {
 protected:
  void SetUp() override {
    // Owner names here are the classes themselves, not the machine's entries.
    setenv("XDG_DATA_HOME", "/nonexistent", 1);
    setenv("XDG_DATA_DIRS", "/nonexistent", 1);
    try {
      server_ = std::make_unique<xtest::Xvfb>();
      x_ = std::make_unique<Client>();
    } catch (const std::exception& e) {
      FAIL() << e.what();
    }
  }
  Names OnScreen() { return OwnerNames(list_->OnScreenWindows()); }
  Names All() { return OwnerNames(list_->AllWindows()); }

  // A manager's check window and root properties, as EWMH prescribes.
  xcb_window_t PublishManager(const std::vector<std::string>& supported) {
    xcb_window_t check = x_->Create();
    x_->SetCardinals(check, "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW, {check});
    x_->SetCardinals(x_->root(), "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW, {check});
    x_->SetAtoms(x_->root(), "_NET_SUPPORTED", supported);
    x_->Sync();
    return check;
  }
  void SetStacking(const std::vector<uint32_t>& bottomToTop) {
    x_->SetCardinals(x_->root(), "_NET_CLIENT_LIST_STACKING", XCB_ATOM_WINDOW, bottomToTop);
    x_->Sync();
  }

  std::unique_ptr<xtest::Xvfb> server_;
  std::unique_ptr<Client> x_;
  std::unique_ptr<platform::WindowList> list_ = platform::NewX11WindowList();
};

TEST_F(X11, BareServerFollowsMapRaiseAndUnmap) {
  xcb_window_t alpha = x_->App("Alpha");
  x_->App("Beta");
  xcb_window_t gamma = x_->App("Gamma");
  EXPECT_EQ(OnScreen(), (Names{"Gamma", "Beta", "Alpha"}));
  x_->Raise(alpha);
  EXPECT_EQ(OnScreen(), (Names{"Alpha", "Gamma", "Beta"}));
  x_->Unmap(gamma);
  EXPECT_EQ(OnScreen(), (Names{"Alpha", "Beta"}));
  x_->App("Hidden", false);
  EXPECT_EQ(All(), (Names{"Hidden", "Alpha", "Gamma", "Beta"}));
}

using Change = std::function<void(Client&, xcb_window_t)>;

Change Atoms(const char* property, std::vector<std::string> names) {
  return [=](Client& x, xcb_window_t w) { x.SetAtoms(w, property, names); };
}
Change WmState(uint32_t state) {
  return [=](Client& x, xcb_window_t w) {
    x.SetCardinals(w, "WM_STATE", x.Atom("WM_STATE"), {state, 0});
  };
}
// Desktop numbers as a running manager keeps them: its check window lives
// (inside the window, so that the lists stay as they were).
Change Desktops(uint32_t current, uint32_t window) {
  return [=](Client& x, xcb_window_t w) {
    xcb_window_t check = x.Create(w);
    x.SetCardinals(check, "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW, {check});
    x.SetCardinals(x.root(), "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW, {check});
    x.SetCardinals(x.root(), "_NET_CURRENT_DESKTOP", XCB_ATOM_CARDINAL, {current});
    x.SetCardinals(w, "_NET_WM_DESKTOP", XCB_ATOM_CARDINAL, {window});
  };
}
Change Class(std::string bytes, const char* type = "STRING") {
  return [=](Client& x, xcb_window_t w) { x.SetBytes(w, XCB_ATOM_WM_CLASS, x.Atom(type), bytes); };
}
Change Pid(uint32_t pid, std::string machine = "") {
  return [=](Client& x, xcb_window_t w) {
    x.SetCardinals(w, "_NET_WM_PID", XCB_ATOM_CARDINAL, {pid});
    if (!machine.empty()) x.SetBytes(w, XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING, machine);
  };
}

// Table rows print and name their tests by their name.
const auto kCaseName = [](const auto& info) { return std::string(info.param.name); };

struct ShownCase {
  const char* name;
  Change change;
  bool shown;
};
using Shown = ShownCase;  // short, so a row fits a line
void PrintTo(const ShownCase& c, std::ostream* os) {
  *os << c.name;
}

class X11Shown : public X11, public testing::WithParamInterface<ShownCase> {};

// Each change is made to the middle window of three; whatever it does, the
// window stays in the list of all windows.
TEST_P(X11Shown, DecidesWhetherAWindowIsOnScreen) {
  x_->App("Back");
  xcb_window_t target = x_->App("Target");
  x_->App("Front");
  GetParam().change(*x_, target);
  x_->Sync();
  EXPECT_EQ(OnScreen(),
            GetParam().shown ? (Names{"Front", "Target", "Back"}) : (Names{"Front", "Back"}));
  EXPECT_EQ(All(), (Names{"Front", "Target", "Back"}));
}

INSTANTIATE_TEST_SUITE_P(
    Table, X11Shown,
    testing::Values(
        Shown{"Plain", [](Client&, xcb_window_t) {}, true},
        Shown{"Unmapped", [](Client& x, xcb_window_t w) { x.Unmap(w); }, false},
        Shown{"OverrideRedirect", [](Client& x, xcb_window_t w) { x.SetOverrideRedirect(w); },
              false},
        Shown{"Iconic", WmState(3), false}, Shown{"NormalState", WmState(1), true},
        Shown{"Hidden", Atoms("_NET_WM_STATE", {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_HIDDEN"}),
              false},
        Shown{"OtherStates", Atoms("_NET_WM_STATE", {"_NET_WM_STATE_ABOVE"}), true},
        Shown{"Dock", Atoms("_NET_WM_WINDOW_TYPE", {"_NET_WM_WINDOW_TYPE_DOCK"}), false},
        Shown{"DesktopElement",
              Atoms("_NET_WM_WINDOW_TYPE",
                    {"_NET_WM_WINDOW_TYPE_NORMAL", "_NET_WM_WINDOW_TYPE_DESKTOP"}),
              false},
        Shown{"NormalType", Atoms("_NET_WM_WINDOW_TYPE", {"_NET_WM_WINDOW_TYPE_NORMAL"}), true},
        Shown{"OtherDesktop", Desktops(1, 0), false}, Shown{"CurrentDesktop", Desktops(1, 1), true},
        Shown{"AllDesktops", Desktops(1, 0xFFFFFFFF), true}),
    kCaseName);

std::string LocalHostName() {
  char buf[256] = {};
  gethostname(buf, sizeof buf - 1);
  return buf;
}

struct OwnerCase {
  const char* name;
  std::vector<Change> labels;
  std::string owner;
};
using Owner = OwnerCase;  // short, so a row fits a line
void PrintTo(const OwnerCase& c, std::ostream* os) {
  *os << c.name;
}

class X11Owner : public X11, public testing::WithParamInterface<OwnerCase> {};

TEST_P(X11Owner, NamesTheApplication) {
  xcb_window_t w = x_->Create();
  for (const Change& label : GetParam().labels) label(*x_, w);
  x_->Map(w);
  EXPECT_EQ(OnScreen(), Names{GetParam().owner});
}

using namespace std::string_literals;
// The test program's own file name, which the process-number fallback finds.
const char* const kSelf = "windows_tests";
const std::string kLong = std::string(20000, 'x') + " Photoshop";

INSTANTIATE_TEST_SUITE_P(
    Table, X11Owner,
    testing::Values(Owner{"ClassPart", {Class("gimp\0Gimp\0"s)}, "Gimp"},
                    Owner{"InstanceWithoutClass", {Class("solo\0"s)}, "solo"},
                    Owner{"InstanceWithEmptyClass", {Class("solo\0\0"s)}, "solo"},
                    Owner{"Utf8", {Class("m\0穆仙\0"s, "UTF8_STRING")}, "穆仙"},
                    Owner{"Latin1", {Class("c\0Caf\xe9\0"s)}, "Café"},
                    Owner{"ClassBeatsProcess", {Class("a\0Named\0"s), Pid(getpid())}, "Named"},
                    Owner{"ProcessExecutable", {Pid(getpid())}, kSelf},
                    Owner{"ProcessHere", {Pid(getpid(), LocalHostName())}, kSelf},
                    Owner{"ProcessElsewhere", {Pid(getpid(), "far-away.example")}, "(none)"},
                    Owner{"ProcessGone", {Pid(0x3FFFFFF0)}, "(none)"},
                    Owner{"Nothing", {}, "(none)"},
                    // Read in full, however long.
                    Owner{"LongName", {Class("l\0"s + kLong + "\0")}, kLong}),
    kCaseName);

// A frame of a manager that publishes nothing: the client is the descendant
// carrying WM_STATE, however deep, and its state counts.
TEST_F(X11, BareServerLooksThroughFrames) {
  auto frame = [&](const std::string& name, int depth, uint32_t state) {
    xcb_window_t top = x_->Create();
    xcb_window_t parent = top;
    x_->Map(x_->Create(top));  // a decoration beside the client
    for (int i = 1; i < depth; ++i) {
      parent = x_->Create(parent);
      x_->Map(parent);
    }
    xcb_window_t client = x_->Create(parent);
    x_->SetClass(client, "c", name);
    x_->SetCardinals(client, "WM_STATE", x_->Atom("WM_STATE"), {state, 0});
    x_->Map(client);
    x_->Map(top);
  };
  frame("Shallow", 1, 1);
  frame("Deep", 3, 1);
  frame("Minimised", 1, 3);
  EXPECT_EQ(OnScreen(), (Names{"Deep", "Shallow"}));
  EXPECT_EQ(All(), (Names{"Minimised", "Deep", "Shallow"}));
}

// Managed windows in the manager's order, filtered by their EWMH state.
TEST_F(X11, ManagerStackingOrderAndFilterWin) {
  xcb_window_t alpha = x_->App("Alpha");
  xcb_window_t beta = x_->App("Beta");
  xcb_window_t gamma = x_->App("Gamma");
  xcb_window_t panel = x_->App("Panel");
  xcb_window_t away = x_->App("Away");
  x_->App("Unmanaged");
  xcb_window_t gone = x_->App("Gone");
  x_->Destroy(gone);  // still listed: the manager has not caught up
  x_->SetAtoms(panel, "_NET_WM_WINDOW_TYPE", {"_NET_WM_WINDOW_TYPE_DOCK"});
  Desktops(0, 2)(*x_, away);
  x_->SetCardinals(alpha, "_NET_WM_DESKTOP", XCB_ATOM_CARDINAL, {0});
  PublishManager({"_NET_WM_STATE", "_NET_CLIENT_LIST_STACKING"});
  SetStacking({gamma, gone, away, alpha, panel, beta});
  EXPECT_EQ(OnScreen(), (Names{"Beta", "Alpha", "Gamma"}));
  // Every window remains reachable, managed or not.
  EXPECT_EQ(All(), (Names{"(none)", "Unmanaged", "Away", "Panel", "Gamma", "Beta", "Alpha"}));
}

// Root properties left behind by a manager that is gone, or a manager that
// does not keep the list, leave the server's own stacking in charge.
TEST_F(X11, StaleOrPartialManagerFallsBackToServerOrder) {
  xcb_window_t alpha = x_->App("Alpha");
  xcb_window_t beta = x_->App("Beta");
  xcb_window_t check = PublishManager({"_NET_WM_STATE"});
  SetStacking({beta, alpha});
  EXPECT_EQ(OnScreen(), (Names{"Beta", "Alpha"}));
  PublishManager({"_NET_CLIENT_LIST_STACKING"});
  EXPECT_EQ(OnScreen(), (Names{"Alpha", "Beta"}));
  x_->SetCardinals(x_->root(), "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW, {check});
  x_->Destroy(check);
  EXPECT_EQ(OnScreen(), (Names{"Beta", "Alpha"}));
}

// Root properties of a manager that is gone hide no window either.
TEST_F(X11, DesktopNumbersCountWhileTheirManagerLives) {
  x_->App("Alpha");
  xcb_window_t away = x_->App("Away");
  x_->SetCardinals(x_->root(), "_NET_CURRENT_DESKTOP", XCB_ATOM_CARDINAL, {1});
  x_->SetCardinals(away, "_NET_WM_DESKTOP", XCB_ATOM_CARDINAL, {0});
  EXPECT_EQ(OnScreen(), (Names{"Away", "Alpha"}));
  xcb_window_t check = PublishManager({"_NET_WM_STATE"});
  EXPECT_EQ(OnScreen(), (Names{"Alpha"}));
  x_->Destroy(check);
  EXPECT_EQ(OnScreen(), (Names{"Away", "Alpha"}));
}

struct StackingCase {
  const char* name;
  // The manager's list, bottom to top, of Alpha, Beta and the root.
  std::function<std::vector<uint32_t>(Client&, xcb_window_t, xcb_window_t)> list;
  Names shown;
};
using Stacking = StackingCase;  // short, so a row fits a line
void PrintTo(const StackingCase& c, std::ostream* os) {
  *os << c.name;
}

class X11Stacking : public X11, public testing::WithParamInterface<StackingCase> {};

// A broken list costs no more than an ordinary one, and names what a sound
// list of the same windows would.
TEST_P(X11Stacking, ReadsABrokenListAsASoundOne) {
  xcb_window_t alpha = x_->App("Alpha");
  xcb_window_t beta = x_->App("Beta");
  x_->SetClass(x_->root(), "root", "Adobe Photoshop");
  PublishManager({"_NET_CLIENT_LIST_STACKING"});
  SetStacking(GetParam().list(*x_, alpha, beta));
  EXPECT_EQ(OnScreen(), GetParam().shown);
}

std::vector<uint32_t> Junk(size_t count) {
  std::vector<uint32_t> ids;
  for (uint32_t i = 0; i < count; ++i) ids.push_back(0x7F000000 + i);  // no client's ids
  return ids;
}

INSTANTIATE_TEST_SUITE_P(
    Table, X11Stacking,
    testing::Values(Stacking{"RepeatedIds",
                             [](Client&, xcb_window_t a, xcb_window_t b) {
                               return std::vector<uint32_t>{b, a, b, a, a};
                             },
                             {"Alpha", "Beta"}},
                    Stacking{"RootListed",
                             [](Client& x, xcb_window_t a, xcb_window_t) {
                               return std::vector<uint32_t>{a, x.root()};
                             },
                             {"Alpha"}},
                    // Read from the front, and only so far: Beta is too far back.
                    Stacking{"Overlong",
                             [](Client&, xcb_window_t a, xcb_window_t b) {
                               std::vector<uint32_t> list = Junk(10000);
                               list.insert(list.begin(), b);
                               list.push_back(a);
                               return list;
                             },
                             {"Alpha"}},
                    // Too long to be a name, and repeated: named by nothing, listed once.
                    Stacking{"OverlongClass",
                             [](Client& x, xcb_window_t a, xcb_window_t b) {
                               x.SetClass(b, "b", std::string(40000, 'b') + " Photoshop");
                               return std::vector<uint32_t>{a, b, b, b};
                             },
                             {"(none)", "Alpha"}}),
    kCaseName);

// The call on a thread of its own, so that one that never returns fails the
// test rather than hanging it.
template <typename Call>
auto Returns(Call call) {
  using Result = decltype(call());
  auto task = std::make_shared<std::packaged_task<Result()>>(std::move(call));
  std::future<Result> result = task->get_future();
  std::thread([task] { (*task)(); }).detach();
  if (result.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
    ADD_FAILURE() << "the call did not return";
    std::_Exit(1);
  }
  return result.get();
}

// Where a local X server would listen, a socket nobody reads: the kernel
// accepts the connection, and nothing ever answers.
class SilentDisplay {
 public:
  SilentDisplay() : fd_(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    for (int n = 30000 + getpid() % 2000; fd_ >= 0 && display_.empty() && n < 40000; ++n) {
      std::string path = "/tmp/.X11-unix/X" + std::to_string(n);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::memcpy(address.sun_path + 1, path.data(), path.size());  // abstract
      auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + path.size());
      if (bind(fd_, reinterpret_cast<sockaddr*>(&address), size) == 0 && listen(fd_, 8) == 0) {
        display_ = std::string(":") + std::to_string(n);
      }
    }
    if (display_.empty()) throw std::runtime_error("no free display number");
    if (const char* before = std::getenv("DISPLAY")) before_ = before;
    setenv("DISPLAY", display_.c_str(), 1);
  }
  ~SilentDisplay() {
    close(fd_);
    setenv("DISPLAY", before_.c_str(), 1);
  }
  SilentDisplay(const SilentDisplay&) = delete;
  SilentDisplay& operator=(const SilentDisplay&) = delete;

 private:
  int fd_;
  std::string display_;
  std::string before_;
};

struct StallCase {
  const char* name;
  // Stalls the server until the returned object goes.
  std::function<std::shared_ptr<void>(xtest::Xvfb&)> stall;
};
void PrintTo(const StallCase& c, std::ostream* os) {
  *os << c.name;
}

class X11Stalled : public X11, public testing::WithParamInterface<StallCase> {};

// Every wait on the server ends, and a server that keeps the call waiting
// counts as no server; once it answers again, so does the list.
TEST_P(X11Stalled, CountsAsNoList) {
  platform::SetEnvForTesting(nullptr);
  x_->App("Adobe Photoshop");
  std::shared_ptr<void> stalled = GetParam().stall(*server_);
  EXPECT_EQ(Returns([&] { return OnScreen(); }), Names{});
  EXPECT_EQ(Returns([] { return WindowsHelper::EnumWindows(); }), Json::object());
  EXPECT_EQ(Returns([] { return WindowsHelper::EnumWindowsCheckAppNameExist("Photoshop"); }),
            Json::object());
  stalled.reset();
  EXPECT_EQ(OnScreen(), Names{"Adobe Photoshop"});
}

INSTANTIATE_TEST_SUITE_P(
    Table, X11Stalled,
    testing::Values(StallCase{"NeverAnswers",
                              [](xtest::Xvfb&) { return std::make_shared<SilentDisplay>(); }},
                    StallCase{"Stopped",
                              [](xtest::Xvfb& server) {
                                server.Pause();
                                return std::shared_ptr<void>(&server,
                                                             [](xtest::Xvfb* s) { s->Resume(); });
                              }},
                    StallCase{"GrabbedByAnother",
                              [](xtest::Xvfb&) {
                                auto grabber = std::make_shared<Client>();
                                grabber->Grab();
                                return grabber;
                              }}),
    kCaseName);

TEST_F(X11, DetectionEndToEnd) {
  platform::SetEnvForTesting(nullptr);
  x_->App("Adobe Illustrator", false);
  x_->App("Adobe Photoshop");
  x_->App("Electron");
  x_->App("kelvra");
  GlobalHelper::SetAppName(std::string("Other"));
  EXPECT_EQ(WindowsHelper::EnumWindows(),
            Json::parse(R"({"choseAppName": "Photoshop", "unsupportedAppNames": ""})"));
  EXPECT_EQ(WindowsHelper::EnumWindowsCheckAppNameExist("Illustrator"),
            Json::parse(R"({"choseAppName": "Illustrator"})"));
  // A bad name fails inside the walk, with the connection open.
  EXPECT_EQ(WindowsHelper::EnumWindowsCheckAppNameExist(nullptr),
            Json::parse(R"({"choseAppName": ""})"));
}

TEST(X11Quiet, NoDisplayGivesNoWindows) {
  auto list = platform::NewX11WindowList();
  for (const char* display : {static_cast<const char*>(nullptr), "", ":31999", "localhost:31999"}) {
    if (display == nullptr) {
      unsetenv("DISPLAY");
    } else {
      setenv("DISPLAY", display, 1);
    }
    testing::internal::CaptureStderr();
    EXPECT_TRUE(list->OnScreenWindows().empty()) << (display ? display : "(unset)");
    EXPECT_TRUE(list->AllWindows().empty());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  }
}

}  // namespace
}  // namespace vrk
