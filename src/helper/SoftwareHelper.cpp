#include "helper/SoftwareHelper.h"

#include <stdexcept>

#include "helper/AdobeXDHelper.h"
#include "helper/GlobalHelper.h"
#include "helper/JsonHelper.h"
#include "helper/ScriptHelper.h"
#include "helper/SketchHelper.h"
#include "helper/WindowsHelper.h"

namespace vrk {

namespace {

// A text member of a detection result; anything that is not a text is absent.
Text TextMember(const Json& object, const char* key) {
  if (!object.is_object()) return std::nullopt;
  auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

void SetStatus(Json& envelope, const char* code, const char* msg) {
  envelope["code"] = code;
  envelope["msg"] = msg;
}

}  // namespace

void SoftwareHelper::SetSoftwareFont(Json& envelope, const char* fontPostScriptName,
                                     const char* scriptArg3, const char* scriptArg4,
                                     const char* scptPath, const char* sketchPluginPath) {
  Json detection = WindowsHelper::EnumWindows();
  Text host = TextMember(detection, "choseAppName");
  if (!host || host->empty()) {
    SetStatus(envelope, "101", "No Software");
    JsonHelper::Store(envelope, "software", TextMember(detection, "unsupportedAppNames"));
    return;
  }

  if (*host == "Sketch") {
    if (!SketchHelper::ManagePluginSketch(sketchPluginPath, fontPostScriptName)) {
      SetStatus(envelope, "101", "Sketch Plugin Fail");
      return;
    }
  } else if (*host == "AdobeXD") {
    int handOff = AdobeXDHelper::ManagePluginAdobeXDSetFont(fontPostScriptName);
    if (handOff == -1) {
      SetStatus(envelope, "105", "AdobeXD Plugin Lose");
      return;
    }
    if (handOff != 1) {
      SetStatus(envelope, "101", "AdobeXD Plugin Fail");
      return;
    }
  }

  std::string label = GlobalHelper::ChooseByIdentity<std::string>("Muxan", "Kelvra");
  ScriptCallOutcome outcome = ScriptHelper::CallHandler(
      "setSoftwareFont",
      {ScriptArgument::Held(*host), ScriptArgument::Caller(fontPostScriptName),
       ScriptArgument::Caller(scriptArg3), ScriptArgument::Caller(scriptArg4),
       ScriptArgument::Held(label)},
      scptPath);
  switch (outcome.kind) {
    case ScriptCallKind::ScriptNotLoaded:
      SetStatus(envelope, "101", "AppleScript Init Fail");
      return;
    case ScriptCallKind::NoAnswer:
      SetStatus(envelope, "101", "AppleScript Fail");
      envelope["software"] = *host;
      return;
    case ScriptCallKind::Answered:
      break;
  }
  ScriptAnswer answer = ScriptHelper::ReadAnswer(outcome.answerText);
  if (answer.answerCode == "102") {
    SetStatus(envelope, "102", "Layer Error");
  } else {
    SetStatus(envelope, "1", "Success");
  }
  envelope["software"] = *host;
  JsonHelper::Store(envelope, "version", answer.Member("version"));
}

// The document operations follow with the next change.
void SoftwareHelper::SetSoftwareBatchFonts(Json&, const char*, const char*) {
  throw std::logic_error("not available yet");
}
void SoftwareHelper::SetSoftwareDoJs(Json&, const char*, const char*, const char*) {
  throw std::logic_error("not available yet");
}
Json SoftwareHelper::SetSoftwareDoJsByAppName(const char*, const char*, const char*) {
  throw std::logic_error("not available yet");
}
std::string SoftwareHelper::GetSoftwareFilePath(const char*) {
  throw std::logic_error("not available yet");
}
void SoftwareHelper::GetSoftwareFileFonts(Json&, const char*) {
  throw std::logic_error("not available yet");
}

}  // namespace vrk
