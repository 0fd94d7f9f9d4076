// SPDX-License-Identifier: MIT
// Every text-taking export over the in-memory platform, with arbitrary bytes
// (null included) as each argument and as the host script's answer: each one
// answers a non-null text, JSON where it answers JSON.
#include <cstdlib>

#include "FuzzInput.h"
#include "extension/Text.h"
#include "helper/JsonHelper.h"
#include "support/FakeEnv.h"
#include "vrkfont/VRKFont.h"

namespace {

vrk::test::FakeEnv& Env() {
  static auto* env = [] {
    auto* e = new vrk::test::FakeEnv();
    e->windows.onScreen = vrk::test::Windows({"Finder", "Adobe Photoshop"});
    e->windows.all = vrk::test::Windows({"Adobe Photoshop", "Adobe Illustrator"});
    e->files.AddFolder("/home/u/.local/share");
    vrk::platform::SetEnvForTesting(e);
    return e;
  }();
  return *env;
}

void Check(char* text, bool json) {
  if (text == nullptr) std::abort();
  if (json) {
    auto value = vrk::JsonHelper::jsonToObject(std::string(text));
    if (!value || !value->is_object() || !(*value)["code"].is_string()) std::abort();
  }
  if (text != vrk::ConstantEmptyString()) std::free(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vrk::fuzz::Arguments a(data, size, 6);
  auto& env = Env();
  std::optional<std::string> answer;
  if (a[5] != nullptr) answer = std::string(a[5]);
  env.scripts.events.clear();
  env.scripts.loads.clear();
  env.scripts.scripts["/s.lua"] = [answer](const vrk::test::SubroutineEvent&) {
    return std::optional<vrk::test::ScriptResult>(vrk::test::ScriptResult{answer});
  };
  const char* script = (size % 3 == 0) ? a[4] : "/s.lua";

  SetAppName(a[0]);
  Check(GetAppName(), false);
  Check(SetSoftwareFont(a[0], a[1], a[2], script, a[3]), true);
  Check(SetSoftwareBatchFonts(a[0], script), true);
  Check(SetSoftwareDoJs(a[0], a[1], script), true);
  Check(GetSoftwareFileFonts(script), true);
  Check(GetSoftwareFilePath(script), false);
  Check(RegisterFont(a[0]), false);
  Check(UnRegisterFont(a[1]), false);
  (void)FontIsRegistered(a[0], a[1], a[2]);
  Check(FindFont(a[0], a[1]), false);
  (void)CheckSoftwareIsInstalled(a[2]);
  return 0;
}
