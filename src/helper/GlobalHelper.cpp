// SPDX-License-Identifier: MIT
#include "helper/GlobalHelper.h"

#include "platform/ForkSafeMutex.h"

namespace vrk {

namespace {
struct IdentityLock;

// Made while the library loads, before any thread can fork meanwhile.
[[maybe_unused]] const bool kIdentityReady =
    (GlobalHelper::sharedInstance(), platform::ForkSafeMutex<IdentityLock>(), true);
}  // namespace

GlobalHelper& GlobalHelper::sharedInstance() {
  // Never destroyed: exports may still run while the process exits.
  static GlobalHelper* instance = new GlobalHelper();
  return *instance;
}

Text GlobalHelper::appName() const {
  std::lock_guard<std::mutex> lock(platform::ForkSafeMutex<IdentityLock>());
  return appName_;
}

void GlobalHelper::setAppName(Text name) {
  std::lock_guard<std::mutex> lock(platform::ForkSafeMutex<IdentityLock>());
  appName_ = std::move(name);
}

}  // namespace vrk
