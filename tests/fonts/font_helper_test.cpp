// The font exports over the in-memory font manager.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "extension/NSStringEx.h"
#include "helper/JsonHelper.h"
#include "support/FakeEnv.h"
#include "vrkfont/VRKFont.h"

namespace vrk {
namespace {

using platform::kFontScopePersistent;
using platform::kFontScopeProcess;
using platform::kFontScopeSession;
using test::FontFace;

std::string Take(char* text) {
  std::string copy = text;
  if (text != ConstantEmptyString()) std::free(text);
  return copy;
}

class FontHelperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* font : {"/f/a.ttf", "/f/b.otf", "/f/c.ttc"}) {
      env_->files.AddFile(font, "font");
      env_->fonts.fontFiles.insert(font);
    }
    env_->files.AddFile("/f/readme.txt", "not a font");
  }
  test::FakeFontManager& fonts() { return env_->fonts; }

  test::ScopedFakeEnv env_;
};

TEST_F(FontHelperTest, RegisterAnswersOneFlagPerElement) {
  struct Case {
    const char* list;
    const char* flags;
    std::vector<std::string> log;
  };
  const Case cases[] = {
      {R"(["/f/a.ttf", "/missing.ttf", "/f/b.otf"])",
       "1|-|0|-|1",
       {"register 3 /f/a.ttf", "register 3 /f/b.otf"}},
      {R"(["/f/a.ttf", "/f/a.ttf"])", "1|-|1", {"register 3 /f/a.ttf", "register 3 /f/a.ttf"}},
      {R"(["/f/readme.txt"])", "0", {"register 3 /f/readme.txt"}},
      {R"([""])", "0", {}},
      {R"(["/f/c.ttc"])", "1", {"register 3 /f/c.ttc"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.list);
    fonts().scopes.clear();
    fonts().log.clear();
    EXPECT_EQ(Take(RegisterFont(c.list)), c.flags);
    EXPECT_EQ(fonts().log, c.log);
  }
}

TEST_F(FontHelperTest, UnreadableListsAnswerTheEmptyStringAndChangeNothing) {
  fonts().scopes["/f/a.ttf"] = kFontScopeSession;
  const char* lists[] = {nullptr,      "[]",  "{}", "5", "true", "not json", "[\"/f/a.ttf\", 5]",
                         "[\"\xff\"]", "\xff"};
  for (const char* list : lists) {
    SCOPED_TRACE(list ? list : "(null)");
    EXPECT_EQ(RegisterFont(list), ConstantEmptyString());
    EXPECT_EQ(UnRegisterFont(list), ConstantEmptyString());
  }
  for (const auto& entry : fonts().log) {
    // The empty list reaches the manager as empty calls only.
    EXPECT_EQ(entry.find("/f/"), std::string::npos) << entry;
  }
  EXPECT_EQ(fonts().ScopeForFile("/f/a.ttf"), kFontScopeSession);
}

TEST_F(FontHelperTest, RegisterMovesAFileAlreadyActiveIntoTheSession) {
  fonts().scopes["/f/a.ttf"] = kFontScopeSession;
  fonts().scopes["/f/b.otf"] = kFontScopePersistent;
  EXPECT_EQ(Take(RegisterFont(R"(["/f/a.ttf", "/f/b.otf", "/f/c.ttc"])")), "1|-|1|-|1");
  EXPECT_EQ(fonts().log, (std::vector<std::string>{"unregister 3 /f/a.ttf", "unregister 3 /f/b.otf",
                                                   "register 3 /f/a.ttf", "register 3 /f/b.otf",
                                                   "register 3 /f/c.ttc"}));
}

TEST_F(FontHelperTest, UnregisterLeavesEveryScope) {
  fonts().scopes = {{"/f/a.ttf", kFontScopeSession},
                    {"/f/b.otf", kFontScopePersistent},
                    {"/f/c.ttc", kFontScopeProcess}};
  fonts().failingUnregistrations.insert("/f/c.ttc");
  EXPECT_EQ(Take(UnRegisterFont(
                R"(["/f/a.ttf", "/f/b.otf", "/f/c.ttc", "/f/readme.txt", "/gone.ttf", ""])")),
            "1|-|1|-|0|-|1|-|0|-|0");
  EXPECT_EQ(fonts().log,
            (std::vector<std::string>{"unregister 3 /f/a.ttf", "unregister 3 /f/b.otf",
                                      "unregister 3 /f/c.ttc", "unregister 3 /f/readme.txt",
                                      "unregister-one 2 /f/b.otf", "unregister-one 1 /f/c.ttc"}));
  EXPECT_EQ(fonts().scopes, (std::map<std::string, uint32_t>{{"/f/c.ttc", kFontScopeProcess}}));
}

TEST_F(FontHelperTest, IsRegisteredAsksTheFileOrElseTheNames) {
  fonts().scopes["/f/a.ttf"] = kFontScopeSession;
  fonts().faces = {{"Alpha-Regular", "/f/b.otf", "Alpha", "Regular"}};
  struct Case {
    const char* path;
    const char* ps;
    const char* family;
    bool registered;
  };
  const Case cases[] = {
      {"/f/a.ttf", "nothing", "nothing", true},
      {"/f/b.otf", "Alpha-Regular", "Alpha", false},  // available, but not registered
      {"/missing.ttf", nullptr, nullptr, false},
      {"\xff", "Alpha-Regular", nullptr, false},
      {nullptr, "Alpha-Regular", nullptr, true},
      {nullptr, "alpha-regular", nullptr, false},
      {nullptr, "Other", "Alpha", true},
      {nullptr, nullptr, "Alpha", false},  // no PostScript name: families unasked
      {nullptr, "Other", "Other", false},
      {nullptr, "\xff", "\xff", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.path ? c.path : "(null)") + " " + (c.ps ? c.ps : "(null)"));
    EXPECT_EQ(FontIsRegistered(c.path, c.ps, c.family), c.registered);
  }
}

TEST_F(FontHelperTest, FindFontFormatsWhatTheManagerResolves) {
  fonts().faces = {{"Alpha-Regular", "/f/a.ttf", "Alpha", "Regular"},
                   {"Alpha-Bold", "/f/b.otf", "Alpha", "Bold"},
                   {"Bar-Regular", "/f/c.ttc", "A|-|B", "Regular"},
                   {"NoFamily", "/f/d.ttf", std::nullopt, "Regular"}};
  struct Case {
    const char* ps;
    const char* family;
    const char* answer;
  };
  const Case cases[] = {
      {"Alpha-Bold", nullptr, "Alpha|-|/f/b.otf"},  {nullptr, "Alpha", "Alpha|-|/f/a.ttf"},
      {"Alpha-Bold", "Alpha", "Alpha|-|/f/b.otf"},  {"Alpha-Bold", "Other", "(null)|-|(null)"},
      {"Missing", nullptr, "(null)|-|(null)"},      {nullptr, nullptr, "Alpha|-|/f/a.ttf"},
      {"Bar-Regular", nullptr, "A|-|B|-|/f/c.ttc"}, {"NoFamily", nullptr, "(null)|-|/f/d.ttf"},
      {"\xff", "Alpha", "Alpha|-|/f/a.ttf"},  // unreadable name: left open
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.ps ? c.ps : "(null)") + " " + (c.family ? c.family : "(null)"));
    EXPECT_EQ(Take(FindFont(c.ps, c.family)), c.answer);
  }
}

Json Inventory() {
  std::string text = Take(GetAvailableFonts());
  auto value = JsonHelper::jsonToObject(text);
  EXPECT_TRUE(value && value->is_array()) << text;
  return value ? *value : Json();
}

Json Record(const char* path, const char* ps, const char* family, const char* style) {
  return Json{{"path", path}, {"postscriptName", ps}, {"family", family}, {"style", style}};
}

TEST_F(FontHelperTest, InventoryKeepsTheFirstCompleteFaceOfEachName) {
  fonts().faces = {
      {"Dup", "/f/first.ttf", "First", "Regular"},
      {"Dup", "/f/second.ttf", "Second", "Regular"},
      {"Broken", "/f/nostyle.ttf", "Broken", std::nullopt},
      {"Broken", "", "Broken", "Regular"},
      {"Broken", "/f/good.ttf", "Broken", "Bold"},
      {std::nullopt, "/f/noname.ttf", "None", "Regular"},
      {"NoFamily", "/f/nofamily.ttf", std::nullopt, "Regular"},
      {"Trio-Light", "/f/c.ttc", "三体", "Light"},
      {"Trio-Bold", "/f/c.ttc", "三体", "Bold"},
  };
  Json expected = Json::array({Record("/f/first.ttf", "Dup", "First", "Regular"),
                               Record("/f/good.ttf", "Broken", "Broken", "Bold"),
                               Record("/f/c.ttc", "Trio-Light", "三体", "Light"),
                               Record("/f/c.ttc", "Trio-Bold", "三体", "Bold")});
  EXPECT_EQ(Inventory(), expected);
  EXPECT_EQ(fonts().languagesAsked, std::vector<std::string>{"zh-CN"});
}

TEST_F(FontHelperTest, InventoryCollectionIsMadeOnceAndAskedOnEveryCall) {
  EXPECT_EQ(Take(GetAvailableFonts()), "[]");
  fonts().faces = {{"Alpha-Regular", "/f/a/x.ttf", "Alpha", "Regular"}};
  std::string text = Take(GetAvailableFonts());
  EXPECT_NE(text.find(R"("\/f\/a\/x.ttf")"), std::string::npos) << text;
  EXPECT_EQ(fonts().collectionsCreated, 1);
  EXPECT_EQ(fonts().languagesAsked.size(), 2u);
}

}  // namespace
}  // namespace vrk
