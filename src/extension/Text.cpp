// SPDX-License-Identifier: MIT
#include "extension/Text.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace vrk {

bool IsValidUtf8(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const auto* end = p + s.size();
  while (p < end) {
    unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    int extra;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (end - p <= extra) return false;
    for (int i = 1; i <= extra; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i] & 0x3F);
    }
    if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    p += extra + 1;
  }
  return true;
}

Text TextFromC(const char* s) {
  if (s == nullptr) return std::nullopt;
  std::string_view view(s);
  if (!IsValidUtf8(view)) return std::nullopt;
  return std::string(view);
}

CallerText::CallerText(const char* s) : text_(TextFromC(s)), null_(s == nullptr) {}

const std::string& CallerText::Require(const char* what) const {
  if (!text_) throw std::invalid_argument(std::string(what) + " is not a UTF-8 text");
  return *text_;
}

namespace {
char kEmptyString[1] = {'\0'};
}  // namespace

char* ConstantEmptyString() {
  return kEmptyString;
}

char* HeapCopyOrEmpty(std::string_view text) {
  if (text.empty()) return kEmptyString;
  // strdup would stop at an embedded NUL; copy the whole text instead.
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy == nullptr) return kEmptyString;
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  return copy;
}

}  // namespace vrk
