// SPDX-License-Identifier: MIT
#include "helper/JsonHelper.h"

#include <stdexcept>
#include <vector>

#include "extension/NSStringEx.h"

namespace vrk {

namespace {

// An envelope holds a member value one level down, or two inside a host run
// result; the encoder leaves room for both.
constexpr size_t kMaxWriteDepth = JsonHelper::kMaxDepth + 2;

void AppendString(std::string& out, const std::string& s) {
  if (!IsValidUtf8(s)) throw std::invalid_argument("text is not UTF-8");
  static const char kHex[] = "0123456789abcdef";
  out += '"';
  for (unsigned char c : s) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '/':
        out += "\\/";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 0xF];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

// A container being written: the members still to come.
struct OpenContainer {
  const Json* value;
  Json::const_iterator next;
};

// Writes a scalar or an empty container whole; opens any other container,
// whose members the loop in AppendValue writes.
void BeginValue(std::string& out, const Json& v, std::vector<OpenContainer>& open) {
  if (open.size() > kMaxWriteDepth) throw std::length_error("value nested too deeply");
  switch (v.type()) {
    case Json::value_t::object:
    case Json::value_t::array:
      if (v.empty()) {
        out += v.is_object() ? "{}" : "[]";
      } else {
        out += v.is_object() ? '{' : '[';
        open.push_back({&v, v.cbegin()});
      }
      return;
    case Json::value_t::string:
      AppendString(out, v.get_ref<const std::string&>());
      return;
    case Json::value_t::boolean:
      out += v.get<bool>() ? "true" : "false";
      return;
    case Json::value_t::null:
      out += "null";
      return;
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
    case Json::value_t::number_float:
      out += NumberText(v);
      return;
    default:
      throw std::invalid_argument("value cannot be written as JSON");
  }
}

// Iterative, so the caller's stack does not bound the depth written.
void AppendValue(std::string& out, const Json& root) {
  std::vector<OpenContainer> open;
  BeginValue(out, root, open);
  while (!open.empty()) {
    OpenContainer& top = open.back();
    const size_t depth = open.size();
    if (top.next == top.value->cend()) {
      out += '\n';
      out.append(2 * (depth - 1), ' ');
      out += top.value->is_object() ? '}' : ']';
      open.pop_back();
      continue;
    }
    out += top.next == top.value->cbegin() ? "\n" : ",\n";
    out.append(2 * depth, ' ');
    if (top.value->is_object()) {
      AppendString(out, top.next.key());
      out += " : ";
    }
    const Json& member = *top.next++;
    BeginValue(out, member, open);  // may move `top`
  }
}

}  // namespace

std::string JsonHelper::Encode(const Json& value) {
  if (!value.is_object() && !value.is_array()) {
    throw std::invalid_argument("only an object or an array is written");
  }
  std::string out;
  AppendValue(out, value);
  return out;
}

char* JsonHelper::objectToJson(const Json& value) noexcept {
  try {
    return HeapCopyOrEmpty(Encode(value));
  } catch (...) {
    return ConstantEmptyString();
  }
}

size_t JsonHelper::NestingDepth(std::string_view text, size_t stopAbove) {
  size_t depth = 0;
  size_t deepest = 0;
  bool inString = false;
  bool escaped = false;
  for (char c : text) {
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > deepest) {
        deepest = depth;
        if (deepest > stopAbove) break;
      }
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return deepest;
}

std::optional<Json> JsonHelper::jsonToObject(const Text& text) {
  if (!text) return std::nullopt;
  // The parser itself copes, but copying such a value recurses once a level.
  if (NestingDepth(*text, kMaxDepth + 1) > kMaxDepth + 1) return std::nullopt;
  try {
    Json value = Json::parse(*text, nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded()) return std::nullopt;
    return value;
  } catch (...) {
    return std::nullopt;
  }
}

Json JsonHelper::Envelope(std::initializer_list<const char*> keys) {
  Json object = Json::object();
  for (const char* key : keys) object[key] = "";
  return object;
}

void JsonHelper::Store(Json& object, const std::string& key, const Json* value) {
  if (value == nullptr) {
    object.erase(key);
  } else {
    object[key] = *value;
  }
}

void JsonHelper::Store(Json& object, const std::string& key, std::optional<Json>&& value) {
  if (!value) {
    object.erase(key);
  } else {
    object[key] = std::move(*value);
  }
}

void JsonHelper::Store(Json& object, const std::string& key, const Text& value) {
  if (!value) {
    object.erase(key);
  } else {
    object[key] = *value;
  }
}

}  // namespace vrk
