// The Telnet layer: strips the command stream from received bytes, answers
// option requests from a fixed policy (no table of option states), answers the
// terminal-type and window-size requests, and doubles 255 in outgoing data.
#pragma once
#include <cstddef>
#include <cstdint>

struct Session;

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

// Where data bytes go; the session passes session_data_byte.
using TelnetDataSink = void (*)(Session* s, uint8_t byte);

// Consumes one received byte; hands data bytes to sink (at most one call) and
// sends replies on s->sock, ignoring their send results.
void telnet_consume_byte_to(Session* s, uint8_t byte, TelnetDataSink sink);

// The session's entry point: telnet_consume_byte_to with session_data_byte.
void telnet_consume_byte(Session* s, uint8_t byte);

// WILL SGA, DO SGA, WILL BINARY, DO BINARY: four sends right after connecting.
void telnet_send_opening_offers(int sock);

// The terminal-type name the next answer would carry ("ANSI", "ANSI-BBS",
// "VT100", or the PETSCII list), without advancing the counter.
const char* telnet_terminal_type_name(const Session* s);

// Columns reported in the window size: 80 in ANSI mode, the visible C64
// column count in PETSCII mode.
int telnet_window_columns(const Session* s);

// Sends one data byte; 255 goes out as 255 255 in one send.  0 or -1.
int send_key_byte(int sock, uint8_t byte);
// Sends a data string with 255 doubled, in one write per 4096 bytes of
// input.  0 for a null pointer or a length below 1, -1 when a write failed.
int send_key_string(int sock, const uint8_t* bytes, int len);
