// A Terminal bound to a window of the headless backend, set up the way the
// window-opening code binds a session terminal: window and drawing port, pens
// obtained on the desktop screen, the glyph source, the cell geometry and a
// cleared grid.  Used by the tests, the kavel-render tool and the benchmark;
// it calls nothing above the display layer.
#pragma once
#include <memory>

#include "display/fonts.h"
#include "display/renderer.h"
#include "display/term_hooks.h"
#include "platform/display.h"
#include "terminal/terminal.h"

class HeadlessTerminal {
 public:
  HeadlessTerminal() : term_(std::make_unique<Terminal>()) { term_init_record(term_.get()); }
  ~HeadlessTerminal() { close(); }
  HeadlessTerminal(const HeadlessTerminal&) = delete;
  HeadlessTerminal& operator=(const HeadlessTerminal&) = delete;

  Terminal* term() { return term_.get(); }
  PlatWindow* window() { return window_; }

  // Glyphs from the loaded bitmap font (g_bitmap_font must be valid) at
  // 8 x glyph_height pixels times scale.  cp437 marks a font with pictures
  // for the control range.  A margin around the grid tests the origin.
  bool open_bitmap(int glyph_height, int scale, bool cp437, int margin = 0) {
    Terminal* t = term_.get();
    t->bitmap_renderer = 1;
    t->bitmap_kind = cp437 ? BITMAP_KIND_CP437 : BITMAP_KIND_TOPAZ_AMIGA;
    t->cp437_font = cp437 ? 1 : 0;
    t->bitmap_glyph_height = glyph_height;
    t->bitmap_scale = scale;
    t->cell_w = 8 * scale;
    t->cell_h = glyph_height * scale;
    t->baseline = t->cell_h - 1;
    return open_window(margin);
  }

  // Glyphs from a system font that the caller opened (and keeps open); the
  // cell size and baseline come from the font unless given.
  bool open_system_font(PlatFont* font, bool cp437, int margin = 0, int cell_w = 0, int cell_h = 0,
                        int baseline = 0) {
    if (!font) return false;
    Terminal* t = term_.get();
    t->font = font;
    t->cp437_font = cp437 ? 1 : 0;
    t->cell_w = cell_w > 0 ? cell_w : plat_font_width(font);
    t->cell_h = cell_h > 0 ? cell_h : plat_font_height(font);
    t->baseline = baseline > 0 ? baseline : plat_font_baseline(font);
    if (t->cell_w <= 0 || t->cell_h <= 0) return false;
    return open_window(margin);
  }

  void close() {
    if (window_) {
      term_release_pens(term_.get(), desktop_);
      plat_close_window(window_);
      window_ = nullptr;
    }
    if (desktop_) {
      plat_unlock_screen(desktop_);
      desktop_ = nullptr;
    }
    term_init_record(term_.get());
  }

 private:
  bool open_window(int margin) {
    Terminal* t = term_.get();
    display_install_term_hooks();
    desktop_ = plat_lock_desktop_screen();
    PlatWindowSpec spec;
    spec.title = "Kavel";
    spec.inner_width = kTermCols * t->cell_w + 2 * margin;
    spec.inner_height = kTermRows * t->cell_h + 2 * margin;
    window_ = plat_open_window(spec);
    if (!window_) return false;
    t->window = window_;
    t->rport = window_;
    t->origin_x = margin;
    t->origin_y = margin;
    term_setup_pens(t, desktop_, false);
    plat_set_font(window_, t->font);
    plat_set_drmd(window_, PLAT_JAM2);
    // What the first clear screen leaves with the initial attributes; done
    // by hand so that renderer tests need nothing above the display layer.
    for (auto& row : t->cells)
      for (auto& cell : row) cell = Cell{' ', 7, 0, 0};
    term_clear_drawable_area_raw(t);
    return true;
  }

  std::unique_ptr<Terminal> term_;
  PlatScreen* desktop_ = nullptr;
  PlatWindow* window_ = nullptr;
};
