// SPDX-License-Identifier: MIT
// Every export against a table of bad inputs, each placed in turn where the
// export takes text, a script path or a font path. What each answered is kept
// in bad_inputs.table; a changed answer fails the test, and a crash, a NULL,
// a broken envelope or a wrong number of flags fails it outright.
//   VRK_WRITE_TABLE=FILE writes the answers seen to FILE.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "Sandbox.h"
#include "helper/JsonHelper.h"
#include "platform/linux/LinuxPlatform.h"
#include "support/FakeEnv.h"
#include "vrkfont/VRKFont.h"

namespace vrk::hardening {
namespace {

namespace fs = std::filesystem;

// Printable ASCII as it is, other bytes as \xNN; long answers cut short.
std::string Show(const std::string& text, size_t limit = 120) {
  std::string out;
  for (unsigned char c : text.substr(0, limit)) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  if (text.size() > limit) out += "...(" + std::to_string(text.size()) + " bytes)";
  return out;
}

std::string ShowText(char* text) {
  if (text == ConstantEmptyString()) return "<empty>";
  return "\"" + Show(Take(text)) + "\"";
}

// An envelope, compact; anything else is an error.
std::string ShowEnvelope(char* text) {
  std::string json = Take(text);
  auto value = JsonHelper::jsonToObject(json);
  if (!value || !value->is_object() || !value->value("code", Json()).is_string() ||
      !value->value("msg", Json()).is_string()) {
    ADD_FAILURE() << "not an envelope: " << Show(json);
  }
  return value ? Show(value->dump(), 400) : "NOT JSON " + Show(json);
}

std::string ShowFlags(char* text, int expected) {
  std::string flags = Take(text);
  if (!flags.empty() && FlagCount(flags) != expected) {
    ADD_FAILURE() << "flags for " << expected << " paths: " << Show(flags);
  }
  return flags.empty() ? "<empty>" : Show(flags);
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

struct Input {
  const char* name;
  std::function<std::string()> make;  // empty function: null
};

struct Call {
  const char* name;
  std::function<std::string(const char*)> run;
};

std::string Nested(size_t depth) {
  return std::string(depth, '[') + std::string(depth, ']');
}

TEST(BadInputs, EveryExportAnswersEveryBadInputAsRecorded) {
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
      {"10 MB text",
       [] {
         std::string text;
         text.reserve(10 << 20);
         while (text.size() < (10 << 20)) text += "a-";
         return text;
       }},
      {"nested JSON", [] { return Nested(100000); }},
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
  const Call calls[] = {
      {"SetAppName+GetAppName",
       [](const char* v) {
         std::string set = SetAppName(v);
         std::string answer = set + " " + ShowText(GetAppName());
         SetAppName("Tester");
         return answer;
       }},
      {"SetSoftwareFont(v,v,v,script,v)",
       [s](const char* v) { return ShowEnvelope(SetSoftwareFont(v, v, v, s, v)); }},
      {"SetSoftwareFont(name,,,v,)",
       [](const char* v) { return ShowEnvelope(SetSoftwareFont("F", "", "", v, "")); }},
      {"SetSoftwareFont Sketch(v,,,script,v)",
       [&](const char* v) {
         env->UseWindows(&sketch);
         std::string answer = ShowEnvelope(SetSoftwareFont(v, "", "", s, v));
         env->UseWindows(&photoshop);
         std::error_code ec;
         if (fs::exists(plugins + "/KelvraSetFont.sketchplugin", ec)) answer += " +bundle";
         fs::remove_all(plugins + "/KelvraSetFont.sketchplugin", ec);
         return answer;
       }},
      {"SetSoftwareBatchFonts(v,script)",
       [s](const char* v) { return ShowEnvelope(SetSoftwareBatchFonts(v, s)); }},
      {"SetSoftwareBatchFonts({},v)",
       [](const char* v) { return ShowEnvelope(SetSoftwareBatchFonts("{}", v)); }},
      {"SetSoftwareDoJs(v,v,script)",
       [s](const char* v) { return ShowEnvelope(SetSoftwareDoJs(v, v, s)); }},
      {"SetSoftwareDoJs(js,js,v)",
       [](const char* v) { return ShowEnvelope(SetSoftwareDoJs("1", "2", v)); }},
      {"GetSoftwareFilePath(v)", [](const char* v) { return ShowText(GetSoftwareFilePath(v)); }},
      {"GetSoftwareFileFonts(v)",
       [](const char* v) { return ShowEnvelope(GetSoftwareFileFonts(v)); }},
      {"RegisterFont(v)", [](const char* v) { return ShowFlags(RegisterFont(v), 1); }},
      {"RegisterFont([v])",
       [](const char* v) { return ShowFlags(RegisterFont(ListText(v).c_str()), 1); }},
      {"FontIsRegistered(v,,)",
       [](const char* v) { return FontIsRegistered(v, nullptr, nullptr) ? "true" : "false"; }},
      {"UnRegisterFont([v])",
       [](const char* v) { return ShowFlags(UnRegisterFont(ListText(v).c_str()), 1); }},
      {"UnRegisterFont(v)", [](const char* v) { return ShowFlags(UnRegisterFont(v), 1); }},
      {"FontIsRegistered(,v,v)",
       [](const char* v) { return FontIsRegistered(nullptr, v, v) ? "true" : "false"; }},
      {"FindFont(v,v)", [](const char* v) { return ShowText(FindFont(v, v)); }},
      {"CheckSoftwareIsInstalled(v)",
       [](const char* v) {
         char* answer = CheckSoftwareIsInstalled(v);
         EXPECT_TRUE(std::strcmp(answer, "1") == 0 || std::strcmp(answer, "0") == 0);
         return std::string(answer);
       }},
      {"GetAvailableFonts() after",
       [](const char*) {
         auto list = JsonHelper::jsonToObject(Take(GetAvailableFonts()));
         return list && list->is_array() ? std::to_string(list->size()) + " fonts" : "NOT A LIST";
       }},
  };

  SetAppName("Tester");
  std::ostringstream seen;
  for (const Input& input : inputs) {
    std::optional<std::string> value;
    if (input.make) value = input.make();
    const char* v = value ? value->c_str() : nullptr;
    for (const Call& call : calls) {
      std::string answer = call.run(v);
      // Paths differ from run to run; the sandbox is always <root>.
      for (size_t at; (at = answer.find(box.root())) != std::string::npos;) {
        answer.replace(at, box.root().size(), "<root>");
      }
      seen << input.name << " | " << call.name << " | " << answer << "\n";
    }
  }

  if (const char* out = std::getenv("VRK_WRITE_TABLE")) std::ofstream(out) << seen.str();
  std::ifstream recorded(VRK_SOURCE_DIR "/tests/hardening/bad_inputs.table");
  std::stringstream expected;
  expected << recorded.rdbuf();
  // A multi-line mismatch prints as a diff of the table.
  EXPECT_EQ(seen.str(), expected.str());
}

}  // namespace
}  // namespace vrk::hardening
