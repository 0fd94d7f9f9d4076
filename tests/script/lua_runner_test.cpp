// The Lua host-script runner behind the seam, and ScriptHelper over it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "HostScript.h"
#include "helper/ScriptHelper.h"
#include "platform/linux/LinuxPlatform.h"

namespace vrk::test {
namespace {

using platform::SubroutineEvent;

SubroutineEvent Event(const std::string& name, std::vector<std::string> args) {
  SubroutineEvent event;
  event.subroutineName = name;
  event.directObject = std::move(args);
  return event;
}

// nothing: not loaded; {nothing}: no answer; {{text}}: answered.
using RunResult = std::optional<std::optional<std::optional<std::string>>>;

RunResult RunScript(const std::string& path, const SubroutineEvent& event) {
  auto runner = platform::NewLuaScriptRunner();
  auto script = runner->Load(path);
  if (!script) return std::nullopt;
  auto result = script->Execute(event);
  if (!result) return std::optional<std::optional<std::string>>();
  return std::optional<std::optional<std::string>>(result->text);
}

const RunResult kNotLoaded = std::nullopt;
const RunResult kNoAnswer = std::optional<std::optional<std::string>>();
RunResult TextResult(std::optional<std::string> text) {
  return std::optional<std::optional<std::string>>(std::move(text));
}

TEST(LuaRunner, HandlerResultsBecomeTextOrNoText) {
  struct Case {
    std::string statement;
    RunResult expected;
  };
  const Case cases[] = {
      {"return 'abc'", TextResult("abc")},
      {"return ''", TextResult("")},
      {"return '{\"code\":\"1\"}'", TextResult("{\"code\":\"1\"}")},
      {"return 102", TextResult("102")},
      {"return -7", TextResult("-7")},
      {"return 1.5", TextResult("1.5")},
      {"return 'first', 'second'", TextResult("first")},
      {"return 'caf\\u{E9}'", TextResult("caf\xC3\xA9")},
      {"return '\\xff\\xfe'", TextResult(std::nullopt)},
      {"return {code = '1'}", TextResult(std::nullopt)},
      {"return true", TextResult(std::nullopt)},
      {"return nil", TextResult(std::nullopt)},
      {"return print", TextResult(std::nullopt)},
      {"", TextResult(std::nullopt)},
      {"error('boom')", kNoAnswer},
      {"error({})", kNoAnswer},
      {"error()", kNoAnswer},
      {"local t = nil; return t.x", kNoAnswer},
      {"os.exit(3)", kNoAnswer},
      {"os.exit(true, true)", kNoAnswer},
      {"coroutine.yield()", kNoAnswer},
  };
  HostScript script;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.statement);
    script.Write(HostScript::Handler("setSoftwareFont", c.statement));
    EXPECT_EQ(RunScript(script.path(), Event("setSoftwareFont", {"Photoshop"})), c.expected);
  }
}

TEST(LuaRunner, ScriptsThatCannotServeACall) {
  struct Case {
    const char* what;
    std::string body;
    RunResult expected;
  };
  const Case cases[] = {
      {"does not compile", "function setSoftwareFont(", kNotLoaded},
      {"top level raises", "error('no host here')", kNotLoaded},
      {"top level exits", "os.exit(0)", kNotLoaded},
      {"empty file", "", kNoAnswer},
      {"no such handler", HostScript::Handler("getSoftwareFilePath", "return 'x'"), kNoAnswer},
      {"handler is no function", "setSoftwareFont = 'text'", kNoAnswer},
      {"name differs in case", HostScript::Handler("setsoftwarefont", "return 'x'"), kNoAnswer},
  };
  HostScript script;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    script.Write(c.body);
    EXPECT_EQ(RunScript(script.path(), Event("setSoftwareFont", {})), c.expected);
  }
  EXPECT_EQ(RunScript(script.dir() + "/missing.lua", Event("setSoftwareFont", {})), kNotLoaded);
  EXPECT_EQ(RunScript(script.dir(), Event("setSoftwareFont", {})), kNotLoaded);
  // The process is still here after the script asked to end it.
  SUCCEED();
}

TEST(LuaRunner, ArgumentsArriveAsStringsInOrder) {
  HostScript script;
  script.Write(HostScript::Handler("setSoftwareBatchFonts", "return select('#', ...)") +
               HostScript::Handler("setsoftwarebatchfonts", "return 'wrong one'"));
  const std::vector<std::string> args = {"Photoshop", "", "{\"a\":\"b\"}", "line\nbreak\t\"q\"",
                                         "\xE4\xB8\xAD\xE6\x96\x87"};
  EXPECT_EQ(RunScript(script.path(), Event("setSoftwareBatchFonts", args)), TextResult("5"));
  ASSERT_EQ(script.Calls().size(), 1u);
  EXPECT_EQ(script.Calls()[0], (HandlerCall{"setSoftwareBatchFonts", args}));
}

TEST(LuaRunner, OnlyTheSubroutineEventIsServed) {
  HostScript script;
  script.Write(HostScript::Handler("setSoftwareFont", "return 'x'"));
  SubroutineEvent event = Event("setSoftwareFont", {});
  EXPECT_EQ(event.eventClass, 0x61736372u);
  EXPECT_EQ(event.eventId, 0x70736272u);
  EXPECT_EQ(SubroutineEvent::kDirectObject, 0x2D2D2D2Du);
  EXPECT_EQ(SubroutineEvent::kSubroutineName, 0x736E616Du);
  EXPECT_EQ(RunScript(script.path(), event), TextResult("x"));
  event.eventId = platform::FourCharCode("odoc");
  EXPECT_EQ(RunScript(script.path(), event), kNoAnswer);
}

TEST(LuaRunner, NothingSurvivesACall) {
  HostScript script;
  script.Write("calls = 0\n" +
               HostScript::Handler("getSoftwareFilePath", "calls = calls + 1; return calls"));
  EXPECT_EQ(RunScript(script.path(), Event("getSoftwareFilePath", {"Word"})), TextResult("1"));
  EXPECT_EQ(RunScript(script.path(), Event("getSoftwareFilePath", {"Word"})), TextResult("1"));

  // A script replaced on disk serves the very next call.
  script.Write(HostScript::Handler("getSoftwareFilePath", "return 'replaced'"));
  EXPECT_EQ(RunScript(script.path(), Event("getSoftwareFilePath", {"Word"})),
            TextResult("replaced"));
}

TEST(LuaRunner, PrecompiledScriptsLoad) {
  if (std::system("command -v luac5.4 >/dev/null 2>&1") != 0) GTEST_SKIP() << "no luac5.4";
  HostScript script;
  script.Write(HostScript::Handler("getSoftwareFileFonts", "return 'compiled ' .. ..."));
  const std::string compiled = script.dir() + "/host.luac";
  ASSERT_EQ(std::system(("luac5.4 -o '" + compiled + "' '" + script.path() + "'").c_str()), 0);
  std::filesystem::remove(script.path());
  EXPECT_EQ(RunScript(compiled, Event("getSoftwareFileFonts", {"Keynote"})),
            TextResult("compiled Keynote"));

  // A damaged binary chunk is refused at load, not run.
  std::string bytes = ReadFile(compiled);
  WriteFile(compiled, bytes.substr(0, bytes.size() / 2));
  EXPECT_EQ(RunScript(compiled, Event("getSoftwareFileFonts", {"Keynote"})), kNotLoaded);
}

class ScriptHelperTest : public ::testing::Test {
 protected:
  ScriptEnv env;
  HostScript script;
};

TEST_F(ScriptHelperTest, AnUnloadableScriptIsReportedBeforeAnyArgumentIsRead) {
  const std::string missing = script.dir() + "/missing.lua";
  ScriptCallOutcome outcome = ScriptHelper::CallHandler(
      "setSoftwareFont", {ScriptArgument::Held("Word"), ScriptArgument::Caller(nullptr)},
      missing.c_str());
  EXPECT_EQ(outcome.kind, ScriptCallKind::ScriptNotLoaded);
  EXPECT_FALSE(outcome.answerText);
}

TEST_F(ScriptHelperTest, BadCallerStringsFailOnceTheScriptHasLoaded) {
  script.Write(HostScript::Handler("setSoftwareFont", "return 'x'"));
  for (const char* bad : {static_cast<const char*>(nullptr), "\xC3\x28", "\xED\xA0\x80"}) {
    EXPECT_ANY_THROW(ScriptHelper::CallHandler(
        "setSoftwareFont", {ScriptArgument::Held("Word"), ScriptArgument::Caller(bad)},
        script.path().c_str()));
  }
  EXPECT_ANY_THROW(ScriptHelper::CallHandler("setSoftwareFont", {}, nullptr));
  EXPECT_ANY_THROW(ScriptHelper::CallHandler("setSoftwareFont", {}, "/tmp/\xFF.lua"));
  EXPECT_TRUE(script.Calls().empty());
}

TEST_F(ScriptHelperTest, CallHandlerOutcomes) {
  script.Write(HostScript::Handler("setSoftwareFont", "return ({...})[2]") +
               HostScript::Handler("getSoftwareFileFonts", "error('host gone')") +
               HostScript::Handler("getSoftwareFilePath", "return {}"));
  ScriptCallOutcome answered = ScriptHelper::CallHandler(
      "setSoftwareFont", {ScriptArgument::Held("Word"), ScriptArgument::Caller("Arial")},
      script.path().c_str());
  EXPECT_EQ(answered.kind, ScriptCallKind::Answered);
  EXPECT_EQ(answered.answerText, "Arial");

  ScriptCallOutcome failed = ScriptHelper::CallHandler(
      "getSoftwareFileFonts", {ScriptArgument::Held("Word")}, script.path().c_str());
  EXPECT_EQ(failed.kind, ScriptCallKind::NoAnswer);

  ScriptCallOutcome textless = ScriptHelper::CallHandler(
      "getSoftwareFilePath", {ScriptArgument::Held("Word")}, script.path().c_str());
  EXPECT_EQ(textless.kind, ScriptCallKind::Answered);
  EXPECT_FALSE(textless.answerText);
}

TEST(ReadAnswer, DecodesTheAnswerAndItsCode) {
  struct Case {
    Text text;
    bool object;
    std::string code;
  };
  const Case cases[] = {
      {"{\"code\":\"102\"}", true, "102"},
      {"{\"code\":102}", true, "102"},
      {"{\"code\":true}", true, "1"},
      {"{\"code\":null}", true, ""},
      {"{\"code\":[1]}", true, ""},
      {"{\"version\":\"1\"}", true, ""},
      {"{}", true, ""},
      {"done", false, ""},
      {"{", false, ""},
      {"", false, ""},
      {std::nullopt, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.value_or("(absent)"));
    ScriptAnswer answer = ScriptHelper::ReadAnswer(c.text);
    EXPECT_EQ(answer.answerObject.has_value(), c.object);
    EXPECT_EQ(answer.answerCode, c.code);
  }
  for (const char* notObject : {"[\"code\"]", "102", "\"102\"", "true", "null"}) {
    SCOPED_TRACE(notObject);
    EXPECT_ANY_THROW(ScriptHelper::ReadAnswer(std::string(notObject)));
  }
}

}  // namespace
}  // namespace vrk::test
