// SPDX-License-Identifier: MIT
// Requests and replies on an X connection with a budget: properties asked in
// batches, replies awaited no longer than the call may last, and the values
// of properties read safely whatever a client wrote into them.
#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/linux/X11Connection.h"

namespace vrk::platform::x11 {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;
using Property = Reply<xcb_get_property_reply_t>;

// Not asked at all when the atom does not exist on the server: no window can
// carry it, and asking for atom None would be an error.
struct PropertyAsk {
  bool asked = false;
  bool wholeOnly = false;  // a value longer than asked counts as unset
  xcb_get_property_cookie_t cookie{};
};

PropertyAsk AskProperty(xcb_connection_t* c, xcb_window_t w, xcb_atom_t atom, uint32_t maxWords,
                        bool wholeOnly = false, uint32_t offset = 0);

std::vector<uint32_t> Cardinals(const Property& p);
std::optional<uint32_t> FirstCardinal(const Property& p);
std::string_view Bytes(const Property& p);

// One call's conversation with the server.
class Exchange {
 public:
  explicit Exchange(std::chrono::milliseconds budget) : deadline_(budget) {}

  xcb_connection_t* connection() const { return conn_.get(); }
  // Kept waiting past the deadline, or disconnected.
  bool broken() const { return broken_; }

  // A reply, or nothing when the request failed; a vanished window (BadWindow)
  // is routine, so the error is freed and only reported as absence. Once the
  // server has kept us past the deadline or the connection broke, nothing
  // more is awaited.
  template <typename R, typename Cookie>
  Reply<R> Await(Cookie cookie, bool* failed = nullptr) {
    void* raw = nullptr;
    xcb_generic_error_t* error = nullptr;
    if (broken_ || !WaitForReply(conn_.get(), cookie.sequence, deadline_, &raw, &error)) {
      broken_ = true;
      if (failed != nullptr) *failed = true;
      return nullptr;
    }
    Reply<R> reply(static_cast<R*>(raw));
    Reply<xcb_generic_error_t> owned(error);
    if ((owned || !reply) && failed != nullptr) *failed = true;
    return owned ? nullptr : std::move(reply);
  }

  Property AwaitProperty(PropertyAsk ask, bool* failed = nullptr);

 protected:
  Deadline deadline_;
  bool broken_ = false;
  Connection conn_;
};

}  // namespace vrk::platform::x11
