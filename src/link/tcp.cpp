// Plain TCP, the link under Telnet, and what every kind shares: the wait of
// an open, the error line, sending with a stall limit, the hard close.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "link/internal.h"
#include "platform/display.h"
#include "platform/dos.h"

bool link_open_cancelled(const LinkOpenOptions* o) {
  if (dos_check_break()) return true;
  return o && o->poll_cancel && o->poll_cancel(o->cancel_ctx) != 0;
}

int link_open_turn(const LinkOpenOptions* o, int fd, short events, int* budget_turns) {
  if (link_open_cancelled(o)) return LINK_CANCELLED;
  if (*budget_turns <= 0) return LINK_TIMED_OUT;
  if (o && o->pause) {
    o->pause();
  } else {
    // The dialing display must be current while the open waits.
    plat_present_all();
    link_fd_wait(fd, events, 20);
  }
  --*budget_turns;
  return LINK_OK;
}

void link_set_error(Link* l, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(l->error, sizeof l->error, fmt, ap);
  va_end(ap);
}

int link_fd_wait(int fd, short events, int ms) {
  pollfd p{};
  p.fd = fd;
  p.events = events;
  int r = poll(&p, 1, ms);
  if (r < 0) return errno == EINTR ? 0 : -1;
  return r;
}

// The stall limit is real time, whatever a test does to the program's clock.
uint32_t link_now_ms() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
}

int link_fd_send_all(Link* l, int fd, const uint8_t* bytes, size_t len, uint32_t stall_ms) {
  uint32_t last_progress = link_now_ms();
  while (len > 0) {
    // MSG_NOSIGNAL: a peer that is gone must end the session, not the process.
    ssize_t n = send(fd, bytes, len, MSG_NOSIGNAL);
    if (n > 0) {
      bytes += n;
      len -= static_cast<size_t>(n);
      last_progress = link_now_ms();
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EWOULDBLOCK || errno == EAGAIN)) {
      uint32_t waited = link_now_ms() - last_progress;
      if (waited >= stall_ms) {
        link_set_error(l, "the host took nothing for %u ms", static_cast<unsigned>(stall_ms));
        return -1;
      }
      if (link_fd_wait(fd, POLLOUT, static_cast<int>(stall_ms - waited)) < 0) {
        link_set_error(l, "connection lost: %s", strerror(errno));
        return -1;
      }
      continue;
    }
    link_set_error(l, "connection lost: %s", n == 0 ? "nothing sent" : strerror(errno));
    return -1;
  }
  return 0;
}

void link_fd_abort(int fd) {
  if (fd < 0) return;
  linger lg{};
  lg.l_onoff = 1;
  lg.l_linger = 0;
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
  shutdown(fd, SHUT_RDWR);
}

void link_fd_close(int* fd) {
  if (!fd || *fd < 0) return;
  link_fd_abort(*fd);
  close(*fd);
  *fd = -1;
}

void link_show_address(char* out, size_t cap, const char* host, int port) {
  if (strchr(host, ':')) {
    snprintf(out, cap, "[%s]:%d", host, port);
  } else {
    snprintf(out, cap, "%s:%d", host, port);
  }
}

namespace {

int tcp_read(Link* l, uint8_t* buf, int cap) {
  if (cap <= 0) return 0;
  ssize_t n = recv(l->fd, buf, static_cast<size_t>(cap), 0);
  if (n > 0) return static_cast<int>(n);
  if (n == 0) {
    link_set_error(l, "the host closed the connection");
    return -1;
  }
  if (errno == EWOULDBLOCK || errno == EAGAIN || errno == EINTR) return 0;
  link_set_error(l, "connection lost: %s", strerror(errno));
  return -1;
}

int tcp_send(Link* l, const uint8_t* bytes, size_t len, uint32_t stall_ms) {
  return link_fd_send_all(l, l->fd, bytes, len, stall_ms);
}

int tcp_pending(Link*) {
  return 0;
}

short tcp_wait_events(Link*) {
  return POLLIN;
}

void tcp_close(Link* l) {
  link_fd_close(&l->fd);
}

constexpr LinkOps kTcpOps = {tcp_read, tcp_send, tcp_pending, tcp_wait_events, nullptr, tcp_close};

}  // namespace

int link_tcp_adopt(Link* l, int fd) {
  if (!l || fd < 0) return LINK_FAILED;
  l->ops = &kTcpOps;
  l->kind = LINK_TELNET;
  l->fd = fd;
  l->impl = nullptr;
  l->error[0] = '\0';
  return LINK_OK;
}

void link_close(Link* l) {
  if (!l) return;
  if (l->ops && l->ops->close) l->ops->close(l);
  // The error stays: it says why the link ended, after it is gone too.
  l->ops = nullptr;
  l->fd = -1;
  l->impl = nullptr;
}
