// SPDX-License-Identifier: MIT
#pragma once

#include <string>

#include "extension/Text.h"
#include "helper/Json.h"

namespace vrk {

// The script-driven exports. Each fills the envelope its export created; a
// failure thrown out of them leaves the envelope as it stood.
class SoftwareHelper {
 public:
  static void SetSoftwareFont(Json& envelope, const CallerText& fontPostScriptName,
                              const CallerText& scriptArg3, const CallerText& scriptArg4,
                              const CallerText& scptPath, const CallerText& sketchPluginPath);
  static void SetSoftwareBatchFonts(Json& envelope, const CallerText& fontMap,
                                    const CallerText& scptPath);
  static void SetSoftwareDoJs(Json& envelope, const CallerText& psJsContent,
                              const CallerText& aiJsContent, const CallerText& scptPath);
  // One host's run of the JavaScript; never throws.
  static Json SetSoftwareDoJsByAppName(const CallerText& appName, const CallerText& jsContent,
                                       const CallerText& scptPath);
  // The open document's path, slash-separated; "" when there is none.
  static std::string GetSoftwareFilePath(const CallerText& scptPath);
  static void GetSoftwareFileFonts(Json& envelope, const CallerText& scptPath);
};

}  // namespace vrk
