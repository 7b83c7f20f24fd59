#include "util/font_names.h"

#include <strings.h>

#include <cctype>
#include <cstddef>
#include <cstring>
#include <initializer_list>

#include "util/text.h"

// ------------------------------------------------------------- name tests --

// Case-insensitive substring search; an empty needle is found everywhere.
bool font_name_contains(const char* hay, const char* needle) {
  if (!needle || !*needle) return true;
  if (!hay) return false;
  for (const char* p = hay; *p; ++p) {
    size_t i = 0;
    while (needle[i] && p[i] &&
           tolower(static_cast<unsigned char>(p[i])) ==
               tolower(static_cast<unsigned char>(needle[i]))) {
      ++i;
    }
    if (!needle[i]) return true;
  }
  return false;
}

static bool contains_any(const char* hay, std::initializer_list<const char*> needles) {
  for (const char* n : needles) {
    if (font_name_contains(hay, n)) return true;
  }
  return false;
}

static bool equals_ci(const char* a, const char* b) {
  return strcasecmp(a, b) == 0;
}

static bool equals_any(const char* s, std::initializer_list<const char*> words) {
  for (const char* w : words) {
    if (equals_ci(s, w)) return true;
  }
  return false;
}

bool font_name_looks_cp437(const char* name) {
  return contains_any(name, {"437", "codepage", "ibm", "vga", "termibm80", "pc.font"});
}

bool font_name_looks_topaz_1200_font(const char* name) {
  return contains_any(name, {"1200", "topaz+1200"});
}

bool font_name_looks_topaz_amiga_font(const char* name) {
  return !font_name_looks_topaz_1200_font(name) && contains_any(name, {"amiga", "topaz"});
}

bool font_name_looks_amiga_font(const char* name) {
  return font_name_looks_topaz_1200_font(name) || font_name_looks_topaz_amiga_font(name);
}

bool font_name_looks_c64(const char* name) {
  return contains_any(name, {"c641", "c642", "c64", "commodore"});
}

bool font_name_looks_c64_upper_font_local(const char* name) {
  return contains_any(name, {"c641", "up/gfx", "up / gfx", "up gfx", "upper / gfx", "upper/gfx",
                             "upper gfx", "upper / graphics", "upper/graphics", "upper graphics"});
}

bool font_name_looks_c64_lower_font_local(const char* name) {
  return contains_any(name, {"c642", "low/up", "low / up", "low up", "lower / up", "lower/up",
                             "lower up", "lower / upper", "lower/upper", "lower upper"});
}

bool c64_font_uses_80_columns(const char* name) {
  return contains_any(
      name, {"[80]", "(80)", " 80", "80col", "80 col", "80-column", "80 column", "80 columns"});
}

// ---------------------------------------------------------- normalisation --

// The font choice for a stripped name; returns the name itself for a system
// font.  The rules are tried in a fixed order because the phonebook, imported
// lists and old settings spell the same choice in many ways.
static const char* font_choice_for(const char* s) {
  if (!*s || strcmp(s, "1") == 0 || equals_ci(s, "pc") ||
      contains_any(s, {"cp437", "437", "termibm80"})) {
    return kFontCP437;
  }
  if (strcmp(s, "2") == 0 ||
      equals_any(s, {"topaz 1200", "topaz+1200", "amiga 1200", "amiga1200"}) ||
      font_name_looks_topaz_1200_font(s)) {
    return kFontTopaz1200;
  }
  if (strcmp(s, "3") == 0 || equals_any(s, {"amiga", "topaz amiga", "topaz (amiga)"}) ||
      font_name_looks_topaz_amiga_font(s)) {
    return kFontTopazAmiga;
  }
  if (strcmp(s, "7") == 0) return kFontC64LowUp80;
  if (c64_font_uses_80_columns(s)) {
    if (font_name_looks_c64_lower_font_local(s)) return kFontC64LowUp80;
    if (strcmp(s, "6") == 0 || font_name_looks_c64_upper_font_local(s) ||
        contains_any(s, {"c64", "commodore"})) {
      return kFontC64UpGfx80;
    }
  }
  if (strcmp(s, "6") == 0) return kFontC64UpGfx80;
  if (strcmp(s, "4") == 0 || font_name_looks_c64_upper_font_local(s) ||
      equals_any(s, {"c64", "commodore", "commodore 64"})) {
    return kFontC64UpGfx40;
  }
  if (strcmp(s, "5") == 0 || font_name_looks_c64_lower_font_local(s)) return kFontC64LowUp40;
  return s;
}

void normalize_font_choice(const char* name, char out[kFontNameBytes]) {
  if (!out) return;
  // Work on a copy: out may be the very buffer name points into.
  char buf[kFontNameBytes];
  safe_copy(buf, sizeof buf, name);
  trim(buf);
  safe_copy(out, kFontNameBytes, font_choice_for(buf));
}
