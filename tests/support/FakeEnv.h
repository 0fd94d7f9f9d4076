// SPDX-License-Identifier: MIT
// An in-memory platform for logic tests. Install it with ScopedFakeEnv; any
// part can be routed to a real implementation with the Use* calls.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/Env.h"

namespace vrk::test {

using platform::FontFace;
using platform::ResolvedFont;
using platform::ScriptResult;
using platform::SubroutineEvent;
using platform::WindowInfo;

class FakeWindowList : public platform::WindowList {
 public:
  std::vector<WindowInfo> onScreen;  // frontmost first
  std::vector<WindowInfo> all;
  std::vector<WindowInfo> OnScreenWindows() override { return onScreen; }
  std::vector<WindowInfo> AllWindows() override { return all; }
};

class FakeAppCatalog : public platform::AppCatalog {
 public:
  std::vector<std::string> ApplicationsForId(const std::string&) override { return {}; }
};

// Scripts are functions from the event to the result; a path without a
// function does not load.
class FakeScriptRunner : public platform::ScriptRunner {
 public:
  using Handler = std::function<std::optional<ScriptResult>(const SubroutineEvent&)>;
  std::map<std::string, Handler> scripts;
  std::vector<std::string> loads;       // every path asked to load
  std::vector<SubroutineEvent> events;  // every event executed
  std::unique_ptr<platform::LoadedScript> Load(const std::string& path) override;
};

// A map of paths, loose about parents: enough for the hand-off logic.
class FakeFileSystem : public platform::FileSystem {
 public:
  std::map<std::string, std::optional<std::string>> nodes;  // nullopt: a folder
  void AddFolder(const std::string& path) { nodes[path] = std::nullopt; }
  void AddFile(const std::string& path, const std::string& content) { nodes[path] = content; }

  bool Exists(const std::string& path) override { return nodes.count(path) > 0; }
  std::optional<uint64_t> ItemSize(const std::string& path) override;
  bool CopyTree(const std::string& from, const std::string& to) override;
  bool MakeFolders(const std::string& base, const std::string& path) override;
  bool WriteFileAtomically(const std::string& path, const std::string& bytes) override;
  std::optional<std::string> UserDataDir() override { return "/home/u/.local/share"; }
};

class FakeFontManager : public platform::FontManager {
 public:
  std::set<std::string> fontFiles;                    // files the manager accepts as fonts
  std::map<std::string, platform::FontScope> scopes;  // registered files
  std::vector<FontFace> faces;                        // the inventory, in order
  std::set<std::string> failingUnregistrations;       // UnregisterFile fails for these
  std::vector<std::string> log;                       // "register 3 a", "unregister-one 1 b", ...
  int collectionsCreated = 0;

  FakeFontManager() = default;
  FakeFontManager(const FakeFontManager&) = delete;
  FakeFontManager& operator=(const FakeFontManager&) = delete;
  ~FakeFontManager() override { *self_ = nullptr; }

  platform::FontScope ScopeForFile(const std::string& path) override;
  void RegisterFiles(const std::vector<std::string>& paths, platform::FontScope scope) override;
  void UnregisterFiles(const std::vector<std::string>& paths, platform::FontScope scope) override;
  bool UnregisterFile(const std::string& path, platform::FontScope scope) override;
  std::vector<std::string> AvailablePostScriptNames() override;
  std::vector<std::string> AvailableFamilyNames() override;
  ResolvedFont Resolve(const std::optional<std::string>& postscriptName,
                       const std::optional<std::string>& familyName) override;
  // Lists `faces` as they are when asked. The library keeps its collection for
  // the life of the process, so it fails (throws) once this fake is gone.
  std::shared_ptr<platform::FontCollection> CreateCollectionFromAvailableFonts() override;

 private:
  std::shared_ptr<FakeFontManager*> self_ = std::make_shared<FakeFontManager*>(this);
};

class FakeEnv : public platform::Env {
 public:
  FakeWindowList windows;
  FakeAppCatalog apps;
  FakeScriptRunner scripts;
  FakeFileSystem files;
  FakeFontManager fonts;

  // Where each part is served from: the fake, or another (real) implementation.
  platform::FileSystem* filesIn = &files;
  platform::WindowList* windowsIn = &windows;
  platform::AppCatalog* appsIn = &apps;
  platform::ScriptRunner* scriptsIn = &scripts;
  platform::FontManager* fontsIn = &fonts;

  platform::FileSystem& Files() override { return *filesIn; }
  platform::WindowList& Windows() override { return *windowsIn; }
  platform::AppCatalog& Apps() override { return *appsIn; }
  platform::ScriptRunner& Scripts() override { return *scriptsIn; }
  platform::FontManager& Fonts() override { return *fontsIn; }
};

// Installs a FakeEnv for the life of the object.
class ScopedFakeEnv {
 public:
  ScopedFakeEnv() { platform::SetEnvForTesting(&env_); }
  ~ScopedFakeEnv() { platform::SetEnvForTesting(nullptr); }
  ScopedFakeEnv(const ScopedFakeEnv&) = delete;
  ScopedFakeEnv& operator=(const ScopedFakeEnv&) = delete;
  FakeEnv* operator->() { return &env_; }
  FakeEnv& operator*() { return env_; }

 private:
  FakeEnv env_;
};

// Window entries from owner names; "" stands for a window without one.
std::vector<WindowInfo> Windows(std::initializer_list<const char*> owners);

}  // namespace vrk::test
