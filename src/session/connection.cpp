#include "session/connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/dos.h"

int connection_resolve_ipv4(const char* host, in_addr* out) {
  if (!host || !out || host[0] == '\0') return -1;
  // Longer texts are not host names; refusing them here also keeps absurd
  // input away from the resolver.
  if (strnlen(host, kMaxHostNameLength + 1) > kMaxHostNameLength) return -1;
  in_addr_t a = inet_addr(host);
  if (a != INADDR_NONE) {
    out->s_addr = a;
    return 0;
  }
  hostent* he = gethostbyname(host);
  if (!he || he->h_addrtype != AF_INET || he->h_length != 4 || !he->h_addr_list ||
      !he->h_addr_list[0])
    return -1;
  memcpy(&out->s_addr, he->h_addr_list[0], 4);
  return 0;
}

static int make_nonblocking(int sock) {
  int on = 1;
  if (ioctl(sock, FIONBIO, &on) == 0) return 0;
  int flags = fcntl(sock, F_GETFL);
  if (flags < 0) return -1;
  return fcntl(sock, F_SETFL, flags | O_NONBLOCK) == 0 ? 0 : -1;
}

static bool cancelled(const ConnectOptions* opts) {
  return opts && opts->poll_cancel && opts->poll_cancel(opts->cancel_ctx) != 0;
}

static void pause_one_tick(const ConnectOptions* opts) {
  if (opts && opts->pause) {
    opts->pause();
  } else {
    dos_delay(1);
  }
}

static int fail_closed(int sock, int code) {
  int saved = errno;
  close(sock);
  errno = saved;
  return code;
}

// Waits for the connect in progress: 1 connected (or failed: SO_ERROR says
// which), or a negative outcome.  Writability is tested with poll rather than
// a fixed-size descriptor set, so a descriptor number of any size is safe.
static int wait_for_connect(int sock, const ConnectOptions* opts) {
  int budget = opts ? opts->budget_turns : kConnectBudgetTurns;
  for (;;) {
    if (cancelled(opts)) return CONNECT_CANCELLED;
    pollfd pfd{};
    pfd.fd = sock;
    pfd.events = POLLOUT;
    int r = poll(&pfd, 1, 0);
    if (r > 0 && (pfd.revents & (POLLOUT | POLLERR | POLLHUP))) return 1;
    if (r < 0 && errno != EINTR) return CONNECT_FAILED;
    pause_one_tick(opts);
    if (--budget <= 0) return CONNECT_TIMED_OUT;
  }
}

int connection_open(const char* host, int port, const ConnectOptions* opts, int* out_sock) {
  if (!out_sock) return CONNECT_FAILED;
  *out_sock = -1;
  if (cancelled(opts)) return CONNECT_CANCELLED;
  in_addr addr{};
  if (port < 1 || port > 65535 || connection_resolve_ipv4(host, &addr) != 0) return CONNECT_FAILED;
  if (cancelled(opts)) return CONNECT_CANCELLED;

  int sock = socket(AF_INET, SOCK_STREAM, 0);
  if (sock < 0) return CONNECT_FAILED;
  if (make_nonblocking(sock) != 0) return fail_closed(sock, CONNECT_FAILED);

  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  sa.sin_addr = addr;
  if (connect(sock, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    if (errno != EWOULDBLOCK && errno != EAGAIN && errno != EINPROGRESS && errno != EALREADY)
      return fail_closed(sock, CONNECT_FAILED);
    int w = wait_for_connect(sock, opts);
    if (w < 0) return fail_closed(sock, w);
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(sock, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return fail_closed(sock, -1);
    if (err != 0) {
      errno = err;
      return fail_closed(sock, CONNECT_FAILED);
    }
  }
  int one = 1;
  setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  *out_sock = sock;
  return CONNECT_OK;
}

int send_all(int sock, const void* buf, size_t len) {
  if (len == 0) return 0;
  const char* p = static_cast<const char*>(buf);
  int wouldblock_retries = 0;
  while (len > 0) {
    // MSG_NOSIGNAL: a peer that is gone must end the session, not the process.
    ssize_t n = send(sock, p, len, MSG_NOSIGNAL);
    if (n > 0) {
      p += n;
      len -= static_cast<size_t>(n);
      continue;
    }
    if (n == 0) return -1;
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK || errno == EAGAIN) {
      // A peer that stops reading must not hold the single thread for long:
      // the budget is per call and is not reset by partial progress.
      if (wouldblock_retries >= 50) return -1;
      wouldblock_retries++;
      dos_delay(1);
      continue;
    }
    return -1;
  }
  return 0;
}

int connection_recv(int sock, uint8_t* buf, int cap) {
  if (sock < 0 || !buf || cap <= 0) return -1;
  ssize_t n = recv(sock, buf, static_cast<size_t>(cap), 0);
  if (n > 0) return static_cast<int>(n);
  if (n == 0) return -1;
  if (errno == EWOULDBLOCK || errno == EAGAIN || errno == EINTR) return 0;
  return -1;
}

void connection_close(int* sock) {
  if (!sock || *sock < 0) return;
  linger lg{};
  lg.l_onoff = 1;
  lg.l_linger = 0;
  setsockopt(*sock, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
  shutdown(*sock, SHUT_RDWR);
  close(*sock);
  *sock = -1;
}
