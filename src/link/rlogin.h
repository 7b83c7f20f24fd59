// RLogin (RFC 1282) pieces that are pure byte work: the server's answer to
// the handshake and the window-size message.  rlogin.cpp is the link.
#pragma once
#include <cstddef>
#include <cstdint>

enum : int {
  RLOGIN_REPLY_MORE = 0,      // not decided yet: wait for more bytes
  RLOGIN_REPLY_OK = 1,        // in data mode; *used bytes were the answer
  RLOGIN_REPLY_REFUSED = -1,  // the server said no; msg holds its words
};

// The longest refusal read before it counts as said in full.
inline constexpr size_t kRloginMessageMax = 200;

// Reads the server's answer from the first bytes it sent after the
// handshake (all of them so far: len bytes of buf).  A zero byte is the
// answer RFC 1282 gives; a byte 1 starts a refusal, whose text runs to the
// line end (then *used covers it); any other first byte means a server that
// skipped the zero byte and talks already: OK with nothing used.  closed
// says the server has closed the connection, so a refusal without its line
// end is complete.  The refusal's text goes to msg (at most cap - 1 bytes,
// control bytes as spaces).
int rlogin_parse_reply(const uint8_t* buf, size_t len, bool closed, size_t* used, char* msg,
                       size_t cap);

// The window-size message a client sends once the server asked for it (the
// urgent byte 0x80): 0xFF 0xFF 's' 's', then rows, columns, and the pixel
// sizes (0: not known), each 16 bits in network order.
inline constexpr size_t kRloginWindowMessageSize = 12;
void rlogin_window_message(int cols, int rows, uint8_t out[kRloginWindowMessageSize]);

// The urgent control bytes a server sends (BSD's TIOCPKT bits).
inline constexpr uint8_t kRloginUrgentWindow = 0x80;
