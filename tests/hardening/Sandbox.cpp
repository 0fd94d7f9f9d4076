// SPDX-License-Identifier: MIT
#include "Sandbox.h"

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "extension/Text.h"
#include "helper/Json.h"

namespace vrk::hardening {

namespace fs = std::filesystem;

namespace {

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + path);
}

// Each argument as itself when short and plain, else "#" and its length, so
// an answer shows what arrived without carrying 10 MB back.
constexpr const char* kHostScript = R"lua(
local function show(...)
  local parts = {}
  for i = 1, select("#", ...) do
    local s = select(i, ...)
    parts[i] = (#s <= 40 and s:match("^[%w%-%. ]*$")) and s or ("#" .. #s)
  end
  return table.concat(parts, ",")
end
local function answer(...)
  local shown = show(...)
  return '{"code":"1","version":"' .. shown .. '","doResult":"' .. shown ..
         '","fontListString":"' .. shown .. '"}'
end
setSoftwareFont = answer
setSoftwareBatchFonts = answer
setSoftwareDoJs = answer
getSoftwareFileFonts = answer
function getSoftwareFilePath(host) return "Disk:Users:" .. host .. ":doc.psd" end
)lua";

}  // namespace

Sandbox::Sandbox() {
  for (const char* variable : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME",
                               "XDG_DATA_DIRS", "XDG_RUNTIME_DIR", "FONTCONFIG_FILE", "TMPDIR"}) {
    const char* value = std::getenv(variable);
    saved_.emplace_back(variable, value ? std::optional<std::string>(value) : std::nullopt);
  }
  std::string pattern = (fs::temp_directory_path() / "vrk-hardening-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = fs::canonical(pattern).string();
  const std::pair<const char*, const char*> folders[] = {{"HOME", "home"},
                                                         {"XDG_CONFIG_HOME", "config"},
                                                         {"XDG_DATA_HOME", "data"},
                                                         {"XDG_CACHE_HOME", "cache"},
                                                         {"XDG_DATA_DIRS", "sysdata"},
                                                         {"XDG_RUNTIME_DIR", "run"},
                                                         {nullptr, "system"}};
  for (const auto& [variable, dir] : folders) {
    fs::create_directories(Path(dir));
    if (variable != nullptr) ::setenv(variable, Path(dir).c_str(), 1);
  }
  fs::permissions(Path("run"), fs::perms::owner_all);
  fs::copy_file(TestFont("dup1/VrkTwin-Regular.ttf"), Path("system/VrkTwin-Regular.ttf"));
  Write(Path("fonts.conf"), "<fontconfig><dir>" + Path("system") +
                                "</dir><dir prefix='xdg'>fonts</dir><cachedir>" + Path("cache/fc") +
                                "</cachedir><include ignore_missing='yes' prefix='xdg'>"
                                "fontconfig/conf.d</include></fontconfig>");
  ::setenv("FONTCONFIG_FILE", Path("fonts.conf").c_str(), 1);
  fs::create_directories(Path("data/applications"));
  Write(Path("data/applications/") + kInstalledId + ".desktop",
        "[Desktop Entry]\nType=Application\nName=Vrk\nExec=true\n");
  Write(Script(), kHostScript);
}

Sandbox::~Sandbox() {
  std::error_code ec;
  fs::remove_all(root_, ec);
  for (const auto& [variable, value] : saved_) {
    if (value) {
      ::setenv(variable.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(variable.c_str());
    }
  }
}

std::string Sandbox::TestFont(const std::string& name) {
  return fs::canonical(fs::path(VRK_TEST_FONTS) / name).string();
}

std::string Sandbox::CopyFont(const std::string& name, const std::string& relative) const {
  fs::path to = Path(relative);
  fs::create_directories(to.parent_path());
  fs::copy_file(TestFont(name), to, fs::copy_options::overwrite_existing);
  return to.string();
}

FixedWindows::FixedWindows(std::vector<std::string> onScreen, std::vector<std::string> all) {
  for (auto& owner : onScreen) onScreen_.push_back({std::move(owner)});
  for (auto& owner : all) all_.push_back({std::move(owner)});
}

std::string Take(char* text) {
  if (text == nullptr) throw std::logic_error("an export answered NULL");
  std::string copy = text;
  if (text != ConstantEmptyString()) std::free(text);
  return copy;
}

std::string ListOf(const std::vector<std::string>& paths) {
  Json list = Json::array();
  for (const auto& p : paths) list.push_back(p);
  return list.dump();
}

int FlagCount(const std::string& flags) {
  int count = 0;
  for (size_t pos = 0;; pos += 4) {
    if (pos >= flags.size() || (flags[pos] != '0' && flags[pos] != '1')) return -1;
    ++count;
    if (pos + 1 == flags.size()) return count;
    if (flags.compare(pos + 1, 3, "|-|") != 0) return -1;
  }
}

}  // namespace vrk::hardening
