// The framebuffer's sets of lines (PlatLines, internal.h): making them, the
// row table and its turns, the band a scrolled grid gets, rows that share a
// line, and what a set owes (the copy a scroll left, a fill left owing).
// What every glyph and fill asks of the lines is inline in internal.h; the
// calls here are for the rarer and larger work.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/internal.h"

namespace {

// Drawing over part of an owed fill makes it in just those columns while it
// is at most this tall (a line of text at any scale), else whole.
constexpr int kOwedFillTakeMaxRows = 128;

size_t line_width(const PlatLines& l) {
  return static_cast<size_t>(l.x1 - l.x0);
}

// Points every row at its own line of the block, in order.
void reset_rows(PlatLines* l, int height) {
  const size_t stride = line_width(*l);
  uint8_t* base = l->pixels.get();
  for (int y = 0; y < height; y++) l->rows[static_cast<size_t>(y)] = base + y * stride;
  l->epoch++;
  l->height = height;
  l->permuted = false;
  l->pending_rows = 0;
  l->spare.clear();
  l->shared = 0;
}

void drop_lines(PlatLines* l) {
  l->pixels.reset();
  l->rows.reset();
  l->epoch++;
  l->x0 = l->x1 = 0;
  l->height = 0;
  l->permuted = false;
  l->pending_rows = 0;
  l->spare.clear();
  l->shared = 0;
}

// Turns the table entries first .. last-1 so that the one at middle comes
// first.  A scroll turns the band by a few text rows: the shorter side goes
// through a small buffer and the rest is one move, far cheaper than the
// element-by-element swapping of a general rotation.
void rotate_rows(uint8_t** first, uint8_t** middle, uint8_t** last) {
  constexpr ptrdiff_t kBuffer = 256;
  uint8_t* keep[kBuffer];
  const ptrdiff_t head = middle - first, tail = last - middle;
  if (head <= kBuffer) {
    std::copy(first, middle, keep);
    std::memmove(first, middle, static_cast<size_t>(tail) * sizeof *first);
    std::copy(keep, keep + head, first + tail);
  } else if (tail <= kBuffer) {
    std::copy(middle, last, keep);
    std::memmove(first + tail, first, static_cast<size_t>(head) * sizeof *first);
    std::copy(keep, keep + tail, first);
  } else {
    std::rotate(first, middle, last);
  }
}

// Makes the owed fill of the lines in columns x0..x1 (of the window).
void fill_owed_columns(PlatLines* l, int x0, int x1) {
  if (x1 < x0) return;
  plat_fill_lines(l, static_cast<size_t>(x0 - l->x0), static_cast<size_t>(x1 - x0 + 1), l->fill_y0,
                  l->fill_y1, l->fill_pen);
}

}  // namespace

// ------------------------------------------------------ making the lines --

void plat_make_lines(PlatLines* l, int x0, int x1, int height, bool zero) {
  l->x0 = x0;
  l->x1 = x1;
  const size_t n = line_width(*l) * static_cast<size_t>(height);
  l->pixels = zero ? std::make_unique<uint8_t[]>(n) : std::make_unique_for_overwrite<uint8_t[]>(n);
  l->rows = std::make_unique<uint8_t*[]>(static_cast<size_t>(height));
  reset_rows(l, height);
}

void plat_merge_band(PlatWindow* w) {
  plat_settle_all_rows(w);
  plat_unshare_rows(&w->lines, 0, w->height - 1);
  const size_t bw = line_width(w->band);
  for (int y = 0; y < w->height; y++) {
    std::memcpy(w->lines.rows[static_cast<size_t>(y)] + w->band.x0,
                w->band.rows[static_cast<size_t>(y)], bw);
  }
  drop_lines(&w->band);
}

void plat_make_band(PlatWindow* w, int x0, int x1) {
  plat_dissolve_band(w);
  plat_settle_all_rows(w);
  plat_make_lines(&w->band, x0, x1, w->height, false);
  const size_t bw = line_width(w->band);
  for (int y = 0; y < w->height; y++) {
    std::memcpy(w->band.rows[static_cast<size_t>(y)], w->lines.rows[static_cast<size_t>(y)] + x0,
                bw);
  }
}

void plat_flatten(PlatWindow* w) {
  plat_dissolve_band(w);
  plat_settle_all_rows(w);
  PlatLines& l = w->lines;
  if (!l.permuted) return;
  const size_t stride = line_width(l);
  auto block = std::make_unique_for_overwrite<uint8_t[]>(stride * static_cast<size_t>(w->height));
  for (int y = 0; y < w->height; y++)
    std::memcpy(block.get() + y * stride, l.rows[static_cast<size_t>(y)], stride);
  l.pixels = std::move(block);
  reset_rows(&l, w->height);
}

// -------------------------------------------------------- the row table --

void plat_blit_whole_lines(PlatLines* l, int y0, int y1, int h) {
  const int d = std::abs(y1 - y0);
  if (d == 0) return;
  const size_t stride = line_width(*l);
  uint8_t** rows = l->rows.get();
  if (d >= h) {
    // Apart: every destination row is a copy of a row that stays.
    plat_unshare_rows(l, y1, y1 + h - 1);
    for (int r = 0; r < h; r++) std::memcpy(rows[y1 + r], rows[y0 + r], stride);
    return;
  }
  // Rows that share a line stay neighbours only if no cut of the turn
  // falls between them.
  const int top = std::min(y0, y1), bottom = std::max(y0, y1) + h;
  plat_split_rows(l, top);
  plat_split_rows(l, y1 < y0 ? y0 : y0 + h);
  plat_split_rows(l, bottom);
  if (y1 < y0) {
    // Up: the band y1 .. y0+h-1 turns by d; its last d rows (source rows
    // left uncovered) are owed the pixels now held d rows above them.
    rotate_rows(rows + y1, rows + y0, rows + y0 + h);
    l->pending_to = y1 + h;
    l->pending_from = y1 + h - d;
  } else {
    // Down: the band y0 .. y1+h-1 turns the other way; its first d rows
    // are owed the pixels now held d rows below them.
    rotate_rows(rows + y0, rows + y0 + h, rows + y1 + h);
    l->pending_to = y0;
    l->pending_from = y0 + d;
  }
  l->pending_rows = d;
  l->permuted = true;
  l->epoch++;
}

uint8_t* plat_unshare_row(PlatLines* l, int y) {
  uint8_t* own = l->spare.back();
  l->spare.pop_back();
  l->shared--;
  std::memcpy(own, l->rows[static_cast<size_t>(y)], line_width(*l));
  l->rows[static_cast<size_t>(y)] = own;
  l->epoch++;
  return own;
}

// --------------------------------------------------- what the lines owe --

void plat_fill_lines(PlatLines* l, size_t col, size_t n, int y0, int y1, uint8_t pen) {
  const uint64_t v = pen * kPlatEveryByte;
  uint8_t* const* line = l->rows.get();
  if (l->shared) {
    plat_split_rows(l, y0);
    plat_split_rows(l, y1 + 1);
    for (int y = y0; y <= y1; y++) {
      if (y == y0 || line[y] != line[y - 1]) std::memset(line[y] + col, pen, n);
    }
    return;
  }
  if (n == 8) {
    for (int y = y0; y <= y1; y++) std::memcpy(line[y] + col, &v, 8);
  } else if (n == 16) {
    for (int y = y0; y <= y1; y++) {
      std::memcpy(line[y] + col, &v, 8);
      std::memcpy(line[y] + col + 8, &v, 8);
    }
  } else {
    for (int y = y0; y <= y1; y++) std::memset(line[y] + col, pen, n);
  }
}

void plat_make_owed_copy(PlatLines* l) {
  const int n = l->pending_rows;
  const size_t stride = line_width(*l);
  plat_unshare_rows(l, l->pending_to, l->pending_to + n - 1);
  for (int j = 0; j < n; j++) {
    std::memcpy(l->rows[static_cast<size_t>(l->pending_to + j)],
                l->rows[static_cast<size_t>(l->pending_from + j)], stride);
  }
  l->pending_rows = 0;
}

void plat_pay_fill(PlatLines* l) {
  l->fill_owed = false;
  if (l->done_x0 == l->done_x1) {
    fill_owed_columns(l, l->fill_x0, l->fill_x1);
  } else {
    fill_owed_columns(l, l->fill_x0, std::min(l->done_x0 - 1, l->fill_x1));
    fill_owed_columns(l, std::max(l->done_x1, l->fill_x0), l->fill_x1);
  }
}

bool plat_take_fill_columns(PlatLines* l, int x0, int x1, bool covered) {
  x0 = std::max(x0, l->fill_x0);
  x1 = std::min(x1, l->fill_x1);
  if (x1 < x0) return true;  // none of the fill's columns
  const bool none = l->done_x0 == l->done_x1;
  if (!none && (x1 + 1 < l->done_x0 || x0 > l->done_x1)) return false;
  // Making a tall fill (a cleared screen) strip by strip under a line of
  // text would cost more than making it whole.
  if (!covered && l->fill_y1 - l->fill_y0 >= kOwedFillTakeMaxRows) return false;
  if (!covered) {
    if (none) {
      fill_owed_columns(l, x0, x1);
    } else {
      fill_owed_columns(l, x0, std::min(x1, l->done_x0 - 1));
      fill_owed_columns(l, std::max(x0, l->done_x1), x1);
    }
  }
  l->done_x0 = none ? x0 : std::min(x0, l->done_x0);
  l->done_x1 = none ? x1 + 1 : std::max(x1 + 1, l->done_x1);
  if (l->done_x0 <= l->fill_x0 && l->done_x1 > l->fill_x1) l->fill_owed = false;
  return true;
}
