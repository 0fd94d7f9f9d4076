// SPDX-License-Identifier: MIT
// Font activation on fontconfig.
//
// The session's registrations are a folder of symbolic links that fontconfig
// scans as a font directory: it lives in the per-session runtime directory
// (emptied at logout) and reaches every fontconfig client of the user through
// one file in the user's conf.d, and programs already running through a link
// in the user's fonts folder. The library registers in no other scope, so a
// file is in the session or in none.
#include <fcntl.h>
#include <fontconfig/fontconfig.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <tuple>

#include "extension/Text.h"
#include "platform/linux/Fontconfig.h"
#include "platform/linux/FontconfigCollection.h"
#include "platform/linux/LinkRegistry.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/PendingChanges.h"
#include "platform/linux/SessionAnnouncement.h"
#include "platform/linux/UserFolders.h"

namespace vrk::platform {

namespace {

// The largest collections in use hold a few dozen faces. Each declared face
// costs every fontconfig client of the user a pattern in each lookup and an
// entry in its cache, so a file declaring thousands would slow all of them
// down for as long as it is registered.
constexpr uint32_t kMaxFacesPerFile = 256;

bool Carries(const FcPattern* font, const char* object, const std::optional<std::string>& name) {
  if (!name) return true;
  for (const auto& value : Strings(font, object)) {
    if (value == *name) return true;
  }
  return false;
}

class FontconfigFontManager final : public FontManager {
 public:
  FontScope ScopeForFile(const std::string& path) override { return ScopesForFiles({path})[0]; }

  std::vector<FontScope> ScopesForFiles(const std::vector<std::string>& paths) override {
    // A refused session folder holds nothing the library made.
    auto session = SessionRegistryForReading();
    std::vector<FontScope> scopes(paths.size(), kFontScopeNone);
    if (!session) return scopes;
    for (size_t i = 0; i < paths.size(); ++i) {
      auto file = Canonical(paths[i]);
      if (file && session->Holds(*file)) scopes[i] = kFontScopeSession;
    }
    return scopes;
  }

  // Each file is read before the lock is taken: a caller's file can be slow
  // to read, and lookups on other threads must not wait for it. A file that
  // cannot be linked is left out; the others still are linked.
  void RegisterFiles(const std::vector<std::string>& paths, FontScope scope) override {
    if (scope != kFontScopeSession) throw std::invalid_argument("only the session is registered");
    std::vector<std::string> fonts;
    std::set<std::string> seen;
    for (const auto& path : paths) {
      auto canonical = Canonical(path);
      if (canonical && seen.insert(*canonical).second && IsFont(*canonical)) {
        fonts.push_back(std::move(*canonical));
      }
    }
    if (fonts.empty()) return;
    Fd fontsFolder;
    auto registry = SessionForWriting(&fontsFolder);
    if (!registry) return;
    for (const auto& font : fonts) {
      PendingChanges::OnThisThread().Note(*registry, font);
      registry->Add(font);
    }
    if (fontsFolder) PendingChanges::OnThisThread().Changed(fontsFolder.get());
    std::lock_guard<std::mutex> lock(Fontconfig::Mutex());
    fc_->Changed();
  }

  // The other scopes hold nothing: the library registers only in the session.
  void UnregisterFiles(const std::vector<std::string>& paths, FontScope scope) override {
    if (scope != kFontScopeSession) return;
    auto registry = SessionRegistryForReading();
    if (!registry) return;
    for (const auto& path : paths) {
      if (auto file = CanonicalEvenIfGone(path)) {
        PendingChanges::OnThisThread().Note(*registry, *file);
        registry->Remove(*file);
      }
    }
    std::lock_guard<std::mutex> lock(Fontconfig::Mutex());
    fc_->Changed();
  }

  bool UnregisterFile(const std::string& path, FontScope scope) override {
    if (scope != kFontScopeProcess && scope != kFontScopeSession && scope != kFontScopePersistent) {
      return false;
    }
    if (scope != kFontScopeSession) return true;
    auto file = CanonicalEvenIfGone(path);
    auto registry = SessionRegistryForReading();
    if (!file || !registry) return true;
    PendingChanges::OnThisThread().Note(*registry, *file);
    bool gone = registry->Remove(*file);
    std::lock_guard<std::mutex> lock(Fontconfig::Mutex());
    fc_->Changed();
    return gone;
  }

  void SettleChanges() noexcept override { PendingChanges::OnThisThread().Settle(); }

  std::vector<std::string> AvailablePostScriptNames() override {
    return ListStrings(FC_POSTSCRIPT_NAME);
  }

  std::vector<std::string> AvailableFamilyNames() override { return ListStrings(FC_FAMILY); }

  bool HasPostScriptName(const std::string& name) override {
    std::lock_guard<std::mutex> lock(Fontconfig::Mutex());
    fc_->Current();
    return !fc_->Named(FC_POSTSCRIPT_NAME, name).empty();
  }

  bool HasFamilyName(const std::string& name) override {
    std::lock_guard<std::mutex> lock(Fontconfig::Mutex());
    fc_->Current();
    return !fc_->Named(FC_FAMILY, name).empty();
  }

  ResolvedFont Resolve(const std::optional<std::string>& postscriptName,
                       const std::optional<std::string>& familyName) override {
    std::lock_guard<std::mutex> lock(Fontconfig::Mutex());
    FcConfig* config = fc_->Current();
    PatternPtr pattern(Checked(FcPatternCreate()));
    if (postscriptName) FcPatternAddString(pattern.get(), FC_POSTSCRIPT_NAME, U8(*postscriptName));
    if (familyName) FcPatternAddString(pattern.get(), FC_FAMILY, U8(*familyName));
    if (!FcConfigSubstitute(config, pattern.get(), FcMatchPattern)) throw std::bad_alloc();
    FcDefaultSubstitute(pattern.get());

    // Fontconfig's best match always answers some font; only fonts that carry
    // the names asked for may take part, or a fallback would pass for the font.
    std::vector<FcPattern*> named;
    if (postscriptName) {
      named = fc_->Named(FC_POSTSCRIPT_NAME, *postscriptName);
    } else if (familyName) {
      named = fc_->Named(FC_FAMILY, *familyName);
    } else {
      for (FcSetName kind : {FcSetSystem, FcSetApplication}) {
        FcFontSet* fonts = FcConfigGetFonts(config, kind);
        for (int i = 0; fonts != nullptr && i < fonts->nfont; ++i) named.push_back(fonts->fonts[i]);
      }
    }
    FontSetPtr candidates(Checked(FcFontSetCreate()));
    for (FcPattern* font : named) {
      if (!Carries(font, FC_FAMILY, familyName)) continue;
      FcPatternReference(font);
      if (!FcFontSetAdd(candidates.get(), font)) {
        FcPatternDestroy(font);
        throw std::bad_alloc();
      }
    }
    if (candidates->nfont == 0) return {};
    FcFontSet* sets[] = {candidates.get()};
    FcResult result = FcResultNoMatch;
    FontSetPtr sorted(FcFontSetSort(config, sets, 1, pattern.get(), FcFalse, nullptr, &result));
    if (!sorted || sorted->nfont == 0) return {};
    const FcPattern* best = sorted->fonts[0];
    return {StringAt(best, FC_FAMILY, 0), FileOf(best, SessionRegistryForReading())};
  }

  std::shared_ptr<FontCollection> CreateCollectionFromAvailableFonts() override {
    {
      std::lock_guard<std::mutex> lock(Fontconfig::Mutex());
      fc_->Current();
    }
    return NewFontconfigCollection(fc_);
  }

 private:
  // The session folder, verified, announced and seen by fontconfig; none
  // otherwise, and a refused folder leaves the user's configuration. The
  // user's fonts folder comes back in `fontsFolder` when the link to the
  // session folder changed in it.
  static std::optional<LinkRegistry> SessionForWriting(Fd* fontsFolder) {
    std::optional<LinkRegistry> registry;
    try {
      registry = SessionRegistry(true);
    } catch (const std::runtime_error&) {
      WithdrawSessionFolder();
      return std::nullopt;
    }
    if (!AnnounceSessionFolder(*registry)) return std::nullopt;
    *fontsFolder = LinkSessionFolder(*registry);
    return registry;
  }

  // Only a regular file that fontconfig reads as a font gets a link, and only
  // that file is read: it is opened once, without waiting, and fontconfig
  // reads the very file checked through the descriptor, so a FIFO or device
  // put in its place meanwhile is never opened for reading.
  static bool IsFont(const std::string& file) {
    struct stat st;
    if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    Fd fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    unsigned char head[12];
    if (::pread(fd.get(), head, sizeof head, 0) == static_cast<ssize_t>(sizeof head) &&
        std::memcmp(head, "ttcf", 4) == 0) {
      uint32_t faces = (uint32_t{head[8]} << 24) | (uint32_t{head[9]} << 16) |
                       (uint32_t{head[10]} << 8) | uint32_t{head[11]};
      if (faces == 0 || faces > kMaxFacesPerFile) return false;
    }
    std::string throughFd = "/proc/self/fd/" + std::to_string(fd.get());
    int count = 0;
    PatternPtr face(FcFreeTypeQuery(U8(throughFd), 0, nullptr, &count));
    return face != nullptr && count > 0 && count <= static_cast<int>(kMaxFacesPerFile);
  }

  std::vector<std::string> ListStrings(const char* object) {
    std::lock_guard<std::mutex> lock(Fontconfig::Mutex());
    FcConfig* config = fc_->Current();
    PatternPtr pattern(Checked(FcPatternCreate()));
    ObjectSetPtr objects(Checked(FcObjectSetBuild(object, nullptr)));
    FontSetPtr list(Checked(FcFontList(config, pattern.get(), objects.get())));
    std::vector<std::string> names;
    for (int i = 0; i < list->nfont; ++i) {
      for (auto& value : Strings(list->fonts[i], object)) names.push_back(std::move(value));
    }
    return names;
  }

  std::shared_ptr<Fontconfig> fc_ = std::make_shared<Fontconfig>();
};

}  // namespace

std::unique_ptr<FontManager> NewFontconfigFontManager() {
  return std::make_unique<FontconfigFontManager>();
}

}  // namespace vrk::platform
