// SPDX-License-Identifier: MIT
// A private world for one test process: temporary HOME and XDG folders, a
// fontconfig configuration of its own (one system font folder plus the user's
// conf.d), an application entry, a real Lua host script and copies of the
// generated test fonts. The user's own fonts and settings are never touched.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/WindowList.h"

namespace vrk::hardening {

class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const std::string& root() const { return root_; }
  std::string Path(const std::string& relative) const { return root_ + "/" + relative; }
  // Where the session registrations live.
  std::string SessionFolder() const { return Path("run/vrkfont-fonts"); }
  // The host script: every handler answers success and echoes its arguments.
  std::string Script() const { return Path("host.lua"); }
  // The desktop-entry ID of the one installed application.
  static constexpr const char* kInstalledId = "vrk.hardening";

  // A generated test font ("alpha/VrkAlpha-Regular.ttf").
  static std::string TestFont(const std::string& name);
  // A private copy of a test font at a path under the root, folders made as
  // needed; each copy is a registration of its own.
  std::string CopyFont(const std::string& name, const std::string& relative) const;

 private:
  std::string root_;
  // The environment as it was, put back on destruction (TMPDIR too, which
  // tests may change).
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// A window list that never changes, safe to read from any thread.
class FixedWindows final : public platform::WindowList {
 public:
  FixedWindows(std::vector<std::string> onScreen, std::vector<std::string> all);
  std::vector<platform::WindowInfo> OnScreenWindows() override { return onScreen_; }
  std::vector<platform::WindowInfo> AllWindows() override { return all_; }

 private:
  std::vector<platform::WindowInfo> onScreen_;
  std::vector<platform::WindowInfo> all_;
};

// A text answer as the caller sees it; heap copies are freed, the shared
// empty string is not.
std::string Take(char* text);
// A JSON array of paths, the way the caller builds one.
std::string ListOf(const std::vector<std::string>& paths);
// Number of "|-|"-separated flags, each "0" or "1"; -1 when malformed.
int FlagCount(const std::string& flags);

}  // namespace vrk::hardening
