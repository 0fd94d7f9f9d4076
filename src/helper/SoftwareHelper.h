// SPDX-License-Identifier: MIT
#pragma once

#include <string>

#include "helper/Json.h"

namespace vrk {

// The script-driven exports. Each fills the envelope its export created; a
// failure thrown out of them leaves the envelope as it stood.
class SoftwareHelper {
 public:
  static void SetSoftwareFont(Json& envelope, const char* fontPostScriptName,
                              const char* scriptArg3, const char* scriptArg4, const char* scptPath,
                              const char* sketchPluginPath);
  static void SetSoftwareBatchFonts(Json& envelope, const char* fontMap, const char* scptPath);
  static void SetSoftwareDoJs(Json& envelope, const char* psJsContent, const char* aiJsContent,
                              const char* scptPath);
  // One host's run of the JavaScript; never throws.
  static Json SetSoftwareDoJsByAppName(const char* appName, const char* jsContent,
                                       const char* scptPath);
  // The open document's path, slash-separated; "" when there is none.
  static std::string GetSoftwareFilePath(const char* scptPath);
  static void GetSoftwareFileFonts(Json& envelope, const char* scptPath);
};

}  // namespace vrk
