/* SPDX-License-Identifier: MIT */
/*
 * libVRKFont: fonts of the user's session and the design applications beside it.
 *
 * Arguments: every argument is a read-only, NUL-terminated UTF-8 string that
 * the library never writes, keeps or frees. Any argument may be NULL. NULL and
 * text that is not valid UTF-8 both count as "no value"; what each function
 * then answers is said below, and it is never a crash.
 *
 * Results: no function returns NULL. A text result is either a heap copy that
 * the caller releases with free(), or a constant inside the library that the
 * caller must never free nor write: "1" and "0" where noted, and one shared
 * empty string ("") that the text exports answer whenever they have no text.
 * Heap copies are never empty, so an empty result is the constant (except
 * from GetAppName, whose result is always a heap copy): never free it.
 *
 * Threads: every function may be called from any thread, concurrently with
 * any other, and blocks its thread until done; the library starts no thread.
 * The name given to SetAppName is the one value shared between calls: a call
 * running alongside SetAppName sees the old name or the new one.
 *
 * Failures: no function throws, aborts or sends a signal to the caller; each
 * answers the failure result stated for it.
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

/* Names the calling application; "MuXan" selects that variant. NULL or invalid
 * UTF-8 clears the name. Answers the constant "1". */
VRKFONT_API char* SetAppName(const char* appName);

/* The name set by SetAppName ("" before any). Always a heap copy: free() it. */
VRKFONT_API char* GetAppName(void);

/* Applies a font to the selection of the frontmost supported application.
 * Answers a JSON result envelope (free() it), or the constant "" if encoding failed.
 * With a supported application in front, a NULL fontPostScriptName, scriptArg3,
 * scriptArg4 or scptPath answers "code" "101", "msg" "Try Fail", and a NULL
 * sketchPluginPath for Sketch "Sketch Plugin Fail". Empty strings are values. */
VRKFONT_API char* SetSoftwareFont(const char* fontPostScriptName, const char* scriptArg3,
                                  const char* scriptArg4, const char* scptPath,
                                  const char* sketchPluginPath);

/* Replaces fonts in the open document in one batch. JSON envelope, as SetSoftwareFont;
 * either argument NULL: "Try Fail". */
VRKFONT_API char* SetSoftwareBatchFonts(const char* fontMap, const char* scptPath);

/* Runs JavaScript in Photoshop and in Illustrator. JSON envelope, as SetSoftwareFont,
 * holding one envelope per running application; a NULL script fails the run it
 * is for ("Try Fail"), a NULL scptPath both runs. */
VRKFONT_API char* SetSoftwareDoJs(const char* psJsContent, const char* aiJsContent,
                                  const char* scptPath);

/* Slash-separated path of the open document: a heap copy, or the constant "" when
 * none, after a failure, or for a NULL scptPath. */
VRKFONT_API char* GetSoftwareFilePath(const char* scptPath);

/* Fonts of the open document. JSON envelope, as SetSoftwareFont; NULL: "Try Fail". */
VRKFONT_API char* GetSoftwareFileFonts(const char* scptPath);

/* Activates the font files of a JSON array of paths for the login session.
 * Answers one flag per path, "1|-|0|-|1": a heap copy, or the constant "" for none,
 * for NULL, or for text that is not a JSON array. */
VRKFONT_API char* RegisterFont(const char* fontPaths);

/* Deactivates the font files of a JSON array of paths. Flags as RegisterFont. */
VRKFONT_API char* UnRegisterFont(const char* fontPaths);

/* Whether a font file is active (when fontPath is not NULL), else whether a font with
 * the PostScript name or else the family name is available. A NULL postscriptName
 * answers false without looking at familyName; a NULL familyName only skips the
 * family. false after a failure. */
VRKFONT_API bool FontIsRegistered(const char* fontPath, const char* postscriptName,
                                  const char* familyName);

/* Resolves a font by PostScript and/or family name: "family|-|path" with "(null)" for a
 * missing part. A heap copy, or the constant "" after a failure. A NULL name is no
 * name; with neither name, the answer is the font the system picks for no name at all
 * (an empty name is a name, and matches none). */
VRKFONT_API char* FindFont(const char* postscriptName, const char* familyName);

/* Every available font as a JSON array of {"path","postscriptName","family","style"}.
 * A heap copy, or the constant "" after a failure. */
VRKFONT_API char* GetAvailableFonts(void);

/* Whether an application with this desktop-entry ID is installed: the constant "1" or
 * "0"; "0" for NULL and after a failure. */
VRKFONT_API char* CheckSoftwareIsInstalled(const char* bundleId);

#ifdef __cplusplus
} /* extern "C" */

/* A holder for the caller's name, for C++ callers' own use; the library reads the
 * name given to SetAppName, not this one. Reads and writes from several threads
 * are safe. Define VRKFONT_NO_CXX_CLASS to leave it, and <string>, out. */
#ifndef VRKFONT_NO_CXX_CLASS
#include <atomic>
#include <string>

class VRKFont {
 public:
  std::string appName() const {
    Hold hold(lock_);
    return appName_;
  }
  void setAppName(std::string name) {
    Hold hold(lock_);
    appName_.swap(name);
  }

 private:
  /* A copy of a short text is all that is ever held, so spinning costs less than
   * a mutex and its header. */
  struct Hold {
    explicit Hold(std::atomic_flag& flag) : flag_(flag) {
      while (flag_.test_and_set(std::memory_order_acquire)) {
      }
    }
    ~Hold() { flag_.clear(std::memory_order_release); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
    std::atomic_flag& flag_;
  };

  mutable std::atomic_flag lock_ = ATOMIC_FLAG_INIT;
  std::string appName_;
};
#endif /* VRKFONT_NO_CXX_CLASS */
#endif /* __cplusplus */

#endif /* VRKFONT_VRKFONT_H */
