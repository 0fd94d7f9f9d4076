#include "helper/FontHelper.h"

#include <mutex>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "extension/NSStringEx.h"
#include "helper/JsonHelper.h"
#include "platform/Env.h"

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
std::vector<std::string> ReadFontPathList(const char* fontPaths) {
  std::vector<std::string> paths;
  auto value = JsonHelper::jsonToObject(RequireText(fontPaths, "font path list"));
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

bool Contains(const std::vector<std::string>& names, const Text& wanted) {
  if (!wanted) return false;
  for (const auto& name : names) {
    if (name == *wanted) return true;
  }
  return false;
}

}  // namespace

std::string FontHelper::RegisterFont(const char* fontPaths) {
  if (fontPaths == nullptr) return "";
  std::vector<std::string> paths = ReadFontPathList(fontPaths);
  auto& fonts = Env::Get().Fonts();

  std::vector<std::string> toRegister = Existing(Distinct(paths));
  std::vector<uint32_t> scopes = fonts.ScopesForFiles(toRegister);
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

std::string FontHelper::UnRegisterFont(const char* fontPaths) {
  if (fontPaths == nullptr) return "";
  std::vector<std::string> paths = ReadFontPathList(fontPaths);
  auto& fonts = Env::Get().Fonts();

  // Missing files too: the library's link to a deleted file must not make a
  // file saved later at that path count as registered.
  std::vector<std::string> distinct = Distinct(paths);
  fonts.UnregisterFiles(distinct, kFontScopeSession);

  std::vector<std::string> existing = Existing(distinct);
  std::vector<uint32_t> scopes = fonts.ScopesForFiles(existing);
  std::unordered_map<std::string, bool> flags;
  for (size_t i = 0; i < existing.size(); ++i) {
    // Still registered: it lives in another scope, so leave that one too.
    flags[existing[i]] =
        scopes[i] == kFontScopeNone || fonts.UnregisterFile(existing[i], scopes[i]);
  }
  return FlagsFor(paths, flags);
}

bool FontHelper::FontIsRegistered(const char* fontPath, const char* postscriptName,
                                  const char* familyName) {
  auto& fonts = Env::Get().Fonts();
  if (fontPath != nullptr) {
    Text path = TextFromC(fontPath);
    return path && Exists(*path) && fonts.ScopeForFile(*path) != kFontScopeNone;
  }
  if (postscriptName == nullptr) return false;
  if (Contains(fonts.AvailablePostScriptNames(), TextFromC(postscriptName))) return true;
  return Contains(fonts.AvailableFamilyNames(), TextFromC(familyName));
}

std::string FontHelper::FindFont(const char* postscriptName, const char* familyName) {
  platform::ResolvedFont font =
      Env::Get().Fonts().Resolve(TextFromC(postscriptName), TextFromC(familyName));
  return font.family.value_or(kNull) + kSeparator + font.path.value_or(kNull);
}

char* FontHelper::GetAvailableFonts() {
  try {
    // Made once for the life of the process; asking it again on every call
    // lists fonts activated since.
    static std::once_flag once;
    static std::shared_ptr<platform::FontCollection> collection;
    std::call_once(once,
                   [] { collection = Env::Get().Fonts().CreateCollectionFromAvailableFonts(); });
    if (!collection) throw std::runtime_error("no font collection");

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
    return JsonHelper::objectToJson(records);
  } catch (...) {
    return ConstantEmptyString();
  }
}

}  // namespace vrk
