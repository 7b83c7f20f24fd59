// The Telnet layer over a link: strips the command stream from received
// bytes, answers option requests from a fixed policy (no table of option
// states), answers the terminal-type and window-size requests, and doubles
// 255 in outgoing data.
//
// It knows nothing of the session: what it must say about the terminal (the
// PETSCII or ANSI names, the columns of the window size) are plain fields
// its owner keeps current.  On a link that does not speak Telnet (SSH,
// RLogin) it is disabled: received bytes pass unchanged and 255 goes out
// once.  telnet_send_data is the one way data bytes go to the BBS.
#pragma once
#include <cstddef>
#include <cstdint>

#include "link/link.h"

enum : uint8_t {
  TELNET_SE = 240,
  TELNET_SB = 250,
  TELNET_WILL = 251,
  TELNET_WONT = 252,
  TELNET_DO = 253,
  TELNET_DONT = 254,
  TELNET_IAC = 255,
};
enum : uint8_t {
  TELOPT_BINARY = 0,
  TELOPT_ECHO = 1,
  TELOPT_SGA = 3,
  TELOPT_TTYPE = 24,
  TELOPT_NAWS = 31,
};
enum : uint8_t { TTYPE_IS = 0, TTYPE_SEND = 1 };

inline constexpr int kTelnetSubnegMax = 512;

// How long a send of keys or replies waits for a peer that takes nothing:
// the program has one thread, and a stuck peer must not hold it for long.
inline constexpr uint32_t kTelnetSendStallMs = 1000;

struct Telnet {
  Link* link = nullptr;  // where replies and data go; null: nothing is sent
  int enabled = 1;       // negotiation and 255 doubling (Telnet, Telnet over TLS)

  // What the terminal-type and window-size answers say.
  int petscii = 0;  // the PETSCII names instead of the ANSI ones
  int cols = 80;    // columns of the window size

  // A NUL in the data is padding (CR NUL) unless this says the receiver
  // counts it (a running transfer, a font upload); null: always padding.
  int (*nul_is_data)(void* ctx) = nullptr;
  void* nul_ctx = nullptr;

  // Receive state.
  int state = 0;  // 0 data, 1 IAC, 2 option byte, 3 subnegotiation, 4 IAC in it
  int cmd = 0;    // WILL/WONT/DO/DONT that led to state 2
  uint8_t sb_option = 0;
  uint8_t sb_data[kTelnetSubnegMax] = {};
  int sb_len = 0;         // 0 before the option byte, then 1 + data bytes stored
  int ttype_counter = 0;  // terminal-type answers sent on this link
};

// A fresh layer on a link, enabled as the link's kind speaks Telnet.
void telnet_init(Telnet* t, Link* link);

// Where data bytes go.
using TelnetSink = void (*)(void* ctx, uint8_t byte);

// Consumes one received byte; hands data bytes to sink (at most one call)
// and sends replies on the link, ignoring their send results (a dead link
// shows at the next read or key).
void telnet_consume(Telnet* t, uint8_t byte, TelnetSink sink, void* ctx);

// WILL SGA, DO SGA, WILL BINARY, DO BINARY: four sends right after
// connecting (nothing when disabled).
void telnet_send_opening_offers(Telnet* t);

// The terminal-type name the next answer would carry ("ANSI", "ANSI-BBS",
// "VT100", or the PETSCII list), without advancing the counter.
const char* telnet_terminal_type_name(const Telnet* t);

// Sends data bytes, 255 doubled when enabled, in one write per 4096 bytes
// of input, waiting for room as long as the peer takes some at least every
// stall_ms.  0 (also for nothing to send), -1 when the link failed.
int telnet_send_data(Telnet* t, const uint8_t* bytes, size_t len,
                     uint32_t stall_ms = kTelnetSendStallMs);
// Bytes already in the link's form (255 doubled by the caller where Telnet
// runs): a paste is doubled once and then sent in pieces that must not
// split a pair.
int telnet_send_prepared(Telnet* t, const uint8_t* bytes, size_t len,
                         uint32_t stall_ms = kTelnetSendStallMs);
// One data byte: 255 goes out as 255 255 in one send.
int telnet_send_byte(Telnet* t, uint8_t byte);
