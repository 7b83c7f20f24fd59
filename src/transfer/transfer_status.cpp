// The transfer status boxes: the shared layout and the ZMODEM box's redraw
// policy.
#include "transfer/transfer_status.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "display/surface.h"
#include "terminal/terminal.h"
#include "transfer/dialogs.h"
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
