// The XMODEM engine: sends or receives one file with the checksum, CRC-16 and
// 1K (1024-byte block) variants of the protocol, or a batch of files with
// YMODEM and YMODEM-G (see "Batches" below).
//
// The engine knows nothing of sockets, files, windows or the session.  Its
// host feeds it every received byte (xmodem_consume), calls xmodem_pump on
// each idle pass for the time-outs, and supplies everything else through the
// eight entries of XmodemCallbacks.  All state is one XmodemState record that
// the host owns.  After any call the host reads `active` and `status_text` to
// learn whether the transfer ended and how: a transfer that ended well says
// "XMODEM complete".
//
// Every ending (complete, failed, cancelled) calls the close entry exactly
// once, before `active` drops to 0.  Afterwards no callback but the final
// status report is called for that transfer, with one exception: a
// receiver closes its file before it acknowledges the sender's EOT (the
// ACK tells the sender the file arrived, so the file must be whole on disk
// first), and when the close fails it sends the cancel sequence instead.
//
// Batches.  YMODEM is XMODEM-1K with CRC-16 and a block 0 before each file
// that names it (ymodem.h); an empty block 0 ends the batch.  The receiver
// asks with "C" for each block 0 and again for the file's data; with "G"
// instead it asks for YMODEM-G, where the sender streams the blocks without
// waiting for answers and the receiver ends the transfer (with the cancel
// sequence) at the first damaged, missing or stray byte.  The engine calls
// the batch hooks (YmodemBatch) where a file begins; the close entry is
// called once at the end of every file whose data was stored or read, and
// is again the last thing before an ending.  A received file is given to
// the store entry only up to the size its block 0 gives (no padding), and
// a file whose bytes fall short of that size fails the transfer rather
// than being acknowledged.  Report texts begin with the protocol's name:
// "YMODEM complete", "YMODEM-G complete".
#pragma once
#include <cstddef>
#include <cstdint>

#include "transfer/ymodem.h"

// Wire bytes.
inline constexpr uint8_t kXmSoh = 0x01;  // lead byte of a 128-byte block
inline constexpr uint8_t kXmStx = 0x02;  // lead byte of a 1024-byte block
inline constexpr uint8_t kXmEot = 0x04;
inline constexpr uint8_t kXmAck = 0x06;
inline constexpr uint8_t kXmNak = 0x15;
inline constexpr uint8_t kXmCan = 0x18;
inline constexpr uint8_t kXmCrcRequest = 'C';
inline constexpr uint8_t kXmPad = 0x1A;

// Largest frame: STX, number, complement, 1024 data bytes, two CRC bytes.
inline constexpr int kXmFrameMax = 1029;

// Kinds of report passed to the status entry.
enum XmodemReport : int {
  XM_REPORT_STARTED = 0,
  XM_REPORT_PROGRESS = 1,
  XM_REPORT_RETRY = 2,
  XM_REPORT_COMPLETE = 3,
  XM_REPORT_CANCELLED = 4,
  XM_REPORT_FAILED = 5,
};

// What the engine is doing (XmodemState::state).
enum XmodemPhase : int {
  XM_IDLE = 0,
  XM_RECV_WAIT = 1,   // receiving: waiting for a block or EOT
  XM_RECV_BLOCK = 2,  // receiving: reading a block
  XM_SEND_START = 3,  // sending: waiting for the receiver's "C" or NAK
  XM_SEND_BLOCK = 4,  // sending: block sent, waiting for ACK
  XM_SEND_EOT = 5,    // sending: EOT sent, waiting for ACK
  XM_SEND_HEADER = 6,      // YMODEM sending: block 0 sent, waiting for its ACK
  XM_SEND_DATA_START = 7,  // YMODEM sending: block 0 taken, waiting for "C", "G" or NAK
};

// What the engine speaks (XmodemState::protocol).  A YMODEM sender becomes
// YMODEM-G when the receiver asks with "G".
enum XmodemProtocol : int {
  XM_PROTO_XMODEM = 0,
  XM_PROTO_YMODEM = 1,
  XM_PROTO_YMODEM_G = 2,
};

// Where a YMODEM receiver is in the current file (XmodemState::batch_phase).
enum YmodemPhase : int {
  YM_WAIT_HEADER = 0,  // waiting for a block 0
  YM_WAIT_DATA = 1,    // block 0 taken, asking for the first data block
  YM_DATA = 2,         // data blocks arriving
};

// The host's side.  Every entry gets `context` first; any entry may be null:
// without write every send fails (-1), without read a send pads with 0x1A or
// ends, without store every good received block fails the transfer, and
// without close, now or status nothing happens in their place (time reads 0).
struct XmodemCallbacks {
  void* context;
  // Sends bytes to the remote side: 0 on success, anything else is a failure
  // that ends the transfer and is returned by the engine call.
  int (*write)(void* context, const uint8_t* bytes, size_t count);
  // Fills buf from the file being sent: bytes read, 0 at end of file,
  // negative on error.  A short read is not taken as the end of the file.
  int (*read)(void* context, uint8_t* buf, size_t count);
  // Appends a received block to the file: 0 on success.
  int (*store)(void* context, const uint8_t* data, size_t count);
  // The transfer ended (complete, failed or cancelled): close the file.  0
  // when everything stored is in the file; anything else makes a receive
  // that was about to complete fail instead.
  int (*close)(void* context);
  // Size of the file being sent.  Carried for the host; the engine takes the
  // size from xmodem_start_send instead.
  uint32_t (*size)(void* context);
  // Milliseconds from any steady clock; compared by unsigned subtraction.
  uint32_t (*now)(void* context);
  // A report: kind (XmodemReport), text, bytes done and total, blocks done,
  // retries, 1 for CRC-16 blocks, and the file name.
  void (*status)(void* context, int kind, const char* text, uint32_t bytes_done,
                 uint32_t bytes_total, uint32_t blocks_done, uint32_t retries, uint32_t use_crc,
                 const char* file_name);
};

// The batch hooks of a YMODEM transfer.  Both get the callback table's
// context; either may be null.
struct YmodemBatch {
  // Receiving: block 0 of a new file (its name not yet made safe).  0: store
  // its data; 1: skip it (its blocks are taken and dropped, and no close
  // follows); -1: fail the transfer; 2: the host asks its user first and
  // gives one of the others later through ymodem_file_begun (meanwhile the
  // engine drops what arrives and runs no time-out).  Without the hook
  // every file is stored.
  int (*begin_file)(void* context, const YmodemFileInfo* info);
  // Sending: the next file of the batch, opened for the read entry.  1 with
  // *info filled (its name as block 0 should carry it); 0 when no file is
  // left; -1 on an error, which fails the transfer.  Without the hook the
  // batch is empty.
  int (*next_file)(void* context, YmodemFileInfo* info);
};

struct XmodemState {
  int32_t active;       // a transfer is running
  int32_t mode;         // 1 receiving, 2 sending
  int32_t state;        // XmodemPhase
  int32_t use_crc;      // 1 CRC-16 blocks, 0 checksum blocks
  int32_t start_mode;   // receiving: 0 ask with NAK, 1 ask with "C", 2 alternate
  int32_t start_polls;  // start requests sent in the CRC and alternating start modes
  int32_t retries;      // since the last good block
  uint32_t bytes_done;
  uint32_t bytes_total;
  uint32_t blocks_done;
  uint32_t last_io_ms;  // time of the last byte sent or accepted
  uint8_t expected_block;
  uint8_t send_block;
  uint8_t recv_frame[kXmFrameMax];  // the block being received, lead byte first
  int32_t frame_count;
  int32_t frame_len;
  int32_t block_size;               // of the block being received: 128 or 1024
  uint8_t send_frame[kXmFrameMax];  // the last block built
  int32_t send_frame_len;
  int32_t send_data_len;  // file bytes in send_frame, padding not counted
  int32_t eof;            // the file being sent is exhausted
  int32_t preferred_block;
  int32_t eot_seen;
  int32_t can_count;
  // Receiving: 1 while nothing has arrived since our last answer (ACK, NAK or
  // start request).  Only an EOT in that position ends the file, so an 0x04
  // inside a block whose lead byte was lost cannot end a transfer early.
  int32_t answered;
  // Receiving: 1 while the rest of a damaged block is discarded; the NAK goes
  // out once the line has been quiet for a moment (see xmodem.cpp).
  int32_t purging;
  int32_t purged;  // bytes discarded in this purge
  // Sending: 1 from a block resent on a time-out until the next byte arrives.
  int32_t timeout_resent;
  // Receiving: 1 once the first good block has fixed the check mode.  Until
  // then a block is taken in whichever mode it arrives: a sender may answer
  // a "C" after we already asked again with NAK, or the other way round.
  int32_t mode_fixed;
  int32_t closed;  // the close entry has been called for this transfer (or file)
  char file_name[128];
  char status_text[96];  // the last report text
  XmodemCallbacks callbacks;
  // ---- batches (YMODEM, YMODEM-G) ----
  int32_t protocol;     // XmodemProtocol
  int32_t batch_phase;  // receiving: YmodemPhase
  int32_t skipping;     // receiving: the current file's blocks are dropped
  int32_t asking;       // receiving: begin_file's answer is awaited (ymodem_file_begun)
  int32_t files_done;   // files received whole and closed, or sent and acknowledged
  // Receiving: the most files the senders' block 0 announced (files-left
  // counts the file it comes with), 0 when none said.
  int32_t files_announced;
  int32_t batch_end;     // sending: the block 0 to send is the empty one
  uint64_t file_stored;  // receiving: bytes of the current file given to store
  YmodemFileInfo file;   // the current file's block 0
  YmodemBatch batch;
};

// 16-bit CRC of XMODEM (polynomial 0x1021, initial 0, no reflection), and the
// 8-bit sum of the checksum variant.  Both are 0 for an empty range.
uint16_t xmodem_crc16(const uint8_t* data, size_t len);
uint8_t xmodem_checksum(const uint8_t* data, size_t len);

// Clears the whole state and copies the callback table (none when null).
void xmodem_init(XmodemState* s, const XmodemCallbacks* callbacks);

// Starts receiving into the store entry.  start_mode: 0 ask for checksum
// blocks (NAK), 2 alternate "C" and NAK, anything else ask for CRC ("C").  A
// null or empty name means "xmodem.prg".  Nothing is sent until the first
// pump, which asks at once.  -1 without a state, else 0.
int xmodem_start_receive(XmodemState* s, const char* file_name, int start_mode);

// Starts receiving a YMODEM batch, asking with "C", or with "G" for
// YMODEM-G when streaming is set.  Every file begins with the batch's
// begin_file hook.  Nothing is sent until the first pump.  -1 without a
// state, else 0.
int ymodem_start_receive(XmodemState* s, const YmodemBatch* batch, int streaming);

// The answer begin_file left for later (0, 1 or -1 as it would have
// returned): the receiver goes on exactly as when the hook returns it.
// Same results as xmodem_consume; 0 when nothing was awaited.
int ymodem_file_begun(XmodemState* s, int begin);

// Starts sending a YMODEM batch: the batch's next_file hook is asked for
// the first file at once and for each next one when a file is done.  The
// receiver chooses between YMODEM and YMODEM-G.  -1 without a state, or
// when the first file cannot be had (the transfer has then failed).
int ymodem_start_send(XmodemState* s, const YmodemBatch* batch);

// Starts sending file_size bytes from the read entry (0 when the size is
// unknown).  A null or empty name means "upload.bin".  -1 without a state.
int xmodem_start_send(XmodemState* s, const char* file_name, uint32_t file_size);

// One received byte.  0 (also when two CAN from the other side ended the
// transfer: check `active`); or the failing write entry's result; or -1
// when the transfer failed on a retry limit or a file error.  Either failure
// has already ended the transfer.
int xmodem_consume(XmodemState* s, uint8_t byte);

// Time-outs, for each idle pass while active.  Same results as consume.
int xmodem_pump(XmodemState* s);

// Cancels by the user's or the host's wish: sends eight CAN and ten
// backspaces, then ends as cancelled with the message ("XMODEM canceled",
// "YMODEM canceled"... when null).  Nothing when no transfer is active.
void xmodem_cancel(XmodemState* s, const char* message);

// Ends the transfer as failed without sending anything, for a host whose
// link is gone (a failed send, a closed connection): the file is closed and
// no later byte reaches the callbacks.  The message defaults to
// "XMODEM failed" ("YMODEM failed"...).  Nothing when no transfer is active.
void xmodem_abort(XmodemState* s, const char* message);

// 1 while a transfer runs, else 0 (also without a state).
int xmodem_is_active(const XmodemState* s);
