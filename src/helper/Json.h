// SPDX-License-Identifier: MIT
#pragma once

#include <nlohmann/json.hpp>

namespace vrk {
// Keys keep the order they were stored in, so envelopes read "code" first.
using Json = nlohmann::ordered_json;
}  // namespace vrk
