// SPDX-License-Identifier: MIT
// Any text as JSON and as a handler's answer: decoding never fails outward, a
// decoded container survives an encode-decode round trip unchanged, and an
// answer gives a code text or one of the failures the exports catch.
#include <cstdlib>
#include <stdexcept>

#include "helper/JsonHelper.h"
#include "helper/ScriptHelper.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  try {
    vrk::ScriptAnswer answer = vrk::ScriptHelper::ReadAnswer(text);
    if (!answer.answerObject && !answer.answerCode.empty()) std::abort();
  } catch (const std::invalid_argument&) {
    // JSON but not an object
  } catch (const std::length_error&) {
    // nested deeper than a member value may be
  }
  auto value = vrk::JsonHelper::jsonToObject(text);
  if (!value || !(value->is_object() || value->is_array())) return 0;
  char* encoded = vrk::JsonHelper::objectToJson(*value);
  if (encoded[0] == '\0') return 0;  // not writable, as text that is not UTF-8
  auto again = vrk::JsonHelper::jsonToObject(std::string(encoded));
  std::free(encoded);
  if (!again || *again != *value) std::abort();
  return 0;
}
