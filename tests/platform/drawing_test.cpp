// Drawing on window framebuffers, checked against straightforward per-pixel
// models of what each operation must leave behind.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "platform/display.h"

namespace {

constexpr int kW = 40;
constexpr int kH = 30;

class Drawing : public ::testing::Test {
 protected:
  void SetUp() override {
    PlatWindowSpec spec;
    spec.inner_width = kW;
    spec.inner_height = kH;
    win = plat_open_window(spec);
    ref = plat_open_window(spec);
    ASSERT_NE(win, nullptr);
    ASSERT_NE(ref, nullptr);
  }
  void TearDown() override {
    plat_close_window(win);
    plat_close_window(ref);
  }
  std::vector<uint8_t> pixels(PlatWindow* w) const {
    const uint8_t* p = plat_window_pixels(w);
    return std::vector<uint8_t>(p, p + kW * kH);
  }
  // Fills the window with a pattern in which every pixel differs from its
  // neighbours, so a copy from the wrong place shows.
  void scramble(PlatWindow* w) {
    for (int y = 0; y < kH; y++) {
      for (int x = 0; x < kW; x++) {
        plat_set_apen(w, (x * 7 + y * 13) % 251);
        plat_rect_fill(w, x, y, x, y);
      }
    }
  }
  PlatWindow* win = nullptr;
  PlatWindow* ref = nullptr;
};

TEST_F(Drawing, RectFillIsInclusiveAndClippedOnEveryEdge) {
  struct Case {
    int x0, y0, x1, y1;
  } cases[] = {
      {3, 4, 10, 8},                          // inside
      {5, 5, 5, 5},                           // one pixel
      {-6, 2, 4, 6},                          // left edge
      {35, 2, 60, 6},                         // right edge
      {2, -9, 6, 3},                          // top edge
      {2, 25, 6, 90},                         // bottom edge
      {-100, -100, 500, 500}, {10, 2, 9, 6},  // x1 < x0: nothing
      {2, 10, 6, 9},                          // y1 < y0: nothing
      {41, 0, 50, 5},                         // entirely right of the window
      {0, -20, 5, -1},                        // entirely above
  };
  for (const Case& c : cases) {
    plat_set_apen(win, 0);
    plat_rect_fill(win, 0, 0, kW - 1, kH - 1);
    plat_set_apen(win, 9);
    plat_rect_fill(win, c.x0, c.y0, c.x1, c.y1);
    for (int y = 0; y < kH; y++) {
      for (int x = 0; x < kW; x++) {
        bool in = x >= c.x0 && x <= c.x1 && y >= c.y0 && y <= c.y1;
        ASSERT_EQ(plat_read_pixel(win, x, y), in ? 9 : 0)
            << "fill " << c.x0 << "," << c.y0 << "-" << c.x1 << "," << c.y1 << " at " << x << ","
            << y;
      }
    }
  }
  EXPECT_EQ(plat_read_pixel(win, -1, 0), -1);
  EXPECT_EQ(plat_read_pixel(win, 0, kH), -1);
}

TEST_F(Drawing, BlitMatchesACopyThroughABufferInEveryDirection) {
  struct Case {
    int sx, sy, dx, dy, w, h;
  } cases[] = {
      {5, 10, 5, 4, 20, 12},     // up, overlapping
      {5, 4, 5, 10, 20, 12},     // down, overlapping
      {10, 5, 4, 5, 20, 12},     // left, overlapping
      {4, 5, 10, 5, 20, 12},     // right, overlapping
      {4, 4, 7, 9, 20, 12},      // down and right
      {9, 8, 2, 3, 20, 12},      // up and left
      {0, 0, 0, 1, kW, kH},      // whole window scrolled down by one
      {0, 1, 0, 0, kW, kH},      // and up by one
      {30, 20, 35, 25, 20, 20},  // destination runs off the right and bottom
      {-5, -3, 10, 10, 12, 8},   // source starts outside the top-left
      {10, 10, -4, -2, 12, 8},   // destination starts outside the top-left
      {0, 0, 50, 0, 10, 10},     // destination wholly outside
      {3, 3, 8, 8, 0, 5},        // empty
  };
  for (const Case& c : cases) {
    scramble(win);
    std::vector<uint8_t> before = pixels(win);
    std::vector<uint8_t> want = before;
    for (int j = 0; j < c.h; j++) {
      for (int i = 0; i < c.w; i++) {
        int sx = c.sx + i, sy = c.sy + j, dx = c.dx + i, dy = c.dy + j;
        bool ok =
            sx >= 0 && sy >= 0 && sx < kW && sy < kH && dx >= 0 && dy >= 0 && dx < kW && dy < kH;
        if (ok) want[static_cast<size_t>(dy * kW + dx)] = before[static_cast<size_t>(sy * kW + sx)];
      }
    }
    plat_clip_blit(win, c.sx, c.sy, c.dx, c.dy, c.w, c.h);
    ASSERT_EQ(pixels(win), want) << "blit " << c.sx << "," << c.sy << " -> " << c.dx << "," << c.dy
                                 << " " << c.w << "x" << c.h;
  }
}

// The glyph drawn the slow way: one fill per run of set bits.
void glyph_by_runs(PlatWindow* w, int x, int y, const uint8_t* rows, int height, int scale, int fg,
                   int bg) {
  if (bg >= 0) {
    plat_set_apen(w, bg);
    plat_rect_fill(w, x, y, x + 8 * scale - 1, y + height * scale - 1);
  }
  plat_set_apen(w, fg);
  for (int r = 0; r < height; r++) {
    int a = 0;
    while (a < 8) {
      if (!(rows[r] & (0x80 >> a))) {
        a++;
        continue;
      }
      int b = a;
      while (b < 8 && (rows[r] & (0x80 >> b))) b++;
      plat_rect_fill(w, x + a * scale, y + r * scale, x + b * scale - 1, y + r * scale + scale - 1);
      a = b;
    }
  }
}

TEST(Glyphs, GlyphEqualsPerRunFillsAtEveryScale) {
  constexpr int W = 100, H = 170;  // room for a 16-row glyph at scale 9
  PlatWindowSpec spec;
  spec.inner_width = W;
  spec.inner_height = H;
  PlatWindow* win = plat_open_window(spec);
  PlatWindow* ref = plat_open_window(spec);
  ASSERT_NE(win, nullptr);
  ASSERT_NE(ref, nullptr);
  auto fill_pattern = [&](PlatWindow* w) {
    for (int y = 0; y < H; y++) {
      for (int x = 0; x < W; x++) {
        plat_set_apen(w, (x * 7 + y * 13) % 251);
        plat_rect_fill(w, x, y, x, y);
      }
    }
  };
  auto same = [&] {
    return std::memcmp(plat_window_pixels(win), plat_window_pixels(ref), W * H) == 0;
  };
  std::mt19937 rng(1234);
  uint8_t rows[16];
  for (int scale = 1; scale <= 9; scale++) {
    const int gw = 8 * scale, gh = 16 * scale;
    for (int bg : {-1, 3}) {
      // Inside, against the far corner, and hanging over each edge.
      const int positions[][2] = {{2, 1},         {W - gw, H - gh}, {-5, 2},    {W - 3, 2},
                                  {4, -7},        {4, H - 5},       {-30, -60}, {W - gw + 1, 0},
                                  {0, H - gh + 1}};  // one pixel over the right, the bottom
      for (const auto& pos : positions) {
        for (auto& r : rows) r = static_cast<uint8_t>(rng());
        rows[0] = 0x00;
        rows[1] = 0xFF;
        rows[2] = 0x81;
        fill_pattern(win);
        fill_pattern(ref);
        plat_draw_glyph(win, pos[0], pos[1], rows, 16, scale, 14, bg);
        glyph_by_runs(ref, pos[0], pos[1], rows, 16, scale, 14, bg);
        ASSERT_TRUE(same()) << "scale " << scale << " bg " << bg << " at " << pos[0] << ","
                            << pos[1];
      }
    }
  }
  plat_close_window(win);
  plat_close_window(ref);
}

TEST_F(Drawing, GlyphAtScaleTwoDrawsSquaresAtBothEdges) {
  // A row 0x81 becomes two 2x2 squares; a row 0xFF one 16x2 bar.
  const uint8_t rows[2] = {0x81, 0xFF};
  plat_set_apen(win, 0);
  plat_rect_fill(win, 0, 0, kW - 1, kH - 1);
  plat_draw_glyph(win, 4, 6, rows, 2, 2, 5, -1);
  for (int y = 6; y < 8; y++) {
    for (int x = 4; x < 20; x++) {
      EXPECT_EQ(plat_read_pixel(win, x, y), (x < 6 || x >= 18) ? 5 : 0) << x << "," << y;
    }
  }
  for (int x = 4; x < 20; x++) EXPECT_EQ(plat_read_pixel(win, x, 8), 5);
  EXPECT_EQ(plat_read_pixel(win, 20, 8), 0);
  EXPECT_EQ(plat_read_pixel(win, 4, 10), 0);
}

TEST_F(Drawing, NullWindowAndBadArgumentsAreHarmless) {
  const uint8_t rows[1] = {0xFF};
  plat_rect_fill(nullptr, 0, 0, 5, 5);
  plat_clip_blit(nullptr, 0, 0, 1, 1, 5, 5);
  plat_draw_glyph(nullptr, 0, 0, rows, 1, 1, 1, 0);
  plat_text(nullptr, "x", 1);
  scramble(win);
  std::vector<uint8_t> before = pixels(win);
  plat_draw_glyph(win, 0, 0, nullptr, 1, 1, 1, 0);
  plat_draw_glyph(win, 0, 0, rows, 0, 1, 1, 0);
  plat_draw_glyph(win, 0, 0, rows, 1, 0, 1, 0);
  plat_clip_blit(win, 0, 0, 1, 1, -5, 5);
  plat_clip_blit(win, 0x7FFFFFF0, 0, 0, 0, 0x7FFFFFF0, 5);
  plat_text(win, "x", 1);  // no font selected
  EXPECT_EQ(pixels(win), before);
  EXPECT_EQ(plat_read_pixel(nullptr, 0, 0), -1);
}

}  // namespace

namespace {

TEST(Watch, ARectangleStaysIntactUntilSomethingIsDrawnIntoIt) {
  PlatFont* font = plat_open_font("DejaVu Sans Mono.font", 12);
  ASSERT_NE(font, nullptr);
  static const uint8_t kRows[16] = {0xFF, 0x81, 0x81, 0xFF};
  // The watched rectangle is x 10..29, y 4..11 of a 40 x 30 window.
  struct Case {
    const char* what;
    void (*draw)(PlatWindow* w, PlatFont* font);
    bool intact;
    bool before_watching = false;  // drawn before the rectangle is watched
  };
  const Case cases[] = {
      {"nothing", [](PlatWindow*, PlatFont*) {}, true},
      {"a fill inside", [](PlatWindow* w, PlatFont*) { plat_rect_fill(w, 12, 5, 13, 6); }, false},
      {"a fill inside before watching",
       [](PlatWindow* w, PlatFont*) { plat_rect_fill(w, 12, 5, 13, 6); }, true, true},
      {"a fill touching the last column",
       [](PlatWindow* w, PlatFont*) { plat_rect_fill(w, 29, 11, 35, 20); }, false},
      {"a fill just beside it", [](PlatWindow* w, PlatFont*) { plat_rect_fill(w, 30, 0, 39, 29); },
       true},
      {"a fill just below it", [](PlatWindow* w, PlatFont*) { plat_rect_fill(w, 0, 12, 39, 29); },
       true},
      {"a glyph over a corner",
       [](PlatWindow* w, PlatFont*) { plat_draw_glyph(w, 4, 0, kRows, 4, 2, 3, 4); }, false},
      {"a glyph elsewhere",
       [](PlatWindow* w, PlatFont*) { plat_draw_glyph(w, 0, 14, kRows, 4, 2, 3, 4); }, true},
      {"a block copied into it",
       [](PlatWindow* w, PlatFont*) { plat_clip_blit(w, 0, 20, 25, 10, 8, 8); }, false},
      {"a block copied out of it",
       [](PlatWindow* w, PlatFont*) { plat_clip_blit(w, 10, 4, 10, 20, 20, 8); }, true},
      {"text over it",
       [](PlatWindow* w, PlatFont* f) {
         plat_set_font(w, f);
         plat_move(w, 8, 14);
         plat_text(w, "Ab", 2);
       },
       false},
      {"a new colour for a pen",
       [](PlatWindow* w, PlatFont*) {
         plat_screen_set_rgb32(plat_window_screen(w), 200, 0x11000000, 0, 0);
       },
       true},
      {"a refresh",
       [](PlatWindow* w, PlatFont*) {
         plat_begin_refresh(w);
         plat_end_refresh(w);
       },
       true},
  };
  // A screen of its own, so that the colour change stays in this test.
  PlatScreen* screen = plat_open_screen(320, 200, 8, "Kavel Screen");
  ASSERT_NE(screen, nullptr);
  for (const Case& c : cases) {
    PlatWindowSpec spec;
    spec.screen = screen;
    spec.inner_width = 40;
    spec.inner_height = 30;
    PlatWindow* w = plat_open_window(spec);
    ASSERT_NE(w, nullptr);
    EXPECT_FALSE(plat_watch_intact(w)) << "a new window watches nothing";
    plat_set_apen(w, 9);
    if (c.before_watching) c.draw(w, font);
    plat_watch_rect(w, 10, 4, 29, 11);
    EXPECT_TRUE(plat_watch_intact(w));
    if (!c.before_watching) c.draw(w, font);
    EXPECT_EQ(plat_watch_intact(w), c.intact) << c.what;
    plat_close_window(w);
  }
  EXPECT_FALSE(plat_watch_intact(nullptr));
  plat_close_screen(screen);
  plat_close_font(font);
}

}  // namespace
