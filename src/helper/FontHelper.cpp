// SPDX-License-Identifier: MIT
#include "helper/FontHelper.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "extension/Text.h"
#include "helper/JsonHelper.h"
#include "platform/Env.h"
#include "platform/ForkSafeMutex.h"

namespace vrk {

namespace {

using platform::Env;
using platform::kFontScopeNone;
using platform::kFontScopeSession;

constexpr char kSeparator[] = "|-|";
constexpr char kNull[] = "(null)";
constexpr char kInventoryLanguage[] = "zh-CN";

// The whole list is read before the font manager is called, so a bad element
// anywhere leaves every registration as it was. Text that is not JSON counts
// as an empty list.
std::vector<std::string> ReadFontPathList(const CallerText& fontPaths) {
  std::vector<std::string> paths;
  auto value = JsonHelper::jsonToObject(fontPaths.Require("font path list"));
  if (!value) return paths;
  if (!value->is_array()) throw std::invalid_argument("font path list is not an array");
  paths.reserve(value->size());
  for (const auto& element : *value) {
    if (!element.is_string()) throw std::invalid_argument("font path is not a text");
    paths.push_back(element.get<std::string>());
  }
  return paths;
}

void AppendFlag(std::string& answer, bool flag) {
  if (!answer.empty()) answer += kSeparator;
  answer += flag ? '1' : '0';
}

bool Exists(const std::string& path) {
  return Env::Get().Files().Exists(path);
}

// Each distinct path is looked at once per call, in the order of its first
// occurrence; every occurrence still gets its flag.
std::vector<std::string> Distinct(const std::vector<std::string>& paths) {
  std::vector<std::string> distinct;
  std::unordered_set<std::string_view> seen;
  for (const auto& path : paths) {
    if (!path.empty() && seen.insert(path).second) distinct.push_back(path);
  }
  return distinct;
}

std::vector<std::string> Existing(const std::vector<std::string>& paths) {
  std::vector<std::string> existing;
  for (const auto& path : paths) {
    if (Exists(path)) existing.push_back(path);
  }
  return existing;
}

// A path missing from `flags` answers "0".
std::string FlagsFor(const std::vector<std::string>& paths,
                     const std::unordered_map<std::string, bool>& flags) {
  std::string answer;
  answer.reserve(paths.size() * 4);
  for (const auto& path : paths) {
    auto flag = flags.find(path);
    AppendFlag(answer, flag != flags.end() && flag->second);
  }
  return answer;
}

// The inventory's collection, made once for the life of the process, and its
// last answer, kept encoded while the collection reports nothing changed.
struct Inventory {
  // Held only to read or replace the members, never across a font call.
  std::mutex& mutex = platform::ForkSafeMutex<Inventory>();
  std::shared_ptr<platform::FontCollection> collection;
  uint64_t generation = 0;
  std::shared_ptr<const std::string> encoded;

  static Inventory& Get() {
    // Never destroyed, so a late call or fork finds it whole.
    static Inventory* inventory = new Inventory;
    return *inventory;
  }
};

// Made while the library loads, before any thread can fork meanwhile.
[[maybe_unused]] const bool kForkHandlersReady = (Inventory::Get(), true);

// Other programs are shown the export's changes once, however it ends.
class SettleAtEnd {
 public:
  explicit SettleAtEnd(platform::FontManager& fonts) : fonts_(fonts) {}
  ~SettleAtEnd() { fonts_.SettleChanges(); }
  SettleAtEnd(const SettleAtEnd&) = delete;
  SettleAtEnd& operator=(const SettleAtEnd&) = delete;

 private:
  platform::FontManager& fonts_;
};

}  // namespace

std::string FontHelper::RegisterFont(const CallerText& fontPaths) {
  if (fontPaths.IsNull()) return "";
  std::vector<std::string> paths = ReadFontPathList(fontPaths);
  auto& fonts = Env::Get().Fonts();
  SettleAtEnd settle(fonts);

  std::vector<std::string> toRegister = Existing(Distinct(paths));
  std::vector<platform::FontScope> scopes = fonts.ScopesForFiles(toRegister);
  std::vector<std::string> alreadyRegistered;
  for (size_t i = 0; i < toRegister.size(); ++i) {
    if (scopes[i] != kFontScopeNone) alreadyRegistered.push_back(toRegister[i]);
  }
  // A file already active elsewhere only leaves the session scope here.
  if (!alreadyRegistered.empty()) fonts.UnregisterFiles(alreadyRegistered, kFontScopeSession);
  fonts.RegisterFiles(toRegister, kFontScopeSession);

  std::vector<std::string> existing = Existing(toRegister);
  scopes = fonts.ScopesForFiles(existing);
  std::unordered_map<std::string, bool> flags;
  for (size_t i = 0; i < existing.size(); ++i) flags[existing[i]] = scopes[i] != kFontScopeNone;
  return FlagsFor(paths, flags);
}

std::string FontHelper::UnRegisterFont(const CallerText& fontPaths) {
  if (fontPaths.IsNull()) return "";
  std::vector<std::string> paths = ReadFontPathList(fontPaths);
  auto& fonts = Env::Get().Fonts();
  SettleAtEnd settle(fonts);

  // Missing files too: the library's link to a deleted file must not make a
  // file saved later at that path count as registered.
  std::vector<std::string> distinct = Distinct(paths);
  fonts.UnregisterFiles(distinct, kFontScopeSession);

  std::vector<std::string> existing = Existing(distinct);
  std::vector<platform::FontScope> scopes = fonts.ScopesForFiles(existing);
  std::unordered_map<std::string, bool> flags;
  for (size_t i = 0; i < existing.size(); ++i) {
    // Still registered: it lives in another scope, so leave that one too.
    flags[existing[i]] =
        scopes[i] == kFontScopeNone || fonts.UnregisterFile(existing[i], scopes[i]);
  }
  return FlagsFor(paths, flags);
}

bool FontHelper::FontIsRegistered(const CallerText& fontPath, const CallerText& postscriptName,
                                  const CallerText& familyName) {
  auto& fonts = Env::Get().Fonts();
  if (!fontPath.IsNull()) {
    const Text& path = fontPath.text();
    return path && Exists(*path) && fonts.ScopeForFile(*path) != kFontScopeNone;
  }
  if (postscriptName.IsNull()) return false;
  const Text& name = postscriptName.text();
  if (name && fonts.HasPostScriptName(*name)) return true;
  const Text& family = familyName.text();
  return family && fonts.HasFamilyName(*family);
}

std::string FontHelper::FindFont(const CallerText& postscriptName, const CallerText& familyName) {
  platform::ResolvedFont font =
      Env::Get().Fonts().Resolve(postscriptName.text(), familyName.text());
  return font.family.value_or(kNull) + kSeparator + font.path.value_or(kNull);
}

char* FontHelper::GetAvailableFonts() noexcept {
  try {
    Inventory& inventory = Inventory::Get();
    std::shared_ptr<platform::FontCollection> collection;
    {
      std::lock_guard<std::mutex> lock(inventory.mutex);
      collection = inventory.collection;
    }
    if (!collection) {
      auto made = Env::Get().Fonts().CreateCollectionFromAvailableFonts();
      if (!made) throw std::runtime_error("no font collection");
      std::lock_guard<std::mutex> lock(inventory.mutex);
      if (!inventory.collection) inventory.collection = std::move(made);
      collection = inventory.collection;
    }

    // Asked before the faces, so that a change in between only costs a
    // fresh answer next time.
    const uint64_t generation = collection->Generation();
    if (generation != 0) {
      std::shared_ptr<const std::string> kept;
      {
        std::lock_guard<std::mutex> lock(inventory.mutex);
        if (inventory.generation == generation) kept = inventory.encoded;
      }
      if (kept) {
        char* copy = ::strdup(kept->c_str());
        if (copy == nullptr) throw std::bad_alloc();
        return copy;
      }
    }

    Json records = Json::array();
    std::unordered_set<std::string> seen;
    for (auto& face : collection->MatchingFaces(kInventoryLanguage)) {
      if (!face.postscriptName || seen.count(*face.postscriptName)) continue;
      if (!face.family || !face.path || face.path->empty() || !face.style) continue;
      // Only a complete record uses up its name: a broken copy listed first
      // must not hide a good one listed later.
      seen.insert(*face.postscriptName);
      Json record = Json::object();
      record["path"] = std::move(*face.path);
      record["postscriptName"] = std::move(*face.postscriptName);
      record["family"] = std::move(*face.family);
      record["style"] = std::move(*face.style);
      records.push_back(std::move(record));
    }
    char* text = JsonHelper::objectToJson(records);
    if (generation != 0 && text != ConstantEmptyString()) {
      auto encoded = std::make_shared<const std::string>(text);
      std::lock_guard<std::mutex> lock(inventory.mutex);
      inventory.generation = generation;
      inventory.encoded = std::move(encoded);
    }
    return text;
  } catch (...) {
    return ConstantEmptyString();
  }
}

}  // namespace vrk
