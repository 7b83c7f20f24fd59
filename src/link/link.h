// A link is one connected transport to a BBS: plain TCP, an SSH channel, a
// TLS stream or RLogin.  Everything above it (the Telnet layer, the session
// loop, the transfers, key input) reads and sends through a Link and never
// touches a socket, so a new kind of transport is a new set of LinkOps and
// nothing else.
//
// Every link is non-blocking on its own socket: the program has one thread,
// and after the open nothing may wait on the network except a send that
// waits for room within its stall limit.
//
// Telnet is not a link: it is a layer over one (negotiation, 0xFF doubled),
// spoken on the kinds for which link_kind_speaks_telnet() says so.
#pragma once
#include <cstddef>
#include <cstdint>

enum LinkKind : int {
  LINK_TELNET = 0,   // host, host:port, [v6]:port, telnet://host[:port]
  LINK_SSH = 1,      // ssh://[user@]host[:port]
  LINK_TELNETS = 2,  // telnets://host[:port]: Telnet inside TLS
  LINK_RLOGIN = 3,   // rlogin://[user@]host[:port]
};

// Outcomes of opening a link; the same values as the connect outcomes a
// session that never got connected returns.
enum : int {
  LINK_OK = 0,
  LINK_FAILED = -1,
  LINK_CANCELLED = -2,
  LINK_TIMED_OUT = -3,
};

inline constexpr size_t kLinkHostCap = 254;  // a DNS name is at most 253 characters
inline constexpr size_t kLinkUserCap = 80;
inline constexpr size_t kLinkErrorCap = 256;

// An address as the user wrote it, split.
struct LinkAddress {
  LinkKind kind;
  char host[kLinkHostCap];
  int port;                 // the port the call uses: the address's own, else the kind's default
  char user[kLinkUserCap];  // the user of "ssh://user@host" or "rlogin://user@host"; "" when none
};

// The default port of each kind: 23, 22, 992, 513.
int link_default_port(LinkKind kind);

// "" for Telnet, else a short tag for lists, titles and the status bar:
// "SSH", "TLS", "RLogin".
const char* link_kind_label(LinkKind kind);

// Telnet (negotiation, 0xFF doubled) runs over Telnet and Telnet over TLS;
// SSH and RLogin carry bytes unchanged.
inline bool link_kind_speaks_telnet(LinkKind kind) {
  return kind == LINK_TELNET || kind == LINK_TELNETS;
}

// Splits an address as users write it (see LinkKind for the forms; a
// scheme is matched without regard to case, a trailing "/" or path is
// ignored).  port is used when the text names none and is above 0, else the
// kind's default; for a kind other than Telnet, a port of 23 (the default of
// a phonebook entry and of the command line) also gives the kind's default.  0 on success, -1 for a text that is no address (empty
// host, bad port, unclosed bracket, unknown scheme, a user name where the
// kind takes none).
int link_parse_address(const char* text, int port, LinkAddress* out);

// How a link asks the user while it opens (a new host key, a certificate
// that cannot be verified, a passphrase, a password).  The caller shows its
// own dialogs; a null hook answers no / nothing.
struct LinkPrompts {
  void* ctx;
  // A yes/no question with lines of detail (a fingerprint, a reason).
  // 1 yes, 0 no.
  int (*confirm)(void* ctx, const char* question, const char* details);
  // A secret typed by the user and never shown: at most cap - 1 bytes into
  // out.  1 entered, 0 cancelled.
  int (*secret)(void* ctx, const char* prompt, char* out, size_t cap);
  // Something the user must read before the open fails (a changed host key).
  void (*warn)(void* ctx, const char* text);
};

// Everything an open needs besides the address.
struct LinkOpenOptions {
  // The user's cancel (the dialing display's keys), polled every tick;
  // Ctrl-C through the break flag cancels too.
  int (*poll_cancel)(void* ctx) = nullptr;  // 1 = the user cancelled
  void* cancel_ctx = nullptr;
  // The one time budget of the whole open, in ticks of 20 ms (1500: about
  // 30 seconds), and the tick itself (null: present the display, then wait
  // up to one tick for the socket, so a handshake goes on as soon as the
  // peer answers); tests shorten both.
  int budget_turns = 1500;
  void (*pause)() = nullptr;

  const char* user = nullptr;      // the entry's user name (an address's own wins)
  const char* password = nullptr;  // the entry's password; null or "": ask when needed
  const char* terminal_type = "ANSI";  // what Telnet would name first ("ANSI", "PETSCII")
  int cols = 80;
  int rows = 25;
  LinkPrompts prompts{};

  // SSH: the known-hosts file (null: ~/.ssh/known_hosts), an identity file
  // tried before the usual ones (null: none), and whether an unknown host
  // key is accepted without asking (tools only; a changed key never is).
  const char* known_hosts = nullptr;
  const char* identity = nullptr;
  int accept_new_host_key = 0;
  // TLS: the file of pinned certificates (null: none kept).
  const char* certificate_pins = nullptr;
};

struct Link;

// What each kind of link does.  Every operation gets the Link.
struct LinkOps {
  // One non-blocking read of at most cap bytes: the count (> 0), 0 when
  // nothing is there now, -1 when the peer closed or the link failed.
  int (*read)(Link* l, uint8_t* buf, int cap);
  // Sends all of bytes, waiting for room as long as the peer takes some at
  // least every stall_ms; 0, or -1 when the link failed or stalled.
  int (*send)(Link* l, const uint8_t* bytes, size_t len, uint32_t stall_ms);
  // Non-zero when read would give bytes although the socket is not readable
  // (a TLS record or SSH packet already taken in whole).
  int (*pending)(Link* l);
  // The poll events to wait for on l->fd: POLLIN, with POLLOUT while the
  // link's own protocol waits to write (and POLLPRI on RLogin, whose window
  // request comes as an urgent byte that alone does not make it readable).
  short (*wait_events)(Link* l);
  // The terminal's size changed (SSH window change, RLogin window size).
  // Null: the kind has nothing to say (Telnet answers NAWS itself).
  void (*resize)(Link* l, int cols, int rows);
  // Hard close: nothing more is sent or waited for; frees impl.
  void (*close)(Link* l);
};

struct Link {
  const LinkOps* ops = nullptr;  // null: no link
  LinkKind kind = LINK_TELNET;
  int fd = -1;              // the socket to wait on
  void* impl = nullptr;     // the kind's own state
  char error[kLinkErrorCap] = {};  // why the last open or operation failed
};

inline bool link_is_open(const Link* l) {
  return l && l->ops != nullptr;
}

// The kinds' own opens.  Each takes over fd, a connected non-blocking TCP
// socket to the address (closed when the open fails), and finishes within
// what is left of the budget (*budget_turns counts down).  On LINK_OK the
// Link is filled in; otherwise l->error says what failed and why, in one
// line a user can read ("Host key changed", "Permission denied (tried:
// none, publickey; offered: publickey, password)", ...).
int link_tcp_adopt(Link* l, int fd);
int link_ssh_open(Link* l, int fd, const LinkAddress* a, const LinkOpenOptions* o,
                  int* budget_turns);
int link_tls_open(Link* l, int fd, const LinkAddress* a, const LinkOpenOptions* o,
                  int* budget_turns);
int link_rlogin_open(Link* l, int fd, const LinkAddress* a, const LinkOpenOptions* o,
                     int* budget_turns);

// Closes an open link (nothing when it is not) and leaves it empty; the
// error stays, saying why the link ended.
void link_close(Link* l);
