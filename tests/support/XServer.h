// SPDX-License-Identifier: MIT
// A private Xvfb for one process, and a client that builds window stacks on
// it. Shared by the window tests and the window-list benchmark.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace vrk::xtest {

// Starts Xvfb on a display number it picks itself (-displayfd) and points
// DISPLAY at it. Throws when Xvfb cannot be started: the window tests are
// meant to fail, not to skip, on a machine without it.
class Xvfb {
 public:
  Xvfb() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    std::string fd = std::to_string(fds[1]);
    // -noreset: otherwise each time the last client leaves, the server resets
    // and refuses connections meanwhile.
    const char* argv[] = {"Xvfb",     "-displayfd", fd.c_str(), "-nolisten",    "tcp",
                          "-noreset", "-screen",    "0",        "1280x1024x24", nullptr};
    pid_ = fork();
    if (pid_ == 0) {
      // The server goes with the test, however the test ends.
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      int quiet = open("/dev/null", O_WRONLY);
      dup2(quiet, 1);
      dup2(quiet, 2);
      fcntl(fds[1], F_SETFD, 0);
      execvp(argv[0], const_cast<char* const*>(argv));
      _exit(127);
    }
    close(fds[1]);
    if (pid_ < 0) {
      close(fds[0]);
      throw std::runtime_error("fork failed");
    }
    std::string number;
    while (number.find('\n') == std::string::npos) {
      pollfd p{fds[0], POLLIN, 0};
      if (poll(&p, 1, 20000) <= 0) break;
      char buf[32];
      ssize_t n = read(fds[0], buf, sizeof buf);
      if (n <= 0) break;
      number.append(buf, static_cast<size_t>(n));
    }
    close(fds[0]);
    if (number.find('\n') == std::string::npos) {
      Stop();
      throw std::runtime_error(
          "Xvfb did not start; install Debian's xvfb package (scripts/setup.sh)");
    }
    std::string display = ":";
    display += number.substr(0, number.find('\n'));
    setenv("DISPLAY", display.c_str(), 1);
  }
  ~Xvfb() { Stop(); }
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;

  // As SIGSTOP does to a hung server: its sockets stay open, nothing answers.
  void Pause() {
    kill(pid_, SIGSTOP);
    int status = 0;
    waitpid(pid_, &status, WUNTRACED);
  }
  void Resume() { kill(pid_, SIGCONT); }

 private:
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    kill(pid_, SIGCONT);  // a paused server only ends once it runs
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  pid_t pid_ = -1;
};

// Builds windows the way applications and window managers do. Every change is
// synced, so the server has applied it before the library looks.
class Client {
 public:
  Client() {
    conn_ = xcb_connect(nullptr, nullptr);
    if (int error = xcb_connection_has_error(conn_); error != 0) {
      xcb_disconnect(conn_);
      throw std::runtime_error("cannot connect to the test X server (xcb error " +
                               std::to_string(error) + ")");
    }
    root_ = xcb_setup_roots_iterator(xcb_get_setup(conn_)).data->root;
  }
  ~Client() { xcb_disconnect(conn_); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  xcb_window_t root() const { return root_; }

  xcb_atom_t Atom(const std::string& name) {
    xcb_intern_atom_reply_t* r =
        xcb_intern_atom_reply(conn_, xcb_intern_atom(conn_, 0, name.size(), name.c_str()), nullptr);
    xcb_atom_t atom = r != nullptr ? r->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    std::free(r);
    return atom;
  }

  xcb_window_t Create(xcb_window_t parent = XCB_WINDOW_NONE) {
    xcb_window_t w = xcb_generate_id(conn_);
    xcb_create_window(conn_, XCB_COPY_FROM_PARENT, w, parent ? parent : root_, 0, 0, 100, 100, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    return w;
  }
  // A top-level window of an application with this WM_CLASS class.
  xcb_window_t App(const std::string& klass, bool mapped = true) {
    xcb_window_t w = Create();
    SetClass(w, "app", klass);
    if (mapped) Map(w);
    Sync();
    return w;
  }

  void SetClass(xcb_window_t w, const std::string& instance, const std::string& klass) {
    SetBytes(w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, instance + '\0' + klass + '\0');
  }
  void SetBytes(xcb_window_t w, xcb_atom_t property, xcb_atom_t type, const std::string& bytes) {
    xcb_change_property(conn_, XCB_PROP_MODE_REPLACE, w, property, type, 8, bytes.size(),
                        bytes.data());
  }
  void SetCardinals(xcb_window_t w, const std::string& property, xcb_atom_t type,
                    const std::vector<uint32_t>& values) {
    xcb_change_property(conn_, XCB_PROP_MODE_REPLACE, w, Atom(property), type, 32, values.size(),
                        values.data());
  }
  void SetAtoms(xcb_window_t w, const std::string& property,
                const std::vector<std::string>& names) {
    std::vector<uint32_t> atoms;
    for (const auto& n : names) atoms.push_back(Atom(n));
    SetCardinals(w, property, XCB_ATOM_ATOM, atoms);
  }

  void Map(xcb_window_t w) { Synced(xcb_map_window(conn_, w)); }
  void Unmap(xcb_window_t w) { Synced(xcb_unmap_window(conn_, w)); }
  void Destroy(xcb_window_t w) { Synced(xcb_destroy_window(conn_, w)); }
  void Raise(xcb_window_t w) {
    uint32_t above[] = {XCB_STACK_MODE_ABOVE};
    xcb_configure_window(conn_, w, XCB_CONFIG_WINDOW_STACK_MODE, above);
    Sync();
  }

  // Holds the server for this client alone until the connection ends.
  void Grab() { Synced(xcb_grab_server(conn_)); }

  void SetOverrideRedirect(xcb_window_t w) {
    uint32_t on[] = {1};
    xcb_change_window_attributes(conn_, w, XCB_CW_OVERRIDE_REDIRECT, on);
    Sync();
  }

  // A request, applied by the server before the call returns.
  void Synced(xcb_void_cookie_t) { Sync(); }
  void Sync() { std::free(xcb_get_input_focus_reply(conn_, xcb_get_input_focus(conn_), nullptr)); }

 private:
  xcb_connection_t* conn_ = nullptr;
  xcb_window_t root_ = XCB_WINDOW_NONE;
};

}  // namespace vrk::xtest
