// SPDX-License-Identifier: MIT
// The window manager's conventions as the window walk reads them: the atoms it
// asks about, and whether a window is one the user sees.
#pragma once

#include <xcb/xcb.h>

#include <array>
#include <cstdint>
#include <optional>

#include "platform/linux/X11Replies.h"

namespace vrk::platform::x11 {

namespace atoms {
enum AtomId {
  kWmState,
  kNetSupportingWmCheck,
  kNetSupported,
  kNetClientListStacking,
  kNetCurrentDesktop,
  kNetWmDesktop,
  kNetWmState,
  kNetWmStateHidden,
  kNetWmWindowType,
  kNetWmWindowTypeDesktop,
  kNetWmWindowTypeDock,
  kNetWmPid,
  kAtomCount
};
}  // namespace atoms

// By AtomId; None for an atom the server does not know.
using Atoms = std::array<xcb_atom_t, atoms::kAtomCount>;

// Only atoms that exist: asking must not create names on the server, and an
// atom nobody made is a property nobody set.
Atoms InternAtoms(Exchange& exchange);

// Mapped, not iconic or hidden, on the current desktop (when one is known),
// and neither the desktop nor a dock.
bool IsOnScreen(const Atoms& atoms, std::optional<uint32_t> currentDesktop,
                const xcb_get_window_attributes_reply_t& attributes, const Property& wmState,
                const Property& netState, const Property& desktop, const Property& type);

}  // namespace vrk::platform::x11
