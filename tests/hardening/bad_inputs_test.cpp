// SPDX-License-Identifier: MIT
// Every export against bad inputs, each placed in turn where the export takes
// text, a script path or a font path. Whatever the input, each answers a
// value of its own kind (an envelope, flags for every path, UTF-8 text, "1" or
// "0"), never crashes, and leaves the user's files as they were.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>

#include "Sandbox.h"
#include "extension/Text.h"
#include "helper/JsonHelper.h"
#include "platform/linux/LinuxPlatform.h"
#include "support/FakeEnv.h"
#include "vrkfont/VRKFont.h"

namespace vrk::hardening {
namespace {

namespace fs = std::filesystem;

// A text answer: never NULL, and UTF-8 whatever the input held.
std::string TextOf(char* text) {
  EXPECT_NE(text, nullptr);
  if (text == nullptr) return "";
  std::string value = Take(text);
  EXPECT_TRUE(IsValidUtf8(value));
  return value;
}

void IsEnvelope(char* answer) {
  auto value = JsonHelper::jsonToObject(TextOf(answer));
  ASSERT_TRUE(value && value->is_object());
  EXPECT_TRUE(value->value("code", Json()).is_string());
  EXPECT_TRUE(value->value("msg", Json()).is_string());
}

void IsFlags(char* answer, int paths) {
  std::string flags = TextOf(answer);
  if (!flags.empty()) {
    EXPECT_EQ(FlagCount(flags), paths) << flags;
  }
}

// A one-element JSON list holding the bytes as they are, valid or not.
std::string ListText(const char* value) {
  if (value == nullptr) return "[null]";
  std::string out = "[\"";
  for (const char* p = value; *p; ++p) {
    if (*p == '"' || *p == '\\') out += '\\';
    if (static_cast<unsigned char>(*p) < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", *p);
      out += esc;
    } else {
      out += *p;
    }
  }
  return out + "\"]";
}

// Every file under the folder, with what a change would alter.
std::map<std::string, std::string> FilesUnder(const std::string& folder) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    struct stat st;
    if (::lstat(it->path().c_str(), &st) != 0) continue;
    files[it->path()] = std::to_string(st.st_mode) + ":" + std::to_string(st.st_size) + ":" +
                        std::to_string(st.st_mtim.tv_sec) + "." +
                        std::to_string(st.st_mtim.tv_nsec);
  }
  return files;
}

struct Input {
  const char* name;
  std::function<std::string()> make;  // empty function: null
};

TEST(BadInputs, EveryExportAnswersItsKindAndLeavesTheUsersFiles) {
  Sandbox box;
  FixedWindows photoshop({"Adobe Photoshop 2024"}, {"Adobe Photoshop 2024", "Adobe Illustrator"});
  FixedWindows sketch({"Sketch"}, {"Sketch"});
  auto files = platform::NewLinuxFileSystem();
  auto apps = platform::NewDesktopAppCatalog();
  auto lua = platform::NewLuaScriptRunner();
  test::ScopedFakeEnv env;
  env->UseFiles(files.get());
  env->UseWindows(&photoshop);
  env->UseApps(apps.get());
  env->UseScripts(lua.get());
  env->UseFonts(&platform::Env::Default().Fonts());
  const std::string plugins = box.Path("data/com.bohemiancoding.sketch3/Plugins");
  fs::create_directories(plugins);

  const Input inputs[] = {
      {"null", nullptr},
      {"empty", [] { return std::string(); }},
      {"invalid UTF-8", [] { return std::string("ab\xFF\xFE"); }},
      {"overlong UTF-8", [] { return std::string("..\xC0\xAF..\xC0\xAF\x65tc"); }},
      {"control characters", [] { return std::string("a\x01\x1B[2J\n\t\x7F-b"); }},
      {"10 MB text", [] { return std::string(10 << 20, 'a'); }},
      {"nested JSON", [] { return std::string(100000, '[') + std::string(100000, ']'); }},
      {"path with ..",
       [&b = box] {
         b.CopyFont("alpha/VrkAlpha-Bold.ttf", "user/VrkAlpha-Bold.ttf");
         return b.Path("run/../user/../user/VrkAlpha-Bold.ttf");
       }},
      {"link loop",
       [&b = box] {
         fs::create_symlink(b.Path("loop2"), b.Path("loop1"));
         fs::create_symlink(b.Path("loop1"), b.Path("loop2"));
         return b.Path("loop1");
       }},
      {"truncated font",
       [&b = box] {
         std::string font = b.CopyFont("han/VrkHan-Regular.ttf", "user/cut.ttf");
         fs::resize_file(font, fs::file_size(font) / 2);
         return font;
       }},
      {"folder", [&b = box] { return b.Path("user"); }},
  };

  const std::string script = box.Script();
  const char* s = script.c_str();
  SetAppName("Tester");
  for (const Input& input : inputs) {
    SCOPED_TRACE(input.name);
    std::optional<std::string> value;
    if (input.make) value = input.make();
    const char* v = value ? value->c_str() : nullptr;
    const auto before = FilesUnder(box.Path("user"));

    EXPECT_STREQ(SetAppName(v), "1");
    TextOf(GetAppName());
    SetAppName("Tester");
    IsEnvelope(SetSoftwareFont(v, v, v, s, v));
    IsEnvelope(SetSoftwareFont("F", "", "", v, ""));
    env->UseWindows(&sketch);
    IsEnvelope(SetSoftwareFont(v, "", "", s, v));
    env->UseWindows(&photoshop);
    IsEnvelope(SetSoftwareBatchFonts(v, s));
    IsEnvelope(SetSoftwareBatchFonts("{}", v));
    IsEnvelope(SetSoftwareDoJs(v, v, s));
    IsEnvelope(SetSoftwareDoJs("1", "2", v));
    TextOf(GetSoftwareFilePath(v));
    IsEnvelope(GetSoftwareFileFonts(v));
    IsFlags(RegisterFont(v), 1);
    IsFlags(RegisterFont(ListText(v).c_str()), 1);
    FontIsRegistered(v, nullptr, nullptr);
    IsFlags(UnRegisterFont(ListText(v).c_str()), 1);
    IsFlags(UnRegisterFont(v), 1);
    FontIsRegistered(nullptr, v, v);
    std::string found = TextOf(FindFont(v, v));
    EXPECT_NE(found.find("|-|"), std::string::npos) << found;
    char* installed = CheckSoftwareIsInstalled(v);
    EXPECT_TRUE(std::strcmp(installed, "1") == 0 || std::strcmp(installed, "0") == 0);

    // Nothing of the user's changed, and the fonts are still all there.
    EXPECT_EQ(FilesUnder(box.Path("user")), before);
    auto list = JsonHelper::jsonToObject(TextOf(GetAvailableFonts()));
    EXPECT_TRUE(list && list->is_array() && !list->empty());
    std::error_code ec;
    fs::remove_all(plugins + "/KelvraSetFont.sketchplugin", ec);
  }
}

}  // namespace
}  // namespace vrk::hardening
