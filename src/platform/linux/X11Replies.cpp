// SPDX-License-Identifier: MIT
#include "platform/linux/X11Replies.h"

namespace vrk::platform::x11 {

PropertyAsk AskProperty(xcb_connection_t* c, xcb_window_t w, xcb_atom_t atom, uint32_t maxWords,
                        bool wholeOnly, uint32_t offset) {
  if (atom == XCB_ATOM_NONE) return {};
  return {true, wholeOnly,
          xcb_get_property(c, 0, w, atom, XCB_GET_PROPERTY_TYPE_ANY, offset, maxWords)};
}

std::vector<uint32_t> Cardinals(const Property& p) {
  if (!p || p->format != 32) return {};
  const auto* data = static_cast<const uint32_t*>(xcb_get_property_value(p.get()));
  int count = xcb_get_property_value_length(p.get()) / 4;
  return std::vector<uint32_t>(data, data + count);
}

std::optional<uint32_t> FirstCardinal(const Property& p) {
  std::vector<uint32_t> values = Cardinals(p);
  if (values.empty()) return std::nullopt;
  return values.front();
}

std::string_view Bytes(const Property& p) {
  if (!p || p->format != 8) return {};
  return std::string_view(static_cast<const char*>(xcb_get_property_value(p.get())),
                          xcb_get_property_value_length(p.get()));
}

Property Exchange::AwaitProperty(PropertyAsk ask, bool* failed) {
  if (!ask.asked) return nullptr;
  Property p = Await<xcb_get_property_reply_t>(ask.cookie, failed);
  // A property that is not set comes back as a reply of type None.
  if (p && p->type == XCB_ATOM_NONE) return nullptr;
  if (p && ask.wholeOnly && p->bytes_after > 0) return nullptr;
  return p;
}

}  // namespace vrk::platform::x11
