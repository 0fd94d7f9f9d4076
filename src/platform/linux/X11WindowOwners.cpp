// SPDX-License-Identifier: MIT
#include "platform/linux/X11WindowOwners.h"

#include <unistd.h>

#include <array>
#include <string_view>

#include "extension/Text.h"

namespace vrk::platform::x11 {

namespace {

// Applications write WM_CLASS as the UTF-8 bytes of their name whatever type
// they declare; only bytes that cannot be UTF-8 are taken for Latin-1.
std::string AsUtf8(std::string_view bytes) {
  if (IsValidUtf8(bytes)) return std::string(bytes);
  std::string text;
  for (unsigned char ch : bytes) {
    if (ch < 0x80) {
      text += static_cast<char>(ch);
    } else {
      text += static_cast<char>(0xC0 | (ch >> 6));
      text += static_cast<char>(0x80 | (ch & 0x3F));
    }
  }
  return text;
}

// Name of the program behind a process: the executable's file name, since
// /proc/PID/comm is cut at 15 characters.
std::optional<std::string> ExecutableName(uint32_t pid) {
  std::string link = "/proc/" + std::to_string(pid) + "/exe";
  std::array<char, 4096> buf{};
  ssize_t n = readlink(link.c_str(), buf.data(), buf.size());
  if (n <= 0 || static_cast<size_t>(n) >= buf.size()) return std::nullopt;
  std::string path(buf.data(), static_cast<size_t>(n));
  constexpr std::string_view kDeleted = " (deleted)";  // replaced on upgrade
  if (path.size() > kDeleted.size() && path.ends_with(kDeleted)) {
    path.resize(path.size() - kDeleted.size());
  }
  std::string name = path.substr(path.find_last_of('/') + 1);
  if (name.empty()) return std::nullopt;
  return AsUtf8(name);
}

std::string HostName() {
  std::array<char, 256> buf{};
  if (gethostname(buf.data(), buf.size() - 1) != 0) return {};
  return buf.data();
}

}  // namespace

// WM_CLASS is "instance\0class\0".
Owned OwnerReader::Named(xcb_window_t client, const Property& wmClass, const Property& pid) {
  std::string_view bytes = Bytes(wmClass);
  size_t end = bytes.find('\0');
  std::string_view instance = bytes.substr(0, end);
  std::string_view klass =
      end == std::string_view::npos ? std::string_view() : bytes.substr(end + 1);
  klass = klass.substr(0, klass.find('\0'));
  std::optional<uint32_t> process = FirstCardinal(pid);
  if (process == 0u) process.reset();
  return {client, namer_.FromClass(AsUtf8(instance), AsUtf8(klass)),
          OwnerNamer::WantsProcess(klass), process};
}

void OwnerReader::NameByProcess(std::vector<Owned>& kept) {
  xcb_connection_t* c = exchange_.connection();
  uint32_t self = static_cast<uint32_t>(getpid());
  struct Ask {
    size_t index;
    PropertyAsk machine;
  };
  std::vector<Ask> asks;
  for (size_t i = 0; i < kept.size(); ++i) {
    const Owned& k = kept[i];
    if (!k.pid || (k.owner && !k.byProcess && *k.pid != self)) continue;
    asks.push_back({i, AskProperty(c, k.client, XCB_ATOM_WM_CLIENT_MACHINE, kMaxTextWords)});
  }
  // Every reply first: reading process files between replies would leave
  // the connection to take them in dribs.
  std::vector<size_t> local;
  for (const Ask& ask : asks) {
    bool gone = false;
    Property machine = exchange_.AwaitProperty(ask.machine, &gone);
    Owned& k = kept[ask.index];
    if (gone) {
      k.client = XCB_WINDOW_NONE;
    } else if (IsLocal(machine)) {
      k.caller = *k.pid == self;
      local.push_back(ask.index);
    }
  }
  for (size_t i : local) {
    Owned& k = kept[i];
    if (k.owner && !k.byProcess) continue;
    if (std::optional<std::string> program = namer_.FromProcess(*k.pid)) {
      k.owner = std::move(program);
    } else if (!k.owner) {
      k.owner = ExecutableName(*k.pid);
    }
  }
}

// A process number only means something on the machine that runs it.
bool OwnerReader::IsLocal(const Property& machine) {
  std::string_view host = Bytes(machine);
  host = host.substr(0, host.find('\0'));
  return host.empty() || host == LocalHost();
}

const std::string& OwnerReader::LocalHost() {
  if (!hostName_) hostName_ = HostName();
  return *hostName_;
}

}  // namespace vrk::platform::x11
