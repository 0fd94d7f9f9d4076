// SPDX-License-Identifier: MIT
// The one place where the library reaches the platform. Helpers ask Env::Get()
// for the part they need; tests install an in-memory Env instead.
#pragma once

#include "platform/AppCatalog.h"
#include "platform/FileSystem.h"
#include "platform/FontManager.h"
#include "platform/ScriptRunner.h"
#include "platform/WindowList.h"

namespace vrk::platform {

class Env {
 public:
  virtual ~Env() = default;
  virtual FileSystem& Files() = 0;
  virtual WindowList& Windows() = 0;
  virtual AppCatalog& Apps() = 0;
  virtual ScriptRunner& Scripts() = 0;
  virtual FontManager& Fonts() = 0;

  // The Env in force: the one installed for testing, else the platform's own.
  static Env& Get();
  // The platform's own Env, created on first use and never destroyed.
  static Env& Default();
};

// Not exported from the shared library: tests install a fake with this, and
// nullptr restores the platform's own. The Env must outlive its use.
void SetEnvForTesting(Env* env);

}  // namespace vrk::platform
