// The window list from the X server. Every call opens its own connection, so
// nothing here touches the caller's Xlib state or error handler, and asks for
// everything in batches: all requests of a stage go out before the first reply
// is awaited, so a call costs the same few round trips for 3 windows or 300.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "extension/NSStringEx.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/WindowOwners.h"

namespace vrk::platform {

namespace {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

struct Disconnect {
  void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
};
using Connection = std::unique_ptr<xcb_connection_t, Disconnect>;

// A reply, or nothing when the request failed; a vanished window (BadWindow)
// is routine, so the error is freed and only reported as absence.
template <typename R, typename Cookie, typename Fn>
Reply<R> Await(xcb_connection_t* c, Cookie cookie, Fn fn, bool* failed = nullptr) {
  xcb_generic_error_t* error = nullptr;
  Reply<R> reply(fn(c, cookie, &error));
  Reply<xcb_generic_error_t> owned(error);
  if ((owned || !reply) && failed != nullptr) *failed = true;
  return owned ? nullptr : std::move(reply);
}

// Whole property values: a name cut short would match the wrong host.
constexpr uint32_t kWholeProperty = UINT32_MAX / 4;

// Not asked at all when the atom does not exist on the server: no window can
// carry it, and asking for atom None would be an error.
struct PropertyAsk {
  bool asked = false;
  xcb_get_property_cookie_t cookie{};
};

PropertyAsk AskProperty(xcb_connection_t* c, xcb_window_t w, xcb_atom_t atom) {
  if (atom == XCB_ATOM_NONE) return {};
  return {true, xcb_get_property(c, 0, w, atom, XCB_GET_PROPERTY_TYPE_ANY, 0, kWholeProperty)};
}

using Property = Reply<xcb_get_property_reply_t>;

Property AwaitProperty(xcb_connection_t* c, PropertyAsk ask, bool* failed) {
  if (!ask.asked) return nullptr;
  Property p = Await<xcb_get_property_reply_t>(c, ask.cookie, xcb_get_property_reply, failed);
  // A property that is not set comes back as a reply of type None.
  if (p && p->type == XCB_ATOM_NONE) return nullptr;
  return p;
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
  // False without a display or when the server refuses us; both quietly.
  bool Open() {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || display[0] == '\0') return false;
    int screenNumber = 0;
    conn_.reset(xcb_connect(display, &screenNumber));
    if (!conn_ || xcb_connection_has_error(conn_.get()) != 0) return false;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn_.get()));
    for (int i = 0; it.rem > 0 && i < screenNumber; ++i) xcb_screen_next(&it);
    if (it.rem == 0) return false;
    root_ = it.data->root;
    InternAtoms();
    return true;
  }

  std::vector<WindowInfo> List(bool onScreenOnly) {
    xcb_connection_t* c = conn_.get();
    auto stackingCookie = AskProperty(c, root_, atoms_[kNetClientListStacking]);
    auto checkCookie = AskProperty(c, root_, atoms_[kNetSupportingWmCheck]);
    auto supportedCookie = AskProperty(c, root_, atoms_[kNetSupported]);
    auto desktopCookie = AskProperty(c, root_, atoms_[kNetCurrentDesktop]);
    auto treeCookie = xcb_query_tree(c, root_);
    Property stacking = AwaitProperty(c, stackingCookie, nullptr);
    Property check = AwaitProperty(c, checkCookie, nullptr);
    Property supported = AwaitProperty(c, supportedCookie, nullptr);
    currentDesktop_ = FirstCardinal(AwaitProperty(c, desktopCookie, nullptr));
    auto tree = Await<xcb_query_tree_reply_t>(c, treeCookie, xcb_query_tree_reply);

    std::vector<Candidate> candidates;
    if (onScreenOnly && PublishesStacking(check, supported)) {
      // The manager's own order is the one the user sees; it runs bottom to top.
      std::vector<uint32_t> clients = Cardinals(stacking);
      for (auto it = clients.rbegin(); it != clients.rend(); ++it) {
        candidates.push_back({*it, *it});
      }
    } else if (tree) {
      const xcb_window_t* children = xcb_query_tree_children(tree.get());
      int count = xcb_query_tree_children_length(tree.get());
      for (int i = count - 1; i >= 0; --i) candidates.push_back({children[i], children[i]});
      FindClients(candidates);
    }
    return Describe(candidates, onScreenOnly);
  }

 private:
  void InternAtoms() {
    xcb_connection_t* c = conn_.get();
    std::array<xcb_intern_atom_cookie_t, kAtomCount> cookies{};
    // Only atoms that exist: asking must not create names on the server, and
    // an atom nobody made is a property nobody set.
    for (size_t i = 0; i < kAtomCount; ++i) {
      cookies[i] = xcb_intern_atom(c, 1, std::strlen(kAtomNames[i]), kAtomNames[i]);
    }
    for (size_t i = 0; i < kAtomCount; ++i) {
      auto reply = Await<xcb_intern_atom_reply_t>(c, cookies[i], xcb_intern_atom_reply);
      atoms_[i] = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    }
  }

  // A manager that died leaves its root properties behind; its check window
  // goes with it, so the stacking list counts only while that window lives and
  // names itself.
  bool PublishesStacking(const Property& check, const Property& supported) {
    if (atoms_[kNetClientListStacking] == XCB_ATOM_NONE) return false;
    std::optional<uint32_t> wm = FirstCardinal(check);
    if (!wm) return false;
    bool listed = false;
    for (uint32_t atom : Cardinals(supported)) {
      listed = listed || atom == atoms_[kNetClientListStacking];
    }
    if (!listed) return false;
    xcb_connection_t* c = conn_.get();
    Property self = AwaitProperty(c, AskProperty(c, *wm, atoms_[kNetSupportingWmCheck]), nullptr);
    return FirstCardinal(self) == wm;
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
    for (int depth = 0; depth <= kClientSearchDepth && !probes.empty(); ++depth) {
      std::vector<PropertyAsk> stateCookies;
      std::vector<xcb_query_tree_cookie_t> treeCookies;
      for (const Probe& p : probes) {
        stateCookies.push_back(AskProperty(c, p.window, atoms_[kWmState]));
        treeCookies.push_back(xcb_query_tree(c, p.window));
      }
      std::vector<Probe> next;
      for (size_t i = 0; i < probes.size(); ++i) {
        Property state = AwaitProperty(c, stateCookies[i], nullptr);
        auto tree = Await<xcb_query_tree_reply_t>(c, treeCookies[i], xcb_query_tree_reply);
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
        for (int j = 0; j < count; ++j) next.push_back({k, children[j]});
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

  std::vector<WindowInfo> Describe(const std::vector<Candidate>& candidates, bool onScreenOnly) {
    xcb_connection_t* c = conn_.get();
    std::vector<Asked> asked(candidates.size());
    for (size_t i = 0; i < candidates.size(); ++i) {
      xcb_window_t w = candidates[i].client;
      Asked& a = asked[i];
      a.wmClass = AskProperty(c, w, XCB_ATOM_WM_CLASS);
      a.pid = AskProperty(c, w, atoms_[kNetWmPid]);
      if (onScreenOnly) {
        a.attributes = xcb_get_window_attributes(c, candidates[i].top);
        a.wmState = AskProperty(c, w, atoms_[kWmState]);
        a.netState = AskProperty(c, w, atoms_[kNetWmState]);
        a.desktop = AskProperty(c, w, atoms_[kNetWmDesktop]);
        a.type = AskProperty(c, w, atoms_[kNetWmWindowType]);
      }
    }
    std::vector<Kept> kept;
    for (size_t i = 0; i < asked.size(); ++i) {
      const Asked& a = asked[i];
      bool gone = false;
      Property wmClass = AwaitProperty(c, a.wmClass, &gone);
      Property pid = AwaitProperty(c, a.pid, &gone);
      bool shown = true;
      if (onScreenOnly) {
        auto attributes = Await<xcb_get_window_attributes_reply_t>(
            c, a.attributes, xcb_get_window_attributes_reply, &gone);
        Property wmState = AwaitProperty(c, a.wmState, &gone);
        Property netState = AwaitProperty(c, a.netState, &gone);
        Property desktop = AwaitProperty(c, a.desktop, &gone);
        Property type = AwaitProperty(c, a.type, &gone);
        shown = !gone && IsOnScreen(*attributes, wmState, netState, desktop, type);
      }
      if (gone || !shown) continue;
      kept.push_back(Named(candidates[i].client, wmClass, pid));
    }
    NameByProcess(kept);
    std::vector<WindowInfo> windows;
    for (Kept& k : kept) {
      if (k.client != XCB_WINDOW_NONE) windows.push_back({std::move(k.owner), k.caller});
    }
    return windows;
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
      asks.push_back({i, AskProperty(c, k.client, XCB_ATOM_WM_CLIENT_MACHINE)});
    }
    // Every reply first: reading process files between replies would leave
    // the connection to take them in dribs.
    std::vector<size_t> local;
    for (const Ask& ask : asks) {
      bool gone = false;
      Property machine = AwaitProperty(c, ask.machine, &gone);
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

  Connection conn_;
  xcb_window_t root_ = XCB_WINDOW_NONE;
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
  std::vector<WindowInfo> OnScreenWindows() override { return List(true); }
  std::vector<WindowInfo> AllWindows() override { return List(false); }

 private:
  static std::vector<WindowInfo> List(bool onScreenOnly) {
    PipeSignalHold hold;  // outlives the session, whose end writes too
    Session session;
    if (!session.Open()) return {};
    return session.List(onScreenOnly);
  }
};

}  // namespace

std::unique_ptr<WindowList> NewX11WindowList() {
  return std::make_unique<X11WindowList>();
}

}  // namespace vrk::platform
