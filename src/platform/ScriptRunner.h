// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vrk::platform {

constexpr uint32_t FourCharCode(const char (&code)[5]) {
  return (uint32_t(uint8_t(code[0])) << 24) | (uint32_t(uint8_t(code[1])) << 16) |
         (uint32_t(uint8_t(code[2])) << 8) | uint32_t(uint8_t(code[3]));
}

// The subroutine call event: a script that receives it runs its handler named
// subroutineName with directObject as the argument list.
struct SubroutineEvent {
  static constexpr uint32_t kEventClass = FourCharCode("ascr");      // kASAppleScriptSuite
  static constexpr uint32_t kEventId = FourCharCode("psbr");         // kASSubroutineEvent
  static constexpr uint32_t kDirectObject = FourCharCode("----");    // keyDirectObject
  static constexpr uint32_t kSubroutineName = FourCharCode("snam");  // keyASSubroutineName
  static constexpr int16_t kAutoGenerateReturnId = -1;
  static constexpr int32_t kAnyTransactionId = 0;

  uint32_t eventClass = kEventClass;
  uint32_t eventId = kEventId;
  int16_t returnId = kAutoGenerateReturnId;
  int32_t transactionId = kAnyTransactionId;
  // No target: the loaded script handles the event itself.
  std::vector<std::string> directObject;  // '----', the texts in order
  std::string subroutineName;             // 'snam'
};

struct ScriptResult {
  // The result's text form, always UTF-8; nothing when it has none.
  std::optional<std::string> text;
};

class LoadedScript {
 public:
  virtual ~LoadedScript() = default;
  // Runs the event; nothing when no result came back (missing handler, error,
  // an event other than the subroutine call).
  virtual std::optional<ScriptResult> Execute(const SubroutineEvent& event) = 0;
};

// Failures are answers (no script, no result); nothing but std::bad_alloc is
// thrown, whatever the script does.
class ScriptRunner {
 public:
  virtual ~ScriptRunner() = default;
  // The script at path, ready to receive events; nothing when it cannot load.
  virtual std::unique_ptr<LoadedScript> Load(const std::string& path) = 0;
};

}  // namespace vrk::platform
