#pragma once

#include <string>

namespace vrk::platform {

// Makes the session folder a font directory of every fontconfig client of the
// user. Rewritten only when missing or different, so other clients' caches
// stay valid.
void AnnounceSessionFolder(const std::string& dir);

}  // namespace vrk::platform
