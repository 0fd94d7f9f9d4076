// SPDX-License-Identifier: MIT
// Every export over the in-memory platform, with arbitrary bytes as each
// argument (0xFF separates them, "\x01" is NULL) and as the host script's
// answer (the last part); the answer as JSON survives an encode-decode trip.
#include <algorithm>
#include <cstdlib>

#include "extension/Text.h"
#include "helper/JsonHelper.h"
#include "support/FakeEnv.h"
#include "vrkfont/VRKFont.h"

using vrk::JsonHelper;

static std::string Check(char* text, bool envelope) {
  std::string copy = text != nullptr ? text : (std::abort(), "");
  auto value = envelope ? JsonHelper::jsonToObject(copy) : std::nullopt;
  if (envelope && (!value || !value->is_object() || !(*value)["code"].is_string())) std::abort();
  if (text != vrk::ConstantEmptyString()) std::free(text);
  return copy;
}

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
  for (size_t k = 0, i = 0; k < size; ++k) {
    data[k] == 0xFF && i < 5 ? void(++i) : parts[i].push_back(static_cast<char>(data[k]));
  }
  auto a = [&](size_t i) { return parts[i] == "\x01" ? nullptr : parts[i].c_str(); };
  const std::string answer = parts[5];
  env->scripts.events.clear();
  env->scripts.loads.clear();
  env->scripts.scripts["/s.lua"] = [answer](const vrk::test::SubroutineEvent&) {
    return std::optional<vrk::test::ScriptResult>(vrk::test::ScriptResult{answer});
  };
  const bool ours = size % 3 != 0;
  const char* script = ours ? "/s.lua" : a(4);

  SetAppName(a(0));
  Check(GetAppName(), false);
  Check(SetSoftwareFont(a(0), a(1), a(2), script, a(3)), true);
  Check(SetSoftwareBatchFonts(a(0), script), true);
  Check(SetSoftwareDoJs(a(0), a(1), script), true);
  Check(GetSoftwareFileFonts(script), true);
  // No ":" or a NUL: no path; else the volume name goes and each ":" is "/".
  std::string want = answer.find('\0') == std::string::npos ? answer : "";
  want = want.substr(std::min(want.find(':'), want.size()));
  std::replace(want.begin(), want.end(), ':', '/');
  if (Check(GetSoftwareFilePath(script), false) != want && ours) std::abort();
  auto list = JsonHelper::jsonToObject(vrk::TextFromC(a(0)));
  const bool paths = list && list->is_array() &&
                     std::all_of(list->begin(), list->end(), [](auto& e) { return e.is_string(); });
  for (auto* call : {RegisterFont, UnRegisterFont}) {
    // One "0" or "1" for each path, "|-|" between them.
    if (Check(call(a(0)), false).size() != (paths && !list->empty() ? list->size() * 4 - 3 : 0)) {
      std::abort();
    }
  }
  (void)FontIsRegistered(a(0), a(1), a(2));
  Check(FindFont(a(0), a(1)), false);
  (void)CheckSoftwareIsInstalled(a(2));

  auto value = JsonHelper::jsonToObject(answer);
  if (!value || !(value->is_object() || value->is_array())) return 0;
  const std::string encoded = Check(JsonHelper::objectToJson(*value), false);
  if (!encoded.empty() && JsonHelper::jsonToObject(encoded) != value) std::abort();
  return 0;
}
