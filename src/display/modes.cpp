#include "display/modes.h"

#include <algorithm>
#include <cstdint>

#include "display/fonts.h"
#include "platform/display.h"

namespace {
int g_mode_fullscreen = 0;
int g_mode_medium = 0;
int g_mode_custom_screen = 0;
}  // namespace

const int& g_fullscreen = g_mode_fullscreen;
const int& g_medium_window = g_mode_medium;
const int& g_custom_screen = g_mode_custom_screen;
int g_screen_w = 640;
int g_screen_h = 480;
int g_screen_depth = 4;
int g_fullscreen_scale = 1;
int g_c64_40_dynamic_scale = 1;
int g_next_window_left = 0;
int g_next_window_top = 0;
int g_next_window_pos_valid = 0;
int g_runtime_top_bar_enabled = 1;

WindowRequest window_request(const char* title) {
  WindowRequest req;
  req.title = title;
  req.mode = display_window_mode();
  return req;
}

int display_c64_scale_for_mode(int mode, int petscii, const char* font) {
  if (!petscii || !font || !font_name_looks_c64(font) || c64_font_uses_80_columns(font)) return 0;
  return mode == DISPLAY_MODE_MEDIUM ? 3 : 2;
}

void display_set_window_mode(int mode) {
  g_mode_fullscreen = mode == DISPLAY_MODE_FULLSCREEN ? 1 : 0;
  g_mode_medium = mode == DISPLAY_MODE_MEDIUM ? 1 : 0;
  g_mode_custom_screen = 0;
}

int display_window_mode() {
  if (g_mode_fullscreen) return DISPLAY_MODE_FULLSCREEN;
  if (g_mode_medium) return DISPLAY_MODE_MEDIUM;
  return DISPLAY_MODE_WINDOW;
}

// The full-screen layout is a 640x400 picture multiplied by an integer.
static constexpr int kLayoutW = 640;
static constexpr int kLayoutH = 400;

void prepare_borderless_fullscreen_layout() {
  PlatScreen* desk = plat_lock_desktop_screen();
  if (desk) {
    g_screen_w = plat_screen_width(desk);
    g_screen_h = plat_screen_height(desk);
    int depth = plat_screen_depth(desk);
    g_screen_depth = depth > 0 ? depth : 4;
    plat_unlock_screen(desk);
  } else {
    if (g_screen_w <= 0) g_screen_w = 640;
    if (g_screen_h <= 0) g_screen_h = 480;
    if (g_screen_depth <= 0) g_screen_depth = 4;
  }
  int sx = g_screen_w > 0 ? g_screen_w / kLayoutW : 1;
  int sy = g_screen_h > 0 ? g_screen_h / kLayoutH : 1;
  g_fullscreen_scale = std::max(1, std::min(sx, sy));
  g_mode_custom_screen = 1;
}

bool prepare_fixed_fullscreen_screen(int cell_w, int cell_h, int top_bar, int petscii) {
  prepare_borderless_fullscreen_layout();
  // 64-bit so that absurd cell sizes fail the test instead of wrapping.
  int64_t cw = cell_w;
  int64_t ch = cell_h;
  int64_t full_w = int64_t{kLayoutW} * g_fullscreen_scale;
  int64_t need_w = 80 * cw;
  int64_t need_h = (top_bar ? 26 : 25) * ch;
  if (petscii && font_name_looks_c64(g_active_font)) {
    // The C64 picture is narrower than the layout; with the top bar the bar
    // spans the whole layout width and is 16 layout pixels high.
    need_w = c64_visible_cols_for_font() * cw;
    if (top_bar && need_w < full_w) need_w = full_w;
    need_h = 25 * ch + (top_bar ? 16 * int64_t{g_fullscreen_scale} : 0);
  }
  return g_screen_w >= need_w && g_screen_h >= need_h;
}

namespace {

// The window's place: the given one, or centred; kept on a screen of
// positive size and never negative.
void place_window(int width, int height, const PlatScreen* screen, bool given, int gx, int gy,
                  int* left, int* top) {
  int sw = screen ? plat_screen_width(screen) : width;
  int sh = screen ? plat_screen_height(screen) : height;
  int x = given ? gx : (sw - width) / 2;
  int y = given ? gy : (sh - height) / 2;
  x = std::max(x, 0);
  y = std::max(y, 0);
  // A remembered position may come from a smaller window; keep the new one on
  // the screen, but never push it past the left or top edge.
  if (screen && sw > 0 && x > sw - width) x = sw - width;
  if (screen && sh > 0 && y > sh - height) y = sh - height;
  if (left) *left = std::max(x, 0);
  if (top) *top = std::max(y, 0);
}

}  // namespace

void choose_window_position(int width, int height, const PlatScreen* screen, int* left, int* top) {
  bool remembered = g_next_window_pos_valid != 0;
  g_next_window_pos_valid = 0;
  place_window(width, height, screen, remembered, g_next_window_left, g_next_window_top, left, top);
}

void choose_window_position(int width, int height, const PlatScreen* screen,
                            const WindowRequest* req, int* left, int* top) {
  if (req && req->has_position) {
    place_window(width, height, screen, true, req->left, req->top, left, top);
    return;
  }
  choose_window_position(width, height, screen, left, top);
}

bool fullscreen_screen_depth_hit(int window_width, int title_height, int x, int y) {
  int h = title_height + 1;
  int w = std::max(3 * h, 48);
  if (h < 12) {
    h = 20;
    w = 60;
  }
  return x >= window_width - w && x < window_width && y >= 0 && y < h;
}
