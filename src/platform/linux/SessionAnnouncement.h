// SPDX-License-Identifier: MIT
#pragma once

#include "platform/linux/LinkRegistry.h"

namespace vrk::platform {

// The link in the user's fonts folder that leads to the session folder.
// Throws without a home.
std::string SessionLinkPath();

// Makes the session folder a font directory of every fontconfig client of the
// user. Rewritten only when missing or different, so other clients' caches
// stay valid. False when fontconfig would not see the folder: a name that
// cannot be written into its configuration, or a configuration that does not
// read the file where the XDG rules put it.
// Fonts found through the link are left to the folder's own entry.
bool AnnounceSessionFolder(const LinkRegistry& folder);
// Programs load the user's conf.d only when it existed as they started, but
// they watch the user's fonts folder even before it exists: a link there to
// the session folder reaches programs that started before the first
// registration. The fonts folder when the link was made or changed now, so
// that its time can be settled; nothing otherwise, or when no link can be made.
Fd LinkSessionFolder(const LinkRegistry& folder);
// Takes a refused session folder out of the user's configuration and fonts folder.
void WithdrawSessionFolder();
// Takes the file, and the link, out when the folder named is not the user's
// own, or is missing where someone else could make it (as a folder under /tmp
// that an earlier version named): every fontconfig client would load its fonts.
void WithdrawUnsafeAnnouncement();

}  // namespace vrk::platform
