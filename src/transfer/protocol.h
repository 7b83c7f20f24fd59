// The transfer seam: how a file-transfer protocol plugs into a session.
//
// A protocol is a table of operations and a context.  The session keeps a
// small table of them (in the order the Alt+D / Alt+U choosers list their
// rows) and drives whichever one runs without knowing its kind:
//
//  * start: the user chose one of the protocol's chooser rows; the protocol
//    asks for what it needs (a name, the files) and starts, or does not;
//  * consume: data bytes (after Telnet) while it is active; it returns how
//    many it took, and stops where its transfer ends (the rest is the
//    session's again: the quiet time, detection, the terminal);
//  * poll: time passing, once or more per loop turn;
//  * cancel: the user's Escape; end: the session closes;
//  * draw_status / draw_box: the running box after anything repainted the
//    terminal, and the box as it ended while it is held up to be read;
//  * active / streaming: whether bytes belong to it, and whether the loop
//    must not pause between turns (an upload sending slice after slice);
//  * in_front / event (optional): while a question of the protocol's own
//    is up over the terminal (the file-exists prompt) it is in front: it
//    takes every window event before the key input sees one, and the
//    terminal's cursor blink and music wait.  It asks and waits without a
//    loop of its own: the session's loop keeps serving the connection, its
//    consume drops what arrives meanwhile, its poll runs the question's
//    time-out and its draw_status draws the question;
//  * detect / flush_detect (optional): a protocol that starts by itself
//    when the other side begins (ZMODEM's "**" CAN B) looks at each byte
//    that would go to the terminal.  Bytes it held and then gave up on are
//    released to the caller's emit (the session hands them to the terminal
//    itself), never through a hook of the engine.
#pragma once
#include <cstddef>
#include <cstdint>

struct PlatEvent;

// What detect did with a byte.
enum TransferDetect : int {
  TRANSFER_PASS = 0,   // not the protocol's: the caller passes it on
  TRANSFER_HELD = 1,   // kept as a possible start (released later if not)
  TRANSFER_TAKEN = 2,  // the protocol started (or the byte completed its start)
};

enum TransferDirection : int {
  kTransferDownload = 0,
  kTransferUpload = 1,
};

// Where released bytes go: the caller's sink.
using TransferEmit = void (*)(void* to, uint8_t byte);

struct TransferProtocolOps {
  const char* name;         // "ZMODEM", "XMODEM", ...
  const char* const* rows;  // the chooser's rows of this protocol ("Y-Modem", "Y-Modem-G")
  int row_count;
  // While it runs the keyboard is not the BBS's: keys are dropped and only
  // Escape acts (cancel).  Otherwise keys are typed at the BBS as usual.
  int holds_keys;

  // Row row (0 .. row_count - 1) of the chooser titled for direction was
  // taken.  0 started, or nothing to do; -1 a failure that ends the session
  // (the engine would not start, a send failed).
  int (*start)(void* ctx, int direction, int row);
  size_t (*consume)(void* ctx, const uint8_t* bytes, size_t len);
  // Non-zero when a send failed: the connection is gone.
  int (*poll)(void* ctx, uint32_t now_ms);
  void (*cancel)(void* ctx);
  void (*end)(void* ctx, int closed_by_peer);
  void (*draw_status)(void* ctx);
  void (*draw_box)(void* ctx);
  int (*active)(const void* ctx);
  int (*streaming)(const void* ctx);
  // Both null for a protocol that never asks anything while it runs.
  int (*in_front)(const void* ctx);
  void (*event)(void* ctx, const PlatEvent& ev);
  // Null for a protocol that only starts from the chooser.
  TransferDetect (*detect)(void* ctx, uint8_t byte, TransferEmit emit, void* to);
  // Held bytes to emit: with force 0 only those held too long.
  void (*flush_detect)(void* ctx, int force, TransferEmit emit, void* to);
};

struct TransferProtocol {
  const TransferProtocolOps* ops;  // null: an empty row
  void* ctx;
};

inline bool transfer_protocol_active(const TransferProtocol* p) {
  return p && p->ops && p->ops->active(p->ctx) != 0;
}

inline bool transfer_protocol_in_front(const TransferProtocol* p) {
  return transfer_protocol_active(p) && p->ops->in_front && p->ops->in_front(p->ctx) != 0;
}
