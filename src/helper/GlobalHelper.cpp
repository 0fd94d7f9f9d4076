// SPDX-License-Identifier: MIT
#include "helper/GlobalHelper.h"

namespace vrk {

GlobalHelper& GlobalHelper::sharedInstance() {
  // Never destroyed: exports may still run while the process exits.
  static GlobalHelper* instance = new GlobalHelper();
  return *instance;
}

Text GlobalHelper::appName() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return appName_;
}

void GlobalHelper::setAppName(Text name) {
  std::lock_guard<std::mutex> lock(mutex_);
  appName_ = std::move(name);
}

}  // namespace vrk
