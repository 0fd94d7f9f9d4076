// SPDX-License-Identifier: MIT
// Real Lua host scripts for the tests: each lives in a private folder, and its
// handlers log every call (handler name and arguments) for the test to read.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "helper/Json.h"
#include "platform/ScriptRunner.h"
#include "support/FakeEnv.h"

namespace vrk::test {

struct HandlerCall {
  std::string handler;
  std::vector<std::string> args;
  bool operator==(const HandlerCall&) const = default;
};

// A folder that is removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

class HostScript {
 public:
  // The script file: a prelude defining record(name, ...) and then body.
  const std::string& path() const { return path_; }
  const std::string& dir() const { return dir_.path(); }
  void Write(const std::string& body) const;
  // Every handler call recorded so far, in order.
  std::vector<HandlerCall> Calls() const;

  // A handler that records its call and then runs statement.
  static std::string Handler(const std::string& name, const std::string& statement);
  // A statement answering the text as it is.
  static std::string Answer(const std::string& text) { return "return [==[" + text + "]==]"; }

 private:
  TempDir dir_;
  std::string path_ = dir_.path() + "/host.lua";
  std::string log_ = dir_.path() + "/calls.log";
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);

// Envelopes compared by value; key order is not part of the interface.
using JsonValue = nlohmann::json;
// Parses an envelope the way the caller would, and frees it.
JsonValue TakeJson(char* text);
// Frees a text export's result, which must never be NULL.
std::string TakeText(char* text);

// The fake platform with the real Lua runner behind it.
class ScriptEnv {
 public:
  ScriptEnv();
  FakeEnv* operator->() { return &*env_; }

 private:
  std::unique_ptr<platform::ScriptRunner> lua_;
  ScopedFakeEnv env_;
};

}  // namespace vrk::test
