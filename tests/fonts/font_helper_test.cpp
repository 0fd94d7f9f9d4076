// SPDX-License-Identifier: MIT
// The font exports over the in-memory font manager.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "extension/Text.h"
#include "support/FakeEnv.h"
#include "support/World.h"
#include "vrkfont/VRKFont.h"

namespace vrk {
namespace {

using platform::kFontScopePersistent;
using platform::kFontScopeProcess;
using platform::kFontScopeSession;
using test::Take;
using Log = std::vector<std::string>;
using Scopes = std::map<std::string, platform::FontScope>;

class FontHelperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* font : {"/f/a.ttf", "/f/b.otf", "/f/c.ttc"}) {
      env_->files.AddFile(font, "font");
      fonts().fontFiles.insert(font);
    }
    env_->files.AddFile("/f/readme.txt", "not a font");
  }
  test::FakeFontManager& fonts() { return env_->fonts; }
  test::ScopedFakeEnv env_;
};

TEST_F(FontHelperTest, RegisterAndUnregisterAnswerOneFlagPerElement) {
  const std::tuple<bool, Scopes, const char*, const char*, Log> cases[] = {
      {true,
       {},
       R"(["/f/a.ttf", "/missing.ttf", "/f/a.ttf", "/f/readme.txt", ""])",
       "1|-|0|-|1|-|0|-|0",
       {"register 3 /f/a.ttf", "register 3 /f/readme.txt"}},
      // A file already active anywhere is moved into the session.
      {true,
       {{"/f/a.ttf", kFontScopeSession}, {"/f/b.otf", kFontScopePersistent}},
       R"(["/f/a.ttf", "/f/b.otf", "/f/c.ttc"])",
       "1|-|1|-|1",
       {"unregister 3 /f/a.ttf", "unregister 3 /f/b.otf", "register 3 /f/a.ttf",
        "register 3 /f/b.otf", "register 3 /f/c.ttc"}},
      // A missing file's registration goes too; other scopes are left one by one.
      {false,
       {{"/f/a.ttf", kFontScopeSession},
        {"/f/b.otf", kFontScopePersistent},
        {"/f/c.ttc", kFontScopeProcess}},
       R"(["/f/a.ttf", "/f/b.otf", "/f/c.ttc", "/x", "/f/b.otf"])",
       "1|-|1|-|0|-|0|-|1",
       {"unregister 3 /f/a.ttf", "unregister 3 /f/b.otf", "unregister 3 /f/c.ttc",
        "unregister 3 /x", "unregister-one 2 /f/b.otf", "unregister-one 1 /f/c.ttc"}},
  };
  fonts().failingUnregistrations.insert("/f/c.ttc");
  for (const auto& [registering, scopes, list, flags, log] : cases) {
    fonts().scopes = scopes;
    fonts().log.clear();
    EXPECT_EQ(Take(registering ? RegisterFont(list) : UnRegisterFont(list)), flags) << list;
    EXPECT_EQ(fonts().log, log) << list;
  }
}

TEST_F(FontHelperTest, UnreadableListsAnswerTheEmptyStringAndChangeNothing) {
  fonts().scopes["/f/a.ttf"] = kFontScopeSession;
  for (const char* list : {(const char*)nullptr, "[]", "{}", "not json", "[\"/f/a.ttf\", 5]",
                           "[\"/f/a.ttf\", \"\xff\"]"}) {
    EXPECT_EQ(RegisterFont(list), ConstantEmptyString()) << (list ? list : "(null)");
    EXPECT_EQ(UnRegisterFont(list), ConstantEmptyString()) << (list ? list : "(null)");
  }
  EXPECT_EQ(fonts().log, Log{});
}

TEST_F(FontHelperTest, IsRegisteredAsksTheFileOrElseTheNames) {
  fonts().scopes = {{"/f/a.ttf", kFontScopeSession}, {"/gone.ttf", kFontScopeSession}};
  fonts().faces = {{"Alpha-Regular", "/f/b.otf", "Alpha", "Regular"}};
  const std::tuple<const char*, const char*, const char*, bool> cases[] = {
      {"/f/a.ttf", "nothing", "nothing", true},
      {"/f/b.otf", "Alpha-Regular", "Alpha", false},  // available, but not registered
      {"/gone.ttf", nullptr, nullptr, false},
      {nullptr, "Alpha-Regular", nullptr, true},
      {nullptr, "alpha-regular", nullptr, false},
      {nullptr, "Other", "Alpha", true},
      {nullptr, "\xff", "Alpha", true},
      {nullptr, nullptr, "Alpha", false},  // no PostScript name: families unasked
  };
  for (const auto& [path, ps, family, registered] : cases) {
    EXPECT_EQ(FontIsRegistered(path, ps, family), registered)
        << (path ? path : "-") << " " << (ps ? ps : "-") << " " << (family ? family : "-");
  }
}

TEST_F(FontHelperTest, FindFontWritesMissingPartsAsNull) {
  fonts().faces = {{"Alpha-Bold", "/f/b.otf", "A|-|B", "Bold"},
                   {"NoFamily", "/f/d.ttf", std::nullopt, "Regular"}};
  EXPECT_EQ(Take(FindFont("Alpha-Bold", nullptr)), "A|-|B|-|/f/b.otf");
  EXPECT_EQ(Take(FindFont("NoFamily", "\xff")), "(null)|-|/f/d.ttf");  // bad name: left open
  EXPECT_EQ(Take(FindFont("Missing", nullptr)), "(null)|-|(null)");
}

Json Record(const char* path, const char* ps, const char* family, const char* style) {
  return Json{{"path", path}, {"postscriptName", ps}, {"family", family}, {"style", style}};
}

TEST_F(FontHelperTest, InventoryKeepsTheFirstCompleteFaceOfEachName) {
  EXPECT_EQ(Take(GetAvailableFonts()), "[]");
  fonts().faces = {
      {"Dup", "/f/first.ttf", "First", "Regular"},
      {"Dup", "/f/second.ttf", "Second", "Regular"},
      {"Broken", "/f/nostyle.ttf", "Broken", std::nullopt},
      {"Broken", "", "Broken", "Regular"},
      {"Broken", "/f/good.ttf", "Broken", "Bold"},
      {std::nullopt, "/f/noname.ttf", "N", "Regular"},
      {"NoFamily", "/f/nofamily.ttf", std::nullopt, "Regular"},
      {"Trio-Light", "/f/c.ttc", "三体", "Light"},
      {"Trio-Bold", "/f/c.ttc", "三体", "Bold"},
  };
  EXPECT_EQ(test::TakeJson(GetAvailableFonts()),
            Json::array({Record("/f/first.ttf", "Dup", "First", "Regular"),
                         Record("/f/good.ttf", "Broken", "Broken", "Bold"),
                         Record("/f/c.ttc", "Trio-Light", "三体", "Light"),
                         Record("/f/c.ttc", "Trio-Bold", "三体", "Bold")}));
  // One collection for the process, asked again on every call.
  EXPECT_EQ(fonts().collectionsCreated, 1);
  EXPECT_EQ(fonts().languagesAsked, (Log{"zh-CN", "zh-CN"}));
}

}  // namespace
}  // namespace vrk
