// Screens with their colour maps and shared pens, and windows with their
// event queues: the records behind PlatScreen and PlatWindow, the same for
// both backends.  Drawing into a window's framebuffer is display_draw.cpp
// (fills, block copies) and display_glyphs.cpp (text), the framebuffer's
// sets of lines display_lines.cpp, and showing windows display_present.cpp.
// The backend (SDL or headless) only shows framebuffers and produces input;
// everything that decides pixels is in these files, so both backends draw
// identically.
#include <algorithm>
#include <cstdlib>
#include <mutex>
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

}  // namespace

// ------------------------------------------------------------ internals --

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
