/*
 * libVRKFont: fonts of the user's session and the design applications beside it.
 *
 * Every argument is a read-only, NUL-terminated UTF-8 string. Every text result
 * is either a heap copy that the caller releases with free(), or a constant
 * that the caller must never free: "1"/"0" where noted, and one shared empty
 * string ("") that the text exports answer whenever they have no text.
 * No function returns NULL.
 */
#ifndef VRKFONT_VRKFONT_H
#define VRKFONT_VRKFONT_H

#include <stdbool.h>

/* The version of this header; the library's SONAME carries the major number. */
#define VRKFONT_VERSION_MAJOR 1
#define VRKFONT_VERSION_MINOR 0
#define VRKFONT_VERSION_PATCH 0

#if defined(VRKFONT_BUILDING)
#define VRKFONT_API __attribute__((visibility("default")))
#else
#define VRKFONT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Names the calling application; "MuXan" selects that variant. Answers the constant "1". */
VRKFONT_API char* SetAppName(const char* appName);

/* The name set by SetAppName ("" before any). Always a heap copy: free() it. */
VRKFONT_API char* GetAppName(void);

/* Applies a font to the selection of the frontmost supported application.
 * Answers a JSON result envelope (free() it), or the constant "" if encoding failed. */
VRKFONT_API char* SetSoftwareFont(const char* fontPostScriptName, const char* scriptArg3,
                                  const char* scriptArg4, const char* scptPath,
                                  const char* sketchPluginPath);

/* Replaces fonts in the open document in one batch. JSON envelope, as SetSoftwareFont. */
VRKFONT_API char* SetSoftwareBatchFonts(const char* fontMap, const char* scptPath);

/* Runs JavaScript in Photoshop and in Illustrator. JSON envelope, as SetSoftwareFont. */
VRKFONT_API char* SetSoftwareDoJs(const char* psJsContent, const char* aiJsContent,
                                  const char* scptPath);

/* Slash-separated path of the open document: a heap copy, or the constant "" when none. */
VRKFONT_API char* GetSoftwareFilePath(const char* scptPath);

/* Fonts of the open document. JSON envelope, as SetSoftwareFont. */
VRKFONT_API char* GetSoftwareFileFonts(const char* scptPath);

/* Activates the font files of a JSON array of paths for the login session.
 * Answers one flag per path, "1|-|0|-|1": a heap copy, or the constant "" for none. */
VRKFONT_API char* RegisterFont(const char* fontPaths);

/* Deactivates the font files of a JSON array of paths. Flags as RegisterFont. */
VRKFONT_API char* UnRegisterFont(const char* fontPaths);

/* Whether a font file is active (when fontPath is given), else whether a font with the
 * PostScript name or else the family name is available. Nothing to free. */
VRKFONT_API bool FontIsRegistered(const char* fontPath, const char* postscriptName,
                                  const char* familyName);

/* Resolves a font by PostScript and/or family name: "family|-|path" with "(null)" for a
 * missing part. A heap copy, or the constant "" after a failure. */
VRKFONT_API char* FindFont(const char* postscriptName, const char* familyName);

/* Every available font as a JSON array of {"path","postscriptName","family","style"}.
 * A heap copy, or the constant "" after a failure. */
VRKFONT_API char* GetAvailableFonts(void);

/* Whether an application with this desktop-entry ID is installed: the constant "1" or "0". */
VRKFONT_API char* CheckSoftwareIsInstalled(const char* bundleId);

#ifdef __cplusplus
} /* extern "C" */

#include <mutex>
#include <string>
#include <utility>

/* A holder for the caller's name, for C++ callers' own use; the library reads the
 * name given to SetAppName, not this one. */
class VRKFont {
 public:
  std::string appName() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return appName_;
  }
  void setAppName(std::string name) {
    std::lock_guard<std::mutex> lock(mutex_);
    appName_ = std::move(name);
  }

 private:
  mutable std::mutex mutex_;
  std::string appName_;
};
#endif /* __cplusplus */

#endif /* VRKFONT_VRKFONT_H */
