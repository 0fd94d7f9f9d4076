// SPDX-License-Identifier: MIT
// Small PE32+ images with a version resource, built byte by byte to be broken.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vrk::petest {

// `size` little-endian bytes of v at b[at], growing b as needed.
inline void Put(std::string& b, size_t at, uint32_t v, size_t size = 4) {
  if (b.size() < at + size) b.resize(at + size);
  for (size_t i = 0; i < size; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}
inline const auto Padded = [](std::string b) { return b.append(-b.size() & 3, '\0'); };

// A version block: length, value length, type, key, value, children.
inline std::string Block(const std::u16string& key, const std::string& value, bool text,
                         const std::vector<std::string>& children = {}) {
  std::string b(6, '\0');
  for (char16_t c : key + u'\0') Put(b, b.size(), c, 2);
  b = Padded(b) + value;
  for (const std::string& child : children) b = Padded(b) + child;
  Put(b, 0, b.size(), 2);
  Put(b, 2, text ? value.size() / 2 : value.size(), 2);
  Put(b, 4, text, 2);
  return b;
}
inline std::string String(const std::u16string& key, const std::u16string& value) {
  std::string utf16;
  for (char16_t c : value + u'\0') Put(utf16, utf16.size(), c, 2);
  return Block(key, utf16, true);
}
inline std::string Version(
    const std::vector<std::pair<std::u16string, std::vector<std::string>>>& tables) {
  std::vector<std::string> blocks;
  for (const auto& [language, strings] : tables) blocks.push_back(Block(language, "", 1, strings));
  return Block(u"VS_VERSION_INFO", "\xBD\x04\xEF\xFE" + std::string(48, '\0'), false,
               {Block(u"StringFileInfo", "", true, blocks), Block(u"VarFileInfo", "", true)});
}

// One section (file 0x200, address 0x1000): the resource tree, one entry per
// level (type 16 at 0x210, its target at 0x214), then `version` to its end.
inline std::string Image(const std::string& version) {
  std::string b = "MZ", data = Padded(version);
  const uint32_t size = 0x60 + data.size();
  for (auto [at, v] : std::vector<std::pair<size_t, uint32_t>>{
           {0x3C, 0x40},   {0x40, 0x4550}, {0x44, 0x10000},     {0x54, 240},
           {0x58, 0x20B},  {0xC4, 16},     {0xD8, 0x1000},      {0x148, 0x7273722E},
           {0x14C, 0x63},  {0x150, size},  {0x154, 0x1000},     {0x158, size},
           {0x15C, 0x200}, {0x20E, 1},     {0x210, 16},         {0x214, 0x80000018},
           {0x226, 1},     {0x228, 1},     {0x22C, 0x80000030}, {0x23E, 1},
           {0x240, 0x409}, {0x244, 0x48},  {0x248, 0x1060},     {0x24C, uint32_t(data.size())}}) {
    Put(b, at, v);
  }
  b.resize(0x260);
  return b + data;
}

}  // namespace vrk::petest
