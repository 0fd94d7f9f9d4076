#include "platform/linux/SessionAnnouncement.h"

#include "platform/linux/UserFolders.h"

namespace vrk::platform {

namespace {

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

}  // namespace

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

}  // namespace vrk::platform
