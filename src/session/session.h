// One connection's record, shared by the session loop, the key input and the
// transfer engines.  Everything goes to the BBS through the Telnet layer over
// the session's link (session_send); nothing here touches a socket.
#pragma once
#include <cstddef>
#include <cstdint>

#include "link/link.h"
#include "link/telnet.h"
#include "terminal/terminal.h"
#include "transfer/host.h"
#include "transfer/protocol.h"
#include "transfer/transfer_menus.h"
#include "transfer/xmodem_protocol.h"
#include "transfer/zmodem_protocol.h"

// Emulation type codes: 5 is PETSCII, every other value is ANSI.
inline constexpr int kEmulationAnsi = 4;
inline constexpr int kEmulationPetscii = 5;

struct SessionLoop;

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

  // The transfer protocols' own records (src/transfer), which reach this
  // session only through the host record the session fills for them.
  TransferHost transfer_host;
  ZmodemProtocol zm;  // the ZMODEM engine, its start detection included
  XmodemProtocolState xm;  // the XMODEM engine, for XMODEM and YMODEM

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
  // summary), or a note, until this time (0: none); then the terminal is
  // redrawn (session_transfer_poll).
  uint32_t transfer_box_until_ms;
  TransferProtocol transfer_box_protocol;  // whose box; no ops: the note
  char transfer_box_note[224];             // the note's text
  uint64_t transfer_box_rx;                // the bytes read when it was last drawn
  uint64_t bytes_received;                 // everything read from the link
};

// Zero-fills the record: no link, the Telnet layer over the (empty) link,
// the transfer protocols ready (session_transfer_init).  Defined in
// session_init.cpp, which ties the parts together.
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

// Sends bytes of a transfer in one piece with every 0xFF doubled (Telnet
// IAC).  A peer that is slow to take them is waited for (the thread does
// nothing else meanwhile) up to kTransferSendStallMs; 0, or -1 when the
// connection failed or stalled that long.
int session_transfer_send(Session* s, const uint8_t* bytes, size_t len);

// How long a transfer's box (or a note) stays up once it has something to
// say (a failure's reason, what was saved or sent, what to do next).
inline constexpr uint32_t kTransferBoxShownMs = 3000;
// Keeps the box of protocol p up for kTransferBoxShownMs, or with a null p
// the note already drawn with this text: the terminal is redrawn when the
// time is over (session_transfer_poll), or at once when a new transfer
// starts.  Text arriving meanwhile is drawn, and the box over it again.
void session_hold_box(Session* s, const TransferProtocol* p, const char* note = nullptr);

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
