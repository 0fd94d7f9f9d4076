// SPDX-License-Identifier: MIT
#include "platform/linux/X11Connection.h"

#include <X11/Xauth.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcbext.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "platform/linux/UserFolders.h"

namespace vrk::platform::x11 {

int Deadline::MillisecondsLeft() const {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(end_ - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

namespace {

// True once fd is ready for events (or has failed, which the next call on it
// reports); false when the deadline passes first.
bool Ready(int fd, short events, const Deadline& deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    int n = poll(&p, 1, deadline.MillisecondsLeft());
    if (n > 0) return true;
    if (n == 0 || errno != EINTR) return false;
  }
}

bool SendAll(int fd, std::string_view bytes, const Deadline& deadline) {
  while (!bytes.empty()) {
    ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n > 0) {
      bytes.remove_prefix(static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && Ready(fd, POLLOUT, deadline)) {
      continue;
    } else {
      return false;
    }
  }
  return true;
}

bool ReceiveAll(int fd, char* buf, size_t size, const Deadline& deadline) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = recv(fd, buf + done, size - done, 0);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && Ready(fd, POLLIN, deadline)) {
      continue;
    } else {
      return false;
    }
  }
  return true;
}

bool ConnectWithin(int fd, const sockaddr* address, socklen_t size, const Deadline& deadline) {
  if (connect(fd, address, size) == 0) return true;
  if (errno != EINPROGRESS && errno != EINTR) return false;
  if (!Ready(fd, POLLOUT, deadline)) return false;
  int error = 0;
  socklen_t length = sizeof error;
  return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

// Room for a whole batch of requests, so that sending one never waits for the
// server to read (the kernel may grant less).
constexpr int kSendRoom = 1 << 19;

Fd NewSocket(int family) {
  Fd fd(socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (fd) setsockopt(fd.get(), SOL_SOCKET, SO_SNDBUF, &kSendRoom, sizeof kSendRoom);
  return fd;
}

// A local server listens on an abstract socket, a socket file or both.
Fd DialLocal(int number, const Deadline& deadline) {
  std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
  for (size_t start : {1, 0}) {  // abstract first, its name after a NUL
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (start + path.size() >= sizeof address.sun_path) return Fd();
    std::memcpy(address.sun_path + start, path.data(), path.size());
    auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + start + path.size() +
                                       (start == 0 ? 1 : 0));
    Fd fd = NewSocket(AF_UNIX);
    if (fd &&
        ConnectWithin(fd.get(), reinterpret_cast<const sockaddr*>(&address), size, deadline)) {
      return fd;
    }
  }
  return Fd();
}

Fd DialTcp(const std::string& host, int number, const Deadline& deadline) {
  constexpr int kFirstPort = 6000;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_ADDRCONFIG | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  std::string port = std::to_string(kFirstPort + number);
  if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) return Fd();
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owned(found, freeaddrinfo);
  for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
    Fd fd = NewSocket(a->ai_family);
    if (fd && ConnectWithin(fd.get(), a->ai_addr, a->ai_addrlen, deadline)) {
      int on = 1;
      setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      return fd;
    }
  }
  return Fd();
}

std::string LocalHostName() {
  std::array<char, 256> buf{};
  if (gethostname(buf.data(), buf.size() - 1) != 0) return {};
  return buf.data();
}

struct Cookie {
  std::string name;
  std::string data;
};

// Filed as Xlib and xcb look for it: a connection from this machine under its
// host name, one from afar under the server's address.
Cookie CookieFor(int fd, int number) {
  constexpr unsigned short kFamilyInternet = 0;
  constexpr unsigned short kFamilyInternet6 = 6;
  unsigned short family = FamilyLocal;
  std::string address;
  sockaddr_storage peer{};
  socklen_t size = sizeof peer;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) == 0) {
    if (peer.ss_family == AF_INET) {
      const auto* in = reinterpret_cast<const sockaddr_in*>(&peer);
      if ((ntohl(in->sin_addr.s_addr) >> 24) != 127) {
        family = kFamilyInternet;
        address.assign(reinterpret_cast<const char*>(&in->sin_addr), 4);
      }
    } else if (peer.ss_family == AF_INET6) {
      const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&peer);
      const auto* bytes = reinterpret_cast<const char*>(&in6->sin6_addr);
      if (IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr)) {
        if (static_cast<unsigned char>(bytes[12]) != 127) {
          family = kFamilyInternet;
          address.assign(bytes + 12, 4);
        }
      } else if (!IN6_IS_ADDR_LOOPBACK(&in6->sin6_addr)) {
        family = kFamilyInternet6;
        address.assign(bytes, 16);
      }
    }
  }
  if (family == FamilyLocal) address = LocalHostName();
  std::string display = std::to_string(number);
  char kind[] = "MIT-MAGIC-COOKIE-1";
  char* kinds[] = {kind};
  const int lengths[] = {static_cast<int>(sizeof kind - 1)};
  Xauth* auth = XauGetBestAuthByAddr(family, static_cast<unsigned short>(address.size()),
                                     address.data(), static_cast<unsigned short>(display.size()),
                                     display.data(), 1, kinds, lengths);
  if (auth == nullptr) return {};
  Cookie cookie{std::string(auth->name, auth->name_length),
                std::string(auth->data, auth->data_length)};
  XauDisposeAuth(auth);
  return cookie;
}

void PadToFour(std::string& bytes) {
  bytes.resize((bytes.size() + 3) & ~size_t{3}, '\0');
}

// The server's setup reply, or "" when it refused us or kept us waiting.
std::string SetUp(int fd, int number, const Deadline& deadline) {
  Cookie cookie = CookieFor(fd, number);
  if (cookie.name.size() > UINT16_MAX || cookie.data.size() > UINT16_MAX) cookie = {};
  std::string request(12, '\0');
  request[0] = std::endian::native == std::endian::little ? 'l' : 'B';
  const uint16_t fields[] = {11, 0, static_cast<uint16_t>(cookie.name.size()),
                             static_cast<uint16_t>(cookie.data.size())};
  std::memcpy(&request[2], fields, sizeof fields);
  request += cookie.name;
  PadToFour(request);
  request += cookie.data;
  PadToFour(request);
  if (!SendAll(fd, request, deadline)) return {};

  constexpr size_t kHead = 8;
  std::string reply(kHead, '\0');
  if (!ReceiveAll(fd, reply.data(), kHead, deadline)) return {};
  uint16_t words = 0;
  std::memcpy(&words, &reply[6], sizeof words);
  reply.resize(kHead + 4 * size_t{words});
  if (!ReceiveAll(fd, reply.data() + kHead, reply.size() - kHead, deadline)) return {};
  constexpr char kSuccess = 1;
  if (reply[0] != kSuccess) return {};
  return reply;
}

// xcb cannot adopt a connection that is already set up, so it is handed the
// server's setup reply through a socket pair, and its end of the pair is then
// replaced by the server's socket under the same descriptor number. The reply
// goes as two records, its 8-byte head and the rest: while sending its own
// setup request xcb reads what is there, and would take a whole reply for an
// event stream; the head alone is too short for it to parse, and it reads the
// rest only as the setup reply.
Connection Adopt(Fd server, const std::string& setupReply) {
  constexpr size_t kHead = 8;
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) {
    return nullptr;
  }
  Fd ours(pair[0]);
  Fd theirs(pair[1]);
  int room = std::max(kSendRoom, static_cast<int>(setupReply.size()) + 4096);
  setsockopt(ours.get(), SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
  std::string_view reply(setupReply);
  for (std::string_view record : {reply.substr(0, kHead), reply.substr(kHead)}) {
    if (record.empty()) continue;
    ssize_t sent = send(ours.get(), record.data(), record.size(), MSG_NOSIGNAL);
    if (sent != static_cast<ssize_t>(record.size())) return nullptr;
  }
  Connection c(xcb_connect_to_fd(theirs.release(), nullptr));
  if (!c || xcb_connection_has_error(c.get()) != 0) return nullptr;
  if (dup3(server.get(), xcb_get_file_descriptor(c.get()), O_CLOEXEC) < 0) return nullptr;
  return c;
}

}  // namespace

Connection ConnectBefore(const char* display, const Deadline& deadline, int* screen) {
  if (display == nullptr || display[0] == '\0') return nullptr;
  char* host = nullptr;
  int number = 0;
  if (xcb_parse_display(display, &host, &number, screen) == 0) return nullptr;
  std::string hostName = host != nullptr ? host : "";
  std::free(host);
  Fd server;
  if (hostName.empty() || hostName == "unix") server = DialLocal(number, deadline);
  if (!server && hostName != "unix") {
    server = DialTcp(hostName.empty() ? "localhost" : hostName, number, deadline);
  }
  if (!server) return nullptr;
  std::string setupReply = SetUp(server.get(), number, deadline);
  if (setupReply.empty()) return nullptr;
  return Adopt(std::move(server), setupReply);
}

bool WaitForReply(xcb_connection_t* c, unsigned int sequence, const Deadline& deadline,
                  void** reply, xcb_generic_error_t** error) {
  *reply = nullptr;
  *error = nullptr;
  if (xcb_flush(c) <= 0) return false;
  for (;;) {
    if (xcb_poll_for_reply(c, sequence, reply, error) != 0) {
      return *reply != nullptr || *error != nullptr || xcb_connection_has_error(c) == 0;
    }
    if (xcb_connection_has_error(c) != 0) return false;
    int left = deadline.MillisecondsLeft();
    if (left == 0) return false;
    pollfd p{xcb_get_file_descriptor(c), POLLIN, 0};
    if (poll(&p, 1, left) < 0 && errno != EINTR) return false;
  }
}

PipeSignalHold::PipeSignalHold() {
  sigemptyset(&pipe_);
  sigaddset(&pipe_, SIGPIPE);
  sigset_t pending;
  sigemptyset(&pending);
  callersOwn_ = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
  pthread_sigmask(SIG_BLOCK, &pipe_, &callerMask_);
}

PipeSignalHold::~PipeSignalHold() {
  if (!callersOwn_) {
    timespec now{0, 0};
    while (sigtimedwait(&pipe_, nullptr, &now) == SIGPIPE) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &callerMask_, nullptr);
}

}  // namespace vrk::platform::x11
