#include "terminal/active_font.h"

#include "util/text.h"

namespace {
char g_active_font_name[kFontNameBytes] = "CP437";
uint32_t g_active_font_serial = 0;
}  // namespace

const char (&g_active_font)[kFontNameBytes] = g_active_font_name;

void set_active_font(const char* name) {
  normalize_font_choice(name, g_active_font_name);
  g_active_font_serial++;
}

void active_font_restore(const char* saved) {
  safe_copy(g_active_font_name, sizeof g_active_font_name, saved);
  g_active_font_serial++;
}

uint32_t active_font_serial() {
  return g_active_font_serial;
}

int c64_visible_cols_for_font() {
  return font_name_looks_c64(g_active_font) && c64_font_uses_80_columns(g_active_font) ? 80 : 40;
}
