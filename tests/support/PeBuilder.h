// SPDX-License-Identifier: MIT
// Builds small PE32+ files with a version resource, byte by byte, so tests can
// break each part on purpose.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vrk::petest {

inline void Put16(std::string& b, size_t at, uint32_t v) {
  if (b.size() < at + 2) b.resize(at + 2);
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
inline void Put32(std::string& b, size_t at, uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}

inline std::string Utf16(const std::u16string& s) {
  std::string b;
  for (char16_t c : s) Put16(b, b.size(), c);
  Put16(b, b.size(), 0);
  return b;
}

inline void Pad4(std::string& b) {
  b.resize((b.size() + 3) & ~size_t{3}, '\0');
}

// A version block: length, value length, type, key, value, children.
inline std::string Block(const std::u16string& key, const std::string& value, bool text,
                         const std::vector<std::string>& children = {}) {
  std::string b(6, '\0');
  b += Utf16(key);
  Pad4(b);
  b += value;
  for (const std::string& child : children) {
    Pad4(b);
    b += child;
  }
  Put16(b, 0, static_cast<uint32_t>(b.size()));
  Put16(b, 2, static_cast<uint32_t>(text ? value.size() / 2 : value.size()));
  Put16(b, 4, text ? 1 : 0);
  return b;
}

inline std::string String(const std::u16string& key, const std::u16string& value) {
  return Block(key, Utf16(value), true);
}

// VS_VERSION_INFO with one string table per language.
inline std::string Version(
    const std::vector<std::pair<std::u16string, std::vector<std::string>>>& tables) {
  std::vector<std::string> tableBlocks;
  for (const auto& [language, strings] : tables) {
    tableBlocks.push_back(Block(language, "", true, strings));
  }
  std::string fixed(52, '\0');
  Put32(fixed, 0, 0xFEEF04BD);
  return Block(
      u"VS_VERSION_INFO", fixed, false,
      {Block(u"StringFileInfo", "", true, tableBlocks), Block(u"VarFileInfo", "", true, {})});
}

struct Layout {
  uint32_t sectionRva = 0x1000;
  uint32_t rawOffset = 0x200;
  uint32_t directoryCount = 16;
  uint32_t typeId = 16;               // RT_VERSION
  uint32_t secondLevel = 0x80000018;  // directory at 0x18
  uint32_t dataSizeExtra = 0;         // added to the resource's size
};

// The image: DOS header, PE headers, one .rsrc section holding the three-level
// resource tree and `version`.
inline std::string Image(const std::string& version, const Layout& l = {}) {
  std::string b(l.rawOffset, '\0');
  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, 0x3C, 0x40);
  b.replace(0x40, 4, std::string("PE\0\0", 4));
  Put16(b, 0x44, 0x8664);
  Put16(b, 0x46, 1);    // sections
  Put16(b, 0x54, 240);  // optional header size
  size_t opt = 0x58;
  Put16(b, opt, 0x20B);
  Put32(b, opt + 108, l.directoryCount);
  std::string rsrc(0x60, '\0');
  // Root: one ID entry (the type), then name level, then language level.
  Put16(rsrc, 0x0E, 1);
  Put32(rsrc, 0x10, l.typeId);
  Put32(rsrc, 0x14, l.secondLevel);
  Put16(rsrc, 0x18 + 0x0E, 1);
  Put32(rsrc, 0x18 + 0x10, 1);
  Put32(rsrc, 0x18 + 0x14, 0x80000030);
  Put16(rsrc, 0x30 + 0x0E, 1);
  Put32(rsrc, 0x30 + 0x10, 0x409);
  Put32(rsrc, 0x30 + 0x14, 0x48);
  Put32(rsrc, 0x48, l.sectionRva + 0x60);
  Put32(rsrc, 0x4C, static_cast<uint32_t>(version.size()) + l.dataSizeExtra);
  rsrc += version;
  Pad4(rsrc);
  Put32(b, opt + 112 + 2 * 8, l.sectionRva);
  Put32(b, opt + 112 + 2 * 8 + 4, static_cast<uint32_t>(rsrc.size()));
  size_t section = opt + 240;
  b.replace(section, 5, ".rsrc");
  Put32(b, section + 8, static_cast<uint32_t>(rsrc.size()));
  Put32(b, section + 12, l.sectionRva);
  Put32(b, section + 16, static_cast<uint32_t>(rsrc.size()));
  Put32(b, section + 20, l.rawOffset);
  b.resize(l.rawOffset, '\0');
  b += rsrc;
  return b;
}

}  // namespace vrk::petest
