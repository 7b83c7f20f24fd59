// The ZMODEM receiver: answers the sender's headers, opens each announced
// file in the download directory (asking before an existing file is touched,
// and resuming a shorter one when asked to, once the sender's CRC of the
// part on disk agrees), writes data only after its CRC held, and finishes
// after the sender's ZFIN.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "transfer/zmodem.h"
#include "util/text.h"

namespace {

const char* download_dir(ZmodemState* z) {
  const char* dir = z->hooks.download_dir ? z->hooks.download_dir(z->hooks.ctx) : nullptr;
  return dir ? dir : "";
}

void close_incomplete(ZmodemState* z) {
  if (!z->file) return;
  fclose(z->file);
  z->file = nullptr;
  ++z->incomplete;
}

// A subpacket that failed (bad CRC, too long) or a stall: one more failure
// without progress.  Past the limit the transfer is given up; returns 1 then.
int count_failure(ZmodemState* z, const char* why) {
  if (++z->failures <= kZmodemMaxFailures) return 0;
  char message[96];
  snprintf(message, sizeof message, "%s at %lu; given up", why,
           static_cast<unsigned long>(z->position));
  zmodem_cancel(z, message);
  return 1;
}

// Asks the sender to go on from the last byte we hold.
int request_position(ZmodemState* z) {
  z->zrpos_pending = 1;
  z->data_kind = 0;
  z->parse_state = 1;
  zm_reset_parser(z);
  return zmodem_send_hex_header_with_crc(z, ZRPOS, z->position);
}

// Local trouble (no file, write error): the sender is told to stop, so it
// does not go on streaming into the terminal.
void abort_transfer(ZmodemState* z) {
  zmodem_cancel(z, "ZMODEM aborted");
}

// The file could not take the data (a full disk, a size limit): the
// transfer ends with the reason, and the sender is told to stop.
void write_failed(ZmodemState* z, int err) {
  char message[96];
  snprintf(message, sizeof message, "Write failed: %s", strerror(err ? err : EIO));
  zm_set_status(z, "Write failed");
  zm_draw(z);
  zmodem_cancel(z, message);
}

// Closes the file at its ZEOF.  0, or the errno of a flush or close that
// failed (the last buffered bytes never reached the disk).
int close_received(ZmodemState* z) {
  errno = 0;
  int err = fflush(z->file) != 0 || ferror(z->file) ? (errno ? errno : EIO) : 0;
  if (fclose(z->file) != 0 && err == 0) err = errno ? errno : EIO;
  z->file = nullptr;
  return err;
}

void parse_file_numbers(ZmodemState* z) {
  size_t name_len = strnlen(z->info, static_cast<size_t>(z->info_len));
  const char* p = z->info + name_len + 1;
  const char* end = z->info + z->info_len;
  for (int index = 0; p < end; ++index) {
    while (p < end &&
           (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f'))
      ++p;
    if (p >= end || *p < '0' || *p > '9') break;
    unsigned long long value = 0;
    while (p < end && *p >= '0' && *p <= '9') {
      if (value < 0xFFFFFFFFull) value = value * 10 + static_cast<unsigned>(*p - '0');
      ++p;
    }
    if (value > 0xFFFFFFFFull) value = 0xFFFFFFFFull;
    if (index == 0) z->announced_size = static_cast<uint32_t>(value);
    // The count of files remaining includes the one being offered (sz sends
    // 1 for a single file), so the batch is the files before it plus that.
    if (index == 4) {
      int32_t remaining = static_cast<int32_t>(value > 32767 ? 32767 : value);
      z->files_total = z->files_done - 1 + (remaining > 0 ? remaining : 1);
    }
  }
}

// CRC-32 of the first length bytes of the file at path (as a sender
// computes it for ZCRC).  False when they cannot all be read.
bool prefix_crc32(const char* path, uint32_t length, uint32_t* crc) {
  int fd = open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  uint32_t c = 0xFFFFFFFFu;
  uint8_t buf[16384];
  uint32_t left = length;
  while (left > 0) {
    ssize_t n = read(fd, buf, left < sizeof buf ? left : sizeof buf);
    if (n <= 0) break;
    c = zmodem_crc32(buf, static_cast<size_t>(n), c);
    left -= static_cast<uint32_t>(n);
  }
  close(fd);
  *crc = ~c;
  return left == 0;
}

// zmodem_open_receive_file's result when the file-exists question is out
// and its answer comes later (zmodem_answer_exists).
constexpr int kOpenAsked = 3;

// The answer to the file-exists question as the receiver takes it:
// kZmodemResume only where it was offered.
int exists_answered(ZmodemState* z, int answer, int can_resume) {
  if (answer == kZmodemResume && !can_resume) answer = kZmodemRename;
  // The question may have kept the user a while: that was no stall.
  z->last_progress_ms = zm_now(z);
  return answer;
}

// The file-exists question, with what is known of both files when the
// host can take it; kTransferExistsAsked when the host answers later.
int ask_exists(ZmodemState* z, long long existing, int can_resume, int resume_failed) {
  int answer = kZmodemRename;
  if (z->hooks.file_exists_resume) {
    ZmodemExistsQuestion q{z->file_name, existing, z->announced_size, can_resume, resume_failed};
    answer = z->hooks.file_exists_resume(z->hooks.ctx, &q);
  } else if (z->hooks.file_exists) {
    answer = z->hooks.file_exists(z->hooks.ctx, z->file_name);
  }
  if (answer == kTransferExistsAsked) return answer;
  return exists_answered(z, answer, can_resume);
}

// Resuming: the sender is asked for the CRC of the part on disk; nothing
// is opened until it answers (resume_checked).
int ask_resume_check(ZmodemState* z, uint32_t length) {
  z->resume_state = 1;
  z->resume_len = length;
  zm_set_status(z, "Checking %s", z->file_name);
  zm_draw(z);
  return zmodem_send_hex_header_with_crc(z, ZCRC, length);
}

// The part on disk is taken as the start of the offered file: it is opened
// to append, and the sender asked for the rest.  0, or -1 after the
// transfer ended.
int resume_file(ZmodemState* z) {
  z->resume_state = 0;
  z->file = transfer_open_resume(z->file_path, z->resume_len, z->file_buffer,
                                 sizeof z->file_buffer);
  if (!z->file) {
    zm_set_status(z, "Could not open %s", z->file_name);
    zm_draw(z);
    abort_transfer(z);
    return -1;
  }
  ++z->files_done;
  parse_file_numbers(z);
  z->position = z->start_offset = z->resume_len;
  z->byte_count = z->last_flush_count = 0;
  z->start_ms = zm_now(z);
  z->failures = 0;
  zm_set_status(z, "Resuming %s at %lu", z->file_name, static_cast<unsigned long>(z->position));
  zm_draw(z);
  if (request_position(z) != 0) {
    zm_end(z, "ZMODEM aborted", kZmodemFailed);
    return -1;
  }
  return 0;
}

// What the offer of a file comes to once zmodem_open_receive_file has
// answered: the first data asked for, the file skipped, the transfer
// aborted, or (2) a resume check under way.
void answer_offer(ZmodemState* z, int r) {
  if (r == 2) return;
  if (r == kOpenAsked) {
    z->exists_pending = kZmodemAskedByOffer;
    return;
  }
  if (r == 1) {
    if (zmodem_send_hex_header_with_crc(z, ZSKIP, 0) != 0)
      zm_end(z, "ZMODEM aborted", kZmodemFailed);
    return;
  }
  if (r < 0) {
    abort_transfer(z);
    return;
  }
  z->failures = 0;
  if (zmodem_send_hex_header_with_crc(z, ZRPOS, 0) != 0) {
    zm_end(z, "ZMODEM aborted", kZmodemFailed);
    return;
  }
  zm_set_status(z, "Requested file data");
  zm_draw(z);
}

// The sender's CRC of the part on disk has come.  Equal: resume.  Else
// the part is another file's: nothing was changed on disk, and the
// question comes again without resuming.
void resume_checked(ZmodemState* z, uint32_t sender_crc) {
  uint32_t ours = 0;
  bool same = prefix_crc32(z->file_path, z->resume_len, &ours) && ours == sender_crc;
  if (same) {
    resume_file(z);
    return;
  }
  z->resume_state = 2;
  zm_set_status(z, "Resume refused: %s differs from the offered file", z->file_name);
  zm_draw(z);
  answer_offer(z, zmodem_open_receive_file(z));
}

void finish_download(ZmodemState* z) {
  if (z->trailing) {
    zmodem_finish_silent(z);
    return;
  }
  if (z->file || z->incomplete) {
    close_incomplete(z);
    char message[96];
    snprintf(message, sizeof message, "ZMODEM ended with %d incomplete file%s", z->incomplete,
             z->incomplete == 1 ? "" : "s");
    zm_end(z, message, kZmodemFailed);
  } else {
    zm_end(z, "ZMODEM finished", kZmodemSucceeded);
  }
  if (z->hooks.restore_terminal) z->hooks.restore_terminal(z->hooks.ctx);
}

// The file information of a ZFILE is complete.
void file_info_done(ZmodemState* z) {
  size_t n = static_cast<size_t>(z->packet_len);
  if (n > sizeof z->info - 1) n = sizeof z->info - 1;
  memcpy(z->info, z->packet, n);
  z->info[n] = '\0';
  z->info_len = static_cast<int32_t>(n);
  z->data_kind = 0;
  z->parse_state = 1;
  zm_reset_parser(z);
  if (z->file) {
    // The sender offers a file again while one is open: the same one goes
    // on from where we are; another one closes the first, which is then
    // incomplete (its data never goes into the wrong file).
    char offered[kTransferNameCap];
    zmodem_sanitize_name(offered, z->info_len ? z->info : kTransferDefaultName);
    if (strcmp(offered, z->open_info_name) == 0) {
      if (request_position(z) != 0) zm_end(z, "ZMODEM aborted", kZmodemFailed);
      return;
    }
    close_incomplete(z);
  }
  if (z->resume_state == 1) {
    // The same file offered again instead of an answer to our ZCRC: the
    // sender cannot say what its file begins with, so the part on disk is
    // taken as it is (the user, or the sender, asked to resume).  Another
    // file ends the wait.
    char offered[kTransferNameCap];
    zmodem_sanitize_name(offered, z->info_len ? z->info : kTransferDefaultName);
    if (strcmp(offered, z->open_info_name) == 0) {
      resume_file(z);
      return;
    }
    z->resume_state = 0;
  }
  if (z->resume_state == 2) {
    char offered[kTransferNameCap];
    zmodem_sanitize_name(offered, z->info_len ? z->info : kTransferDefaultName);
    if (strcmp(offered, z->open_info_name) != 0) z->resume_state = 0;
  }
  answer_offer(z, zmodem_open_receive_file(z));
}

// File data whose CRC held.  0, or -1 after the transfer ended.
int commit_data(ZmodemState* z) {
  size_t n = static_cast<size_t>(z->packet_len);
  if (!z->file || n == 0) return 0;
  errno = 0;
  if (fwrite(z->packet, 1, n, z->file) != n) {
    write_failed(z, errno);
    return -1;
  }
  z->position += static_cast<uint32_t>(n);
  z->byte_count += static_cast<uint32_t>(n);
  z->fallback_zrinit = 0;
  z->eof_seen = z->zfin_seen = z->recv_o_count = 0;
  z->failures = 0;
  z->zrpos_pending = 0;
  if (z->byte_count - z->last_flush_count >= 0x40000) {
    errno = 0;
    if (fflush(z->file) != 0) {
      write_failed(z, errno);
      return -1;
    }
    z->last_flush_count = z->byte_count;
  }
  // The box moves with the bytes, however slow the line.
  if (zm_progress_due(z)) zm_draw(z);
  z->stop_poll_count += static_cast<uint32_t>(n);
  if (z->stop_poll_count >= kZmodemStopPollBytes) {
    z->stop_poll_count = 0;
    if (z->hooks.stop_requested && z->hooks.stop_requested(z->hooks.ctx)) {
      zmodem_cancel(z, "Download cancelled");
      return -1;
    }
  }
  return 0;
}

void bad_subpacket(ZmodemState* z) {
  ++z->error_count;
  int kind = z->data_kind;
  z->packet_len = 0;
  if (kind == 2) {
    if (count_failure(z, "Too many CRC errors")) return;
    if (z->start_ms == 0) z->start_ms = zm_now(z);
    zm_set_status(z, "%s; retry at %lu", "CRC error", static_cast<unsigned long>(z->position));
    zm_draw(z);
    if (request_position(z) != 0) zm_end(z, "ZMODEM aborted", kZmodemFailed);
    return;
  }
  if (kind == 1) {
    // A damaged file name must not open a file: ask for the ZFILE again.
    if (count_failure(z, "Too many CRC errors")) return;
    z->data_kind = 0;
    z->parse_state = 1;
    zm_reset_parser(z);
    zm_set_status(z, "CRC error in file information");
    zm_draw(z);
    if (zmodem_send_hex_header_with_crc(z, ZNAK, 0) != 0)
      zm_end(z, "ZMODEM aborted", kZmodemFailed);
    return;
  }
  z->parse_state = 1;
  zm_reset_parser(z);
}

// A received file of the download directory opened (overwrite: over the
// file there), and its counts started: 0, or -1 when it cannot be created.
int create_received(ZmodemState* z, int overwrite) {
  z->file = transfer_create_file(z->file_path, overwrite, z->file_buffer, sizeof z->file_buffer);
  if (!z->file) {
    zm_set_status(z, "Could not open %s", z->file_name);
    zm_draw(z);
    return -1;
  }
  ++z->files_done;
  parse_file_numbers(z);
  z->position = z->byte_count = z->last_flush_count = z->start_offset = 0;
  z->resume_state = 0;
  z->start_ms = zm_now(z);
  zm_set_status(z, "Receiving %s", z->file_name);
  zm_draw(z);
  return 0;
}

// What the file-exists question's answer makes of the offered file
// (zmodem_open_receive_file's results).
int open_answered(ZmodemState* z, int answer, long long existing, const char* dir) {
  if (answer == kZmodemResume) {
    if (ask_resume_check(z, static_cast<uint32_t>(existing)) != 0) return -1;
    return 2;
  }
  if (answer == kZmodemSkip) {
    safe_copy(z->skip_name, sizeof z->skip_name, z->file_name);
    zm_set_status(z, "Skipped %s", z->file_name);
    zm_draw(z);
    return 1;
  }
  if (answer == kZmodemOverwrite) return create_received(z, 1);
  if (transfer_rename_free(z->file_name, sizeof z->file_name, dir) != 0 ||
      zmodem_build_receive_path(z, z->file_path, z->file_name) != 0) {
    zm_set_status(z, "Could not rename incoming file");
    zm_draw(z);
    return -1;
  }
  return create_received(z, 0);
}

// Data came for a file not yet open and zmodem_open_receive_file has
// answered (r): the data is taken, or the sender told to skip, or nothing
// until the resume check has its answer.  What zmodem_handle_header
// returns: 0, or -1 when a send failed.
int data_for_file(ZmodemState* z, int r) {
  if (r == 1) {
    z->data_kind = 0;
    return zmodem_send_hex_header_with_crc(z, ZSKIP, 0);
  }
  if (r == 2) {  // no data before the check has its answer
    z->data_kind = 0;
    return 0;
  }
  if (r < 0) {
    abort_transfer(z);
    return 0;
  }
  if (z->header_value != z->position) {
    // Data for another place than the next byte we need (a frame sent
    // before our last ZRPOS arrived, or one after a lost header):
    // writing it would shift the file.  Ask for our position, unless we
    // already did: each extra request would restart the sender once
    // more and send yet more frames for the wrong place.
    z->data_kind = 0;
    if (z->zrpos_pending) return 0;
    if (count_failure(z, "Out of step")) return 0;
    return request_position(z);
  }
  z->subpacket_start = z->position;
  z->data_kind = 2;
  zm_reset_parser(z);
  z->parse_state = 3;
  return 0;
}

}  // namespace

void zmodem_sanitize_name(char* dest, const char* src) {
  transfer_sanitize_name(dest, kTransferNameCap, src);
}

int zmodem_build_receive_path(ZmodemState* z, char* dest, const char* name) {
  return transfer_join_path(dest, kTransferPathCap, download_dir(z), name);
}

int zmodem_send_recv_init(ZmodemState* z, const char* message) {
  // P0..P3 = 00 00 00 23: buffer size 0 (a continuous stream), flags in P3.
  uint32_t value = (kZmodemCanFdx | kZmodemCanOvio | kZmodemCanFc32) << 24;
  if (zmodem_send_hex_header_with_crc(z, ZRINIT, value) != 0) return -1;
  ++z->zrinit_count;
  z->last_zrinit_ms = zm_now(z);
  zm_set_status(z, "%s%s", message, z->fallback_zrinit ? " 8K" : "");
  return 0;
}

int zmodem_can_resume(long long existing, uint32_t offered) {
  return existing > 0 && existing < static_cast<long long>(offered) ? 1 : 0;
}

int zmodem_open_receive_file(ZmodemState* z) {
  if (z->file) return 0;
  if (z->resume_state == 1) return 2;
  const char* offered = z->info_len > 0 && z->info[0] ? z->info : kTransferDefaultName;
  zmodem_sanitize_name(z->file_name, offered);
  safe_copy(z->open_info_name, sizeof z->open_info_name, z->file_name);
  // Our own copy: the hook's text lasts only until its next call, and the
  // path is built again (and the user asked) before the rename uses it.
  char dir[kTransferPathCap];
  safe_copy(dir, sizeof dir, download_dir(z));
  transfer_make_dir(dir);
  if (zmodem_build_receive_path(z, z->file_path, z->file_name) != 0) {
    zm_set_status(z, "Could not open %s", z->file_name);
    zm_draw(z);
    return -1;
  }
  if (z->skip_name[0]) {
    if (strcmp(z->skip_name, z->file_name) == 0) {
      zm_set_status(z, "Skipped %s", z->file_name);
      zm_draw(z);
      return 1;
    }
    z->skip_name[0] = '\0';
  }
  if (!transfer_path_exists(z->file_path)) return create_received(z, 0);
  // The offered size, for the question (the batch's count is worked out
  // again once the file opens).
  int32_t files_total = z->files_total;
  parse_file_numbers(z);
  z->files_total = files_total;
  long long existing = transfer_regular_size(z->file_path);
  // A check that failed for this offer is not tried again.
  int can_resume = z->resume_state != 2 && zmodem_can_resume(existing, z->announced_size);
  // A sender that asks for crash recovery gets it without a question
  // (when the check passes; else the question comes).
  bool sender_asks = (z->zfile_flags >> 24) == kZmodemCresume;
  int answer = can_resume && sender_asks
                   ? kZmodemResume
                   : ask_exists(z, existing, can_resume, z->resume_state == 2);
  if (answer == kTransferExistsAsked) {
    z->exists_existing = existing;
    z->exists_can_resume = can_resume;
    return kOpenAsked;
  }
  return open_answered(z, answer, existing, dir);
}

void zmodem_answer_exists(ZmodemState* z, int answer) {
  int32_t from = z->exists_pending;
  if (!from) return;
  z->exists_pending = 0;
  if (!z->active) return;
  answer = exists_answered(z, answer, z->exists_can_resume);
  char dir[kTransferPathCap];
  safe_copy(dir, sizeof dir, download_dir(z));
  int r = open_answered(z, answer, z->exists_existing, dir);
  if (from == kZmodemAskedByOffer) {
    answer_offer(z, r);
  } else if (data_for_file(z, r) != 0 && z->active) {
    zm_end(z, "ZMODEM aborted", kZmodemFailed);
  }
}

void zm_subpacket_done(ZmodemState* z, int crc_ok) {
  if (!crc_ok) {
    bad_subpacket(z);
    return;
  }
  z->last_progress_ms = zm_now(z);
  if (z->data_kind == 1) {
    file_info_done(z);
    return;
  }
  if (z->data_kind == 2 && commit_data(z) != 0) return;
  z->packet_len = 0;
  int end = z->frame_end;
  if (end == ZCRCQ || end == ZCRCW) {
    if (zmodem_send_hex_header_with_crc(z, ZACK, z->position) != 0) {
      zm_end(z, "ZMODEM aborted", kZmodemFailed);
      return;
    }
  }
  if (end == ZCRCW || end == ZCRCE) {
    z->parse_state = 1;
    z->data_kind = 0;
    zm_reset_parser(z);
    return;
  }
  // ZCRCG, ZCRCQ: the next subpacket follows.
  z->parse_state = 3;
  z->subpacket_start = z->position;
  z->crc_remaining = 0;
  z->crc16 = 0;
  z->crc32 = 0xFFFFFFFFu;
}

int zmodem_handle_header(ZmodemState* z) {
  int type = z->header[0];
  z->header_value = static_cast<uint32_t>(z->header[1]) | static_cast<uint32_t>(z->header[2]) << 8 |
                    static_cast<uint32_t>(z->header[3]) << 16 |
                    static_cast<uint32_t>(z->header[4]) << 24;
  zm_set_status(z, "Header: %s", zmodem_frame_name(type));
  if (z->direction == 1) return zm_handle_send_header(z);

  if (z->trailing) {
    // Right after our upload, the receiver we served may still repeat its
    // ZRINIT: that is no new request for a file, and no picker comes up.
    // But it may as well be a board that started its receiver again at
    // once: that one is served as soon as the user starts an upload.
    if (type == ZRINIT && z->last_was_upload) {
      uint32_t now = zm_now(z);
      z->waiting_receiver_ms = now ? now : 1;  // 0 means none
      z->waiting_receiver_value = z->header_value;
      zmodem_finish_silent(z);
      return 0;
    }
    if (type == ZFIN) {
      // The previous sender repeats its ZFIN: answer it, show nothing.
      int r = zmodem_send_hex_header_with_crc(z, ZFIN, 0);
      z->active = 1;
      z->parse_state = 1;
      z->zfin_seen = 1;
      z->data_kind = z->detect_index = 0;
      z->detect_ms = 0;
      z->recv_o_count = 0;
      z->zfin_ms = zm_now(z);
      return r;
    }
    z->trailing = 0;
  }

  uint32_t now = zm_now(z);
  switch (type) {
    case ZRQINIT:
      close_incomplete(z);
      z->file_name[0] = z->file_path[0] = z->info[0] = '\0';
      z->info_len = 0;
      z->position = z->header_value = z->byte_count = z->announced_size = 0;
      z->last_flush_count = z->subpacket_start = z->start_ms = 0;
      z->error_count = 0;
      z->resume_state = 0;
      zm_reset_parser(z);
      if (zmodem_send_recv_init(z, "Sent ZRINIT") != 0) return -1;
      break;
    case ZRINIT: {
      if (z->file || z->byte_count || z->file_name[0] || z->info_len || z->data_kind) {
        zm_set_status(z, "Ignored receiver init");
        break;
      }
      // The other side wants to receive: it gets a file from us.
      char path[kTransferPathCap] = "";
      if (!z->hooks.pick_upload || !z->hooks.pick_upload(z->hooks.ctx, path, sizeof path) ||
          !path[0]) {
        zmodem_cancel(z, "Upload cancelled");
        return 0;
      }
      return zmodem_start_upload(z, path);
    }
    case ZSINIT:
      // Its data subpacket (the attention string) is read and acknowledged,
      // so a sender that insists on it is not left waiting.
      z->data_kind = 0;
      zm_reset_parser(z);
      z->parse_state = 3;
      return 0;
    case ZFILE:
      z->zfile_flags = z->header_value;
      // (A check under way keeps the name and path it is about.)
      if (!z->file && z->resume_state != 1) {
        z->file_name[0] = z->file_path[0] = '\0';
        z->position = z->header_value = z->byte_count = z->announced_size = 0;
        z->last_flush_count = z->start_ms = 0;
        z->error_count = 0;
      }
      z->data_kind = 1;
      z->info_len = 0;
      z->info[0] = '\0';
      z->subpacket_start = 0;
      zm_reset_parser(z);
      z->parse_state = 3;
      return 0;
    case ZCRC:
      // The sender's CRC of the part of the file we hold.
      if (z->resume_state == 1) resume_checked(z, z->header_value);
      return 0;
    case ZFIN:
      // A file still open has not reached its ZEOF: it is incomplete.
      close_incomplete(z);
      if (zmodem_send_hex_header_with_crc(z, ZFIN, 0) != 0) return -1;
      z->eof_seen = 0;
      z->recv_o_count = 0;
      z->zfin_seen = 1;
      z->zfin_ms = now;
      zm_set_status(z, "Finishing transfer");
      break;
    case ZDATA: {
      if (!z->file && z->eof_seen) {
        // A frame of the file we already closed, sent again on a request
        // that crossed its ZEOF: it must not start a new file.
        z->data_kind = 0;
        return 0;
      }
      if (!z->file && z->info_len == 0) {
        // Data with no file offered in this transfer: we came in during a
        // frame (a detection in mid-stream after an earlier end).  There is
        // no name to save it under; the sender is told to skip the file.
        z->data_kind = 0;
        return zmodem_send_hex_header_with_crc(z, ZSKIP, 0);
      }
      int r = z->file ? 0 : zmodem_open_receive_file(z);
      if (r == kOpenAsked) {  // the data waits for the answer (dropped meanwhile)
        z->exists_pending = kZmodemAskedByData;
        z->data_kind = 0;
        return 0;
      }
      return data_for_file(z, r);
    }
    case ZEOF:
      if (z->file && z->header_value != z->position) {
        // The end of a stream we did not fully get.  When our ZRPOS is on
        // its way the sender restarts anyway; otherwise it now waits, and
        // the request goes out at once.
        if (z->zrpos_pending) return 0;
        if (count_failure(z, "Out of step")) return 0;
        return request_position(z);
      }
      if (z->file) {
        if (int err = close_received(z)) {
          write_failed(z, err);
          return 0;
        }
        if (z->announced_size > 0 && z->position < z->announced_size) {
          // The sender ended the file before the size it offered: whatever
          // made it stop, the file on disk is not the file.
          ++z->incomplete;
        } else {
          ++z->files_saved;
          z->saved_size = z->position;
          safe_copy(z->saved_name, sizeof z->saved_name, z->file_name);
        }
      }
      z->failures = 0;
      z->fallback_zrinit = 0;
      z->zrinit_count = 0;
      z->eof_seen = 1;
      if (zmodem_send_recv_init(z, "Ready for next file") != 0) return -1;
      break;
    default:
      break;
  }
  z->parse_state = z->parse_state == 3 ? 3 : 1;
  zm_draw(z);
  return 0;
}

void zmodem_finish_received(ZmodemState* z) {
  if (!z->active || z->direction != 0) return;
  finish_download(z);
}

int zmodem_receive_pump(ZmodemState* z) {
  if (!z->active || z->direction != 0) return 0;
  uint32_t now = zm_now(z);
  if (z->zfin_seen) {
    if (z->zfin_ms == 0 || now - z->zfin_ms >= kZmodemZfinWaitMs) finish_download(z);
    return 0;
  }
  if (z->rx_seen) {
    z->rx_seen = 0;
    z->last_progress_ms = now;
  }
  if (z->zrinit_count > 0 && now - z->last_zrinit_ms > kZmodemZrinitRepeatMs - 1) {
    if (z->eof_seen && z->zrinit_count <= 3) return zmodem_send_recv_init(z, "Ready for finish");
    if (!z->file && z->data_kind != 2 && z->byte_count == 0 && z->fallback_zrinit) {
      z->fallback_zrinit = 0;
      return zmodem_send_recv_init(z, "Fallback ZRINIT");
    }
  }
  if (now - z->last_progress_ms < kZmodemRecvStallMs) return 0;
  // Nothing at all has come for a while: a header or the end of a stream
  // was lost.  Ask again, a bounded number of times.
  z->last_progress_ms = now;
  if (count_failure(z, "No response from sender")) return 0;
  if (z->file) return request_position(z);
  if (z->resume_state == 1) return zmodem_send_hex_header_with_crc(z, ZCRC, z->resume_len);
  if (!z->eof_seen) {
    zm_reset_parser(z);
    z->parse_state = 1;
    z->data_kind = 0;
    return zmodem_send_recv_init(z, "Sent ZRINIT");
  }
  return 0;
}
