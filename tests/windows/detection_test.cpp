// SPDX-License-Identifier: MIT
// The host rules over an in-memory window list.
#include <gtest/gtest.h>

#include "helper/GlobalHelper.h"
#include "helper/WindowsHelper.h"
#include "support/FakeEnv.h"

namespace vrk {
namespace {

using platform::WindowInfo;

// Owners frontmost first: nullptr has none, a leading '*' marks the caller's own.
std::vector<WindowInfo> L(std::initializer_list<const char*> owners) {
  std::vector<WindowInfo> list;
  for (const char* o : owners)
    list.push_back(!o ? WindowInfo{} : WindowInfo{o + (*o == '*'), *o == '*'});
  return list;
}

// A list that fails once handed over in full, as one the server cut short.
struct CutList : test::FakeWindowList {
  bool whole = true;
  bool VisitOnScreen(const Visitor& v) override { return WindowList::VisitOnScreen(v) && whole; }
  bool VisitAll(const Visitor& v) override { return WindowList::VisitAll(v) && whole; }
};

struct Row {
  const char* name;
  std::vector<WindowInfo> windows;
  const char* text;  // the caller's identity for detection, the name asked for presence
  bool whole;
  std::string expected;  // "chose,unsupported" for detection, "chose" for presence; "-": no key
};
void PrintTo(const Row& r, std::ostream* os) {
  *os << r.name;
}
class Detection : public testing::TestWithParam<Row> {};

TEST_P(Detection, NamesTheHost) {
  const Row& r = GetParam();
  test::ScopedFakeEnv env;
  CutList list;
  list.onScreen = list.all = r.windows;
  list.whole = r.whole;
  env->UseWindows(&list);
  size_t comma = r.expected.find(',');
  Json expected = Json::object();
  if (r.expected.substr(0, comma) != "-") expected["choseAppName"] = r.expected.substr(0, comma);
  if (comma == std::string::npos) {
    EXPECT_EQ(WindowsHelper::EnumWindowsCheckAppNameExist(r.text), expected);
    return;
  }
  if (r.expected.substr(comma + 1) != "-")
    expected["unsupportedAppNames"] = r.expected.substr(comma + 1);
  GlobalHelper::SetAppName(TextFromC(r.text));
  EXPECT_EQ(WindowsHelper::EnumWindows(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Detection,
    testing::Values(
        Row{"HostBehindOther", L({"Finder", "Adobe Photoshop", "Word"}), "", 1, "Photoshop,"},
        Row{"StackingBeatsRuleOrder", L({"Microsoft Word", "Adobe Illustrator"}), "", 1, "Word,"},
        Row{"RuleOrderInOneName", L({"Word Photoshop"}), "", 1, "Photoshop,"},
        Row{"XDOnlyByEquality", L({"Adobe XD", "XD"}), "", 1, "AdobeXD,"},
        Row{"KeynoteAfterXD", L({"Keynote"}), "", 1, "Keynote,"},
        Row{"CaseMatters", L({"photoshop"}), "", 1, "-,photoshop"},
        Row{"FirstUnsupportedKept", L({nullptr, "Finder", "Safari"}), "", 1, "-,Finder"},
        Row{"OwnElectronCallerSkipped", L({"*F", "kelvra-x", "My Electron", "Safari"}), "", 1,
            "-,Safari"},
        Row{"OwnNameByIdentity", L({"穆仙", "kelvra"}), "MuXan", 1, "-,kelvra"},
        Row{"EmptyNameGivesWay", {WindowInfo{""}, WindowInfo{"Finder"}}, "", 1, "-,Finder"},
        Row{"EmptyNameAlone", {WindowInfo{""}}, "", 1, "-,"},
        Row{"CutListIsNoList", L({"Adobe Photoshop"}), "", 0, "-,-"},
        Row{"FirstHostPresent", L({nullptr, "Finder", "Adobe Illustrator", "Adobe Photoshop"}),
            "Adobe", 1, "Illustrator"},
        Row{"AskedNameMustMatch", L({"Adobe Photoshop"}), "Illustrator", 1, "-"},
        Row{"OtherHostsNeverPresent", L({"Sketch"}), "Sketch", 1, "-"},
        Row{"BadNameFailsAtAnOwner", L({"Adobe Photoshop"}), nullptr, 1, ""},
        Row{"BadNameWithoutOwners", L({nullptr}), nullptr, 1, "-"},
        Row{"CutListIsNoPresence", L({"Adobe Photoshop"}), "Photoshop", 0, "-"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vrk
