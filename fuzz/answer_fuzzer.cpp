// SPDX-License-Identifier: MIT
// Reading any handler answer gives a code text or a failure the exports catch.
#include <stdexcept>

#include "helper/ScriptHelper.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  try {
    vrk::ScriptAnswer answer = vrk::ScriptHelper::ReadAnswer(text);
    if (!answer.answerObject && !answer.answerCode.empty()) std::abort();
  } catch (const std::invalid_argument&) {
    // an answer that is JSON but not an object
  } catch (const std::length_error&) {
    // JSON nested deeper than a member value may be
  }
  return 0;
}
