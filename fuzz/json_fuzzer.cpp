// SPDX-License-Identifier: MIT
// Decoding any text never fails outward, and a decoded container survives an
// encode-decode round trip unchanged.
#include <cstdlib>

#include "helper/JsonHelper.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  auto value = vrk::JsonHelper::jsonToObject(text);
  if (!value || !(value->is_object() || value->is_array())) return 0;
  char* encoded = vrk::JsonHelper::objectToJson(*value);
  if (encoded[0] == '\0') return 0;  // deeper than the encoder writes
  auto again = vrk::JsonHelper::jsonToObject(std::string(encoded));
  std::free(encoded);
  if (!again || *again != *value) std::abort();
  return 0;
}
