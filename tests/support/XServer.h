// SPDX-License-Identifier: MIT
// A private Xvfb, and a client building window stacks on it, synced as it goes.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace vrk::xtest {

// Points DISPLAY at a new Xvfb, which goes with the process however it ends.
class Xvfb {
  pid_t pid_ = -1;

 public:
  Xvfb() {
    int fds[2];
    if (pipe(fds) != 0 || (pid_ = fork()) < 0) throw std::runtime_error("cannot start Xvfb");
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      dup2(open("/dev/null", O_WRONLY), 2);
      // -noreset: else it resets, refusing connections, each time its last client leaves.
      execlp("Xvfb", "Xvfb", "-displayfd", std::to_string(fds[1]).c_str(), "-nolisten", "tcp",
             "-noreset", nullptr);
      _exit(127);
    }
    close(fds[1]);
    std::string number;  // ready once it has written its display number and a newline
    for (char c; read(fds[0], &c, 1) == 1 && c != '\n';) number += c;
    close(fds[0]);
    if (number.empty()) throw std::runtime_error("Xvfb did not start (scripts/setup.sh)");
    setenv("DISPLAY", (":" + number).c_str(), 1);
  }
  ~Xvfb() { kill(pid_, SIGTERM), waitpid(pid_, nullptr, 0); }
};

class Client {
  xcb_connection_t* c_;

 public:
  Client() : c_(xcb_connect(nullptr, nullptr)) {
    if (xcb_connection_has_error(c_) == 0) return;
    xcb_disconnect(c_);
    throw std::runtime_error("no test X server");
  }
  ~Client() { xcb_disconnect(c_); }

  xcb_window_t root() const { return xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root; }
  xcb_atom_t Atom(const std::string& name) {
    auto* r = xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, name.size(), name.c_str()), nullptr);
    xcb_atom_t atom = r != nullptr ? r->atom : 0;
    std::free(r);
    return atom;
  }
  xcb_window_t Create(xcb_window_t parent = 0) {
    xcb_window_t w = xcb_generate_id(c_);
    xcb_create_window(c_, 0, w, parent ? parent : root(), 0, 0, 99, 99, 0, 1, 0, 0, nullptr);
    return w;
  }
  xcb_window_t App(const std::string& klass, bool mapped = true) {
    xcb_window_t w = Create();
    SetBytes(w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, std::string("app\0", 4) + klass + '\0');
    return mapped ? Map(w) : (Sync(), w);
  }
  void SetBytes(xcb_window_t w, xcb_atom_t property, xcb_atom_t type, const std::string& bytes) {
    xcb_change_property(c_, 0, w, property, type, 8, bytes.size(), bytes.data());
  }
  void SetCardinals(xcb_window_t w, const std::string& property, xcb_atom_t type,
                    const std::vector<uint32_t>& values) {
    xcb_change_property(c_, 0, w, Atom(property), type, 32, values.size(), values.data());
  }
  void SetAtoms(xcb_window_t w, const std::string& property, std::vector<std::string> names) {
    std::vector<uint32_t> atoms;
    for (const auto& n : names) atoms.push_back(Atom(n));
    SetCardinals(w, property, XCB_ATOM_ATOM, atoms);
  }
  xcb_window_t Map(xcb_window_t w) { return xcb_map_window(c_, w), Sync(), w; }
  void Unmap(xcb_window_t w) { xcb_unmap_window(c_, w), Sync(); }
  void Destroy(xcb_window_t w) { xcb_destroy_window(c_, w), Sync(); }
  void Grab() { xcb_grab_server(c_), Sync(); }  // until the connection ends
  void Sync() { std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr)); }
};

}  // namespace vrk::xtest
