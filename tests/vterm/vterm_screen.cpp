#include "vterm/vterm_screen.h"

#include <vterm.h>

#include <utility>

#include "terminal/terminal.h"

namespace {

// libvterm's indexed colours are in ANSI order (black red green yellow blue
// magenta cyan white, then the bright ones); Kavel's palette is in PC order.
constexpr int kAnsiToPc[8] = {0, 4, 2, 6, 1, 5, 3, 7};

int palette_index(const VTermColor& c, int fallback) {
  if (VTERM_COLOR_IS_DEFAULT_FG(&c) || VTERM_COLOR_IS_DEFAULT_BG(&c)) return fallback;
  if (!VTERM_COLOR_IS_INDEXED(&c) || c.indexed.idx > 15) return fallback;
  int idx = c.indexed.idx;
  return idx < 8 ? kAnsiToPc[idx] : kAnsiToPc[idx - 8] + 8;
}

// The 256-colour table beyond the sixteen: a 6x6x6 cube and 24 greys, as
// xterm defines it (written here apart from Kavel's own table).
uint32_t table_rgb(int idx) {
  static const int kLevel[6] = {0, 0x5f, 0x87, 0xaf, 0xd7, 0xff};
  if (idx >= 232) {
    uint32_t v = static_cast<uint32_t>(8 + 10 * (idx - 232));
    return v << 16 | v << 8 | v;
  }
  idx -= 16;
  return static_cast<uint32_t>(kLevel[idx / 36]) << 16 |
         static_cast<uint32_t>(kLevel[idx / 6 % 6]) << 8 | static_cast<uint32_t>(kLevel[idx % 6]);
}

// The default colours are RGB values in libvterm's own palette: they are
// Kavel's palette entries 7 and 0, as palette passes them.
uint32_t rgb_of(const VTermColor& c, int palette) {
  if (VTERM_COLOR_IS_DEFAULT_FG(&c) || VTERM_COLOR_IS_DEFAULT_BG(&c))
    return kTermDefaultPalette[palette & 15];
  if (VTERM_COLOR_IS_RGB(&c))
    return uint32_t{c.rgb.red} << 16 | uint32_t{c.rgb.green} << 8 | c.rgb.blue;
  if (VTERM_COLOR_IS_INDEXED(&c) && c.indexed.idx > 15) return table_rgb(c.indexed.idx);
  return kTermDefaultPalette[palette & 15];
}

int settermprop(VTermProp prop, VTermValue* val, void* user) {
  if (prop == VTERM_PROP_CURSORVISIBLE) *static_cast<bool*>(user) = val->boolean != 0;
  return 1;
}

// Replies (device attributes, reports) are not compared; libvterm needs
// somewhere to put them.
void discard_output(const char*, size_t, void*) {}

}  // namespace

VtermScreen::VtermScreen(int rows, int cols) : rows_(rows), cols_(cols) {
  vt_ = vterm_new(rows, cols);
  vterm_set_utf8(vt_, 0);
  vterm_output_set_callback(vt_, discard_output, nullptr);
  screen_ = vterm_obtain_screen(vt_);
  state_ = vterm_obtain_state(vt_);
  static const VTermScreenCallbacks callbacks = {
      nullptr, nullptr, nullptr, settermprop, nullptr, nullptr, nullptr, nullptr,
  };
  vterm_screen_set_callbacks(screen_, &callbacks, &cursor_visible_);
  vterm_screen_reset(screen_, 1);
}

VtermScreen::~VtermScreen() {
  vterm_free(vt_);
}

void VtermScreen::feed(std::string_view bytes) {
  vterm_input_write(vt_, bytes.data(), bytes.size());
}

VtermCell VtermScreen::cell(int row, int col) const {
  VTermScreenCell c{};
  vterm_screen_get_cell(screen_, VTermPos{row, col}, &c);
  int fg = palette_index(c.fg, 7);
  int bg = palette_index(c.bg, 0);
  // Bold brightens the foreground, as Kavel stores it.
  if (c.attrs.bold && fg < 8) fg += 8;
  VtermCell out{c.chars[0],      fg, bg, c.attrs.bold != 0, c.attrs.blink != 0, rgb_of(c.fg, fg),
                rgb_of(c.bg, bg)};
  if (c.attrs.reverse) {
    out.fg = bg;
    out.bg = fg;
    std::swap(out.fg_rgb, out.bg_rgb);
  }
  return out;
}

int VtermScreen::cursor_row() const {
  VTermPos pos;
  vterm_state_get_cursorpos(state_, &pos);
  return pos.row;
}

int VtermScreen::cursor_col() const {
  VTermPos pos;
  vterm_state_get_cursorpos(state_, &pos);
  return pos.col;
}
