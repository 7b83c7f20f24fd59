#include "link/connect.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <locale.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

#include "link/internal.h"
#include "platform/dos.h"
#include "util/charset.h"

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

namespace {

char g_error[320];
char g_reason[96];

void set_error(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void set_error(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(g_error, sizeof g_error, fmt, ap);
  va_end(ap);
}

void set_reason(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void set_reason(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(g_reason, sizeof g_reason, fmt, ap);
  va_end(ap);
}

// Whether text holds a byte beyond ASCII, and whether it is well-formed
// UTF-8 throughout.
bool has_non_ascii(const char* text) {
  for (const char* p = text; *p; p++)
    if (static_cast<unsigned char>(*p) >= 0x80) return true;
  return false;
}

bool valid_utf8(const char* text) {
  size_t len = strlen(text);
  for (size_t i = 0; i < len;) {
    size_t used = 1;
    char32_t cp = utf8_decode(text + i, len - i, &used);
    if (cp == UNICODE_REPLACEMENT && used == 1) return false;
    i += used;
  }
  return true;
}

// getaddrinfo with a host name of international letters: AI_IDN turns it
// into its ASCII (Punycode) form, reading it in the character set of the
// thread's locale, which is made UTF-8 for the call (the phonebook and the
// command line give UTF-8 whatever the program's locale is).
int resolve(const char* host, const char* service, addrinfo* hints, addrinfo** list) {
  if (!has_non_ascii(host)) return getaddrinfo(host, service, hints, list);
  hints->ai_flags |= AI_IDN;
  locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  locale_t before = utf8 ? uselocale(utf8) : static_cast<locale_t>(nullptr);
  int gai = getaddrinfo(host, service, hints, list);
  if (utf8) {
    uselocale(before);
    freelocale(utf8);
  }
  return gai;
}

int make_nonblocking(int sock) {
  int on = 1;
  if (ioctl(sock, FIONBIO, &on) == 0) return 0;
  int flags = fcntl(sock, F_GETFL);
  if (flags < 0) return -1;
  return fcntl(sock, F_SETFL, flags | O_NONBLOCK) == 0 ? 0 : -1;
}

// The user's cancel: the dialing display's poll, or Ctrl-C in the console.
bool cancelled(const ConnectOptions* opts) {
  if (dos_check_break()) return true;
  return opts && opts->poll_cancel && opts->poll_cancel(opts->cancel_ctx) != 0;
}

void pause_one_tick(const ConnectOptions* opts) {
  if (opts && opts->pause) {
    opts->pause();
  } else {
    dos_delay(1);
  }
}

int fail_closed(int sock, int code) {
  int saved = errno;
  close(sock);
  errno = saved;
  return code;
}

// Waits for the connect in progress: 1 when it finished (SO_ERROR says how),
// or a negative outcome.  *budget is shared by every address tried.
// Writability is tested with poll rather than a fixed-size descriptor set,
// so a descriptor number of any size is safe.
int wait_for_connect(int sock, const ConnectOptions* opts, int* budget) {
  for (;;) {
    if (cancelled(opts)) return CONNECT_CANCELLED;
    pollfd pfd{};
    pfd.fd = sock;
    pfd.events = POLLOUT;
    int r = poll(&pfd, 1, 0);
    if (r > 0 && (pfd.revents & (POLLOUT | POLLERR | POLLHUP))) return 1;
    if (r < 0 && errno != EINTR) return CONNECT_FAILED;
    pause_one_tick(opts);
    if (--*budget <= 0) return CONNECT_TIMED_OUT;
  }
}

// One address: CONNECT_OK with *out set, or an outcome with errno saying why
// a failure failed.
int connect_one(const addrinfo* ai, const ConnectOptions* opts, int* budget, int* out) {
  int sock = socket(ai->ai_family, SOCK_STREAM, 0);
  if (sock < 0) return CONNECT_FAILED;
  if (make_nonblocking(sock) != 0) return fail_closed(sock, CONNECT_FAILED);
  if (connect(sock, ai->ai_addr, ai->ai_addrlen) != 0) {
    if (errno != EWOULDBLOCK && errno != EAGAIN && errno != EINPROGRESS && errno != EALREADY)
      return fail_closed(sock, CONNECT_FAILED);
    int w = wait_for_connect(sock, opts, budget);
    if (w < 0) return fail_closed(sock, w);
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(sock, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
      return fail_closed(sock, CONNECT_FAILED);
    if (err != 0) {
      errno = err;
      return fail_closed(sock, CONNECT_FAILED);
    }
  }
  *out = sock;
  return CONNECT_OK;
}

// "host", "[v6]" or "v6" as the user wrote it for messages.
void show_host(char* out, size_t cap, const char* host, int port) {
  if (strchr(host, ':'))
    snprintf(out, cap, "[%s]:%d", host, port);
  else
    snprintf(out, cap, "%s:%d", host, port);
}

}  // namespace

const char* connection_error() {
  return g_error;
}

const char* connection_reason() {
  return g_reason;
}

int connection_parse_address(const char* text, char* host, size_t cap, int* port) {
  return address_split(text, host, cap, port);
}

namespace {

// connection_open, leaving in *budget_left what the connect did not use of
// the budget.
int connect_tcp(const char* address, int port, const ConnectOptions* opts, int* out_sock,
                int* budget_left) {
  *budget_left = 0;
  if (!out_sock) return CONNECT_FAILED;
  *out_sock = -1;
  g_error[0] = '\0';
  g_reason[0] = '\0';
  if (cancelled(opts)) {
    set_error("connection cancelled");
    return CONNECT_CANCELLED;
  }
  char host[kMaxHostNameLength + 1];
  if (connection_parse_address(address, host, sizeof host, &port) != 0) {
    set_error("not a host address: \"%.200s\"", address ? address : "");
    set_reason("Not a host address");
    return CONNECT_FAILED;
  }
  char shown[kMaxHostNameLength + 16];
  if (port < 1 || port > 65535) {
    set_error("port %d is outside 1 to 65535", port);
    set_reason("Port %d is outside 1 to 65535", port);
    return CONNECT_FAILED;
  }
  show_host(shown, sizeof shown, host, port);
  // A name with bytes that are no UTF-8 (typed in another character set)
  // names nothing: it is refused before the resolver sees it.
  if (!valid_utf8(host)) {
    set_error("not a valid host name: \"%s\" (its letters are not UTF-8)", host);
    set_reason("Not a valid host name");
    return CONNECT_FAILED;
  }

  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  char service[8];
  snprintf(service, sizeof service, "%d", port);
  addrinfo* list = nullptr;
  int gai = resolve(host, service, &hints, &list);
  if (gai == EAI_IDN_ENCODE) {
    set_error("cannot find host %s: not a valid international domain name", host);
    set_reason("Not a valid host name");
    return CONNECT_FAILED;
  }
  if (gai != 0) {
    const char* why = gai == EAI_SYSTEM ? strerror(errno) : gai_strerror(gai);
    set_error("cannot find host %s: %s", host, why);
    if (gai == EAI_NONAME || gai == EAI_NODATA || gai == EAI_ADDRFAMILY) {
      set_reason("Name not found");
    } else {
      set_reason("%s", why);
    }
    return CONNECT_FAILED;
  }
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> hold(list, freeaddrinfo);
  if (cancelled(opts)) {
    set_error("connection cancelled");
    return CONNECT_CANCELLED;
  }

  // Each address in turn (IPv6 and IPv4 as the resolver orders them), all
  // within the one time budget.
  int budget = opts ? opts->budget_turns : kConnectBudgetTurns;
  int last_errno = 0;
  for (const addrinfo* ai = list; ai; ai = ai->ai_next) {
    if (ai->ai_family != AF_INET && ai->ai_family != AF_INET6) continue;
    int sock = -1;
    int r = connect_one(ai, opts, &budget, &sock);
    if (r == CONNECT_OK) {
      int one = 1;
      setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      *out_sock = sock;
      *budget_left = budget;
      return CONNECT_OK;
    }
    if (r == CONNECT_CANCELLED) {
      set_error("connection to %s cancelled", shown);
      return r;
    }
    if (r == CONNECT_TIMED_OUT) {
      int seconds = (opts ? opts->budget_turns : kConnectBudgetTurns) / 50;
      set_error("no answer from %s within %d seconds", shown, seconds);
      set_reason("No answer within %d seconds", seconds);
      return r;
    }
    last_errno = errno;
  }
  set_error("cannot connect to %s: %s", shown,
            last_errno ? strerror(last_errno) : "no usable address");
  set_reason("%s", last_errno ? strerror(last_errno) : "No usable address");
  return CONNECT_FAILED;
}

}  // namespace

int connection_open(const char* address, int port, const ConnectOptions* opts, int* out_sock) {
  int budget = 0;
  return connect_tcp(address, port, opts, out_sock, &budget);
}

int link_open(const char* address, int port, const LinkOpenOptions* opts, Link* out) {
  if (!out) return LINK_FAILED;
  *out = Link{};
  LinkAddress a;
  bool parsed = address && link_parse_address(address, port, &a) == 0;
  int fd = -1;
  int budget = 0;
  if (!parsed || a.kind == LINK_TELNET) {
    // Plain Telnet (and a text that is no address, which the connect
    // refuses with its own words).
    int r = connect_tcp(address, port, opts, &fd, &budget);
    if (r != CONNECT_OK) return r;
    return link_tcp_adopt(out, fd);
  }
  // The other kinds connect to the host and port the address names.
  char tcp_address[kLinkHostCap + 16];
  link_show_address(tcp_address, sizeof tcp_address, a.host, a.port);
  int r = connect_tcp(tcp_address, a.port, opts, &fd, &budget);
  if (r != CONNECT_OK) return r;
  switch (a.kind) {
    case LINK_SSH:
      r = link_ssh_open(out, fd, &a, opts, &budget);
      break;
    case LINK_TELNETS:
      r = link_tls_open(out, fd, &a, opts, &budget);
      break;
    case LINK_RLOGIN:
      r = link_rlogin_open(out, fd, &a, opts, &budget);
      break;
    default:
      link_fd_close(&fd);
      link_set_error(out, "%s is not supported", link_kind_label(a.kind));
      r = LINK_FAILED;
      break;
  }
  if (r == LINK_OK) return LINK_OK;
  char shown[kLinkHostCap + 16];
  link_show_address(shown, sizeof shown, a.host, a.port);
  if (r == LINK_CANCELLED) {
    set_error("connection to %s cancelled", shown);
  } else {
    set_error("cannot connect to %s: %s", shown, out->error);
    set_reason("%s", out->error);
  }
  return r;
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
