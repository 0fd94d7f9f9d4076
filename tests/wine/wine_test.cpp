// SPDX-License-Identifier: MIT
// Windows programs under Wine, on a private Xvfb and a private prefix: their
// windows are named by the product name in their version resource, stacked
// as the server stacks them, and seen by the presence check while hidden.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
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

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

std::string FindProgram(const std::vector<std::string>& candidates) {
  for (const std::string& c : candidates) {
    if (c.front() == '/') {
      if (access(c.c_str(), X_OK) == 0) return c;
      continue;
    }
    const char* path = std::getenv("PATH");
    std::string list = path != nullptr ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= list.size()) {
      size_t end = list.find(':', start);
      std::string dir = list.substr(start, end - start);
      if (!dir.empty() && access((dir + "/" + c).c_str(), X_OK) == 0) return dir + "/" + c;
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }
  return {};
}

pid_t Spawn(const std::vector<std::string>& args) {
  pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, 1);
    dup2(quiet, 2);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

bool WaitFor(const std::function<bool()>& done, int seconds = 90) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return done();
}

Names OwnerNames(const std::vector<platform::WindowInfo>& windows) {
  Names names;
  for (const auto& w : windows) {
    if (w.ownerName) names.push_back(*w.ownerName);
  }
  return names;
}

bool Has(const Names& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// The prefix, the programs started in it and its wineserver, all gone at the
// end of the test however it ends.
class Prefix {
 public:
  Prefix(std::string loader, std::string server) : loader_(loader), server_(server) {
    char pattern[] = "/tmp/vrk-wine-XXXXXX";
    if (mkdtemp(pattern) != nullptr) root_ = pattern;
    setenv("WINEPREFIX", (root_ / "prefix").c_str(), 1);
    setenv("WINEDLLOVERRIDES", "winemenubuilder.exe=d;mscoree,mshtml=", 1);
    setenv("WINEDEBUG", "-all", 1);
    // No desktop entries of the machine: the names must come from the programs.
    setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
    setenv("XDG_DATA_DIRS", (root_ / "data").c_str(), 1);
  }
  ~Prefix() {
    for (pid_t pid : started_) kill(pid, SIGKILL);
    if (!server_.empty()) {
      pid_t stop = Spawn({server_, "-k"});
      waitpid(stop, nullptr, 0);
    }
    for (pid_t pid : started_) waitpid(pid, nullptr, 0);
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  Prefix(const Prefix&) = delete;
  Prefix& operator=(const Prefix&) = delete;

  bool Boot() {
    pid_t boot = Spawn({loader_, "wineboot", "-i"});
    int status = 0;
    return waitpid(boot, &status, 0) == boot && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  void Start(const std::string& file, const std::string& argument) {
    fs::path folder = root_ / "prefix/drive_c/Program Files/Vendor";
    fs::create_directories(folder);
    fs::copy_file(fs::path(VRK_WINE_PROGRAMS) / file, folder / file,
                  fs::copy_options::overwrite_existing);
    started_.push_back(Spawn({loader_, "C:\\Program Files\\Vendor\\" + file, argument}));
  }

 private:
  fs::path root_;
  std::string loader_, server_;
  std::vector<pid_t> started_;
};

// A second X client that finds a program's shown window by its class.
class Looker {
 public:
  Looker() : c_(xcb_connect(nullptr, nullptr)) {
    root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
  }
  ~Looker() { xcb_disconnect(c_); }
  Looker(const Looker&) = delete;
  Looker& operator=(const Looker&) = delete;

  xcb_window_t Shown(const std::string& klass) {
    xcb_window_t found = XCB_WINDOW_NONE;
    auto* tree = xcb_query_tree_reply(c_, xcb_query_tree(c_, root_), nullptr);
    if (tree == nullptr) return found;
    xcb_window_t* children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
      auto* attributes =
          xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, children[i]), nullptr);
      auto* p = xcb_get_property_reply(
          c_, xcb_get_property(c_, 0, children[i], XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256),
          nullptr);
      if (attributes != nullptr && p != nullptr &&
          attributes->map_state == XCB_MAP_STATE_VIEWABLE) {
        std::string bytes(static_cast<const char*>(xcb_get_property_value(p)),
                          xcb_get_property_value_length(p));
        if (bytes.substr(0, bytes.find('\0')) == klass) found = children[i];
      }
      std::free(attributes);
      std::free(p);
    }
    std::free(tree);
    return found;
  }
  void Raise(xcb_window_t w) {
    uint32_t above[] = {XCB_STACK_MODE_ABOVE};
    xcb_configure_window(c_, w, XCB_CONFIG_WINDOW_STACK_MODE, above);
    std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
  }

 private:
  xcb_connection_t* c_;
  xcb_window_t root_;
};

TEST(Wine, ProgramsNamedByProductStackedAndPresent) {
  std::string loader = FindProgram({"wine64", "/usr/lib/wine/wine64", "wine"});
  std::string server = FindProgram({"wineserver", "/usr/lib/wine/wineserver64"});
  if (loader.empty() || server.empty()) GTEST_SKIP() << "Wine is not installed (wine64)";
  if (!fs::exists(fs::path(VRK_WINE_PROGRAMS) / "notes.exe")) {
    GTEST_SKIP() << "no mingw-w64 cross compiler at configure time";
  }
  std::unique_ptr<xtest::Xvfb> x;
  try {
    x = std::make_unique<xtest::Xvfb>();
  } catch (const std::exception& e) {
    FAIL() << e.what();
  }
  platform::SetEnvForTesting(nullptr);
  GlobalHelper::SetAppName(std::string("Other"));
  auto list = platform::NewX11WindowList();
  auto onScreen = [&] { return OwnerNames(list->OnScreenWindows()); };
  auto all = [&] { return OwnerNames(list->AllWindows()); };

  Prefix prefix(loader, server);
  ASSERT_TRUE(prefix.Boot());
  // One at a time, so the server stacks them in this order.
  prefix.Start("notes.exe", "Notes");
  ASSERT_TRUE(WaitFor([&] { return Has(onScreen(), "Notes Deluxe"); }))
      << testing::PrintToString(all());
  prefix.Start("Illustrator.exe", "Drawing");
  ASSERT_TRUE(WaitFor([&] { return Has(onScreen(), "Adobe Illustrator 2024"); }));
  prefix.Start("Photoshop.exe", "hidden");
  ASSERT_TRUE(WaitFor([&] { return Has(all(), "Adobe Photoshop 2024"); }));

  EXPECT_EQ(onScreen(), (Names{"Adobe Illustrator 2024", "Notes Deluxe"}));
  EXPECT_EQ(WindowsHelper::EnumWindows(),
            Json::parse(R"({"choseAppName": "Illustrator", "unsupportedAppNames": ""})"));
  EXPECT_EQ(WindowsHelper::EnumWindowsCheckAppNameExist("Photoshop"),
            Json::parse(R"({"choseAppName": "Photoshop"})"));
  EXPECT_EQ(WindowsHelper::EnumWindowsCheckAppNameExist("Illustrator"),
            Json::parse(R"({"choseAppName": "Illustrator"})"));

  Looker looker;
  xcb_window_t notes = looker.Shown("notes.exe");
  ASSERT_NE(notes, XCB_WINDOW_NONE);
  looker.Raise(notes);
  EXPECT_EQ(onScreen(), (Names{"Notes Deluxe", "Adobe Illustrator 2024"}));
  EXPECT_EQ(WindowsHelper::EnumWindows(),
            Json::parse(R"({"choseAppName": "Illustrator", "unsupportedAppNames": ""})"));
}

}  // namespace
}  // namespace vrk
