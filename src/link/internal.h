// What the kinds of link share: the wait of an open (cancel, budget, the
// tick), the one-line error, sending on a socket with a stall limit, and the
// hard close.  Only src/link includes this.
#pragma once
#include <cstddef>
#include <cstdint>

#include "link/link.h"

// One turn of an open that waits for the network: the user's cancel is
// polled, then the turn waits for events on fd for at most one tick (through
// o->pause when a test gives one) and counts the budget down.  LINK_OK to go
// on, LINK_CANCELLED or LINK_TIMED_OUT.  Waiting on the socket rather than
// sleeping a whole tick lets a handshake of several round trips finish as
// fast as the peer answers.
int link_open_turn(const LinkOpenOptions* o, int fd, short events, int* budget_turns);

// The user's cancel alone (the options' poll, or Ctrl-C).
bool link_open_cancelled(const LinkOpenOptions* o);

void link_set_error(Link* l, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// Sends all of bytes on a non-blocking socket, waiting for room as long as
// the peer takes some at least every stall_ms.  0, or -1 with l->error set.
int link_fd_send_all(Link* l, int fd, const uint8_t* bytes, size_t len, uint32_t stall_ms);

// Milliseconds on the monotonic clock (wrapping; compare by subtraction).
uint32_t link_now_ms();

// Waits at most ms for events on fd: >0 ready, 0 not within ms, -1 error.
int link_fd_wait(int fd, short events, int ms);

// Hard close of a socket: linger on with time 0 (closing does not wait for
// unsent data), shutdown both ways, close.  Sets *fd to -1.
void link_fd_close(int* fd);
// The first two steps only, for a library that closes the descriptor itself.
void link_fd_abort(int fd);

// "host:port", or "[v6]:port", as messages show an address.
void link_show_address(char* out, size_t cap, const char* host, int port);
