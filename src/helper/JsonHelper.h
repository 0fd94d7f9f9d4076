// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "extension/Text.h"
#include "helper/Json.h"

namespace vrk {

class JsonHelper {
 public:
  // The deepest nesting a member value of an answer may have; the encoder
  // writes such a value inside any envelope, and nothing deeper is decoded.
  static constexpr size_t kMaxDepth = 512;

  // Pretty-printed JSON of an object or array as a heap copy for the caller, or
  // the constant empty string when the value cannot be written (a text that is
  // not UTF-8, a number that is not finite, a scalar at the top).
  static char* objectToJson(const Json& value) noexcept;

  // The same text as a std::string; throws when the value cannot be written.
  static std::string Encode(const Json& value);

  // How deeply brackets outside strings nest in text, counting stopped once it
  // passes stopAbove. Says nothing about whether text is JSON.
  static size_t NestingDepth(std::string_view text, size_t stopAbove);

  // Any JSON value, scalars at the top included; nothing for absent text, text
  // that is not JSON, or a value nested deeper than one level above kMaxDepth.
  static std::optional<Json> jsonToObject(const Text& text);

  // An object whose keys all hold "".
  static Json Envelope(std::initializer_list<const char*> keys);

  // Stores value under key; an absent value removes the key instead.
  static void Store(Json& object, const std::string& key, const Json* value);
  static void Store(Json& object, const std::string& key, std::optional<Json>&& value);
  static void Store(Json& object, const std::string& key, const Text& value);
};

}  // namespace vrk
