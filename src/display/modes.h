// Window modes: the program-wide display state (normal window, medium window,
// full screen on an own screen), the full-screen layout, window placement and
// the full-screen depth gadget.
#pragma once

struct PlatScreen;

// The window mode the next surface opens in.  display_set_window_mode is
// its one writer; everyone else reads it through display_window_mode or the
// read-only flags below.
enum DisplayWindowMode : int {
  DISPLAY_MODE_WINDOW = 0,
  DISPLAY_MODE_MEDIUM = 1,
  DISPLAY_MODE_FULLSCREEN = 2,
};
// Selects a mode (any other value selects the normal window) and forgets a
// prepared full-screen layout.
void display_set_window_mode(int mode);
int display_window_mode();

extern const int& g_fullscreen;     // full-screen mode selected
extern const int& g_medium_window;  // medium (scaled) window selected
extern const int& g_custom_screen;  // full-screen layout prepared, own screen in use
extern int g_screen_w;              // own-screen size and depth, refreshed from the desktop
extern int g_screen_h;
extern int g_screen_depth;
extern int g_fullscreen_scale;      // integer scale of the 640x400 layout on the own screen
extern int g_c64_40_dynamic_scale;  // 2 doubles 40-column C64 fonts in full screen
extern int g_next_window_left;      // remembered position for the next window
extern int g_next_window_top;
extern int g_next_window_pos_valid;
extern int g_runtime_top_bar_enabled;  // status bar wanted in full screen

// What a window is opened with (term_open, ui_open, ui_open_menu and the
// mode changes built on them): everything the new window depends on is
// said here rather than left in globals for the opener to find.
struct WindowRequest {
  const char* title = "Kavel";
  int mode = DISPLAY_MODE_WINDOW;  // made the window mode before opening
  // A PETSCII terminal: a C64 font is measured by its visible columns.
  int petscii = 0;
  // 40-column C64 fonts in full screen: 2 doubles their scale, 1 keeps the
  // screen's (g_c64_40_dynamic_scale); 0 leaves the setting as it is.
  int c64_scale = 0;
  // Made the active font before opening; null: the active one.
  const char* font = nullptr;
  // ui_open: the session's font and the terminal's grid size, for a session
  // that draws in the menu's display; otherwise the menu's glyphs and size.
  int bbs_font = 0;
  // ui_open with the menu's glyphs: a least inner size (0: the layout's).
  int inner_w = 0;
  int inner_h = 0;
  // Where the window opens; otherwise at the remembered place (used once)
  // or centred.
  int has_position = 0;
  int left = 0;
  int top = 0;
};

// A request in the current window mode with nothing else said.
WindowRequest window_request(const char* title);

// The 40-column C64 scale a session's window takes in a mode: the picture
// doubled (2 in a window and full screen, 3 in the medium window, where
// only full screen reads it) when the session shows a 40-column C64 font
// (font: the font's name), else 0 (nothing to set).
int display_c64_scale_for_mode(int mode, int petscii, const char* font);

// Refreshes g_screen_w/h/depth from the desktop screen, recomputes
// g_fullscreen_scale and sets g_custom_screen.
void prepare_borderless_fullscreen_layout();

// Whether an 80x25 grid of cell_w x cell_h cells (plus the top bar) fits the
// own screen; prepares the full-screen layout first.  A PETSCII terminal
// (petscii) with a C64 font (the active font) is measured by its visible
// columns.
bool prepare_fixed_fullscreen_screen(int cell_w, int cell_h, int top_bar, int petscii = 0);

// Where a window of width x height opens on screen: the remembered position
// once, otherwise centred; always kept on a screen of positive size and never
// negative.
void choose_window_position(int width, int height, const PlatScreen* screen, int* left, int* top);
// The same with the place a request names, when it names one.
void choose_window_position(int width, int height, const PlatScreen* screen,
                            const WindowRequest* req, int* left, int* top);

// Whether a click at (x, y) in a full-screen window of window_width pixels hits
// the top-right area that stands for the own screen's depth gadget.
bool fullscreen_screen_depth_hit(int window_width, int title_height, int x, int y);
