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

class FakeFileSystem : public platform::FileSystem {
 public:
  struct Node {
    bool folder = false;
    uint64_t size = 0;
    std::string content;
  };
  std::map<std::string, Node> nodes;
  std::optional<std::string> dataDir = "/home/u/.local/share";
  bool failWrites = false;

  void AddFolder(const std::string& path, uint64_t size = 4096) { nodes[path] = {true, size, ""}; }
  void AddFile(const std::string& path, const std::string& content) {
    nodes[path] = {false, content.size(), content};
  }
  std::optional<std::string> Content(const std::string& path) const;

  bool Exists(const std::string& path) override { return nodes.count(path) > 0; }
  std::optional<uint64_t> ItemSize(const std::string& path) override;
  bool CopyTree(const std::string& from, const std::string& to) override;
  bool MakeFolders(const std::string& base, const std::string& path) override;
  bool WriteFileAtomically(const std::string& path, const std::string& bytes) override;
  std::optional<std::string> UserDataDir() override { return dataDir; }
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

  // Route a part to another implementation (a real one, say).
  void UseFiles(platform::FileSystem* p) { files_ = p; }
  void UseWindows(platform::WindowList* p) { windows_ = p; }
  void UseApps(platform::AppCatalog* p) { apps_ = p; }
  void UseScripts(platform::ScriptRunner* p) { scripts_ = p; }
  void UseFonts(platform::FontManager* p) { fonts_ = p; }

  platform::FileSystem& Files() override { return files_ ? *files_ : files; }
  platform::WindowList& Windows() override { return windows_ ? *windows_ : windows; }
  platform::AppCatalog& Apps() override { return apps_ ? *apps_ : apps; }
  platform::ScriptRunner& Scripts() override { return scripts_ ? *scripts_ : scripts; }
  platform::FontManager& Fonts() override { return fonts_ ? *fonts_ : fonts; }

 private:
  platform::FileSystem* files_ = nullptr;
  platform::WindowList* windows_ = nullptr;
  platform::AppCatalog* apps_ = nullptr;
  platform::ScriptRunner* scripts_ = nullptr;
  platform::FontManager* fonts_ = nullptr;
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
