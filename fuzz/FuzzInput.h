// SPDX-License-Identifier: MIT
// Splits one fuzz input into several C-string arguments, some of them null.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vrk::fuzz {

class Arguments {
 public:
  // Parts are separated by a 0xFF byte; a part that is exactly "\x01" stands
  // for a null pointer.
  Arguments(const uint8_t* data, size_t size, size_t count) {
    std::string all(reinterpret_cast<const char*>(data), size);
    size_t start = 0;
    for (size_t i = 0; i < count; ++i) {
      size_t end = all.find('\xFF', start);
      if (end == std::string::npos) end = all.size();
      parts_.push_back(start <= all.size() ? all.substr(start, end - start) : std::string());
      start = end + 1;
    }
  }
  const char* operator[](size_t i) const {
    return parts_[i] == "\x01" ? nullptr : parts_[i].c_str();
  }

 private:
  std::vector<std::string> parts_;
};

}  // namespace vrk::fuzz
