// SPDX-License-Identifier: MIT
// Eight threads call every export at once: fonts on real fontconfig, the real
// Lua runner, the real file system and application catalog, a fixed window
// list. scripts/tsan.sh runs it under ThreadSanitizer; in any build each
// answer must stay whole and belong to the call that got it.
#include <gtest/gtest.h>

#include <barrier>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "Sandbox.h"
#include "helper/JsonHelper.h"
#include "platform/linux/LinuxPlatform.h"
#include "support/FakeEnv.h"
#include "vrkfont/VRKFont.h"

namespace vrk::hardening {
namespace {

constexpr int kThreads = 8;
// Each round registers and unregisters, and each of those waits for the clock
// once: rounds cost about two seconds, so a few do.
constexpr int kRounds = 6;

// What one thread saw go wrong, reported after the join.
struct Problems {
  void Expect(bool ok, const std::string& what, const std::string& answer) {
    if (!ok) list.push_back(what + " answered: " + answer.substr(0, 300));
  }
  std::vector<std::string> list;
};

Json Parse(const std::string& text) {
  auto value = JsonHelper::jsonToObject(text);
  return value && value->is_object() ? *value : Json::object();
}

// A text member, "" when missing or not a text.
std::string Str(const Json& object, const char* key) {
  auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : "";
}

bool IsFontList(const Json& list) {
  if (!list.is_array() || list.empty()) return false;
  for (const auto& record : list) {
    for (const char* key : {"path", "postscriptName", "family", "style"}) {
      if (!record.is_object() || !record.contains(key) || !record[key].is_string()) return false;
    }
  }
  return true;
}

void OneThread(const Sandbox& box, int t, std::barrier<>& start, Problems& p) {
  const std::string script = box.Script();
  const std::string me = "T" + std::to_string(t);
  const std::string regular = box.CopyFont("alpha/VrkAlpha-Regular.ttf", me + "/a.ttf");
  const std::string list = ListOf(
      {regular, box.CopyFont("coll/VrkTrio.ttc", me + "/trio.ttc"), box.Path(me + "/missing.ttf")});
  const std::string name = t % 2 ? "MuXan" : "Other" + me;
  start.arrive_and_wait();

  for (int round = 0; round < kRounds; ++round) {
    const std::string font = me + "-Font-" + std::to_string(round);
    p.Expect(std::strcmp(SetAppName(name.c_str()), "1") == 0, "SetAppName", "");
    std::string appName = Take(GetAppName());
    p.Expect(appName == "MuXan" || appName.rfind("OtherT", 0) == 0, "GetAppName", appName);

    std::string flags = Take(RegisterFont(list.c_str()));
    p.Expect(flags == "1|-|1|-|0", "RegisterFont", flags);
    p.Expect(FontIsRegistered(regular.c_str(), nullptr, nullptr), "FontIsRegistered", "false");
    std::string found = Take(FindFont("VrkAlpha-Regular", nullptr));
    p.Expect(found.rfind("Vrk Alpha|-|/", 0) == 0, "FindFont", found);
    std::string inventory = Take(GetAvailableFonts());
    p.Expect(IsFontList(JsonHelper::jsonToObject(inventory).value_or(Json())), "GetAvailableFonts",
             inventory);

    Json set = Parse(Take(SetSoftwareFont(font.c_str(), "a", "b", script.c_str(), "")));
    p.Expect(Str(set, "code") == "1" && Str(set, "software") == "Photoshop" &&
                 Str(set, "version").rfind("Photoshop," + font + ",a,b,", 0) == 0,
             "SetSoftwareFont", set.dump());
    Json batch = Parse(Take(SetSoftwareBatchFonts(font.c_str(), script.c_str())));
    p.Expect(Str(batch, "code") == "1" && Str(batch, "fontMapResult") == "Photoshop," + font,
             "SetSoftwareBatchFonts", batch.dump());
    Json js = Parse(Take(SetSoftwareDoJs(font.c_str(), me.c_str(), script.c_str())));
    p.Expect(Str(js, "code") == "1" &&
                 Str(js.value("psResult", Json::object()), "doResult") == "Photoshop," + font &&
                 Str(js.value("aiResult", Json::object()), "doResult") == "Illustrator," + me,
             "SetSoftwareDoJs", js.dump());
    std::string path = Take(GetSoftwareFilePath(script.c_str()));
    p.Expect(path == "/Users/Photoshop/doc.psd", "GetSoftwareFilePath", path);
    Json docFonts = Parse(Take(GetSoftwareFileFonts(script.c_str())));
    p.Expect(Str(docFonts, "code") == "1" && Str(docFonts, "fontListString") == "Photoshop",
             "GetSoftwareFileFonts", docFonts.dump());
    p.Expect(std::strcmp(CheckSoftwareIsInstalled(Sandbox::kInstalledId), "1") == 0 &&
                 std::strcmp(CheckSoftwareIsInstalled(me.c_str()), "0") == 0,
             "CheckSoftwareIsInstalled", "");

    flags = Take(UnRegisterFont(list.c_str()));
    p.Expect(flags == "1|-|1|-|0", "UnRegisterFont", flags);
    p.Expect(!FontIsRegistered(regular.c_str(), nullptr, nullptr), "FontIsRegistered", "true");
  }
}

TEST(Concurrency, EveryExportFromEightThreadsAtOnceAnswersWhole) {
  Sandbox box;
  FixedWindows windows({"Adobe Photoshop 2024"}, {"Adobe Photoshop 2024", "Adobe Illustrator"});
  auto files = platform::NewLinuxFileSystem();
  auto apps = platform::NewDesktopAppCatalog();
  auto lua = platform::NewLuaScriptRunner();
  test::ScopedFakeEnv env;
  env->UseFiles(files.get());
  env->UseWindows(&windows);
  env->UseApps(apps.get());
  env->UseScripts(lua.get());
  env->UseFonts(&platform::Env::Default().Fonts());

  std::barrier start(kThreads);
  std::vector<Problems> problems(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back(OneThread, std::cref(box), t, std::ref(start), std::ref(problems[t]));
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    for (const auto& problem : problems[t].list) ADD_FAILURE() << "thread " << t << ": " << problem;
  }
  EXPECT_TRUE(std::filesystem::is_empty(box.SessionFolder()));
}

}  // namespace
}  // namespace vrk::hardening
