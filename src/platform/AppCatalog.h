// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <vector>

namespace vrk::platform {

// Failures are answers (none found); nothing but std::bad_alloc is thrown.
class AppCatalog {
 public:
  virtual ~AppCatalog() = default;
  // Locations of every installed application registered under this ID (on
  // Linux, a desktop-entry ID); empty when there is none.
  virtual std::vector<std::string> ApplicationsForId(const std::string& id) = 0;
};

}  // namespace vrk::platform
