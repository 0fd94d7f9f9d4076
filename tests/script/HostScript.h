// SPDX-License-Identifier: MIT
// The fake platform with the real Lua runner behind it.
#pragma once

#include <memory>

#include "platform/ScriptRunner.h"
#include "support/FakeEnv.h"
#include "support/World.h"

namespace vrk::test {

using HandlerCall = HostScript::Call;
using JsonValue = nlohmann::json;
inline std::string TakeText(char* text) { return Take(text); }

class ScriptEnv {
 public:
  ScriptEnv();
  FakeEnv* operator->() { return &*env_; }

 private:
  std::unique_ptr<platform::ScriptRunner> lua_;
  ScopedFakeEnv env_;
};

}  // namespace vrk::test
