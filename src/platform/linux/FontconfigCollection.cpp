// SPDX-License-Identifier: MIT
#include "platform/linux/FontconfigCollection.h"

#include <algorithm>
#include <mutex>
#include <tuple>
#include <vector>

#include "extension/Text.h"

namespace vrk::platform {

// What the inventory and the lookup answer for a face's file: the registered
// file itself, never the link fontconfig found it through.
std::optional<std::string> FileOf(const FcPattern* font, const std::optional<LinkRegistry>& session,
                                  bool* activated) {
  auto file = StringAt(font, FC_FILE, 0);
  if (!file) return std::nullopt;
  if (session) {
    if (auto target = session->FileBehind(*file)) {
      if (activated != nullptr) *activated = true;
      return IsValidUtf8(*target) ? target : std::nullopt;
    }
  }
  return file;
}

namespace {

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
      e.face.path = FileOf(font, session, &activated);
      e.face.family = InLanguage(font, FC_FAMILY, FC_FAMILYLANG, wanted);
      e.face.style = InLanguage(font, FC_STYLE, FC_STYLELANG, "en");
      std::string format = StringAt(font, FC_FONTFORMAT, 0).value_or("");
      // The first copy of a name decides, so the best copy goes first: one
      // the user activated, then OpenType/TrueType before older formats.
      e.rank = activated ? 0 : (format == "TrueType" || format == "CFF") ? 1 : 2;
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

  uint64_t Generation() override {
    std::lock_guard<std::mutex> lock(Fontconfig::Mutex());
    fc_->Current();
    return fc_->Generation();
  }

 private:
  std::shared_ptr<Fontconfig> fc_;
};

}  // namespace

std::shared_ptr<FontCollection> NewFontconfigCollection(std::shared_ptr<Fontconfig> fc) {
  return std::make_shared<FontconfigCollection>(std::move(fc));
}

}  // namespace vrk::platform
