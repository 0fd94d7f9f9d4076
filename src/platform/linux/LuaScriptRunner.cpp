// SPDX-License-Identifier: MIT
// The host script on Linux: a Lua 5.4 source file, loaded into a fresh
// interpreter for every call. Precompiled chunks are refused: Lua does not
// verify them, and a damaged one corrupts memory. Lua reports errors by longjmp, so every
// step that can raise one runs inside lua_pcall through a plain C function
// that holds no C++ object with a destructor; C++ code only reads the stack
// after the protected call has returned.
#include <lua.hpp>

#include "extension/Text.h"
#include "platform/linux/FileIo.h"
#include "platform/linux/LinuxPlatform.h"

namespace vrk::platform {

namespace {

struct LuaCloser {
  void operator()(lua_State* state) const { lua_close(state); }
};
using LuaState = std::unique_ptr<lua_State, LuaCloser>;

// A host script must not be able to end the caller's process.
int RefuseExit(lua_State* state) {
  return luaL_error(state, "os.exit is not available to a host script");
}

// Far beyond any real host script; keeps a wrong path from filling memory.
constexpr size_t kMaxScriptBytes = 64u << 20;

// What the stand-alone interpreter skips before the code: a UTF-8 byte order
// mark and a first line starting with "#". The line end stays, so error line
// numbers still match the file.
size_t CodeStart(const std::string& source) {
  size_t start = source.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
  if (start < source.size() && source[start] == '#') {
    const size_t lineEnd = source.find('\n', start);
    start = lineEnd == std::string::npos ? source.size() : lineEnd;
  }
  return start;
}

struct ScriptSource {
  const char* chunkName;
  const char* code;
  size_t size;
};

// Stack: the source as a light userdata. Opens the libraries, loads the code as
// text only and runs its top-level chunk.
int ProtectedLoad(lua_State* state) {
  const auto* source = static_cast<const ScriptSource*>(lua_touserdata(state, 1));
  luaL_openlibs(state);
  lua_getglobal(state, "os");
  if (lua_istable(state, -1)) {
    lua_pushcfunction(state, RefuseExit);
    lua_setfield(state, -2, "exit");
  }
  lua_pop(state, 1);
  if (luaL_loadbufferx(state, source->code, source->size, source->chunkName, "t") != LUA_OK) {
    return lua_error(state);
  }
  lua_call(state, 0, 0);
  return 0;
}

// Stack: the event as a light userdata. Calls the handler and leaves its first
// result, numbers already turned into their text, as the one value.
int ProtectedCall(lua_State* state) {
  const auto* event = static_cast<const SubroutineEvent*>(lua_touserdata(state, 1));
  lua_settop(state, 0);
  if (lua_getglobal(state, event->subroutineName.c_str()) != LUA_TFUNCTION) {
    return luaL_error(state, "no handler of that name");
  }
  const int count = static_cast<int>(event->directObject.size());
  luaL_checkstack(state, count, "too many arguments");
  for (const std::string& argument : event->directObject) {
    lua_pushlstring(state, argument.data(), argument.size());
  }
  lua_call(state, count, 1);
  if (lua_type(state, -1) == LUA_TNUMBER) lua_tolstring(state, -1, nullptr);
  return 1;
}

class LuaLoadedScript final : public LoadedScript {
 public:
  explicit LuaLoadedScript(LuaState state) : state_(std::move(state)) {}

  std::optional<ScriptResult> Execute(const SubroutineEvent& event) override {
    lua_State* state = state_.get();
    if (event.eventClass != SubroutineEvent::kEventClass ||
        event.eventId != SubroutineEvent::kEventId) {
      return std::nullopt;
    }
    lua_settop(state, 0);
    lua_pushcfunction(state, ProtectedCall);
    lua_pushlightuserdata(state, const_cast<SubroutineEvent*>(&event));
    if (lua_pcall(state, 1, 1, 0) != LUA_OK) return std::nullopt;

    ScriptResult result;
    if (lua_type(state, -1) == LUA_TSTRING) {
      size_t length = 0;
      const char* text = lua_tolstring(state, -1, &length);
      std::string copy(text, length);
      // Only Unicode text counts as a text form; other bytes are no answer text.
      if (IsValidUtf8(copy)) result.text = std::move(copy);
    }
    lua_settop(state, 0);
    return result;
  }

 private:
  LuaState state_;
};

class LuaScriptRunner final : public ScriptRunner {
 public:
  std::unique_ptr<LoadedScript> Load(const std::string& path) override {
    std::optional<std::string> bytes = ReadRegularFile(path, kMaxScriptBytes);
    if (!bytes) return nullptr;
    std::string chunkName(1, '@');
    chunkName += path;
    const size_t start = CodeStart(*bytes);
    ScriptSource source{chunkName.c_str(), bytes->data() + start, bytes->size() - start};

    LuaState state(luaL_newstate());
    if (!state) return nullptr;
    // Warnings would go to stderr; the library writes nothing of its own there.
    lua_setwarnf(state.get(), nullptr, nullptr);
    lua_pushcfunction(state.get(), ProtectedLoad);
    lua_pushlightuserdata(state.get(), &source);
    if (lua_pcall(state.get(), 1, 0, 0) != LUA_OK) return nullptr;
    return std::make_unique<LuaLoadedScript>(std::move(state));
  }
};

}  // namespace

std::unique_ptr<ScriptRunner> NewLuaScriptRunner() {
  return std::make_unique<LuaScriptRunner>();
}

}  // namespace vrk::platform
