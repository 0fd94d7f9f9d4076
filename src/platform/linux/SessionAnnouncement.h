#pragma once

#include "platform/linux/LinkRegistry.h"

namespace vrk::platform {

// Makes the session folder a font directory of every fontconfig client of the
// user. Rewritten only when missing or different, so other clients' caches
// stay valid. False when fontconfig would not see the folder: a name that
// cannot be written into its configuration, or a configuration that does not
// read the file where the XDG rules put it.
bool AnnounceSessionFolder(const LinkRegistry& folder);
// Takes a refused session folder out of the user's configuration.
void WithdrawSessionFolder();
// Takes the file out when the folder it names is not the user's own, or is
// missing where someone else could make it (as a folder under /tmp that an
// earlier version named): every fontconfig client would load its fonts.
void WithdrawUnsafeAnnouncement();

}  // namespace vrk::platform
