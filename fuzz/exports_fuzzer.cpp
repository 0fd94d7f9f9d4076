// SPDX-License-Identifier: MIT
// Every export over the in-memory platform, with arbitrary bytes as each
// argument (0xFF separates them, "\x01" is NULL) and as the host script's
// answer (the last part): each answers a non-null text of its kind, a path
// list one flag per element, and the document path the answer's own.
#include <algorithm>
#include <cstdlib>

#include "extension/Text.h"
#include "helper/JsonHelper.h"
#include "support/FakeEnv.h"
#include "vrkfont/VRKFont.h"

namespace {

std::string Check(char* text, bool json) {
  if (text == nullptr) std::abort();
  std::string copy = text;
  auto value = json ? vrk::JsonHelper::jsonToObject(copy) : std::nullopt;
  if (json && (!value || !value->is_object() || !(*value)["code"].is_string())) std::abort();
  if (text != vrk::ConstantEmptyString()) std::free(text);
  return copy;
}

size_t FlagsFor(const char* list) {
  auto value = vrk::JsonHelper::jsonToObject(vrk::TextFromC(list));
  if (!value || !value->is_array()) return 0;
  return std::all_of(value->begin(), value->end(), [](auto& e) { return e.is_string(); })
             ? value->size()
             : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto* env = [] {
    auto* e = new vrk::test::FakeEnv();
    e->windows.onScreen = vrk::test::Windows({"Adobe Photoshop"});
    e->windows.all = vrk::test::Windows({"Adobe Photoshop", "Adobe Illustrator"});
    e->files.AddFolder("/home/u/.local/share");
    e->files.AddFile("/f/a.ttf", "x");
    e->fonts.fontFiles.insert("/f/a.ttf");
    vrk::platform::SetEnvForTesting(e);
    return e;
  }();
  std::vector<std::string> parts(6);
  const std::string all(reinterpret_cast<const char*>(data), size);
  for (size_t i = 0, start = 0; i < parts.size() && start <= all.size(); ++i) {
    const size_t end =
        i + 1 < parts.size() ? std::min(all.find('\xFF', start), all.size()) : all.size();
    parts[i] = all.substr(start, end - start);
    start = end + 1;
  }
  auto a = [&](size_t i) { return parts[i] == "\x01" ? nullptr : parts[i].c_str(); };
  const std::string answer = parts[5];
  env->scripts.events.clear();
  env->scripts.loads.clear();
  env->scripts.scripts["/s.lua"] = [answer](const vrk::test::SubroutineEvent&) {
    return std::optional<vrk::test::ScriptResult>(vrk::test::ScriptResult{answer});
  };
  const char* script = size % 3 == 0 ? a(4) : "/s.lua";

  SetAppName(a(0));
  Check(GetAppName(), false);
  Check(SetSoftwareFont(a(0), a(1), a(2), script, a(3)), true);
  Check(SetSoftwareBatchFonts(a(0), script), true);
  Check(SetSoftwareDoJs(a(0), a(1), script), true);
  Check(GetSoftwareFileFonts(script), true);
  const std::string path = Check(GetSoftwareFilePath(script), false);
  // No ":" means no path, and neither does a NUL; otherwise the volume name
  // goes and every ":" becomes "/".
  std::string want = answer.find('\0') == std::string::npos ? answer : "";
  want = want.find(':') == std::string::npos ? "" : want.substr(want.find(':'));
  std::replace(want.begin(), want.end(), ':', '/');
  if (script == std::string("/s.lua") && path != want) std::abort();
  for (auto* call : {RegisterFont, UnRegisterFont}) {
    const std::string flags = Check(call(a(0)), false);
    const size_t count = flags.empty() ? 0 : std::count(flags.begin(), flags.end(), '|') / 2 + 1;
    if (count != FlagsFor(a(0))) std::abort();
  }
  (void)FontIsRegistered(a(0), a(1), a(2));
  Check(FindFont(a(0), a(1)), false);
  (void)CheckSoftwareIsInstalled(a(2));
  return 0;
}
