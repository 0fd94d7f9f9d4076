// SPDX-License-Identifier: MIT
// The thirteen exports behind one signature, each with the kind of answer it
// owes any caller and the answer a sound call gets on the real platform:
// fontconfig, the Lua runner, the file system and desktop entries of a World,
// and a fixed window list (Photoshop in front of Illustrator unless changed).
#pragma once

#include <functional>
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

// "$null", "$tag", "$script", "$plugin", "$list" and "$font" stand for the
// caller's values.
struct Export {
  const char* name;
  Kind kind;
  std::vector<std::string> args;
  std::function<std::string(const Args&)> call;
  std::function<bool(const std::string& answer, const std::string& tag)> sound;
};

// A constant answer, as a text; NULL fails.
inline std::string Constant(const char* answer) {
  if (answer == nullptr) ADD_FAILURE() << "an export answered NULL";
  return answer ? answer : "";
}

// A text member of a JSON answer; "" when absent.
inline std::string At(const std::string& json, const char* pointer) {
  Json v = Json::parse(json, nullptr, false);
  Json::json_pointer p(pointer);
  return v.is_object() && v.contains(p) && v[p].is_string() ? v[p].get<std::string>() : "";
}

inline bool WellFormed(Kind kind, const std::string& s) {
  Json v = Json::parse(s, nullptr, false);
  switch (kind) {
    case Kind::kOne:
      return s == "1";
    case Kind::kYesNo:
      return s == "1" || s == "0";
    case Kind::kEnvelope:
      return v.is_object() && v.contains("code") && v["code"].is_string() && v.contains("msg") &&
             v["msg"].is_string();
    case Kind::kPath:
      return s.empty() || s[0] == '/';
    case Kind::kFlags:
      return s.empty() || FlagCount(s) > 0;
    case Kind::kPair:
      return s.find("|-|") != std::string::npos;
    case Kind::kFontList:
      return v.is_array() && !v.empty() && v[0].contains("path") && v[0].contains("style");
    case Kind::kName:
      return IsValidUtf8(s);
  }
  return false;
}

inline const std::vector<Export>& Exports() {
  using S = const std::string&;
  static const std::vector<Export> rows = {
      {"SetAppName",
       Kind::kOne,
       {"$tag"},
       [](Args a) { return Constant(SetAppName(a[0])); },
       [](S s, S) { return s == "1"; }},
      {"GetAppName",
       Kind::kName,
       {},
       [](Args) { return Take(GetAppName()); },
       [](S s, S) { return s[0] == 'T'; }},
      {"SetSoftwareFont",
       Kind::kEnvelope,
       {"$tag", "a", "b", "$script", "$plugin"},
       [](Args a) { return Take(SetSoftwareFont(a[0], a[1], a[2], a[3], a[4])); },
       [](S s, S t) { return At(s, "/version").starts_with("Photoshop," + t + ",a,b,"); }},
      {"SetSoftwareBatchFonts",
       Kind::kEnvelope,
       {"$tag", "$script"},
       [](Args a) { return Take(SetSoftwareBatchFonts(a[0], a[1])); },
       [](S s, S t) { return At(s, "/fontMapResult") == "Photoshop," + t; }},
      {"SetSoftwareDoJs",
       Kind::kEnvelope,
       {"$tag", "$tag", "$script"},
       [](Args a) { return Take(SetSoftwareDoJs(a[0], a[1], a[2])); },
       [](S s, S t) {
         return At(s, "/psResult/doResult") == "Photoshop," + t &&
                At(s, "/aiResult/doResult") == "Illustrator," + t;
       }},
      {"GetSoftwareFilePath",
       Kind::kPath,
       {"$script"},
       [](Args a) { return Take(GetSoftwareFilePath(a[0])); },
       [](S s, S) { return s == "/Users/Photoshop/doc.psd"; }},
      {"GetSoftwareFileFonts",
       Kind::kEnvelope,
       {"$script"},
       [](Args a) { return Take(GetSoftwareFileFonts(a[0])); },
       [](S s, S) { return At(s, "/code") == "1" && At(s, "/fontListString") == "Photoshop"; }},
      {"RegisterFont",
       Kind::kFlags,
       {"$list"},
       [](Args a) { return Take(RegisterFont(a[0])); },
       [](S s, S) { return s == "1|-|1|-|0"; }},
      {"FontIsRegistered",
       Kind::kYesNo,
       {"$font", "$null", "$null"},
       [](Args a) { return std::string(FontIsRegistered(a[0], a[1], a[2]) ? "1" : "0"); },
       [](S s, S) { return s == "1"; }},
      {"FindFont",
       Kind::kPair,
       {"VrkAlpha-Regular", "$null"},
       [](Args a) { return Take(FindFont(a[0], a[1])); },
       [](S s, S) { return s.starts_with("Vrk Alpha|-|/"); }},
      {"GetAvailableFonts",
       Kind::kFontList,
       {},
       [](Args) { return Take(GetAvailableFonts()); },
       [](S, S) { return true; }},
      {"UnRegisterFont",
       Kind::kFlags,
       {"$list"},
       [](Args a) { return Take(UnRegisterFont(a[0])); },
       [](S s, S) { return s == "1|-|1|-|0"; }},
      {"CheckSoftwareIsInstalled",
       Kind::kYesNo,
       {"vrk.hardening"},
       [](Args a) { return Constant(CheckSoftwareIsInstalled(a[0])); },
       [](S s, S) { return s == "1"; }},
  };
  return rows;
}

class FixedWindows final : public platform::WindowList {
 public:
  std::vector<platform::WindowInfo> onScreen = Windows({"Adobe Photoshop 2024"});
  std::vector<platform::WindowInfo> all = Windows({"Adobe Photoshop 2024", "Adobe Illustrator"});
  std::vector<platform::WindowInfo> OnScreenWindows() override { return onScreen; }
  std::vector<platform::WindowInfo> AllWindows() override { return all; }
};

// A World with an echoing host script, one installed application and the
// real platform behind a fixed window list.
struct Platform {
  Platform() {
    script.Write(R"lua(
local function echo(name, key)
  _G[name] = function(...) return '{"code":"1","' .. key .. '":"' .. table.concat({...}, ",") .. '"}' end
end
echo("setSoftwareFont", "version")
echo("setSoftwareBatchFonts", "doResult")
echo("setSoftwareDoJs", "doResult")
echo("getSoftwareFileFonts", "fontListString")
function getSoftwareFilePath(host) return "Disk:Users:" .. host .. ":doc.psd" end
)lua");
    std::filesystem::create_directories(world.Path("data/applications"));
    WriteFile(world.Path("data/applications/vrk.hardening.desktop"),
              "[Desktop Entry]\nType=Application\nName=Vrk\nExec=true\n");
    env->UseFiles(files.get());
    env->UseWindows(&windows);
    env->UseApps(apps.get());
    env->UseScripts(lua.get());
    env->UseFonts(&platform::Env::Default().Fonts());
  }
  // One caller's arguments: its own copies of two fonts and a missing path.
  struct Caller {
    std::string tag, script, plugin, font, list;
  };
  Caller CallerNamed(const std::string& tag) const {
    std::string font = world.CopyFont("alpha/VrkAlpha-Regular.ttf", tag + "/a.ttf");
    return {tag, script.path(), world.Path("plugin"), font,
            ListOf({font, world.CopyFont("coll/VrkTrio.ttc", tag + "/trio.ttc"),
                    world.Path(tag + "/missing.ttf")})};
  }
  static Args Expand(const Export& e, const Caller& c) {
    Args args;
    for (const std::string& a : e.args) {
      args.push_back(a == "$null"     ? nullptr
                     : a == "$tag"    ? c.tag.c_str()
                     : a == "$script" ? c.script.c_str()
                     : a == "$plugin" ? c.plugin.c_str()
                     : a == "$font"   ? c.font.c_str()
                     : a == "$list"   ? c.list.c_str()
                                      : a.c_str());
    }
    return args;
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
