// SPDX-License-Identifier: MIT
// Any bytes as a program file, and as the version resource of a well-formed
// one: names come back as non-empty UTF-8 or not at all.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "extension/Text.h"
#include "platform/linux/VersionResource.h"
#include "support/PeBuilder.h"

namespace {

void Check(const std::optional<vrk::platform::pe::VersionNames>& names) {
  if (!names) return;
  for (const auto* name : {&names->productName, &names->fileDescription}) {
    if (*name && ((*name)->empty() || !vrk::IsValidUtf8(**name))) std::abort();
  }
  if (!names->productName && !names->fileDescription) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  Check(vrk::platform::pe::ReadVersionNames(bytes));
  Check(vrk::platform::pe::ReadVersionNames(vrk::petest::Image(bytes)));
  return 0;
}
