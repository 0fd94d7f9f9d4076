// The Lua host-script runner behind the seam. ScriptHelper over it is covered
// through the exports, in software_test.cpp.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

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

TEST(LuaRunner, PrecompiledScriptsLoad) {
  if (std::system("command -v luac5.4 >/dev/null 2>&1") != 0) GTEST_SKIP() << "no luac5.4";
  HostScript script;
  script.Write(HostScript::Handler("getSoftwareFileFonts", "return 'compiled ' .. ..."));
  const std::string compiled = script.dir() + "/host.luac";
  ASSERT_EQ(std::system(("luac5.4 -o '" + compiled + "' '" + script.path() + "'").c_str()), 0);
  std::filesystem::remove(script.path());
  EXPECT_EQ(Outcome(compiled, Event("getSoftwareFileFonts", {"Keynote"})), "compiled Keynote");
  // A damaged binary chunk is refused at load, not run.
  std::string bytes = ReadFile(compiled);
  WriteFile(compiled, bytes.substr(0, bytes.size() / 2));
  EXPECT_EQ(Outcome(compiled, Event("getSoftwareFileFonts")), "<not loaded>");
}

}  // namespace
}  // namespace vrk::test
