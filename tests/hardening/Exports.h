// SPDX-License-Identifier: MIT
// The thirteen exports in one table: the kind of answer each owes any caller,
// and what a sound call answers on the real platform (fontconfig, Lua, the
// file system and desktop entries of a World) behind a fixed window list.
#pragma once

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "extension/Text.h"
#include "platform/linux/LinuxPlatform.h"
#include "support/FakeEnv.h"
#include "support/World.h"
#include "vrkfont/VRKFont.h"

namespace vrk::test {

enum class Kind { kOne, kName, kEnvelope, kPath, kFlags, kYesNo, kPair, kFontList };
using Args = std::vector<const char*>;

// Arguments "$..." are the caller's values; `want` is the sound answer (or
// its `member`), with the caller's "$tag" in it; a final "*" takes any rest.
struct Export {
  const char* name;
  Kind kind;
  std::vector<std::string> args;
  const char* member;
  std::string want;
};

using enum Kind;
// clang-format off
inline const std::vector<Export> kExports = {
    {"SetAppName", kOne, {"$tag"}, "", "1"},
    {"GetAppName", kName, {}, "", "T*"},
    {"SetSoftwareFont", kEnvelope, {"$name", "a", "b", "$script", "$plugin"}, "/version", "$front,$name,a,b,Kelvra"},
    {"SetSoftwareBatchFonts", kEnvelope, {"$tag", "$script"}, "/fontMapResult", "$front,$tag"},
    {"SetSoftwareDoJs", kEnvelope, {"$tag", "$tag", "$script"}, "/aiResult/doResult", "Illustrator,$tag"},
    {"GetSoftwareFilePath", kPath, {"$script"}, "", "/Users/$front/doc.psd"},
    {"GetSoftwareFileFonts", kEnvelope, {"$script"}, "/fontListString", "$front"},
    {"RegisterFont", kFlags, {"$list"}, "", "1|-|1|-|0"},
    {"FontIsRegistered", kYesNo, {"$font", "$null", "$null"}, "", "1"},
    {"FindFont", kPair, {"VrkAlpha-Regular", "$null"}, "", "Vrk Alpha|-|/*"},
    {"GetAvailableFonts", kFontList, {}, "", "*"},
    {"UnRegisterFont", kFlags, {"$list"}, "", "1|-|1|-|0"},
    {"CheckSoftwareIsInstalled", kYesNo, {"vrk.hardening"}, "", "1"},
};
// clang-format on

inline std::string Constant(const char* answer) {
  if (answer == nullptr) ADD_FAILURE() << "an export answered NULL";
  return answer ? answer : "";
}

inline std::string Call(const std::string& n, const Args& a) {
  if (n == "SetAppName") return Constant(SetAppName(a[0]));
  if (n == "GetAppName") return Take(GetAppName());
  if (n == "SetSoftwareFont") return Take(SetSoftwareFont(a[0], a[1], a[2], a[3], a[4]));
  if (n == "SetSoftwareBatchFonts") return Take(SetSoftwareBatchFonts(a[0], a[1]));
  if (n == "SetSoftwareDoJs") return Take(SetSoftwareDoJs(a[0], a[1], a[2]));
  if (n == "GetSoftwareFilePath") return Take(GetSoftwareFilePath(a[0]));
  if (n == "GetSoftwareFileFonts") return Take(GetSoftwareFileFonts(a[0]));
  if (n == "RegisterFont") return Take(RegisterFont(a[0]));
  if (n == "FontIsRegistered") return FontIsRegistered(a[0], a[1], a[2]) ? "1" : "0";
  if (n == "FindFont") return Take(FindFont(a[0], a[1]));
  if (n == "GetAvailableFonts") return Take(GetAvailableFonts());
  if (n == "UnRegisterFont") return Take(UnRegisterFont(a[0]));
  return Constant(CheckSoftwareIsInstalled(a[0]));
}

// A text member of a JSON answer; "" when there is none.
inline std::string At(const std::string& json, const char* member) {
  Json v = Json::parse(json, nullptr, false);
  Json::json_pointer p(member);
  return v.is_object() && v.contains(p) && v[p].is_string() ? v[p].get<std::string>() : "";
}

inline bool WellFormed(Kind kind, const std::string& s) {
  const Json v = Json::parse(s, nullptr, false);
  if (kind == kOne || kind == kYesNo) return s == "1" || (kind == kYesNo && s == "0");
  if (kind == kPath) return s.empty() || s[0] == '/';
  if (kind == kFlags) return s.empty() || FlagCount(s) > 0;
  if (kind == kPair) return s.find("|-|") != std::string::npos;
  if (kind == kFontList) return v.is_array() && !v.empty() && v[0].value("path", "") != "";
  if (kind == kName) return IsValidUtf8(s);
  return v.is_object() && v.value("code", Json()).is_string() && v.value("msg", Json()).is_string();
}

class FixedWindows final : public platform::WindowList {
 public:
  std::vector<platform::WindowInfo> front = Windows({"Adobe Photoshop 2024"});
  std::vector<platform::WindowInfo> OnScreenWindows() override { return front; }
  std::vector<platform::WindowInfo> AllWindows() override {
    return Windows({"Adobe Photoshop 2024", "Adobe Illustrator"});
  }
};

// A World with a host script whose handlers echo their arguments, one
// installed application, and Sketch and XD plug-ins to hand fonts to.
struct Platform {
  using Caller = std::map<std::string, std::string>;
  Platform() {
    script.Write(R"lua(
for name, key in pairs({setSoftwareFont = "version", setSoftwareBatchFonts = "doResult",
                        setSoftwareDoJs = "doResult", getSoftwareFileFonts = "fontListString"}) do
  _G[name] = function(...) return '{"code":"1","' .. key .. '":"' .. table.concat({...}, ",") .. '"}' end
end
function getSoftwareFilePath(host) return "Disk:Users:" .. host .. ":doc.psd" end)lua");
    for (const char* dir :
         {"plugin/Contents/Sketch", "data/applications", "data/com.bohemiancoding.sketch3/Plugins",
          "data/Adobe/UXP/Plugins/External/KelvraSetFont"}) {
      std::filesystem::create_directories(world.Path(dir));
    }
    WriteFile(world.Path("data/applications/vrk.hardening.desktop"),
              "[Desktop Entry]\nType=Application\nName=Vrk\nExec=true\n");
    env->filesIn = files.get();
    env->windowsIn = &windows;
    env->appsIn = apps.get();
    env->scriptsIn = lua.get();
    env->fontsIn = &platform::Env::Default().Fonts();
  }
  // A caller's values: its own copies of two fonts, and a missing path.
  Caller CallerNamed(const std::string& tag, const std::string& name, const char* front) const {
    const std::string font = world.CopyFont("alpha/VrkAlpha-Regular.ttf", tag + "/a.ttf");
    const std::string trio = world.CopyFont("coll/VrkTrio.ttc", tag + "/trio.ttc");
    Caller c = {{"$tag", tag}, {"$name", name}, {"$front", front}, {"$font", font}};
    c["$list"] = ListOf({font, trio, world.Path(tag + "/missing.ttf")});
    c["$script"] = script.path();
    c["$plugin"] = world.Path("plugin");
    return c;
  }
  static Args Expand(const Export& e, const Caller& c) {
    Args args;
    for (const std::string& a : e.args) {
      args.push_back(c.count(a) ? c.at(a).c_str() : a == "$null" ? nullptr : a.c_str());
    }
    return args;
  }
  static bool Sound(const Export& e, const std::string& answer, const Caller& c) {
    std::string want = e.want, got = e.member[0] ? At(answer, e.member) : answer;
    for (const char* key : {"$front", "$name", "$tag"}) {
      if (size_t at = want.find(key); at != std::string::npos)
        want.replace(at, strlen(key), c.at(key));
    }
    if (!want.ends_with('*')) return got == want;
    return got.starts_with(want.substr(0, want.size() - 1));
  }

  World world;
  HostScript script;
  FixedWindows windows;
  std::unique_ptr<platform::FileSystem> files = platform::NewLinuxFileSystem();
  std::unique_ptr<platform::AppCatalog> apps = platform::NewDesktopAppCatalog();
  std::unique_ptr<platform::ScriptRunner> lua = platform::NewLuaScriptRunner();
  ScopedFakeEnv env;
};

}  // namespace vrk::test
