// SPDX-License-Identifier: MIT
// The font exports over the in-memory font manager.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>

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

class FontHelperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* file : {"/f/a.ttf", "/f/b.otf", "/f/c.ttc", "/f/readme.txt"}) {
      env_->files.AddFile(file, "");
      if (file[3] != 'r') fonts().fontFiles.insert(file);
    }
  }
  test::FakeFontManager& fonts() { return env_->fonts; }
  // The calls the font manager saw, one a line.
  std::string Log() {
    std::string log;
    for (const auto& line : std::exchange(fonts().log, {})) log += line + "\n";
    return log;
  }
  test::ScopedFakeEnv env_;
};

TEST_F(FontHelperTest, RegisterAndUnregisterAnswerOneFlagPerElement) {
  using Scopes = std::map<std::string, platform::FontScope>;
  const std::tuple<bool, Scopes, const char*, const char*, const char*> cases[] = {
      {true,
       {},
       R"(["/f/a.ttf", "/missing.ttf", "/f/a.ttf", "/f/readme.txt", ""])",
       "1|-|0|-|1|-|0|-|0",
       "register 3 /f/a.ttf\nregister 3 /f/readme.txt\n"},
      // A file already active anywhere is moved into the session.
      {true,
       {{"/f/a.ttf", kFontScopeSession}, {"/f/b.otf", kFontScopePersistent}},
       R"(["/f/a.ttf", "/f/b.otf", "/f/c.ttc"])",
       "1|-|1|-|1",
       "unregister 3 /f/a.ttf\nunregister 3 /f/b.otf\nregister 3 /f/a.ttf\n"
       "register 3 /f/b.otf\nregister 3 /f/c.ttc\n"},
      // A missing file's link goes too; other scopes are left one by one.
      {false,
       {{"/f/b.otf", kFontScopePersistent}, {"/f/c.ttc", kFontScopeProcess}},
       R"(["/f/b.otf", "/f/c.ttc", "/x", "/f/b.otf"])",
       "1|-|0|-|0|-|1",
       "unregister 3 /f/b.otf\nunregister 3 /f/c.ttc\nunregister 3 /x\n"
       "unregister-one 2 /f/b.otf\nunregister-one 1 /f/c.ttc\n"},
  };
  fonts().failingUnregistrations.insert("/f/c.ttc");
  for (const auto& [registering, scopes, list, flags, log] : cases) {
    fonts().scopes = scopes;
    EXPECT_EQ(Take(registering ? RegisterFont(list) : UnRegisterFont(list)), flags) << list;
    EXPECT_EQ(Log(), log) << list;
  }
  for (const char* list : {"[]", "{}", "not json", "[\"/f/a.ttf\", 5]", "[\"\xff\"]", "\xff"}) {
    EXPECT_EQ(Take(RegisterFont(list)) + Take(UnRegisterFont(list)), "") << list;
  }
  EXPECT_EQ(RegisterFont(nullptr), ConstantEmptyString());
  EXPECT_EQ(UnRegisterFont(nullptr), ConstantEmptyString());
  EXPECT_EQ(Log(), "");
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
      {nullptr, "\xff", "Alpha", true},
      {nullptr, nullptr, "Alpha", false},  // no PostScript name: families unasked
  };
  for (const auto& [path, ps, family, registered] : cases) {
    EXPECT_EQ(FontIsRegistered(path, ps, family), registered) << (path ? path : ps ? ps : "-");
  }
}

TEST_F(FontHelperTest, InventoryKeepsTheFirstCompleteFaceOfEachName) {
  EXPECT_EQ(Take(GetAvailableFonts()), "[]");
  fonts().faces = {{"Dup", "/f/first.ttf", "First", "Regular"},
                   {"Dup", "/f/second.ttf", "Second", "Regular"},
                   {"Broken", "/f/nostyle.ttf", "Broken", std::nullopt},
                   {"Broken", "", "Broken", "Regular"},
                   {"Broken", "/f/good.ttf", "Broken", "Bold"},
                   {std::nullopt, "/f/noname.ttf", "N", "Regular"},
                   {"NoFamily", "/f/nofamily.ttf", std::nullopt, "Regular"}};
  EXPECT_EQ(test::TakeJson(GetAvailableFonts()), nlohmann::json::parse(R"([
      {"path": "/f/first.ttf", "postscriptName": "Dup", "family": "First", "style": "Regular"},
      {"path": "/f/good.ttf", "postscriptName": "Broken", "family": "Broken", "style": "Bold"}])"));
  // One collection for the process, asked again on every call.
  EXPECT_EQ(fonts().collectionsCreated, 1);
  EXPECT_EQ(fonts().languagesAsked, (std::vector<std::string>{"zh-CN", "zh-CN"}));
}

}  // namespace
}  // namespace vrk
