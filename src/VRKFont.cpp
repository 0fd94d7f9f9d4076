// SPDX-License-Identifier: MIT
// The C interface. Each export converts its arguments, once each, calls one
// helper, and contains every failure: nothing thrown ever reaches the caller,
// and no export answers a null pointer. A converted argument that is absent
// or not UTF-8 fails the call only where the helper's behaviour says.
#include "vrkfont/VRKFont.h"

#include <cstring>
#include <functional>

#include "extension/Text.h"
#include "helper/FontHelper.h"
#include "helper/GlobalHelper.h"
#include "helper/JsonHelper.h"
#include "helper/SoftwareHelper.h"
#include "helper/WindowsHelper.h"

using vrk::CallerText;
using vrk::ConstantEmptyString;
using vrk::HeapCopyOrEmpty;
using vrk::Json;
using vrk::JsonHelper;

namespace {

char kOne[] = "1";
char kZero[] = "0";

// Runs the helper on the envelope; a failure marks the envelope as it stood
// with "Try Fail". Throws only when even that cannot be made.
void FillOrMarkFailed(Json& envelope, const std::function<void(Json&)>& fill) {
  try {
    fill(envelope);
  } catch (...) {
    envelope["code"] = "101";
    envelope["msg"] = "Try Fail";
  }
}

// The envelope as JSON, filled or marked failed; the constant "" when no
// envelope could be made or encoded.
char* AnswerEnvelope(std::initializer_list<const char*> keys,
                     const std::function<void(Json&)>& fill) noexcept {
  try {
    Json envelope = JsonHelper::Envelope(keys);
    FillOrMarkFailed(envelope, fill);
    return JsonHelper::objectToJson(envelope);
  } catch (...) {
    return ConstantEmptyString();
  }
}

// A text export: the helper's text as a heap copy, "" (constant) on failure.
char* AnswerText(const std::function<std::string()>& produce) noexcept {
  try {
    return HeapCopyOrEmpty(produce());
  } catch (...) {
    return ConstantEmptyString();
  }
}

}  // namespace

extern "C" {

char* SetAppName(const char* appName) {
  try {
    vrk::GlobalHelper::SetAppName(vrk::TextFromC(appName));
  } catch (...) {
  }
  return kOne;
}

char* GetAppName(void) {
  // Always a heap copy, "" included: the caller frees every answer of this one.
  try {
    char* copy = strdup(vrk::GlobalHelper::GetAppName().value_or("").c_str());
    if (copy != nullptr) return copy;
  } catch (...) {
  }
  // Out of memory: a copy of "" is all that can be tried.
  return strdup("");
}

char* SetSoftwareFont(const char* fontPostScriptName, const char* scriptArg3,
                      const char* scriptArg4, const char* scptPath, const char* sketchPluginPath) {
  return AnswerEnvelope({"code", "msg", "software", "version"}, [&](Json& envelope) {
    vrk::SoftwareHelper::SetSoftwareFont(envelope, CallerText(fontPostScriptName),
                                         CallerText(scriptArg3), CallerText(scriptArg4),
                                         CallerText(scptPath), CallerText(sketchPluginPath));
  });
}

char* SetSoftwareBatchFonts(const char* fontMap, const char* scptPath) {
  return AnswerEnvelope({"code", "msg", "software", "version"}, [&](Json& envelope) {
    vrk::SoftwareHelper::SetSoftwareBatchFonts(envelope, CallerText(fontMap), CallerText(scptPath));
  });
}

char* SetSoftwareDoJs(const char* psJsContent, const char* aiJsContent, const char* scptPath) {
  return AnswerEnvelope({"code", "msg", "psResult", "aiResult"}, [&](Json& envelope) {
    vrk::SoftwareHelper::SetSoftwareDoJs(envelope, CallerText(psJsContent), CallerText(aiJsContent),
                                         CallerText(scptPath));
  });
}

char* GetSoftwareFilePath(const char* scptPath) {
  return AnswerText([&] { return vrk::SoftwareHelper::GetSoftwareFilePath(CallerText(scptPath)); });
}

char* GetSoftwareFileFonts(const char* scptPath) {
  return AnswerEnvelope({"code", "msg", "software", "fontListString"}, [&](Json& envelope) {
    vrk::SoftwareHelper::GetSoftwareFileFonts(envelope, CallerText(scptPath));
  });
}

char* RegisterFont(const char* fontPaths) {
  return AnswerText([&] { return vrk::FontHelper::RegisterFont(CallerText(fontPaths)); });
}

char* UnRegisterFont(const char* fontPaths) {
  return AnswerText([&] { return vrk::FontHelper::UnRegisterFont(CallerText(fontPaths)); });
}

bool FontIsRegistered(const char* fontPath, const char* postscriptName, const char* familyName) {
  try {
    return vrk::FontHelper::FontIsRegistered(CallerText(fontPath), CallerText(postscriptName),
                                             CallerText(familyName));
  } catch (...) {
    return false;
  }
}

char* FindFont(const char* postscriptName, const char* familyName) {
  return AnswerText([&] {
    return vrk::FontHelper::FindFont(CallerText(postscriptName), CallerText(familyName));
  });
}

// The helper answers its own failures: it hands back a text of its own.
char* GetAvailableFonts(void) {
  return vrk::FontHelper::GetAvailableFonts();
}

char* CheckSoftwareIsInstalled(const char* bundleId) {
  try {
    return vrk::WindowsHelper::CheckSoftwareIsInstalled(CallerText(bundleId)) ? kOne : kZero;
  } catch (...) {
    return kZero;
  }
}

}  // extern "C"
