// SPDX-License-Identifier: MIT
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vrk::platform {

// Registration scopes, numbered as the caller knows them.
enum FontScope : uint32_t {
  kFontScopeNone = 0,
  kFontScopeProcess = 1,
  kFontScopePersistent = 2,
  kFontScopeSession = 3,
};

struct ResolvedFont {
  std::optional<std::string> family;
  std::optional<std::string> path;
};

struct FontFace {
  std::optional<std::string> postscriptName;
  std::optional<std::string> path;
  std::optional<std::string> family;  // localized where the font has the language
  std::optional<std::string> style;
};

// The available fonts as one lasting object: made once, then asked again on
// every call, so fonts activated after it was made are listed too.
class FontCollection {
 public:
  virtual ~FontCollection() = default;
  // Every available face, in the order the inventory lists them; the first
  // face of each PostScript name is the best copy of it.
  virtual std::vector<FontFace> MatchingFaces(const std::string& language) = 0;
  // Changes whenever the faces may have; 0 when the collection cannot tell,
  // and then nothing of one answer may be kept for the next.
  virtual uint64_t Generation() { return 0; }
};

// Failures: a question that cannot be answered throws: std::bad_alloc when
// memory runs out, std::invalid_argument for a scope the manager does not
// register in, and std::runtime_error when the font configuration cannot be
// loaded or the session's folder cannot be found or written. Registration changes what it can
// before it throws; the scope queries tell what took.
class FontManager {
 public:
  virtual ~FontManager() = default;
  // 0 exactly when the file is not registered, else its scope.
  virtual FontScope ScopeForFile(const std::string& path) = 0;
  // ScopeForFile of each path, with whatever it needs looked up once.
  virtual std::vector<FontScope> ScopesForFiles(const std::vector<std::string>& paths) {
    std::vector<FontScope> scopes;
    scopes.reserve(paths.size());
    for (const auto& path : paths) scopes.push_back(ScopeForFile(path));
    return scopes;
  }
  // Registers what it can; the scope queries afterwards tell what took.
  virtual void RegisterFiles(const std::vector<std::string>& paths, FontScope scope) = 0;
  // A path whose file is gone still loses the registration made for it.
  virtual void UnregisterFiles(const std::vector<std::string>& paths, FontScope scope) = 0;
  // True when the file is no longer registered in that scope.
  virtual bool UnregisterFile(const std::string& path, FontScope scope) = 0;
  // Ends a run of the three calls above made by one export on this thread:
  // what changed for other programs is made visible to them once, here.
  // Never throws.
  virtual void SettleChanges() noexcept {}
  virtual std::vector<std::string> AvailablePostScriptNames() = 0;
  virtual std::vector<std::string> AvailableFamilyNames() = 0;
  // Whether an available face carries the name; a manager with an index of
  // its fonts answers without listing them.
  virtual bool HasPostScriptName(const std::string& name) {
    auto names = AvailablePostScriptNames();
    return std::find(names.begin(), names.end(), name) != names.end();
  }
  virtual bool HasFamilyName(const std::string& name) {
    auto names = AvailableFamilyNames();
    return std::find(names.begin(), names.end(), name) != names.end();
  }
  // The one font that the names resolve to, and only one that carries every
  // name given; either part may be missing.
  virtual ResolvedFont Resolve(const std::optional<std::string>& postscriptName,
                               const std::optional<std::string>& familyName) = 0;
  virtual std::shared_ptr<FontCollection> CreateCollectionFromAvailableFonts() = 0;
};

}  // namespace vrk::platform
