// The ZMODEM status box: what the engine's state says, laid out in the
// transfer box every protocol shares (transfer_status.h), and the summary of
// a transfer that went well.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "display/surface.h"
#include "terminal/terminal.h"
#include "transfer/dialogs.h"
#include "transfer/transfer_status.h"
#include "transfer/zmodem.h"
#include "util/text.h"

namespace {

// Progress-only updates closer together than this are not drawn.
constexpr uint32_t kProgressRedrawMs = 199;

}  // namespace

int zmodem_summary(ZmodemState* z, char* out, size_t cap, const char** dir) {
  if (dir) *dir = nullptr;
  if (!z || z->active || z->ending != kZmodemSucceeded) return 0;
  char size[32];
  if (z->direction == 1) {
    if (z->files_done > 1) {
      snprintf(out, cap, "Sent %d files", z->files_done);
      return 1;
    }
    transfer_format_size(size, sizeof size, z->file_size);
    snprintf(out, cap, "Sent %s (%s)", z->file_name, size);
    return 1;
  }
  if (z->files_saved <= 0) return 0;
  if (z->files_saved == 1) {
    transfer_format_size(size, sizeof size, z->saved_size);
    snprintf(out, cap, "Saved %s (%s)", z->saved_name, size);
  } else {
    snprintf(out, cap, "Saved %d files", z->files_saved);
  }
  if (dir && z->hooks.download_dir) {
    const char* d = z->hooks.download_dir(z->hooks.ctx);
    *dir = d && d[0] ? d : nullptr;
  }
  return 1;
}

namespace {

// The sixth figure of the ZFILE information (after the name: length, date,
// mode, serial, files left, bytes left), counting the offered file; -1 when
// the sender did not give it.
long long zfile_bytes_left(const ZmodemState* z) {
  size_t len = static_cast<size_t>(std::clamp<int32_t>(z->info_len, 0, sizeof z->info));
  const char* p = static_cast<const char*>(memchr(z->info, '\0', len));
  if (!p) return -1;
  const char* end = z->info + len;
  ++p;
  for (int index = 0; index <= 5; ++index) {
    while (p < end && *p == ' ') ++p;
    if (p >= end || *p < '0' || *p > '9') return -1;
    long long value = 0;
    // The length and the counts are decimal; date, mode and serial octal,
    // which only matters for the figures skipped here.
    while (p < end && *p >= '0' && *p <= '9') {
      if (value < (1LL << 50)) value = value * 10 + (*p - '0');
      ++p;
    }
    if (index == 5) return value;
  }
  return -1;
}

// Keeps the batch's bytes of a download up to date: the bytes the sender
// had left at the first file are the batch; at each later one, what it no
// longer has left is behind us.
void note_download_batch(ZmodemState* z) {
  TransferBoxCache* c = &z->status;
  long long left = zfile_bytes_left(z);
  if (z->direction != 0 || z->files_total < 2 || left < 0) return;
  uint64_t bytes_left = static_cast<uint64_t>(left);
  if (z->files_done == 0 || c->batch_total < bytes_left) c->batch_total = bytes_left;
  c->batch_before = c->batch_total - bytes_left;
}

}  // namespace

void zmodem_draw_status(Terminal* t, ZmodemState* z) {
  if (!z || z->trailing || !term_can_draw(t)) return;
  TransferBoxCache* cache = &z->status;
  uint32_t now = zm_now(z);
  if (z->active && cache->drawn && z->byte_count != cache->bytes &&
      z->error_count == cache->errors && strcmp(z->status_text, cache->text) == 0 &&
      now - cache->last_draw_ms <= kProgressRedrawMs)
    return;
  bool full = !cache->drawn;

  bool sending = z->direction == 1;
  uint32_t total = sending ? z->file_size : z->announced_size;
  // A resumed file: the sender counts from the start of the file, the
  // receiver only what came this time.  The box shows the file's bytes
  // either way, and the speed of what actually went over the line.
  uint32_t done = sending ? z->byte_count : z->byte_count + z->start_offset;
  uint32_t moved =
      sending ? z->byte_count - std::min(z->start_offset, z->byte_count) : z->byte_count;
  char file_line[200], bytes_line[64], crc_line[24], error_line[96], count_line[80], speed[40];
  snprintf(file_line, sizeof file_line, "File: %s", z->file_name[0] ? z->file_name : "(pending)");
  int len;
  if (total > 0) {
    len = snprintf(bytes_line, sizeof bytes_line, "Bytes: %lu/%lu",
                   static_cast<unsigned long>(done), static_cast<unsigned long>(total));
  } else {
    len = snprintf(bytes_line, sizeof bytes_line, "Bytes: %lu", static_cast<unsigned long>(done));
  }
  // A resumed file (either way) says where it began.
  if (z->start_offset > 0)
    snprintf(bytes_line + len, sizeof bytes_line - static_cast<size_t>(len), " (from %lu)",
             static_cast<unsigned long>(z->start_offset));
  note_download_batch(z);
  bool batch = z->files_total > 1;
  uint64_t batch_done = cache->batch_before + done;
  bool crc32 = sending ? z->use_crc32 != 0 : (z->data_crc_len == 4 || z->header_crc_len == 4);
  snprintf(crc_line, sizeof crc_line, "CRC: %s", crc32 ? "CRC-32" : "CRC-16");
  bool failed = !z->active && z->ending == kZmodemFailed;
  if (failed || strncmp(z->status_text, "CRC mismatch", 12) == 0) {
    safe_copy(error_line, sizeof error_line, z->status_text);
  } else {
    snprintf(error_line, sizeof error_line, "CRC mismatch: %d", z->error_count);
  }
  transfer_format_speed(speed, sizeof speed, z->start_ms, moved, now);

  TransferBoxContent content{};
  content.title = sending ? "ZModem - Sending" : "ZModem - Receiving";
  content.direction = z->direction;
  content.lines[0] = file_line;
  content.lines[1] = bytes_line;
  content.lines[2] = crc_line;
  char summary[224];
  if (zmodem_summary(z, summary, sizeof summary, &content.summary_dir)) {
    // It says how many files a batch saved: no error figure, no count.
    content.summary = summary;
  } else {
    content.lines[3] = error_line;
    content.warning_line = failed ? 3 : -1;
    if (batch) {
      // File k of n: the one under way, or the last one once all are done.
      int k = std::min(z->files_done + (z->active ? 1 : 0), z->files_total);
      len =
          snprintf(count_line, sizeof count_line, "File %d of %d", std::max(k, 1), z->files_total);
      if (cache->batch_total > 0)
        snprintf(count_line + len, sizeof count_line - static_cast<size_t>(len),
                 ", batch %llu/%llu", static_cast<unsigned long long>(batch_done),
                 static_cast<unsigned long long>(cache->batch_total));
      content.lines[4] = count_line;
    } else if (!sending && z->files_total > 0) {
      snprintf(count_line, sizeof count_line, "File Count: %d/%d", z->files_done, z->files_total);
      content.lines[4] = count_line;
    }
  }
  content.speed = speed;
  content.bytes = done;
  content.total = total;
  if (batch && cache->batch_total > 0) {
    // The bar follows the whole batch where its size is known.
    content.bytes = static_cast<uint32_t>(std::min<uint64_t>(batch_done, UINT32_MAX));
    content.total = static_cast<uint32_t>(std::min<uint64_t>(cache->batch_total, UINT32_MAX));
  }
  content.no_total_percent = "--%";
  transfer_box_draw(t, cache, &content, full);

  cache->last_draw_ms = now;
  cache->bytes = z->byte_count;
  cache->errors = z->error_count;
  safe_copy(cache->text, sizeof cache->text, z->status_text);
}
