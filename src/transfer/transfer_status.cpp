// The transfer status boxes: the shared layout and the ZMODEM box's redraw
// policy.
#include "transfer/transfer_status.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "display/surface.h"
#include "terminal/terminal.h"
#include "transfer/dialogs.h"
#include "transfer/zmodem.h"
#include "util/text.h"

namespace {

enum : int {
  kBlack = 0,
  kBlue = 1,
  kRed = 4,
  kGrey = 7,
  kDarkGrey = 8,
  kWhite = 15,
};

// Progress-only updates closer together than this are not drawn.
constexpr uint32_t kProgressRedrawMs = 199;

void centred_text(Terminal* t, int x, int w, int baseline_y, const char* text, int fg, int bg) {
  term_dialog_text_bg(t, x + (w - text_px(t, text)) / 2, baseline_y, text, fg, bg);
}

void draw_bar(Terminal* t, int x, int y, int w, const TransferBoxContent* c) {
  int cw = term_dialog_cell_w(t);
  int ch = term_dialog_cell_h(t);
  int left = x + 2 * cw;
  int top = y + 8 * ch;
  int width = w - 4 * cw;
  int height = std::max(ch, 12);
  int bottom = top + height - 1;
  int right = left + width - 1;
  term_fill_rect(t, left, top, right, bottom, kDarkGrey);
  term_fill_rect(t, left + 1, top + 1, right - 1, bottom - 1, kGrey);

  int fill = transfer_bar_fill(c->bytes, c->total, width);
  if (fill > 2) term_fill_rect(t, left + 1, top + 1, left + fill - 1, bottom - 2, kBlue);
  if (c->total == 0 && c->moving_segment && c->bytes > 0) {
    int seg = std::max(4 * cw, width / 4);
    int travel;
    if (seg >= width - 1) {
      seg = width - 2;
      travel = 2;
    } else {
      travel = width - seg;
    }
    int offset = static_cast<int>((c->bytes / 1024) % static_cast<uint32_t>(travel));
    term_fill_rect(t, left + 1 + offset, top + 1, left + offset + seg, bottom - 2, kBlue);
  }

  int baseline_y = top + term_dialog_baseline(t);
  if (c->total > 0) {
    char text[16];
    snprintf(text, sizeof text, "%lu%%",
             static_cast<unsigned long>(transfer_percent(c->bytes, c->total)));
    bool over_half = fill > width / 2;
    centred_text(t, left, width, baseline_y, text, over_half ? kWhite : kBlack,
                 over_half ? kBlue : kGrey);
  } else {
    const char* text = c->no_total_percent ? c->no_total_percent : "--%";
    centred_text(t, left, width, baseline_y, text, kBlack, kGrey);
  }
}

// One line of a box: a line longer than the box (a long file name) ends in
// "..." at its inner edge instead of running over the frame.
void draw_line(Terminal* t, int x, int y, int line, size_t room, const char* text, int fg) {
  int cw = term_dialog_cell_w(t);
  char cut[256];
  if (strlen(text) > room && room < sizeof cut) {
    snprintf(cut, sizeof cut, "%.*s...", static_cast<int>(room - 3), text);
    text = cut;
  }
  term_dialog_text(t, x + 2 * cw, y + line * term_dialog_cell_h(t) + term_dialog_baseline(t), text,
                   fg);
}

// The summary on one line when it fits; else the directory goes on a line
// of its own, cut at its start when it must be (the end of a path says
// where).  Returns the lines used.
int draw_summary(Terminal* t, int x, int y, int line, size_t room, const TransferBoxContent* c) {
  char text[512];
  if (!c->summary_dir) {
    draw_line(t, x, y, line, room, c->summary, kBlue);
    return 1;
  }
  snprintf(text, sizeof text, "%s in %s", c->summary, c->summary_dir);
  if (strlen(text) <= room) {
    draw_line(t, x, y, line, room, text, kBlue);
    return 1;
  }
  draw_line(t, x, y, line, room, c->summary, kBlue);
  size_t dir_len = strlen(c->summary_dir);
  if (dir_len + 3 <= room || room < 10) {
    snprintf(text, sizeof text, "in %s", c->summary_dir);
  } else {
    snprintf(text, sizeof text, "in ...%s", c->summary_dir + dir_len - (room - 6));
  }
  draw_line(t, x, y, line + 1, room, text, kBlue);
  return 2;
}

void draw_lines(Terminal* t, int x, int y, int w, const TransferBoxContent* c) {
  int cw = term_dialog_cell_w(t);
  int ch = term_dialog_cell_h(t);
  int bl = term_dialog_baseline(t);
  size_t room = static_cast<size_t>(std::max(4, (w - 4 * cw) / cw));
  int line = 2;
  for (int i = 0; i < 5; ++i) {
    const char* text = c->lines[i];
    if (!text) break;
    draw_line(t, x, y, line, room, text, i == c->warning_line ? kRed : kBlack);
    ++line;
  }
  if (c->summary) line += draw_summary(t, x, y, line, room, c);
  if (c->speed) term_dialog_text(t, x + 2 * cw, y + line * ch + bl, c->speed, kBlue);
  draw_bar(t, x, y, w, c);
}

}  // namespace

void transfer_box_rect(Terminal* t, int* x, int* y, int* width, int* height) {
  term_update_origin(t);
  int w = std::max(46 * term_dialog_cell_w(t), 360);
  int h = std::max(10 * term_dialog_cell_h(t), 148);
  term_center_dialog_box(t, w, h, x, y);
  term_clamp_transfer_dialog_box(t, x, y);
  if (width) *width = w;
  if (height) *height = h;
}

void transfer_box_draw(Terminal* t, TransferBoxCache* cache, const TransferBoxContent* content,
                       bool full) {
  if (!term_can_draw(t) || !cache || !content) return;
  int x = 0, y = 0, w = 0, h = 0;
  transfer_box_rect(t, &x, &y, &w, &h);
  int cw = term_dialog_cell_w(t);
  int ch = term_dialog_cell_h(t);
  bool same_frame = cache->drawn && cache->box_x == x && cache->box_y == y && cache->box_w == w &&
                    cache->box_h == h && cache->cell_w == cw && cache->cell_h == ch &&
                    cache->direction == content->direction;
  if (full || !same_frame) {
    draw_beveled_box(t, x, y, x + w - 1, y + h - 1);
    centred_text(t, x, w, y + term_dialog_baseline(t) + 8, content->title, kBlue, kGrey);
    cache->box_x = x;
    cache->box_y = y;
    cache->box_w = w;
    cache->box_h = h;
    cache->cell_w = cw;
    cache->cell_h = ch;
    cache->direction = content->direction;
    cache->drawn = 1;
  } else {
    term_fill_rect(t, x + 2, y + 2 * ch, x + w - 3, y + h - 3, kGrey);
  }
  draw_lines(t, x, y, w, content);
}

void transfer_format_size(char* out, size_t cap, uint64_t bytes) {
  if (bytes < 1024) {
    snprintf(out, cap, "%llu byte%s", static_cast<unsigned long long>(bytes),
             bytes == 1 ? "" : "s");
    return;
  }
  static constexpr const char* kUnits[] = {"KB", "MB", "GB", "TB"};
  uint64_t unit = 1024;
  int i = 0;
  while (i < 3 && bytes >= unit * 1024) {
    unit *= 1024;
    ++i;
  }
  uint64_t tenths = bytes * 10 / unit;  // no overflow: unit is at most 2^40
  snprintf(out, cap, "%llu.%llu %s", static_cast<unsigned long long>(tenths / 10),
           static_cast<unsigned long long>(tenths % 10), kUnits[i]);
}

void transfer_format_speed(char* out, int cap, uint32_t start_ms, uint32_t bytes, uint32_t now_ms) {
  if (start_ms == 0 || bytes == 0) {
    snprintf(out, static_cast<size_t>(cap), "Speed: --.- KB/s");
    return;
  }
  uint32_t elapsed = now_ms - start_ms;
  if (elapsed == 0) elapsed = 1;
  uint64_t rate = static_cast<uint64_t>(bytes) * 1000u / elapsed;
  snprintf(out, static_cast<size_t>(cap), "Speed: %lu.%lu KB/s",
           static_cast<unsigned long>(rate / 1024),
           static_cast<unsigned long>((rate % 1024) * 10 / 1024));
}

int transfer_bar_fill(uint32_t bytes, uint32_t total, int width) {
  if (total == 0 || width <= 0) return 0;
  if (bytes >= total) return width;
  uint64_t f = static_cast<uint64_t>(bytes) * static_cast<uint64_t>(width) / total;
  return static_cast<int>(std::min<uint64_t>(f, static_cast<uint64_t>(width)));
}

uint32_t transfer_percent(uint32_t bytes, uint32_t total) {
  if (total == 0) return 0;
  if (bytes >= total) return 100;
  return static_cast<uint32_t>(static_cast<uint64_t>(bytes) * 100u / total);
}

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
