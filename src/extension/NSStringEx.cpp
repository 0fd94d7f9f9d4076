// SPDX-License-Identifier: MIT
#include "extension/NSStringEx.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

#include "extension/Text.h"

namespace vrk {

std::string NumberText(const Json& number) {
  if (number.is_number_integer() && !number.is_number_unsigned()) {
    return std::to_string(number.get<int64_t>());
  }
  if (number.is_number_unsigned()) return std::to_string(number.get<uint64_t>());
  double d = number.get<double>();
  if (!std::isfinite(d)) throw std::domain_error("number is not finite");
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d);
  if (ec != std::errc()) throw std::domain_error("number cannot be written");
  return std::string(buf, end);
}

std::string NSStringEx::stringFromValue(const Json* value) {
  if (value == nullptr) return "";
  if (value->is_string()) return value->get<std::string>();
  if (value->is_boolean()) return value->get<bool>() ? "1" : "0";
  if (value->is_number()) {
    try {
      return NumberText(*value);
    } catch (const std::exception&) {
      return "";
    }
  }
  return "";
}

}  // namespace vrk
