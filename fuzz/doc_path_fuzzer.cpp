// SPDX-License-Identifier: MIT
// Any answer of the document-path handler converts without failing: no ":"
// means no path, and neither does a NUL; otherwise the volume name goes and
// every ":" becomes "/".
#include <algorithm>
#include <cstdlib>

#include "extension/Text.h"
#include "support/FakeEnv.h"
#include "vrkfont/VRKFont.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static vrk::test::FakeEnv* env = [] {
    auto* e = new vrk::test::FakeEnv();
    e->windows.onScreen = vrk::test::Windows({"Adobe InDesign"});
    vrk::platform::SetEnvForTesting(e);
    return e;
  }();
  std::string answer(reinterpret_cast<const char*>(data), size);
  env->scripts.scripts["/s.lua"] = [answer](const vrk::test::SubroutineEvent&) {
    return std::optional<vrk::test::ScriptResult>(vrk::test::ScriptResult{answer});
  };
  env->scripts.events.clear();
  env->scripts.loads.clear();
  char* path = GetSoftwareFilePath("/s.lua");
  std::string got = path;
  if (path != vrk::ConstantEmptyString()) std::free(path);

  size_t colon = answer.find(':');
  std::string want = colon == std::string::npos ? "" : answer.substr(colon);
  std::replace(want.begin(), want.end(), ':', '/');
  // A NUL would make a C caller read a shorter, different path: no path at all.
  if (answer.find('\0') != std::string::npos) want = "";
  if (got != want) std::abort();
  return 0;
}
