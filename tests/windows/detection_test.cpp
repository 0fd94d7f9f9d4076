// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>

#include "helper/GlobalHelper.h"
#include "helper/WindowsHelper.h"
#include "support/FakeEnv.h"

namespace vrk {
namespace {

using platform::WindowInfo;
using test::ScopedFakeEnv;
using test::Windows;

// An object of the given keys; a null value means the key must be missing.
Json Result(std::initializer_list<std::pair<const char*, const char*>> members) {
  Json object = Json::object();
  for (const auto& [key, value] : members) {
    if (value != nullptr) object[key] = value;
  }
  return object;
}

// Table rows print and name their tests by their name.
const auto kCaseName = [](const auto& info) { return std::string(info.param.name); };

struct DetectionCase {
  const char* name;
  std::vector<WindowInfo> onScreen;  // frontmost first
  const char* identity;
  const char* chose;
  const char* unsupported;
};
using Host = DetectionCase;  // short, so a row fits a line
void PrintTo(const DetectionCase& c, std::ostream* os) {
  *os << c.name;
}

class Detection : public testing::TestWithParam<DetectionCase> {};

TEST_P(Detection, NamesTheFrontmostHost) {
  const DetectionCase& c = GetParam();
  ScopedFakeEnv env;
  env->windows.onScreen = c.onScreen;
  GlobalHelper::SetAppName(TextFromC(c.identity));
  EXPECT_EQ(WindowsHelper::EnumWindows(),
            Result({{"choseAppName", c.chose}, {"unsupportedAppNames", c.unsupported}}));
}

INSTANTIATE_TEST_SUITE_P(
    Table, Detection,
    testing::Values(
        Host{"HostBehindOther", Windows({"Finder", "Adobe Photoshop"}), nullptr, "Photoshop", ""},
        Host{"FrontmostNotTableOrder", Windows({"Microsoft Word", "Adobe Illustrator"}), nullptr,
             "Word", ""},
        Host{"TableOrderInOneName", Windows({"Word Photoshop"}), nullptr, "Photoshop", ""},
        Host{"AfterEffects", Windows({"Adobe After Effects"}), nullptr, "AfterEffects", ""},
        Host{"AdobeXDIsNotXD", Windows({"Adobe XD"}), nullptr, nullptr, "Adobe XD"},
        Host{"XDOnlyByEquality", Windows({"Adobe XD", "XD"}), nullptr, "AdobeXD", ""},
        Host{"SketchUp", Windows({"SketchUp", "Keynote"}), nullptr, "Sketch", ""},
        Host{"CaseMatters", Windows({"photoshop"}), nullptr, nullptr, "photoshop"},
        Host{"FrontmostUnsupported", Windows({"Finder", "Safari"}), nullptr, nullptr, "Finder"},
        Host{"OwnAndElectronSkipped", Windows({"kelvra", "My Electron App"}), "Other", nullptr,
             nullptr},
        Host{"OwnNameContained", Windows({"kelvra-helper", "Finder"}), nullptr, nullptr, "Finder"},
        Host{"MuXanSkipsItsName", Windows({"穆仙", "kelvra"}), "MuXan", nullptr, "kelvra"},
        Host{"IdentityCaseMatters", Windows({"kelvra", "穆仙"}), "muxan", nullptr, "穆仙"},
        Host{"OwnerlessSkipped", Windows({"", "Finder", ""}), nullptr, nullptr, "Finder"},
        Host{"EmptyList", {}, nullptr, nullptr, nullptr},
        // "" is recorded, yet a later name still replaces it.
        Host{"EmptyNameGivesWay",
             {WindowInfo{""}, WindowInfo{"Finder"}},
             nullptr,
             nullptr,
             "Finder"},
        Host{"EmptyNameAlone", {WindowInfo{""}}, nullptr, nullptr, ""}),
    kCaseName);

// The identity is the one in force while the list is walked.
class RenamingWindowList : public test::FakeWindowList {
 public:
  std::vector<WindowInfo> OnScreenWindows() override {
    GlobalHelper::SetAppName(std::string("MuXan"));
    return onScreen;
  }
};

TEST(DetectionIdentity, IsReadWhenAWindowNeedsIt) {
  ScopedFakeEnv env;
  RenamingWindowList list;
  list.onScreen = Windows({"穆仙", "kelvra"});
  env->UseWindows(&list);
  GlobalHelper::SetAppName(std::string("Other"));
  EXPECT_EQ(WindowsHelper::EnumWindows(),
            Result({{"choseAppName", nullptr}, {"unsupportedAppNames", "kelvra"}}));
}

class ThrowingWindowList : public platform::WindowList {
 public:
  std::vector<WindowInfo> OnScreenWindows() override { throw std::runtime_error("gone"); }
  std::vector<WindowInfo> AllWindows() override { throw std::runtime_error("gone"); }
};

TEST(DetectionFailure, AnswersTheResultAsItStood) {
  ScopedFakeEnv env;
  ThrowingWindowList list;
  env->UseWindows(&list);
  EXPECT_EQ(WindowsHelper::EnumWindows(),
            Result({{"choseAppName", ""}, {"unsupportedAppNames", ""}}));
  EXPECT_EQ(WindowsHelper::EnumWindowsCheckAppNameExist("Photoshop"),
            Result({{"choseAppName", ""}}));
}

// Hands windows over one at a time, counting them; fails the walk when it
// reaches cutAt, as a server that stops answering does.
class CountingWindowList : public test::FakeWindowList {
 public:
  size_t handed = 0;
  size_t cutAt = SIZE_MAX;
  bool VisitOnScreen(const Visitor& visit) override { return Hand(onScreen, visit); }
  bool VisitAll(const Visitor& visit) override { return Hand(all, visit); }

 private:
  bool Hand(const std::vector<WindowInfo>& windows, const Visitor& visit) {
    for (const WindowInfo& w : windows) {
      if (handed == cutAt) return false;
      ++handed;
      if (!visit(w)) break;
    }
    return true;
  }
};

struct WalkCase {
  const char* name;
  std::vector<WindowInfo> windows;  // frontmost first
  size_t cutAt;
  const char* chose;
  const char* unsupported;
  size_t handed;
};
using Walk = WalkCase;  // short, so a row fits a line
void PrintTo(const WalkCase& c, std::ostream* os) {
  *os << c.name;
}

class DetectionWalk : public testing::TestWithParam<WalkCase> {};

// The windows behind the host are never asked for, and a list cut short is
// no list, whatever its front showed.
TEST_P(DetectionWalk, EndsAtTheHostAndTrustsOnlyAWholeList) {
  const WalkCase& c = GetParam();
  ScopedFakeEnv env;
  CountingWindowList list;
  list.onScreen = c.windows;
  list.cutAt = c.cutAt;
  env->UseWindows(&list);
  EXPECT_EQ(WindowsHelper::EnumWindows(),
            Result({{"choseAppName", c.chose}, {"unsupportedAppNames", c.unsupported}}));
  EXPECT_EQ(list.handed, c.handed);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DetectionWalk,
    testing::Values(
        Walk{"EndsAtHost", Windows({"Finder", "Adobe Photoshop", "Microsoft Word"}), SIZE_MAX,
             "Photoshop", "", 2},
        Walk{"WholeWithoutHost", Windows({"Finder", "Safari"}), SIZE_MAX, nullptr, "Finder", 2},
        Walk{"CutShort", Windows({"Finder", "Safari"}), 1, nullptr, nullptr, 1},
        Walk{"CutBehindHost", Windows({"Adobe Photoshop", "Finder"}), 1, "Photoshop", "", 1}),
    kCaseName);

TEST(PresenceWalk, EndsAtTheFirstHost) {
  ScopedFakeEnv env;
  CountingWindowList list;
  list.all = Windows({"Finder", "Adobe Illustrator", "Adobe Photoshop"});
  env->UseWindows(&list);
  EXPECT_EQ(WindowsHelper::EnumWindowsCheckAppNameExist("Adobe"),
            Result({{"choseAppName", "Illustrator"}}));
  EXPECT_EQ(list.handed, 2u);
}

struct PresenceCase {
  const char* name;
  std::vector<WindowInfo> all;
  const char* asked;
  const char* chose;
};
using Present = PresenceCase;  // short, so a row fits a line
void PrintTo(const PresenceCase& c, std::ostream* os) {
  *os << c.name;
}

class Presence : public testing::TestWithParam<PresenceCase> {};

TEST_P(Presence, FindsPhotoshopOrIllustrator) {
  const PresenceCase& c = GetParam();
  ScopedFakeEnv env;
  env->windows.all = c.all;
  EXPECT_EQ(WindowsHelper::EnumWindowsCheckAppNameExist(c.asked),
            Result({{"choseAppName", c.chose}}));
}

INSTANTIATE_TEST_SUITE_P(
    Table, Presence,
    testing::Values(
        Present{"Photoshop", Windows({"Finder", "Adobe Photoshop"}), "Photoshop", "Photoshop"},
        Present{"IllustratorMissing", Windows({"Adobe Photoshop"}), "Illustrator", nullptr},
        Present{"SketchNeverReported", Windows({"Sketch"}), "Sketch", nullptr},
        Present{"AskedNameContained", Windows({"Adobe Illustrator"}), "Adobe", "Illustrator"},
        Present{"FirstFoundStops", Windows({"", "Adobe Photoshop", "Adobe Illustrator"}), "Adobe",
                "Photoshop"},
        Present{"AskedCaseMatters", Windows({"Adobe Photoshop"}), "photoshop", nullptr},
        // A bad name fails only once there is an owner name to compare it with.
        Present{"NullAsked", Windows({"Adobe Photoshop"}), nullptr, ""},
        Present{"NullAskedNoOwner", Windows({""}), nullptr, nullptr},
        Present{"InvalidUtf8Asked", Windows({"Adobe Photoshop"}), "Photo\xffshop", ""}),
    kCaseName);

}  // namespace
}  // namespace vrk
