// SPDX-License-Identifier: MIT
#include "platform/linux/VersionResource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace vrk::platform::pe {

namespace {

constexpr uint32_t kResourceDirectory = 2;
constexpr uint32_t kVersionType = 16;  // RT_VERSION
constexpr size_t kMaxSections = 96;
// Entries looked at in one resource directory; real ones hold a handful.
constexpr size_t kMaxDirectoryEntries = 4096;
// Version resources are a few kilobytes.
constexpr uint32_t kMaxVersionBytes = 256 << 10;

uint16_t U16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

struct Section {
  uint32_t address, rawSize, rawOffset;
};

class Image {
 public:
  explicit Image(const ReadAt& read) : read_(read) {}

  bool Get(uint64_t offset, void* out, size_t size) const { return read_(offset, out, size); }
  std::optional<uint16_t> Word(uint64_t offset) const {
    uint8_t b[2];
    if (!Get(offset, b, 2)) return std::nullopt;
    return U16(b);
  }
  std::optional<uint32_t> Dword(uint64_t offset) const {
    uint8_t b[4];
    if (!Get(offset, b, 4)) return std::nullopt;
    return U32(b);
  }

  // The resource directory's place in the file and the sections that map it.
  bool ReadHeaders() {
    uint8_t mz[2];
    if (!Get(0, mz, 2) || mz[0] != 'M' || mz[1] != 'Z') return false;
    std::optional<uint32_t> peOffset = Dword(0x3C);
    if (!peOffset) return false;
    uint8_t coff[24];
    if (!Get(*peOffset, coff, sizeof coff) || std::memcmp(coff, "PE\0\0", 4) != 0) return false;
    uint16_t sectionCount = U16(coff + 6);
    uint16_t optionalSize = U16(coff + 20);
    uint64_t optional = uint64_t{*peOffset} + 24;
    std::optional<uint16_t> magic = Word(optional);
    if (!magic) return false;
    uint32_t directories;
    if (*magic == 0x10B) {
      directories = 96;
    } else if (*magic == 0x20B) {
      directories = 112;
    } else {
      return false;
    }
    std::optional<uint32_t> count = Dword(optional + directories - 4);
    uint32_t entryEnd = directories + (kResourceDirectory + 1) * 8;
    if (!count || *count <= kResourceDirectory || entryEnd > optionalSize) return false;
    std::optional<uint32_t> rva = Dword(optional + directories + kResourceDirectory * 8);
    if (!rva || *rva == 0) return false;
    resourceRva_ = *rva;
    if (sectionCount > kMaxSections) return false;
    uint64_t table = optional + optionalSize;
    for (uint16_t i = 0; i < sectionCount; ++i) {
      uint8_t s[40];
      if (!Get(table + uint64_t{i} * 40, s, sizeof s)) return false;
      sections_.push_back({U32(s + 12), U32(s + 16), U32(s + 20)});
    }
    return true;
  }

  // File offset of `size` bytes at a virtual address, all inside one section's
  // bytes in the file.
  std::optional<uint64_t> Locate(uint64_t rva, uint64_t size) const {
    for (const Section& s : sections_) {
      if (rva < s.address) continue;
      uint64_t into = rva - s.address;
      if (into + size > s.rawSize) continue;
      return uint64_t{s.rawOffset} + into;
    }
    return std::nullopt;
  }

  // Follows type RT_VERSION, then the first name and the first language, down
  // the three fixed levels of the resource tree; the fixed depth is what keeps
  // a directory that points back at itself from looping.
  std::optional<std::vector<uint8_t>> VersionResource() const {
    uint32_t dirOffset = 0;
    for (int level = 0; level < 3; ++level) {
      std::optional<uint32_t> target = Pick(dirOffset, level == 0 ? kVersionType : 0, level == 0);
      if (!target) return std::nullopt;
      bool isDirectory = (*target & 0x80000000u) != 0;
      if (isDirectory != (level < 2)) return std::nullopt;
      dirOffset = *target & 0x7FFFFFFFu;
    }
    std::optional<uint64_t> entry = Locate(uint64_t{resourceRva_} + dirOffset, 16);
    if (!entry) return std::nullopt;
    std::optional<uint32_t> dataRva = Dword(*entry);
    std::optional<uint32_t> size = Dword(*entry + 4);
    if (!dataRva || !size || *size == 0 || *size > kMaxVersionBytes) return std::nullopt;
    std::optional<uint64_t> data = Locate(*dataRva, *size);
    if (!data) return std::nullopt;
    std::vector<uint8_t> bytes(*size);
    if (!Get(*data, bytes.data(), bytes.size())) return std::nullopt;
    return bytes;
  }

 private:
  // The target of the entry with this ID, or of the first entry at all.
  std::optional<uint32_t> Pick(uint32_t dirOffset, uint32_t id, bool byId) const {
    std::optional<uint64_t> header = Locate(uint64_t{resourceRva_} + dirOffset, 16);
    if (!header) return std::nullopt;
    std::optional<uint16_t> named = Word(*header + 12);
    std::optional<uint16_t> ids = Word(*header + 14);
    if (!named || !ids) return std::nullopt;
    size_t count = size_t{*named} + *ids;
    if (count > kMaxDirectoryEntries) count = kMaxDirectoryEntries;
    for (size_t i = 0; i < count; ++i) {
      std::optional<uint64_t> at =
          Locate(uint64_t{resourceRva_} + dirOffset + 16 + uint64_t{i} * 8, 8);
      if (!at) return std::nullopt;
      uint8_t e[8];
      if (!Get(*at, e, sizeof e)) return std::nullopt;
      uint32_t name = U32(e);
      if (!byId || ((name & 0x80000000u) == 0 && name == id)) return U32(e + 4);
    }
    return std::nullopt;
  }

  const ReadAt& read_;
  uint32_t resourceRva_ = 0;
  std::vector<Section> sections_;
};

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// UTF-16LE up to the first NUL; an unpaired surrogate becomes U+FFFD.
std::string FromUtf16(const uint8_t* p, size_t units) {
  std::string out;
  for (size_t i = 0; i < units; ++i) {
    uint32_t u = U16(p + 2 * i);
    if (u == 0) break;
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < units) {
      uint32_t low = U16(p + 2 * (i + 1));
      if (low >= 0xDC00 && low < 0xE000) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    AppendUtf8(out, u >= 0xD800 && u < 0xE000 ? 0xFFFD : u);
  }
  return out;
}

size_t Align4(size_t n) {
  return (n + 3) & ~size_t{3};
}

// One block of the version resource: a length, a key and a value, followed by
// its children up to its length.
struct Block {
  std::string key;
  size_t valueBegin = 0, valueEnd = 0, childrenBegin = 0, end = 0;
  bool text = false;
};

std::optional<Block> ReadBlock(const std::vector<uint8_t>& b, size_t at, size_t limit) {
  if (at + 6 > limit) return std::nullopt;
  size_t length = U16(&b[at]);
  size_t valueLength = U16(&b[at + 2]);
  Block block;
  block.text = U16(&b[at + 4]) == 1;
  if (length < 6 || at + length > limit) return std::nullopt;
  block.end = at + length;
  size_t p = at + 6;
  size_t keyStart = p;
  while (p + 2 <= block.end && U16(&b[p]) != 0) p += 2;
  if (p + 2 > block.end) return std::nullopt;
  block.key = FromUtf16(&b[keyStart], (p - keyStart) / 2);
  p = Align4(p + 2);
  size_t valueBytes = block.text ? valueLength * 2 : valueLength;
  block.valueBegin = p < block.end ? p : block.end;
  block.valueEnd =
      block.valueBegin + valueBytes < block.end ? block.valueBegin + valueBytes : block.end;
  block.childrenBegin = Align4(block.valueEnd);
  return block;
}

// Children of a block, each at a 4-byte boundary; each step moves forward by
// at least the smallest block, so the walk ends.
template <typename Fn>
void ForChildren(const std::vector<uint8_t>& b, const Block& parent, Fn fn) {
  size_t at = parent.childrenBegin;
  while (at < parent.end) {
    std::optional<Block> child = ReadBlock(b, at, parent.end);
    if (!child) return;
    fn(*child);
    at = Align4(child->end);
  }
}

std::string Trimmed(std::string s) {
  size_t begin = s.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return {};
  return s.substr(begin, s.find_last_not_of(" \t\r\n") - begin + 1);
}

// Strings of US English tables first: the host names are English, and most
// programs carry that table; any other table comes next, in file order.
std::optional<VersionNames> NamesFrom(const std::vector<uint8_t>& b) {
  std::optional<Block> root = ReadBlock(b, 0, b.size());
  if (!root || root->key != "VS_VERSION_INFO") return std::nullopt;
  VersionNames english, other;
  ForChildren(b, *root, [&](const Block& info) {
    if (info.key != "StringFileInfo") return;
    ForChildren(b, info, [&](const Block& table) {
      bool isEnglish =
          table.key.size() == 8 && (table.key.starts_with("0409") || table.key.starts_with("0000"));
      VersionNames& names = isEnglish ? english : other;
      ForChildren(b, table, [&](const Block& string) {
        std::optional<std::string>* slot = nullptr;
        if (string.key == "ProductName") slot = &names.productName;
        if (string.key == "FileDescription") slot = &names.fileDescription;
        if (slot == nullptr || *slot) return;
        std::string value = Trimmed(
            FromUtf16(&b[0] + string.valueBegin, (string.valueEnd - string.valueBegin) / 2));
        if (!value.empty()) *slot = value;
      });
    });
  });
  VersionNames names{english.productName ? english.productName : other.productName,
                     english.fileDescription ? english.fileDescription : other.fileDescription};
  if (!names.productName && !names.fileDescription) return std::nullopt;
  return names;
}

}  // namespace

std::optional<VersionNames> ReadVersionNames(const ReadAt& read) {
  Image image(read);
  if (!image.ReadHeaders()) return std::nullopt;
  std::optional<std::vector<uint8_t>> resource = image.VersionResource();
  if (!resource) return std::nullopt;
  return NamesFrom(*resource);
}

std::optional<VersionNames> ReadVersionNames(std::string_view bytes) {
  return ReadVersionNames([bytes](uint64_t offset, void* out, size_t size) {
    if (offset > bytes.size() || size > bytes.size() - offset) return false;
    std::memcpy(out, bytes.data() + offset, size);
    return true;
  });
}

std::optional<VersionNames> ReadVersionNamesOfFile(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return std::nullopt;
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  struct stat st;
  std::optional<VersionNames> names;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    uint64_t fileSize = static_cast<uint64_t>(st.st_size);
    names = ReadVersionNames([fd, fileSize](uint64_t offset, void* out, size_t size) {
      if (offset > fileSize || size > fileSize - offset) return false;
      auto* p = static_cast<uint8_t*>(out);
      while (size > 0) {
        ssize_t n = pread(fd, p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        offset += static_cast<uint64_t>(n);
        size -= static_cast<size_t>(n);
      }
      return true;
    });
  }
  close(fd);
  return names;
}

}  // namespace vrk::platform::pe
