// SPDX-License-Identifier: MIT
#include "HostScript.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/linux/LinuxPlatform.h"

namespace vrk::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "vrk-script-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void HostScript::Write(const std::string& body) const {
  // Arguments are logged as JSON strings; control characters, quotes and
  // backslashes are escaped so that any argument survives the round trip.
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

std::vector<HandlerCall> HostScript::Calls() const {
  std::vector<HandlerCall> calls;
  std::ifstream in(log_);
  std::string line;
  while (std::getline(in, line)) {
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

JsonValue TakeJson(char* text) {
  std::string copy = TakeText(text);
  return copy.empty() ? JsonValue() : JsonValue::parse(copy);
}

std::string TakeText(char* text) {
  EXPECT_NE(text, nullptr);
  if (text == nullptr) return "";
  std::string copy = text;
  if (text[0] != '\0') std::free(text);
  return copy;
}

ScriptEnv::ScriptEnv() : lua_(platform::NewLuaScriptRunner()) {
  env_->UseScripts(lua_.get());
}

}  // namespace vrk::test
