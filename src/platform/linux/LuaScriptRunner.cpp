#include "platform/linux/LinuxPlatform.h"

namespace vrk::platform {

namespace {

// Placeholder until the Lua runner lands: no script loads.
class LuaScriptRunner final : public ScriptRunner {
 public:
  std::unique_ptr<LoadedScript> Load(const std::string&) override { return nullptr; }
};

}  // namespace

std::unique_ptr<ScriptRunner> NewLuaScriptRunner() {
  return std::make_unique<LuaScriptRunner>();
}

}  // namespace vrk::platform
