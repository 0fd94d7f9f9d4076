// SPDX-License-Identifier: MIT
// Small PE images with a version resource, built byte by byte so that tests
// can break each part on purpose.
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
inline std::string Padded(std::string b) {
  return b.append(-b.size() & 3, '\0');
}

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
// VS_VERSION_INFO with one string table per language.
inline std::string Version(
    const std::vector<std::pair<std::u16string, std::vector<std::string>>>& tables) {
  std::vector<std::string> blocks;
  for (const auto& [language, strings] : tables) blocks.push_back(Block(language, "", 1, strings));
  std::string fixed(52, '\0');
  Put(fixed, 0, 0xFEEF04BD);
  return Block(u"VS_VERSION_INFO", fixed, false,
               {Block(u"StringFileInfo", "", true, blocks), Block(u"VarFileInfo", "", true)});
}

struct Layout {
  bool pe32 = false;  // else PE32+
  uint32_t optionalSize = 240;
  uint32_t directoryCount = 16;
  uint32_t resourceRva = 0x1000;      // also the section's address
  uint32_t typeId = 16;               // RT_VERSION
  uint32_t secondLevel = 0x80000018;  // a directory, at 0x18
};

// Headers and one section holding the three-level resource tree, one entry
// per level, then `version`, which ends where the section does.
inline std::string Image(const std::string& version, const Layout& l = {}) {
  std::string b = "MZ", rsrc(0x60, '\0'), data = Padded(version);
  Put(b, 0x3C, 0x40);
  Put(b, 0x40, 0x4550);  // "PE\0\0"
  Put(b, 0x46, 1, 2);    // sections
  Put(b, 0x54, l.optionalSize, 2);
  const size_t opt = 0x58, directories = opt + (l.pe32 ? 96 : 112), section = opt + l.optionalSize;
  Put(b, opt, l.pe32 ? 0x10B : 0x20B, 2);
  Put(b, directories - 4, l.directoryCount);
  Put(b, directories + 16, l.resourceRva);
  for (uint32_t at : {0x0E, 0x26, 0x3E}) Put(rsrc, at, 1, 2);
  for (auto [at, v] : std::vector<std::pair<size_t, uint32_t>>{{0x10, l.typeId},
                                                               {0x14, l.secondLevel},
                                                               {0x28, 1},
                                                               {0x2C, 0x80000030},
                                                               {0x40, 0x409},
                                                               {0x44, 0x48},
                                                               {0x48, l.resourceRva + 0x60},
                                                               {0x4C, uint32_t(data.size())}}) {
    Put(rsrc, at, v);
  }
  b.resize(section);
  b += ".rsrc";
  const uint32_t size = 0x60 + data.size();
  for (auto [at, v] : {std::pair{8, size}, {12, l.resourceRva}, {16, size}, {20, 0x200u}}) {
    Put(b, section + at, v);
  }
  b.resize(0x200);
  return b + rsrc + data;
}

}  // namespace vrk::petest
