// SPDX-License-Identifier: MIT
// The inventory: every available face, in the order the answer lists them.
#pragma once

#include <fontconfig/fontconfig.h>

#include <memory>
#include <optional>
#include <string>

#include "platform/FontManager.h"
#include "platform/linux/Fontconfig.h"
#include "platform/linux/LinkRegistry.h"

namespace vrk::platform {

// What the inventory and the lookup answer for a face's file: the registered
// file itself, never the link fontconfig found it through.
std::optional<std::string> FileOf(const FcPattern* font, const std::optional<LinkRegistry>& session,
                                  bool* activated = nullptr);

std::shared_ptr<FontCollection> NewFontconfigCollection(std::shared_ptr<Fontconfig> fc);

}  // namespace vrk::platform
