// The transfer host: what a file-transfer protocol needs of the session
// that runs it, in one record the session fills (session_init).  The
// protocols (zmodem_protocol, xmodem_protocol) reach the session only
// through it, never through the session's own record, so they sit below
// the session: sending through Telnet over the link, the clock, the
// terminal to draw on, the transfer directories, the file-exists question,
// the upload picker, and the session's part in how a transfer ends (the
// quiet time, the box kept up a moment).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "transfer/protocol.h"

struct Terminal;
struct ExistsPrompt;

struct TransferHost {
  void* ctx;  // the session; every function gets it

  // Data bytes to the other side in one piece (255 doubled where Telnet
  // runs), waiting for a stalled peer at most stall_ms (0: as long as a
  // typed key would be waited for): 0, or -1 when there is no connection or
  // it failed.
  int (*send)(void* ctx, const uint8_t* bytes, size_t len, uint32_t stall_ms);
  uint32_t (*now_ms)(void* ctx);  // a steady clock, compared by subtraction
  // The terminal to draw on; null: nothing is drawn and nobody is asked.
  Terminal* (*terminal)(void* ctx);

  // The transfer directories as the preferences hold them, read at the
  // moment of use (trimmed, the default when empty).
  const char* download_path;
  const char* upload_path;

  // Where a protocol's file-exists question goes up (one transfer runs at a
  // time, so one prompt serves them all).
  ExistsPrompt* question;
  // The upload picker (Space marks several): 1 with the files as full
  // paths, 0 when there is nothing to send (left, or a transfer started
  // meanwhile), -1 for a picked name whose path does not fit (*missing).
  int (*pick_uploads)(void* ctx, std::vector<std::string>* paths, std::string* missing);
  // Whether any protocol's transfer runs: starting another would end it
  // half-done.
  int (*busy)(void* ctx);
  // A transfer is about to take the bytes: what the protocols' start
  // detection holds goes to the terminal now.
  void (*release_detect)(void* ctx);

  // What the other side still sends is dropped for ms rather than shown as
  // text (0: no longer).
  void (*quiet)(void* ctx, uint32_t ms);
  // The box protocol p left up says how its transfer ended: the session
  // keeps it up a moment, then redraws the terminal.  Null p: a box still
  // up gives way at once to a new transfer's.
  void (*hold_box)(void* ctx, const TransferProtocol* p);
  // A note box already drawn (its text given), kept up the same way.
  void (*hold_note)(void* ctx, const char* text);
  // Whether such a box is up (the terminal comes back when its time is
  // over, not at once).
  int (*box_held)(void* ctx);
};

// The host's functions, each safe on a host that lacks it.
inline Terminal* transfer_host_terminal(const TransferHost* h) {
  return h && h->terminal ? h->terminal(h->ctx) : nullptr;
}
inline uint32_t transfer_host_now(const TransferHost* h) {
  return h && h->now_ms ? h->now_ms(h->ctx) : 0;
}
inline int transfer_host_busy(const TransferHost* h) {
  return h && h->busy ? h->busy(h->ctx) : 0;
}
inline void transfer_host_quiet(const TransferHost* h, uint32_t ms) {
  if (h && h->quiet) h->quiet(h->ctx, ms);
}
inline void transfer_host_hold_box(const TransferHost* h, const TransferProtocol* p) {
  if (h && h->hold_box) h->hold_box(h->ctx, p);
}
inline void transfer_host_hold_note(const TransferHost* h, const char* text) {
  if (h && h->hold_note) h->hold_note(h->ctx, text);
}
inline int transfer_host_box_held(const TransferHost* h) {
  return h && h->box_held ? h->box_held(h->ctx) : 0;
}
