// SPDX-License-Identifier: MIT
#include "HostScript.h"

#include "platform/linux/LinuxPlatform.h"

namespace vrk::test {

ScriptEnv::ScriptEnv() : lua_(platform::NewLuaScriptRunner()) {
  env_->UseScripts(lua_.get());
}

}  // namespace vrk::test
