// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "extension/Text.h"
#include "helper/Json.h"

namespace vrk {

enum class ScriptCallKind { ScriptNotLoaded, NoAnswer, Answered };

struct ScriptCallOutcome {
  ScriptCallKind kind = ScriptCallKind::ScriptNotLoaded;
  Text answerText;  // Answered only; absent when the result had no text form
};

// One handler argument: a text the export already holds, or a caller's text,
// which fails the call only when it is put into the list.
class ScriptArgument {
 public:
  static ScriptArgument Held(std::string text) {
    ScriptArgument a;
    a.held_ = std::move(text);
    return a;
  }
  // The caller's text must outlive the argument.
  static ScriptArgument Caller(const CallerText& text) {
    ScriptArgument a;
    a.caller_ = &text;
    return a;
  }
  static ScriptArgument Caller(const CallerText&& text) = delete;
  // The argument as text; a null or non-UTF-8 caller string is a failure (thrown).
  const std::string& Convert() const {
    return caller_ != nullptr ? caller_->Require("script argument") : held_;
  }

 private:
  ScriptArgument() = default;
  std::string held_;
  const CallerText* caller_ = nullptr;
};

struct ScriptAnswer {
  std::optional<Json> answerObject;
  std::string answerCode;
  // A member of the answer object; nothing when there is no object or member.
  const Json* Member(const char* key) const;
  // Moves a member out of the answer, leaving null; nothing when there is no
  // object or member. A move copies nothing, whatever the value's depth.
  std::optional<Json> Take(const char* key);
};

class ScriptHelper {
 public:
  // Loads the script at scptPath and calls its handler with the arguments.
  // A null or non-UTF-8 path or argument is thrown to the caller's catch-all.
  static ScriptCallOutcome CallHandler(const std::string& handlerName,
                                       const std::vector<ScriptArgument>& arguments,
                                       const CallerText& scptPath);
  // Decodes the answer and reads its "code"; an answer that is JSON but not an
  // object, or one whose brackets nest deeper than a member value may, is a
  // failure (thrown).
  static ScriptAnswer ReadAnswer(const Text& answerText);
};

}  // namespace vrk
