// RLogin: the RFC 1282 handshake with the log-in convention of BBS servers
// (the server user is the BBS user name, the client user its password), and
// the window size the server asks for with an urgent byte.
//
// Urgent bytes are read out of band (MSG_OOB, SO_OOBINLINE off): inline they
// could not be told apart from the data around them.  A lone urgent byte
// does not make the socket readable, so the link waits for POLLPRI too.
#include "link/rlogin.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "link/internal.h"

int rlogin_parse_reply(const uint8_t* buf, size_t len, bool closed, size_t* used, char* msg,
                       size_t cap) {
  if (used) *used = 0;
  if (msg && cap > 0) msg[0] = '\0';
  if (len == 0) return closed ? RLOGIN_REPLY_REFUSED : RLOGIN_REPLY_MORE;
  if (buf[0] == 0) {
    if (used) *used = 1;
    return RLOGIN_REPLY_OK;
  }
  if (buf[0] != 1) return RLOGIN_REPLY_OK;
  const uint8_t* nl = static_cast<const uint8_t*>(memchr(buf + 1, '\n', len - 1));
  size_t text_len = nl ? static_cast<size_t>(nl - buf - 1) : len - 1;
  if (!nl && !closed && text_len < kRloginMessageMax) return RLOGIN_REPLY_MORE;
  if (text_len > kRloginMessageMax) text_len = kRloginMessageMax;
  if (used) *used = nl ? static_cast<size_t>(nl - buf) + 1 : 1 + text_len;
  if (msg && cap > 0) {
    size_t n = 0;
    for (size_t i = 0; i < text_len && n + 1 < cap; i++) {
      uint8_t c = buf[1 + i];
      msg[n++] = c < 0x20 || c == 0x7f ? ' ' : static_cast<char>(c);
    }
    while (n > 0 && msg[n - 1] == ' ') n--;
    msg[n] = '\0';
  }
  return RLOGIN_REPLY_REFUSED;
}

void rlogin_window_message(int cols, int rows, uint8_t out[kRloginWindowMessageSize]) {
  auto clamp = [](int v) { return v < 0 ? 0 : v > 65535 ? 65535 : v; };
  int r = clamp(rows), c = clamp(cols);
  const uint8_t msg[kRloginWindowMessageSize] = {0xFF,
                                                 0xFF,
                                                 's',
                                                 's',
                                                 static_cast<uint8_t>(r >> 8),
                                                 static_cast<uint8_t>(r & 0xFF),
                                                 static_cast<uint8_t>(c >> 8),
                                                 static_cast<uint8_t>(c & 0xFF),
                                                 0,
                                                 0,
                                                 0,
                                                 0};
  memcpy(out, msg, sizeof msg);
}

namespace {

struct RloginImpl {
  int cols = 80;
  int rows = 25;
  bool window_asked = false;  // sizes go out only once the server asked
  // Data that came with the handshake's answer, handed out first.
  uint8_t early[512];
  size_t early_len = 0;
};

RloginImpl* impl_of(Link* l) {
  return static_cast<RloginImpl*>(l->impl);
}

int send_window(Link* l, RloginImpl* r) {
  uint8_t msg[kRloginWindowMessageSize];
  rlogin_window_message(r->cols, r->rows, msg);
  return link_fd_send_all(l, l->fd, msg, sizeof msg, 2000);
}

// Takes a pending urgent byte and acts on it.  Only the window request
// matters to a terminal; the flow-control and flush bits are for a local
// tty and are dropped.
void take_urgent(Link* l, RloginImpl* r) {
  uint8_t b = 0;
  if (recv(l->fd, &b, 1, MSG_OOB | MSG_DONTWAIT) != 1) return;
  if (b & kRloginUrgentWindow) {
    r->window_asked = true;
    send_window(l, r);
  }
}

int rlogin_read(Link* l, uint8_t* buf, int cap) {
  RloginImpl* r = impl_of(l);
  take_urgent(l, r);
  if (cap <= 0) return 0;
  if (r->early_len > 0) {
    size_t n = r->early_len < static_cast<size_t>(cap) ? r->early_len : static_cast<size_t>(cap);
    memcpy(buf, r->early, n);
    memmove(r->early, r->early + n, r->early_len - n);
    r->early_len -= n;
    return static_cast<int>(n);
  }
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

int rlogin_send(Link* l, const uint8_t* bytes, size_t len, uint32_t stall_ms) {
  return link_fd_send_all(l, l->fd, bytes, len, stall_ms);
}

int rlogin_pending(Link* l) {
  return impl_of(l)->early_len > 0 ? 1 : 0;
}

short rlogin_wait_events(Link*) {
  return POLLIN | POLLPRI;
}

void rlogin_resize(Link* l, int cols, int rows) {
  RloginImpl* r = impl_of(l);
  r->cols = cols;
  r->rows = rows;
  if (r->window_asked) send_window(l, r);
}

void rlogin_close(Link* l) {
  delete impl_of(l);
  l->impl = nullptr;
  link_fd_close(&l->fd);
}

constexpr LinkOps kRloginOps = {rlogin_read,        rlogin_send,   rlogin_pending,
                                rlogin_wait_events, rlogin_resize, rlogin_close};

// The terminal part of the handshake: the Telnet name in lower case and the
// speed, "ansi/115200".
std::string terminal_field(const char* type) {
  std::string t;
  for (const char* p = type && *type ? type : "ANSI"; *p; ++p) {
    char c = *p;
    t.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
  }
  return t + "/115200";
}

int fail(int* fd, int code) {
  link_fd_close(fd);
  return code;
}

}  // namespace

int link_rlogin_open(Link* l, int fd, const LinkAddress* a, const LinkOpenOptions* o,
                     int* budget_turns) {
  if (!l || fd < 0 || !a || !budget_turns) {
    link_fd_close(&fd);
    return LINK_FAILED;
  }
  *l = Link{};
  LinkOpenOptions defaults;
  if (!o) o = &defaults;
  char shown[kLinkHostCap + 16];
  link_show_address(shown, sizeof shown, a->host, a->port);

  // NUL, client user (the password), NUL, server user, NUL, terminal/speed,
  // NUL.  A NUL inside either name would end it early, so both are cut there
  // by being C strings already.
  const char* server_user = a->user[0] ? a->user : o->user ? o->user : "";
  const char* password = o->password ? o->password : "";
  std::string term = terminal_field(o->terminal_type);
  size_t pw_len = strlen(password), user_len = strlen(server_user);
  if (pw_len > 255 || user_len > 255) {
    link_set_error(l, "RLogin user name or password too long for %s", shown);
    return fail(&fd, LINK_FAILED);
  }
  uint8_t hello[3 * 256 + 64];
  size_t n = 0;
  hello[n++] = 0;
  memcpy(hello + n, password, pw_len);
  n += pw_len;
  hello[n++] = 0;
  memcpy(hello + n, server_user, user_len);
  n += user_len;
  hello[n++] = 0;
  memcpy(hello + n, term.data(), term.size());
  n += term.size();
  hello[n++] = 0;
  int sent = link_fd_send_all(l, fd, hello, n, 5000);
  explicit_bzero(hello, sizeof hello);
  if (sent != 0) return fail(&fd, LINK_FAILED);

  auto* r = new RloginImpl;
  r->cols = o->cols;
  r->rows = o->rows;
  uint8_t reply[kRloginMessageMax + 64];
  size_t got = 0;
  for (;;) {
    bool closed = false;
    ssize_t k = recv(fd, reply + got, sizeof reply - got, 0);
    if (k > 0) {
      got += static_cast<size_t>(k);
    } else if (k == 0) {
      closed = true;
    } else if (errno != EWOULDBLOCK && errno != EAGAIN && errno != EINTR) {
      link_set_error(l, "RLogin to %s failed: %s", shown, strerror(errno));
      delete r;
      return fail(&fd, LINK_FAILED);
    }
    size_t used = 0;
    char msg[kRloginMessageMax + 1];
    int verdict = rlogin_parse_reply(reply, got, closed, &used, msg, sizeof msg);
    if (verdict == RLOGIN_REPLY_OK) {
      r->early_len = got - used;
      memcpy(r->early, reply + used, r->early_len);
      break;
    }
    if (verdict == RLOGIN_REPLY_REFUSED) {
      link_set_error(l, "RLogin refused by %s: %s", shown,
                     msg[0] ? msg : "closed without an answer");
      delete r;
      return fail(&fd, LINK_FAILED);
    }
    int t = link_open_turn(o, fd, POLLIN, budget_turns);
    if (t != LINK_OK) {
      link_set_error(
          l, t == LINK_CANCELLED ? "RLogin to %s cancelled" : "no RLogin answer from %s in time",
          shown);
      delete r;
      return fail(&fd, t);
    }
  }
  l->ops = &kRloginOps;
  l->kind = LINK_RLOGIN;
  l->fd = fd;
  l->impl = r;
  // The window request often follows the answer at once.
  take_urgent(l, r);
  return LINK_OK;
}
