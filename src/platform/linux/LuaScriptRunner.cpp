// The host script on Linux: a Lua 5.4 file, source or precompiled, loaded into
// a fresh interpreter for every call. Lua reports errors by longjmp, so every
// step that can raise one runs inside lua_pcall through a plain C function
// that holds no C++ object with a destructor; C++ code only reads the stack
// after the protected call has returned.
#include <lua.hpp>

#include "extension/NSStringEx.h"
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

// Stack: the path as a light userdata. Opens the libraries, loads the file and
// runs its top-level chunk.
int ProtectedLoad(lua_State* state) {
  const char* path = static_cast<const char*>(lua_touserdata(state, 1));
  luaL_openlibs(state);
  lua_getglobal(state, "os");
  if (lua_istable(state, -1)) {
    lua_pushcfunction(state, RefuseExit);
    lua_setfield(state, -2, "exit");
  }
  lua_pop(state, 1);
  if (luaL_loadfilex(state, path, "bt") != LUA_OK) return lua_error(state);
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
    LuaState state(luaL_newstate());
    if (!state) return nullptr;
    // Warnings would go to stderr; the library writes nothing of its own there.
    lua_setwarnf(state.get(), nullptr, nullptr);
    lua_pushcfunction(state.get(), ProtectedLoad);
    lua_pushlightuserdata(state.get(), const_cast<char*>(path.c_str()));
    if (lua_pcall(state.get(), 1, 0, 0) != LUA_OK) return nullptr;
    return std::make_unique<LuaLoadedScript>(std::move(state));
  }
};

}  // namespace

std::unique_ptr<ScriptRunner> NewLuaScriptRunner() {
  return std::make_unique<LuaScriptRunner>();
}

}  // namespace vrk::platform
