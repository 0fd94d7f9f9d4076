#include "helper/FontHelper.h"

#include <mutex>
#include <stdexcept>
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

  std::vector<std::string> alreadyRegistered;
  std::vector<std::string> toRegister;
  for (const auto& path : paths) {
    if (!Exists(path)) continue;
    if (fonts.ScopeForFile(path) != kFontScopeNone) alreadyRegistered.push_back(path);
    toRegister.push_back(path);
  }
  // A file already active elsewhere only leaves the session scope here.
  if (!alreadyRegistered.empty()) fonts.UnregisterFiles(alreadyRegistered, kFontScopeSession);
  fonts.RegisterFiles(toRegister, kFontScopeSession);

  std::string answer;
  for (const auto& path : paths) {
    AppendFlag(answer, Exists(path) && fonts.ScopeForFile(path) != kFontScopeNone);
  }
  return answer;
}

std::string FontHelper::UnRegisterFont(const char* fontPaths) {
  if (fontPaths == nullptr) return "";
  std::vector<std::string> paths = ReadFontPathList(fontPaths);
  auto& fonts = Env::Get().Fonts();

  std::vector<std::string> toUnregister;
  for (const auto& path : paths) {
    if (Exists(path)) toUnregister.push_back(path);
  }
  fonts.UnregisterFiles(toUnregister, kFontScopeSession);

  std::string answer;
  for (const auto& path : paths) {
    bool flag = false;
    if (Exists(path)) {
      uint32_t scope = fonts.ScopeForFile(path);
      // Still registered: it lives in another scope, so leave that one too.
      flag = scope == kFontScopeNone || fonts.UnregisterFile(path, scope);
    }
    AppendFlag(answer, flag);
  }
  return answer;
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
