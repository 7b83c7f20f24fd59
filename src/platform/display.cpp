// Backend-independent half of the display services: screens with their colour
// maps and shared pens, windows with pen framebuffers, the drawing operations
// and the per-window event queues.  The backend (SDL or headless) only shows
// framebuffers and produces input; everything that decides pixels is here, so
// both backends draw identically.
#include <poll.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/clock.h"
#include "platform/internal.h"
#include "platform/png.h"
#include "util/text.h"

namespace {

// Workbench-like colours of the four reserved registers.
constexpr uint32_t kDesktopColours[4] = {0xAAAAAA, 0x000000, 0xFFFFFF, 0x6688BB};
// A shared pen is reused for a request when every component is this close.
constexpr int kPenTolerance = 8;
// Pending events per window; older ones are dropped beyond this.
constexpr size_t kQueueLimit = 512;
// The largest framebuffer we agree to allocate (a 16k x 16k window).
constexpr int64_t kMaxPixels = int64_t{16384} * 16384;
constexpr uint32_t kBeepFlashMs = 100;

PlatScreen* g_desktop = nullptr;
PlatWindow* g_windows = nullptr;

void init_colour_map(PlatScreen* s) {
  s->rgb.fill(0);
  s->refs.fill(0);
  s->reserved.fill(false);
  for (int i = 0; i < 4 && i < s->registers; i++) {
    s->rgb[static_cast<size_t>(i)] = kDesktopColours[i];
    s->reserved[static_cast<size_t>(i)] = true;
  }
  // Registers past the screen's depth do not exist.
  for (int i = s->registers; i < 256; i++) s->reserved[static_cast<size_t>(i)] = true;
}

uint32_t top8(uint32_t component) {
  return component >> 24;
}

// kExpand[b]: the 8 pixels of glyph row b as a byte mask, bit 7 at the lowest
// address, so one 64-bit store draws a whole glyph row.
constexpr std::array<uint64_t, 256> make_expand() {
  std::array<uint64_t, 256> t{};
  for (int b = 0; b < 256; b++) {
    uint64_t m = 0;
    for (int bit = 0; bit < 8; bit++) {
      if (b & (0x80 >> bit)) {
        int lane = std::endian::native == std::endian::little ? bit : 7 - bit;
        m |= uint64_t{0xFF} << (lane * 8);
      }
    }
    t[static_cast<size_t>(b)] = m;
  }
  return t;
}
constexpr std::array<uint64_t, 256> kExpand = make_expand();
constexpr uint64_t kBytes = 0x0101010101010101ULL;

// The same for scales 2..kMaxTableScale: glyph row b at scale s is the s
// masks scaled_masks(s)[b * s .. b * s + s - 1] (8 * s pixels).
constexpr int kMaxTableScale = 8;

std::vector<uint64_t> build_scaled_masks(int scale) {
  const auto s = static_cast<size_t>(scale);
  std::vector<uint64_t> t(256 * s, 0);
  for (size_t b = 0; b < 256; b++) {
    for (size_t px = 0; px < 8 * s; px++) {
      if (!(b & (0x80u >> (px / s)))) continue;
      size_t lane = std::endian::native == std::endian::little ? px % 8 : 7 - px % 8;
      t[b * s + px / 8] |= uint64_t{0xFF} << (lane * 8);
    }
  }
  return t;
}

const uint64_t* scaled_masks(int scale) {
  static const std::array<std::vector<uint64_t>, kMaxTableScale + 1> tables = [] {
    std::array<std::vector<uint64_t>, kMaxTableScale + 1> t;
    for (int s = 2; s <= kMaxTableScale; s++) t[static_cast<size_t>(s)] = build_scaled_masks(s);
    return t;
  }();
  return tables[static_cast<size_t>(scale)].data();
}

void present_window(PlatWindow* w, bool force) {
  bool was_flashing = w->flashing;
  plat_window_flash_showing(w, clock_ms());
  if (!w->dirty && !(was_flashing && !w->flashing)) return;
  if (backend_present(w, force)) {
    w->dirty = false;
    w->dirty_x1 = w->dirty_y1 = -1;
  }
}

void present_all(bool force) {
  for (PlatWindow* w = g_windows; w; w = w->next) present_window(w, force);
}

// The pixel rows of a glyph wholly inside the window at scale S (masks from
// the tables above), in the background pen too when Opaque.  The scale is a
// template argument so that each variant is straight-line stores.
template <int S, bool Opaque>
void glyph_rows(uint8_t* const* line, size_t col, const uint8_t* rows, int height, uint64_t fg8,
                uint64_t bg8) {
  static const uint64_t* const table = S == 1 ? kExpand.data() : scaled_masks(S);
  const uint64_t flip = fg8 ^ bg8;
  for (int r = 0; r < height; r++) {
    const uint64_t* m = table + static_cast<size_t>(rows[r]) * S;
    if (Opaque) {
      uint64_t v[S];
      for (int word = 0; word < S; word++) v[word] = bg8 ^ (flip & m[word]);
      for (int k = 0; k < S; k++, line++) std::memcpy(*line + col, v, 8 * S);
    } else {
      for (int k = 0; k < S; k++, line++) {
        for (int word = 0; word < S; word++) {
          if (!m[word]) continue;
          uint8_t* q = *line + col + 8 * word;
          uint64_t d;
          std::memcpy(&d, q, 8);
          d = (d & ~m[word]) | (fg8 & m[word]);
          std::memcpy(q, &d, 8);
        }
      }
    }
  }
}

using GlyphRowsFn = void (*)(uint8_t* const*, size_t, const uint8_t*, int, uint64_t, uint64_t);
constexpr GlyphRowsFn kOpaqueGlyphRows[kMaxTableScale + 1] = {nullptr,
                                                              glyph_rows<1, true>,
                                                              glyph_rows<2, true>,
                                                              glyph_rows<3, true>,
                                                              glyph_rows<4, true>,
                                                              glyph_rows<5, true>,
                                                              glyph_rows<6, true>,
                                                              glyph_rows<7, true>,
                                                              glyph_rows<8, true>};
constexpr GlyphRowsFn kInkGlyphRows[kMaxTableScale + 1] = {nullptr,
                                                           glyph_rows<1, false>,
                                                           glyph_rows<2, false>,
                                                           glyph_rows<3, false>,
                                                           glyph_rows<4, false>,
                                                           glyph_rows<5, false>,
                                                           glyph_rows<6, false>,
                                                           glyph_rows<7, false>,
                                                           glyph_rows<8, false>};

// Huge scales (a glyph wider than 64 pixels): a fill per run is cheap next
// to the pixels it covers.
void glyph_rows_by_runs(uint8_t* const* line, size_t col, const uint8_t* rows, int height,
                        int scale, int fg_pen, int bg_pen) {
  const auto s = static_cast<size_t>(scale);
  for (int r = 0; r < height; r++) {
    const uint8_t bits = rows[r];
    for (size_t k = 0; k < s; k++, line++) {
      uint8_t* p = *line + col;
      if (bg_pen >= 0) std::memset(p, bg_pen & 0xFF, 8 * s);
      for (int bit = 0; bit < 8; bit++) {
        if (bits & (0x80 >> bit)) std::memset(p + static_cast<size_t>(bit) * s, fg_pen & 0xFF, s);
      }
    }
  }
}

// Glyph drawing where part of the glyph lies outside the window: per pixel,
// only at the edges, so speed does not matter.
void draw_glyph_clipped(PlatWindow* w, int x, int y, const uint8_t* rows, int height, int scale,
                        int fg, int bg) {
  int64_t gx1 = int64_t{x} + 8 * int64_t{scale} - 1;
  int64_t gy1 = int64_t{y} + int64_t{height} * scale - 1;
  int cx0 = std::max(x, 0);
  int cy0 = std::max(y, 0);
  int cx1 = static_cast<int>(std::min<int64_t>(gx1, w->width - 1));
  int cy1 = static_cast<int>(std::min<int64_t>(gy1, w->height - 1));
  if (cx1 < cx0 || cy1 < cy0) return;
  for (int py = cy0; py <= cy1; py++) {
    uint8_t bits = rows[(py - y) / scale];
    uint8_t* line = plat_row(w, py);
    for (int px = cx0; px <= cx1; px++) {
      if (bits & (0x80 >> ((px - x) / scale))) {
        line[px] = static_cast<uint8_t>(fg);
      } else if (bg >= 0) {
        line[px] = static_cast<uint8_t>(bg);
      }
    }
  }
  plat_add_dirty(w, cx0, cy0, cx1, cy1);
}

// Points every row at its own line of the block, in order.
void reset_rows(PlatWindow* w) {
  const size_t stride = static_cast<size_t>(w->width);
  uint8_t* base = w->pixels.get();
  for (int y = 0; y < w->height; y++) w->rows[static_cast<size_t>(y)] = base + y * stride;
  w->rows_permuted = false;
}

// Brings the lines back into block order, for readers that want the
// framebuffer as one row-major block.
void compact_rows(PlatWindow* w) {
  plat_settle_all_rows(w);
  if (!w->rows_permuted) return;
  const size_t stride = static_cast<size_t>(w->width);
  auto block = std::make_unique_for_overwrite<uint8_t[]>(stride * static_cast<size_t>(w->height));
  for (int y = 0; y < w->height; y++) std::memcpy(block.get() + y * stride, plat_row(w, y), stride);
  w->pixels = std::move(block);
  reset_rows(w);
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

// A block copy of h whole rows from row y0 to row y1 (both ranges inside the
// window, no copy owed).  Where source and destination overlap, the
// destination rows take over the source rows' lines by rotating the table;
// then only the |y1 - y0| source rows that the destination does not cover
// need their old pixels back, and that copy is left owing (see
// PlatWindow::pending_rows).  A scroll thus moves no pixels at all when the
// new line is cleared next.
void blit_whole_rows(PlatWindow* w, int y0, int y1, int h) {
  const int d = std::abs(y1 - y0);
  if (d == 0) return;
  const size_t stride = static_cast<size_t>(w->width);
  uint8_t** rows = w->rows.get();
  if (d >= h) {
    // Apart: every destination row is a copy of a row that stays.
    for (int r = 0; r < h; r++) std::memcpy(rows[y1 + r], rows[y0 + r], stride);
    return;
  }
  if (y1 < y0) {
    // Up: the band y1 .. y0+h-1 turns by d; its last d rows (source rows
    // left uncovered) are owed the pixels now held d rows above them.
    rotate_rows(rows + y1, rows + y0, rows + y0 + h);
    w->pending_to = y1 + h;
    w->pending_from = y1 + h - d;
  } else {
    // Down: the band y0 .. y1+h-1 turns the other way; its first d rows
    // are owed the pixels now held d rows below them.
    rotate_rows(rows + y0, rows + y0 + h, rows + y1 + h);
    w->pending_to = y0;
    w->pending_from = y0 + d;
  }
  w->pending_rows = d;
  w->rows_permuted = true;
}

// Every glyph but the opaque scale-1 one inside the window.
[[gnu::noinline]] void draw_glyph_any(PlatWindow* window, int x, int y, const uint8_t* rows,
                                      int height, int scale, int fg_pen, int bg_pen) {
  const int64_t gw = 8 * int64_t{scale};
  const int64_t gh = int64_t{height} * scale;
  plat_settle_rows(window, std::max(y, 0),
                   static_cast<int>(std::min<int64_t>(y + gh - 1, window->height - 1)));
  if (x < 0 || y < 0 || x + gw > window->width || y + gh > window->height) {
    draw_glyph_clipped(window, x, y, rows, height, scale, fg_pen & 0xFF,
                       bg_pen < 0 ? -1 : (bg_pen & 0xFF));
    return;
  }
  // The window's rows from y on; every pixel row is reached through the
  // table, at column x.
  uint8_t* const* line = window->rows.get() + y;
  const auto col = static_cast<size_t>(x);
  const uint64_t fg8 = static_cast<uint8_t>(fg_pen) * kBytes;
  const uint64_t bg8 = static_cast<uint8_t>(bg_pen) * kBytes;
  if (scale <= kMaxTableScale) {
    const auto s = static_cast<size_t>(scale);
    (bg_pen >= 0 ? kOpaqueGlyphRows : kInkGlyphRows)[s](line, col, rows, height, fg8, bg8);
  } else {
    glyph_rows_by_runs(line, col, rows, height, scale, fg_pen, bg_pen);
  }
  plat_add_dirty(window, x, y, static_cast<int>(x + gw - 1), static_cast<int>(y + gh - 1));
}

// Copies the columns outside x .. x+w-1 of one row into another.
void copy_outer_columns(uint8_t* to, const uint8_t* from, size_t x, size_t w, size_t width) {
  std::memcpy(to, from, x);
  std::memcpy(to + x + w, from + x + w, width - x - w);
}

// Whether moving a block of columns x .. x+w-1 of h rows by d rows is
// cheaper by turning the row table and putting the other columns back (they
// move with the rows: the outer columns of the whole band, a saved copy of
// d rows of them, and the block's own columns of the d rows left behind)
// than by copying the block.  So for a grid centred on a full screen.
bool columns_cheaper_by_rows(int64_t width, int64_t w, int64_t h, int64_t d) {
  const int64_t outer = width - w;
  return outer * (h + 3 * d) + d * w < w * h;
}

// A block copy of columns x .. x+w-1 of h rows from row y0 to row y1 that
// overlap (0 < |y1 - y0| < h), done by turning the row table over the band
// and then giving every row of the band its own pixels outside the columns
// again, and the rows the block leaves behind their own pixels inside them.
void blit_columns_by_rows(PlatWindow* win, int x, int w, int y0, int y1, int h) {
  const int d = std::abs(y1 - y0);
  const auto width = static_cast<size_t>(win->width);
  const auto cx = static_cast<size_t>(x), cw = static_cast<size_t>(w);
  const size_t outer = width - cw;
  uint8_t** rows = win->rows.get();
  std::vector<uint8_t>& keep = win->scratch;
  keep.resize(static_cast<size_t>(d) * outer);
  auto save = [&](int j, const uint8_t* row) {
    uint8_t* k = keep.data() + static_cast<size_t>(j) * outer;
    std::memcpy(k, row, cx);
    std::memcpy(k + cx, row + cx + cw, outer - cx);
  };
  auto restore = [&](uint8_t* row, int j) {
    const uint8_t* k = keep.data() + static_cast<size_t>(j) * outer;
    std::memcpy(row, k, cx);
    std::memcpy(row + cx + cw, k + cx, outer - cx);
  };
  if (y1 < y0) {
    // Up: band y1 .. y0+h-1.  Its first d lines wrap to the bottom, where
    // their outer columns are overwritten before the top rows take them.
    const int top = y1, n = h + d;
    for (int j = 0; j < d; j++) save(j, rows[top + j]);
    rotate_rows(rows + y1, rows + y0, rows + y0 + h);
    // Row p's own outer columns are now in the line at p - d; from the
    // bottom up, each line is read before it is written.
    for (int p = top + n - 1; p >= top + d; p--)
      copy_outer_columns(rows[p], rows[p - d], cx, cw, width);
    for (int j = 0; j < d; j++) restore(rows[top + j], j);
    for (int j = 0; j < d; j++) std::memcpy(rows[y1 + h + j] + cx, rows[y1 + h - d + j] + cx, cw);
  } else {
    // Down: band y0 .. y1+h-1.  Its last d lines wrap to the top.
    const int top = y0, n = h + d;
    for (int j = 0; j < d; j++) save(j, rows[top + h + j]);
    rotate_rows(rows + y0, rows + y0 + h, rows + y1 + h);
    for (int p = top; p < top + n - d; p++) copy_outer_columns(rows[p], rows[p + d], cx, cw, width);
    for (int j = 0; j < d; j++) restore(rows[top + h + j], j);
    for (int j = 0; j < d; j++) std::memcpy(rows[y0 + j] + cx, rows[y0 + d + j] + cx, cw);
  }
  win->rows_permuted = true;
}

}  // namespace

// ------------------------------------------------------------ internals --

PlatWindow* plat_window_list() {
  return g_windows;
}

void plat_settle_all_rows(PlatWindow* window) {
  const int n = window->pending_rows;
  if (!n) return;
  const size_t stride = static_cast<size_t>(window->width);
  for (int j = 0; j < n; j++) {
    std::memcpy(plat_row(window, window->pending_to + j),
                plat_row(window, window->pending_from + j), stride);
  }
  window->pending_rows = 0;
}

void plat_queue_event(PlatWindow* window, const PlatEvent& event) {
  if (!window) return;
  std::lock_guard<std::mutex> lock(window->queue_lock);
  auto& q = window->queue;
  if (event.cls == PLAT_EV_MOUSEMOVE && !q.empty() && q.back().cls == PLAT_EV_MOUSEMOVE) {
    q.back() = event;  // only the latest pointer position matters
    return;
  }
  if (q.size() >= kQueueLimit) q.pop_front();
  q.push_back(event);
}

bool plat_queue_empty(PlatWindow* window) {
  if (!window) return true;
  std::lock_guard<std::mutex> lock(window->queue_lock);
  return window->queue.empty();
}

void plat_mark_all_dirty(PlatWindow* window) {
  if (!window) return;
  plat_add_dirty(window, 0, 0, window->width - 1, window->height - 1);
}

void plat_mark_screen_dirty(PlatScreen* screen) {
  for (PlatWindow* w = g_windows; w; w = w->next) {
    if (w->screen == screen) plat_mark_all_dirty(w);
  }
}

PlatScreen* plat_desktop_screen_record() {
  int width = 0, height = 0, depth = 0;
  if (!backend_desktop(&width, &height, &depth)) return nullptr;
  if (!g_desktop) {
    g_desktop = new PlatScreen();
    g_desktop->registers = 256;
    init_colour_map(g_desktop);
    safe_copy(g_desktop->title, sizeof g_desktop->title, "Workbench Screen");
  }
  g_desktop->width = width;
  g_desktop->height = height;
  g_desktop->depth = depth;
  return g_desktop;
}

bool plat_window_flash_showing(PlatWindow* window, uint32_t now) {
  if (!window->flashing) return false;
  if (static_cast<int32_t>(now - window->flash_until_ms) >= 0) {
    window->flashing = false;
    plat_mark_all_dirty(window);
  }
  return window->flashing;
}

// -------------------------------------------------------------- screens --

bool plat_desktop_usable_area(int* width, int* height) {
  int w = 0, h = 0;
  if (!backend_usable_area(&w, &h) || w <= 0 || h <= 0) return false;
  if (width) *width = w;
  if (height) *height = h;
  return true;
}

namespace {
void (*g_display_lost_handler)() = nullptr;
}

void plat_set_display_lost_handler(void (*handler)()) {
  g_display_lost_handler = handler;
}

void plat_run_display_lost_handler() {
  void (*handler)() = g_display_lost_handler;
  g_display_lost_handler = nullptr;  // once, even if it fails on the way
  if (handler) handler();
}

PlatScreen* plat_lock_desktop_screen() {
  PlatScreen* s = plat_desktop_screen_record();
  if (s) s->lock_count++;
  return s;
}

void plat_unlock_screen(PlatScreen* screen) {
  if (screen && screen->lock_count > 0) screen->lock_count--;
}

int plat_screen_width(const PlatScreen* screen) {
  return screen ? screen->width : 0;
}
int plat_screen_height(const PlatScreen* screen) {
  return screen ? screen->height : 0;
}
int plat_screen_depth(const PlatScreen* screen) {
  return screen ? screen->depth : 0;
}
// Native title bars sit outside the client area, so no screen has one.
int plat_screen_title_height(const PlatScreen*) {
  return 0;
}

PlatScreen* plat_open_screen(int width, int height, int depth, const char* title) {
  bool depth_ok =
      (depth >= 1 && depth <= 8) || depth == 15 || depth == 16 || depth == 24 || depth == 32;
  if (width <= 0 || height <= 0 || !depth_ok) return nullptr;
  if (int64_t{width} * height > kMaxPixels) return nullptr;
  int dw = 0, dh = 0, dd = 0;
  if (!backend_desktop(&dw, &dh, &dd)) return nullptr;
  auto* s = new PlatScreen();
  s->own = true;
  s->width = width;
  s->height = height;
  s->depth = depth;
  s->registers = depth <= 8 ? (1 << depth) : 256;
  init_colour_map(s);
  safe_copy(s->title, sizeof s->title, title);
  if (backend_screen_open(s) != 0) {
    delete s;
    return nullptr;
  }
  return s;
}

void plat_close_screen(PlatScreen* screen) {
  if (!screen || !screen->own) return;
  // Like CloseScreen, refuse while windows are still open on it: they hold
  // the pointer and would be left dangling.
  for (PlatWindow* w = g_windows; w; w = w->next) {
    if (w->screen == screen) return;
  }
  backend_screen_close(screen);
  delete screen;
}

void plat_screen_set_rgb32(PlatScreen* screen, int reg, uint32_t r, uint32_t g, uint32_t b) {
  if (!screen || reg < 0 || reg >= screen->registers) return;
  auto i = static_cast<size_t>(reg);
  screen->rgb[i] = (top8(r) << 16) | (top8(g) << 8) | top8(b);
  // A register set on purpose holds somebody's colour: take it out of the
  // free pool unless it is a shared pen already (then everybody sees the
  // change, as on the Amiga).
  if (screen->refs[i] == 0) screen->reserved[i] = true;
  screen->palette_serial++;
  plat_mark_screen_dirty(screen);
}

void plat_screen_load_rgb32(PlatScreen* screen, int first, int count, const uint32_t* rgb) {
  if (!screen || !rgb) return;
  for (int k = 0; k < count; k++) {
    plat_screen_set_rgb32(screen, first + k, rgb[3 * k], rgb[3 * k + 1], rgb[3 * k + 2]);
  }
}

void plat_screen_to_back(PlatScreen* screen) {
  // Only an own screen can go behind the desktop.
  if (!screen || !screen->own) return;
  screen->minimized = true;
  backend_screen_to_back(screen);
}

bool plat_screen_has_colormap(const PlatScreen* screen) {
  return screen != nullptr;
}

int plat_obtain_best_pen(PlatScreen* screen, uint32_t r, uint32_t g, uint32_t b) {
  if (!screen) return -1;
  int want_r = static_cast<int>(top8(r)), want_g = static_cast<int>(top8(g)),
      want_b = static_cast<int>(top8(b));
  int best = -1;
  int best_dist = 0;
  for (int i = 0; i < screen->registers; i++) {
    auto u = static_cast<size_t>(i);
    if (screen->refs[u] <= 0) continue;
    uint32_t c = screen->rgb[u];
    int dr = static_cast<int>((c >> 16) & 0xFF) - want_r;
    int dg = static_cast<int>((c >> 8) & 0xFF) - want_g;
    int db = static_cast<int>(c & 0xFF) - want_b;
    if (std::abs(dr) > kPenTolerance || std::abs(dg) > kPenTolerance ||
        std::abs(db) > kPenTolerance)
      continue;
    int dist = dr * dr + dg * dg + db * db;
    if (best < 0 || dist < best_dist) {
      best = i;
      best_dist = dist;
    }
  }
  if (best >= 0) {
    screen->refs[static_cast<size_t>(best)]++;
    return best;
  }
  for (int i = 0; i < screen->registers; i++) {
    auto u = static_cast<size_t>(i);
    if (screen->reserved[u] || screen->refs[u] > 0) continue;
    screen->refs[u] = 1;
    screen->rgb[u] = (static_cast<uint32_t>(want_r) << 16) | (static_cast<uint32_t>(want_g) << 8) |
                     static_cast<uint32_t>(want_b);
    screen->palette_serial++;
    plat_mark_screen_dirty(screen);
    return i;
  }
  return -1;
}

void plat_release_pen(PlatScreen* screen, int pen) {
  if (!screen || pen < 0 || pen >= screen->registers) return;
  auto u = static_cast<size_t>(pen);
  if (screen->refs[u] > 0) screen->refs[u]--;
}

uint32_t plat_pen_rgb(const PlatScreen* screen, int pen) {
  if (!screen || pen < 0 || pen > 255) return 0;
  return screen->rgb[static_cast<size_t>(pen)];
}

// -------------------------------------------------------------- windows --

PlatWindow* plat_open_window(const PlatWindowSpec& spec) {
  if (spec.inner_width <= 0 || spec.inner_height <= 0) return nullptr;
  if (int64_t{spec.inner_width} * spec.inner_height > kMaxPixels) return nullptr;
  PlatScreen* screen = spec.screen ? spec.screen : plat_desktop_screen_record();
  if (!screen) return nullptr;
  auto* w = new PlatWindow();
  w->screen = screen;
  w->left = spec.left;
  w->top = spec.top;
  w->width = spec.inner_width;
  w->height = spec.inner_height;
  w->borderless = spec.borderless;
  safe_copy(w->title, sizeof w->title, spec.title);
  size_t n = static_cast<size_t>(w->width) * static_cast<size_t>(w->height);
  w->pixels = std::make_unique<uint8_t[]>(n);  // value-initialised: pen 0
  w->rows = std::make_unique<uint8_t*[]>(static_cast<size_t>(w->height));
  reset_rows(w);
  if (backend_window_open(w) != 0) {
    delete w;
    return nullptr;
  }
  for (PlatWindow* o = g_windows; o; o = o->next) o->active = false;
  w->active = true;
  w->next = g_windows;
  g_windows = w;
  plat_mark_all_dirty(w);
  return w;
}

void plat_close_window(PlatWindow* window) {
  if (!window) return;
  for (PlatWindow** p = &g_windows; *p; p = &(*p)->next) {
    if (*p == window) {
      *p = window->next;
      break;
    }
  }
  backend_window_close(window);
  {
    std::lock_guard<std::mutex> lock(window->queue_lock);
    window->queue.clear();
  }
  delete window;
}

PlatWindowGeometry plat_window_geometry(const PlatWindow* window) {
  PlatWindowGeometry g{};
  if (!window) return g;
  g.left = window->left;
  g.top = window->top;
  g.width = window->width;
  g.height = window->height;
  return g;
}

int plat_window_inner_width(const PlatWindow* window) {
  return window ? window->width : 0;
}
int plat_window_inner_height(const PlatWindow* window) {
  return window ? window->height : 0;
}
PlatScreen* plat_window_screen(const PlatWindow* window) {
  return window ? window->screen : nullptr;
}

void plat_set_window_title(PlatWindow* window, const char* title) {
  if (!window) return;
  safe_copy(window->title, sizeof window->title, title);
  backend_window_title(window);
}

const char* plat_window_title(const PlatWindow* window) {
  return window ? window->title : "";
}

void plat_activate_window(PlatWindow* window) {
  if (!window) return;
  for (PlatWindow* o = g_windows; o; o = o->next) o->active = (o == window);
  backend_window_activate(window);
}

bool plat_window_is_active(const PlatWindow* window) {
  return window && window->active;
}

void plat_window_to_back(PlatWindow* window) {
  if (window) backend_window_to_back(window);
}

void plat_display_beep(PlatWindow* window) {
  if (!window) return;
  window->beep_count++;
  window->flashing = true;
  window->flash_until_ms = clock_ms() + kBeepFlashMs;
  plat_mark_all_dirty(window);
}

void plat_begin_refresh(PlatWindow* window) {
  if (window) window->in_refresh = true;
}

void plat_end_refresh(PlatWindow* window) {
  if (!window) return;
  window->in_refresh = false;
  // The framebuffer is always complete, so the whole window can be shown.
  plat_mark_all_dirty(window);
}

// -------------------------------------------------------------- drawing --

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
  if (window->pending_rows) {
    // Clearing the rows a scroll left behind, all of them across the whole
    // width, pays the copy they were owed.
    const bool covers = x0 == 0 && x1 == window->width - 1 && y0 <= window->pending_to &&
                        y1 >= window->pending_to + window->pending_rows - 1;
    if (covers) {
      window->pending_rows = 0;
    } else {
      plat_settle_rows(window, y0, y1);
    }
  }
  const size_t n = static_cast<size_t>(x1 - x0 + 1);
  const uint8_t pen = window->apen;
  // The usual cell widths (scale 1 and 2): one or two stores per row.
  const uint64_t v = pen * kBytes;
  uint8_t* const* line = window->rows.get();
  if (n == 8) {
    for (int y = y0; y <= y1; y++) std::memcpy(line[y] + x0, &v, 8);
  } else if (n == 16) {
    for (int y = y0; y <= y1; y++) {
      std::memcpy(line[y] + x0, &v, 8);
      std::memcpy(line[y] + x0 + 8, &v, 8);
    }
  } else {
    for (int y = y0; y <= y1; y++) std::memset(plat_row(window, y) + x0, pen, n);
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
  if (w == window->width) {
    // Whole rows (x0 and x1 are then 0): a scroll of the window or of a band.
    blit_whole_rows(window, static_cast<int>(y0), static_cast<int>(y1), static_cast<int>(h));
  } else if (x0 == x1 && d > 0 && d < h && columns_cheaper_by_rows(window->width, w, h, d)) {
    blit_columns_by_rows(window, static_cast<int>(x0), static_cast<int>(w), static_cast<int>(y0),
                         static_cast<int>(y1), static_cast<int>(h));
  } else {
    auto row = [&](int64_t x, int64_t y) {
      return plat_row(window, static_cast<int>(y)) + static_cast<size_t>(x);
    };
    const auto n = static_cast<size_t>(w);
    // Rows are copied away from the overlap; memmove covers sideways overlap.
    if (y1 > y0) {
      for (int64_t r = h - 1; r >= 0; r--) std::memmove(row(x1, y1 + r), row(x0, y0 + r), n);
    } else {
      for (int64_t r = 0; r < h; r++) std::memmove(row(x1, y1 + r), row(x0, y0 + r), n);
    }
  }
  plat_add_dirty(window, static_cast<int>(x1), static_cast<int>(y1), static_cast<int>(x1 + w - 1),
                 static_cast<int>(y1 + h - 1));
}

void plat_draw_glyph(PlatWindow* window, int x, int y, const uint8_t* rows, int height, int scale,
                     int fg_pen, int bg_pen) {
  if (!window || !rows || height <= 0 || scale <= 0) return;
  if (scale == 1 && bg_pen >= 0 && x >= 0 && y >= 0 && x <= window->width - 8 &&
      y <= window->height - height) {
    // Text at scale 1 is most of what a BBS sends: one store per row, here
    // and without calls but for a copy a scroll still owes.
    plat_settle_rows(window, y, y + height - 1);
    uint8_t* const* line = window->rows.get() + y;
    const auto col = static_cast<size_t>(x);
    const uint64_t fg8 = static_cast<uint8_t>(fg_pen) * kBytes;
    const uint64_t bg8 = static_cast<uint8_t>(bg_pen) * kBytes;
    const uint64_t flip = fg8 ^ bg8;
#pragma GCC unroll 4
    for (int r = 0; r < height; r++) {
      const uint64_t v = bg8 ^ (flip & kExpand[rows[r]]);
      std::memcpy(line[r] + col, &v, 8);
    }
    plat_add_dirty(window, x, y, x + 7, y + height - 1);
    return;
  }
  draw_glyph_any(window, x, y, rows, height, scale, fg_pen, bg_pen);
}

int plat_read_pixel(const PlatWindow* window, int x, int y) {
  if (!window || x < 0 || y < 0 || x >= window->width || y >= window->height) return -1;
  return plat_shown_row(window, y)[x];
}

// ---------------------------------------------------------------- input --

int plat_get_event(PlatWindow* window, PlatEvent* out) {
  if (!window || !out) return 0;
  present_all(false);
  backend_pump();
  std::lock_guard<std::mutex> lock(window->queue_lock);
  if (window->queue.empty()) return 0;
  *out = window->queue.front();
  window->queue.pop_front();
  return 1;
}

int plat_wait_event(PlatWindow* window, int timeout_ms) {
  if (!window) return 0;
  present_all(true);
  backend_pump();
  if (!plat_queue_empty(window)) return 1;
  backend_wait(window, timeout_ms);
  return plat_queue_empty(window) ? 0 : 1;
}

namespace {

bool fd_readable(int fd) {
  if (fd < 0) return false;
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) > 0;
}

int wait_ready(PlatWindow* window, int fd) {
  int ready = 0;
  if (window && !plat_queue_empty(window)) ready |= PLAT_WAIT_EVENT;
  if (fd_readable(fd)) ready |= PLAT_WAIT_FD;
  return ready;
}

}  // namespace

int plat_wait_event_or_fd(PlatWindow* window, int fd, int timeout_ms) {
  present_all(true);
  backend_pump();
  int ready = wait_ready(window, fd);
  if (ready || timeout_ms <= 0) return ready;
  backend_wait_fd(window, fd, timeout_ms);
  return wait_ready(window, fd);
}

void plat_present_all() {
  present_all(true);
}

// ------------------------------------------------------- headless extras --

void plat_inject_event(PlatWindow* window, const PlatEvent& event) {
  plat_queue_event(window, event);
}

const uint8_t* plat_window_pixels(const PlatWindow* window) {
  if (!window) return nullptr;
  // Reordering the lines changes no pixel of the window, only where they
  // are kept; every window is created non-const, so the cast is sound.
  compact_rows(const_cast<PlatWindow*>(window));
  return window->pixels.get();
}

int plat_save_window_png(const PlatWindow* window, const char* path) {
  if (!window || !path) return -1;
  std::vector<uint8_t> rgb(static_cast<size_t>(window->width) *
                           static_cast<size_t>(window->height) * 3);
  uint8_t* out = rgb.data();
  for (int y = 0; y < window->height; y++) {
    const uint8_t* line = plat_shown_row(window, y);
    for (int x = 0; x < window->width; x++, out += 3) {
      uint32_t c = window->screen->rgb[line[x]];
      out[0] = static_cast<uint8_t>(c >> 16);
      out[1] = static_cast<uint8_t>(c >> 8);
      out[2] = static_cast<uint8_t>(c);
    }
  }
  return png_write_rgb(path, window->width, window->height, rgb.data());
}

int plat_window_beep_count(const PlatWindow* window) {
  return window ? window->beep_count : 0;
}
