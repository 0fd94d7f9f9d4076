#include <gtest/gtest.h>

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

struct DetectionCase {
  const char* name;
  std::vector<WindowInfo> onScreen;  // frontmost first
  const char* identity;
  const char* chose;
  const char* unsupported;
};
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
        DetectionCase{"HostBehindOther", Windows({"Finder", "Adobe Photoshop"}), nullptr,
                      "Photoshop", ""},
        DetectionCase{"FrontmostNotTableOrder", Windows({"Microsoft Word", "Adobe Illustrator"}),
                      nullptr, "Word", ""},
        DetectionCase{"TableOrderInOneName", Windows({"Word Photoshop"}), nullptr, "Photoshop", ""},
        DetectionCase{"AfterEffects", Windows({"Adobe After Effects"}), nullptr, "AfterEffects",
                      ""},
        DetectionCase{"AdobeXDIsNotXD", Windows({"Adobe XD"}), nullptr, nullptr, "Adobe XD"},
        DetectionCase{"XDOnlyByEquality", Windows({"Adobe XD", "XD"}), nullptr, "AdobeXD", ""},
        DetectionCase{"WordPress", Windows({"WordPress"}), nullptr, "Word", ""},
        DetectionCase{"SketchUp", Windows({"SketchUp", "Keynote"}), nullptr, "Sketch", ""},
        DetectionCase{"CaseMatters", Windows({"photoshop"}), nullptr, nullptr, "photoshop"},
        DetectionCase{"FrontmostUnsupported", Windows({"Finder", "Safari"}), nullptr, nullptr,
                      "Finder"},
        DetectionCase{"OwnAndElectronSkipped", Windows({"kelvra", "My Electron App"}), "Other",
                      nullptr, nullptr},
        DetectionCase{"OwnNameContained", Windows({"kelvra-helper", "Finder"}), nullptr, nullptr,
                      "Finder"},
        DetectionCase{"MuXanSkipsItsName", Windows({"穆仙", "kelvra"}), "MuXan", nullptr, "kelvra"},
        DetectionCase{"IdentityCaseMatters", Windows({"kelvra", "穆仙"}), "muxan", nullptr, "穆仙"},
        DetectionCase{"OwnerlessSkipped", Windows({"", "Finder", ""}), nullptr, nullptr, "Finder"},
        DetectionCase{"EmptyList", {}, nullptr, nullptr, nullptr},
        // "" is recorded, yet a later name still replaces it.
        DetectionCase{"EmptyNameGivesWay",
                      {WindowInfo{""}, WindowInfo{"Finder"}},
                      nullptr,
                      nullptr,
                      "Finder"},
        DetectionCase{"EmptyNameAlone", {WindowInfo{""}}, nullptr, nullptr, ""}),
    [](const testing::TestParamInfo<DetectionCase>& info) { return info.param.name; });

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

struct PresenceCase {
  const char* name;
  std::vector<WindowInfo> all;
  const char* asked;
  const char* chose;
};
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
        PresenceCase{"Photoshop", Windows({"Finder", "Adobe Photoshop"}), "Photoshop", "Photoshop"},
        PresenceCase{"IllustratorMissing", Windows({"Adobe Photoshop"}), "Illustrator", nullptr},
        PresenceCase{"SketchNeverReported", Windows({"Sketch"}), "Sketch", nullptr},
        PresenceCase{"AskedNameContained", Windows({"Adobe Illustrator"}), "Adobe", "Illustrator"},
        PresenceCase{"FirstFoundStops", Windows({"", "Adobe Photoshop", "Adobe Illustrator"}),
                     "Adobe", "Photoshop"},
        PresenceCase{"AskedCaseMatters", Windows({"Adobe Photoshop"}), "photoshop", nullptr},
        PresenceCase{"EmptyList", {}, "Photoshop", nullptr},
        // A bad name fails only once there is an owner name to compare it with.
        PresenceCase{"NullAsked", Windows({"Adobe Photoshop"}), nullptr, ""},
        PresenceCase{"NullAskedNoOwner", Windows({""}), nullptr, nullptr},
        PresenceCase{"InvalidUtf8Asked", Windows({"Adobe Photoshop"}), "Photo\xffshop", ""}),
    [](const testing::TestParamInfo<PresenceCase>& info) { return info.param.name; });

TEST(Installed, AsksTheCatalogByTheGivenId) {
  ScopedFakeEnv env;
  env->apps.apps["com.adobe.Photoshop"] = {"/usr/share/applications/com.adobe.Photoshop.desktop"};
  EXPECT_TRUE(WindowsHelper::CheckSoftwareIsInstalled("com.adobe.Photoshop"));
  EXPECT_FALSE(WindowsHelper::CheckSoftwareIsInstalled("com.adobe.photoshop"));
  EXPECT_FALSE(WindowsHelper::CheckSoftwareIsInstalled(nullptr));
}

}  // namespace
}  // namespace vrk
