// The desktop backend: every PlatWindow is a real SDL2 window whose pen
// framebuffer is shown through the screen's colour map.  The pens of the
// dirty rectangle are converted straight into the window surface (on X11 an
// XShm image) and only that rectangle is sent to the server: no OpenGL, so
// neither libGL nor Mesa's LLVM rasteriser is ever loaded, which is most of
// the resident size of a renderer-based present.  Where a video driver has
// no window surface (Wayland, KMSDRM) a streaming texture and an
// SDL_Renderer show the window instead.  Drawing never talks to SDL; the
// framebuffer is presented when the program polls (at most once per display
// refresh) and always before it waits or pauses, so the screen is never
// stale while the program is idle.
#include <SDL2/SDL.h>
#include <SDL2/SDL_syswm.h>
#include <poll.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <unistd.h>
#if defined(SDL_VIDEO_DRIVER_X11)
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/keysym.h>
#include <poll.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#endif

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "platform/audio.h"
#include "platform/clipboard.h"
#include "platform/clock.h"
#include "platform/internal.h"
#include "platform/keymap.h"
#include "util/charset.h"

// The key map is written against SDL's numbers without including SDL.
#define KAVEL_SAME(ours, sdl) static_assert(static_cast<int>(ours) == static_cast<int>(sdl), #ours)
KAVEL_SAME(KM_MOD_LSHIFT, KMOD_LSHIFT);
KAVEL_SAME(KM_MOD_RSHIFT, KMOD_RSHIFT);
KAVEL_SAME(KM_MOD_LCTRL, KMOD_LCTRL);
KAVEL_SAME(KM_MOD_RCTRL, KMOD_RCTRL);
KAVEL_SAME(KM_MOD_LALT, KMOD_LALT);
KAVEL_SAME(KM_MOD_RALT, KMOD_RALT);
KAVEL_SAME(KM_MOD_LGUI, KMOD_LGUI);
KAVEL_SAME(KM_MOD_RGUI, KMOD_RGUI);
KAVEL_SAME(KM_MOD_NUM, KMOD_NUM);
KAVEL_SAME(KM_MOD_CAPS, KMOD_CAPS);
KAVEL_SAME(KM_MOD_MODE, KMOD_MODE);
KAVEL_SAME(KM_SC_A, SDL_SCANCODE_A);
KAVEL_SAME(KM_SC_1, SDL_SCANCODE_1);
KAVEL_SAME(KM_SC_0, SDL_SCANCODE_0);
KAVEL_SAME(KM_SC_RETURN, SDL_SCANCODE_RETURN);
KAVEL_SAME(KM_SC_ESCAPE, SDL_SCANCODE_ESCAPE);
KAVEL_SAME(KM_SC_BACKSPACE, SDL_SCANCODE_BACKSPACE);
KAVEL_SAME(KM_SC_TAB, SDL_SCANCODE_TAB);
KAVEL_SAME(KM_SC_SPACE, SDL_SCANCODE_SPACE);
KAVEL_SAME(KM_SC_MINUS, SDL_SCANCODE_MINUS);
KAVEL_SAME(KM_SC_EQUALS, SDL_SCANCODE_EQUALS);
KAVEL_SAME(KM_SC_LEFTBRACKET, SDL_SCANCODE_LEFTBRACKET);
KAVEL_SAME(KM_SC_RIGHTBRACKET, SDL_SCANCODE_RIGHTBRACKET);
KAVEL_SAME(KM_SC_BACKSLASH, SDL_SCANCODE_BACKSLASH);
KAVEL_SAME(KM_SC_NONUSHASH, SDL_SCANCODE_NONUSHASH);
KAVEL_SAME(KM_SC_SEMICOLON, SDL_SCANCODE_SEMICOLON);
KAVEL_SAME(KM_SC_APOSTROPHE, SDL_SCANCODE_APOSTROPHE);
KAVEL_SAME(KM_SC_GRAVE, SDL_SCANCODE_GRAVE);
KAVEL_SAME(KM_SC_COMMA, SDL_SCANCODE_COMMA);
KAVEL_SAME(KM_SC_PERIOD, SDL_SCANCODE_PERIOD);
KAVEL_SAME(KM_SC_SLASH, SDL_SCANCODE_SLASH);
KAVEL_SAME(KM_SC_CAPSLOCK, SDL_SCANCODE_CAPSLOCK);
KAVEL_SAME(KM_SC_F1, SDL_SCANCODE_F1);
KAVEL_SAME(KM_SC_F12, SDL_SCANCODE_F12);
KAVEL_SAME(KM_SC_INSERT, SDL_SCANCODE_INSERT);
KAVEL_SAME(KM_SC_HOME, SDL_SCANCODE_HOME);
KAVEL_SAME(KM_SC_PAGEUP, SDL_SCANCODE_PAGEUP);
KAVEL_SAME(KM_SC_DELETE, SDL_SCANCODE_DELETE);
KAVEL_SAME(KM_SC_END, SDL_SCANCODE_END);
KAVEL_SAME(KM_SC_PAGEDOWN, SDL_SCANCODE_PAGEDOWN);
KAVEL_SAME(KM_SC_RIGHT, SDL_SCANCODE_RIGHT);
KAVEL_SAME(KM_SC_LEFT, SDL_SCANCODE_LEFT);
KAVEL_SAME(KM_SC_DOWN, SDL_SCANCODE_DOWN);
KAVEL_SAME(KM_SC_UP, SDL_SCANCODE_UP);
KAVEL_SAME(KM_SC_KP_DIVIDE, SDL_SCANCODE_KP_DIVIDE);
KAVEL_SAME(KM_SC_KP_MULTIPLY, SDL_SCANCODE_KP_MULTIPLY);
KAVEL_SAME(KM_SC_KP_MINUS, SDL_SCANCODE_KP_MINUS);
KAVEL_SAME(KM_SC_KP_PLUS, SDL_SCANCODE_KP_PLUS);
KAVEL_SAME(KM_SC_KP_ENTER, SDL_SCANCODE_KP_ENTER);
KAVEL_SAME(KM_SC_KP_1, SDL_SCANCODE_KP_1);
KAVEL_SAME(KM_SC_KP_0, SDL_SCANCODE_KP_0);
KAVEL_SAME(KM_SC_KP_PERIOD, SDL_SCANCODE_KP_PERIOD);
KAVEL_SAME(KM_SC_NONUSBACKSLASH, SDL_SCANCODE_NONUSBACKSLASH);
KAVEL_SAME(KM_SC_HELP, SDL_SCANCODE_HELP);
KAVEL_SAME(KM_SC_LCTRL, SDL_SCANCODE_LCTRL);
KAVEL_SAME(KM_SC_LSHIFT, SDL_SCANCODE_LSHIFT);
KAVEL_SAME(KM_SC_LALT, SDL_SCANCODE_LALT);
KAVEL_SAME(KM_SC_LGUI, SDL_SCANCODE_LGUI);
KAVEL_SAME(KM_SC_RCTRL, SDL_SCANCODE_RCTRL);
KAVEL_SAME(KM_SC_RSHIFT, SDL_SCANCODE_RSHIFT);
KAVEL_SAME(KM_SC_RALT, SDL_SCANCODE_RALT);
KAVEL_SAME(KM_SC_RGUI, SDL_SCANCODE_RGUI);
KAVEL_SAME(KM_SC_COUNT, SDL_NUM_SCANCODES);
KAVEL_SAME(KM_MOUSE_LEFT, SDL_BUTTON_LEFT);
KAVEL_SAME(KM_MOUSE_RIGHT, SDL_BUTTON_RIGHT);
#undef KAVEL_SAME

namespace {

#if defined(SDL_VIDEO_DRIVER_X11)
// The present on X11: two images shared with the X server, used in turn.
// SDL's own window surface is one shared image, and SDL waits after every
// update until the server has copied it; with two, the program goes on
// drawing while the server copies one, and waits (for the server's notice
// that it is done) only in the rare case that the image is still being
// copied when its turn comes again.  Only the dirty rectangle is converted
// into the image and sent, so an image's other pixels may be old: they are
// never shown.  A connection of its own keeps the notices out of SDL's
// event queue.
struct ShmPresenter {
  Display* display = nullptr;
  Window window = 0;
  GC gc = nullptr;
  int completion_type = 0;
  int width = 0;
  int height = 0;
  struct Image {
    XImage* image = nullptr;
    XShmSegmentInfo info{};
    bool busy = false;  // sent, and the server's notice not yet seen
  } images[2];
  int next = 0;
  bool whole = true;  // the next present sends the whole window
};
#endif

struct SdlWindow {
  SDL_Window* win = nullptr;
  // The surface path: SDL owns the surface and replaces it when the window
  // changes size, so it is asked for again at every present and never kept
  // across one.  surface_stale says that the last one is gone (a size
  // change) and the next must be filled from scratch.
  bool use_surface = false;
  bool surface_stale = true;
  int surface_w = 0;
  int surface_h = 0;
  uint32_t surface_format = 0;
#if defined(SDL_VIDEO_DRIVER_X11)
  ShmPresenter* shm = nullptr;  // when set, it shows the window instead of the surface
#endif
  // The fall-back path where the driver has no window surface.
  SDL_Renderer* ren = nullptr;
  SDL_Texture* tex = nullptr;
  uint32_t window_id = 0;
  // lut[pen] is the pen's colour as a pixel of lut_format; rebuilt when the
  // colour map, the flash or the pixel format changes.
  uint32_t lut_serial = ~0u;
  uint32_t lut_format = SDL_PIXELFORMAT_UNKNOWN;
  std::array<uint32_t, 256> lut{};
};

enum class Video { untried, ready, failed };
Video g_video = Video::untried;
// Cleared when a driver turns out to have no window surface, so that later
// windows go straight to the renderer.
bool g_surface_possible = true;
bool g_available = true;  // plat_headless_set_display_available
int g_frame_ms = 16;
std::vector<SDL_Event> g_events;
// Whether the right Alt key held now is AltGr on the layout in use (asked
// of the X server at each press of it).
bool g_ralt_is_altgr = false;

// When a window goes (a mode change), SDL forgets the keys held in it and
// reports them released, and the held key's next auto-repeat in the new
// window then comes as a fresh press: a held Alt+Enter would change the mode
// again at every new window.  Such a release names a window that is gone;
// the first press of that key after it is the same physical press, unless
// the key was seen up in between (its real release never reaches us: SDL
// thinks it released already) or too long has passed.
constexpr uint32_t kForgottenKeyMs = 1500;
struct ForgottenKey {
  uint32_t at = 0;    // 0: not forgotten
  unsigned xkey = 0;  // the X key code to watch; 0: unknown, time alone decides
};
ForgottenKey g_forgotten[SDL_NUM_SCANCODES];
int g_forgotten_count = 0;

// The window manager's frame around a desktop window, as last seen; the
// usable area leaves room for it.
int g_frame_w = 0;
int g_frame_h = 0;

#if defined(SDL_VIDEO_DRIVER_X11)
// Xlib ends the process when the display connection breaks (the server went
// away, or `xdotool windowkill` / xkill cut the program off).  Its own
// handler calls exit(), and the exit handlers (SDL_Quit among them) then
// talk to the dead connection and abort in libX11.  This one lets the
// program close its connection to the BBS, says what happened and ends
// without them.
int on_display_lost(Display*) {
  static const char kMsg[] = "Kavel: the connection to the display was lost; session ended.\n";
  ssize_t ignored = write(STDERR_FILENO, kMsg, sizeof kMsg - 1);
  (void)ignored;
  plat_run_display_lost_handler();
  _exit(1);
}

// A program that asks for the text Kavel put on the clipboard and is gone
// before the answer (xclip -o cut short, an editor that closed) makes every
// request of the answer (looking at its window, setting the property,
// sending the notice) fail with BadWindow.  A window that is gone is no
// reason to end a session: those requests simply did nothing.  Every other
// error goes to Xlib's own handler.  It is installed before SDL starts, so
// that SDL's handler passes such errors on to it and SDL puts it back (not
// Xlib's) when it shuts down: errors of SDL's second connection (its
// wake-up messages to windows that are gone) are only reported then.
XErrorHandler g_x_error_before = nullptr;
// The presenters' own connections (see ShmPresenter): a request of theirs
// that fails (an image sent to a window already gone) shows nothing, and
// the window's own connection reports whatever matters.
std::vector<Display*> g_present_displays;
int on_x_error(Display* dpy, XErrorEvent* e) {
  if (e->error_code == BadWindow) return 0;
  if (std::find(g_present_displays.begin(), g_present_displays.end(), dpy) !=
      g_present_displays.end())
    return 0;
  return g_x_error_before ? g_x_error_before(dpy, e) : 0;
}

Display* x11_display(SDL_Window* win) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!win || !SDL_GetWindowWMInfo(win, &info) || info.subsystem != SDL_SYSWM_X11) return nullptr;
  return info.info.x11.display;
}
#endif

// Whether the right Alt key is AltGr on the current layout: its keysym is
// ISO_Level3_Shift or Mode_switch rather than Alt_R.  X servers with evdev
// key codes (every current one, Xvfb and XWayland included) give that key
// the code 108.  Other video drivers: right Alt stays Alt.
bool right_alt_is_altgr(SDL_Window* win) {
#if defined(SDL_VIDEO_DRIVER_X11)
  Display* dpy = x11_display(win);
  if (!dpy) return false;
  XkbStateRec state{};
  unsigned group = XkbGetState(dpy, XkbUseCoreKbd, &state) == Success ? state.group : 0;
  KeySym sym = XkbKeycodeToKeysym(dpy, 108, static_cast<int>(group), 0);
  if (sym == NoSymbol) sym = XkbKeycodeToKeysym(dpy, 108, 0, 0);
  return sym == XK_ISO_Level3_Shift || sym == XK_Mode_switch;
#else
  (void)win;
  return false;
#endif
}

bool is_invisible_driver(const char* name) {
  if (!name) return true;
  return strcmp(name, "offscreen") == 0 || strcmp(name, "dummy") == 0 || strcmp(name, "evdev") == 0;
}

bool video_ready() {
  if (!g_available) return false;
  if (g_video == Video::untried) {
    // The program installs its own SIGINT handler (the break flag).
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // A full-screen own screen stays up when another window takes focus.
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    // Window surfaces in the driver's own framebuffer (XShm on X11), never
    // emulated through an OpenGL texture: the GL stack alone would be several
    // times the rest of the program.  SDL decides this once, at the first
    // window surface, so it is set before any window exists; the variable
    // SDL_FRAMEBUFFER_ACCELERATION in the environment still overrides it.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    // KAVEL_PRESENT=renderer takes the fall-back path on any driver, so that
    // it can be tried where window surfaces work.
    const char* present = getenv("KAVEL_PRESENT");
    if (present && strcmp(present, "renderer") == 0) g_surface_possible = false;
    // SDL falls back to an invisible "offscreen" display when nothing else
    // opens; for us that is no display at all.  Without an X or Wayland
    // display only the console (KMSDRM) is worth trying, which also keeps
    // the Wayland client library from complaining on stderr.
    const bool asked = getenv("SDL_VIDEODRIVER") != nullptr;
    if (!asked && !getenv("DISPLAY") && !getenv("WAYLAND_DISPLAY")) {
      SDL_SetHint(SDL_HINT_VIDEODRIVER, "KMSDRM");
    }
#if defined(SDL_VIDEO_DRIVER_X11)
    g_x_error_before = XSetErrorHandler(on_x_error);
#endif
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
      g_video = Video::failed;
    } else if (!asked && is_invisible_driver(SDL_GetCurrentVideoDriver())) {
      SDL_QuitSubSystem(SDL_INIT_VIDEO);
      g_video = Video::failed;
    } else {
      g_video = Video::ready;
      SDL_DisplayMode mode{};
      if (SDL_GetDesktopDisplayMode(0, &mode) == 0 && mode.refresh_rate > 0) {
        g_frame_ms = std::max(1, 1000 / mode.refresh_rate);
      }
      SDL_StartTextInput();
      atexit(SDL_Quit);
#if defined(SDL_VIDEO_DRIVER_X11)
      if (strcmp(SDL_GetCurrentVideoDriver(), "x11") == 0) XSetIOErrorHandler(on_display_lost);
#endif
    }
  }
  return g_video == Video::ready;
}

SdlWindow* native(PlatWindow* w) {
  return static_cast<SdlWindow*>(w->native);
}

PlatWindow* window_by_id(uint32_t id) {
  for (PlatWindow* w = plat_window_list(); w; w = w->next) {
    SdlWindow* n = native(w);
    if (n && n->window_id == id) return w;
  }
  return nullptr;
}

// The window a key belongs to.  Keys typed while one window replaces
// another (a window-mode change) can arrive for the window that is gone, or
// for none: they go to the active window, else the newest one, rather than
// being lost.
PlatWindow* key_window(uint32_t id) {
  if (PlatWindow* w = window_by_id(id)) return w;
  PlatWindow* newest = nullptr;
  for (PlatWindow* w = plat_window_list(); w; w = w->next) {
    if (!native(w)) continue;
    if (w->active) return w;
    newest = w;
  }
  return newest;
}

#if defined(SDL_VIDEO_DRIVER_X11)
Display* any_x11_display() {
  for (PlatWindow* w = plat_window_list(); w; w = w->next)
    if (SdlWindow* n = native(w)) return x11_display(n->win);
  return nullptr;
}

// Whether a window manager that answers full-screen requests (one following
// the EWMH: a window named on the root that names itself) runs on the X
// display.  Without one SDL waits a tenth of a second for an answer that
// never comes.  An own connection: there may be no window yet to borrow one
// from.  When the display cannot be asked, the answer is yes.
bool ewmh_window_manager_runs() {
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) return true;
  const Atom check = XInternAtom(dpy, "_NET_SUPPORTING_WM_CHECK", False);
  auto named = [&](Window on, Window* out) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    // A window left named by a manager that has gone is a BadWindow error,
    // which on_x_error passes over.
    const bool ok = XGetWindowProperty(dpy, on, check, 0, 1, False, XA_WINDOW, &type, &format,
                                       &count, &after, &data) == Success &&
                    type == XA_WINDOW && format == 32 && count == 1 && data;
    if (ok) *out = static_cast<Window>(*reinterpret_cast<unsigned long*>(data));
    if (data) XFree(data);
    return ok;
  };
  Window manager = None, self = None;
  const bool runs = named(DefaultRootWindow(dpy), &manager) && named(manager, &self) &&
                    self == manager;
  XCloseDisplay(dpy);
  return runs;
}

// The X key code that types what the scancode's key types now (0: none).
unsigned x_keycode_for(SDL_Scancode sc) {
  Display* dpy = any_x11_display();
  SDL_Keycode k = SDL_GetKeyFromScancode(sc);
  if (!dpy || k == SDLK_UNKNOWN || (k & SDLK_SCANCODE_MASK)) return 0;
  KeySym sym = k == 0x7F ? XK_Delete : k < 0x20 ? (0xFF00 | k) : k < 0x100 ? k : (0x01000000 | k);
  return XKeysymToKeycode(dpy, sym);
}
#endif

void forget_key(SDL_Scancode sc, uint32_t at, unsigned xkey) {
  if ((g_forgotten[sc].at != 0) != (at != 0)) g_forgotten_count += at ? 1 : -1;
  g_forgotten[sc] = ForgottenKey{at, xkey};
}

// A forgotten key seen up on the keyboard, or forgotten too long ago, is
// released for good.
void check_forgotten_keys() {
  if (g_forgotten_count == 0) return;
  uint32_t now = clock_ms();
  char keys[32] = {};
  bool have_keys = false;
#if defined(SDL_VIDEO_DRIVER_X11)
  if (Display* dpy = any_x11_display()) have_keys = XQueryKeymap(dpy, keys) != 0;
#endif
  for (int sc = 0; sc < SDL_NUM_SCANCODES && g_forgotten_count > 0; sc++) {
    const ForgottenKey& f = g_forgotten[sc];
    if (f.at == 0) continue;
    bool up = have_keys && f.xkey > 0 && f.xkey < 256 && !(keys[f.xkey / 8] & (1 << (f.xkey % 8)));
    if (up || now - f.at >= kForgottenKeyMs) forget_key(static_cast<SDL_Scancode>(sc), 0, 0);
  }
}

// Marks the first press after a forgotten release of the same key as a
// repeat; remembers a release from a window that no longer exists.
void follow_forgotten_keys(const SDL_KeyboardEvent& k, KeyInput* in) {
  SDL_Scancode sc = k.keysym.scancode;
  if (sc <= SDL_SCANCODE_UNKNOWN || sc >= SDL_NUM_SCANCODES) return;
  if (k.type == SDL_KEYUP) {
    if (window_by_id(k.windowID)) {
      forget_key(sc, 0, 0);
    } else {
      uint32_t now = clock_ms();
      unsigned xkey = 0;
#if defined(SDL_VIDEO_DRIVER_X11)
      xkey = x_keycode_for(sc);
#endif
      forget_key(sc, now ? now : 1, xkey);
    }
    return;
  }
  if (g_forgotten[sc].at != 0 && !k.repeat) in->repeat = true;
  forget_key(sc, 0, 0);
}

// Titles are ISO-8859-1; SDL wants UTF-8.  A title that is UTF-8 already
// (a session's title names a host, which is UTF-8 for the resolver's sake)
// is passed on as it is: ISO-8859-1 text beyond ASCII is almost never
// well-formed UTF-8.
std::string latin1_to_utf8(const char* s) {
  std::string_view text(s ? s : "");
  bool beyond_ascii = false;
  bool utf8 = true;
  for (size_t i = 0; i < text.size();) {
    size_t used = 1;
    char32_t cp = utf8_decode(text.data() + i, text.size() - i, &used);
    if (used > 1) beyond_ascii = true;
    if (cp == UNICODE_REPLACEMENT && used == 1) utf8 = false;
    i += used;
  }
  if (utf8 && beyond_ascii) return std::string(text);
  std::string out;
  for (; s && *s; s++) {
    auto c = static_cast<unsigned char>(*s);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

void queue_translated(PlatWindow* w, const KeyInput& in) {
  PlatEvent evs[40];
  int n = keymap_translate(in, evs, 40);
  for (int i = 0; i < n; i++) plat_queue_event(w, evs[i]);
}

void note_frame(SdlWindow* n) {
  int top = 0, left = 0, bottom = 0, right = 0;
  if (!n || SDL_GetWindowBordersSize(n->win, &top, &left, &bottom, &right) != 0) return;
  if (top + bottom > 0 || left + right > 0) {
    g_frame_w = left + right;
    g_frame_h = top + bottom;
  }
}

void on_window_event(const SDL_WindowEvent& e) {
  PlatWindow* w = window_by_id(e.windowID);
  if (!w) return;
  switch (e.event) {
    case SDL_WINDOWEVENT_CLOSE: {
      PlatEvent ev;
      ev.cls = PLAT_EV_CLOSE;
      plat_queue_event(w, ev);
      break;
    }
    case SDL_WINDOWEVENT_EXPOSED: {
      plat_mark_all_dirty(w);
      PlatEvent ev;
      ev.cls = PLAT_EV_REFRESH;
      plat_queue_event(w, ev);
      break;
    }
    case SDL_WINDOWEVENT_MOVED:
      if (!w->screen->own) {
        w->left = e.data1;
        w->top = e.data2;
        note_frame(native(w));
      }
      break;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
      for (PlatWindow* o = plat_window_list(); o; o = o->next) o->active = (o == w);
      break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
      w->active = false;
      break;
    case SDL_WINDOWEVENT_SIZE_CHANGED:
    case SDL_WINDOWEVENT_RESIZED:
      // SDL has dropped the window surface; the next present takes the new
      // one and fills all of it.
      native(w)->surface_stale = true;
      [[fallthrough]];
    case SDL_WINDOWEVENT_RESTORED:
    case SDL_WINDOWEVENT_SHOWN:
      if (w->screen->own) w->screen->minimized = false;
      if (!w->screen->own) note_frame(native(w));
      plat_mark_all_dirty(w);
      break;
    default:
      break;
  }
}

void copy_text(KeyInput* in, const char* text) {
  size_t i = 0;
  for (; text[i] && i + 1 < sizeof in->text; i++) in->text[i] = text[i];
  in->text[i] = '\0';
}

void dispatch(std::vector<SDL_Event>& evs) {
  for (size_t i = 0; i < evs.size(); i++) {
    const SDL_Event& e = evs[i];
    KeyInput in;
    PlatWindow* w = nullptr;
    switch (e.type) {
      case SDL_WINDOWEVENT:
        on_window_event(e.window);
        continue;
      case SDL_KEYDOWN:
      case SDL_KEYUP:
        w = key_window(e.key.windowID);
        in.kind = e.type == SDL_KEYDOWN ? KEYIN_DOWN : KEYIN_UP;
        in.scancode = e.key.keysym.scancode;
        in.keycode = e.key.keysym.sym;
        in.mods = e.key.keysym.mod;
        in.repeat = e.key.repeat != 0;
        follow_forgotten_keys(e.key, &in);
        if (e.type == SDL_KEYDOWN && e.key.keysym.scancode == SDL_SCANCODE_RALT && !e.key.repeat)
          g_ralt_is_altgr = right_alt_is_altgr(SDL_GetWindowFromID(e.key.windowID));
        in.altgr = (in.mods & KMOD_MODE) || (g_ralt_is_altgr && (in.mods & KMOD_RALT));
        // The text a key typed follows its key event directly.
        if (e.type == SDL_KEYDOWN && i + 1 < evs.size() && evs[i + 1].type == SDL_TEXTINPUT &&
            evs[i + 1].text.windowID == e.key.windowID) {
          copy_text(&in, evs[i + 1].text.text);
          i++;
        }
        break;
      case SDL_TEXTINPUT:
        w = key_window(e.text.windowID);
        in.kind = KEYIN_TEXT;
        in.mods = SDL_GetModState();
        in.altgr = (in.mods & KMOD_MODE) || (g_ralt_is_altgr && (in.mods & KMOD_RALT));
        copy_text(&in, e.text.text);
        break;
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP:
        w = window_by_id(e.button.windowID);
        in.kind = e.type == SDL_MOUSEBUTTONDOWN ? KEYIN_BUTTON_DOWN : KEYIN_BUTTON_UP;
        in.button = e.button.button;
        in.x = e.button.x;
        in.y = e.button.y;
        in.mods = SDL_GetModState();
        break;
      case SDL_MOUSEWHEEL:
        w = window_by_id(e.wheel.windowID);
        in.kind = KEYIN_WHEEL;
        in.wheel_y = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.wheel.y : e.wheel.y;
        SDL_GetMouseState(&in.x, &in.y);
        in.mods = SDL_GetModState();
        break;
      case SDL_MOUSEMOTION:
        w = window_by_id(e.motion.windowID);
        in.kind = KEYIN_MOTION;
        in.x = e.motion.x;
        in.y = e.motion.y;
        in.mods = SDL_GetModState();
        break;
      default:
        continue;
    }
    if (w) queue_translated(w, in);
  }
}

void pump_now() {
  if (g_video != Video::ready) return;
  g_events.clear();
  SDL_Event e;
  while (SDL_PollEvent(&e)) g_events.push_back(e);
  check_forgotten_keys();
  dispatch(g_events);
}

#if defined(SDL_VIDEO_DRIVER_X11)
bool g_x_error_seen = false;
int note_x_error(Display*, XErrorEvent*) {
  g_x_error_seen = true;
  return 0;
}

// Waits for the server's notice that it has copied the image.
void wait_for_image(ShmPresenter* p, ShmPresenter::Image* image) {
  if (!image->busy) return;
  struct Want {
    int type;
    ShmSeg seg;
  } want{p->completion_type, image->info.shmseg};
  auto is_notice = [](Display*, XEvent* ev, XPointer arg) -> Bool {
    const auto* w = reinterpret_cast<const Want*>(arg);
    return ev->type == w->type && reinterpret_cast<XShmCompletionEvent*>(ev)->shmseg == w->seg;
  };
  // Bounded: a request that failed sends no notice, and a server that
  // takes longer than this shows at worst one frame half old.
  const uint32_t start = SDL_GetTicks();
  XEvent e;
  while (!XCheckIfEvent(p->display, &e, is_notice, reinterpret_cast<XPointer>(&want))) {
    const auto spent = static_cast<int>(SDL_GetTicks() - start);
    if (spent >= 200) break;
    pollfd fd{ConnectionNumber(p->display), POLLIN, 0};
    poll(&fd, 1, 200 - spent);
  }
  image->busy = false;
}

void close_shm(SdlWindow* n) {
  ShmPresenter* p = n->shm;
  if (!p) return;
  for (auto& image : p->images) {
    if (!image.image) continue;
    wait_for_image(p, &image);
    XShmDetach(p->display, &image.info);
    image.image->data = nullptr;
    XDestroyImage(image.image);
  }
  XSync(p->display, False);
  for (auto& image : p->images) {
    if (image.info.shmaddr) shmdt(image.info.shmaddr);
  }
  if (p->gc) XFreeGC(p->display, p->gc);
  g_present_displays.erase(
      std::remove(g_present_displays.begin(), g_present_displays.end(), p->display),
      g_present_displays.end());
  XCloseDisplay(p->display);
  delete p;
  n->shm = nullptr;
}

// Sets up the two shared images for a window on an X server whose pixels are
// 32-bit 0xRRGGBB (the pen table's format); false where that cannot be (no
// shared memory, another pixel format, a window of another size than its
// framebuffer): the window surface shows the window then.
bool open_shm(SdlWindow* n, const PlatWindow* w) {
  const char* how = getenv("KAVEL_PRESENT");
  if (how && strcmp(how, "surface") == 0) return false;
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(n->win, &info) || info.subsystem != SDL_SYSWM_X11) return false;
  Display* display = XOpenDisplay(DisplayString(info.info.x11.display));
  if (!display) return false;
  g_present_displays.push_back(display);
  auto* p = new ShmPresenter();
  p->display = display;
  p->window = info.info.x11.window;
  n->shm = p;
  XWindowAttributes a{};
  constexpr int kOrder = std::endian::native == std::endian::little ? LSBFirst : MSBFirst;
  bool ok = XShmQueryExtension(display) && XGetWindowAttributes(display, p->window, &a) &&
            a.width == w->width && a.height == w->height && a.visual &&
            a.visual->red_mask == 0xFF0000 && a.visual->green_mask == 0xFF00 &&
            a.visual->blue_mask == 0xFF;
  p->width = a.width;
  p->height = a.height;
  XErrorHandler before = ok ? XSetErrorHandler(note_x_error) : nullptr;
  g_x_error_seen = false;
  for (auto& image : p->images) {
    if (!ok) break;
    image.image = XShmCreateImage(display, a.visual, static_cast<unsigned>(a.depth), ZPixmap,
                                  nullptr, &image.info, static_cast<unsigned>(a.width),
                                  static_cast<unsigned>(a.height));
    ok = image.image && image.image->bits_per_pixel == 32 && image.image->byte_order == kOrder;
    if (!ok) break;
    const size_t bytes =
        static_cast<size_t>(image.image->bytes_per_line) * static_cast<size_t>(a.height);
    image.info.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    ok = image.info.shmid >= 0;
    if (!ok) break;
    image.info.shmaddr = static_cast<char*>(shmat(image.info.shmid, nullptr, 0));
    if (image.info.shmaddr == reinterpret_cast<char*>(-1)) image.info.shmaddr = nullptr;
    image.image->data = image.info.shmaddr;
    image.info.readOnly = False;
    ok = image.info.shmaddr && XShmAttach(display, &image.info);
    XSync(display, False);
    // The segment goes when both sides have let go of it.
    shmctl(image.info.shmid, IPC_RMID, nullptr);
    ok = ok && !g_x_error_seen;
    if (!ok)
      image.info.shmaddr = image.info.shmaddr ? (shmdt(image.info.shmaddr), nullptr) : nullptr;
  }
  if (before) XSetErrorHandler(before);
  if (ok) {
    p->gc = XCreateGC(display, p->window, 0, nullptr);
    p->completion_type = XShmGetEventBase(display) + ShmCompletion;
    ok = p->gc != nullptr;
  }
  if (!ok) close_shm(n);
  return ok;
}

#endif

void destroy_native(SdlWindow* n) {
  if (!n) return;
#if defined(SDL_VIDEO_DRIVER_X11)
  close_shm(n);
#endif
  if (n->tex) SDL_DestroyTexture(n->tex);
  if (n->ren) SDL_DestroyRenderer(n->ren);
  // The window surface belongs to the window and goes with it.
  if (n->win) SDL_DestroyWindow(n->win);
  delete n;
}

// Whether the window can be shown through its surface; the surface made
// here is the one the first present fills.
bool open_surface(SdlWindow* n) {
  if (!g_surface_possible) return false;
  if (!SDL_GetWindowSurface(n->win)) {
    g_surface_possible = false;
    return false;
  }
  n->use_surface = true;
  return true;
}

int open_renderer(SdlWindow* n, const PlatWindow* w) {
  n->ren = SDL_CreateRenderer(n->win, -1, 0);
  if (!n->ren) n->ren = SDL_CreateRenderer(n->win, -1, SDL_RENDERER_SOFTWARE);
  if (!n->ren) return -1;
  n->tex = SDL_CreateTexture(n->ren, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING,
                             w->width, w->height);
  return n->tex ? 0 : -1;
}

// Brings the pen-to-pixel table up to date for the colour map, the beep
// flash (inverted colours) and the pixel format.
void update_lut(SdlWindow* n, const PlatWindow* w, const SDL_PixelFormat* format) {
  const PlatScreen* s = w->screen;
  const uint32_t serial = s->palette_serial * 2 + (w->flashing ? 1 : 0);
  const uint32_t id = format ? format->format : uint32_t{SDL_PIXELFORMAT_ARGB8888};
  if (serial == n->lut_serial && id == n->lut_format) return;
  const uint32_t flip = w->flashing ? 0x00FFFFFFu : 0;
  for (size_t i = 0; i < 256; i++) {
    const uint32_t rgb = s->rgb[i] ^ flip;
    if (id == SDL_PIXELFORMAT_ARGB8888) {
      n->lut[i] = 0xFF000000u | rgb;
    } else if (id == SDL_PIXELFORMAT_XRGB8888) {
      n->lut[i] = rgb;
    } else {
      n->lut[i] = SDL_MapRGB(format, static_cast<Uint8>(rgb >> 16), static_cast<Uint8>(rgb >> 8),
                             static_cast<Uint8>(rgb));
    }
  }
  n->lut_serial = serial;
  n->lut_format = id;
}

// Converts n pens into pixels of bpp bytes at dst.
void convert_span(const uint32_t* lut, const uint8_t* line, int n, uint8_t* dst, int bpp) {
  switch (bpp) {
    case 4: {
      // Eight pens per load: the present converts a whole scaled grid at
      // the display's pace during a flood of text.
      auto* out = reinterpret_cast<uint32_t*>(dst);
      int x = 0;
      for (; x + 8 <= n; x += 8) {
        uint64_t p;
        std::memcpy(&p, line + x, 8);
        if constexpr (std::endian::native == std::endian::big) p = __builtin_bswap64(p);
        for (int k = 0; k < 8; k++, p >>= 8) out[x + k] = lut[p & 0xFF];
      }
      for (; x < n; x++) out[x] = lut[line[x]];
      break;
    }
    case 2: {
      auto* out = reinterpret_cast<uint16_t*>(dst);
      for (int x = 0; x < n; x++) out[x] = static_cast<uint16_t>(lut[line[x]]);
      break;
    }
    case 3: {
      // A 3-byte pixel is the low three bytes of the mapped value in
      // memory order.
      constexpr int skip = std::endian::native == std::endian::little ? 0 : 1;
      for (int x = 0; x < n; x++) {
        const uint32_t v = lut[line[x]];
        std::memcpy(dst + 3 * x, reinterpret_cast<const uint8_t*>(&v) + skip, 3);
      }
      break;
    }
    default:
      for (int x = 0; x < n; x++) dst[x] = static_cast<uint8_t>(lut[line[x]]);
      break;
  }
}

// Whether columns x0..x1-1 of row y show the same pens as the row above.
bool same_as_row_above(const PlatWindow* w, int y, int x0, int x1) {
  for (int x = x0; x < x1;) {
    int end, above_end;
    const uint8_t* row = plat_shown_span(w, x, y, &end);
    const uint8_t* above = plat_shown_span(w, x, y - 1, &above_end);
    end = std::min(end, x1);
    // Rows that share a line (text at scale 2) need no comparing.
    if (row != above && std::memcmp(row, above, static_cast<size_t>(end - x)) != 0) return false;
    x = end;
  }
  return true;
}

// Copies n bytes to dst past the caches where the processor can: the
// present writes megabytes of pixels that only the display server reads, and
// through the caches they would push out the framebuffer's pens, which the
// drawing of the next frame needs.  The caller fences the stores.
void stream_out(uint8_t* dst, const uint8_t* src, size_t n) {
#if defined(__SSE2__)
  size_t head = (16 - (reinterpret_cast<uintptr_t>(dst) & 15)) & 15;
  head = std::min(head, n);
  std::memcpy(dst, src, head);
  dst += head;
  src += head;
  n -= head;
  for (; n >= 16; n -= 16, dst += 16, src += 16) {
    _mm_stream_si128(reinterpret_cast<__m128i*>(dst),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(src)));
  }
#endif
  std::memcpy(dst, src, n);
}

// Converts the pens of the rectangle into pixels of bpp bytes at dst (pitch
// bytes per line, the rectangle's top-left pixel first).  A row's pens are
// read in spans: a grid with lines of its own (the band) is one of them.  A
// row that shows what the row above shows (every other row of text drawn
// at scale 2, blank rows) is the same pixels again.  Each row is converted
// in a buffer that stays in the cache and streamed out from there.
void convert_rect(const SdlWindow* n, const PlatWindow* w, const SDL_Rect& r, uint8_t* dst,
                  int pitch, int bpp) {
  static std::vector<uint8_t> buffer;
  const uint32_t* lut = n->lut.data();
  const int stop = r.x + r.w;
  const auto row_bytes = static_cast<size_t>(r.w) * static_cast<size_t>(bpp);
  if (buffer.size() < row_bytes) buffer.resize(row_bytes);
  uint8_t* const row = buffer.data();
  for (int y = 0; y < r.h; y++, dst += pitch) {
    if (y == 0 || !same_as_row_above(w, r.y + y, r.x, stop)) {
      for (int x = r.x; x < stop;) {
        int end;
        const uint8_t* line = plat_shown_span(w, x, r.y + y, &end);
        end = std::min(end, stop);
        convert_span(lut, line, end - x, row + (x - r.x) * bpp, bpp);
        x = end;
      }
    }
    stream_out(dst, row, row_bytes);
  }
#if defined(__SSE2__)
  _mm_sfence();
#endif
}

// The dirty rectangle, or the whole window when full, clipped to a target
// of tw x th pixels; false when nothing of it is inside.
bool present_rect(const PlatWindow* w, bool full, int tw, int th, SDL_Rect* r) {
  int x0 = 0, y0 = 0, x1 = w->width - 1, y1 = w->height - 1;
  if (!full) {
    x0 = w->dirty_x0;
    y0 = w->dirty_y0;
    x1 = w->dirty_x1;
    y1 = w->dirty_y1;
  }
  x1 = std::min(x1, tw - 1);
  y1 = std::min(y1, th - 1);
  if (x0 > x1 || y0 > y1) return false;
  *r = SDL_Rect{x0, y0, x1 - x0 + 1, y1 - y0 + 1};
  return true;
}

#if defined(SDL_VIDEO_DRIVER_X11)
// Shows the window's dirty rectangle through the shared images.
void present_shm(SdlWindow* n, PlatWindow* w) {
  ShmPresenter* p = n->shm;
  update_lut(n, w, nullptr);
  SDL_Rect r;
  if (!present_rect(w, p->whole || !w->dirty, p->width, p->height, &r)) return;
  ShmPresenter::Image& image = p->images[p->next];
  wait_for_image(p, &image);
  const int pitch = image.image->bytes_per_line;
  auto* dst = reinterpret_cast<uint8_t*>(image.image->data) + static_cast<ptrdiff_t>(r.y) * pitch +
              static_cast<ptrdiff_t>(r.x) * 4;
  convert_rect(n, w, r, dst, pitch, 4);
  XShmPutImage(p->display, p->window, p->gc, image.image, r.x, r.y, r.x, r.y,
               static_cast<unsigned>(r.w), static_cast<unsigned>(r.h), True);
  XFlush(p->display);
  image.busy = true;
  p->next ^= 1;
  p->whole = false;
}
#endif

// False when there was no surface to show the window on; the whole window
// is then owed to the next present.
bool present_surface(SdlWindow* n, PlatWindow* w) {
#if defined(SDL_VIDEO_DRIVER_X11)
  if (n->shm && n->surface_stale) {
    // The window changed size: the images go on only while it matches the
    // framebuffer (else the surface shows it, black beyond the pixels).
    XWindowAttributes a{};
    if (XGetWindowAttributes(n->shm->display, n->shm->window, &a) && a.width == n->shm->width &&
        a.height == n->shm->height) {
      n->shm->whole = true;
      n->surface_stale = false;
    } else {
      close_shm(n);
    }
  }
  if (n->shm) {
    present_shm(n, w);
    return true;
  }
#endif
  SDL_Surface* surface = SDL_GetWindowSurface(n->win);
  if (!surface) {
    n->surface_stale = true;
    return false;
  }
  const bool full = n->surface_stale || surface->w != n->surface_w || surface->h != n->surface_h ||
                    surface->format->format != n->surface_format;
  if (full) {
    // A new surface holds no picture yet; what lies beyond the framebuffer
    // (a window made larger than asked) stays black.
    SDL_FillRect(surface, nullptr, SDL_MapRGB(surface->format, 0, 0, 0));
    n->surface_stale = false;
    n->surface_w = surface->w;
    n->surface_h = surface->h;
    n->surface_format = surface->format->format;
  }
  update_lut(n, w, surface->format);
  SDL_Rect r;
  if (!present_rect(w, full || !w->dirty, surface->w, surface->h, &r)) return true;
  if (SDL_MUSTLOCK(surface) && SDL_LockSurface(surface) != 0) {
    n->surface_stale = true;
    return false;
  }
  const int bpp = surface->format->BytesPerPixel;
  auto* dst = static_cast<uint8_t*>(surface->pixels) +
              static_cast<ptrdiff_t>(r.y) * surface->pitch + static_cast<ptrdiff_t>(r.x) * bpp;
  convert_rect(n, w, r, dst, surface->pitch, bpp);
  if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
  if (full) {
    SDL_UpdateWindowSurface(n->win);
  } else {
    SDL_UpdateWindowSurfaceRects(n->win, &r, 1);
  }
  return true;
}

void present_renderer(SdlWindow* n, PlatWindow* w) {
  update_lut(n, w, nullptr);
  SDL_Rect r;
  if (w->dirty && present_rect(w, false, w->width, w->height, &r)) {
    void* pixels = nullptr;
    int pitch = 0;
    if (SDL_LockTexture(n->tex, &r, &pixels, &pitch) == 0) {
      convert_rect(n, w, r, static_cast<uint8_t*>(pixels), pitch, 4);
      SDL_UnlockTexture(n->tex);
    }
  }
  SDL_SetRenderDrawColor(n->ren, 0, 0, 0, 255);
  SDL_RenderClear(n->ren);
  SDL_Rect dst{0, 0, w->width, w->height};
  SDL_RenderCopy(n->ren, n->tex, nullptr, &dst);
  SDL_RenderPresent(n->ren);
}

}  // namespace

void plat_headless_set_desktop(int, int, int) {
  // The SDL backend always reports the real desktop.
}

void plat_headless_set_usable_area(int, int) {
  // The SDL backend asks the desktop.
}

void plat_headless_set_display_available(bool available) {
  g_available = available;
}

bool backend_usable_area(int* width, int* height) {
  if (!video_ready()) return false;
  SDL_Rect r{};
  if (SDL_GetDisplayUsableBounds(0, &r) != 0) {
    SDL_DisplayMode mode{};
    if (SDL_GetDesktopDisplayMode(0, &mode) != 0) return false;
    r.w = mode.w;
    r.h = mode.h;
  }
  *width = r.w - g_frame_w;
  *height = r.h - g_frame_h;
  return true;
}

bool backend_desktop(int* width, int* height, int* depth) {
  if (!video_ready()) return false;
  SDL_DisplayMode mode{};
  if (SDL_GetDesktopDisplayMode(0, &mode) != 0) return false;
  *width = mode.w;
  *height = mode.h;
  int bpp = static_cast<int>(SDL_BITSPERPIXEL(mode.format));
  *depth = bpp > 0 ? bpp : 24;
  return true;
}

int backend_screen_open(PlatScreen*) {
  return video_ready() ? 0 : -1;
}

void backend_screen_close(PlatScreen*) {}

void backend_screen_to_back(PlatScreen* screen) {
  for (PlatWindow* w = plat_window_list(); w; w = w->next) {
    SdlWindow* n = native(w);
    if (n && w->screen == screen) SDL_MinimizeWindow(n->win);
  }
}

int backend_window_open(PlatWindow* w) {
  if (!video_ready()) return -1;
  auto* n = new SdlWindow();
  Uint32 flags = SDL_WINDOW_SHOWN;
  int x = w->left, y = w->top;
  if (w->screen->own && w->borderless) {
    flags |= SDL_WINDOW_FULLSCREEN_DESKTOP | SDL_WINDOW_BORDERLESS;
    x = y = SDL_WINDOWPOS_UNDEFINED;
#if defined(SDL_VIDEO_DRIVER_X11)
    // A bare X server (a kiosk, a virtual display): no manager would make
    // the window full screen, so it is made as one, undecorated over the
    // whole display, without the request.
    SDL_Rect bounds{};
    if (strcmp(SDL_GetCurrentVideoDriver(), "x11") == 0 && SDL_GetDisplayBounds(0, &bounds) == 0 &&
        bounds.w == w->width && bounds.h == w->height && !ewmh_window_manager_runs()) {
      flags &= ~static_cast<Uint32>(SDL_WINDOW_FULLSCREEN_DESKTOP);
      x = bounds.x;
      y = bounds.y;
    }
#endif
  } else if (w->borderless) {
    flags |= SDL_WINDOW_BORDERLESS;
  }
  std::string title = latin1_to_utf8(w->title);
  n->win = SDL_CreateWindow(title.c_str(), x, y, w->width, w->height, flags);
  bool shm = false;
#if defined(SDL_VIDEO_DRIVER_X11)
  shm = g_surface_possible && open_shm(n, w);
  if (shm) n->use_surface = true;
#endif
  if (!n->win || (!shm && !open_surface(n) && open_renderer(n, w) != 0)) {
    destroy_native(n);
    return -1;
  }
  n->window_id = SDL_GetWindowID(n->win);
  w->native = n;
  // A new window takes the input focus, as the program expects: also when it
  // replaces the window that had it, so that keys typed right after a
  // window-mode change reach it.
  SDL_RaiseWindow(n->win);
  SDL_SetWindowInputFocus(n->win);
  return 0;
}

void backend_window_close(PlatWindow* w) {
  destroy_native(native(w));
  w->native = nullptr;
}

void backend_window_title(PlatWindow* w) {
  if (SdlWindow* n = native(w)) SDL_SetWindowTitle(n->win, latin1_to_utf8(w->title).c_str());
}

void backend_window_activate(PlatWindow* w) {
  if (SdlWindow* n = native(w)) SDL_RaiseWindow(n->win);
}

void backend_window_to_back(PlatWindow* w) {
  SdlWindow* n = native(w);
  if (!n) return;
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
#if defined(SDL_VIDEO_DRIVER_X11)
  if (SDL_GetWindowWMInfo(n->win, &info) && info.subsystem == SDL_SYSWM_X11) {
    XLowerWindow(info.info.x11.display, info.info.x11.window);
    XFlush(info.info.x11.display);
    return;
  }
#endif
  SDL_MinimizeWindow(n->win);
}

bool backend_present(PlatWindow* w) {
  SdlWindow* n = native(w);
  if (!n) return true;
  if (n->use_surface) return present_surface(n, w);
  present_renderer(n, w);
  return true;
}

uint32_t backend_frame_ms() {
  return static_cast<uint32_t>(g_frame_ms);
}

void backend_pump() {
  if (g_video != Video::ready) return;
  pump_now();
}

void backend_wait(PlatWindow* window, int timeout_ms) {
  if (g_video != Video::ready) return;
  uint32_t start = SDL_GetTicks();
  for (;;) {
    pump_now();
    if (!plat_queue_empty(window)) return;
    int left = -1;
    if (timeout_ms >= 0) {
      uint32_t spent = SDL_GetTicks() - start;
      if (spent >= static_cast<uint32_t>(timeout_ms)) return;
      left = timeout_ms - static_cast<int>(spent);
    }
    // Wake up in time to take a beep flash down again.
    for (PlatWindow* w = plat_window_list(); w; w = w->next) {
      if (!w->flashing) continue;
      auto until = static_cast<int32_t>(w->flash_until_ms - clock_ms());
      int f = std::max(1, static_cast<int>(until) + 1);
      if (left < 0 || f < left) left = f;
    }
    if (left < 0) {
      SDL_WaitEvent(nullptr);
    } else {
      SDL_WaitEventTimeout(nullptr, left);
    }
    plat_present_all();
  }
}

namespace {

// The descriptor of the display connection, which becomes readable when
// input arrives; -1 where the video driver does not expose one.
int display_fd() {
#if defined(SDL_VIDEO_DRIVER_X11)
  for (PlatWindow* w = plat_window_list(); w; w = w->next) {
    SdlWindow* n = native(w);
    if (!n) continue;
    if (Display* dpy = x11_display(n->win)) return ConnectionNumber(dpy);
  }
#endif
  return -1;
}

// Milliseconds until a beep flash must be taken down again, or -1.
int flash_due_ms() {
  int due = -1;
  for (PlatWindow* w = plat_window_list(); w; w = w->next) {
    if (!w->flashing) continue;
    auto until = static_cast<int32_t>(w->flash_until_ms - clock_ms());
    int f = std::max(1, static_cast<int>(until) + 1);
    if (due < 0 || f < due) due = f;
  }
  return due;
}

}  // namespace

void backend_wait_fd(PlatWindow* window, int fd, short events, int timeout_ms) {
  if (g_video != Video::ready) window = nullptr;
  int xfd = window ? display_fd() : -1;
  uint32_t start = SDL_GetTicks();
  for (;;) {
    if (window) {
      pump_now();
      if (!plat_queue_empty(window)) return;
    }
    uint32_t spent = SDL_GetTicks() - start;
    if (spent >= static_cast<uint32_t>(timeout_ms)) return;
    int left = timeout_ms - static_cast<int>(spent);
    int due = window ? flash_due_ms() : -1;
    if (due >= 0 && due < left) left = due;
    // Without a display descriptor to sleep on, input is looked for every
    // few milliseconds.
    if (window && xfd < 0) left = std::min(left, 4);
    pollfd p[2] = {{fd, events, 0}, {xfd, POLLIN, 0}};
    int n = poll(p, 2, left);
    if (n > 0 && fd >= 0 && p[0].revents) return;
    if (window) plat_present_all();
  }
}

// ------------------------------------------------------------- clipboard --
// SDL's clipboard is the desktop's (the CLIPBOARD selection on X11); it needs
// the video subsystem but no window.  On X11 the text stays available to
// other programs while this one pumps events.

bool backend_clipboard_ready() {
  return video_ready();
}

int backend_clipboard_put(const std::string& utf8) {
  if (!video_ready()) return -1;
  if (SDL_SetClipboardText(utf8.c_str()) != 0) return -1;
#if SDL_VERSION_ATLEAST(2, 26, 0)
  // What is copied is also the PRIMARY selection, as X11 programs do, so a
  // middle click pastes it: SDL_SetClipboardText sets only CLIPBOARD, and
  // PRIMARY has a call of its own (SDL 2.26).  Only the clipboard's result
  // counts: a desktop without PRIMARY still copies.
  SDL_SetPrimarySelectionText(utf8.c_str());
#endif
  return 0;
}

int backend_clipboard_get(std::string* utf8) {
  if (!video_ready()) return -1;
  // An owner holding no text (an image) gives "", as does one that does not
  // answer within SDL's own time-out.
  char* text = SDL_GetClipboardText();
  if (!text) return -1;
  utf8->assign(text);
  SDL_free(text);
  return 0;
}

void plat_headless_clipboard_set_text(const char*, size_t) {}
void plat_headless_clipboard_set_nontext() {}
bool plat_headless_clipboard_text(std::string*) {
  return false;
}

// ----------------------------------------------------------------- audio --
// The converted samples go to SDL's queue as they are (SDL converts for the
// device when it needs another format).  The device buffer is about one tick
// long, so a stop is heard within a tick or two.

namespace {

struct SdlAudio {
  SDL_AudioDeviceID device = 0;
};

SdlAudio* sdl_audio(PlatAudio* audio) {
  return static_cast<SdlAudio*>(audio->native);
}

uint16_t device_buffer_frames(uint32_t rate) {
  uint32_t frames = 64;
  while (frames < rate / 50 && frames < 4096) frames *= 2;
  return static_cast<uint16_t>(frames);
}

}  // namespace

int backend_audio_open(PlatAudio* audio) {
  // Audio brings up SDL's event subsystem, which must leave SIGINT to the
  // program's own break flag.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return -1;
  SDL_AudioSpec want{};
  want.freq = static_cast<int>(audio->rate);
  want.format = audio->sample_bytes == 2 ? AUDIO_S16MSB : AUDIO_S8;
  want.channels = static_cast<Uint8>(audio->channels);
  want.samples = device_buffer_frames(audio->rate);
  want.callback = nullptr;  // queued, not pulled
  SDL_AudioSpec have{};
  const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  auto* n = device ? new (std::nothrow) SdlAudio() : nullptr;
  if (!n) {
    if (device) SDL_CloseAudioDevice(device);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return -1;
  }
  n->device = device;
  audio->native = n;
  SDL_PauseAudioDevice(device, 0);
  return 0;
}

int backend_audio_queue(PlatAudio* audio, const uint8_t* bytes, size_t len) {
  SdlAudio* n = sdl_audio(audio);
  // SDL takes 32-bit lengths.
  while (len > 0) {
    const Uint32 piece = len > (1u << 30) ? (1u << 30) : static_cast<Uint32>(len);
    if (SDL_QueueAudio(n->device, bytes, piece) != 0) return -1;
    bytes += piece;
    len -= piece;
  }
  return 0;
}

size_t backend_audio_queued(PlatAudio* audio) {
  return SDL_GetQueuedAudioSize(sdl_audio(audio)->device);
}

void backend_audio_stop(PlatAudio* audio) {
  SDL_ClearQueuedAudio(sdl_audio(audio)->device);
}

void backend_audio_close(PlatAudio* audio) {
  SdlAudio* n = sdl_audio(audio);
  SDL_CloseAudioDevice(n->device);
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
  delete n;
  audio->native = nullptr;
}

const PlatAudioRecord& plat_headless_audio_record() {
  static const PlatAudioRecord nothing;
  return nothing;
}

void plat_headless_audio_reset() {}
