// Fills and block copies, and reading pixels back: where each lands in the
// framebuffer's sets of lines (display_lines.cpp).  A fill as wide as a line
// of text is left owing for the glyphs that usually cover it, and a scroll
// turns a row table instead of moving pixels.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/internal.h"

namespace {

// Fills at least this wide are left owing (see PlatLines::fill_owed): a
// line of text cells, not a cursor bar or a glyph's run.
constexpr int kOwedFillMinWidth = 64;

// Pixels x .. x+n-1 of row y (inside the window, rows settled) to or from a
// buffer, across the band's edges.
void read_row_span(PlatWindow* w, int x, int y, int n, uint8_t* out) {
  for (const int stop = x + n; x < stop;) {
    int end;
    const PlatLines* l = plat_lines_at(w, x, &end);
    const int k = std::min(end, stop) - x;
    std::memcpy(out, l->rows[static_cast<size_t>(y)] + (x - l->x0), static_cast<size_t>(k));
    out += k;
    x += k;
  }
}

void write_row_span(PlatWindow* w, int x, int y, int n, const uint8_t* in) {
  for (const int stop = x + n; x < stop;) {
    int end;
    PlatLines* l = plat_lines_at(w, x, &end);
    const int k = std::min(end, stop) - x;
    std::memcpy(l->rows[static_cast<size_t>(y)] + (x - l->x0), in, static_cast<size_t>(k));
    in += k;
    x += k;
  }
}

// Any other block copy (clipped, rows settled): row by row away from the
// overlap; within a row through a buffer, which also covers sideways
// overlap and rows split by the band.
void blit_rows(PlatWindow* w, int x0, int y0, int x1, int y1, int bw, int bh) {
  const auto n = static_cast<size_t>(bw);
  plat_unshare_rows(&w->lines, y1, y1 + bh - 1);
  plat_unshare_rows(&w->band, y1, y1 + bh - 1);
  if (!plat_has_band(w)) {
    uint8_t** rows = w->lines.rows.get();
    if (y1 > y0) {
      for (int r = bh - 1; r >= 0; r--) std::memmove(rows[y1 + r] + x1, rows[y0 + r] + x0, n);
    } else {
      for (int r = 0; r < bh; r++) std::memmove(rows[y1 + r] + x1, rows[y0 + r] + x0, n);
    }
    return;
  }
  w->scratch.resize(n);
  uint8_t* row = w->scratch.data();
  auto one = [&](int r) {
    read_row_span(w, x0, y0 + r, bw, row);
    write_row_span(w, x1, y1 + r, bw, row);
  };
  if (y1 > y0) {
    for (int r = bh - 1; r >= 0; r--) one(r);
  } else {
    for (int r = 0; r < bh; r++) one(r);
  }
}

// Rows y0..y1 of the lines are about to be filled across their whole width
// (then drawn only with doubled rows, usually): each pair of them, from y0
// on, takes one line, and the other goes to the spare ones.  What the rows
// showed before does not matter.  Beside its one caller, the fill of a new
// line of text, so that it is inlined there.
void share_row_pairs(PlatLines* l, int y0, int y1) {
  plat_split_rows(l, y0);
  plat_split_rows(l, y1 + 1);
  uint8_t** rows = l->rows.get();
  for (int y = y0; y < y1; y += 2) {
    if (rows[y] == rows[y + 1]) continue;
    // Row y+1 may share its line with row y+2 (paired the other way): the
    // line then stays with row y+2.
    if (y + 2 > y1 || rows[y + 1] != rows[y + 2]) {
      l->spare.push_back(rows[y + 1]);
      l->shared++;
    }
    rows[y + 1] = rows[y];
    l->permuted = true;
  }
  l->epoch++;
}

// Whether columns x0..x1 include every column that still owes the fill.
bool covers_owed_columns(const PlatLines* l, int x0, int x1) {
  int first = l->fill_x0, last = l->fill_x1;
  if (l->done_x0 < l->done_x1) {
    if (l->done_x0 <= first) first = l->done_x1;
    if (l->done_x1 > last) last = l->done_x0 - 1;
  }
  return first > last || (x0 <= first && x1 >= last);
}

}  // namespace

void plat_fill_row_span(PlatWindow* window, int y, int x0, int x1, uint8_t pen) {
  while (x0 <= x1) {
    int end;
    PlatLines* l = plat_lines_at(window, x0, &end);
    const int stop = std::min(end - 1, x1);
    std::memset(l->rows[static_cast<size_t>(y)] + (x0 - l->x0), pen,
                static_cast<size_t>(stop - x0 + 1));
    x0 = stop + 1;
  }
}

void plat_set_apen(PlatWindow* window, int pen) {
  if (window) window->apen = static_cast<uint8_t>(pen);
}

void plat_set_bpen(PlatWindow* window, int pen) {
  if (window) window->bpen = static_cast<uint8_t>(pen);
}

void plat_set_drmd(PlatWindow* window, PlatDrawMode mode) {
  if (window) window->drmd = mode == PLAT_JAM1 ? PLAT_JAM1 : PLAT_JAM2;
}

void plat_rect_fill(PlatWindow* window, int x0, int y0, int x1, int y1) {
  if (!window || x1 < x0 || y1 < y0) return;
  if (x0 < 0) x0 = 0;
  if (y0 < 0) y0 = 0;
  if (x1 >= window->width) x1 = window->width - 1;
  if (y1 >= window->height) y1 = window->height - 1;
  if (x1 < x0 || y1 < y0) return;
  for (int sx = x0; sx <= x1;) {
    int end;
    PlatLines* l = plat_lines_at(window, sx, &end);
    const int ex = std::min(end - 1, x1);
    if (l->pending_rows) {
      // Clearing the rows a scroll left behind, all of them across the
      // whole width of their lines, pays the copy they were owed.
      const bool covers = sx == l->x0 && ex == l->x1 - 1 && y0 <= l->pending_to &&
                          y1 >= l->pending_to + l->pending_rows - 1;
      if (covers) l->pending_rows = 0;
    }
    if (ex - sx + 1 >= kOwedFillMinWidth) {
      // Left owing: the glyphs that usually follow may cover most of it.
      // A fill owed before is dropped when this one covers what is left of
      // it (an erase to the end of the line just written), else made.
      if (l->fill_owed && y0 <= l->fill_y0 && y1 >= l->fill_y1 && covers_owed_columns(l, sx, ex))
        l->fill_owed = false;
      plat_settle_lines(l, y0, y1);
      if (l->fill_owed) plat_pay_fill(l);
      if (l->doubled && sx == l->x0 && ex == l->x1 - 1 && y1 > y0) share_row_pairs(l, y0, y1);
      l->fill_owed = true;
      l->fill_pen = window->apen;
      l->fill_x0 = sx;
      l->fill_x1 = ex;
      l->fill_y0 = y0;
      l->fill_y1 = y1;
      l->done_x0 = l->done_x1 = 0;
    } else {
      plat_settle_span(l, sx, ex, y0, y1, true);
      plat_fill_lines(l, static_cast<size_t>(sx - l->x0), static_cast<size_t>(ex - sx + 1), y0, y1,
                      window->apen);
    }
    sx = ex + 1;
  }
  plat_add_dirty(window, x0, y0, x1, y1);
}

void plat_clip_blit(PlatWindow* window, int sx, int sy, int dx, int dy, int width, int height) {
  if (!window || width <= 0 || height <= 0) return;
  // 64-bit arithmetic: callers may pass anything.
  int64_t x0 = sx, y0 = sy, x1 = dx, y1 = dy, w = width, h = height;
  if (x0 < 0) {
    x1 -= x0;
    w += x0;
    x0 = 0;
  }
  if (y0 < 0) {
    y1 -= y0;
    h += y0;
    y0 = 0;
  }
  if (x1 < 0) {
    x0 -= x1;
    w += x1;
    x1 = 0;
  }
  if (y1 < 0) {
    y0 -= y1;
    h += y1;
    y1 = 0;
  }
  w = std::min({w, window->width - x0, window->width - x1});
  h = std::min({h, window->height - y0, window->height - y1});
  if (w <= 0 || h <= 0) return;
  plat_settle_all_rows(window);
  const int64_t d = y1 > y0 ? y1 - y0 : y0 - y1;
  const bool straight = x0 == x1 && d > 0;
  const int ix0 = static_cast<int>(x0), iy0 = static_cast<int>(y0), iy1 = static_cast<int>(y1);
  const int iw = static_cast<int>(w), ih = static_cast<int>(h);
  if (w == window->width) {
    // Whole rows (x0 and x1 are then 0): a scroll of the window or of a band.
    plat_dissolve_band(window);
    plat_blit_whole_lines(&window->lines, iy0, iy1, ih);
  } else if (straight && ix0 == window->band.x0 && ix0 + iw == window->band.x1) {
    // The band's columns: a scroll of the grid that has them.
    plat_blit_whole_lines(&window->band, iy0, iy1, ih);
  } else if (straight && d < h && 4 * h >= window->height) {
    // A tall block of columns (a quarter of the window's height or more)
    // moved straight up or down over itself, as a grid centred on a wider
    // full screen scrolls: from now on its columns have lines of their own
    // (one copy of them), and this scroll and the next cost no more than
    // those of a grid as wide as its window.  Smaller blocks are copied.
    plat_make_band(window, ix0, ix0 + iw);
    plat_blit_whole_lines(&window->band, iy0, iy1, ih);
  } else {
    blit_rows(window, ix0, iy0, static_cast<int>(x1), iy1, iw, ih);
  }
  plat_add_dirty(window, static_cast<int>(x1), static_cast<int>(y1), static_cast<int>(x1 + w - 1),
                 static_cast<int>(y1 + h - 1));
}

int plat_read_pixel(const PlatWindow* window, int x, int y) {
  if (!window || x < 0 || y < 0 || x >= window->width || y >= window->height) return -1;
  // Paying a fill changes no pixel the window shows, only where it is
  // kept; every window is created non-const, so the cast is sound.
  plat_settle_fills(const_cast<PlatWindow*>(window));
  int end;
  return *plat_shown_span(window, x, y, &end);
}

void plat_watch_rect(PlatWindow* window, int x0, int y0, int x1, int y1) {
  if (!window) return;
  window->watch_x0 = x0;
  window->watch_y0 = y0;
  window->watch_x1 = x1;
  window->watch_y1 = y1;
  window->watch_intact = true;
}

bool plat_watch_intact(const PlatWindow* window) {
  return window && window->watch_intact;
}
