// ZMODEM: the wire format (CRCs, escaping, headers, data subpackets), the
// byte-by-byte receiving parser with start detection, the receiver and the
// sender.  One ZmodemState per session; at most one transfer at a time.
//
// The protocol core sits below the session (it includes nothing of it), so
// everything it needs from the program reaches it through ZmodemHooks, held
// in the state record.  Every function takes the record.
//
// How a session drives it
// -----------------------
// Set z->hooks once (ZmodemState z{} zeroes everything else).  Then:
//
//  * While no transfer runs, every inbound data byte (after Telnet decoding)
//    goes to start detection, zmodem_detect(z, byte, emit, to), unless
//    another transfer owns the stream or a post-transfer quiet time drops
//    it.  A byte that cannot begin "**" CAN is TRANSFER_PASS: the caller
//    shows it.  The bytes of a partial match are held (TRANSFER_HELD) and
//    handed to the caller's emit later: all at once when the match fails,
//    or by zmodem_release_detect after 75 ms of silence.  "**" CAN followed
//    by "A", "B" or "C" starts a receive (TRANSFER_TAKEN).  The core never
//    calls up to show text.
//
//  * While a transfer runs, every byte belongs to it (NUL bytes included:
//    the Telnet layer must pass them on while z->active is set):
//    zmodem_consume_byte, or zmodem_consume_active for a run of them.  (Fed
//    an idle byte, zmodem_consume_byte runs detection and drops what is not
//    ZMODEM's: for callers that show no text.)
//
//  * Once per loop turn: zmodem_poll(z).  It drops stale detection bytes
//    (a caller that shows text releases them first) and does the timer work
//    of both directions (ZRINIT and ZRQINIT/ZFILE
//    repeats, the ZFIN wait, retries of a stalled transfer) and the upload
//    streaming: a streaming upload sends one slice (16 KiB, less on a line
//    slower than 16 KiB in kZmodemSliceMs) per call
//    and sets z->streaming, which tells the session not to pause before the
//    next turn.  Reading the socket between slices is what lets a ZRPOS from
//    the receiver stop a stream early.  A result other than 0 means a send
//    failed: the connection is gone and the session should end.
//
//  * To upload a file the user picked: zmodem_start_upload(z, path).  It
//    wakes the remote receiver ("rz" CR, ZRQINIT) or, when called while a
//    detected receive found the other side to be a receiver, offers the file
//    at once.  When the other side turns out to be a receiver on its own
//    (it sends ZRINIT first), the core asks hooks.pick_upload for the path.
//
//  * To stop: zmodem_cancel(z, "Download cancelled" / "Upload cancelled")
//    for the user's Escape (hooks.stop_requested is also polled during long
//    transfers, so a key seen by that hook works too); when the connection
//    closes: zmodem_finish(z, "ZMODEM interrupted by disconnect") or
//    zmodem_finish(z, "ZMODEM cancelled") if z->active or z->file is set.
//
// How a transfer ends
// -------------------
// Every ending clears z->active, closes the file (whatever was written stays
// on disk) and sets z->ending and z->status_text (z->cancel_sent tells
// whether our cancel sequence went to the other side):
//  * kZmodemSucceeded: "ZMODEM finished" (download; after the sender's ZFIN
//    with every file whole: none left open, none closed shorter than the
//    size its sender offered) or "Upload finished" (the receiver answered
//    our ZFIN and took every file; "Upload finished; N skipped by the
//    receiver" when it took some, and "Upload finished: the receiver ended
//    the batch after N file(s)" when it took N files and then ended the
//    session instead of taking the next, as BBS upload areas that take one
//    file at a time do);
//  * kZmodemFailed: any other text (aborted, cancelled by either side,
//    given up after repeated errors, disconnect, file not found, ...);
//  * kZmodemSilent: a sender repeating its ZFIN after the previous transfer
//    ended was answered without showing anything (status_text "Header: ZFIN";
//    the status box was not drawn).
// Through hooks.status_changed the status box sees every ending; endings that
// remove the box call hooks.restore_terminal afterwards.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "transfer/protocol.h"
#include "transfer/transfer_files.h"
#include "transfer/transfer_status.h"

struct Terminal;

// --- protocol bytes and frame types -------------------------------------------
inline constexpr uint8_t ZPAD = 0x2A;
inline constexpr uint8_t ZDLE = 0x18;
inline constexpr uint8_t ZBIN = 0x41;
inline constexpr uint8_t ZHEX = 0x42;
inline constexpr uint8_t ZBIN32 = 0x43;
inline constexpr uint8_t ZCRCE = 0x68;
inline constexpr uint8_t ZCRCG = 0x69;
inline constexpr uint8_t ZCRCQ = 0x6A;
inline constexpr uint8_t ZCRCW = 0x6B;
inline constexpr uint8_t ZRUB0 = 0x6C;
inline constexpr uint8_t ZRUB1 = 0x6D;
inline constexpr uint8_t XON = 0x11;

enum ZmodemFrame : int {
  ZRQINIT = 0,
  ZRINIT = 1,
  ZSINIT = 2,
  ZACK = 3,
  ZFILE = 4,
  ZSKIP = 5,
  ZNAK = 6,
  ZABORT = 7,
  ZFIN = 8,
  ZRPOS = 9,
  ZDATA = 10,
  ZEOF = 11,
  ZFERR = 12,
  ZCRC = 13,
};

// ZRINIT capability flags (ZF0, carried in P3).
inline constexpr uint32_t kZmodemCanFdx = 0x01;
inline constexpr uint32_t kZmodemCanOvio = 0x02;
inline constexpr uint32_t kZmodemCanFc32 = 0x20;
// The receiver wants every control character escaped (ESCCTL).
inline constexpr uint32_t kZmodemEscCtl = 0x40;

// The cancel sequence: eight CAN then eight backspaces.  Five CAN are what
// a receiver needs, but lrzsz's sz, streaming, takes the first CAN as the
// sign to look at its input and then counts five more: with five in all it
// never cancels and the board's sender hangs.
inline constexpr uint8_t kZmodemCancelSeq[16] = {0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18,
                                                 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08};

// Timers and limits (milliseconds unless said otherwise).
inline constexpr uint32_t kZmodemDetectHoldMs = 74;  // detection bytes older than this are released
inline constexpr uint32_t kZmodemTrailingMs = 15000;  // a ZFIN this soon after an end is a repeat
inline constexpr uint32_t kZmodemZrinitRepeatMs = 2000;
inline constexpr uint32_t kZmodemZfinWaitMs = 2000;
inline constexpr uint32_t kZmodemResendMs = 1500;      // sender's ZRQINIT / ZFILE repeats
inline constexpr uint32_t kZmodemRecvStallMs = 3000;   // receiver asks again after this silence
inline constexpr uint32_t kZmodemSendStallMs = 10000;  // sender resends after this silence
inline constexpr int kZmodemMaxFailures =
    10;  // failures in a row without progress before giving up
inline constexpr int kZmodemMaxSendStalls = 5;
inline constexpr int kZmodemMaxSubpacket = 8192;  // longest data subpacket accepted (ZMODEM-8K)
// Longest data subpacket sent: 8 KiB to a receiver that allows them (see
// zmodem_send.cpp), else 1 KiB, which every receiver takes.
inline constexpr int kZmodemSmallSubpacket = 1024;
inline constexpr uint32_t kZmodemStreamSlice = 16 * 1024;  // upload bytes sent per zmodem_poll
// On a line slower than that, a slice is what the line takes in about this
// long (whole KiB, at least one): between slices the session reads the line
// and the status box moves.
inline constexpr uint32_t kZmodemSliceMs = 25;
// A streaming upload asks for a ZACK (ZCRCQ) every kZmodemAckEvery bytes and
// keeps at most kZmodemWindow bytes unacknowledged, so that after a damaged
// subpacket the receiver does not have to wade through a whole socket
// buffer of data it can no longer use (which makes receivers such as rz give
// up), while a fast line still streams without waiting: the buffers of a
// Telnet server in front of rz hold more than 128 KiB, and a smaller window
// left the stream waiting for acknowledgements still queued behind them.
inline constexpr uint32_t kZmodemAckEvery = 32 * 1024;
inline constexpr uint32_t kZmodemWindow = 512 * 1024;
inline constexpr uint32_t kZmodemStopPollBytes = 16 * 1024;  // stop_requested polled this often
// An upload slice goes to the wire in writes of this size rather than one
// per 1 KiB subpacket: fewer, larger writes keep a Telnet server in between
// (and the kernel) from waking for every subpacket.
inline constexpr uint32_t kZmodemBatch = 16 * 1024;
// While bytes move, the status box is redrawn at least this often (it
// draws a change of the byte count alone no more often either).
inline constexpr uint32_t kZmodemProgressMs = 200;

// What a transfer's end reported (z->ending).
enum ZmodemEnding : int32_t {
  kZmodemRunning = 0,  // no transfer has ended since the last start
  kZmodemSucceeded = 1,
  kZmodemFailed = 2,
  kZmodemSilent = 3,
};

// The file-exists question's answers.  kZmodemResume appends the rest of
// the offered file to the one on disk (crash recovery), once the part on
// disk has been checked against the sender's file where the sender can
// say (ZCRC); it counts only where the question offered it.
enum ZmodemExistsAnswer : int {
  kZmodemOverwrite = 0,
  kZmodemRename = 1,
  kZmodemSkip = 2,
  kZmodemResume = 3
};

// ZFILE's conversion option (ZF0) by which a sender asks for crash recovery.
inline constexpr uint32_t kZmodemCresume = 3;

// What the file-exists question knows (ZmodemHooks::file_exists_resume).
struct ZmodemExistsQuestion {
  const char* name;     // the name in the download directory
  long long existing;   // bytes of the file there (-1: not a regular file)
  uint32_t offered;     // the size the sender offered (0: not said)
  int can_resume;       // kZmodemResume may be answered: the file there is shorter
  int resume_failed;    // asked again: the part there is not the start of the offered file
};

// 1 when a file of `existing` bytes can be the start of an offered file of
// `offered` bytes, so that resuming it makes sense: something there, less
// than offered.  A pure rule, for the question and for a sender's ZCRESUM.
int zmodem_can_resume(long long existing, uint32_t offered);

// What the core asks of the program.  Every hook gets ctx.  Only send and
// now_ms are required; a null hook does nothing (or gives the default said).
struct ZmodemHooks {
  void* ctx;
  // Puts bytes on the wire in one piece; 0 on success, -1 when the connection
  // failed.  The session's sender doubles every 0xFF (Telnet IAC); the core
  // never doubles itself.
  int (*send)(void* ctx, const uint8_t* bytes, size_t len);
  // Milliseconds of a monotonic clock, compared by unsigned subtraction.
  uint32_t (*now_ms)(void* ctx);
  // A transfer started: hide the terminal cursor (the status box comes).
  void (*hide_cursor)(void* ctx);
  // Redraw the terminal (which removes the status box) and show the cursor.
  void (*restore_terminal)(void* ctx);
  // status_text, the counters or the phase changed: the status box redraws.
  void (*status_changed)(void* ctx);
  // A received file's name exists in the download directory: answer
  // kZmodemOverwrite, kZmodemRename or kZmodemSkip.  Null: rename, so a
  // file is never overwritten without someone agreeing to it.  Either
  // question may instead return kTransferExistsAsked (transfer_files.h):
  // the engine then waits (exists_pending) for zmodem_answer_exists.
  int (*file_exists)(void* ctx, const char* name);
  // The same question with what is known of both files, preferred over
  // file_exists when set; it may answer kZmodemResume while q->can_resume
  // is set (any other time that counts as kZmodemRename).
  int (*file_exists_resume)(void* ctx, const ZmodemExistsQuestion* q);
  // Non-zero when the user asked to stop (Escape, closed window); the
  // transfer is then cancelled.  Polled about every 16 KiB of data.
  int (*stop_requested)(void* ctx);
  // The download directory, ready to use (white space trimmed, default
  // applied); created here when missing.  Null or empty: the current one.
  const char* (*download_dir)(void* ctx);
  // The other side asked to receive: fill path (at most capacity - 1
  // characters) with the file to send and return 1, or 0 for none.
  int (*pick_upload)(void* ctx, char* path, size_t capacity);
  // An upload's file is done (the receiver took or skipped it): fill path
  // with the next file of the batch and return 1, or 0 when the batch is
  // over (then ZFIN ends the session).  Null: one file per upload.
  int (*next_upload)(void* ctx, char* path, size_t capacity);
  // Not a hook but a setting kept with them across transfers: non-zero
  // makes every upload's ZFILE ask for crash recovery (ZCRESUM, no
  // management option), so that a receiver holding the start of a file
  // (lrzsz rz --resume) asks for the rest.  Zero: the usual binary offer
  // with ZMCRC, with which such a receiver replaces the file.
  int32_t upload_crash_recovery;
};

// The status box's drawing cache, kept with the transfer so that a new
// transfer starts with a full draw.  Filled by the status box only.
using ZmodemStatusCache = TransferBoxCache;

struct ZmodemState {
  ZmodemHooks hooks;  // kept across transfers

  int32_t active;       // a transfer runs
  int32_t direction;    // 0 receiving, 1 sending
  int32_t send_state;   // 1 ZRQINIT sent, 2 ZFILE/data, 3 waiting for ZACK, 4 ZEOF (then ZFIN) sent
  int32_t parse_state;  // 1 waiting for a header, 2 binary header, 3 data subpackets,
                        // 4 the end of a hex header before data
  int32_t data_kind;    // 0 nothing to keep, 1 ZFILE information, 2 file data
  int32_t detect_index;
  uint32_t detect_ms;
  int32_t hex_count, bin_count, bin_len;
  int32_t escape_pending;
  int32_t crc_remaining, data_crc_len, header_crc_len, crc_got, frame_end;
  int32_t error_count;  // receiving: bad subpackets in this file; sending: ZRPOS restarts
  int32_t send_o_count;
  int32_t resend_count;
  int32_t use_crc32;
  int32_t fallback_zrinit;
  int32_t zrinit_count, eof_seen, zfin_seen, recv_o_count, trailing;
  uint32_t last_zrinit_ms, zfin_ms, finish_deadline_ms;
  uint32_t peer_flags, peer_buffer;
  uint8_t crc_bytes[4];
  uint16_t crc16;
  uint32_t crc32;
  uint32_t subpacket_start;
  char hex_chars[14];
  uint8_t header[9];
  uint32_t position, header_value, byte_count, last_flush_count, start_ms, last_send_ms;
  ZmodemStatusCache status;
  FILE* file;
  uint32_t file_size, announced_size;
  int32_t files_done, files_total;
  char file_name[kTransferNameCap];
  char skip_name[kTransferNameCap];
  char file_path[kTransferPathCap];
  char info[512];
  int32_t info_len;
  char status_text[96];

  // Beyond the classic record: what makes damage survivable.
  int32_t hunt;      // header lead-in: 0 want ZPAD, 1 want ZDLE, 2 want format, 3 hex digits
  int32_t hex_tail;  // how much of a hex header's CR LF XON has gone by (parse_state 4)
  int32_t can_run;   // consecutive CAN bytes (five: the other side cancelled)
  int32_t failures;  // bad subpackets / stalls in a row without progress
  uint32_t last_progress_ms;  // last good header or subpacket (stall timer)
  int32_t streaming;          // an upload stream is under way: call zmodem_poll without pausing
  int32_t frame_open;         // sending: a ZDATA frame continues (its last subpacket was ZCRCG)
  int32_t zfin_sent;          // sending: our ZFIN went out (a ZFIN back means success)
  int32_t send_stalls;
  int32_t rx_seen;                   // a byte arrived since the last poll (the line is not silent)
  int32_t incomplete;                // received files closed before their end arrived
  uint32_t restart_pos, restart_ms;  // sending: where and when the last ZRPOS restarted us
  uint32_t acked;                    // sending: the receiver has confirmed everything before this
  int32_t window_wait;               // sending: the window is full; a ZACK resumes the stream
  int32_t skipped;                   // sending: files the receiver declined (ZSKIP)
  int32_t last_was_upload;   // the transfer that ended last was an upload (kept across starts)
  int32_t zrpos_pending;     // we asked for a position and no data has come since
  uint32_t stop_poll_count;  // bytes since stop_requested was last polled
  char open_info_name[kTransferNameCap];  // the offered name behind the open file
  // Receiving: the files saved whole (closed at their ZEOF with every byte
  // the sender offered), and the last one's name and size, for the
  // summary after a download.
  int32_t files_saved;
  uint32_t saved_size;
  char saved_name[kTransferNameCap];
  int32_t cancel_sent;  // this transfer ended with our cancel sequence
  // A receiver's ZRINIT that came while the last upload's trailing time ran
  // (so it was answered with nothing): when, and its flags and buffer size.
  // An upload the user starts soon after offers its file at once (kept
  // across starts).
  uint32_t waiting_receiver_ms;
  uint32_t waiting_receiver_value;
  int32_t assumed_ready;  // sending: the file went to such a receiver without a ZRINIT of its own
  uint32_t slice_limit;   // sending: bytes of the next streaming slice (0: kZmodemStreamSlice)
  uint32_t subpacket_max;  // sending: longest data subpacket for the receiver (0: 1 KiB)
  // Crash recovery.  Receiving: the flags of the last ZFILE (ZF0 in the
  // top byte); 1 while the sender's ZCRC over the part on disk is awaited
  // (resume_len bytes of file_path), 2 once a check failed for this offer.
  uint32_t zfile_flags;
  int32_t resume_state;
  uint32_t resume_len;
  // Where the current file's data began: a resumed download's existing
  // length, or the offset an upload's receiver asked for in its first ZRPOS.
  uint32_t start_offset;
  // The file-exists question is out and its answer not yet in
  // (kTransferExistsAsked): where it was asked from (kZmodemAskedByOffer,
  // kZmodemAskedByData), 0 when none.  Meanwhile received bytes are dropped
  // (the sender repeats its header) and no timer runs.
  int32_t exists_pending;
  long long exists_existing;  // what the question was told of the file there
  int32_t exists_can_resume;
  ZmodemEnding ending;
  int32_t packet_len;
  uint8_t packet[kZmodemMaxSubpacket];  // data of the current subpacket until its CRC holds
  // Sending: while a slice of an upload is built, its subpackets gather here
  // and go to hooks.send in pieces of up to kZmodemBatch bytes.
  int32_t batching;
  uint32_t batch_len;
  uint8_t batch[kZmodemBatch];
  // The stream buffer of the file being received (transfer_create_file).
  char file_buffer[kTransferFileBuffer];
};

// --- wire format ------------------------------------------------------------------
uint16_t zmodem_crc16_update(uint16_t crc, uint8_t byte);
uint16_t zmodem_crc16(const uint8_t* data, size_t len, uint16_t crc = 0);
// Running register form (initial 0xFFFFFFFF, complement at the end).
uint32_t zmodem_crc32_update(uint32_t crc, uint8_t byte);
uint32_t zmodem_crc32(const uint8_t* data, size_t len, uint32_t crc = 0xFFFFFFFFu);
void zmodem_crc_data_update(ZmodemState* z, uint8_t byte);
int zmodem_hex_value(int c);
int zmodem_append_wire_byte(uint8_t* buf, size_t cap, size_t* count, uint8_t byte);
int zmodem_append_escaped_byte(uint8_t* buf, size_t cap, size_t* count, uint8_t byte);
// Builders (no state): the bytes of a header or subpacket; their length, or
// 0 when cap is too small.  escape_ctl: escape every control character
// (0x00..0x1F and 0x80..0x9F), for a receiver whose ZRINIT set ESCCTL.
size_t zmodem_build_hex_header(uint8_t* out, size_t cap, int type, uint32_t value);
size_t zmodem_build_binary_header(uint8_t* out, size_t cap, int type, uint32_t value, int crc32,
                                  int escape_ctl = 0);
size_t zmodem_build_data_packet(uint8_t* out, size_t cap, const uint8_t* data, size_t len,
                                uint8_t frame_end, int crc32, int escape_ctl = 0);
int zmodem_send_hex_header_with_crc(ZmodemState* z, int type, uint32_t value);
int zmodem_send_binary_header(ZmodemState* z, int type, uint32_t value);
int zmodem_send_data_packet(ZmodemState* z, const uint8_t* data, size_t len, uint8_t frame_end);
const char* zmodem_frame_name(int type);

// --- receiving path and detection ------------------------------------------------
void zmodem_consume_byte(ZmodemState* z, uint8_t byte);
void zmodem_consume(ZmodemState* z, const uint8_t* bytes, size_t len);
// The same for bytes of a running transfer, faster: stops where the transfer
// ends and returns how many bytes it took (the rest is no longer the
// transfer's: idle detection, or the terminal).
size_t zmodem_consume_active(ZmodemState* z, const uint8_t* bytes, size_t len);
// Start detection while idle, for a caller that hands the other bytes on
// itself: TRANSFER_TAKEN when "**" CAN and a format byte started a receive,
// TRANSFER_HELD for a byte kept as part of a possible start, TRANSFER_PASS
// for a byte that is not ZMODEM's (and always while a transfer runs).  Held
// bytes a mismatch gives up on go to emit first, so that they keep their
// place before the byte passed.
TransferDetect zmodem_detect(ZmodemState* z, uint8_t byte, TransferEmit emit, void* to);
// Releases the held detection bytes to emit: with force 0 only once they
// are older than kZmodemDetectHoldMs.  Null emit drops them.
void zmodem_release_detect(ZmodemState* z, int force, TransferEmit emit, void* to);
int zmodem_poll(ZmodemState* z);

// --- receiver ---------------------------------------------------------------------
int zmodem_handle_header(ZmodemState* z);
int zmodem_send_recv_init(ZmodemState* z, const char* message);
int zmodem_open_receive_file(ZmodemState* z);
void zmodem_sanitize_name(char* dest, const char* src);  // dest: kTransferNameCap bytes
int zmodem_build_receive_path(ZmodemState* z, char* dest, const char* name);  // kTransferPathCap
int zmodem_receive_pump(ZmodemState* z);
// Where a question still waiting for its answer was asked from: a file's
// offer (its ZFILE, or a failed resume check), or data that came for a file
// not yet open.
enum : int32_t { kZmodemAskedByOffer = 1, kZmodemAskedByData = 2 };
// The answer to a question the host left pending (kZmodemOverwrite ..
// kZmodemResume): the receiver goes on exactly as when the hook returns it.
// Nothing when no question waits.
void zmodem_answer_exists(ZmodemState* z, int answer);
void zmodem_finish(ZmodemState* z, const char* message);  // null: "ZMODEM finished"
void zmodem_finish_silent(ZmodemState* z);
void zmodem_cancel(ZmodemState* z, const char* message);
// The connection closed while a download waited out its ending after the
// sender's ZFIN (for "OO" or two seconds): the ending that wait would have
// given ("ZMODEM finished" unless a file was left incomplete).
void zmodem_finish_received(ZmodemState* z);

// --- sender -----------------------------------------------------------------------
int zmodem_start_upload(ZmodemState* z, const char* path);
// An upload that cannot even begin (the picked file's path does not fit):
// it ends at once as failed with why, shown in the box like any failure.
// Nothing while a transfer runs.
void zmodem_fail_upload(ZmodemState* z, const char* name, const char* why);
int zmodem_send_upload_init(ZmodemState* z);
int zmodem_send_upload_file_info(ZmodemState* z);
int zmodem_send_upload_chunk(ZmodemState* z);
// CRC-32 of the first `length` bytes of the file being sent (all of it for
// 0), as a sender answers a receiver's ZCRC.
uint32_t zmodem_upload_file_crc32(ZmodemState* z, uint32_t length = 0);
int zmodem_upload_pump(ZmodemState* z);

// --- shared internals (between the three units; not for callers) -------------------
int zm_handle_send_header(ZmodemState* z);
void zm_subpacket_done(ZmodemState* z, int crc_ok);
void zm_end(ZmodemState* z, const char* message, ZmodemEnding ending);
void zm_set_status(ZmodemState* z, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void zm_draw(ZmodemState* z);
// While bytes move: the box is up and has not been drawn for
// kZmodemProgressMs (it draws a change of the byte count alone no more
// often), so a redraw would show the progress.
bool zm_progress_due(ZmodemState* z);
void zm_reset_parser(ZmodemState* z);
inline uint32_t zm_now(ZmodemState* z) {
  return z->hooks.now_ms ? z->hooks.now_ms(z->hooks.ctx) : 0;
}
int zm_send(ZmodemState* z, const uint8_t* bytes, size_t len);
int zm_flush_batch(ZmodemState* z);  // what batching gathered goes out; 0 or -1
void zm_clear_transfer(ZmodemState* z);
// The receiver answered our ZFIN (or sent "OO" to it): the upload's ending.
void zm_end_upload(ZmodemState* z);

// --- the status box (zmodem_status.cpp) ----------------------------------------
// The summary of a ZMODEM transfer that went well, for the box and the
// session: "Saved NAME (SIZE)" or "Saved n files" (in *dir the download
// directory) after a download, "Sent NAME (SIZE)" after an upload (dir
// null).  0 when there is none (the transfer did not succeed, or saved no
// file: every one skipped).
int zmodem_summary(ZmodemState* z, char* out, size_t cap, const char** dir);

// Draws or updates the ZMODEM box for the state of z.  While a transfer runs
// and the box is up, a change of the byte count alone is drawn at most every
// 200 ms; every other change is drawn at once.  A repeated ZFIN answered
// quietly (z->trailing) draws nothing.  After a failed ending the line of
// the error count gives the reason instead, in red; after a successful one
// the summary takes its place, in blue.
void zmodem_draw_status(Terminal* t, ZmodemState* z);
