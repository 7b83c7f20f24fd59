// The ZMODEM sender: one file, or a batch of them one after another, per
// upload.  It wakes the remote receiver, offers each file, streams it (ZCRCG subpackets to a receiver that takes a
// continuous stream, ZCRCW and a wait for ZACK otherwise), restarts wherever
// the receiver asks, and ends with the ZEOF / ZFIN / "OO" exchange.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "transfer/zmodem.h"
#include "util/text.h"

namespace {

constexpr uint8_t kRzInit[3] = {'r', 'z', 0x0D};
constexpr uint8_t kOO[2] = {'O', 'O'};

void fail_start(ZmodemState* z, const char* name, const char* why) {
  zm_set_status(z, "%s: %s", why, name);
  zm_draw(z);
  zm_end(z, why, kZmodemFailed);
  if (z->hooks.restore_terminal) z->hooks.restore_terminal(z->hooks.ctx);
}

int send_zfin(ZmodemState* z, const char* message) {
  if (zmodem_send_binary_header(z, ZFIN, 0) != 0) return -1;
  zm_reset_parser(z);
  z->send_o_count = 0;
  z->data_kind = 0;
  z->send_state = 4;
  z->zfin_sent = 1;
  z->streaming = 0;
  z->frame_open = 0;
  z->parse_state = 1;
  z->last_progress_ms = zm_now(z);
  zm_set_status(z, "%s", message);
  zm_draw(z);
  return 0;
}

int send_eof(ZmodemState* z) {
  if (zmodem_send_binary_header(z, ZEOF, z->position) != 0) return -1;
  z->data_kind = 0;
  zm_reset_parser(z);
  z->send_state = 4;
  z->parse_state = 1;
  z->streaming = 0;
  z->frame_open = 0;
  z->last_progress_ms = zm_now(z);
  zm_set_status(z, "Sent EOF");
  zm_draw(z);
  return 0;
}

// Opens the file to send as z->file, named for the receiver in
// z->file_name.  Null, or why it cannot be sent.
const char* open_upload(ZmodemState* z, const char* path) {
  char picked[kTransferPathCap];
  safe_copy(picked, sizeof picked, path);
  trim(picked);
  z->file_name[0] = '\0';
  const char* base = strrchr(picked, '/');
  base = base ? base + 1 : picked;
  if (!base[0]) return "Upload file not found";
  zmodem_sanitize_name(z->file_name, base);
  safe_copy(z->file_path, sizeof z->file_path, picked);
  FILE* f = fopen(z->file_path, "rb");
  struct stat st;
  if (!f || fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
    if (f) fclose(f);
    return "Upload file not found";
  }
  // Positions on the wire are 32 bits: a larger file would wrap and corrupt.
  if (st.st_size > 0xFFFFFFFFll) {
    fclose(f);
    return "File too large for ZMODEM";
  }
  setvbuf(f, nullptr, _IOFBF, 65536);
  z->file = f;
  z->file_size = static_cast<uint32_t>(st.st_size);
  return nullptr;
}

// The current file is done with (the receiver took it, or skipped it): the
// batch's next file is offered, or ZFIN ends the session.
int next_file_or_finish(ZmodemState* z, const char* finishing) {
  if (z->file) fclose(z->file);
  z->file = nullptr;
  char path[kTransferPathCap];
  if (!z->hooks.next_upload || !z->hooks.next_upload(z->hooks.ctx, path, sizeof path))
    return send_zfin(z, finishing);
  const char* why = open_upload(z, path);
  if (why) {
    // The files before it are with the receiver: end the session properly,
    // but the batch failed.
    zm_set_status(z, "%s: %s", why, z->file_name[0] ? z->file_name : path);
    zm_draw(z);
    zmodem_cancel(z, z->status_text);
    return 0;
  }
  z->position = z->byte_count = z->acked = z->start_offset = 0;
  z->last_flush_count = 0;
  z->restart_pos = 0;
  z->restart_ms = 0;
  z->error_count = 0;
  z->resend_count = 0;
  z->window_wait = 0;
  z->frame_open = 0;
  z->send_o_count = 0;
  z->start_ms = z->last_progress_ms = zm_now(z);
  return zmodem_send_upload_file_info(z);
}

// The longest subpacket for this receiver.  8 KiB (as ZedZap senders do)
// to one that takes a continuous stream while it writes (CANOVIO, no
// buffer limit) or said its buffer holds 8 KiB, and checks CRC-32 (16 bits
// are too weak a check for 8 KiB); 1 KiB to every other.  A receiver that cannot take 8 KiB after all asks for the
// data again: any restart (ZRPOS) after the first goes back to 1 KiB for
// the rest of the upload.
uint32_t subpacket_for(const ZmodemState* z) {
  bool room = (z->peer_buffer == 0 && (z->peer_flags & kZmodemCanOvio)) ||
              z->peer_buffer >= static_cast<uint32_t>(kZmodemMaxSubpacket);
  bool big = room && (z->peer_flags & kZmodemCanFc32) && z->use_crc32;
  return big ? kZmodemMaxSubpacket : kZmodemSmallSubpacket;
}

// The next subpacket's length: up to the next multiple of the longest, so
// that after a short first subpacket the stream's subpackets stay aligned.
// A line too slow to take 8 KiB in a slice's time gets 1 KiB subpackets:
// the status box moves with each one, and a damaged one costs less.
size_t subpacket_size(const ZmodemState* z) {
  uint32_t most = z->subpacket_max ? z->subpacket_max : kZmodemSmallSubpacket;
  if (most > static_cast<uint32_t>(kZmodemMaxSubpacket)) most = kZmodemMaxSubpacket;
  if (z->slice_limit != 0 && z->slice_limit < most) most = kZmodemSmallSubpacket;
  return most - z->position % most;
}

// The end character for a subpacket that is not the file's last.
uint8_t continuing_end(const ZmodemState* z) {
  return (z->peer_flags & kZmodemCanOvio) && z->peer_buffer == 0 ? ZCRCG : ZCRCW;
}

}  // namespace

int zmodem_start_upload(ZmodemState* z, const char* path) {
  if (z->active && z->direction == 1) return 0;
  bool receiver_ready = z->active && z->direction == 0;
  uint32_t kept = receiver_ready ? z->header_value : 0;
  // A receiver that announced itself just after our last upload (its
  // ZRINIT was answered with nothing then) is still waiting: it gets the
  // file at once rather than a wake-up it would have to answer first.
  bool assumed = false;
  if (!receiver_ready && z->waiting_receiver_ms != 0 &&
      zm_now(z) - z->waiting_receiver_ms < kZmodemTrailingMs) {
    receiver_ready = assumed = true;
    kept = z->waiting_receiver_value;
  }
  zm_clear_transfer(z);
  z->waiting_receiver_ms = z->waiting_receiver_value = 0;
  z->assumed_ready = assumed ? 1 : 0;
  z->active = 1;
  z->direction = 1;
  z->parse_state = 1;
  z->send_state = 1;
  z->peer_flags = kept >> 24;
  z->peer_buffer = kept & 0xFFFF;
  // A receiver that did not say it checks CRC-32 gets CRC-16, which every
  // receiver must take.
  z->use_crc32 = receiver_ready ? (z->peer_flags & kZmodemCanFc32) != 0 : 1;
  if (receiver_ready) z->subpacket_max = subpacket_for(z);
  z->data_crc_len = z->header_crc_len = 4;
  z->ending = kZmodemRunning;
  if (z->hooks.hide_cursor) z->hooks.hide_cursor(z->hooks.ctx);

  const char* why = open_upload(z, path);
  if (why) {
    fail_start(z, z->file_name[0] ? z->file_name : path, why);
    return 0;
  }
  z->start_ms = z->last_progress_ms = zm_now(z);
  if (receiver_ready) {
    zm_set_status(z, "Receiver ready; sending file");
    z->send_state = 2;
    return zmodem_send_upload_file_info(z);
  }
  zm_set_status(z, "Waiting for receiver");
  zm_draw(z);
  return zmodem_send_upload_init(z);
}

void zmodem_fail_upload(ZmodemState* z, const char* name, const char* why) {
  if (z->active) return;
  zm_clear_transfer(z);
  z->active = 1;
  z->direction = 1;
  z->ending = kZmodemRunning;
  zmodem_sanitize_name(z->file_name, name ? name : "");
  if (z->hooks.hide_cursor) z->hooks.hide_cursor(z->hooks.ctx);
  fail_start(z, z->file_name, why);
}

int zmodem_send_upload_init(ZmodemState* z) {
  if (zm_send(z, kRzInit, sizeof kRzInit) != 0) return -1;
  if (zmodem_send_hex_header_with_crc(z, ZRQINIT, 0) != 0) return -1;
  z->last_send_ms = zm_now(z);
  zm_reset_parser(z);
  z->parse_state = 1;
  zm_set_status(z, "Sent ZRQINIT; waiting for ZRINIT");
  zm_draw(z);
  return 0;
}

int zmodem_send_upload_file_info(ZmodemState* z) {
  char text[256];
  size_t name_len = strlen(z->file_name);
  int n = snprintf(text, sizeof text, "%s%c%lu 0 0 0 0 0%c", z->file_name, 0,
                   static_cast<unsigned long>(z->file_size), 0);
  if (n < 0 || n > 223 || name_len == 0) return -1;
  // ZF0 (P3) the conversion, ZF1 (P2) the management option.
  uint32_t options = z->hooks.upload_crash_recovery ? kZmodemCresume << 24 : 0x01020000u;
  if (zmodem_send_binary_header(z, ZFILE, options) != 0) return -1;
  if (zmodem_send_data_packet(z, reinterpret_cast<const uint8_t*>(text), static_cast<size_t>(n),
                              ZCRCW) != 0)
    return -1;
  z->send_state = 2;
  z->frame_open = 0;
  z->streaming = 0;
  z->last_send_ms = zm_now(z);
  zm_reset_parser(z);
  z->parse_state = 1;
  zm_set_status(z, z->resend_count > 0 ? "Resent file: %s" : "Sending file: %s", z->file_name);
  zm_draw(z);
  return 0;
}

// Sends from position on: one subpacket ending ZCRCW (then the receiver's
// ZACK continues), or a stream of ZCRCG subpackets of at most
// kZmodemStreamSlice bytes per call (z->streaming asks for the next call),
// or the rest of the file followed by ZEOF.
namespace {

int upload_chunk(ZmodemState* z) {
  if (!z->file) return -1;
  uint8_t cont = continuing_end(z);
  bool force_wait = z->send_state == 2 && !z->frame_open;  // the first data after ZFILE or ZRPOS
  z->send_state = 2;
  z->streaming = 0;
  if (fseek(z->file, static_cast<long>(z->position), SEEK_SET) != 0) return -1;
  if (!z->frame_open) zm_set_status(z, "Uploading: %s", z->file_name);
  uint32_t sent = 0;
  uint8_t buf[kZmodemMaxSubpacket];
  // The first data after ZFILE or a restart waits for the receiver's ZACK:
  // one small subpacket.
  size_t want = force_wait ? kZmodemSmallSubpacket : subpacket_size(z);
  for (;;) {
    size_t n = fread(buf, 1, want, z->file);
    if (n == 0) {
      if (ferror(z->file)) return -1;
      return send_eof(z);
    }
    uint8_t end = ZCRCE;
    if (n == want && z->position + n < z->file_size) end = force_wait ? ZCRCW : cont;
    // A ZACK is asked for where the stream crosses a multiple of kZmodemAckEvery.
    if (end == ZCRCG && (z->position + n) / kZmodemAckEvery != z->position / kZmodemAckEvery)
      end = ZCRCQ;
    force_wait = false;
    if (!z->frame_open) {
      if (zmodem_send_binary_header(z, ZDATA, z->position) != 0) return -1;
      z->frame_open = 1;
    }
    if (zmodem_send_data_packet(z, buf, n, end) != 0) return -1;
    z->position += static_cast<uint32_t>(n);
    z->byte_count += static_cast<uint32_t>(n);
    sent += static_cast<uint32_t>(n);
    want = subpacket_size(z);
    if (end != ZCRCG || z->byte_count - z->last_flush_count > 32767 || zm_progress_due(z)) {
      z->last_flush_count = z->byte_count;
      zm_draw(z);
    }
    if (end == ZCRCW) {
      z->frame_open = 0;
      z->send_state = 3;
      z->parse_state = 1;
      z->data_kind = 0;
      zm_reset_parser(z);
      z->last_progress_ms = zm_now(z);
      return 0;
    }
    if (end == ZCRCE) {
      z->frame_open = 0;
      return send_eof(z);
    }
    if (end == ZCRCQ && z->position - z->acked >= kZmodemWindow) {
      z->window_wait = 1;  // the frame stays open; a ZACK resumes it
      z->last_progress_ms = zm_now(z);
      return 0;
    }
    z->stop_poll_count += static_cast<uint32_t>(n);
    if (z->stop_poll_count >= kZmodemStopPollBytes) {
      z->stop_poll_count = 0;
      if (z->hooks.stop_requested && z->hooks.stop_requested(z->hooks.ctx)) {
        zmodem_cancel(z, "Upload cancelled");
        return 0;
      }
    }
    // The slice ends before the subpacket that would take it past its size.
    if (sent + want > (z->slice_limit ? z->slice_limit : kZmodemStreamSlice)) {
      z->streaming = 1;  // the session reads the line, then calls again
      return 0;
    }
  }
}

// The next slice's size from how long this one took to go out: a full
// socket holds the writes back, so the time is the line's.
void adapt_slice(ZmodemState* z, uint32_t bytes, uint32_t ms) {
  uint64_t fits = ms ? static_cast<uint64_t>(bytes) * kZmodemSliceMs / ms : kZmodemStreamSlice;
  fits = fits / 1024 * 1024;
  z->slice_limit =
      static_cast<uint32_t>(fits < 1024 ? 1024 : std::min<uint64_t>(fits, kZmodemStreamSlice));
}

}  // namespace

int zmodem_send_upload_chunk(ZmodemState* z) {
  // Everything this call sends (headers, subpackets, ZEOF, a cancel) goes
  // out in order, gathered into few writes; a write that fails fails the
  // call.
  uint32_t start = zm_now(z);
  uint32_t before = z->byte_count;
  z->batching = 1;
  int r = upload_chunk(z);
  z->batching = 0;
  if (zm_flush_batch(z) != 0) r = -1;
  if (r == 0 && z->streaming) {
    uint32_t now = zm_now(z);
    adapt_slice(z, z->byte_count - before, now - start);
    // The slice has left: a slow line shows it now rather than at the
    // next slice's start.
    if (zm_progress_due(z)) zm_draw(z);
  }
  return r;
}

uint32_t zmodem_upload_file_crc32(ZmodemState* z, uint32_t length) {
  if (!z->file) return 0;
  long saved = ftell(z->file);
  if (saved < 0) saved = 0;
  if (fseek(z->file, 0, SEEK_SET) != 0) return 0;
  uint32_t crc = 0xFFFFFFFFu;
  uint8_t buf[1024];
  size_t total = 0;
  size_t n;
  // A receiver checking the part of the file it has asks for the CRC of
  // that many bytes (crash recovery); 0 asks for the whole file.
  size_t left = length ? length : SIZE_MAX;
  while (left > 0 && (n = fread(buf, 1, std::min(sizeof buf, left), z->file)) > 0) {
    crc = zmodem_crc32(buf, n, crc);
    total += n;
    left -= n;
  }
  fseek(z->file, saved, SEEK_SET);
  return total ? ~crc : 0;
}

int zm_handle_send_header(ZmodemState* z) {
  int type = z->header[0];
  uint32_t value = z->header_value;
  z->last_progress_ms = zm_now(z);
  z->send_stalls = 0;
  switch (type) {
    case ZRINIT:
      z->peer_buffer = value & 0xFFFF;
      z->peer_flags = value >> 24;
      z->use_crc32 = (z->peer_flags & kZmodemCanFc32) != 0;
      z->data_crc_len = z->header_crc_len = 4;
      // Once per upload: a restart that sent us back to 1 KiB holds for
      // the files after it too.
      if (z->subpacket_max == 0) z->subpacket_max = subpacket_for(z);
      if (z->peer_buffer)
        zm_set_status(z, "Receiver mode 0x%02lx buf %lu", static_cast<unsigned long>(z->peer_flags),
                      static_cast<unsigned long>(z->peer_buffer));
      else
        zm_set_status(z, "Receiver mode 0x%02lx", static_cast<unsigned long>(z->peer_flags));
      zm_draw(z);
      if (z->send_state == 2 && z->byte_count == 0 && !z->frame_open &&
          zm_now(z) - z->last_send_ms < kZmodemResendMs) {
        // A receiver that was already waiting sends ZRINIT on its own and
        // again for our ZRQINIT: the second one crosses our ZFILE.  Offering
        // the file twice would double every later step; the repeat timer
        // offers it again if this ZFILE was really lost.
        return 0;
      }
      if (z->send_state == 1 || z->send_state == 2) return zmodem_send_upload_file_info(z);
      if (z->send_state == 4 && !z->zfin_sent) {
        // The answer to our ZEOF: the receiver has the whole file.
        ++z->files_done;
        return next_file_or_finish(z, "Finishing upload");
      }
      if (z->send_state == 4) return send_zfin(z, "Finishing upload");
      return 0;
    case ZACK:
      zm_set_status(z, "Receiver ACK %lu", static_cast<unsigned long>(value));
      zm_draw(z);
      if (z->send_state == 2 && z->frame_open) {
        uint32_t confirmed = value < z->position ? value : z->position;
        if (confirmed > z->acked) z->acked = confirmed;
        if (z->window_wait && z->position - z->acked < kZmodemWindow) {
          z->window_wait = 0;
          z->streaming = 1;
        }
        return 0;
      }
      if (z->send_state != 3) return 0;
      if (value > z->acked) z->acked = value;
      if (value > z->position)
        z->position = z->byte_count = value < z->file_size ? value : z->file_size;
      return zmodem_send_upload_chunk(z);
    case ZSKIP:
      if (z->zfin_sent) return 0;  // nothing is on offer any more
      ++z->skipped;
      return next_file_or_finish(z, "Upload skipped; finishing");
    case ZNAK:
      // Our last header arrived damaged: say it again.
      if (z->send_state == 1) return zmodem_send_upload_init(z);
      if (z->send_state == 2 && z->byte_count == 0 && !z->frame_open)
        return zmodem_send_upload_file_info(z);
      return 0;
    case ZFIN: {
      int r = zm_send(z, kOO, sizeof kOO);
      // Only an answer to our own ZFIN means the receiver has the file.
      // A receiver that took files of a batch and then ends the session
      // when offered the next (a BBS upload area that takes one file at a
      // time) has what it took: the batch ends there, and says so.
      bool offering_next = z->send_state == 2 && z->byte_count == 0 && !z->frame_open;
      if (z->zfin_sent) {
        zm_end_upload(z);
      } else if (offering_next && z->files_done > 0) {
        char text[96];
        snprintf(text, sizeof text, "Upload finished: the receiver ended the batch after %d file%s",
                 z->files_done, z->files_done == 1 ? "" : "s");
        zm_end(z, text, kZmodemSucceeded);
      } else if (offering_next && z->skipped > 0) {
        zm_end(z, "Upload skipped by the receiver", kZmodemFailed);
      } else {
        zm_end(z, "Receiver ended the transfer", kZmodemFailed);
      }
      if (z->hooks.restore_terminal) z->hooks.restore_terminal(z->hooks.ctx);
      (void)r;  // the transfer has ended either way
      return 0;
    }
    case ZRPOS: {
      if (z->send_state == 3 && value == z->restart_pos && zm_now(z) - z->restart_ms < 2000) {
        // The same request again while the restart it asked for waits for
        // its ZACK: a receiver still reading the stream we sent before
        // repeats itself.  Restarting again would only put more stale data
        // in its way; if our restart was lost, the time-outs repeat it.
        return 0;
      }
      bool first = z->send_state == 2 && z->byte_count == 0 && !z->frame_open;
      z->restart_pos = value;
      z->restart_ms = zm_now(z);
      z->window_wait = 0;
      z->position = z->byte_count = value < z->file_size ? value : z->file_size;
      z->acked = z->position;
      if (first) {
        // The answer to ZFILE: where the receiver wants the data from, 0
        // or (a receiver that holds part of the file, rz --resume) beyond.
        z->start_offset = z->position;
      } else {
        ++z->error_count;
        z->subpacket_max = kZmodemSmallSubpacket;
      }
      z->send_state = 2;
      z->frame_open = 0;
      z->streaming = 0;
      z->zfin_sent = 0;
      zm_set_status(z, "Receiver requested ZRPOS %lu", static_cast<unsigned long>(value));
      zm_draw(z);
      return zmodem_send_upload_chunk(z);
    }
    case ZCRC:
      if (zmodem_send_binary_header(z, ZCRC, zmodem_upload_file_crc32(z, value)) != 0) return -1;
      zm_set_status(z, "Sent file CRC");
      z->send_state = 2;
      zm_draw(z);
      return 0;
    default:
      zm_set_status(z, "Upload header: %s", zmodem_frame_name(type));
      zm_draw(z);
      return 0;
  }
}

void zm_end_upload(ZmodemState* z) {
  // A skipped file went nowhere: an upload where every file was skipped is
  // no finished upload.
  if (z->skipped > 0 && z->files_done == 0) {
    zm_end(z, "Upload skipped by the receiver", kZmodemFailed);
  } else if (z->skipped > 0) {
    char text[96];
    snprintf(text, sizeof text, "Upload finished; %d skipped by the receiver", z->skipped);
    zm_end(z, text, kZmodemSucceeded);
  } else {
    zm_end(z, "Upload finished", kZmodemSucceeded);
  }
}

int zmodem_upload_pump(ZmodemState* z) {
  if (!z->active || z->direction != 1) return 0;
  uint32_t now = zm_now(z);
  if (z->rx_seen) {
    z->rx_seen = 0;
    z->last_progress_ms = now;
  }
  if (z->streaming) return zmodem_send_upload_chunk(z);
  bool offering =
      z->send_state == 1 || (z->send_state == 2 && z->byte_count == 0 && !z->frame_open);
  if (offering) {
    if (z->last_send_ms != 0 && now - z->last_send_ms < kZmodemResendMs) return 0;
    if (z->resend_count <= 5) {
      ++z->resend_count;
      if (z->assumed_ready && z->send_state == 2) {
        // The receiver we took to be waiting did not answer: it may have
        // given up meanwhile.  Wake one as for any upload.
        z->assumed_ready = 0;
        z->send_state = 1;
      }
      return z->send_state == 1 ? zmodem_send_upload_init(z) : zmodem_send_upload_file_info(z);
    }
    if (now - z->last_send_ms >= kZmodemSendStallMs) zmodem_cancel(z, "No response from receiver");
    return 0;
  }
  if (z->send_state != 3 && z->send_state != 4 && !z->window_wait) return 0;
  if (now - z->last_progress_ms < kZmodemSendStallMs) return 0;
  // Waiting for a ZACK or for the end, and the line has been silent: our
  // last words were probably lost.  Say them again a few times.
  z->last_progress_ms = now;
  if (++z->send_stalls > kZmodemMaxSendStalls) {
    zmodem_cancel(z, "No response from receiver");
    return 0;
  }
  if (z->window_wait) {
    // The ZACK that would open the window was lost: go on from what the
    // receiver confirmed (it asks for its own position if it has more).
    z->window_wait = 0;
    z->position = z->byte_count = z->acked;
    z->send_state = 2;
    z->frame_open = 0;
    return zmodem_send_upload_chunk(z);
  }
  if (z->send_state == 3) {
    z->send_state = 2;
    z->frame_open = 0;
    return zmodem_send_upload_chunk(z);
  }
  if (z->zfin_sent) return send_zfin(z, "Finishing upload");
  return send_eof(z);
}
