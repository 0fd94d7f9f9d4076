// SPDX-License-Identifier: MIT
#include "helper/SoftwareHelper.h"

#include <algorithm>

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

// Reports a call that brought no answer; true when there is an answer to read.
bool Answered(Json& envelope, const ScriptCallOutcome& outcome, const Text& host) {
  switch (outcome.kind) {
    case ScriptCallKind::ScriptNotLoaded:
      SetStatus(envelope, "101", "AppleScript Init Fail");
      return false;
    case ScriptCallKind::NoAnswer:
      SetStatus(envelope, "101", "AppleScript Fail");
      JsonHelper::Store(envelope, "software", host);
      return false;
    case ScriptCallKind::Answered:
      break;
  }
  return true;
}

// The supported host in front; with none, the envelope reports "No Software"
// with the unsupported application's name and nothing is answered.
Text FrontmostHostOrReport(Json& envelope) {
  Json detection = WindowsHelper::EnumWindows();
  Text host = TextMember(detection, "choseAppName");
  if (host && !host->empty()) return host;
  SetStatus(envelope, "101", "No Software");
  JsonHelper::Store(envelope, "software", TextMember(detection, "unsupportedAppNames"));
  return std::nullopt;
}

// Applying a font and reading the document's fonts fail only on "102".
void SetLayerErrorOrSuccess(Json& envelope, const std::string& answerCode) {
  if (answerCode == "102") {
    SetStatus(envelope, "102", "Layer Error");
  } else {
    SetStatus(envelope, "1", "Success");
  }
}

}  // namespace

void SoftwareHelper::SetSoftwareFont(Json& envelope, const CallerText& fontPostScriptName,
                                     const CallerText& scriptArg3, const CallerText& scriptArg4,
                                     const CallerText& scptPath,
                                     const CallerText& sketchPluginPath) {
  Text host = FrontmostHostOrReport(envelope);
  if (!host) return;

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
  if (!Answered(envelope, outcome, host)) return;
  ScriptAnswer answer = ScriptHelper::ReadAnswer(outcome.answerText);
  SetLayerErrorOrSuccess(envelope, answer.answerCode);
  envelope["software"] = *host;
  JsonHelper::Store(envelope, "version", answer.Take("version"));
}

void SoftwareHelper::SetSoftwareBatchFonts(Json& envelope, const CallerText& fontMap,
                                           const CallerText& scptPath) {
  // Every call reaches the script, host or not; the script gets "" for none.
  Text host = TextMember(WindowsHelper::EnumWindows(), "choseAppName");
  ScriptCallOutcome outcome = ScriptHelper::CallHandler(
      "setSoftwareBatchFonts",
      {ScriptArgument::Held(host.value_or("")), ScriptArgument::Caller(fontMap)}, scptPath);
  if (!Answered(envelope, outcome, host)) return;
  ScriptAnswer answer = ScriptHelper::ReadAnswer(outcome.answerText);
  // This handler's codes read the other way round from the rest.
  if (answer.answerCode == "101") {
    SetStatus(envelope, "101", "Layer Error");
  } else if (answer.answerCode == "102") {
    SetStatus(envelope, "102", "Can`t connect to software");
  } else {
    SetStatus(envelope, "1", "Success");
  }
  JsonHelper::Store(envelope, "software", host);
  JsonHelper::Store(envelope, "version", answer.Take("version"));
  JsonHelper::Store(envelope, "fontMapResult", answer.Take("doResult"));
}

void SoftwareHelper::SetSoftwareDoJs(Json& envelope, const CallerText& psJsContent,
                                     const CallerText& aiJsContent, const CallerText& scptPath) {
  Json psResult = SetSoftwareDoJsByAppName("Photoshop", psJsContent, scptPath);
  Json aiResult = SetSoftwareDoJsByAppName("Illustrator", aiJsContent, scptPath);
  SetStatus(envelope, "1", "Success");
  envelope["psResult"] = std::move(psResult);
  envelope["aiResult"] = std::move(aiResult);
}

Json SoftwareHelper::SetSoftwareDoJsByAppName(const CallerText& appName,
                                              const CallerText& jsContent,
                                              const CallerText& scptPath) {
  Json result = JsonHelper::Envelope({"code", "msg", "software", "version", "doResult"});
  try {
    Text host = TextMember(WindowsHelper::EnumWindowsCheckAppNameExist(appName), "choseAppName");
    if (!host || host->empty()) {
      SetStatus(result, "101", "App Is Not Exist");
      return result;
    }
    ScriptCallOutcome outcome = ScriptHelper::CallHandler(
        "setSoftwareDoJs", {ScriptArgument::Held(*host), ScriptArgument::Caller(jsContent)},
        scptPath);
    if (!Answered(result, outcome, host)) return result;
    ScriptAnswer answer = ScriptHelper::ReadAnswer(outcome.answerText);
    if (answer.answerCode == "101") {
      SetStatus(result, "101", "Not Do");
    } else {
      SetStatus(result, "1", "Success");
    }
    result["software"] = *host;
    JsonHelper::Store(result, "version", answer.Take("version"));
    JsonHelper::Store(result, "doResult", answer.Take("doResult"));
  } catch (...) {
    // One host's failure stays in its own result and never stops the other run.
    SetStatus(result, "101", "Try Fail");
  }
  return result;
}

std::string SoftwareHelper::GetSoftwareFilePath(const CallerText& scptPath) {
  Text host = TextMember(WindowsHelper::EnumWindows(), "choseAppName");
  if (!host || host->empty()) return "";
  ScriptCallOutcome outcome =
      ScriptHelper::CallHandler("getSoftwareFilePath", {ScriptArgument::Held(*host)}, scptPath);
  if (outcome.kind != ScriptCallKind::Answered || !outcome.answerText) return "";
  const std::string& answer = *outcome.answerText;
  // A C caller would read only up to the NUL: a different, shorter path.
  if (answer.find('\0') != std::string::npos) return "";

  // "Volume:dir:file" becomes "/dir/file": the volume name is dropped, and an
  // answer without any ":" has no path part at all.
  size_t colon = answer.find(':');
  if (colon == std::string::npos) return "";
  std::string path = answer.substr(colon);
  std::replace(path.begin(), path.end(), ':', '/');
  return path;
}

void SoftwareHelper::GetSoftwareFileFonts(Json& envelope, const CallerText& scptPath) {
  Text host = FrontmostHostOrReport(envelope);
  if (!host) return;
  ScriptCallOutcome outcome =
      ScriptHelper::CallHandler("getSoftwareFileFonts", {ScriptArgument::Held(*host)}, scptPath);
  if (!Answered(envelope, outcome, host)) return;
  ScriptAnswer answer = ScriptHelper::ReadAnswer(outcome.answerText);
  SetLayerErrorOrSuccess(envelope, answer.answerCode);
  envelope["software"] = *host;
  JsonHelper::Store(envelope, "fontListString", answer.Take("fontListString"));
}

}  // namespace vrk
