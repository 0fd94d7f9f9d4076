// SPDX-License-Identifier: MIT
// Soak: each export called many times against the real platform (a private
// Xvfb with Photoshop and Illustrator windows, private fontconfig with the
// test fonts, the real Lua runner), with resident memory, open descriptors
// and X connections measured before and after each export's run. Fails when
// descriptors or X connections grow, or memory grows past the limit.
//   vrkfont_soak [CALLS_PER_EXPORT=10000] [RSS_LIMIT_KB=2048]
#include <dirent.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "support/World.h"
#include "support/XServer.h"
#include "vrkfont/VRKFont.h"

namespace {

using vrk::test::ListOf;
using vrk::test::Take;

struct Usage {
  long rssKb = 0;
  int fds = 0;
  int xConnections = 0;
};

long RssKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

// Open descriptors, and those connected to an X server's socket: a connected
// local socket names the address its peer is bound to.
Usage Measure() {
  Usage u;
  u.rssKb = RssKb();
  DIR* dir = ::opendir("/proc/self/fd");
  if (dir == nullptr) return u;
  const int own = ::dirfd(dir);
  while (dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    int fd = std::atoi(entry->d_name);
    if (fd == own) continue;
    ++u.fds;
    sockaddr_un peer{};
    socklen_t len = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len) == 0 &&
        peer.sun_family == AF_UNIX && len > offsetof(sockaddr_un, sun_path)) {
      std::string path(peer.sun_path + 1, len - offsetof(sockaddr_un, sun_path) - 1);
      if (path.find(".X11-unix") != std::string::npos) ++u.xConnections;
    }
  }
  ::closedir(dir);
  return u;
}

}  // namespace

int main(int argc, char** argv) {
  const int calls = argc > 1 ? std::atoi(argv[1]) : 10000;
  const long rssLimitKb = argc > 2 ? std::atol(argv[2]) : 2048;
  vrk::test::World box;
  vrk::test::HostScript host;
  host.Write(R"lua(
local function answer() return '{"code":"1","version":"1","doResult":"1","fontListString":"A"}' end
setSoftwareFont, setSoftwareBatchFonts, setSoftwareDoJs, getSoftwareFileFonts = answer, answer, answer, answer
function getSoftwareFilePath(host) return "Disk:Users:" .. host .. ":doc.psd" end
)lua");
  std::filesystem::create_directories(box.Path("data/applications"));
  vrk::test::WriteFile(box.Path("data/applications/vrk.soak.desktop"),
                       "[Desktop Entry]\nType=Application\nName=Vrk\nExec=true\n");
  vrk::xtest::Xvfb server;
  vrk::xtest::Client x;
  x.App("Adobe Illustrator");
  x.App("Adobe Photoshop 2024");  // mapped last, so in front

  const std::string script = host.path();
  const char* s = script.c_str();
  const std::string fonts =
      ListOf({box.CopyFont("alpha/VrkAlpha-Regular.ttf", "user/a.ttf"),
              box.CopyFont("coll/VrkTrio.ttc", "user/trio.ttc"), box.Path("user/missing.ttf")});
  const char* f = fonts.c_str();
  SetAppName("Soak");

  const std::pair<const char*, std::function<void()>> exports[] = {
      {"SetAppName", [] { SetAppName("Soak"); }},
      {"GetAppName", [] { Take(GetAppName()); }},
      {"SetSoftwareFont", [s] { Take(SetSoftwareFont("VrkAlpha-Regular", "a", "b", s, "")); }},
      {"SetSoftwareBatchFonts", [s] { Take(SetSoftwareBatchFonts("{\"A\":\"B\"}", s)); }},
      {"SetSoftwareDoJs", [s] { Take(SetSoftwareDoJs("app.name", "app.name", s)); }},
      {"GetSoftwareFilePath", [s] { Take(GetSoftwareFilePath(s)); }},
      {"GetSoftwareFileFonts", [s] { Take(GetSoftwareFileFonts(s)); }},
      {"RegisterFont", [f] { Take(RegisterFont(f)); }},
      {"FontIsRegistered", [] { FontIsRegistered(nullptr, "VrkAlpha-Regular", "Vrk Alpha"); }},
      {"FindFont", [] { Take(FindFont("VrkTrio-Bold", "Vrk Trio")); }},
      {"GetAvailableFonts", [] { Take(GetAvailableFonts()); }},
      {"UnRegisterFont", [f] { Take(UnRegisterFont(f)); }},
      {"CheckSoftwareIsInstalled", [] { CheckSoftwareIsInstalled("vrk.soak"); }},
  };

  // The calls must do the real work: a host in front, fonts registered.
  std::printf("SetSoftwareFont answers: %s\n",
              Take(SetSoftwareFont("VrkAlpha-Regular", "a", "b", s, "")).c_str());
  std::printf("RegisterFont answers: %s\n", Take(RegisterFont(f)).c_str());
  std::printf("FindFont answers: %s\n", Take(FindFont("VrkAlpha-Regular", nullptr)).c_str());
  Take(UnRegisterFont(f));

  bool ok = true;
  const Usage start = Measure();
  std::printf("%-26s %7s %10s %10s %7s %9s %7s %8s\n", "export", "calls", "RSS KB", "after",
              "growth", "fds", "X conns", "seconds");
  for (const auto& [name, call] : exports) {
    for (int i = 0; i < 100; ++i) call();  // one-time set-up is not growth
    const Usage before = Measure();
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < calls; ++i) call();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const Usage after = Measure();
    const long growth = after.rssKb - before.rssKb;
    const bool good = growth <= rssLimitKb && after.fds == before.fds &&
                      after.xConnections == before.xConnections;
    ok = ok && good;
    std::printf("%-26s %7d %10ld %10ld %7ld %4d->%-4d %3d->%-3d %8.1f%s\n", name, calls,
                before.rssKb, after.rssKb, growth, before.fds, after.fds, before.xConnections,
                after.xConnections, seconds, good ? "" : "  GREW");
  }
  const Usage end = Measure();
  std::printf("whole run: RSS %ld -> %ld KB, fds %d -> %d, X connections %d -> %d\n", start.rssKb,
              end.rssKb, start.fds, end.fds, start.xConnections, end.xConnections);
  std::printf(ok ? "soak: flat\n" : "soak: GROWTH\n");
  return ok ? 0 : 1;
}
