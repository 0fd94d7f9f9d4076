#include <gtest/gtest.h>

#include <stdexcept>

#include "helper/GlobalHelper.h"
#include "helper/WindowsHelper.h"
#include "support/FakeEnv.h"

namespace vrk {
namespace {

using test::ScopedFakeEnv;
using test::Windows;

// A key that is missing is written as null here, so one JSON literal states
// both which keys exist and what they hold.
Json Expected(const char* text) {
  Json want = Json::parse(text);
  Json object = Json::object();
  for (auto& [key, value] : want.items()) {
    if (!value.is_null()) object[key] = value;
  }
  return object;
}

struct DetectionCase {
  const char* name;
  std::vector<platform::WindowInfo> onScreen;  // frontmost first
  Text identity;
  const char* want;
};

// Test names and failure messages show the case by its name.
void PrintTo(const DetectionCase& c, std::ostream* os) {
  *os << c.name;
}

class Detection : public testing::TestWithParam<DetectionCase> {};

TEST_P(Detection, NamesTheFrontmostHost) {
  const DetectionCase& c = GetParam();
  ScopedFakeEnv env;
  env->windows.onScreen = c.onScreen;
  GlobalHelper::SetAppName(c.identity);
  EXPECT_EQ(WindowsHelper::EnumWindows(), Expected(c.want));
}

const char* const kNone = R"({"choseAppName": null, "unsupportedAppNames": null})";

INSTANTIATE_TEST_SUITE_P(
    Table, Detection,
    testing::Values(
        DetectionCase{"HostBehindOtherApp", Windows({"Finder", "Adobe Photoshop"}), std::nullopt,
                      R"({"choseAppName": "Photoshop", "unsupportedAppNames": ""})"},
        DetectionCase{"FrontmostHostNotTableOrder",
                      Windows({"Microsoft Word", "Adobe Illustrator"}), std::nullopt,
                      R"({"choseAppName": "Word", "unsupportedAppNames": ""})"},
        DetectionCase{"AfterEffectsLosesItsSpace", Windows({"Adobe After Effects 2024"}),
                      std::nullopt,
                      R"({"choseAppName": "AfterEffects", "unsupportedAppNames": ""})"},
        DetectionCase{"AdobeXDIsNotXD", Windows({"Adobe XD"}), std::nullopt,
                      R"({"choseAppName": null, "unsupportedAppNames": "Adobe XD"})"},
        DetectionCase{"XDExactly", Windows({"Adobe XD", "XD"}), std::nullopt,
                      R"({"choseAppName": "AdobeXD", "unsupportedAppNames": ""})"},
        DetectionCase{"TableOrderWithinOneName", Windows({"Word Photoshop"}), std::nullopt,
                      R"({"choseAppName": "Photoshop", "unsupportedAppNames": ""})"},
        DetectionCase{"WordPressIsWord", Windows({"WordPress"}), std::nullopt,
                      R"({"choseAppName": "Word", "unsupportedAppNames": ""})"},
        DetectionCase{"SketchUpIsSketch", Windows({"SketchUp"}), std::nullopt,
                      R"({"choseAppName": "Sketch", "unsupportedAppNames": ""})"},
        DetectionCase{"CaseMatters", Windows({"photoshop", "KEYNOTE"}), std::nullopt,
                      R"({"choseAppName": null, "unsupportedAppNames": "photoshop"})"},
        DetectionCase{"EveryHost", Windows({"InDesign", "PowerPoint", "Keynote"}), std::nullopt,
                      R"({"choseAppName": "InDesign", "unsupportedAppNames": ""})"},
        DetectionCase{"FrontmostUnsupported", Windows({"Finder", "Safari"}), std::nullopt,
                      R"({"choseAppName": null, "unsupportedAppNames": "Finder"})"},
        DetectionCase{"OwnWindowsAndElectronSkipped",
                      Windows({"kelvra", "Electron", "My Electron App"}), std::nullopt, kNone},
        DetectionCase{"OwnNameIsContained", Windows({"kelvra-helper", "Finder"}), "Other",
                      R"({"choseAppName": null, "unsupportedAppNames": "Finder"})"},
        DetectionCase{"MuXanSkipsItsOwnName", Windows({"穆仙", "kelvra"}), "MuXan",
                      R"({"choseAppName": null, "unsupportedAppNames": "kelvra"})"},
        DetectionCase{"IdentityCaseMatters", Windows({"kelvra", "穆仙"}), "muxan",
                      R"({"choseAppName": null, "unsupportedAppNames": "穆仙"})"},
        DetectionCase{"WindowsWithoutOwnerSkipped", Windows({"", "", "Finder", ""}), std::nullopt,
                      R"({"choseAppName": null, "unsupportedAppNames": "Finder"})"},
        DetectionCase{"OnlyOwnerlessWindows", Windows({"", ""}), std::nullopt, kNone},
        DetectionCase{"EmptyList", {}, std::nullopt, kNone},
        // An empty name is recorded but does not block a later one.
        DetectionCase{"EmptyOwnerNameGivesWay",
                      {platform::WindowInfo{std::string()}, platform::WindowInfo{"Finder"}},
                      std::nullopt,
                      R"({"choseAppName": null, "unsupportedAppNames": "Finder"})"},
        DetectionCase{"EmptyOwnerNameAlone",
                      {platform::WindowInfo{std::string()}},
                      std::nullopt,
                      R"({"choseAppName": null, "unsupportedAppNames": ""})"}),
    [](const testing::TestParamInfo<DetectionCase>& info) { return info.param.name; });

// The identity belongs to the moment of the walk, not to the call's start.
class RenamingWindowList : public test::FakeWindowList {
 public:
  std::vector<platform::WindowInfo> OnScreenWindows() override {
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
            Expected(R"({"choseAppName": null, "unsupportedAppNames": "kelvra"})"));
}

class ThrowingWindowList : public platform::WindowList {
 public:
  std::vector<platform::WindowInfo> OnScreenWindows() override {
    throw std::runtime_error("window server gone");
  }
  std::vector<platform::WindowInfo> AllWindows() override {
    throw std::runtime_error("window server gone");
  }
};

TEST(DetectionFailure, AnswersTheResultAsItStood) {
  ScopedFakeEnv env;
  ThrowingWindowList list;
  env->UseWindows(&list);
  EXPECT_EQ(WindowsHelper::EnumWindows(),
            Expected(R"({"choseAppName": "", "unsupportedAppNames": ""})"));
  EXPECT_EQ(WindowsHelper::EnumWindowsCheckAppNameExist("Photoshop"),
            Expected(R"({"choseAppName": ""})"));
}

struct PresenceCase {
  const char* name;
  std::vector<platform::WindowInfo> all;
  const char* asked;
  const char* want;
};

// Test names and failure messages show the case by its name.
void PrintTo(const PresenceCase& c, std::ostream* os) {
  *os << c.name;
}

class Presence : public testing::TestWithParam<PresenceCase> {};

TEST_P(Presence, FindsPhotoshopOrIllustrator) {
  const PresenceCase& c = GetParam();
  ScopedFakeEnv env;
  env->windows.all = c.all;
  EXPECT_EQ(WindowsHelper::EnumWindowsCheckAppNameExist(c.asked), Expected(c.want));
}

const char* const kAbsent = R"({"choseAppName": null})";

INSTANTIATE_TEST_SUITE_P(
    Table, Presence,
    testing::Values(
        PresenceCase{"Photoshop", Windows({"Finder", "Adobe Photoshop 2024"}), "Photoshop",
                     R"({"choseAppName": "Photoshop"})"},
        PresenceCase{"IllustratorNotThere", Windows({"Adobe Photoshop"}), "Illustrator", kAbsent},
        PresenceCase{"SketchIsNoPresenceHost", Windows({"Sketch"}), "Sketch", kAbsent},
        PresenceCase{"AskedNameOnlyContained", Windows({"Adobe Illustrator"}), "Adobe",
                     R"({"choseAppName": "Illustrator"})"},
        PresenceCase{"OwnerDecidesNotAskedName", Windows({"Adobe Photoshop"}), "Adobe",
                     R"({"choseAppName": "Photoshop"})"},
        PresenceCase{"FirstFoundStops", Windows({"Adobe Illustrator", "Adobe Photoshop"}), "Adobe",
                     R"({"choseAppName": "Illustrator"})"},
        PresenceCase{"AskedCaseMatters", Windows({"Adobe Photoshop"}), "photoshop", kAbsent},
        PresenceCase{"OwnerlessSkipped", Windows({"", "Adobe Photoshop"}), "Photoshop",
                     R"({"choseAppName": "Photoshop"})"},
        PresenceCase{"EmptyList", {}, "Photoshop", kAbsent},
        PresenceCase{"EmptyAskedMatchesAll", Windows({"Finder", "Adobe Illustrator"}), "",
                     R"({"choseAppName": "Illustrator"})"},
        // A bad name fails only once a window is compared with it.
        PresenceCase{"NullAskedWithWindow", Windows({"Adobe Photoshop"}), nullptr,
                     R"({"choseAppName": ""})"},
        PresenceCase{"NullAskedNoOwnedWindow", Windows({""}), nullptr, kAbsent},
        PresenceCase{"InvalidUtf8Asked", Windows({"Adobe Photoshop"}), "Photo\xffshop",
                     R"({"choseAppName": ""})"}),
    [](const testing::TestParamInfo<PresenceCase>& info) { return info.param.name; });

TEST(Installed, AsksTheCatalogByTheGivenId) {
  ScopedFakeEnv env;
  env->apps.apps["com.adobe.Photoshop"] = {"/usr/share/applications/com.adobe.Photoshop.desktop"};
  EXPECT_TRUE(WindowsHelper::CheckSoftwareIsInstalled("com.adobe.Photoshop"));
  EXPECT_FALSE(WindowsHelper::CheckSoftwareIsInstalled("com.adobe.photoshop"));
  EXPECT_FALSE(WindowsHelper::CheckSoftwareIsInstalled(nullptr));
  EXPECT_FALSE(WindowsHelper::CheckSoftwareIsInstalled("com.adobe.\xff"));
}

}  // namespace
}  // namespace vrk
