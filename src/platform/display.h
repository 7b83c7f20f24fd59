// The display and input services the program asks of the desktop.
//
// Screens and windows are software objects: every window owns a framebuffer
// of pen numbers (one byte per pixel) and every screen owns a 256-entry colour
// map that turns pens into RGB.  Drawing acts on the framebuffer only; a
// backend (SDL2 for the program, headless for tests and tools, chosen at link
// time) shows the framebuffers and delivers input events.  Nothing outside
// src/platform includes SDL, FreeType or fontconfig headers.
//
// Conventions: coordinates are pixels relative to the window's inner area,
// rectangles have inclusive corners, every call accepts a null window or
// screen and then does nothing (or returns 0 / null / -1).
#pragma once
#include <cstdint>

struct PlatScreen;
struct PlatWindow;
struct PlatFont;

// ---------------------------------------------------------------- screens --

// The shared desktop screen (SDL: the display's desktop mode; headless: the
// size set by plat_headless_set_desktop, 1920 x 1080 by default).  Null when
// no display can be reached.  Every lock is paired with an unlock.
PlatScreen* plat_lock_desktop_screen();
void plat_unlock_screen(PlatScreen* screen);

int plat_screen_width(const PlatScreen* screen);
int plat_screen_height(const PlatScreen* screen);
int plat_screen_depth(const PlatScreen* screen);  // bitmap depth in bits
// Height of the screen's title bar (what the depth gadget area is derived
// from); 0 for screens without one.
int plat_screen_title_height(const PlatScreen* screen);
// The inner size a window on the desktop screen may have so that it and its
// frame fit the desktop beside panels and docks; false without a display.
bool plat_desktop_usable_area(int* width, int* height);

// What happens when the connection to the display is lost for good (the X
// server went away or killed the program's connection): the handler runs
// once, then the program ends with status 1, without the clean-up that
// would talk to the dead display.  Null: just the message and the exit.
void plat_set_display_lost_handler(void (*handler)());

// An own screen: a desktop-sized full-screen surface with its own colour map.
// Null when it cannot be opened (no display, depth not 1..8 or 24/32...).
PlatScreen* plat_open_screen(int width, int height, int depth, const char* title);
void plat_close_screen(PlatScreen* screen);
// Colour registers.  Components are 32-bit left-justified fractions as the
// Amiga calls take them (0xAAAAAAA0 is 0xAA); only the top 8 bits are used.
void plat_screen_set_rgb32(PlatScreen* screen, int reg, uint32_t r, uint32_t g, uint32_t b);
// Loads count registers starting at first from triples of 32-bit components.
void plat_screen_load_rgb32(PlatScreen* screen, int first, int count, const uint32_t* rgb);
void plat_screen_to_back(PlatScreen* screen);
bool plat_screen_has_colormap(const PlatScreen* screen);

// Shared pens on a screen's colour map: the pen of the nearest colour, shared
// with everybody who asked for the same colour (reference counted), or a free
// register set to the colour.  -1 when the map is full.  Registers 0..3 hold
// fixed desktop colours and are never handed out as shared pens.
int plat_obtain_best_pen(PlatScreen* screen, uint32_t r, uint32_t g, uint32_t b);
void plat_release_pen(PlatScreen* screen, int pen);
// The RGB (0xRRGGBB) a pen currently shows on a screen.
uint32_t plat_pen_rgb(const PlatScreen* screen, int pen);

// ---------------------------------------------------------------- windows --

struct PlatWindowSpec {
  const char* title = "";
  PlatScreen* screen = nullptr;  // null: the desktop screen
  int left = 0;
  int top = 0;
  int inner_width = 640;
  int inner_height = 400;
  bool borderless = false;  // covers an own screen at 0,0
};

// Opens a window; null when there is no display or the size is not positive.
PlatWindow* plat_open_window(const PlatWindowSpec& spec);
// Drains the pending events and closes the window.
void plat_close_window(PlatWindow* window);

struct PlatWindowGeometry {
  int left, top;      // position on the screen
  int width, height;  // outer size (equals the inner size on Linux)
  int border_left, border_top, border_right, border_bottom;  // 0 on Linux
};
PlatWindowGeometry plat_window_geometry(const PlatWindow* window);
int plat_window_inner_width(const PlatWindow* window);
int plat_window_inner_height(const PlatWindow* window);
PlatScreen* plat_window_screen(const PlatWindow* window);
void plat_set_window_title(PlatWindow* window, const char* title);
void plat_activate_window(PlatWindow* window);
void plat_window_to_back(PlatWindow* window);
// The display beep: a short visible flash of the window.
void plat_display_beep(PlatWindow* window);
// Bracket a redraw that answers a refresh request.
void plat_begin_refresh(PlatWindow* window);
void plat_end_refresh(PlatWindow* window);

// ---------------------------------------------------------------- drawing --

enum PlatDrawMode : int {
  PLAT_JAM1 = 0,  // text: foreground pixels only
  PLAT_JAM2 = 1,  // text: foreground on a background-filled box
};

void plat_set_apen(PlatWindow* window, int pen);
void plat_set_bpen(PlatWindow* window, int pen);
void plat_set_drmd(PlatWindow* window, PlatDrawMode mode);
// Fills x0..x1 by y0..y1 (inclusive) in the foreground pen, clipped to the
// inner area.  Nothing happens when x1 < x0 or y1 < y0.
void plat_rect_fill(PlatWindow* window, int x0, int y0, int x1, int y1);
// Copies a width x height block inside the window from (sx, sy) to (dx, dy);
// overlapping source and destination are copied correctly in every direction.
// Parts of either rectangle outside the inner area are clipped.
void plat_clip_blit(PlatWindow* window, int sx, int sy, int dx, int dy, int width, int height);
// Draws 8-pixel-wide glyph rows (bit 7 leftmost) at (x, y): every row byte
// becomes scale pixel rows; set bits in fg_pen, clear bits in bg_pen (or left
// alone when bg_pen < 0).  The same pixels as one fill per run, much faster.
void plat_draw_glyph(PlatWindow* window, int x, int y, const uint8_t* rows, int height, int scale,
                     int fg_pen, int bg_pen);
// Read back one pixel's pen (-1 outside the window).
int plat_read_pixel(const PlatWindow* window, int x, int y);
// For a drawer that paints the same picture again and again (the status bar
// after every scroll): plat_watch_rect marks a rectangle of the window (one
// per window; a new one replaces the old), and plat_watch_intact tells
// whether nothing has been drawn into it since.  False for a window that
// has no watched rectangle or a null window.
void plat_watch_rect(PlatWindow* window, int x0, int y0, int x1, int y1);
bool plat_watch_intact(const PlatWindow* window);

// System-font text: the pen position is the text baseline.  Without a font
// selected, plat_text draws nothing.
void plat_set_font(PlatWindow* window, PlatFont* font);
void plat_move(PlatWindow* window, int x, int y);
// Draws len bytes (ISO-8859-1) at the pen position and advances it.
void plat_text(PlatWindow* window, const char* text, int len);

// ----------------------------------------------------------- system fonts --

// Opens "Name.font" (or "Name") at exactly this pixel height when fontconfig
// knows the family itself; no substitution.  Rendered monochrome.
PlatFont* plat_open_font(const char* name, int height);
void plat_close_font(PlatFont* font);
int plat_font_width(const PlatFont* font);     // advance of a cell
int plat_font_height(const PlatFont* font);    // the requested height
int plat_font_baseline(const PlatFont* font);  // rows above the baseline

// ------------------------------------------------------------------ input --

enum PlatEventClass : uint32_t {
  PLAT_EV_NONE = 0,
  PLAT_EV_CLOSE = 1,        // the window's close button
  PLAT_EV_REFRESH = 2,      // part of the window must be redrawn
  PLAT_EV_MOUSEBUTTON = 3,  // code: PLAT_SELECTDOWN etc.
  PLAT_EV_VANILLAKEY = 4,   // translated key: code is the character
  PLAT_EV_RAWKEY = 5,       // code: raw key, bit 0x80 = release
  PLAT_EV_MOUSEMOVE = 6,
};

enum : uint16_t {
  PLAT_SELECTDOWN = 0x68,
  PLAT_SELECTUP = 0xE8,
  PLAT_MENUDOWN = 0x69,
  PLAT_MENUUP = 0xE9,
  PLAT_KEY_UP = 0x80,  // release bit of raw key codes
};

enum : uint16_t {
  PLAT_QUAL_LSHIFT = 0x01,
  PLAT_QUAL_RSHIFT = 0x02,
  PLAT_QUAL_CAPSLOCK = 0x04,
  PLAT_QUAL_CONTROL = 0x08,
  PLAT_QUAL_LALT = 0x10,
  PLAT_QUAL_RALT = 0x20,
  PLAT_QUAL_LCOMMAND = 0x40,
  PLAT_QUAL_RCOMMAND = 0x80,
};

// Raw key codes (Amiga keyboard codes).
enum : uint16_t {
  RAWKEY_BACKSPACE = 0x41,
  RAWKEY_TAB = 0x42,
  RAWKEY_KP_ENTER = 0x43,
  RAWKEY_RETURN = 0x44,
  RAWKEY_ESCAPE = 0x45,
  RAWKEY_DELETE = 0x46,
  RAWKEY_INSERT = 0x47,
  RAWKEY_PAGEUP = 0x48,
  RAWKEY_PAGEDOWN = 0x49,
  RAWKEY_F11 = 0x4B,
  RAWKEY_UP = 0x4C,
  RAWKEY_DOWN = 0x4D,
  RAWKEY_RIGHT = 0x4E,
  RAWKEY_LEFT = 0x4F,
  RAWKEY_F1 = 0x50,  // F1..F10 are 0x50..0x59
  RAWKEY_HELP = 0x5F,
  RAWKEY_LSHIFT = 0x60,
  RAWKEY_RSHIFT = 0x61,
  RAWKEY_CAPSLOCK = 0x62,
  RAWKEY_CONTROL = 0x63,
  RAWKEY_LALT = 0x64,
  RAWKEY_RALT = 0x65,
  RAWKEY_LAMIGA = 0x66,
  RAWKEY_RAMIGA = 0x67,
  RAWKEY_F12 = 0x6F,
  RAWKEY_HOME = 0x70,
  RAWKEY_END = 0x71,
  RAWKEY_WHEEL_UP = 0x7A,
  RAWKEY_WHEEL_DOWN = 0x7B,
};

struct PlatEvent {
  uint32_t cls = PLAT_EV_NONE;
  uint16_t code = 0;
  uint16_t qualifier = 0;
  int16_t x = 0;  // pointer position relative to the window
  int16_t y = 0;
  // Key presses: the keyboard's auto-repeat of a key still held, not a new
  // press (hotkeys act once per physical press; typing repeats).
  bool repeat = false;
  // Key events: the raw code of the physical key that made the event (vanilla
  // keys too), so that keys can be bound by position whatever the layout;
  // -1 when there is none (text from an input method, injected events).
  int16_t key = -1;
};

// Takes the window's next pending event (after presenting pending drawing and
// pumping the backend); 1 when one was taken, 0 when the queue is empty.
int plat_get_event(PlatWindow* window, PlatEvent* out);
// Waits until the window has an event or timeout_ms passed (presenting
// first); 1 when an event is pending.  A negative time-out waits for ever.
int plat_wait_event(PlatWindow* window, int timeout_ms);
// Waits until the window has an event, the file descriptor has something to
// read (data, an end of file or an error; or what fd_events names, when
// not 0: a link that also waits to write), or timeout_ms passed, presenting
// first; whichever comes first ends the wait.  A null window or a negative
// descriptor is left out of the wait.  Returns PLAT_WAIT_EVENT and/or
// PLAT_WAIT_FD for what is ready, 0 after a time-out.
inline constexpr int PLAT_WAIT_EVENT = 1;
inline constexpr int PLAT_WAIT_FD = 2;
int plat_wait_event_or_fd(PlatWindow* window, int fd, int timeout_ms, short fd_events = 0);
// Shows pending drawing of every window now.
void plat_present_all();

// -------------------------------------------------------- headless extras --
// Available in both backends; the SDL backend treats them as the headless one
// does where that makes sense (injection), so tests can run either way.

// The desktop size the headless backend reports (default 1920 x 1080, depth 24).
void plat_headless_set_desktop(int width, int height, int depth);
// The part of the desktop a window may use (without panels and docks, less
// the window manager's frame); headless: the desktop unless set.  A size of
// 0 or less goes back to the whole desktop.
void plat_headless_set_usable_area(int width, int height);
// The headless backend's waits pass real time; a wait "for ever" gives up
// after one second there, so a test that forgot its input does not hang.
// Whether windows may open (false simulates a missing display).
void plat_headless_set_display_available(bool available);
void plat_inject_event(PlatWindow* window, const PlatEvent& event);
// The framebuffer as one block (pens, row-major, inner_width x inner_height),
// valid until the next drawing call on the window: scrolls keep the rows out
// of order internally, and this call puts them back in order first.
const uint8_t* plat_window_pixels(const PlatWindow* window);
// Writes the window as an RGB PNG through its screen's colour map; 0 on success.
int plat_save_window_png(const PlatWindow* window, const char* path);
// How often the window beeped (for tests of the bell).
int plat_window_beep_count(const PlatWindow* window);
// The window's current title ("" for a null window) and whether it is the
// active (input-receiving) window.
const char* plat_window_title(const PlatWindow* window);
bool plat_window_is_active(const PlatWindow* window);
