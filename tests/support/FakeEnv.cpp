// SPDX-License-Identifier: MIT
#include "support/FakeEnv.h"

#include <algorithm>
#include <stdexcept>

namespace vrk::test {

namespace {

class FakeLoadedScript : public platform::LoadedScript {
 public:
  FakeLoadedScript(FakeScriptRunner& runner, FakeScriptRunner::Handler handler)
      : runner_(runner), handler_(std::move(handler)) {}
  std::optional<ScriptResult> Execute(const SubroutineEvent& event) override {
    runner_.events.push_back(event);
    return handler_(event);
  }

 private:
  FakeScriptRunner& runner_;
  FakeScriptRunner::Handler handler_;
};

}  // namespace

std::unique_ptr<platform::LoadedScript> FakeScriptRunner::Load(const std::string& path) {
  loads.push_back(path);
  auto it = scripts.find(path);
  if (it == scripts.end()) return nullptr;
  return std::make_unique<FakeLoadedScript>(*this, it->second);
}

std::optional<uint64_t> FakeFileSystem::ItemSize(const std::string& path) {
  auto it = nodes.find(path);
  if (it == nodes.end()) return std::nullopt;
  return it->second ? it->second->size() : 4096;
}

bool FakeFileSystem::CopyTree(const std::string& from, const std::string& to) {
  if (nodes.count(to) || !nodes.count(from)) return false;
  std::map<std::string, std::optional<std::string>> copies;
  for (const auto& [at, node] : nodes)
    if (at == from || at.starts_with(from + "/")) copies[to + at.substr(from.size())] = node;
  nodes.merge(copies);
  return true;
}

bool FakeFileSystem::MakeFolders(const std::string& base, const std::string& path) {
  if (!path.starts_with(base + "/")) return false;
  for (size_t slash = base.size();; slash = path.find('/', slash + 1)) {
    if (nodes.emplace(path.substr(0, slash), std::nullopt).first->second) return false;
    if (slash == std::string::npos) return true;
  }
}

bool FakeFileSystem::WriteFileAtomically(const std::string& path, const std::string& bytes) {
  auto it = nodes.find(path);
  if (it != nodes.end() && !it->second) return false;
  AddFile(path, bytes);
  return true;
}

platform::FontScope FakeFontManager::ScopeForFile(const std::string& path) {
  auto it = scopes.find(path);
  return it == scopes.end() ? platform::kFontScopeNone : it->second;
}

void FakeFontManager::RegisterFiles(const std::vector<std::string>& paths,
                                    platform::FontScope scope) {
  for (const auto& p : paths) {
    log.push_back("register " + std::to_string(scope) + " " + p);
    if (fontFiles.count(p)) scopes[p] = scope;
  }
}

void FakeFontManager::UnregisterFiles(const std::vector<std::string>& paths,
                                      platform::FontScope scope) {
  for (const auto& p : paths) {
    log.push_back("unregister " + std::to_string(scope) + " " + p);
    auto it = scopes.find(p);
    if (it != scopes.end() && it->second == scope) scopes.erase(it);
  }
}

bool FakeFontManager::UnregisterFile(const std::string& path, platform::FontScope scope) {
  log.push_back("unregister-one " + std::to_string(scope) + " " + path);
  if (failingUnregistrations.count(path)) return false;
  auto it = scopes.find(path);
  if (it != scopes.end() && it->second == scope) scopes.erase(it);
  return true;
}

std::vector<std::string> FakeFontManager::AvailablePostScriptNames() {
  std::vector<std::string> names;
  for (const auto& f : faces) {
    if (f.postscriptName) names.push_back(*f.postscriptName);
  }
  return names;
}

std::vector<std::string> FakeFontManager::AvailableFamilyNames() {
  std::vector<std::string> names;
  for (const auto& f : faces) {
    if (f.family && std::find(names.begin(), names.end(), *f.family) == names.end()) {
      names.push_back(*f.family);
    }
  }
  return names;
}

ResolvedFont FakeFontManager::Resolve(const std::optional<std::string>& postscriptName,
                                      const std::optional<std::string>& familyName) {
  for (const auto& f : faces) {
    if (postscriptName && f.postscriptName != postscriptName) continue;
    if (familyName && f.family != familyName) continue;
    return {f.family, f.path};
  }
  return {};
}

std::shared_ptr<platform::FontCollection> FakeFontManager::CreateCollectionFromAvailableFonts() {
  class Collection final : public platform::FontCollection {
   public:
    explicit Collection(std::shared_ptr<FakeFontManager*> owner) : owner_(std::move(owner)) {}
    std::vector<FontFace> MatchingFaces(const std::string&) override {
      if (*owner_ == nullptr) throw std::logic_error("the fake font manager is gone");
      return (*owner_)->faces;
    }

   private:
    std::shared_ptr<FakeFontManager*> owner_;
  };
  ++collectionsCreated;
  return std::make_shared<Collection>(self_);
}

std::vector<WindowInfo> Windows(std::initializer_list<const char*> owners) {
  std::vector<WindowInfo> list;
  for (const char* o : owners) {
    list.push_back(o[0] == '\0' ? WindowInfo{} : WindowInfo{std::string(o)});
  }
  return list;
}

}  // namespace vrk::test
