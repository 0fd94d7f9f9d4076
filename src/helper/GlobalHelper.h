// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <string>

#include "extension/Text.h"

namespace vrk {

// The caller identity, the one value the exports share. Readers get their own
// copy, so a SetAppName racing another export never frees what is being read.
class GlobalHelper {
 public:
  static GlobalHelper& sharedInstance();

  static Text GetAppName() { return sharedInstance().appName(); }
  static void SetAppName(Text name) { sharedInstance().setAppName(std::move(name)); }

  // first when the identity is exactly "MuXan", second otherwise (absent too).
  template <typename T>
  static T ChooseByIdentity(T first, T second) {
    Text name = GetAppName();
    return (name && *name == "MuXan") ? first : second;
  }

  Text appName() const;
  void setAppName(Text name);

 private:
  GlobalHelper() = default;
  Text appName_;
};

}  // namespace vrk
