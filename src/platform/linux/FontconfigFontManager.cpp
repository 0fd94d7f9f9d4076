// Font activation on fontconfig.
//
// Sessions and persistent registrations are folders of symbolic links that
// fontconfig scans as font directories: the session folder lives in the
// per-session runtime directory (emptied at logout) and reaches every
// fontconfig client of the user through one file in the user's conf.d; the
// persistent folder lives under the user's fonts folder, which fontconfig
// scans anyway. Process registrations are application fonts of the library's
// own configuration.
//
// The caller's process may use fontconfig too, so the library never touches
// the process-wide current configuration: it keeps its own and passes it to
// every call, all of them under one mutex.
#include <fcntl.h>
#include <fontconfig/fontconfig.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <tuple>

#include "extension/NSStringEx.h"
#include "platform/linux/LinuxPlatform.h"

namespace vrk::platform {

namespace {

// ---- fontconfig handles -------------------------------------------------

struct FcRelease {
  void operator()(FcConfig* p) const { FcConfigDestroy(p); }
  void operator()(FcPattern* p) const { FcPatternDestroy(p); }
  void operator()(FcFontSet* p) const { FcFontSetDestroy(p); }
  void operator()(FcObjectSet* p) const { FcObjectSetDestroy(p); }
  void operator()(FcChar8* p) const { FcStrFree(p); }
};
using ConfigPtr = std::unique_ptr<FcConfig, FcRelease>;
using PatternPtr = std::unique_ptr<FcPattern, FcRelease>;
using FontSetPtr = std::unique_ptr<FcFontSet, FcRelease>;
using ObjectSetPtr = std::unique_ptr<FcObjectSet, FcRelease>;
using FcStringPtr = std::unique_ptr<FcChar8, FcRelease>;

template <typename T>
T* Checked(T* handle) {
  if (handle == nullptr) throw std::bad_alloc();
  return handle;
}

const FcChar8* U8(const std::string& s) {
  return reinterpret_cast<const FcChar8*>(s.c_str());
}

// The n-th value of a string property; text that is not UTF-8 counts as none,
// since no caller could read it.
std::optional<std::string> StringAt(const FcPattern* p, const char* object, int n) {
  FcChar8* value = nullptr;
  if (FcPatternGetString(p, object, n, &value) != FcResultMatch || value == nullptr) {
    return std::nullopt;
  }
  std::string text(reinterpret_cast<const char*>(value));
  if (!IsValidUtf8(text)) return std::nullopt;
  return text;
}

std::vector<std::string> Strings(const FcPattern* p, const char* object) {
  std::vector<std::string> values;
  FcChar8* value = nullptr;
  for (int n = 0; FcPatternGetString(p, object, n, &value) == FcResultMatch; ++n) {
    values.emplace_back(reinterpret_cast<const char*>(value));
  }
  return values;
}

// The value whose language tag matches `lang` exactly, else the one in English,
// else the first: fontconfig's own choice for a missing language is loose.
std::optional<std::string> InLanguage(const FcPattern* p, const char* object,
                                      const char* langObject, const std::string& lang) {
  std::vector<std::string> values = Strings(p, object);
  std::vector<std::string> langs = Strings(p, langObject);
  auto pick = [&](const std::string& wanted) -> std::optional<size_t> {
    for (size_t i = 0; i < values.size() && i < langs.size(); ++i) {
      if (FcStrCmpIgnoreCase(U8(langs[i]), U8(wanted)) == 0) return i;
    }
    return std::nullopt;
  };
  auto index = pick(lang);
  if (!index) index = pick("en");
  if (!index && !values.empty()) index = 0;
  if (!index || !IsValidUtf8(values[*index])) return std::nullopt;
  return values[*index];
}

// ---- paths and folders --------------------------------------------------

std::string Getenv(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string HomeDir() {
  std::string home = Getenv("HOME");
  if (!home.empty() && home[0] == '/') return home;
  std::vector<char> buf(16384);
  struct passwd pw;
  struct passwd* found = nullptr;
  if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr && found->pw_dir[0] == '/') {
    return found->pw_dir;
  }
  throw std::runtime_error("no home folder");
}

// XDG base folders count only when absolute, as the XDG rules say.
std::string XdgDir(const char* variable, const char* fallbackUnderHome) {
  std::string dir = Getenv(variable);
  if (!dir.empty() && dir[0] == '/') return dir;
  return HomeDir() + "/" + fallbackUnderHome;
}

std::optional<std::string> Canonical(const std::string& path) {
  char resolved[PATH_MAX];
  // A NUL inside would make the system see a shorter, different path.
  if (path.empty() || path.find('\0') != std::string::npos ||
      ::realpath(path.c_str(), resolved) == nullptr) {
    return std::nullopt;
  }
  return std::string(resolved);
}

void MakeFolders(const std::string& path, mode_t mode) {
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    std::string part = path.substr(0, pos);
    if (::mkdir(part.c_str(), mode) != 0 && errno != EEXIST) {
      throw std::runtime_error("cannot create folder " + part);
    }
  }
}

std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Readers see the old or the new file, never half of one.
void WriteFileAtomically(const std::string& path, const std::string& bytes) {
  std::string temp = path + ".XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot write " + path);
  bool ok = ::fchmod(fd, 0644) == 0;
  for (size_t done = 0; ok && done < bytes.size();) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = ::fsync(fd) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
  if (!ok || ::rename(name.data(), path.c_str()) != 0) {
    ::unlink(name.data());
    throw std::runtime_error("cannot write " + path);
  }
}

std::string XmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// 128-bit FNV-1a: stable across builds and processes, and wide enough that two
// paths never share a link name in practice (a link's target is checked too).
std::string PathHash(const std::string& path) {
  unsigned __int128 hash =
      (static_cast<unsigned __int128>(0x6c62272e07bb0142ULL) << 64) | 0x62b821756295c58dULL;
  const unsigned __int128 prime = (static_cast<unsigned __int128>(1) << 88) | 0x13B;
  for (unsigned char c : path) {
    hash ^= c;
    hash *= prime;
  }
  static const char kHex[] = "0123456789abcdef";
  std::string hex(32, '0');
  for (int i = 31; i >= 0; --i) {
    hex[i] = kHex[static_cast<unsigned>(hash & 0xF)];
    hash >>= 4;
  }
  return hex;
}

// A folder of links, one per registered file, named from the hash of the
// file's canonical path (never from its name) and keeping its extension.
class LinkRegistry {
 public:
  explicit LinkRegistry(std::string dir) : dir_(std::move(dir)) {}
  const std::string& dir() const { return dir_; }

  std::string LinkFor(const std::string& canonical) const {
    std::string name = canonical.substr(canonical.find_last_of('/') + 1);
    auto dot = name.find_last_of('.');
    return dir_ + "/" + PathHash(canonical) + (dot == std::string::npos ? "" : name.substr(dot));
  }

  bool Holds(const std::string& canonical) const { return Target(LinkFor(canonical)) == canonical; }

  void Add(const std::string& canonical) const {
    std::string link = LinkFor(canonical);
    if (Target(link) == canonical) return;
    RemoveLink(link);
    if (::symlink(canonical.c_str(), link.c_str()) != 0 && errno != EEXIST) {
      throw std::runtime_error("cannot link " + canonical);
    }
  }

  // Only the library's own link goes; the user's file is never touched.
  bool Remove(const std::string& canonical) const {
    std::string link = LinkFor(canonical);
    return Target(link) != canonical || ::unlink(link.c_str()) == 0 || errno == ENOENT;
  }

  // The registered file behind a path that fontconfig reports for a link.
  std::optional<std::string> FileBehind(const std::string& path) const {
    if (path.size() <= dir_.size() || path.compare(0, dir_.size(), dir_) != 0 ||
        path[dir_.size()] != '/') {
      return std::nullopt;
    }
    return Target(path);
  }

 private:
  static std::optional<std::string> Target(const std::string& link) {
    char target[PATH_MAX];
    ssize_t n = ::readlink(link.c_str(), target, sizeof target);
    if (n < 0 || static_cast<size_t>(n) >= sizeof target) return std::nullopt;
    return std::string(target, static_cast<size_t>(n));
  }
  static void RemoveLink(const std::string& link) {
    struct stat st;
    if (::lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) ::unlink(link.c_str());
  }

  std::string dir_;
};

// The session folder: in the runtime directory, else a private folder of the
// user's under the temporary directory, refused when it is a link or someone
// else's. The sticky bit keeps the runtime directory's periodic clean-up away.
std::optional<LinkRegistry> SessionRegistry(bool create) {
  std::string dir;
  std::string runtime = Getenv("XDG_RUNTIME_DIR");
  if (!runtime.empty() && runtime[0] == '/') {
    dir = runtime + "/vrkfont-fonts";
  } else {
    std::string temp = Getenv("TMPDIR");
    if (temp.empty() || temp[0] != '/') temp = "/tmp";
    dir = temp + "/vrkfont-fonts-" + std::to_string(::geteuid());
  }
  if (create && ::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    throw std::runtime_error("cannot create " + dir);
  }
  struct stat st;
  if (::lstat(dir.c_str(), &st) != 0) {
    if (errno == ENOENT && !create) return std::nullopt;
    throw std::runtime_error("cannot read " + dir);
  }
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
    throw std::runtime_error("refusing the session font folder " + dir);
  }
  if (create && (st.st_mode & 07777) != (S_ISVTX | S_IRWXU) &&
      ::chmod(dir.c_str(), S_ISVTX | S_IRWXU) != 0) {
    throw std::runtime_error("cannot protect " + dir);
  }
  return LinkRegistry(dir);
}

// Lookups read past a refused folder: a folder someone else planted must not
// take the user's other fonts away with it.
std::optional<LinkRegistry> SessionRegistryForReading() {
  try {
    return SessionRegistry(false);
  } catch (const std::runtime_error&) {
    return std::nullopt;
  }
}

LinkRegistry PersistentRegistry() {
  return LinkRegistry(XdgDir("XDG_DATA_HOME", ".local/share") + "/fonts/vrkfont");
}

// Makes the session folder a font directory of every fontconfig client of the
// user. Rewritten only when missing or different, so other clients' caches
// stay valid.
void AnnounceSessionFolder(const std::string& dir) {
  std::string confDir = XdgDir("XDG_CONFIG_HOME", ".config") + "/fontconfig/conf.d";
  std::string path = confDir + "/50-vrkfont-session-fonts.conf";
  std::string content =
      "<?xml version=\"1.0\"?>\n"
      "<!DOCTYPE fontconfig SYSTEM \"urn:fontconfig:fonts.dtd\">\n"
      "<!-- Fonts activated for this login session through libVRKFont. -->\n"
      "<fontconfig>\n"
      "  <dir>" +
      XmlEscape(dir) +
      "</dir>\n"
      "</fontconfig>\n";
  if (ReadFile(path) == content) return;
  MakeFolders(confDir, 0700);
  WriteFileAtomically(path, content);
}

// ---- the library's configuration ----------------------------------------

// One per process: the library's own configuration and everything that must
// be rebuilt into it.
class Fontconfig {
 public:
  // Every fontconfig call of the library, whichever manager makes it.
  static std::mutex& Mutex() {
    static std::mutex mutex;
    return mutex;
  }

  // The configuration, rebuilt when the library changed a registration or
  // fontconfig finds a configuration file or font folder changed. The mutex
  // must be held.
  FcConfig* Current() {
    std::string stamp = RegistryStamp();
    if (config_ && !stale_ && stamp == stamp_ && FcConfigUptoDate(config_.get())) {
      return config_.get();
    }
    ConfigPtr fresh(FcInitLoadConfigAndFonts());
    if (!fresh) throw std::runtime_error("fontconfig configuration did not load");
    for (const auto& file : processFonts_) FcConfigAppFontAddFile(fresh.get(), U8(file));
    config_ = std::move(fresh);
    stale_ = false;
    stamp_ = std::move(stamp);
    return config_.get();
  }

  void Changed() { stale_ = true; }
  std::set<std::string>& processFonts() { return processFonts_; }

 private:
  // fontconfig notices a changed folder only a second later; the registries'
  // own times, to the nanosecond, catch another process's change at once.
  static std::string RegistryStamp() {
    std::string stamp;
    auto session = SessionRegistryForReading();
    for (const std::string& dir :
         {session ? session->dir() : std::string(), PersistentRegistry().dir()}) {
      struct stat st;
      if (!dir.empty() && ::stat(dir.c_str(), &st) == 0) {
        stamp += std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
      }
      stamp += ";";
    }
    return stamp;
  }

  ConfigPtr config_;
  bool stale_ = false;
  std::string stamp_;
  std::set<std::string> processFonts_;  // canonical paths
};

// What the inventory and the lookup answer for a face's file: the registered
// file itself, never the link fontconfig found it through.
std::optional<std::string> FileOf(const FcPattern* font, const std::optional<LinkRegistry>& session,
                                  const LinkRegistry& persistent, bool* activated = nullptr) {
  auto file = StringAt(font, FC_FILE, 0);
  if (!file) return std::nullopt;
  for (const LinkRegistry* registry : {session ? &*session : nullptr, &persistent}) {
    if (registry == nullptr) continue;
    if (auto target = registry->FileBehind(*file)) {
      if (activated != nullptr) *activated = true;
      return IsValidUtf8(*target) ? target : std::nullopt;
    }
  }
  return file;
}

bool Carries(const FcPattern* font, const char* object, const std::optional<std::string>& name) {
  if (!name) return true;
  for (const auto& value : Strings(font, object)) {
    if (value == *name) return true;
  }
  return false;
}

class FontconfigCollection final : public FontCollection {
 public:
  explicit FontconfigCollection(std::shared_ptr<Fontconfig> fc) : fc_(std::move(fc)) {}

  std::vector<FontFace> MatchingFaces(const std::string& language) override {
    std::lock_guard<std::mutex> lock(Fontconfig::Mutex());
    FcConfig* config = fc_->Current();
    FcStringPtr lang(Checked(FcLangNormalize(U8(language))));
    std::string wanted(reinterpret_cast<const char*>(lang.get()));

    PatternPtr pattern(Checked(FcPatternCreate()));
    FcPatternAddString(pattern.get(), FC_NAMELANG, lang.get());
    ObjectSetPtr objects(
        Checked(FcObjectSetBuild(FC_POSTSCRIPT_NAME, FC_FILE, FC_INDEX, FC_FAMILY, FC_FAMILYLANG,
                                 FC_STYLE, FC_STYLELANG, FC_FONTFORMAT, nullptr)));
    FontSetPtr list(Checked(FcFontList(config, pattern.get(), objects.get())));

    auto session = SessionRegistryForReading();
    LinkRegistry persistent = PersistentRegistry();
    struct Entry {
      int rank;
      std::string file;
      int index;
      FontFace face;
    };
    std::vector<Entry> entries;
    entries.reserve(static_cast<size_t>(list->nfont));
    for (int i = 0; i < list->nfont; ++i) {
      const FcPattern* font = list->fonts[i];
      bool activated = false;
      Entry e{};
      e.face.postscriptName = StringAt(font, FC_POSTSCRIPT_NAME, 0);
      e.face.path = FileOf(font, session, persistent, &activated);
      e.face.family = InLanguage(font, FC_FAMILY, FC_FAMILYLANG, wanted);
      e.face.style = InLanguage(font, FC_STYLE, FC_STYLELANG, "en");
      std::string format = StringAt(font, FC_FONTFORMAT, 0).value_or("");
      bool fileAdded = e.face.path && fc_->processFonts().count(*e.face.path) > 0;
      // The first copy of a name decides, so the best copy goes first: one
      // the user activated, then OpenType/TrueType before older formats.
      e.rank = activated || fileAdded ? 0 : (format == "TrueType" || format == "CFF") ? 1 : 2;
      e.file = StringAt(font, FC_FILE, 0).value_or("");
      FcPatternGetInteger(font, FC_INDEX, 0, &e.index);
      entries.push_back(std::move(e));
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
      return std::tie(a.face.postscriptName, a.rank, a.file, a.index) <
             std::tie(b.face.postscriptName, b.rank, b.file, b.index);
    });
    std::vector<FontFace> faces;
    faces.reserve(entries.size());
    for (auto& e : entries) faces.push_back(std::move(e.face));
    return faces;
  }

 private:
  std::shared_ptr<Fontconfig> fc_;
};

class FontconfigFontManager final : public FontManager {
 public:
  uint32_t ScopeForFile(const std::string& path) override {
    auto canonical = Canonical(path);
    if (!canonical) return kFontScopeNone;
    auto session = SessionRegistry(false);
    if (session && session->Holds(*canonical)) return kFontScopeSession;
    if (PersistentRegistry().Holds(*canonical)) return kFontScopePersistent;
    std::lock_guard<std::mutex> lock(Fontconfig::Mutex());
    return fc_->processFonts().count(*canonical) ? kFontScopeProcess : kFontScopeNone;
  }

  void RegisterFiles(const std::vector<std::string>& paths, uint32_t scope) override {
    if (paths.empty()) return;
    std::optional<LinkRegistry> registry;
    if (scope == kFontScopeSession) {
      registry = SessionRegistry(true);
      AnnounceSessionFolder(registry->dir());
    } else if (scope == kFontScopePersistent) {
      registry = PersistentRegistry();
      MakeFolders(registry->dir(), 0700);
    } else if (scope != kFontScopeProcess) {
      throw std::invalid_argument("unknown font scope");
    }
    std::lock_guard<std::mutex> lock(Fontconfig::Mutex());
    for (const auto& path : paths) {
      auto canonical = Canonical(path);
      if (!canonical || !IsFont(*canonical)) continue;
      if (registry) {
        registry->Add(*canonical);
      } else {
        fc_->processFonts().insert(*canonical);
      }
      fc_->Changed();
    }
  }

  void UnregisterFiles(const std::vector<std::string>& paths, uint32_t scope) override {
    if (scope == kFontScopeProcess) {
      for (const auto& path : paths) UnregisterFile(path, scope);
      return;
    }
    auto registry = Registry(scope);
    if (!registry) return;
    for (const auto& path : paths) {
      if (auto canonical = Canonical(path)) registry->Remove(*canonical);
    }
    std::lock_guard<std::mutex> lock(Fontconfig::Mutex());
    fc_->Changed();
  }

  bool UnregisterFile(const std::string& path, uint32_t scope) override {
    if (scope != kFontScopeProcess && scope != kFontScopeSession && scope != kFontScopePersistent) {
      return false;
    }
    auto canonical = Canonical(path);
    if (!canonical) return true;
    bool gone = true;
    if (scope != kFontScopeProcess) {
      auto registry = Registry(scope);
      gone = !registry || registry->Remove(*canonical);
    }
    std::lock_guard<std::mutex> lock(Fontconfig::Mutex());
    if (scope == kFontScopeProcess) fc_->processFonts().erase(*canonical);
    fc_->Changed();
    return gone;
  }

  std::vector<std::string> AvailablePostScriptNames() override {
    return ListStrings(FC_POSTSCRIPT_NAME);
  }

  std::vector<std::string> AvailableFamilyNames() override { return ListStrings(FC_FAMILY); }

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
    FontSetPtr candidates(Checked(FcFontSetCreate()));
    for (FcSetName kind : {FcSetSystem, FcSetApplication}) {
      FcFontSet* fonts = FcConfigGetFonts(config, kind);
      for (int i = 0; fonts != nullptr && i < fonts->nfont; ++i) {
        FcPattern* font = fonts->fonts[i];
        if (!Carries(font, FC_POSTSCRIPT_NAME, postscriptName) ||
            !Carries(font, FC_FAMILY, familyName)) {
          continue;
        }
        FcPatternReference(font);
        if (!FcFontSetAdd(candidates.get(), font)) {
          FcPatternDestroy(font);
          throw std::bad_alloc();
        }
      }
    }
    if (candidates->nfont == 0) return {};
    FcFontSet* sets[] = {candidates.get()};
    FcResult result = FcResultNoMatch;
    FontSetPtr sorted(FcFontSetSort(config, sets, 1, pattern.get(), FcFalse, nullptr, &result));
    if (!sorted || sorted->nfont == 0) return {};
    const FcPattern* best = sorted->fonts[0];
    auto session = SessionRegistryForReading();
    return {StringAt(best, FC_FAMILY, 0), FileOf(best, session, PersistentRegistry())};
  }

  std::shared_ptr<FontCollection> CreateCollectionFromAvailableFonts() override {
    {
      std::lock_guard<std::mutex> lock(Fontconfig::Mutex());
      fc_->Current();
    }
    return std::make_shared<FontconfigCollection>(fc_);
  }

 private:
  // The link folder of a scope; none for the session before its first
  // registration.
  static std::optional<LinkRegistry> Registry(uint32_t scope) {
    if (scope == kFontScopeSession) return SessionRegistry(false);
    if (scope == kFontScopePersistent) return PersistentRegistry();
    throw std::invalid_argument("no link folder for this scope");
  }

  // Only what fontconfig reads as a font gets a link. The mutex must be held.
  static bool IsFont(const std::string& file) {
    int count = 0;
    PatternPtr face(FcFreeTypeQuery(U8(file), 0, nullptr, &count));
    return face != nullptr;
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
