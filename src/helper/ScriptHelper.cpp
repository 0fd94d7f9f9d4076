// SPDX-License-Identifier: MIT
#include "helper/ScriptHelper.h"

#include <stdexcept>

#include "extension/NSStringEx.h"
#include "helper/JsonHelper.h"
#include "platform/Env.h"

namespace vrk {

ScriptCallOutcome ScriptHelper::CallHandler(const std::string& handlerName,
                                            const std::vector<ScriptArgument>& arguments,
                                            const CallerText& scptPath) {
  const std::string& path = scptPath.Require("script path");
  std::unique_ptr<platform::LoadedScript> script = platform::Env::Get().Scripts().Load(path);
  if (!script) return {ScriptCallKind::ScriptNotLoaded, std::nullopt};

  // Caller strings are converted only now, so an unloadable script is reported
  // whatever the arguments hold.
  platform::SubroutineEvent event;
  event.directObject.reserve(arguments.size());
  for (const ScriptArgument& argument : arguments) event.directObject.push_back(argument.Convert());
  event.subroutineName = handlerName;

  std::optional<platform::ScriptResult> result = script->Execute(event);
  if (!result) return {ScriptCallKind::NoAnswer, std::nullopt};
  return {ScriptCallKind::Answered, std::move(result->text)};
}

ScriptAnswer ScriptHelper::ReadAnswer(const Text& answerText) {
  ScriptAnswer answer;
  // JSON deeper than the encoder writes fails the call here, before anything
  // that recurses (a copy, a comparison) can touch it. Checking that it is
  // JSON at all does not recurse.
  constexpr size_t kAnswerDepth = JsonHelper::kMaxDepth + 1;
  if (answerText && JsonHelper::NestingDepth(*answerText, kAnswerDepth) > kAnswerDepth) {
    if (Json::accept(*answerText)) throw std::length_error("the answer is nested too deeply");
    return answer;
  }
  answer.answerObject = JsonHelper::jsonToObject(answerText);
  if (!answer.answerObject) return answer;
  if (!answer.answerObject->is_object()) {
    throw std::invalid_argument("the answer is JSON but not an object");
  }
  answer.answerCode = NSStringEx::stringFromValue(answer.Member("code"));
  return answer;
}

const Json* ScriptAnswer::Member(const char* key) const {
  if (!answerObject || !answerObject->is_object()) return nullptr;
  auto it = answerObject->find(key);
  return it == answerObject->end() ? nullptr : &*it;
}

std::optional<Json> ScriptAnswer::Take(const char* key) {
  if (!answerObject || !answerObject->is_object()) return std::nullopt;
  auto it = answerObject->find(key);
  if (it == answerObject->end()) return std::nullopt;
  return std::move(*it);
}

}  // namespace vrk
