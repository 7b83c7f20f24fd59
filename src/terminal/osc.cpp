// Operating system commands (ESC ] ... ST, or ended by BEL): the palette
// changes BBS software sends, OSC 4 (set entries) and OSC 104 (put them
// back).  Everything else in such a string is ignored.  The string arrives
// whole and bounded (ansi.cpp drops one longer than kTermOscBuf), and it is
// read here without copying.
#include <cstring>

#include "terminal/terminal.h"

namespace {

struct Reader {
  const char* s;
  size_t len;
  size_t pos;
};

bool at_end(const Reader& r) {
  return r.pos >= r.len;
}

// A decimal number up to the next ';' or the end; false when the field is
// anything else (it is then skipped).
bool read_index(Reader* r, int* value) {
  size_t start = r->pos;
  int v = 0;
  bool any = false;
  while (!at_end(*r) && r->s[r->pos] != ';') {
    char c = r->s[r->pos++];
    if (c < '0' || c > '9' || v > 9999) {
      while (!at_end(*r) && r->s[r->pos] != ';') r->pos++;
      return false;
    }
    v = v * 10 + (c - '0');
    any = true;
  }
  *value = v;
  return any && r->pos > start;
}

// The text up to the next ';' (or the end), which the reader then passes.
void read_field(Reader* r, const char** text, size_t* n) {
  *text = r->s + r->pos;
  while (!at_end(*r) && r->s[r->pos] != ';') r->pos++;
  *n = static_cast<size_t>(r->s + r->pos - *text);
}

void skip_semicolon(Reader* r) {
  if (!at_end(*r) && r->s[r->pos] == ';') r->pos++;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One to four hex digits scaled to 0..255 (rgb: form: "f" is 255, "8000" 128).
bool scaled_component(const char* s, size_t n, uint32_t* out) {
  if (n < 1 || n > 4) return false;
  uint32_t v = 0;
  for (size_t i = 0; i < n; i++) {
    int d = hex_digit(s[i]);
    if (d < 0) return false;
    v = v * 16 + static_cast<uint32_t>(d);
  }
  uint32_t max = (1u << (4 * n)) - 1;
  *out = (v * 255 + max / 2) / max;
  return true;
}

// Kavel's colour number for an OSC palette index: the first sixteen are in
// ANSI order there, in PC order here.
int colour_number(int index) {
  return index < kTermPalette ? term_palette_index_of_256(index) : index;
}

}  // namespace

int term_parse_colour(const char* s, size_t len, uint32_t* rgb) {
  if (!s || !rgb) return -1;
  uint32_t c[3];
  if (len > 4 && memcmp(s, "rgb:", 4) == 0) {
    size_t pos = 4;
    for (int k = 0; k < 3; k++) {
      size_t start = pos;
      while (pos < len && s[pos] != '/') pos++;
      if (!scaled_component(s + start, pos - start, &c[k])) return -1;
      if (k < 2) {
        if (pos >= len) return -1;
        pos++;
      }
    }
    if (pos != len) return -1;
  } else if (len > 1 && s[0] == '#' && (len - 1) % 3 == 0 && len - 1 <= 12) {
    // #RGB ... #RRRRGGGGBBBB: the digits given are the high bits.
    size_t d = (len - 1) / 3;
    for (int k = 0; k < 3; k++) {
      uint32_t v = 0;
      for (size_t i = 0; i < d; i++) {
        int h = hex_digit(s[1 + k * d + i]);
        if (h < 0) return -1;
        v = v * 16 + static_cast<uint32_t>(h);
      }
      c[k] = d == 1 ? v << 4 : v >> (4 * (d - 2));
    }
  } else {
    return -1;
  }
  *rgb = c[0] << 16 | c[1] << 8 | c[2];
  return 0;
}

void term_osc_execute(Terminal* t, const char* s, size_t len) {
  if (!t || !s) return;
  Reader r{s, len, 0};
  int command = 0;
  if (!read_index(&r, &command)) return;
  skip_semicolon(&r);
  bool changed = false;
  if (command == 4) {
    // Pairs of index and colour; a "?" (a query) or a colour that does not
    // parse leaves that entry as it is.
    while (!at_end(r)) {
      int index = 0;
      bool have_index = read_index(&r, &index);
      skip_semicolon(&r);
      const char* spec;
      size_t n;
      read_field(&r, &spec, &n);
      skip_semicolon(&r);
      uint32_t rgb = 0;
      if (!have_index || index > 255 || term_parse_colour(spec, n, &rgb) != 0) continue;
      uint32_t entry = kColourRgb | rgb;
      uint32_t& slot = t->palette_override[colour_number(index)];
      if (slot != entry) changed = true;
      slot = entry;
    }
  } else if (command == 104) {
    if (at_end(r)) {
      for (uint32_t& entry : t->palette_override) {
        if (entry) changed = true;
        entry = 0;
      }
    }
    while (!at_end(r)) {
      int index = 0;
      bool have_index = read_index(&r, &index);
      skip_semicolon(&r);
      if (!have_index || index > 255) continue;
      uint32_t& slot = t->palette_override[colour_number(index)];
      if (slot) changed = true;
      slot = 0;
    }
  }
  if (changed) term_palette_changed(t);
}
