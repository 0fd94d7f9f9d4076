// SPDX-License-Identifier: MIT
#include "platform/Env.h"

#include <atomic>

namespace vrk::platform {

namespace {
std::atomic<Env*> g_testEnv{nullptr};
}  // namespace

Env& Env::Get() {
  Env* env = g_testEnv.load(std::memory_order_acquire);
  return env != nullptr ? *env : Default();
}

void SetEnvForTesting(Env* env) {
  g_testEnv.store(env, std::memory_order_release);
}

}  // namespace vrk::platform
