// Backend-independent half of the display services: screens with their colour
// maps and shared pens, windows with pen framebuffers, the drawing operations
// (text from bitmap glyphs is display_glyphs.cpp) and the per-window event
// queues; when windows are shown is display_present.cpp, and the framebuffer's
// sets of lines display_lines.cpp.  The backend (SDL or headless) only shows
// framebuffers and produces input; everything that decides pixels is in these
// files, so both backends draw identically.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/clock.h"
#include "platform/internal.h"
#include "platform/png.h"
#include "util/text.h"

PlatWindow* g_windows = nullptr;

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
// Fills at least this wide are left owing (see PlatLines::fill_owed): a
// line of text cells, not a cursor bar or a glyph's run.
constexpr int kOwedFillMinWidth = 64;

PlatScreen* g_desktop = nullptr;

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

// ------------------------------------------------------------ internals --

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
  plat_make_lines(&w->lines, 0, w->width, w->height, true);  // pen 0
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

// ------------------------------------------------------- headless extras --

void plat_inject_event(PlatWindow* window, const PlatEvent& event) {
  plat_queue_event(window, event);
}

const uint8_t* plat_window_pixels(const PlatWindow* window) {
  if (!window) return nullptr;
  // Reordering the lines changes no pixel of the window, only where they
  // are kept; every window is created non-const, so the cast is sound.
  plat_flatten(const_cast<PlatWindow*>(window));
  return window->lines.pixels.get();
}

int plat_save_window_png(const PlatWindow* window, const char* path) {
  if (!window || !path) return -1;
  plat_settle_fills(const_cast<PlatWindow*>(window));
  std::vector<uint8_t> rgb(static_cast<size_t>(window->width) *
                           static_cast<size_t>(window->height) * 3);
  uint8_t* out = rgb.data();
  for (int y = 0; y < window->height; y++) {
    for (int x = 0; x < window->width;) {
      int end;
      const uint8_t* span = plat_shown_span(window, x, y, &end);
      for (; x < end; x++, span++, out += 3) {
        uint32_t c = window->screen->rgb[*span];
        out[0] = static_cast<uint8_t>(c >> 16);
        out[1] = static_cast<uint8_t>(c >> 8);
        out[2] = static_cast<uint8_t>(c);
      }
    }
  }
  return png_write_rgb(path, window->width, window->height, rgb.data());
}

int plat_window_beep_count(const PlatWindow* window) {
  return window ? window->beep_count : 0;
}
