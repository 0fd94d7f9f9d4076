#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "extension/NSStringEx.h"
#include "helper/Json.h"

namespace vrk {

class JsonHelper {
 public:
  // Pretty-printed JSON of an object or array as a heap copy for the caller, or
  // the constant empty string when the value cannot be written (a text that is
  // not UTF-8, a number that is not finite, a scalar at the top).
  static char* objectToJson(const Json& value);

  // The same text as a std::string; throws when the value cannot be written.
  static std::string Encode(const Json& value);

  // Any JSON value, scalars at the top included; nothing for absent text or text
  // that is not JSON.
  static std::optional<Json> jsonToObject(const Text& text);

  // An object whose keys all hold "".
  static Json Envelope(std::initializer_list<const char*> keys);

  // Stores value under key; an absent value removes the key instead.
  static void Store(Json& object, const std::string& key, const Json* value);
  static void Store(Json& object, const std::string& key, const Text& value);
};

}  // namespace vrk
