// SPDX-License-Identifier: MIT
// An X connection whose every wait has an end: xcb itself waits without limit
// for a server that accepted us and then never answers (stopped, hung, or
// held by another client's grab).
#pragma once

#include <signal.h>
#include <xcb/xcb.h>

#include <chrono>
#include <memory>

namespace vrk::platform::x11 {

struct Disconnect {
  void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
};
using Connection = std::unique_ptr<xcb_connection_t, Disconnect>;

// The moment past which the server is no longer waited for.
class Deadline {
 public:
  explicit Deadline(std::chrono::milliseconds budget)
      : end_(std::chrono::steady_clock::now() + budget) {}
  // Never negative; 0 once the moment has passed.
  int MillisecondsLeft() const;

 private:
  std::chrono::steady_clock::time_point end_;
};

// A connection to the display named as in DISPLAY, set up before the
// deadline; nothing when no server is there, it refuses us or it is too slow.
// *screen is the screen the name asks for.
Connection ConnectBefore(const char* display, const Deadline& deadline, int* screen);

// The reply or error to one request, as xcb_wait_for_reply gives them. False
// when the deadline passed or the connection broke first.
bool WaitForReply(xcb_connection_t* c, unsigned int sequence, const Deadline& deadline,
                  void** reply, xcb_generic_error_t** error);

// libxcb writes with plain writev, so a server that goes away mid-call (an
// idle XWayland exits) would raise SIGPIPE and end the caller. The signal is
// held back for this thread only, and one it raised is taken back before the
// caller's mask returns.
class PipeSignalHold {
 public:
  PipeSignalHold();
  ~PipeSignalHold();
  PipeSignalHold(const PipeSignalHold&) = delete;
  PipeSignalHold& operator=(const PipeSignalHold&) = delete;

 private:
  sigset_t pipe_;
  sigset_t callerMask_;
  bool callersOwn_ = false;
};

}  // namespace vrk::platform::x11
