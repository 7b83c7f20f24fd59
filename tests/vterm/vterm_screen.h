// libvterm as a reference screen: feed it the bytes a host sends, read back
// each cell in the terms Kavel's grid uses (a CP437-range character, palette
// indices in PC order with bold folded in, reverse video applied), and the
// cursor.  The cross-check of the ANSI interpreter uses it; a benchmark can
// use it to parse the same stream.
//
// libvterm is a VT100/xterm emulator: it keeps a pending wrap at the right
// margin, does not home the cursor on ESC [ 2 J and decodes UTF-8 unless
// told otherwise.  Callers compare only streams whose meaning both share.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

struct VTerm;
struct VTermScreen;
struct VTermState;

// One cell as Kavel would hold it (see Cell in terminal/terminal.h); ch is
// the code point libvterm stored, 0 for an empty cell.
struct VtermCell {
  uint32_t ch;
  int fg;  // palette index 0..15 (PC order), bold already folded in
  int bg;  // palette index 0..15
  bool bold;
  bool blink;
  // The colours as RGB, the sixteen in Kavel's default palette (which is not
  // libvterm's), the 256-colour table and RGB values as libvterm keeps them.
  uint32_t fg_rgb;
  uint32_t bg_rgb;
};

class VtermScreen {
 public:
  VtermScreen(int rows, int cols);
  ~VtermScreen();
  VtermScreen(const VtermScreen&) = delete;
  VtermScreen& operator=(const VtermScreen&) = delete;

  // Bytes as the host sends them; 8-bit, no UTF-8 decoding.
  void feed(std::string_view bytes);
  VtermCell cell(int row, int col) const;
  int cursor_row() const;
  int cursor_col() const;
  bool cursor_visible() const { return cursor_visible_; }
  int rows() const { return rows_; }
  int cols() const { return cols_; }

 private:
  VTerm* vt_;
  VTermScreen* screen_;
  VTermState* state_;
  int rows_;
  int cols_;
  bool cursor_visible_ = true;
};
