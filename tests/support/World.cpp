// SPDX-License-Identifier: MIT
#include "support/World.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "extension/Text.h"

namespace vrk::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "vrk-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = fs::canonical(pattern).string();
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

World::World() {
  for (const char* variable : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME",
                               "XDG_DATA_DIRS", "XDG_RUNTIME_DIR", "FONTCONFIG_FILE", "TMPDIR"}) {
    const char* value = std::getenv(variable);
    saved_.emplace_back(variable, value ? std::optional<std::string>(value) : std::nullopt);
  }
  const std::pair<const char*, const char*> folders[] = {{"HOME", "home"},
                                                         {"XDG_CONFIG_HOME", "config"},
                                                         {"XDG_DATA_HOME", "data"},
                                                         {"XDG_CACHE_HOME", "cache"},
                                                         {"XDG_DATA_DIRS", "sysdata"},
                                                         {nullptr, "system"}};
  for (const auto& [variable, dir] : folders) {
    fs::create_directories(Path(dir));
    if (variable != nullptr) ::setenv(variable, Path(dir).c_str(), 1);
  }
  UseRuntimeDir("run");
  CopyFont("dup1/VrkTwin-Regular.ttf", "system/VrkTwin-Regular.ttf");
  WriteFile(Path("fonts.conf"), "<fontconfig><dir>" + Path("system") +
                                    "</dir><dir prefix='xdg'>fonts</dir><cachedir>" +
                                    Path("cache/fc") +
                                    "</cachedir><include ignore_missing='yes' prefix='xdg'>"
                                    "fontconfig/conf.d</include></fontconfig>");
  ::setenv("FONTCONFIG_FILE", Path("fonts.conf").c_str(), 1);
}

World::~World() {
  for (const auto& [variable, value] : saved_)
    value ? ::setenv(variable.c_str(), value->c_str(), 1) : ::unsetenv(variable.c_str());
}

void World::UseRuntimeDir(const std::string& relative) {
  runtime_ = Path(relative);
  fs::create_directories(runtime_);
  fs::permissions(runtime_, fs::perms::owner_all);
  ::setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
}

std::string World::TestFont(const std::string& name) {
  return fs::canonical(fs::path(VRK_TEST_FONTS) / name).string();
}

std::string World::CopyFont(const std::string& name, const std::string& relative) const {
  fs::path to = Path(relative);
  fs::create_directories(to.parent_path());
  fs::copy_file(TestFont(name), to, fs::copy_options::overwrite_existing);
  return to.string();
}

void HostScript::Write(const std::string& body) const {
  // Arguments are logged as JSON strings, escaped so that any argument
  // survives the round trip.
  std::string prelude = "local LOG = [==[" + log_ + R"lua(]==]
local function enc(s)
  return '"' .. (s:gsub('[%c"\\]', function(c) return string.format("\\u%04x", c:byte()) end)) .. '"'
end
function record(name, ...)
  local parts = {}
  for i = 1, select("#", ...) do parts[i] = enc(select(i, ...)) end
  local f = assert(io.open(LOG, "a"))
  f:write('{"h":', enc(name), ',"a":[', table.concat(parts, ","), ']}\n')
  f:close()
end
)lua";
  WriteFile(path_, prelude + body);
}

std::vector<HostScript::Call> HostScript::Calls() const {
  std::vector<Call> calls;
  std::ifstream in(log_);
  for (std::string line; std::getline(in, line);) {
    Json entry = Json::parse(line);
    calls.push_back({entry["h"].get<std::string>(), entry["a"].get<std::vector<std::string>>()});
  }
  return calls;
}

std::string HostScript::Handler(const std::string& name, const std::string& statement) {
  return "function " + name + "(...)\n  record(\"" + name + "\", ...)\n  " + statement + "\nend\n";
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string RunCommand(const std::string& command) {
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
    ::pclose(pipe);
  }
  return out;
}

std::string Take(char* text) {
  if (text == nullptr) {
    ADD_FAILURE() << "an export answered NULL";
    return "";
  }
  std::string copy = text;
  if (text != ConstantEmptyString()) std::free(text);
  return copy;
}

nlohmann::json TakeJson(char* text) {
  std::string copy = Take(text);
  return copy.empty() ? nlohmann::json() : nlohmann::json::parse(copy);
}

std::string ListOf(const std::vector<std::string>& paths) {
  return Json(paths).dump();
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

}  // namespace vrk::test
