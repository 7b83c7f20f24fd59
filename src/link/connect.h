// Opening a link: name resolution, the non-blocking TCP connect and the
// kind's own open over it (link_open); the socket helpers of plain TCP.
//
// Names resolve to IPv6 and IPv4 addresses alike; every socket is
// non-blocking: the program has one thread, and after the connect nothing
// may wait on the network.
#pragma once
#include <netinet/in.h>

#include <cstddef>
#include <cstdint>

#include "link/link.h"
#include "util/address.h"

// Outcomes of the connect step, also the results of a session that never got
// connected.
enum : int {
  CONNECT_OK = 0,
  CONNECT_FAILED = -1,
  CONNECT_CANCELLED = -2,
  CONNECT_TIMED_OUT = -3,
};

// 1500 turns of one poll plus one tick: about 30 seconds.
inline constexpr int kConnectBudgetTurns = 1500;

// A host name longer than this cannot be a DNS name; it is refused without
// asking the resolver.
inline constexpr size_t kMaxHostNameLength = kAddressMaxHostLength;

// What the connect step needs besides the host and port: the open's options
// (link/link.h).  The cancel poll is the menu's dialing display (absent on
// the direct path); the pause and the budget are there so that tests can run
// the time-out without waiting 30 s.  While the TCP connect waits, a null
// pause is dos_delay(1).
using ConnectOptions = LinkOpenOptions;
static_assert(kConnectBudgetTurns == LinkOpenOptions{}.budget_turns);

// Resolves a dotted IPv4 address or a host name (IPv4 entries only) into a
// network-order address; 0 on success, -1 on failure.
int connection_resolve_ipv4(const char* host, in_addr* out);

// Splits an address as users write it (util/address.h, address_split).
int connection_parse_address(const char* text, char* host, size_t cap, int* port);

// The whole connect step: split the address (a port in it wins over port),
// resolve it (getaddrinfo: IPv6 and IPv4), then try each address in turn,
// non-blocking, all within the one budget.  The user's cancel (the options'
// poll, or Ctrl-C through the break flag) ends it at once.  On CONNECT_OK
// *out_sock holds the connected descriptor with TCP_NODELAY on; otherwise
// *out_sock is -1, no descriptor is left open and connection_error() says
// what failed and why.
int connection_open(const char* address, int port, const ConnectOptions* opts, int* out_sock);

// Opens the link the address names (link_parse_address: Telnet, SSH, Telnet
// over TLS, RLogin): the TCP connect of connection_open, then the kind's own
// open within what is left of the one budget.  A plain address takes exactly
// connection_open's road, so its failures read the same.  On LINK_OK *out is
// open; otherwise it is empty and connection_error() / connection_reason()
// say why (for SSH, TLS and RLogin the kind's own line).
int link_open(const char* address, int port, const LinkOpenOptions* opts, Link* out);

// One line saying why the last connection_open did not connect ("" after a
// success), e.g. "cannot connect to example.org:23: Connection refused".
const char* connection_error();
// The same reason in a few words for a line of its own under "Unable to
// connect" ("Connection refused", "Name not found", "No answer within 30
// seconds"); "" after a success or a cancel.
const char* connection_reason();

// Sends every byte of buf; 0 when all went out, -1 on failure.  EINTR retries
// at once; EWOULDBLOCK pauses one tick and retries, at most 50 times per call.
int send_all(int sock, const void* buf, size_t len);

// Size of one read while no transfer runs, and while one does.
inline constexpr int kRecvChunk = 512;
inline constexpr int kRecvChunkTransfer = 8192;

// One non-blocking read of at most cap bytes.  Returns the byte count (> 0),
// 0 when nothing is there now, or -1 when the peer closed or the socket
// failed (both end the session the same way).
int connection_recv(int sock, uint8_t* buf, int cap);

// Hard close: linger on with time 0 (closing does not wait for unsent data),
// shutdown both ways, close.  Sets *sock to -1; does nothing when it is < 0.
void connection_close(int* sock);
