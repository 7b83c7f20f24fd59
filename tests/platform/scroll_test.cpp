// Scrolls of whole framebuffer rows and everything that reads or draws after
// them.  Every check compares the window with a plain pixel array that the
// test updates by the definition of each operation, and reads the window
// pixel by pixel, so earlier scrolls are not undone by the reading itself.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/display.h"
#include "platform/png.h"
#include "support/test_support.h"

namespace {

// What the window must show, maintained the slow and obvious way.
struct Model {
  int w = 0, h = 0;
  std::vector<uint8_t> px;

  Model(int width, int height) : w(width), h(height), px(static_cast<size_t>(width * height), 0) {}
  bool inside(int x, int y) const { return x >= 0 && y >= 0 && x < w && y < h; }
  uint8_t& at(int x, int y) { return px[static_cast<size_t>(y * w + x)]; }

  void fill(int pen, int x0, int y0, int x1, int y1) {
    for (int y = y0; y <= y1; y++)
      for (int x = x0; x <= x1; x++)
        if (inside(x, y)) at(x, y) = static_cast<uint8_t>(pen);
  }
  // Copies through a buffer: every destination pixel gets the source pixel
  // as it was before the copy.
  void blit(int sx, int sy, int dx, int dy, int bw, int bh) {
    const std::vector<uint8_t> before = px;
    for (int j = 0; j < bh; j++) {
      for (int i = 0; i < bw; i++) {
        if (inside(sx + i, sy + j) && inside(dx + i, dy + j))
          at(dx + i, dy + j) = before[static_cast<size_t>((sy + j) * w + sx + i)];
      }
    }
  }
  void glyph(int x, int y, const uint8_t* rows, int height, int scale, int fg, int bg) {
    for (int py = 0; py < height * scale; py++) {
      for (int px_ = 0; px_ < 8 * scale; px_++) {
        if (!inside(x + px_, y + py)) continue;
        bool set = rows[py / scale] & (0x80 >> (px_ / scale));
        if (set) {
          at(x + px_, y + py) = static_cast<uint8_t>(fg);
        } else if (bg >= 0) {
          at(x + px_, y + py) = static_cast<uint8_t>(bg);
        }
      }
    }
  }
};

// The first pixel where the window and the model differ, or "" when none.
std::string first_difference(const PlatWindow* win, Model& m) {
  for (int y = 0; y < m.h; y++) {
    for (int x = 0; x < m.w; x++) {
      int got = plat_read_pixel(win, x, y);
      if (got != m.at(x, y)) {
        std::ostringstream s;
        s << "pixel " << x << "," << y << " is " << got << ", want " << int{m.at(x, y)};
        return s.str();
      }
    }
  }
  return "";
}

// Every pixel its own pen in a pattern that differs from row to row, so a
// row taken from the wrong place shows.
void scramble(PlatWindow* win, Model* m) {
  for (int y = 0; y < m->h; y++) {
    for (int x = 0; x < m->w; x++) {
      int pen = (x * 7 + y * 13) % 251;
      plat_set_apen(win, pen);
      plat_rect_fill(win, x, y, x, y);
      m->at(x, y) = static_cast<uint8_t>(pen);
    }
  }
}

struct WindowHolder {
  PlatWindow* w = nullptr;
  WindowHolder(int width, int height, PlatScreen* screen = nullptr) {
    PlatWindowSpec spec;
    spec.screen = screen;
    spec.inner_width = width;
    spec.inner_height = height;
    w = plat_open_window(spec);
  }
  ~WindowHolder() { plat_close_window(w); }
};

// A glyph of random rows and a fill, drawn into the window and the model
// alike.
auto drawers(PlatWindow* w, Model& m, std::mt19937& rng) {
  auto glyph = [w, &m, &rng](int x, int y, int height, int scale, int fg, int bg) {
    uint8_t rows[16];
    for (auto& r : rows) r = static_cast<uint8_t>(rng());
    plat_draw_glyph(w, x, y, rows, height, scale, fg, bg);
    m.glyph(x, y, rows, height, scale, fg, bg);
  };
  auto fill = [w, &m](int pen, int x0, int y0, int x1, int y1) {
    plat_set_apen(w, pen);
    plat_rect_fill(w, x0, y0, x1, y1);
    m.fill(pen, x0, y0, x1, y1);
  };
  return std::pair{glyph, fill};
}

// System-font text drawn into the window.  The model takes the result from
// a plain window (no grid or shared rows of its own) showing its picture.
void text_both(PlatWindow* win, Model& m, PlatFont* font, int tx, int ty, bool jam1,
               const char* text) {
  WindowHolder plain(m.w, m.h);
  if (!plain.w) {
    ADD_FAILURE() << "no plain window";
    return;
  }
  for (int y = 0; y < m.h; y++) {
    for (int x = 0; x < m.w; x++) {
      plat_set_apen(plain.w, m.at(x, y));
      plat_rect_fill(plain.w, x, y, x, y);
    }
  }
  for (PlatWindow* w : {win, plain.w}) {
    plat_set_font(w, font);
    plat_set_apen(w, 5);
    plat_set_bpen(w, 3);
    plat_set_drmd(w, jam1 ? PLAT_JAM1 : PLAT_JAM2);
    plat_move(w, tx, ty);
    plat_text(w, text, static_cast<int>(strlen(text)));
  }
  for (int y = 0; y < m.h; y++)
    for (int x = 0; x < m.w; x++) m.at(x, y) = static_cast<uint8_t>(plat_read_pixel(plain.w, x, y));
  plat_set_drmd(win, PLAT_JAM2);
}

TEST(Scrolls, VerticalBlitsOfWholeRowsAndOfMostOfTheWidthAccumulate) {
  // Tall enough for bands whose both sides exceed any small buffer.
  constexpr int W = 60, H = 700;
  WindowHolder win(W, H);
  ASSERT_NE(win.w, nullptr);
  Model m(W, H);
  scramble(win.w, &m);
  // Whole rows (x 0, width W), then blocks of columns such as a grid centred
  // on a wider screen scrolls, where the columns beside them stay put.
  struct Case {
    int x, w, sy, dy, h;
  } cases[] = {
      {0, W, 16, 0, H - 16},          // the whole window up by a text row
      {0, W, 1, 0, H - 1},            // up by one
      {0, W, 0, 16, H - 16},          // down by a text row
      {0, W, 0, 1, H - 1},            // down by one
      {0, W, 120, 100, 200},          // a band in the middle (a scroll region) up
      {0, W, 100, 120, 200},          // and down
      {0, W, 50, 10, 40},             // distance equals the height: no overlap
      {0, W, 10, 50, 40},             //
      {0, W, 400, 20, 30},            // apart
      {0, W, 300, 0, 350},            // distance and height both above 256 rows
      {0, W, 0, 300, 350},            //
      {0, W, 256, 0, 300},            // 256 and 257 rows: around the size of the
      {0, W, 0, 257, 300},            // small buffer the row table turns through
      {0, W, 5, 5, 100},              // no distance: nothing changes
      {0, W, -30, 10, 100},           // source starts above the window
      {0, W, 10, -30, 100},           // destination starts above the window
      {0, W, H - 40, H - 60, 100},    // source runs off the bottom
      {0, W, H - 60, H - 40, 100},    // destination runs off the bottom
      {0, W, 0, H, 10},               // destination wholly below
      {-8, W + 16, 40, 30, 200},      // wider than the window: whole rows
      {5, 50, 16, 0, 150},            // a centred grid one line up
      {5, 50, 0, 16, 150},            // and down
      {0, 59, 1, 0, H - 1},           // against the left edge, by one row
      {1, 59, 0, 1, H - 1},           // against the right edge
      {3, 55, 40, 10, 200},           // by more than the columns beside are wide
      {3, 55, 10, 40, 200},           //
      {5, 50, -20, -36, 150},         // clipped at the top
      {5, 50, H - 100, H - 84, 150},  // clipped at the bottom
      {5, 50, 40, 10, 20},            // apart
      {20, 10, 40, 30, 100},          // a narrow block
  };
  for (const Case& c : cases) {
    plat_clip_blit(win.w, c.x, c.sy, c.x, c.dy, c.w, c.h);
    m.blit(c.x, c.sy, c.x, c.dy, c.w, c.h);
    ASSERT_EQ(first_difference(win.w, m), "")
        << "columns " << c.x << "+" << c.w << ", rows " << c.sy << " -> " << c.dy << " x " << c.h;
  }
  const uint8_t* block = plat_window_pixels(win.w);
  EXPECT_EQ(std::vector<uint8_t>(block, block + W * H), m.px);
}

TEST(Scrolls, PartialBlitsFillsAndGlyphsLandRightAfterScrolls) {
  constexpr int W = 48, H = 64;
  WindowHolder win(W, H);
  ASSERT_NE(win.w, nullptr);
  Model m(W, H);
  scramble(win.w, &m);
  std::mt19937 rng(77);
  auto any = [&](int lo, int hi) { return lo + static_cast<int>(rng() % (hi - lo + 1)); };
  uint8_t rows[16];
  for (int step = 0; step < 600; step++) {
    std::string what;
    switch (rng() % 7) {
      case 0:
      case 1: {
        int h = any(1, H), sy = any(-8, H), dy = any(-8, H);
        plat_clip_blit(win.w, 0, sy, 0, dy, W, h);
        m.blit(0, sy, 0, dy, W, h);
        what = "whole rows";
        break;
      }
      case 5: {
        // A terminal's scroll: a band up by a line, the line below cleared.
        int top = any(0, H - 2), bottom = any(top + 1, H - 1);
        int d = any(1, bottom - top);
        int pen = any(0, 255);
        plat_clip_blit(win.w, 0, top + d, 0, top, W, bottom - top + 1 - d);
        m.blit(0, top + d, 0, top, W, bottom - top + 1 - d);
        plat_set_apen(win.w, pen);
        plat_rect_fill(win.w, 0, bottom - d + 1, W - 1, bottom);
        m.fill(pen, 0, bottom - d + 1, W - 1, bottom);
        what = "scroll and clear";
        break;
      }
      case 6: {
        // Full-width bands, some over the edges, covering rows a scroll
        // left behind wholly, partly or not at all.
        int pen = any(0, 255), x0 = any(-3, 0), x1 = any(W - 1, W + 3);
        int y0 = any(-4, H), y1 = y0 + any(0, 24);
        plat_set_apen(win.w, pen);
        plat_rect_fill(win.w, x0, y0, x1, y1);
        m.fill(pen, x0, y0, x1, y1);
        what = "full-width fill";
        break;
      }
      case 2: {
        int bw = any(1, W - 1), bh = any(1, H), sx = any(-4, W), sy = any(-4, H), dx = any(-4, W),
            dy = any(-4, H);
        if (rng() % 2) {
          // Straight up or down, most of the width.
          bw = any(W / 2, W - 1);
          sx = dx = any(-2, W - bw);
        }
        plat_clip_blit(win.w, sx, sy, dx, dy, bw, bh);
        m.blit(sx, sy, dx, dy, bw, bh);
        what = "partial blit";
        break;
      }
      case 3: {
        int pen = any(0, 255), x0 = any(-4, W), y0 = any(-4, H);
        int x1 = x0 + any(0, 20), y1 = y0 + any(0, 20);
        plat_set_apen(win.w, pen);
        plat_rect_fill(win.w, x0, y0, x1, y1);
        m.fill(pen, x0, y0, x1, y1);
        what = "fill";
        break;
      }
      default: {
        for (auto& r : rows) r = static_cast<uint8_t>(rng());
        int scale = any(1, 3), x = any(-10, W), y = any(-20, H), bg = any(-1, 1) < 0 ? -1 : 9;
        plat_draw_glyph(win.w, x, y, rows, 16, scale, 14, bg);
        m.glyph(x, y, rows, 16, scale, 14, bg);
        what = "glyph";
        break;
      }
    }
    ASSERT_EQ(first_difference(win.w, m), "") << "step " << step << ": " << what;
    if (step % 50 == 49) {
      // Reading the block puts the rows in order; later scrolls go on from
      // there.
      const uint8_t* block = plat_window_pixels(win.w);
      ASSERT_EQ(std::vector<uint8_t>(block, block + W * H), m.px) << "step " << step;
    }
  }
}

TEST(Scrolls, AGridScrolledInAWiderWindowKeepsEveryOtherDrawingExact) {
  // A grid of columns 16..143 in a window 160 wide scrolls on its own (as a
  // terminal centred on a full screen does), its new line cleared and
  // written as a terminal writes text; around that every other operation,
  // most of them across the grid's edges, and now and then a scroll of
  // other columns or of the whole window.  The window is compared with the
  // model after each step (a step may be several calls), so that what the
  // framebuffer leaves owing between calls is seen only through the calls.
  constexpr int W = 160, H = 96, GX = 16, GW = 128;
  PlatFont* font = plat_open_font("DejaVu Sans Mono.font", 12);
  ASSERT_NE(font, nullptr);
  WindowHolder win(W, H);
  ASSERT_NE(win.w, nullptr);
  Model m(W, H);
  scramble(win.w, &m);
  std::mt19937 rng(1717);
  auto any = [&](int lo, int hi) { return lo + static_cast<int>(rng() % (hi - lo + 1)); };
  auto [glyph, fill] = drawers(win.w, m, rng);
  for (int step = 0; step < 2000; step++) {
    std::string what;
    const int op = static_cast<int>(rng() % 12);
    if (op < 5) {
      // A scroll by a text line of 8 or 16 rows, up (mostly) or down: of
      // the grid, or now and then of the whole window.  The line left
      // behind is cleared (sometimes only part of it), then usually
      // written: glyphs of the line's height at scale 1 or 2, left to right
      // from the grid's edge, or with a gap, a cell written twice, right to
      // left, a cursor bar or other drawing in between.
      const bool whole = rng() % 5 == 0;
      const int x0 = whole ? 0 : GX, width = whole ? W : GW;
      const int line = rng() % 2 ? 8 : 16, top = any(0, 8), bottom = H - 1 - any(0, 8);
      const bool up = rng() % 4 != 0;
      const int h = bottom - top + 1 - line;
      const int sy = up ? top + line : top, dy = up ? top : top + line;
      plat_clip_blit(win.w, x0, sy, x0, dy, width, h);
      m.blit(x0, sy, x0, dy, width, h);
      const int cy0 = up ? bottom - line + 1 : top, cy1 = up ? bottom : top + line - 1;
      const int cx1 = rng() % 4 ? x0 + width - 1 : x0 + any(0, width - 1);
      fill(any(0, 255), x0, cy0, cx1, cy1);
      what = whole ? "window scroll" : "grid scroll";
      if (rng() % 3) {
        const int scale = line == 8 || rng() % 2 ? 1 : 2, cw = 8 * scale;
        const int cells = any(1, width / cw), style = any(0, 14);
        for (int i = 0; i < cells; i++) {
          int col = style == 1 ? cells - 1 - i : (style == 2 && i >= cells / 2 ? i + 1 : i);
          if (style == 3 && i == cells / 2) col = 0;
          if (style == 13) col += (width / cw - cells) / 2;  // text in the middle
          const int x = x0 + col * cw;
          if (x + cw > x0 + width) break;
          glyph(x, cy0, line / scale, scale, any(0, 255), any(0, 255));
          if (style == 4 && i == cells / 2) fill(15, x + 1, cy1 - 1, x + cw - 2, cy1);
          if (style == 5 && i == cells / 2) glyph(any(-8, W), any(-8, H), 8, 1, 3, -1);
          if (style == 6 && i == cells / 2) glyph(x, cy0 - line, line, 1, 4, 5);
          // Another line cleared (the terminal's erase), or the rest of
          // this one.
          if (style == 7 && i == cells / 2)
            fill(any(0, 255), x0, top, x0 + width - 1, top + line - 1);
          if (style == 8 && i == cells / 2) fill(any(0, 255), x, cy0, x0 + width - 1, cy1);
          // A shorter glyph in the next cell, at the line's top.
          if (style == 9 && i == cells - 1 && x + 2 * cw <= x0 + width)
            glyph(x + cw, cy0, line / 2, 1, 6, 7);
          // The whole line cleared again; a scale-3 glyph taller than the
          // line over the next cells.
          if (style == 10 && i == cells / 2) fill(any(0, 255), x0, cy0, x0 + width - 1, cy1);
          if (style == 11 && i == cells - 1 && x + cw + 24 <= x0 + width)
            glyph(x + cw, cy0 - 1, 6, 3, 8, rng() % 2 ? 9 : -1);
          // The left half of the line cleared again.
          if (style == 12 && i == cells / 2) fill(any(0, 255), x0, cy0, x0 + width / 2, cy1);
        }
        // Text in the middle of the line, then the rest of it erased.
        if (style == 13)
          fill(any(0, 255), x0 + (width / cw + cells) / 2 * cw, cy0, x0 + width - 1, cy1);
        what += " and text";
      }
    } else if (op == 5) {
      // Inside the grid, over either edge, or beside it; every scale with
      // a table and one without.
      int scale = rng() % 8 == 0 ? 9 : any(1, 3);
      int x = rng() % 2 ? GX + 8 * any(0, 14) : any(-10, W);
      glyph(x, any(-20, H), 16, scale, 14, rng() % 3 ? any(0, 255) : -1);
      what = "glyph";
    } else if (op < 8) {
      int x0 = any(-4, W), y0 = any(-4, H);
      fill(any(0, 255), x0, y0, x0 + any(0, W), y0 + any(0, 20));
      what = "fill";
    } else if (op == 8) {
      // Any block, mostly across the grid's edges or sideways.
      int bw = any(1, W), bh = any(1, H), sx = any(-4, W), sy = any(-4, H), dx = any(-4, W),
          dy = any(-4, H);
      plat_clip_blit(win.w, sx, sy, dx, dy, bw, bh);
      m.blit(sx, sy, dx, dy, bw, bh);
      what = "other blit";
    } else if (op == 9) {
      // Another tall block straight up or down (the grid moved): the
      // grid's own lines go and come again.
      int bx = any(0, 40), bw = any(W / 2, W - bx - 1);
      int d = any(1, 8), bh = any(H / 2, H - d);
      int sy = any(0, H - bh - d) + (rng() % 2 ? d : 0);
      int dy = sy >= d && rng() % 2 ? sy - d : sy + d;
      plat_clip_blit(win.w, bx, sy, bx, dy, bw, bh);
      m.blit(bx, sy, bx, dy, bw, bh);
      what = "other tall blit";
    } else if (op == 10) {
      // System-font text over the grid's edges, both modes.
      int tx = any(-6, W - 4), ty = any(4, H);
      bool jam1 = rng() % 2;
      text_both(win.w, m, font, tx, ty, jam1, "Wg|#");
      what = "text";
    } else {
      // The whole block, and a PNG, read right after a line was written.
      fill(9, GX, H - 16, GX + GW - 1, H - 1);
      glyph(GX, H - 16, 16, 1, 1, 2);
      const uint8_t* block = plat_window_pixels(win.w);
      ASSERT_EQ(std::vector<uint8_t>(block, block + W * H), m.px) << "step " << step;
      what = "block read";
    }
    ASSERT_EQ(first_difference(win.w, m), "") << "step " << step << ": " << what;
  }
  plat_close_font(font);
}

TEST(Scrolls, TextAtScale2SharingRowsKeepsEveryDrawingExact) {
  // A terminal at scale 2 scrolls by text lines of 16 rows, clears the new
  // line across the grid's whole width and writes it with scale-2 glyphs,
  // whose pixel rows come in pairs: such rows may share their pixels.
  // Around that, everything that sets the two rows of a pair apart: scale-1
  // and ink glyphs, cursor bars and fills of odd rows, scrolls by odd
  // distances, glyphs a row off the pairs, system-font text, and reads of
  // every kind.  Grids as wide as their window and centred on a wider one,
  // with their top on an even and on an odd row.
  struct Case {
    int grid_x, grid_w, top;
  } cases[] = {{0, 128, 0}, {0, 128, 1}, {16, 128, 0}, {16, 128, 3}};
  constexpr int H = 101;
  PlatFont* font = plat_open_font("DejaVu Sans Mono.font", 12);
  ASSERT_NE(font, nullptr);
  for (const Case& c : cases) {
    const int W = c.grid_x * 2 + c.grid_w, GX = c.grid_x, GW = c.grid_w;
    const int top = c.top, bottom = top + 16 * 5 - 1;  // five text lines
    WindowHolder win(W, H);
    ASSERT_NE(win.w, nullptr);
    Model m(W, H);
    scramble(win.w, &m);
    std::mt19937 rng(static_cast<unsigned>(2 + top + GX));
    auto any = [&](int lo, int hi) { return lo + static_cast<int>(rng() % (hi - lo + 1)); };
    auto [glyph, fill] = drawers(win.w, m, rng);
    auto scroll = [&](int d) {  // the grid's text lines up by d rows
      plat_clip_blit(win.w, GX, top + d, GX, top, GW, bottom - top + 1 - d);
      m.blit(GX, top + d, GX, top, GW, bottom - top + 1 - d);
    };
    for (int step = 0; step < 1500; step++) {
      std::string what;
      const int op = static_cast<int>(rng() % 16);
      if (op < 8) {
        // The usual: a scroll, the new line cleared and written at scale
        // 2, now and then something else in the middle of it.
        scroll(16);
        const int y = bottom - 15;
        fill(any(0, 255), GX, y, GX + GW - 1, bottom);
        const int cells = any(0, GW / 16), style = any(0, 9);
        for (int i = 0; i < cells; i++) {
          glyph(GX + 16 * i, y, 8, 2, any(0, 255), any(0, 255));
          if (i != cells / 2) continue;
          if (style == 1) fill(any(0, 255), GX + 16 * i + 1, bottom - 2, GX + 16 * i + 14, bottom);
          if (style == 2) glyph(GX + 16 * i, y + any(0, 8), 8, 1, 3, 4);
          if (style == 3) glyph(GX + 16 * i, y, 8, 2, 5, -1);
          if (style == 4) glyph(GX + 16 * i, y + 1, 7, 2, 6, 7);
          if (style == 5) fill(any(0, 255), GX, y + any(0, 15), GX + GW - 1, bottom);
          if (style == 6) fill(any(0, 255), GX, y + 3, GX + GW - 1, y + 3);
        }
        what = "line of text";
      } else if (op == 8) {
        scroll(any(1, 17));
        what = "scroll by any distance";
      } else if (op == 9) {
        // Text a row off the pairs, over two lines.
        const int y = any(top, bottom - 16);
        for (int i = any(0, 3); i < GW / 16; i += any(1, 3)) glyph(GX + 16 * i, y, 8, 2, 8, 9);
        what = "glyphs off the pairs";
      } else if (op == 10) {
        int x0 = any(-4, W), y0 = any(-4, H);
        fill(any(0, 255), x0, y0, x0 + any(0, W), y0 + any(0, 20));
        what = "fill";
      } else if (op == 11) {
        int bw = any(1, W), bh = any(1, H), sx = any(-4, W), sy = any(-4, H), dx = any(-4, W),
            dy = any(-4, H);
        plat_clip_blit(win.w, sx, sy, dx, dy, bw, bh);
        m.blit(sx, sy, dx, dy, bw, bh);
        what = "other blit";
      } else if (op == 12) {
        glyph(any(-10, W), any(-20, H), any(1, 16), any(1, 3), 10, rng() % 2 ? 11 : -1);
        what = "any glyph";
      } else if (op == 13) {
        // System-font text.
        const int tx = any(0, W - 8), ty = any(top + 4, bottom);
        text_both(win.w, m, font, tx, ty, false, "Wg|");
        what = "text";
      } else if (op == 14) {
        const uint8_t* block = plat_window_pixels(win.w);
        ASSERT_EQ(std::vector<uint8_t>(block, block + W * H), m.px) << "step " << step;
        what = "block read";
      } else {
        // The whole window scrolled, its last line cleared and written.
        plat_clip_blit(win.w, 0, 16, 0, 0, W, H - 16);
        m.blit(0, 16, 0, 0, W, H - 16);
        fill(any(0, 255), 0, H - 16, W - 1, H - 1);
        for (int x = 0; x + 16 <= W; x += 16) glyph(x, H - 16, 8, 2, 12, 13);
        what = "window scroll";
      }
      ASSERT_EQ(first_difference(win.w, m), "")
          << "grid " << GX << "+" << GW << " from row " << top << ", step " << step << ": " << what;
    }
  }
  plat_close_font(font);
}

TEST(Scrolls, ALineOfScale2TextGoesOnWholeAfterItsRowsArePairedAnew) {
  // The glyphs of a line of scale-2 text after the first write each pixel
  // row once while the rows stay paired as the first found them.  Between
  // two glyphs of the line, something pairs the rows anew or sets a row
  // apart; the glyphs after it must still cover every row of the line.
  struct Breaker {
    const char* name;
    int line_y;  // the line's top row (odd: pairs from an odd row)
  } breakers[] = {{"grid turned by one row", 16},      {"one row of the line filled", 16},
                  {"rows paired from the row above", 1}, {"a scale-1 glyph in the line", 16},
                  {"the block read", 16},                {"grid turned by three rows", 17}};
  struct Placement {
    int grid_x, grid_w;
  } placements[] = {{0, 128}, {16, 128}};
  constexpr int H = 64;
  for (const Placement& p : placements) {
    for (size_t b = 0; b < std::size(breakers); b++) {
      const int GX = p.grid_x, GW = p.grid_w, W = 2 * GX + GW, y = breakers[b].line_y;
      WindowHolder win(W, H);
      ASSERT_NE(win.w, nullptr);
      Model m(W, H);
      scramble(win.w, &m);
      std::mt19937 rng(static_cast<unsigned>(b * 7 + GX));
      auto [glyph, fill] = drawers(win.w, m, rng);
      auto turn = [&](int d) {  // the grid up by d rows
        plat_clip_blit(win.w, GX, d, GX, 0, GW, H - d);
        m.blit(GX, d, GX, 0, GW, H - d);
      };
      // A line cleared across the grid and begun at scale 2 (after scale-2
      // text, as a terminal's lines are, so that the clear pairs its rows).
      glyph(GX, y, 8, 2, 1, 2);
      fill(20, GX, y, GX + GW - 1, y + 15);
      glyph(GX, y, 8, 2, 1, 2);
      glyph(GX + 16, y, 8, 2, 3, 4);
      switch (b) {
        case 0: turn(1); break;
        case 1: fill(30, GX + 40, y + 3, GX + 60, y + 3); break;
        case 2: fill(31, GX, y - 1, GX + GW - 1, y + 16); break;
        case 3: glyph(GX + 32, y + 5, 16, 1, 5, 6); break;
        case 4: {
          const uint8_t* block = plat_window_pixels(win.w);
          ASSERT_EQ(std::vector<uint8_t>(block, block + W * H), m.px) << breakers[b].name;
          fill(21, GX, y, GX + GW - 1, y + 15);
          break;
        }
        default: turn(3); break;
      }
      for (int cell = 3; cell < 6; cell++) glyph(GX + 16 * cell, y, 8, 2, 7 + cell, 9);
      ASSERT_EQ(first_difference(win.w, m), "")
          << "grid " << GX << "+" << GW << ", line at row " << y << ": " << breakers[b].name;
    }
  }
}

TEST(Scrolls, GlyphsAndFillsAroundAClearedLineBeforeAnythingIsRead) {
  // A line cleared (columns 100..299 of rows 16..31, wide enough to be left
  // owing) and then drawn over in one order or another; the window is read
  // only at the end.
  constexpr int W = 400, H = 48;
  struct Draw {
    int x, y, height;  // a glyph of 16 x height at scale 1 (or 2 when height is 8)
    int fill_x1;       // or, when above 0, a fill from x to fill_x1 over rows y..y+height-1
  };
  struct Case {
    const char* what;
    std::vector<Draw> draws;
  };
  const Case cases[] = {
      {"a glyph left of the line, on its rows", {{0, 16, 16, 0}}},
      {"a glyph just left of the line", {{92, 16, 16, 0}}},
      {"text from the line's start", {{100, 16, 16, 0}, {108, 16, 16, 0}, {116, 16, 16, 0}}},
      {"text, then a cell far to the right",
       {{100, 16, 16, 0}, {108, 16, 16, 0}, {260, 16, 16, 0}}},
      {"a glyph over the line's right end", {{296, 16, 16, 0}}},
      {"text leftwards", {{140, 16, 16, 0}, {132, 16, 16, 0}, {124, 16, 16, 0}}},
      {"a glyph of other rows in the line", {{100, 20, 8, 0}, {108, 16, 16, 0}}},
      {"a scale-2 glyph as tall as the line", {{100, 16, 8, 0}, {116, 16, 8, 0}}},
      {"a cursor bar, then the text over it",
       {{101, 30, 2, 106}, {100, 16, 16, 0}, {108, 16, 16, 0}}},
      {"text, then the rest erased", {{100, 16, 16, 0}, {108, 16, 16, 299}}},
      {"text, then part of the rest erased", {{100, 16, 16, 0}, {108, 16, 16, 200}}},
      {"text, then all of the line cleared again", {{100, 16, 16, 0}, {0, 16, 16, 399}}},
      {"a fill of other rows beside it", {{100, 16, 16, 0}, {0, 0, 8, 399}, {108, 16, 16, 0}}},
  };
  std::mt19937 rng(4);
  for (const Case& c : cases) {
    WindowHolder win(W, H);
    ASSERT_NE(win.w, nullptr);
    Model m(W, H);
    scramble(win.w, &m);
    plat_set_apen(win.w, 200);
    plat_rect_fill(win.w, 100, 16, 299, 31);
    m.fill(200, 100, 16, 299, 31);
    uint8_t rows[16];
    for (const Draw& d : c.draws) {
      if (d.fill_x1 > 0) {
        plat_set_apen(win.w, 201);
        plat_rect_fill(win.w, d.x, d.y, d.fill_x1, d.y + d.height - 1);
        m.fill(201, d.x, d.y, d.fill_x1, d.y + d.height - 1);
        continue;
      }
      for (auto& r : rows) r = static_cast<uint8_t>(rng());
      const int scale = d.height == 8 ? 2 : 1;
      plat_draw_glyph(win.w, d.x, d.y, rows, d.height, scale, 3, 4);
      m.glyph(d.x, d.y, rows, d.height, scale, 3, 4);
    }
    EXPECT_EQ(first_difference(win.w, m), "") << c.what;
  }
}

TEST(Scrolls, DrawingNextToTheRowsAScrollLeftBehind) {
  // A band of rows 4..35 scrolled up by 6 leaves rows 30..35 to show their
  // old pixels, now kept in rows 24..29.  Then one drawing call near them.
  constexpr int W = 40, H = 44;
  struct Case {
    const char* what;
    int x0, y0, x1, y1;  // a fill, or with glyph set a glyph at x0,y0
    bool glyph;
    bool up;  // the band scrolled up (else down: rows 4..9 left behind)
  } cases[] = {
      {"exactly the rows left behind", 0, 30, W - 1, 35, false, true},
      {"them and more, over the edges", -3, 20, W + 5, 50, false, true},
      {"the upper part of them", 0, 30, W - 1, 32, false, true},
      {"the lower part of them", 0, 33, W - 1, 35, false, true},
      {"all but the last column", 0, 30, W - 2, 35, false, true},
      {"all but the first column", 1, 30, W - 1, 35, false, true},
      {"the rows their pixels are kept in", 0, 24, W - 1, 29, false, true},
      {"the last row their pixels are kept in", 5, 29, 10, 29, false, true},
      {"the first row left behind", 5, 30, 10, 30, false, true},
      {"other rows", 0, 0, W - 1, 3, false, true},
      {"a glyph over the rows left behind", 8, 28, 0, 0, true, true},
      {"a glyph over the rows their pixels are kept in", 8, 14, 0, 0, true, true},
      {"a glyph hanging over the bottom", 8, H - 4, 0, 0, true, true},
      {"down: exactly the rows left behind", 0, 4, W - 1, 9, false, false},
      {"down: the rows their pixels are kept in", 0, 10, W - 1, 15, false, false},
      {"down: a glyph over both", 8, 0, 0, 0, true, false},
  };
  const uint8_t rows[16] = {0x00, 0xFF, 0x81, 0x42, 0x24, 0x18, 0x3C, 0x7E,
                            0x01, 0x80, 0x55, 0xAA, 0x0F, 0xF0, 0x99, 0x66};
  for (const Case& c : cases) {
    WindowHolder win(W, H);
    ASSERT_NE(win.w, nullptr);
    Model m(W, H);
    scramble(win.w, &m);
    const int sy = c.up ? 10 : 4, dy = c.up ? 4 : 10;
    plat_clip_blit(win.w, 0, sy, 0, dy, W, 26);
    m.blit(0, sy, 0, dy, W, 26);
    if (c.glyph) {
      plat_draw_glyph(win.w, c.x0, c.y0, rows, 16, 1, 200, 201);
      m.glyph(c.x0, c.y0, rows, 16, 1, 200, 201);
    } else {
      plat_set_apen(win.w, 222);
      plat_rect_fill(win.w, c.x0, c.y0, c.x1, c.y1);
      m.fill(222, c.x0, c.y0, c.x1, c.y1);
    }
    EXPECT_EQ(first_difference(win.w, m), "") << c.what;
    // The next scroll starts from the right picture too.
    plat_clip_blit(win.w, 0, 1, 0, 0, W, H - 1);
    m.blit(0, 1, 0, 0, W, H - 1);
    EXPECT_EQ(first_difference(win.w, m), "") << c.what << ", then scrolled again";
  }
}

TEST(Scrolls, PngAndPixelBlockShowTheScrolledPicture) {
  TempDir dir;
  PlatScreen* s = plat_open_screen(320, 200, 8, "Kavel Screen");
  ASSERT_NE(s, nullptr);
  // 256 different colours, so every pen is told apart in the picture.
  std::vector<uint32_t> table;
  for (uint32_t i = 0; i < 256; i++) {
    table.push_back(i << 24);
    table.push_back((255 - i) << 24);
    table.push_back(((i * 37) & 0xFF) << 24);
  }
  plat_screen_load_rgb32(s, 0, 256, table.data());
  constexpr int W = 32, H = 48;
  {
    WindowHolder win(W, H, s);
    ASSERT_NE(win.w, nullptr);
    Model m(W, H);
    scramble(win.w, &m);
    for (int i = 0; i < 5; i++) {
      plat_clip_blit(win.w, 0, 8, 0, 0, W, H - 8);  // up by a text row
      m.blit(0, 8, 0, 0, W, H - 8);
      plat_set_apen(win.w, 200 + i);
      plat_rect_fill(win.w, 0, H - 8, W - 1, H - 1);
      m.fill(200 + i, 0, H - 8, W - 1, H - 1);
    }
    plat_clip_blit(win.w, 0, 10, 0, 14, W, 20);  // a region down
    m.blit(0, 10, 0, 14, W, 20);
    ASSERT_EQ(first_difference(win.w, m), "");

    ASSERT_EQ(plat_save_window_png(win.w, dir.file("s.png").c_str()), 0);
    int pw = 0, ph = 0;
    std::vector<uint8_t> rgb;
    ASSERT_EQ(png_read_rgb(dir.file("s.png").c_str(), &pw, &ph, &rgb), 0);
    ASSERT_EQ(pw, W);
    ASSERT_EQ(ph, H);
    for (int y = 0; y < H; y++) {
      for (int x = 0; x < W; x++) {
        size_t i = static_cast<size_t>(y * W + x) * 3;
        uint32_t got = (uint32_t{rgb[i]} << 16) | (uint32_t{rgb[i + 1]} << 8) | rgb[i + 2];
        ASSERT_EQ(got, plat_pen_rgb(s, m.at(x, y))) << x << "," << y;
      }
    }
    const uint8_t* block = plat_window_pixels(win.w);
    EXPECT_EQ(std::vector<uint8_t>(block, block + W * H), m.px);
  }
  plat_close_screen(s);
}

TEST(Scrolls, SystemFontTextOverScrolledRowsMatchesTheSamePictureDrawnDirectly) {
  PlatFont* font = plat_open_font("DejaVu Sans Mono.font", 20);
  ASSERT_NE(font, nullptr);
  constexpr int W = 160, H = 80;
  // Blits whose moved and left-behind rows lie inside the text's line box
  // (baseline 50), and one that moves the rows back to their first order.
  struct Case {
    int sy, dy, h;
  } cases[] = {{30, 24, 20}, {36, 42, 10}, {20, 0, H - 20}, {0, 20, H - 20}};
  for (const Case& c : cases) {
    WindowHolder scrolled(W, H), direct(W, H);
    ASSERT_NE(scrolled.w, nullptr);
    ASSERT_NE(direct.w, nullptr);
    Model m(W, H);
    scramble(scrolled.w, &m);
    plat_clip_blit(scrolled.w, 0, c.sy, 0, c.dy, W, c.h);
    m.blit(0, c.sy, 0, c.dy, W, c.h);
    for (int y = 0; y < H; y++) {
      for (int x = 0; x < W; x++) {
        plat_set_apen(direct.w, m.at(x, y));
        plat_rect_fill(direct.w, x, y, x, y);
      }
    }
    for (PlatWindow* w : {scrolled.w, direct.w}) {
      plat_set_font(w, font);
      plat_set_apen(w, 5);
      plat_set_bpen(w, 3);
      plat_set_drmd(w, PLAT_JAM2);
      plat_move(w, 4, 50);
      plat_text(w, "Kavel gj|", 9);
      plat_set_drmd(w, PLAT_JAM1);
      plat_move(w, 60, 50);
      plat_text(w, "Wy", 2);
    }
    int ink = 0;
    for (int y = 0; y < H; y++) {
      for (int x = 0; x < W; x++) {
        ASSERT_EQ(plat_read_pixel(scrolled.w, x, y), plat_read_pixel(direct.w, x, y))
            << x << "," << y << " after rows " << c.sy << " -> " << c.dy;
        ink += plat_read_pixel(direct.w, x, y) == 5;
      }
    }
    EXPECT_GT(ink, 40);
  }
  plat_close_font(font);
}

}  // namespace
