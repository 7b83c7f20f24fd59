// The font-name rules: the seven font choices a phonebook entry can name,
// the substring tests that tell a name's family, and the normalisation that
// maps every spelling the phonebook, imported lists and old settings use onto
// one choice.  Pure functions of the name: no state, nothing loaded.
#pragma once

// The seven font choices as stored in the phonebook.
inline constexpr const char* kFontCP437 = "CP437";
inline constexpr const char* kFontTopaz1200 = "Topaz (1200)";
inline constexpr const char* kFontTopazAmiga = "Topaz (Amiga)";
inline constexpr const char* kFontC64UpGfx40 = "C64 Up/GFX [40]";
inline constexpr const char* kFontC64LowUp40 = "C64 Low/Up [40]";
inline constexpr const char* kFontC64UpGfx80 = "C64 Up/GFX [80]";
inline constexpr const char* kFontC64LowUp80 = "C64 Low/Up [80]";

// Capacity of a font name: at most 79 characters and a NUL.
inline constexpr int kFontNameBytes = 80;

// The choice a name stands for, trimmed and cut to 79 characters; any name
// that is none of the seven (a system font) is kept as it is.  out may be
// the buffer name points into.
void normalize_font_choice(const char* name, char out[kFontNameBytes]);

// Case-insensitive substring tests of a name.
bool font_name_looks_cp437(const char* name);
bool font_name_looks_topaz_1200_font(const char* name);
bool font_name_looks_topaz_amiga_font(const char* name);
bool font_name_looks_amiga_font(const char* name);
bool font_name_looks_c64(const char* name);
bool font_name_looks_c64_upper_font_local(const char* name);
bool font_name_looks_c64_lower_font_local(const char* name);
bool c64_font_uses_80_columns(const char* name);
// Whether the name holds text (case-insensitive); an empty text is found
// everywhere, a null name holds nothing.
bool font_name_contains(const char* name, const char* text);
