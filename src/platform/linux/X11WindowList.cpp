// SPDX-License-Identifier: MIT
// The window list from the X server. Every call opens its own connection, so
// nothing here touches the caller's Xlib state or error handler, and asks for
// everything in batches: all requests of a batch go out before the first reply
// is awaited, so a call costs the same few round trips for 3 windows or 300.
// No wait on the server outlasts the call's budget; a server that keeps us
// longer counts as no server at all.
#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/X11Ewmh.h"
#include "platform/linux/X11Replies.h"
#include "platform/linux/X11WindowOwners.h"

namespace vrk::platform {

namespace {

using x11::AskProperty;
using x11::Cardinals;
using x11::FirstCardinal;
using x11::Property;
using x11::PropertyAsk;
using namespace x11::atoms;

// The whole call, connecting included.
constexpr std::chrono::milliseconds kCallBudget{2000};

// What one call reads at most, so that a broken or hostile client cannot make
// it slow or large. Windows: far more than a desktop shows, counted from the
// front. Atom lists: more than any window's states or types, or a manager's
// supported list.
constexpr size_t kMaxWindows = 4096;
constexpr uint32_t kMaxAtoms = 64;
constexpr uint32_t kMaxSupported = 1024;
// Windows asked about per round trip. A batch's requests fit the socket's
// buffer, and no more are sent before they are answered, so sending never
// waits on a server that stopped reading.
constexpr size_t kBatch = 512;
// Windows inside frames looked at per level in search of their clients.
constexpr size_t kMaxProbes = 4 * kBatch;

// Frames of reparenting window managers nest the client a level or two down.
constexpr int kClientSearchDepth = 3;

// A top-level window and the client window that carries its properties (the
// same window when there is no frame).
struct Candidate {
  xcb_window_t top;
  xcb_window_t client;
};

class Session : x11::Exchange {
 public:
  Session() : Exchange(kCallBudget) {}

  // False without a display, when the server refuses us or keeps us waiting;
  // all quietly.
  bool Open() {
    int screenNumber = 0;
    conn_ = x11::ConnectBefore(std::getenv("DISPLAY"), deadline_, &screenNumber);
    if (!conn_) return false;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn_.get()));
    for (int i = 0; it.rem > 0; ++i, xcb_screen_next(&it)) {
      if (i == screenNumber) root_ = it.data->root;
      roots_.push_back(it.data->root);
    }
    if (root_ == XCB_WINDOW_NONE) return false;
    atoms_ = x11::InternAtoms(*this);
    return !broken_;
  }

  // Hands the windows to visit, frontmost first, until it has had enough.
  // False when the server failed us on the way.
  bool Walk(bool onScreenOnly, const WindowList::Visitor& visit) {
    xcb_connection_t* c = conn_.get();
    auto stackingAsk = AskProperty(c, root_, atoms_[kNetClientListStacking], kMaxWindows);
    auto checkAsk = AskProperty(c, root_, atoms_[kNetSupportingWmCheck], 1);
    auto supportedAsk = AskProperty(c, root_, atoms_[kNetSupported], kMaxSupported);
    auto desktopAsk = AskProperty(c, root_, atoms_[kNetCurrentDesktop], 1);
    auto treeCookie = xcb_query_tree(c, root_);
    Property stacking = AwaitProperty(stackingAsk);
    Property check = AwaitProperty(checkAsk);
    Property supported = AwaitProperty(supportedAsk);
    Property desktop = AwaitProperty(desktopAsk);
    auto tree = Await<xcb_query_tree_reply_t>(treeCookie);

    bool managed = onScreenOnly && ManagerAlive(check);
    if (managed) currentDesktop_ = FirstCardinal(desktop);
    bool byManager = managed && Lists(supported, atoms_[kNetClientListStacking]);
    std::vector<Candidate> candidates;
    if (byManager) {
      // The manager's own order is the one the user sees; it runs bottom to top.
      std::vector<uint32_t> clients = Cardinals(TopOfStacking(std::move(stacking)));
      candidates = Candidates(clients.rbegin(), clients.rend());
    } else if (tree) {
      const xcb_window_t* children = xcb_query_tree_children(tree.get());
      const xcb_window_t* end = children + xcb_query_tree_children_length(tree.get());
      candidates =
          Candidates(std::make_reverse_iterator(end), std::make_reverse_iterator(children));
    }
    tree.reset();
    stacking.reset();
    for (size_t start = 0; start < candidates.size() && !broken_; start += kBatch) {
      std::vector<Candidate> batch(
          candidates.begin() + static_cast<ptrdiff_t>(start),
          candidates.begin() + static_cast<ptrdiff_t>(std::min(candidates.size(), start + kBatch)));
      if (!byManager) FindClients(batch);
      if (broken_ || !Describe(batch, onScreenOnly, visit)) break;
    }
    return !broken_;
  }

 private:
  // A manager that died leaves its root properties behind; its check window
  // goes with it, so they count only while that window lives and names itself.
  bool ManagerAlive(const Property& check) {
    std::optional<uint32_t> wm = FirstCardinal(check);
    if (!wm) return false;
    xcb_connection_t* c = conn_.get();
    Property self = AwaitProperty(AskProperty(c, *wm, atoms_[kNetSupportingWmCheck], 1));
    return FirstCardinal(self) == wm;
  }

  static bool Lists(const Property& supported, xcb_atom_t atom) {
    if (atom == XCB_ATOM_NONE) return false;
    std::vector<uint32_t> atoms = Cardinals(supported);
    return std::find(atoms.begin(), atoms.end(), atom) != atoms.end();
  }

  // The list runs bottom to top, so an overlong one is read from its end.
  Property TopOfStacking(Property stacking) {
    if (!stacking || stacking->format != 32 || stacking->bytes_after == 0) return stacking;
    uint32_t words = (static_cast<uint32_t>(xcb_get_property_value_length(stacking.get())) +
                      stacking->bytes_after) /
                     4;
    Property top = AwaitProperty(AskProperty(conn_.get(), root_, atoms_[kNetClientListStacking],
                                             kMaxWindows, false, words - kMaxWindows));
    return top ? std::move(top) : std::move(stacking);
  }

  // Each window once, at its frontmost place, and never a root window: a
  // manager may list one, but no application owns it.
  template <typename It>
  std::vector<Candidate> Candidates(It frontmost, It last) const {
    std::unordered_set<xcb_window_t> seen(roots_.begin(), roots_.end());
    std::vector<Candidate> candidates;
    for (It it = frontmost; it != last && candidates.size() < kMaxWindows; ++it) {
      if (*it != XCB_WINDOW_NONE && seen.insert(*it).second) candidates.push_back({*it, *it});
    }
    return candidates;
  }

  // The client of a frame is the window below it that carries WM_STATE; one
  // level of the search per round trip, for all frames at once.
  void FindClients(std::vector<Candidate>& candidates) {
    xcb_connection_t* c = conn_.get();
    if (atoms_[kWmState] == XCB_ATOM_NONE) return;
    struct Probe {
      size_t candidate;
      xcb_window_t window;
    };
    std::vector<Probe> probes;
    for (size_t i = 0; i < candidates.size(); ++i) probes.push_back({i, candidates[i].top});
    std::vector<bool> resolved(candidates.size(), false);
    for (int depth = 0; depth <= kClientSearchDepth && !probes.empty() && !broken_; ++depth) {
      std::vector<Probe> next;
      for (size_t start = 0; start < probes.size() && !broken_; start += kBatch) {
        size_t end = std::min(probes.size(), start + kBatch);
        std::vector<PropertyAsk> stateCookies;
        std::vector<xcb_query_tree_cookie_t> treeCookies;
        for (size_t i = start; i < end; ++i) {
          stateCookies.push_back(AskProperty(c, probes[i].window, atoms_[kWmState], 2));
          treeCookies.push_back(xcb_query_tree(c, probes[i].window));
        }
        for (size_t i = start; i < end; ++i) {
          Property state = AwaitProperty(stateCookies[i - start]);
          auto tree = Await<xcb_query_tree_reply_t>(treeCookies[i - start]);
          size_t k = probes[i].candidate;
          if (resolved[k]) continue;
          if (state) {
            candidates[k].client = probes[i].window;
            resolved[k] = true;
            continue;
          }
          if (!tree || depth == kClientSearchDepth) continue;
          const xcb_window_t* children = xcb_query_tree_children(tree.get());
          int count = xcb_query_tree_children_length(tree.get());
          for (int j = 0; j < count && next.size() < kMaxProbes; ++j) {
            next.push_back({k, children[j]});
          }
        }
      }
      probes = std::move(next);
    }
  }

  struct Asked {
    xcb_get_window_attributes_cookie_t attributes;
    PropertyAsk wmClass, pid, wmState, netState, desktop, type;
  };

  // False once visit has had enough, or the server failed us.
  bool Describe(const std::vector<Candidate>& candidates, bool onScreenOnly,
                const WindowList::Visitor& visit) {
    xcb_connection_t* c = conn_.get();
    std::vector<Asked> asked(candidates.size());
    for (size_t i = 0; i < candidates.size(); ++i) {
      xcb_window_t w = candidates[i].client;
      Asked& a = asked[i];
      a.wmClass = AskProperty(c, w, XCB_ATOM_WM_CLASS, x11::kMaxTextWords, true);
      a.pid = AskProperty(c, w, atoms_[kNetWmPid], 1);
      if (onScreenOnly) {
        a.attributes = xcb_get_window_attributes(c, candidates[i].top);
        a.wmState = AskProperty(c, w, atoms_[kWmState], 2);
        a.netState = AskProperty(c, w, atoms_[kNetWmState], kMaxAtoms);
        a.desktop = AskProperty(c, w, atoms_[kNetWmDesktop], 1);
        a.type = AskProperty(c, w, atoms_[kNetWmWindowType], kMaxAtoms);
      }
    }
    std::vector<x11::Owned> kept;
    for (size_t i = 0; i < asked.size(); ++i) {
      const Asked& a = asked[i];
      bool gone = false;
      Property wmClass = AwaitProperty(a.wmClass, &gone);
      Property pid = AwaitProperty(a.pid, &gone);
      bool shown = true;
      if (onScreenOnly) {
        auto attributes = Await<xcb_get_window_attributes_reply_t>(a.attributes, &gone);
        Property wmState = AwaitProperty(a.wmState, &gone);
        Property netState = AwaitProperty(a.netState, &gone);
        Property desktop = AwaitProperty(a.desktop, &gone);
        Property type = AwaitProperty(a.type, &gone);
        shown = !gone && x11::IsOnScreen(atoms_, currentDesktop_, *attributes, wmState, netState,
                                         desktop, type);
      }
      if (gone || !shown) continue;
      kept.push_back(owners_.Named(candidates[i].client, wmClass, pid));
    }
    // Nothing more is sent to a server that stopped answering: the requests
    // would only fill the socket.
    if (broken_) return false;
    owners_.NameByProcess(kept);
    if (broken_) return false;
    for (x11::Owned& k : kept) {
      if (k.client != XCB_WINDOW_NONE && !visit(WindowInfo{std::move(k.owner), k.caller})) {
        return false;
      }
    }
    return true;
  }

  xcb_window_t root_ = XCB_WINDOW_NONE;
  std::vector<xcb_window_t> roots_;  // of every screen
  x11::Atoms atoms_{};
  std::optional<uint32_t> currentDesktop_;
  x11::OwnerReader owners_{*this};
};

class X11WindowList final : public WindowList {
 public:
  std::vector<WindowInfo> OnScreenWindows() override { return Collect(true); }
  std::vector<WindowInfo> AllWindows() override { return Collect(false); }
  bool VisitOnScreen(const Visitor& visit) override { return Walk(true, visit); }
  bool VisitAll(const Visitor& visit) override { return Walk(false, visit); }

 private:
  static std::vector<WindowInfo> Collect(bool onScreenOnly) {
    std::vector<WindowInfo> windows;
    bool whole = Walk(onScreenOnly, [&](const WindowInfo& w) {
      windows.push_back(w);
      return true;
    });
    if (!whole) windows.clear();
    return windows;
  }

  static bool Walk(bool onScreenOnly, const Visitor& visit) {
    x11::PipeSignalHold hold;  // outlives the session, whose end writes too
    Session session;
    if (!session.Open()) return true;  // no server: no windows
    return session.Walk(onScreenOnly, visit);
  }
};

}  // namespace

std::unique_ptr<WindowList> NewX11WindowList() {
  return std::make_unique<X11WindowList>();
}

}  // namespace vrk::platform
