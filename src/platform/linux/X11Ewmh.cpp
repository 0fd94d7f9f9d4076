// SPDX-License-Identifier: MIT
#include "platform/linux/X11Ewmh.h"

#include <cstring>

namespace vrk::platform::x11 {

using namespace atoms;

namespace {

constexpr std::array<const char*, kAtomCount> kAtomNames = {
    "WM_STATE",
    "_NET_SUPPORTING_WM_CHECK",
    "_NET_SUPPORTED",
    "_NET_CLIENT_LIST_STACKING",
    "_NET_CURRENT_DESKTOP",
    "_NET_WM_DESKTOP",
    "_NET_WM_STATE",
    "_NET_WM_STATE_HIDDEN",
    "_NET_WM_WINDOW_TYPE",
    "_NET_WM_WINDOW_TYPE_DESKTOP",
    "_NET_WM_WINDOW_TYPE_DOCK",
    "_NET_WM_PID",
};

constexpr uint32_t kAllDesktops = 0xFFFFFFFF;
constexpr uint32_t kIconicState = 3;

}  // namespace

Atoms InternAtoms(Exchange& exchange) {
  xcb_connection_t* c = exchange.connection();
  std::array<xcb_intern_atom_cookie_t, kAtomCount> cookies{};
  for (size_t i = 0; i < kAtomCount; ++i) {
    cookies[i] = xcb_intern_atom(c, 1, std::strlen(kAtomNames[i]), kAtomNames[i]);
  }
  Atoms atoms{};
  for (size_t i = 0; i < kAtomCount; ++i) {
    auto reply = exchange.Await<xcb_intern_atom_reply_t>(cookies[i]);
    atoms[i] = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
  }
  return atoms;
}

bool IsOnScreen(const Atoms& atoms, std::optional<uint32_t> currentDesktop,
                const xcb_get_window_attributes_reply_t& attributes, const Property& wmState,
                const Property& netState, const Property& desktop, const Property& type) {
  if (attributes.map_state != XCB_MAP_STATE_VIEWABLE || attributes.override_redirect) {
    return false;
  }
  if (FirstCardinal(wmState) == kIconicState) return false;
  for (uint32_t atom : Cardinals(netState)) {
    if (atom != XCB_ATOM_NONE && atom == atoms[kNetWmStateHidden]) return false;
  }
  std::optional<uint32_t> on = FirstCardinal(desktop);
  if (on && currentDesktop && *on != kAllDesktops && *on != *currentDesktop) return false;
  for (uint32_t atom : Cardinals(type)) {
    if (atom == XCB_ATOM_NONE) continue;
    if (atom == atoms[kNetWmWindowTypeDesktop] || atom == atoms[kNetWmWindowTypeDock]) {
      return false;
    }
  }
  return true;
}

}  // namespace vrk::platform::x11
