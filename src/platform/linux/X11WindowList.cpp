// The window list from the X server. Every call opens its own connection, so
// nothing here touches the caller's Xlib state or error handler, and asks for
// everything in batches: all requests of a batch go out before the first reply
// is awaited, so a call costs the same few round trips for 3 windows or 300.
// No wait on the server outlasts the call's budget; a server that keeps us
// longer counts as no server at all.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>
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

#include "extension/NSStringEx.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/WindowOwners.h"
#include "platform/linux/X11Connection.h"

namespace vrk::platform {

namespace {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

using x11::Connection;

// The whole call, connecting included.
constexpr std::chrono::milliseconds kCallBudget{2000};

// What one call reads at most, so that a broken or hostile client cannot make
// it slow or large. Windows: far more than a desktop shows, counted from the
// front. Text: room for any real name; a longer WM_CLASS is taken for none,
// since a name cut short could match the wrong host. Atom lists: more than any
// window's states or types, or a manager's supported list.
constexpr size_t kMaxWindows = 4096;
constexpr uint32_t kMaxTextWords = 32 * 1024 / 4;
constexpr uint32_t kMaxAtoms = 64;
constexpr uint32_t kMaxSupported = 1024;
// Windows asked about per round trip. A batch's requests fit the socket's
// buffer, and no more are sent before they are answered, so sending never
// waits on a server that stopped reading.
constexpr size_t kBatch = 512;
// Windows inside frames looked at per level in search of their clients.
constexpr size_t kMaxProbes = 4 * kBatch;

// Not asked at all when the atom does not exist on the server: no window can
// carry it, and asking for atom None would be an error.
struct PropertyAsk {
  bool asked = false;
  bool wholeOnly = false;  // a value longer than asked counts as unset
  xcb_get_property_cookie_t cookie{};
};

PropertyAsk AskProperty(xcb_connection_t* c, xcb_window_t w, xcb_atom_t atom, uint32_t maxWords,
                        bool wholeOnly = false, uint32_t offset = 0) {
  if (atom == XCB_ATOM_NONE) return {};
  return {true, wholeOnly,
          xcb_get_property(c, 0, w, atom, XCB_GET_PROPERTY_TYPE_ANY, offset, maxWords)};
}

using Property = Reply<xcb_get_property_reply_t>;

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

// Applications write WM_CLASS as the UTF-8 bytes of their name whatever type
// they declare; only bytes that cannot be UTF-8 are taken for Latin-1.
std::string AsUtf8(std::string_view bytes) {
  if (IsValidUtf8(bytes)) return std::string(bytes);
  std::string text;
  for (unsigned char ch : bytes) {
    if (ch < 0x80) {
      text += static_cast<char>(ch);
    } else {
      text += static_cast<char>(0xC0 | (ch >> 6));
      text += static_cast<char>(0x80 | (ch & 0x3F));
    }
  }
  return text;
}

// Name of the program behind a process: the executable's file name, since
// /proc/PID/comm is cut at 15 characters.
std::optional<std::string> ExecutableName(uint32_t pid) {
  std::string link = "/proc/" + std::to_string(pid) + "/exe";
  std::array<char, 4096> buf{};
  ssize_t n = readlink(link.c_str(), buf.data(), buf.size());
  if (n <= 0 || static_cast<size_t>(n) >= buf.size()) return std::nullopt;
  std::string path(buf.data(), static_cast<size_t>(n));
  constexpr std::string_view kDeleted = " (deleted)";  // replaced on upgrade
  if (path.size() > kDeleted.size() && path.ends_with(kDeleted)) {
    path.resize(path.size() - kDeleted.size());
  }
  std::string name = path.substr(path.find_last_of('/') + 1);
  if (name.empty()) return std::nullopt;
  return AsUtf8(name);
}

std::string HostName() {
  std::array<char, 256> buf{};
  if (gethostname(buf.data(), buf.size() - 1) != 0) return {};
  return buf.data();
}

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
// Frames of reparenting window managers nest the client a level or two down.
constexpr int kClientSearchDepth = 3;

// A top-level window and the client window that carries its properties (the
// same window when there is no frame).
struct Candidate {
  xcb_window_t top;
  xcb_window_t client;
};

class Session {
 public:
  Session() : deadline_(kCallBudget) {}

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
    InternAtoms();
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
  // A reply, or nothing when the request failed; a vanished window (BadWindow)
  // is routine, so the error is freed and only reported as absence. Once the
  // server has kept us past the deadline or the connection broke, nothing
  // more is awaited.
  template <typename R, typename Cookie>
  Reply<R> Await(Cookie cookie, bool* failed = nullptr) {
    void* raw = nullptr;
    xcb_generic_error_t* error = nullptr;
    if (broken_ || !x11::WaitForReply(conn_.get(), cookie.sequence, deadline_, &raw, &error)) {
      broken_ = true;
      if (failed != nullptr) *failed = true;
      return nullptr;
    }
    Reply<R> reply(static_cast<R*>(raw));
    Reply<xcb_generic_error_t> owned(error);
    if ((owned || !reply) && failed != nullptr) *failed = true;
    return owned ? nullptr : std::move(reply);
  }

  Property AwaitProperty(PropertyAsk ask, bool* failed = nullptr) {
    if (!ask.asked) return nullptr;
    Property p = Await<xcb_get_property_reply_t>(ask.cookie, failed);
    // A property that is not set comes back as a reply of type None.
    if (p && p->type == XCB_ATOM_NONE) return nullptr;
    if (p && ask.wholeOnly && p->bytes_after > 0) return nullptr;
    return p;
  }

  void InternAtoms() {
    xcb_connection_t* c = conn_.get();
    std::array<xcb_intern_atom_cookie_t, kAtomCount> cookies{};
    // Only atoms that exist: asking must not create names on the server, and
    // an atom nobody made is a property nobody set.
    for (size_t i = 0; i < kAtomCount; ++i) {
      cookies[i] = xcb_intern_atom(c, 1, std::strlen(kAtomNames[i]), kAtomNames[i]);
    }
    for (size_t i = 0; i < kAtomCount; ++i) {
      auto reply = Await<xcb_intern_atom_reply_t>(cookies[i]);
      atoms_[i] = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    }
  }

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

  // A window that made it into the list; client None once it has vanished.
  struct Kept {
    xcb_window_t client;
    std::optional<std::string> owner;
    bool byProcess = false;
    std::optional<uint32_t> pid;  // as the window says; maybe another machine's
    bool caller = false;
  };

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
      a.wmClass = AskProperty(c, w, XCB_ATOM_WM_CLASS, kMaxTextWords, true);
      a.pid = AskProperty(c, w, atoms_[kNetWmPid], 1);
      if (onScreenOnly) {
        a.attributes = xcb_get_window_attributes(c, candidates[i].top);
        a.wmState = AskProperty(c, w, atoms_[kWmState], 2);
        a.netState = AskProperty(c, w, atoms_[kNetWmState], kMaxAtoms);
        a.desktop = AskProperty(c, w, atoms_[kNetWmDesktop], 1);
        a.type = AskProperty(c, w, atoms_[kNetWmWindowType], kMaxAtoms);
      }
    }
    std::vector<Kept> kept;
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
        shown = !gone && IsOnScreen(*attributes, wmState, netState, desktop, type);
      }
      if (gone || !shown) continue;
      kept.push_back(Named(candidates[i].client, wmClass, pid));
    }
    // Nothing more is sent to a server that stopped answering: the requests
    // would only fill the socket.
    if (broken_) return false;
    NameByProcess(kept);
    if (broken_) return false;
    for (Kept& k : kept) {
      if (k.client != XCB_WINDOW_NONE && !visit(WindowInfo{std::move(k.owner), k.caller})) {
        return false;
      }
    }
    return true;
  }

  // Windows without WM_CLASS, and Windows programs, are named after their
  // process, and the caller's own windows are told by it. A process number
  // only counts once the window's machine is known to be this one, asked in
  // one more batch for just those windows.
  void NameByProcess(std::vector<Kept>& kept) {
    xcb_connection_t* c = conn_.get();
    uint32_t self = static_cast<uint32_t>(getpid());
    struct Ask {
      size_t index;
      PropertyAsk machine;
    };
    std::vector<Ask> asks;
    for (size_t i = 0; i < kept.size(); ++i) {
      const Kept& k = kept[i];
      if (!k.pid || (k.owner && !k.byProcess && *k.pid != self)) continue;
      asks.push_back({i, AskProperty(c, k.client, XCB_ATOM_WM_CLIENT_MACHINE, kMaxTextWords)});
    }
    // Every reply first: reading process files between replies would leave
    // the connection to take them in dribs.
    std::vector<size_t> local;
    for (const Ask& ask : asks) {
      bool gone = false;
      Property machine = AwaitProperty(ask.machine, &gone);
      Kept& k = kept[ask.index];
      if (gone) {
        k.client = XCB_WINDOW_NONE;
      } else if (IsLocal(machine)) {
        k.caller = *k.pid == self;
        local.push_back(ask.index);
      }
    }
    for (size_t i : local) {
      Kept& k = kept[i];
      if (k.owner && !k.byProcess) continue;
      if (std::optional<std::string> program = namer_.FromProcess(*k.pid)) {
        k.owner = std::move(program);
      } else if (!k.owner) {
        k.owner = ExecutableName(*k.pid);
      }
    }
  }

  bool IsOnScreen(const xcb_get_window_attributes_reply_t& attributes, const Property& wmState,
                  const Property& netState, const Property& desktop, const Property& type) {
    if (attributes.map_state != XCB_MAP_STATE_VIEWABLE || attributes.override_redirect) {
      return false;
    }
    if (FirstCardinal(wmState) == kIconicState) return false;
    for (uint32_t atom : Cardinals(netState)) {
      if (atom != XCB_ATOM_NONE && atom == atoms_[kNetWmStateHidden]) return false;
    }
    std::optional<uint32_t> on = FirstCardinal(desktop);
    if (on && currentDesktop_ && *on != kAllDesktops && *on != *currentDesktop_) return false;
    for (uint32_t atom : Cardinals(type)) {
      if (atom == XCB_ATOM_NONE) continue;
      if (atom == atoms_[kNetWmWindowTypeDesktop] || atom == atoms_[kNetWmWindowTypeDock]) {
        return false;
      }
    }
    return true;
  }

  // WM_CLASS is "instance\0class\0".
  Kept Named(xcb_window_t client, const Property& wmClass, const Property& pid) {
    std::string_view bytes = Bytes(wmClass);
    size_t end = bytes.find('\0');
    std::string_view instance = bytes.substr(0, end);
    std::string_view klass =
        end == std::string_view::npos ? std::string_view() : bytes.substr(end + 1);
    klass = klass.substr(0, klass.find('\0'));
    std::optional<uint32_t> process = FirstCardinal(pid);
    if (process == 0u) process.reset();
    return {client, namer_.FromClass(AsUtf8(instance), AsUtf8(klass)),
            OwnerNamer::WantsProcess(klass), process};
  }

  // A process number only means something on the machine that runs it.
  bool IsLocal(const Property& machine) {
    std::string_view host = Bytes(machine);
    host = host.substr(0, host.find('\0'));
    return host.empty() || host == LocalHost();
  }

  const std::string& LocalHost() {
    if (!hostName_) hostName_ = HostName();
    return *hostName_;
  }

  x11::Deadline deadline_;
  bool broken_ = false;  // kept waiting past the deadline, or disconnected
  Connection conn_;
  xcb_window_t root_ = XCB_WINDOW_NONE;
  std::vector<xcb_window_t> roots_;  // of every screen
  std::array<xcb_atom_t, kAtomCount> atoms_{};
  std::optional<uint32_t> currentDesktop_;
  std::optional<std::string> hostName_;
  OwnerNamer namer_;
};

// libxcb writes with plain writev, so a server that goes away mid-call (an
// idle XWayland exits) would raise SIGPIPE and end the caller. The signal is
// held back for this thread only, and one it raised is taken back before the
// caller's mask returns.
class PipeSignalHold {
 public:
  PipeSignalHold() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigemptyset(&pending);
    callersOwn_ = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &callerMask_);
  }
  ~PipeSignalHold() {
    if (!callersOwn_) {
      timespec now{0, 0};
      while (sigtimedwait(&pipe_, nullptr, &now) == SIGPIPE) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &callerMask_, nullptr);
  }
  PipeSignalHold(const PipeSignalHold&) = delete;
  PipeSignalHold& operator=(const PipeSignalHold&) = delete;

 private:
  sigset_t pipe_;
  sigset_t callerMask_;
  bool callersOwn_ = false;
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
    PipeSignalHold hold;  // outlives the session, whose end writes too
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
