// One connection's record, shared by the session loop, the key input and the
// transfer engines.  Everything goes to the BBS through the Telnet layer over
// the session's link (session_send); nothing here touches a socket.
#pragma once
#include <cstddef>
#include <cstdint>

#include "link/link.h"
#include "link/telnet.h"
#include "terminal/terminal.h"
#include "transfer/protocol.h"
#include "transfer/transfer_menus.h"
#include "transfer/xmodem.h"
#include "transfer/xmodem_kavel.h"
#include "transfer/zmodem.h"

// Emulation type codes: 5 is PETSCII, every other value is ANSI.
inline constexpr int kEmulationAnsi = 4;
inline constexpr int kEmulationPetscii = 5;

struct SessionLoop;

struct YmodemHostContext;
struct UploadQueue;

struct Session {
  // The connection to the BBS (no ops: none) and the Telnet layer over it
  // (disabled on links that carry bytes unchanged).  The session keeps the
  // layer's terminal fields (PETSCII, columns) current.
  Link link;
  Telnet telnet;

  Terminal* terminal;  // null: every data byte is dropped
  int* menu_quit;      // the menu's quit request; null on the direct path

  // Requests left by the input handler and served by the loop.
  int request_fullscreen;
  int request_top_bar;
  int request_phonebook;

  int petscii;  // PETSCII interpreter, key encoding and terminal names
  char login_user[80];
  char login_password[160];

  // The captured lines of this connection: the terminal points to it while
  // capture is on; lines is null when there is no storage (no capture).
  ScrollbackRing scrollback;

  // The ZMODEM engine, its start detection included; its hooks reach this
  // Session (session_transfer.cpp).
  ZmodemState zmodem;
  UploadQueue* upload_queue;  // a ZMODEM upload's further files (session_transfer.cpp)
  // The XMODEM engine (its first field is the active flag) and its adapter,
  // which owns the file and reaches this Session (session_xmodem.cpp).
  XmodemState xmodem;
  XmodemHostContext xmodem_host;
  YmodemHostContext* ymodem_host;  // YMODEM's adapter on that engine; null while XMODEM's runs
  // The engine reads the clock for every byte; the bytes of one read arrive
  // together, so its clock is read once per 64 of them and again at every
  // pump (each turn).  Reads left before the clock is read again.
  uint32_t xmodem_clock_ms;
  int32_t xmodem_clock_left;

  // The transfer protocols the session drives (session_transfer.cpp fills
  // the table): in the order the Alt+D / Alt+U choosers list them.  The loop
  // and the key input reach them only through the table.
  static constexpr int kProtocolCap = 8;
  TransferProtocol protocols[kProtocolCap];
  int protocol_count;

  uint32_t discard_until_ms;  // 0 = none: drop data bytes until this time

  // The loop serving this session (null outside it): modal pieces that must
  // keep the connection served run its turns.
  SessionLoop* loop;
  // The file-exists prompt of the protocol that asked (one transfer runs at
  // a time): up while that protocol waits for the answer, in front of the
  // terminal (it takes the window's events through the protocol's event).
  ExistsPrompt exists_prompt;
  // A transfer's box stays up with how it ended (a failure's reason, a
  // summary) until this time (0: none); then the terminal is redrawn.
  uint32_t transfer_box_until_ms;
  int32_t transfer_box_kind;               // which box that is (session_transfer.cpp)
  TransferProtocol transfer_box_protocol;  // whose box, for kHeldBoxProtocol
  uint64_t transfer_box_rx;                // the bytes read when it was last drawn
};

// Zero-fills the record: no link, the Telnet layer over the (empty) link.
void session_init(Session* s);

// Takes an open link for the session: the Telnet layer goes over it,
// enabled as the link's kind speaks Telnet, with the session's terminal
// names and NUL rule.
void session_attach_link(Session* s, const Link* link);

// Sends data bytes to the BBS through Telnet over the link (255 doubled where
// Telnet runs), waiting for a stalled peer at most stall_ms.  0, or -1 when
// there is no link or it failed.
int session_send(Session* s, const uint8_t* bytes, size_t len,
                 uint32_t stall_ms = kTelnetSendStallMs);
int session_send_byte(Session* s, uint8_t byte);

// One read from the link of at most cap bytes: the count, 0 when nothing is
// there now, -1 when the link is gone (or there is none).
int session_read(Session* s, uint8_t* buf, int cap);

// Hard close of the link (nothing when there is none).
void session_close_link(Session* s);

// The protocol whose transfer runs, or null.
inline const TransferProtocol* session_active_protocol(const Session* s) {
  for (int i = 0; i < s->protocol_count; ++i)
    if (transfer_protocol_active(&s->protocols[i])) return &s->protocols[i];
  return nullptr;
}

// Whether a transfer is running (reads grow, NULs pass).
inline bool session_transfer_active(const Session* s) {
  return session_active_protocol(s) != nullptr;
}
