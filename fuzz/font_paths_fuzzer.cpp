// SPDX-License-Identifier: MIT
// Any font path list: an array of strings gives exactly one flag per element,
// anything else the empty answer.
#include <cstdlib>

#include "extension/Text.h"
#include "helper/FontHelper.h"
#include "helper/JsonHelper.h"
#include "support/FakeEnv.h"

namespace {

size_t FlagCount(const std::string& flags) {
  if (flags.empty()) return 0;
  size_t count = 1;
  for (size_t pos = 0; (pos = flags.find("|-|", pos)) != std::string::npos; pos += 3) ++count;
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static vrk::test::FakeEnv* env = [] {
    auto* e = new vrk::test::FakeEnv();
    e->files.AddFile("/f/a.ttf", "x");
    e->fonts.fontFiles.insert("/f/a.ttf");
    vrk::platform::SetEnvForTesting(e);
    return e;
  }();
  (void)env;
  std::string text(reinterpret_cast<const char*>(data), size);
  auto value = vrk::JsonHelper::jsonToObject(text);
  size_t expected = 0;
  if (value && value->is_array() && vrk::IsValidUtf8(text)) {
    expected = value->size();
    for (const auto& e : *value) {
      if (!e.is_string()) expected = 0;
    }
  }
  for (int pass = 0; pass < 2; ++pass) {
    std::string flags;
    try {
      flags = pass == 0 ? vrk::FontHelper::RegisterFont(text.c_str())
                        : vrk::FontHelper::UnRegisterFont(text.c_str());
    } catch (...) {
      if (expected != 0) std::abort();  // a well-formed list never fails
      continue;
    }
    if (text.find('\0') == std::string::npos && FlagCount(flags) != expected) std::abort();
  }
  return 0;
}
