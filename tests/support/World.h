// SPDX-License-Identifier: MIT
// The shared test world: a private HOME and XDG folders, a fontconfig
// configuration of its own, the generated test fonts and real Lua host
// scripts. The user's own fonts and settings are never touched.
#pragma once

#include <signal.h>
#include <sys/resource.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "helper/Json.h"

namespace vrk::test {

// A folder removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Folders home, config, data, cache, sysdata (XDG_DATA_DIRS) and run
// (XDG_RUNTIME_DIR, 0700) under one root; fonts.conf reads the folder
// "system" (one font, VrkTwin-Regular), the XDG fonts folder and the user's
// conf.d. The environment is put back on destruction.
class World {
 public:
  World();
  ~World();
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  const std::string& root() const { return dir_.path(); }
  std::string Path(const std::string& relative) const { return root() + "/" + relative; }
  // Points XDG_RUNTIME_DIR at a fresh 0700 folder under the root.
  void UseRuntimeDir(const std::string& relative);
  std::string SessionFolder() const { return runtime_ + "/vrkfont-fonts"; }
  std::string ConfFile() const {
    return Path("config/fontconfig/conf.d/50-vrkfont-session-fonts.conf");
  }

  // A generated test font, e.g. "alpha/VrkAlpha-Regular.ttf".
  static std::string TestFont(const std::string& name);
  // A private copy of a test font under the root, folders made as needed.
  std::string CopyFont(const std::string& name, const std::string& relative) const;

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
  TempDir dir_;
  std::string runtime_;
};

// A real Lua host script whose handlers log every call for the test to read.
class HostScript {
 public:
  struct Call {
    std::string handler;
    std::vector<std::string> args;
    bool operator==(const Call&) const = default;
  };
  const std::string& path() const { return path_; }
  const std::string& dir() const { return dir_.path(); }
  // Writes a prelude defining record(name, ...), then body.
  void Write(const std::string& body) const;
  std::vector<Call> Calls() const;
  // A handler that records its call and then runs statement.
  static std::string Handler(const std::string& name, const std::string& statement);
  static std::string Answer(const std::string& text) { return "return [==[" + text + "]==]"; }

 private:
  TempDir dir_;
  std::string path_ = dir_.path() + "/host.lua";
  std::string log_ = dir_.path() + "/calls.log";
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
// Another process's standard output, as a shell command line gives it.
std::string RunCommand(const std::string& command);

// Runs body with writes past `bytes` failing, as on a full disk, instead of
// ending the process with SIGXFSZ.
template <typename Body>
auto WithFileSizeLimit(rlim_t bytes, Body body) {
  ::signal(SIGXFSZ, SIG_IGN);
  rlimit saved;
  ::getrlimit(RLIMIT_FSIZE, &saved);
  const rlimit small = {bytes, saved.rlim_max};
  ::setrlimit(RLIMIT_FSIZE, &small);
  auto result = body();
  ::setrlimit(RLIMIT_FSIZE, &saved);
  return result;
}

// A text answer as the caller sees it: NULL is a failure, heap copies are
// freed and the shared empty string is not.
std::string Take(char* text);
// An envelope parsed the way the caller would, compared by value (key order
// is not part of the interface); null for "".
nlohmann::json TakeJson(char* text);
// A JSON array of paths, the way the caller builds one.
std::string ListOf(const std::vector<std::string>& paths);
// Number of "|-|"-separated flags, each "0" or "1"; -1 when malformed.
int FlagCount(const std::string& flags);

}  // namespace vrk::test
