// SPDX-License-Identifier: MIT
// The Lua host-script runner behind the seam. ScriptHelper over it is covered
// through the exports, in software_test.cpp.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "HostScript.h"
#include "platform/linux/LinuxPlatform.h"

namespace vrk::test {
namespace {

using platform::SubroutineEvent;

SubroutineEvent Event(const std::string& name, std::vector<std::string> args = {}) {
  SubroutineEvent event;
  event.subroutineName = name;
  event.directObject = std::move(args);
  return event;
}

// A fresh runner each time; the outcome as one text.
std::string Outcome(const std::string& path, const SubroutineEvent& event) {
  auto script = platform::NewLuaScriptRunner()->Load(path);
  if (!script) return "<not loaded>";
  auto result = script->Execute(event);
  if (!result) return "<no answer>";
  return result->text.value_or("<no text>");
}

TEST(LuaRunner, HandlerResults) {
  const std::pair<std::string, std::string> cases[] = {
      {"return 'abc'", "abc"},
      {"return ''", ""},
      {"return 102", "102"},
      {"return 1.5", "1.5"},
      {"return 'first', 'second'", "first"},
      {"return 'caf\\u{E9}'", "caf\xC3\xA9"},
      {"return '\\xff\\xfe'", "<no text>"},
      {"return {code = '1'}", "<no text>"},
      {"return nil", "<no text>"},
      {"error('boom')", "<no answer>"},
      {"os.exit(3)", "<no answer>"},
      {"coroutine.yield()", "<no answer>"},
  };
  HostScript script;
  for (const auto& [statement, expected] : cases) {
    script.Write(HostScript::Handler("setSoftwareFont", statement));
    EXPECT_EQ(Outcome(script.path(), Event("setSoftwareFont", {"Photoshop"})), expected)
        << statement;
  }
}

TEST(LuaRunner, ScriptsThatCannotServeACall) {
  const std::pair<std::string, std::string> cases[] = {
      {"function setSoftwareFont(", "<not loaded>"},
      {"error('no host here')", "<not loaded>"},
      {"os.exit(0)", "<not loaded>"},  // and the process is still here
      {HostScript::Handler("getSoftwareFilePath", "return 'x'"), "<no answer>"},
      {"setSoftwareFont = 'text'", "<no answer>"},
  };
  HostScript script;
  for (const auto& [body, expected] : cases) {
    script.Write(body);
    EXPECT_EQ(Outcome(script.path(), Event("setSoftwareFont")), expected) << body;
  }
  EXPECT_EQ(Outcome(script.dir() + "/missing.lua", Event("setSoftwareFont")), "<not loaded>");
  EXPECT_EQ(Outcome(script.dir(), Event("setSoftwareFont")), "<not loaded>");
}

TEST(LuaRunner, ArgumentsArriveAsStringsInOrderToTheExactName) {
  HostScript script;
  script.Write(HostScript::Handler("setSoftwareBatchFonts", "return select('#', ...)") +
               HostScript::Handler("setsoftwarebatchfonts", "return 'wrong one'"));
  const std::vector<std::string> args = {"Photoshop", "", "{\"a\":\"b\"}", "line\nbreak\t\"q\"",
                                         "\xE4\xB8\xAD\xE6\x96\x87"};
  EXPECT_EQ(Outcome(script.path(), Event("setSoftwareBatchFonts", args)), "5");
  EXPECT_EQ(script.Calls(), (std::vector<HandlerCall>{{"setSoftwareBatchFonts", args}}));

  SubroutineEvent other = Event("setSoftwareBatchFonts");
  other.eventId = platform::FourCharCode("odoc");
  EXPECT_EQ(Outcome(script.path(), other), "<no answer>");
}

TEST(LuaRunner, EachCallLoadsTheScriptAfresh) {
  HostScript script;
  script.Write("calls = 0\n" +
               HostScript::Handler("getSoftwareFilePath", "calls = calls + 1; return calls"));
  EXPECT_EQ(Outcome(script.path(), Event("getSoftwareFilePath")), "1");
  EXPECT_EQ(Outcome(script.path(), Event("getSoftwareFilePath")), "1");
  script.Write(HostScript::Handler("getSoftwareFilePath", "return 'replaced'"));
  EXPECT_EQ(Outcome(script.path(), Event("getSoftwareFilePath")), "replaced");
}

// Lua does not verify precompiled chunks, and a damaged one corrupts memory:
// only source text loads, and only from a regular file.
TEST(LuaRunner, OnlySourceTextFromARegularFileLoads) {
  HostScript script;
  const std::string handler = HostScript::Handler("getSoftwareFileFonts", "return 'ran ' .. ...");
  script.Write(handler);
  const std::string source = ReadFile(script.path());
  const std::string path = script.dir() + "/variant.lua";
  const std::pair<std::string, std::string> texts[] = {
      {"#!/usr/bin/env lua\n" + source, "ran Keynote"},
      {"\xEF\xBB\xBF" + source, "ran Keynote"},
      {"\xEF\xBB\xBF# comment\n" + source, "ran Keynote"},
      {"", "<no answer>"},
  };
  for (const auto& [text, expected] : texts) {
    WriteFile(path, text);
    EXPECT_EQ(Outcome(path, Event("getSoftwareFileFonts", {"Keynote"})), expected) << text;
  }

  const std::string fifo = script.dir() + "/fifo.lua";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& notAFile : {fifo, std::string("/dev/null"), script.dir()}) {
    EXPECT_EQ(Outcome(notAFile, Event("getSoftwareFileFonts")), "<not loaded>") << notAFile;
  }

  if (std::system("command -v luac5.4 >/dev/null 2>&1") != 0) GTEST_SKIP() << "no luac5.4";
  const std::string compiled = script.dir() + "/host.luac";
  ASSERT_EQ(std::system(("luac5.4 -o '" + compiled + "' '" + script.path() + "'").c_str()), 0);
  const std::string chunk = ReadFile(compiled);
  std::vector<std::string> chunks = {chunk, "#!/usr/bin/env lua\n" + chunk, "\xEF\xBB\xBF" + chunk};
  // Damaged chunks like those that used to crash the caller.
  std::mt19937 random(7);
  for (int i = 0; i < 200; ++i) {
    std::string damaged = chunk;
    for (int n = 1 + i % 4; n > 0; --n) damaged[random() % damaged.size()] = char(random());
    chunks.push_back(damaged);
  }
  for (const std::string& bytes : chunks) {
    WriteFile(compiled, bytes);
    EXPECT_EQ(Outcome(compiled, Event("getSoftwareFileFonts", {"Keynote"})), "<not loaded>");
  }
}

}  // namespace
}  // namespace vrk::test
