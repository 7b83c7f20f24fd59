// The XMODEM engine.  See xmodem.h for how a host drives it.
#include "transfer/xmodem.h"

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "util/text.h"

namespace {

// Time-outs, compared as "more than" with unsigned subtraction.
constexpr uint32_t kRequestGapMs = 1999;    // between start requests, and the sender's wait
constexpr uint32_t kBlockSilenceMs = 9999;  // a block that stops part way
constexpr uint32_t kLoneEotMs = 1999;       // one EOT and then silence still ends the file
constexpr uint32_t kPurgeQuietMs = 250;     // the line settled after a damaged block
// The most a purge discards before it answers anyway: the rest of a damaged
// block and one whole retransmission.  A line that never falls quiet is
// still asked, and a transfer under way reaches its retry limit.
constexpr int32_t kPurgeMaxBytes = 2 * kXmFrameMax;
constexpr int kMaxRetries = 9;  // the tenth retry fails
// Once the remaining bytes fit in seven 128-byte blocks, 128-byte blocks
// waste less padding than one 1K block.
constexpr uint32_t kSmallTail = 896;
// A YMODEM-G sender writes this many blocks per call, then lets its host
// read the line (a receiver's cancel) and serve its window.
constexpr int kStreamBurst = 64;

// The CRC one byte at a time: entry i is the bit-by-bit CRC of the byte i
// shifted through the polynomial 0x1021, so the result is the same as
// shifting every bit, at an eighth of the work on a fast line.
constexpr std::array<uint16_t, 256> make_crc_table() {
  std::array<uint16_t, 256> t{};
  for (int i = 0; i < 256; i++) {
    uint16_t crc = static_cast<uint16_t>(i << 8);
    for (int bit = 0; bit < 8; bit++) {
      crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                           : static_cast<uint16_t>(crc << 1);
    }
    t[static_cast<size_t>(i)] = crc;
  }
  return t;
}
constexpr std::array<uint16_t, 256> kCrcTable = make_crc_table();

uint32_t xm_now(const XmodemState* s) {
  return s->callbacks.now ? s->callbacks.now(s->callbacks.context) : 0;
}

bool xm_batch(const XmodemState* s) {
  return s->protocol != XM_PROTO_XMODEM;
}

bool xm_streaming(const XmodemState* s) {
  return s->protocol == XM_PROTO_YMODEM_G;
}

uint32_t clamp32(uint64_t n) {
  return n > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(n);
}

// A report text: the protocol's name, then the rest ("YMODEM complete").
struct Text {
  char s[sizeof XmodemState::status_text];
};

[[gnu::format(printf, 2, 0)]] Text xm_vtext(const XmodemState* s, const char* format, va_list ap) {
  static constexpr const char* kNames[] = {"XMODEM", "YMODEM", "YMODEM-G"};
  int p = s->protocol;
  Text t;
  int n = snprintf(t.s, sizeof t.s, "%s ", kNames[p >= 0 && p <= 2 ? p : 0]);
  vsnprintf(t.s + n, sizeof t.s - static_cast<size_t>(n), format, ap);
  return t;
}

[[gnu::format(printf, 2, 3)]] Text xm_text(const XmodemState* s, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  Text t = xm_vtext(s, format, ap);
  va_end(ap);
  return t;
}

// A report with a text given whole (the host's own message).
void xm_report_text(XmodemState* s, int kind, const char* text) {
  safe_copy(s->status_text, sizeof s->status_text, text);
  if (!s->callbacks.status) return;
  s->callbacks.status(s->callbacks.context, kind, s->status_text, s->bytes_done, s->bytes_total,
                      s->blocks_done, static_cast<uint32_t>(s->retries),
                      static_cast<uint32_t>(s->use_crc), s->file_name);
}

[[gnu::format(printf, 3, 4)]] void xm_report(XmodemState* s, int kind, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  Text t = xm_vtext(s, format, ap);
  va_end(ap);
  xm_report_text(s, kind, t.s);
}

// Closes the host's file once per transfer: true when everything stored is
// in it.
bool xm_close_file(XmodemState* s) {
  if (s->closed) return true;
  s->closed = 1;
  return !s->callbacks.close || s->callbacks.close(s->callbacks.context) == 0;
}

// The one way a transfer ends: the host's file is closed first (unless a
// completing receive closed it already), and nothing but the final report
// reaches the callbacks afterwards.
void xm_end(XmodemState* s, int kind, const char* text) {
  if (!s->active) return;
  xm_close_file(s);
  s->active = 0;
  s->asking = 0;
  s->state = XM_IDLE;
  xm_report_text(s, kind, text);
}

// Every write stamps the time, so the time-outs count from the last thing
// we said.  A failed write means the link is gone: the transfer ends there,
// and the write's result goes back to the host.
int xm_write(XmodemState* s, const uint8_t* bytes, size_t count) {
  s->last_io_ms = xm_now(s);
  int rc = s->callbacks.write ? s->callbacks.write(s->callbacks.context, bytes, count) : -1;
  if (rc != 0) xm_end(s, XM_REPORT_FAILED, xm_text(s, "failed").s);
  return rc;
}

int xm_write_byte(XmodemState* s, uint8_t byte) {
  return xm_write(s, &byte, 1);
}

// A receiver's answer (ACK, NAK or a start request).
int xm_answer(XmodemState* s, uint8_t byte) {
  int rc = xm_write_byte(s, byte);
  if (rc == 0) s->answered = 1;
  return rc;
}

// Eight CAN to stop the other side, then ten backspaces to rub them out of a
// command line that was not in a transfer after all.  One byte per write;
// the first failure ends the sequence, since the rest would fail too.
void xm_send_cancel_sequence(XmodemState* s) {
  if (!s->callbacks.write) return;
  for (int i = 0; i < 18; i++) {
    uint8_t byte = i < 8 ? kXmCan : 0x08;
    if (!s->closed) s->last_io_ms = xm_now(s);
    if (s->callbacks.write(s->callbacks.context, &byte, 1) != 0) return;
  }
}

// We give up (retry limit, file error, a broken YMODEM-G stream): tell the
// other side, so that it stops too instead of running into its own
// time-outs, then end as failed, with the reason when there is one.
int xm_fail(XmodemState* s, const char* reason = nullptr) {
  xm_send_cancel_sequence(s);
  xm_end(s, XM_REPORT_FAILED, reason ? reason : xm_text(s, "failed").s);
  return -1;
}

// ---- receiving ----------------------------------------------------------------

int ym_recv_request(XmodemState* s);
int ym_recv_block(XmodemState* s, uint8_t number);
int ym_recv_file_done(XmodemState* s);
int ym_recv_begun(XmodemState* s, int begin);

// Retries count against the limit once the other side has shown itself:
// after the first good block, or in a batch once a file has begun.  Before
// that the sender may simply not have started yet.
bool xm_retries_limited(const XmodemState* s) {
  if (!xm_batch(s)) return s->blocks_done > 0;
  return s->batch_phase != YM_WAIT_HEADER || s->files_done > 0;
}

// A block went wrong.  When the line may still carry the rest of it (a
// block that failed its check, a retransmission already under way), the NAK
// waits until the line has been quiet for kPurgeQuietMs and everything until
// then is discarded.  Answering at once would let those bytes be read as new
// blocks: one lost byte would then shift every later frame against the
// sender's retransmissions, and no retry could ever succeed.
int xm_recv_retry(XmodemState* s, bool line_quiet) {
  s->state = XM_RECV_WAIT;
  s->frame_count = 0;
  s->frame_len = 0;
  s->retries++;
  // Before the first good block the sender may simply not have started yet,
  // so we keep asking; once blocks flowed, ten misses in a row end it.
  if (xm_retries_limited(s) && s->retries > kMaxRetries) return xm_fail(s);
  xm_report(s, XM_REPORT_RETRY, "receive: retry");
  if (!line_quiet) {
    s->purging = 1;
    s->purged = 0;
    s->last_io_ms = xm_now(s);
    return 0;
  }
  return xm_answer(s, kXmNak);
}

// A start request, or after the first good block a request to resend.
int xm_recv_request(XmodemState* s) {
  if (xm_batch(s)) return ym_recv_request(s);
  if (s->blocks_done > 0) {
    // The block mode is settled by now: a "C" or a switch to checksum
    // blocks would only make the sender's next block fail to verify.
    s->retries++;
    if (s->retries > kMaxRetries) return xm_fail(s);
    xm_report(s, XM_REPORT_RETRY, "receive: sent NAK");
    return xm_answer(s, kXmNak);
  }
  if (s->start_mode == 2) {
    s->start_polls++;
    s->use_crc = s->start_polls & 1;
  } else if (s->use_crc) {
    s->start_polls++;
  } else {
    s->retries++;
  }
  if (s->use_crc) {
    xm_report(s, XM_REPORT_PROGRESS, "receive: sent C");
    return xm_answer(s, kXmCrcRequest);
  }
  xm_report(s, s->start_mode == 2 ? XM_REPORT_PROGRESS : XM_REPORT_RETRY, "receive: sent NAK");
  return xm_answer(s, kXmNak);
}

// The ACK of the EOT tells the sender the file arrived, and it then ends:
// so the file is closed first, and a close that fails (a full disk, a size
// limit: the last buffered bytes could not be written) cancels the sender
// and fails instead.
int xm_recv_complete(XmodemState* s) {
  if (!xm_close_file(s)) return xm_fail(s);
  // The transfer ends here: the ACK needs no time stamp.
  const XmodemCallbacks& cb = s->callbacks;
  uint8_t ack = kXmAck;
  int rc = cb.write ? cb.write(cb.context, &ack, 1) : -1;
  if (rc != 0) {
    xm_end(s, XM_REPORT_FAILED, xm_text(s, "failed").s);
    return rc;
  }
  xm_end(s, XM_REPORT_COMPLETE, xm_text(s, "complete").s);
  return 0;
}

// A byte while waiting for a block.  at_answer: nothing arrived between our
// last answer and this byte.
int xm_recv_lead(XmodemState* s, uint8_t byte, bool at_answer) {
  if (byte == kXmSoh || byte == kXmStx) {
    s->eot_seen = 0;
    s->recv_frame[0] = byte;
    s->frame_count = 1;
    s->block_size = byte == kXmSoh ? 128 : 1024;
    // Until the mode is fixed the frame is read to the CRC length; a
    // checksum block, one byte shorter, is taken once the line falls quiet
    // after it (xm_recv_pump).  A receiver that only ever asked with NAK
    // gets checksum blocks.
    bool crc = s->mode_fixed ? s->use_crc != 0 : s->start_mode != 0;
    s->frame_len = s->block_size + 3 + (crc ? 2 : 1);
    s->state = XM_RECV_BLOCK;
    s->last_io_ms = xm_now(s);
    xm_report(s, XM_REPORT_PROGRESS, byte == kXmSoh ? "receive: block" : "receive: 1K block");
    return 0;
  }
  // A sender sends EOT only when it has our answer to its last block, so an
  // EOT that follows other bytes is a data byte of a block whose lead byte
  // was lost, not the end of the file.
  if (byte == kXmEot && at_answer) {
    if (xm_batch(s) && s->batch_phase == YM_WAIT_HEADER) {
      // The sender missed our ACK of its last file's end and ends it again.
      return s->files_done > 0 ? xm_answer(s, kXmAck) : 0;
    }
    if (s->eot_seen) return xm_batch(s) ? ym_recv_file_done(s) : xm_recv_complete(s);
    s->eot_seen = 1;
    s->last_io_ms = xm_now(s);
    xm_report(s, XM_REPORT_PROGRESS, "receive: EOT");
    return xm_answer(s, kXmNak);  // a real sender repeats its EOT
  }
  // Inside a YMODEM-G stream every byte belongs to a block: one that does
  // not means the line lost or added bytes, and nothing can be asked again.
  if (xm_streaming(s) && s->batch_phase == YM_DATA) {
    return xm_fail(s, xm_text(s, "failed: stray byte after block %lu",
                              static_cast<unsigned long>(s->blocks_done))
                          .s);
  }
  s->eot_seen = 0;
  return 0;
}

bool xm_frame_valid(const XmodemState* s) {
  const uint8_t* f = s->recv_frame;
  if (f[1] + f[2] != 255) return false;
  const uint8_t* data = f + 3;
  int n = s->block_size;
  // The frame's length says which check it carries.
  if (s->frame_len == n + 5) return xmodem_crc16(data, n) == ((f[3 + n] << 8) | f[4 + n]);
  return xmodem_checksum(data, n) == f[3 + n];
}

int xm_recv_block_done(XmodemState* s) {
  s->state = XM_RECV_WAIT;
  if (!xm_frame_valid(s)) {
    s->eot_seen = 0;
    if (xm_streaming(s)) {
      unsigned long block = s->batch_phase == YM_WAIT_HEADER ? 0 : s->blocks_done + 1;
      return xm_fail(s, xm_text(s, "failed: damaged block %lu", block).s);
    }
    return xm_recv_retry(s, false);
  }
  s->frame_count = 0;
  uint8_t number = s->recv_frame[1];
  if (xm_batch(s)) return ym_recv_block(s, number);
  if (number == s->expected_block) {
    const XmodemCallbacks& cb = s->callbacks;
    if (!cb.store || cb.store(cb.context, s->recv_frame + 3, s->block_size) != 0) return xm_fail(s);
    if (!s->mode_fixed) {
      // The sender has chosen: every later block comes in this mode.
      s->mode_fixed = 1;
      s->use_crc = s->frame_len == s->block_size + 5 ? 1 : 0;
    }
    s->eot_seen = 0;
    s->retries = 0;
    s->blocks_done++;
    s->expected_block++;
    s->bytes_done += s->block_size;
    xm_report(s, XM_REPORT_PROGRESS, "receive: block %lu",
              static_cast<unsigned long>(s->blocks_done));
    return xm_answer(s, kXmAck);
  }
  if (number == static_cast<uint8_t>(s->expected_block - 1)) {
    // Our ACK of it was lost; the data is already in the file.
    s->eot_seen = 0;
    s->retries = 0;
    return xm_answer(s, kXmAck);
  }
  // A valid block with the wrong number: the sender is elsewhere in the file.
  // It is answered at once, since nothing else of that block is on the way.
  s->eot_seen = 0;
  return xm_recv_retry(s, true);
}

int xm_recv_byte(XmodemState* s, uint8_t byte, bool at_answer) {
  if (s->purging) {
    s->last_io_ms = xm_now(s);
    if (++s->purged < kPurgeMaxBytes) return 0;
    s->purging = 0;
    return xm_answer(s, kXmNak);
  }
  if (s->state == XM_RECV_WAIT) return xm_recv_lead(s, byte, at_answer);
  // The frame never holds more than its largest size, whatever is sent.
  if (s->frame_count < kXmFrameMax) s->recv_frame[s->frame_count++] = byte;
  s->last_io_ms = xm_now(s);
  if (s->frame_count >= s->frame_len) return xm_recv_block_done(s);
  return 0;
}

int xm_recv_pump(XmodemState* s, uint32_t now) {
  if (s->purging) {
    if (now - s->last_io_ms <= kPurgeQuietMs) return 0;
    s->purging = 0;
    return xm_answer(s, kXmNak);
  }
  // A YMODEM-G sender cannot be asked for anything once it streams: only
  // a long silence, inside a block or between two, ends the transfer.
  bool stream_silent = xm_streaming(s) && now - s->last_io_ms > kBlockSilenceMs &&
                       (s->state == XM_RECV_BLOCK || s->batch_phase == YM_DATA);
  if (stream_silent) return xm_fail(s, xm_text(s, "failed: no data for 10 seconds").s);
  if (s->state == XM_RECV_BLOCK) {
    // Before the mode is fixed, a first block that stopped one byte short of
    // the CRC length is a checksum block (a CRC block's last byte follows at
    // once): its sender waits for our answer, which the check decides.
    if (!s->mode_fixed && s->frame_count == s->block_size + 4 &&
        now - s->last_io_ms > kPurgeQuietMs) {
      s->frame_len = s->block_size + 4;
      if (xm_frame_valid(s)) return xm_recv_block_done(s);
      s->eot_seen = 0;
      return xm_recv_retry(s, true);
    }
    if (now - s->last_io_ms > kBlockSilenceMs) return xm_recv_retry(s, true);
    return 0;
  }
  if (s->eot_seen) {
    if (now - s->last_io_ms <= kLoneEotMs) return 0;
    return xm_batch(s) ? ym_recv_file_done(s) : xm_recv_complete(s);
  }
  if (xm_streaming(s) && s->batch_phase == YM_DATA) return 0;
  if (now - s->last_io_ms > kRequestGapMs) return xm_recv_request(s);
  return 0;
}

// ---- receiving a batch ----------------------------------------------------------

// What a YMODEM receiver asks for each block 0 and each file's data with.
uint8_t ym_request_byte(const XmodemState* s) {
  return xm_streaming(s) ? 'G' : kXmCrcRequest;
}

// The sender fell silent between two files.  Every file so far arrived
// whole; whether that was the whole batch only the numbers of files its
// block 0 announced can tell (some senders end a batch without the empty
// block 0, others never say how many files there are).
int ym_recv_batch_stopped(XmodemState* s) {
  if (s->files_announced > s->files_done) {
    return xm_fail(s, xm_text(s, "failed: the sender stopped after %d of %d files", s->files_done,
                              s->files_announced)
                          .s);
  }
  xm_end(s, XM_REPORT_COMPLETE, xm_text(s, "complete (no end of batch)").s);
  return 0;
}

int ym_recv_request(XmodemState* s) {
  if (s->batch_phase == YM_DATA) {
    // Between data blocks: ask for the block again, as XMODEM does.
    if (++s->retries > kMaxRetries) return xm_fail(s);
    xm_report(s, XM_REPORT_RETRY, "receive: sent NAK");
    return xm_answer(s, kXmNak);
  }
  uint8_t ask = ym_request_byte(s);
  if (!xm_retries_limited(s)) {
    s->start_polls++;
  } else if (++s->retries > kMaxRetries) {
    return s->batch_phase == YM_WAIT_HEADER ? ym_recv_batch_stopped(s) : xm_fail(s);
  }
  xm_report(s, XM_REPORT_PROGRESS, "receive: sent %c", ask);
  return xm_answer(s, ask);
}

// Block 0: the next file, or the end of the batch.
int ym_recv_header(XmodemState* s) {
  YmodemFileInfo* f = &s->file;
  if (ymodem_parse_block0(s->recv_frame + 3, static_cast<size_t>(s->block_size), f) == 0) {
    // A YMODEM-G sender does not wait for an answer to the empty block 0.
    if (!xm_streaming(s)) {
      int rc = xm_write_byte(s, kXmAck);
      if (rc != 0) return rc;
    }
    xm_end(s, XM_REPORT_COMPLETE, xm_text(s, "complete").s);
    return 0;
  }
  if (f->has_files_left) {
    uint64_t announced = static_cast<uint64_t>(s->files_done) + f->files_left;
    if (announced > static_cast<uint64_t>(s->files_announced))
      s->files_announced = static_cast<int32_t>(announced > INT32_MAX ? INT32_MAX : announced);
  }
  s->file_stored = 0;
  s->bytes_done = 0;
  s->bytes_total = f->has_size ? clamp32(f->size) : 0;
  s->blocks_done = 0;
  s->retries = 0;
  s->eot_seen = 0;
  // The name as reports show it; the host makes its own safe name to save under.
  size_t n = 0;
  for (; f->name[n] && n + 1 < sizeof s->file_name; n++) {
    unsigned char c = static_cast<unsigned char>(f->name[n]);
    s->file_name[n] = c < 0x20 || c == 0x7F ? '_' : static_cast<char>(c);
  }
  s->file_name[n] = '\0';
  int begin = s->batch.begin_file ? s->batch.begin_file(s->callbacks.context, f) : 0;
  if (begin == 2) {
    s->asking = 1;
    return 0;
  }
  return ym_recv_begun(s, begin);
}

// What the host's begin_file answered for the file of block 0.
int ym_recv_begun(XmodemState* s, int begin) {
  if (begin < 0) return xm_fail(s);
  s->skipping = begin == 1;
  s->closed = s->skipping;  // a skipped file was never opened
  s->expected_block = 1;
  s->batch_phase = YM_WAIT_DATA;
  xm_report(s, XM_REPORT_PROGRESS, s->skipping ? "receive: skipping %s" : "receive: %s",
            s->file_name);
  // The host may have taken its time (a question to the user): the answer
  // goes now, and the time-outs count from it.
  if (!xm_streaming(s)) {
    int rc = xm_answer(s, kXmAck);
    if (rc != 0) return rc;
  }
  return xm_answer(s, ym_request_byte(s));
}

// A data block in sequence: stored up to the size block 0 gave (the rest of
// the last block is padding), or all of it when block 0 gave none.
int ym_recv_data(XmodemState* s) {
  s->batch_phase = YM_DATA;
  uint64_t n = static_cast<uint64_t>(s->block_size);
  if (s->file.has_size && s->file.size - s->file_stored < n) n = s->file.size - s->file_stored;
  const XmodemCallbacks& cb = s->callbacks;
  if (!s->skipping && n > 0 &&
      (!cb.store || cb.store(cb.context, s->recv_frame + 3, static_cast<size_t>(n)) != 0))
    return xm_fail(s);
  s->file_stored += n;
  s->bytes_done = clamp32(s->file_stored);
  s->eot_seen = 0;
  s->retries = 0;
  s->blocks_done++;
  s->expected_block++;
  xm_report(s, XM_REPORT_PROGRESS, "receive: block %lu",
            static_cast<unsigned long>(s->blocks_done));
  if (xm_streaming(s)) {
    s->answered = 1;  // a block boundary, where an EOT may come
    return 0;
  }
  return xm_answer(s, kXmAck);
}

int ym_recv_block(XmodemState* s, uint8_t number) {
  if (number == s->expected_block) {
    return s->batch_phase == YM_WAIT_HEADER ? ym_recv_header(s) : ym_recv_data(s);
  }
  s->eot_seen = 0;
  if (xm_streaming(s)) {
    return xm_fail(s, xm_text(s, "failed: block %u out of order", static_cast<unsigned>(number)).s);
  }
  if (s->batch_phase != YM_WAIT_HEADER && number == static_cast<uint8_t>(s->expected_block - 1)) {
    // Our answer was lost and the block came again; it is already in the
    // file.  Block 0 again also means our request for the data was lost.
    s->retries = 0;
    int rc = xm_answer(s, kXmAck);
    if (rc == 0 && s->batch_phase == YM_WAIT_DATA) rc = xm_answer(s, kXmCrcRequest);
    return rc;
  }
  return xm_recv_retry(s, true);
}

// The sender's EOT ends a file.  It must be whole and on disk before our
// ACK tells the sender so: a file short of the size its block 0 gave, or
// one whose close fails, ends the transfer instead.
int ym_recv_file_done(XmodemState* s) {
  if (!s->skipping) {
    if (s->file.has_size && s->file_stored < s->file.size) {
      return xm_fail(s, xm_text(s, "failed: %.32s ended at %llu of %llu bytes", s->file_name,
                                static_cast<unsigned long long>(s->file_stored),
                                static_cast<unsigned long long>(s->file.size))
                            .s);
    }
    if (!xm_close_file(s)) return xm_fail(s);
  }
  s->files_done++;
  int rc = xm_answer(s, kXmAck);
  if (rc != 0) return rc;
  s->batch_phase = YM_WAIT_HEADER;
  s->expected_block = 0;
  s->eot_seen = 0;
  s->retries = 0;
  s->skipping = 0;
  xm_report(s, XM_REPORT_PROGRESS, "receive: end of %s", s->file_name);
  return xm_answer(s, ym_request_byte(s));
}

// ---- sending ------------------------------------------------------------------

int ym_send_stream(XmodemState* s);
int ym_send_request(XmodemState* s, uint8_t byte, bool header);
int ym_send_header_answer(XmodemState* s, uint8_t byte);
int ym_send_file_done(XmodemState* s);

int xm_send_eot(XmodemState* s) {
  s->eof = 1;
  s->state = XM_SEND_EOT;
  s->retries = 0;
  return xm_write_byte(s, kXmEot);
}

// Fills up to want bytes from the read entry.  Reads are repeated until the
// block is full or the file ends, so a reader that returns less than asked
// does not end the file early.  -1 on a read error.
int xm_read_data(XmodemState* s, uint8_t* data, int want) {
  const XmodemCallbacks& cb = s->callbacks;
  int got = 0;
  while (got < want) {
    int n = cb.read(cb.context, data + got, static_cast<size_t>(want - got));
    if (n < 0) return -1;
    if (n == 0) break;
    got += n < want - got ? n : want - got;
  }
  return got;
}

// Lead byte, block number and its complement before the size data bytes
// already in send_frame, and the check after them.
void xm_seal_frame(XmodemState* s, uint8_t number, int size) {
  uint8_t* f = s->send_frame;
  uint8_t* data = f + 3;
  f[0] = size == 1024 ? kXmStx : kXmSoh;
  f[1] = number;
  f[2] = static_cast<uint8_t>(255 - number);
  if (s->use_crc) {
    uint16_t crc = xmodem_crc16(data, static_cast<size_t>(size));
    f[3 + size] = static_cast<uint8_t>(crc >> 8);
    f[4 + size] = static_cast<uint8_t>(crc);
    s->send_frame_len = size + 5;
  } else {
    f[3 + size] = xmodem_checksum(data, static_cast<size_t>(size));
    s->send_frame_len = size + 4;
  }
}

int xm_send_next_block(XmodemState* s) {
  if (s->eof) return xm_send_eot(s);
  int size = s->preferred_block == 1024 ? 1024 : 128;
  if (s->bytes_total > 0 && s->bytes_total - s->bytes_done <= kSmallTail) size = 128;

  uint8_t* data = s->send_frame + 3;
  int got = 0;
  if (!s->callbacks.read) {
    if (s->bytes_total == 0 || s->bytes_done >= s->bytes_total) return xm_send_eot(s);
  } else {
    got = xm_read_data(s, data, size);
    if (got < 0) return xm_fail(s);
    if (got == 0 && s->bytes_done >= s->bytes_total) return xm_send_eot(s);
  }
  if (got < size) {
    memset(data + got, kXmPad, static_cast<size_t>(size - got));
    s->eof = 1;
  }
  xm_seal_frame(s, s->send_block, size);
  s->send_data_len = got;
  s->state = XM_SEND_BLOCK;
  s->blocks_done = s->send_block;
  xm_report(s, XM_REPORT_PROGRESS, size == 1024 ? "send: 1K block %lu" : "send: block %lu",
            static_cast<unsigned long>(s->send_block));
  return xm_write(s, s->send_frame, static_cast<size_t>(s->send_frame_len));
}

// The block in send_frame has arrived: count its bytes, send the next.
int xm_send_advance(XmodemState* s) {
  if (s->send_data_len > 0) {
    s->bytes_done += static_cast<uint32_t>(s->send_data_len);
    if (s->bytes_total > 0 && s->bytes_done > s->bytes_total) s->bytes_done = s->bytes_total;
  }
  s->retries = 0;
  s->send_block++;
  return xm_send_next_block(s);
}

int xm_send_byte(XmodemState* s, uint8_t byte) {
  switch (s->state) {
    case XM_SEND_START:
      if (xm_batch(s)) return ym_send_request(s, byte, true);
      if (byte != kXmCrcRequest && byte != kXmNak) return 0;
      s->use_crc = byte == kXmCrcRequest;
      s->retries = 0;
      xm_report(s, XM_REPORT_PROGRESS, s->use_crc ? "send: CRC mode" : "send: checksum mode");
      return xm_send_next_block(s);
    case XM_SEND_HEADER:
      return ym_send_header_answer(s, byte);
    case XM_SEND_DATA_START:
      return ym_send_request(s, byte, false);
    case XM_SEND_BLOCK: {
      // A streaming receiver answers nothing until the EOT; a cancel is
      // seen before this (xmodem_consume).
      if (xm_streaming(s)) return 0;
      // A NAK that arrives first after a time-out resend most likely crossed
      // it: the receiver asked for the block while it was already on its way
      // again.  Resending once more would put a second copy on the line, the
      // receiver would acknowledge both, and the second ACK would be taken
      // for the next block, which the receiver then never gets.  Its answer
      // to the copy under way follows; if that copy was damaged, its NAK
      // comes next, or our time-out resends.
      bool crossed = s->timeout_resent != 0;
      s->timeout_resent = 0;
      if (byte == kXmNak && crossed) {
        s->last_io_ms = xm_now(s);
        return 0;
      }
      if (byte == kXmAck) return xm_send_advance(s);
      if (byte == kXmNak) {
        s->retries++;
        xm_report(s, XM_REPORT_RETRY, "retry");
        if (s->retries > kMaxRetries) return xm_fail(s);
        return xm_write(s, s->send_frame, static_cast<size_t>(s->send_frame_len));
      }
      return 0;
    }
    case XM_SEND_EOT:
      if (byte == kXmAck) {
        if (xm_batch(s)) return ym_send_file_done(s);
        xm_end(s, XM_REPORT_COMPLETE, xm_text(s, "complete").s);
        return 0;
      }
      if (byte == kXmNak) {
        s->retries++;
        xm_report(s, XM_REPORT_RETRY, "send: EOT");
        if (s->retries > kMaxRetries) return xm_fail(s);
        return xm_write_byte(s, kXmEot);
      }
      return 0;
    default:
      return 0;
  }
}

int xm_send_pump(XmodemState* s, uint32_t now) {
  if (xm_streaming(s) && s->state == XM_SEND_BLOCK) return ym_send_stream(s);
  if (now - s->last_io_ms <= kRequestGapMs) return 0;
  s->retries++;
  // Every file of the batch has been acknowledged: a receiver that does
  // not ask for the empty block 0, or does not answer it, has all it asked
  // for (some end the batch on their side once a file has come).
  if (xm_batch(s) && s->batch_end && s->files_done > 0 && s->retries > kMaxRetries &&
      (s->state == XM_SEND_START || s->state == XM_SEND_HEADER)) {
    xm_end(s, XM_REPORT_COMPLETE, xm_text(s, "complete (no end of batch)").s);
    return 0;
  }
  xm_report(s, XM_REPORT_RETRY, "retry");
  if (s->retries > kMaxRetries) return xm_fail(s);
  switch (s->state) {
    case XM_SEND_BLOCK:
    case XM_SEND_HEADER:
      s->timeout_resent = 1;
      return xm_write(s, s->send_frame, static_cast<size_t>(s->send_frame_len));
    case XM_SEND_EOT:
      return xm_write_byte(s, kXmEot);
    default:  // still waiting for the receiver's request
      s->last_io_ms = now;
      return 0;
  }
}

// ---- sending a batch ------------------------------------------------------------

// Asks the host for the next file, as soon as the last one is done, so that
// the receiver's request finds its block 0 ready.  -1 when the host failed
// (the caller ends the transfer).
int ym_send_load_next(XmodemState* s) {
  memset(&s->file, 0, sizeof s->file);
  int next = s->batch.next_file ? s->batch.next_file(s->callbacks.context, &s->file) : 0;
  if (next < 0) return -1;
  if (next == 0) {
    s->batch_end = 1;
    return 0;
  }
  s->closed = 0;  // the host has opened it
  s->file.name[kYmNameCap - 1] = '\0';
  if (!s->file.name[0]) return -1;  // a file no block 0 could announce
  safe_copy(s->file_name, sizeof s->file_name, s->file.name);
  s->bytes_total = s->file.has_size ? clamp32(s->file.size) : 0;
  s->bytes_done = 0;
  s->blocks_done = 0;
  return 0;
}

// Block 0 of the current file, or the empty one that ends the batch.
int ym_send_header(XmodemState* s) {
  int size = ymodem_build_block0(s->send_frame + 3, s->batch_end ? nullptr : &s->file);
  if (size < 0) return xm_fail(s, xm_text(s, "failed: the file name is too long").s);
  xm_seal_frame(s, 0, size);
  s->send_data_len = 0;
  s->state = XM_SEND_HEADER;
  s->timeout_resent = 0;
  if (s->batch_end) {
    xm_report(s, XM_REPORT_PROGRESS, "send: end of batch");
  } else {
    xm_report(s, XM_REPORT_PROGRESS, "send: %s", s->file_name);
  }
  int rc = xm_write(s, s->send_frame, static_cast<size_t>(s->send_frame_len));
  // A streaming receiver does not answer the empty block 0.
  if (rc == 0 && s->batch_end && xm_streaming(s))
    xm_end(s, XM_REPORT_COMPLETE, xm_text(s, "complete").s);
  return rc;
}

// The receiver asks for block 0 (header) or for the file's data: "C" for
// CRC-16 blocks, NAK for checksum blocks, "G" for a stream of CRC-16 blocks.
int ym_send_request(XmodemState* s, uint8_t byte, bool header) {
  if (byte != kXmCrcRequest && byte != kXmNak && byte != 'G') return 0;
  s->use_crc = byte != kXmNak;
  // A receiver that asks with NAK knows only checksum blocks: it is an old
  // one, which may not know 1K blocks either.
  s->preferred_block = s->use_crc ? 1024 : 128;
  s->protocol = byte == 'G' ? XM_PROTO_YMODEM_G : XM_PROTO_YMODEM;
  s->retries = 0;
  if (header) return ym_send_header(s);
  s->send_block = 1;
  s->eof = 0;
  s->send_data_len = 0;
  s->timeout_resent = 0;
  int rc = xm_send_next_block(s);
  if (rc == 0 && xm_streaming(s)) rc = ym_send_stream(s);
  return rc;
}

// While block 0 waits for its answer.  A streaming receiver answers with
// its "G" for the data; any other with ACK, and asks for the data after.
int ym_send_header_answer(XmodemState* s, uint8_t byte) {
  bool crossed = s->timeout_resent != 0;  // see XM_SEND_BLOCK
  s->timeout_resent = 0;
  if (byte == kXmAck) {
    if (s->batch_end) {
      xm_end(s, XM_REPORT_COMPLETE, xm_text(s, "complete").s);
      return 0;
    }
    s->state = XM_SEND_DATA_START;
    s->retries = 0;
    s->last_io_ms = xm_now(s);
    return 0;
  }
  if (byte == 'G' && xm_streaming(s) && !s->batch_end) return ym_send_request(s, byte, false);
  if (byte != kXmNak) return 0;
  if (crossed) {
    s->last_io_ms = xm_now(s);
    return 0;
  }
  s->retries++;
  xm_report(s, XM_REPORT_RETRY, "retry");
  if (s->retries > kMaxRetries) return xm_fail(s);
  return xm_write(s, s->send_frame, static_cast<size_t>(s->send_frame_len));
}

// YMODEM-G: the blocks go out one after another, each counted as arrived
// once written (the receiver says nothing unless it must stop us), a burst
// at a time.
int ym_send_stream(XmodemState* s) {
  for (int i = 0; i < kStreamBurst && s->active && s->state == XM_SEND_BLOCK; i++) {
    int rc = xm_send_advance(s);
    if (rc != 0) return rc;
  }
  return 0;
}

// The receiver acknowledged the file's EOT: it has the whole file.
int ym_send_file_done(XmodemState* s) {
  xm_close_file(s);  // a file we read: its close loses nothing
  s->files_done++;
  xm_report(s, XM_REPORT_PROGRESS, "send: %s sent", s->file_name);
  s->state = XM_SEND_START;
  s->retries = 0;
  s->last_io_ms = xm_now(s);
  if (ym_send_load_next(s) != 0) return xm_fail(s);
  return 0;
}

void xm_begin_receive(XmodemState* s, int start_mode) {
  s->active = 1;
  s->mode = 1;
  s->state = XM_RECV_WAIT;
  s->start_mode = (start_mode == 0 || start_mode == 2) ? start_mode : 1;
  s->use_crc = start_mode != 0;
  s->start_polls = 0;
  s->retries = 0;
  s->bytes_done = 0;
  s->bytes_total = 0;
  s->blocks_done = 0;
  s->frame_count = 0;
  s->frame_len = 0;
  s->expected_block = 1;
  s->block_size = 128;
  s->eot_seen = 0;
  s->can_count = 0;
  s->answered = 0;
  s->purging = 0;
  s->mode_fixed = 0;
  s->closed = 0;
  s->protocol = XM_PROTO_XMODEM;
  s->batch_phase = YM_WAIT_HEADER;
  s->skipping = 0;
  s->files_done = 0;
  s->files_announced = 0;
  s->file_stored = 0;
  // Dated two seconds back, so the first pump asks at once whatever the
  // clock reads (a clock at 0 included).
  s->last_io_ms = xm_now(s) - (kRequestGapMs + 1);
}

void xm_begin_send(XmodemState* s, uint32_t file_size) {
  s->bytes_total = file_size;
  s->active = 1;
  s->use_crc = 1;
  s->send_block = 1;
  s->mode = 2;
  s->state = XM_SEND_START;
  s->retries = 0;
  s->bytes_done = 0;
  s->blocks_done = 0;
  s->eof = 0;
  s->send_data_len = 0;
  s->send_frame_len = 0;
  s->eot_seen = 0;
  s->can_count = 0;
  s->timeout_resent = 0;
  s->closed = 0;
  s->preferred_block = 1024;
  s->protocol = XM_PROTO_XMODEM;
  s->files_done = 0;
  s->batch_end = 0;
  s->last_io_ms = xm_now(s);
}

}  // namespace

uint16_t xmodem_crc16(const uint8_t* data, size_t len) {
  uint16_t crc = 0;
  for (size_t i = 0; i < len; i++) {
    crc = static_cast<uint16_t>((crc << 8) ^ kCrcTable[((crc >> 8) ^ data[i]) & 0xFF]);
  }
  return crc;
}

uint8_t xmodem_checksum(const uint8_t* data, size_t len) {
  uint8_t sum = 0;
  for (size_t i = 0; i < len; i++) sum = static_cast<uint8_t>(sum + data[i]);
  return sum;
}

void xmodem_init(XmodemState* s, const XmodemCallbacks* callbacks) {
  if (!s) return;
  memset(s, 0, sizeof *s);
  if (callbacks) s->callbacks = *callbacks;
}

int xmodem_start_receive(XmodemState* s, const char* file_name, int start_mode) {
  if (!s) return -1;
  xm_begin_receive(s, start_mode);
  safe_copy(s->file_name, sizeof s->file_name,
            file_name && file_name[0] ? file_name : "xmodem.prg");
  xm_report(s, XM_REPORT_STARTED, "receive: waiting");
  return 0;
}

int ymodem_start_receive(XmodemState* s, const YmodemBatch* batch, int streaming) {
  if (!s) return -1;
  xm_begin_receive(s, 1);
  s->protocol = streaming ? XM_PROTO_YMODEM_G : XM_PROTO_YMODEM;
  s->batch = batch ? *batch : YmodemBatch{};
  s->mode_fixed = 1;  // CRC-16 blocks only
  s->expected_block = 0;
  s->closed = 1;  // no file is open until a block 0 begins one
  s->file_name[0] = '\0';
  xm_report(s, XM_REPORT_STARTED, "receive: waiting");
  return 0;
}

int xmodem_start_send(XmodemState* s, const char* file_name, uint32_t file_size) {
  if (!s) return -1;
  xm_begin_send(s, file_size);
  safe_copy(s->file_name, sizeof s->file_name,
            file_name && file_name[0] ? file_name : "upload.bin");
  xm_report(s, XM_REPORT_STARTED, "send: waiting for receiver");
  return 0;
}

int ymodem_start_send(XmodemState* s, const YmodemBatch* batch) {
  if (!s) return -1;
  xm_begin_send(s, 0);
  s->protocol = XM_PROTO_YMODEM;
  s->batch = batch ? *batch : YmodemBatch{};
  s->closed = 1;  // until the host opens the first file
  s->file_name[0] = '\0';
  if (ym_send_load_next(s) != 0) {
    // Nothing has been said to the other side yet: no cancel sequence.
    xm_end(s, XM_REPORT_FAILED, xm_text(s, "failed").s);
    return -1;
  }
  xm_report(s, XM_REPORT_STARTED, "send: waiting for receiver");
  return 0;
}

int xmodem_consume(XmodemState* s, uint8_t byte) {
  if (!s || !s->active) return 0;
  // While the host asks its user about a file, what the sender repeats is
  // dropped: block 0 comes again once we answer.
  if (s->asking) return 0;
  bool receiving = s->mode == 1;
  bool at_answer = s->answered != 0;
  s->answered = 0;
  // Inside a block (or what is left of a damaged one) a CAN is data;
  // everywhere else two in a row stop us.
  if (byte == kXmCan && !(receiving && (s->state == XM_RECV_BLOCK || s->purging))) {
    if (++s->can_count >= 2) {
      xm_end(s, XM_REPORT_FAILED, xm_text(s, "canceled").s);
      return 0;
    }
    if (receiving) s->eot_seen = 0;
    return 0;
  }
  s->can_count = 0;
  return receiving ? xm_recv_byte(s, byte, at_answer) : xm_send_byte(s, byte);
}

int xmodem_pump(XmodemState* s) {
  // No time-out runs while the host asks its user: our answer restarts them.
  if (!s || !s->active || s->asking) return 0;
  uint32_t now = xm_now(s);
  return s->mode == 1 ? xm_recv_pump(s, now) : xm_send_pump(s, now);
}

int ymodem_file_begun(XmodemState* s, int begin) {
  if (!s || !s->active || !s->asking) return 0;
  s->asking = 0;
  return ym_recv_begun(s, begin);
}

void xmodem_cancel(XmodemState* s, const char* message) {
  if (!s || !s->active) return;
  xm_send_cancel_sequence(s);
  xm_end(s, XM_REPORT_CANCELLED, message && message[0] ? message : xm_text(s, "canceled").s);
}

void xmodem_abort(XmodemState* s, const char* message) {
  if (!s || !s->active) return;
  xm_end(s, XM_REPORT_FAILED, message && message[0] ? message : xm_text(s, "failed").s);
}

int xmodem_is_active(const XmodemState* s) {
  return s && s->active > 0 ? 1 : 0;
}
