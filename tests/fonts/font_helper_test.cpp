// SPDX-License-Identifier: MIT
// The font exports over the in-memory font manager.
#include <gtest/gtest.h>

#include <tuple>

#include "support/FakeEnv.h"
#include "support/World.h"
#include "vrkfont/VRKFont.h"

namespace vrk::test {
namespace {

class FontHelperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* file : {"/a", "/b", "/c", "/r"}) env_->files.AddFile(file, "");
    fonts().fontFiles = {"/a", "/b", "/c"};
  }
  FakeFontManager& fonts() { return env_->fonts; }
  ScopedFakeEnv env_;
};

TEST_F(FontHelperTest, RegisterAndUnregisterAnswerOneFlagPerElement) {
  // Registering or not, the scopes before ("b2": "/b" in 2), list, flags, calls.
  // clang-format off
  const std::tuple<bool, std::string, const char*, const char*, std::vector<std::string>> rows[] = {
      {true, "", R"(["/a","/m","/a","/r",""])", "1|-|0|-|1|-|0|-|0",
       {"register 3 /a", "register 3 /r"}},
      // A file already active anywhere is moved into the session.
      {true, "a3b2", R"(["/a","/b","/c"])", "1|-|1|-|1",
       {"unregister 3 /a", "unregister 3 /b", "register 3 /a", "register 3 /b", "register 3 /c"}},
      // A missing file's link goes too; other scopes are left one by one.
      {false, "b2c1", R"(["/b","/c","/m","/b"])", "1|-|0|-|0|-|1",
       {"unregister 3 /b", "unregister 3 /c", "unregister 3 /m", "unregister-one 2 /b",
        "unregister-one 1 /c"}},
  };
  // clang-format on
  fonts().failingUnregistrations.insert("/c");
  for (const auto& [registering, scopes, list, flags, log] : rows) {
    fonts().scopes.clear();
    for (size_t i = 0; i < scopes.size(); i += 2)
      fonts().scopes[std::string{'/', scopes[i]}] = platform::FontScope(scopes[i + 1] - '0');
    EXPECT_EQ(Take(registering ? RegisterFont(list) : UnRegisterFont(list)), flags) << list;
    EXPECT_EQ(std::exchange(fonts().log, {}), log) << list;
  }
  for (const char* list : {"[]", "{}", "not json", "[\"/a\", 5]", "[\"\xff\"]", "\xff"})
    EXPECT_EQ(Take(RegisterFont(list)) + Take(UnRegisterFont(list)), "") << list;
  EXPECT_EQ(Take(RegisterFont(nullptr)) + Take(UnRegisterFont(nullptr)), "");
  EXPECT_TRUE(fonts().log.empty());
}

TEST_F(FontHelperTest, IsRegisteredAsksTheFileOrElseTheNames) {
  fonts().scopes = {{"/a", platform::kFontScopeSession}, {"/gone", platform::kFontScopeSession}};
  fonts().faces = {{"Alpha-Regular", "/b", "Alpha", "Regular"}};
  const std::tuple<const char*, const char*, const char*, bool> cases[] = {
      {"/a", "nothing", "nothing", true},
      {"/b", "Alpha-Regular", "Alpha", false},  // available, but not registered
      {"/gone", nullptr, nullptr, false},
      {nullptr, "Alpha-Regular", nullptr, true},
      {nullptr, "\xff", "Alpha", true},
      {nullptr, nullptr, "Alpha", false},  // no PostScript name: families unasked
  };
  for (const auto& [path, ps, family, registered] : cases)
    EXPECT_EQ(FontIsRegistered(path, ps, family), registered) << (path ? path : ps ? ps : "-");
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
  EXPECT_EQ(TakeJson(GetAvailableFonts()), nlohmann::json::parse(R"([
      {"path": "/f/first.ttf", "postscriptName": "Dup", "family": "First", "style": "Regular"},
      {"path": "/f/good.ttf", "postscriptName": "Broken", "family": "Broken", "style": "Bold"}])"));
  // One collection for the process, asked again on every call.
  EXPECT_EQ(fonts().collectionsCreated, 1);
}

}  // namespace
}  // namespace vrk::test
