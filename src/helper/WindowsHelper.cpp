// SPDX-License-Identifier: MIT
#include "helper/WindowsHelper.h"

#include <string_view>

#include "extension/Text.h"
#include "helper/GlobalHelper.h"
#include "helper/JsonHelper.h"
#include "platform/Env.h"

namespace vrk {

namespace {

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// First rule that holds wins, so the order is part of the rules: an owner name
// holding both "Photoshop" and "Word" is Photoshop.
Text HostForOwner(const std::string& owner) {
  struct Rule {
    const char* part;
    const char* host;
  };
  static constexpr Rule kBeforeXD[] = {
      {"Photoshop", "Photoshop"}, {"Illustrator", "Illustrator"},
      {"InDesign", "InDesign"},   {"After Effects", "AfterEffects"},
      {"Word", "Word"},           {"PowerPoint", "PowerPoint"},
      {"Sketch", "Sketch"},
  };
  for (const Rule& rule : kBeforeXD) {
    if (Contains(owner, rule.part)) return rule.host;
  }
  // "XD" alone: as a substring it would catch any name with those two letters.
  if (owner == "XD") return "AdobeXD";
  if (Contains(owner, "Keynote")) return "Keynote";
  return std::nullopt;
}

bool IsNonEmpty(const Text& text) {
  return text && !text->empty();
}

}  // namespace

Json WindowsHelper::EnumWindows() {
  Json result = JsonHelper::Envelope({"choseAppName", "unsupportedAppNames"});
  try {
    Text found;
    Text unsupported;
    bool whole = platform::Env::Get().Windows().VisitOnScreen([&](const platform::WindowInfo& w) {
      const Text& owner = w.ownerName;
      if (!owner) return true;
      found = HostForOwner(*owner);
      if (found) return false;
      if (IsNonEmpty(unsupported)) return true;
      // Read now rather than once up front: the caller may rename itself
      // between calls, and a supported host in front needs no identity at all.
      const char* ownName = GlobalHelper::ChooseByIdentity<const char*>("穆仙", "kelvra");
      // The caller's own windows by process as well as by name: the class an
      // application gives its windows need not match its name's case.
      if (w.caller || Contains(*owner, "Electron") || Contains(*owner, ownName)) return true;
      unsupported = owner;
      return true;
    });
    if (!whole) {  // no list at all
      found.reset();
      unsupported.reset();
    }
    JsonHelper::Store(result, "choseAppName", found);
    JsonHelper::Store(result, "unsupportedAppNames", IsNonEmpty(found) ? Text("") : unsupported);
  } catch (...) {
  }
  return result;
}

Json WindowsHelper::EnumWindowsCheckAppNameExist(const CallerText& appName) {
  Json result = JsonHelper::Envelope({"choseAppName"});
  try {
    Text found;
    bool whole = platform::Env::Get().Windows().VisitAll([&](const platform::WindowInfo& w) {
      const Text& owner = w.ownerName;
      if (!owner) return true;
      // Checked per window on purpose: a bad name only fails once there is a
      // window to compare it with, leaving "" rather than no key.
      const std::string& asked = appName.Require("appName");
      if (Contains(*owner, asked)) {
        if (Contains(*owner, "Photoshop")) {
          found = "Photoshop";
        } else if (Contains(*owner, "Illustrator")) {
          found = "Illustrator";
        }
      }
      return !IsNonEmpty(found);
    });
    if (!whole) found = std::nullopt;
    JsonHelper::Store(result, "choseAppName", found);
  } catch (...) {
  }
  return result;
}

bool WindowsHelper::CheckSoftwareIsInstalled(const CallerText& bundleId) {
  const Text& id = bundleId.text();
  return id && !platform::Env::Get().Apps().ApplicationsForId(*id).empty();
}

}  // namespace vrk
