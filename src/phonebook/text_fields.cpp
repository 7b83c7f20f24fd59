#include "phonebook/text_fields.h"

#include <climits>

namespace {
unsigned char ascii_lower(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}
}  // namespace

bool pb_is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int pb_ascii_casecmp(const char* a, const char* b) {
  if (!a) a = "";
  if (!b) b = "";
  for (;; a++, b++) {
    unsigned char ca = ascii_lower(static_cast<unsigned char>(*a));
    unsigned char cb = ascii_lower(static_cast<unsigned char>(*b));
    if (ca != cb || ca == 0) return static_cast<int>(ca) - static_cast<int>(cb);
  }
}

bool pb_ascii_contains(const char* haystack, const char* needle) {
  if (!needle || !*needle) return true;
  if (!haystack) return false;
  for (const char* h = haystack; *h; h++) {
    const char* p = h;
    const char* n = needle;
    while (*p && *n &&
           ascii_lower(static_cast<unsigned char>(*p)) ==
               ascii_lower(static_cast<unsigned char>(*n))) {
      p++;
      n++;
    }
    if (!*n) return true;
  }
  return false;
}

const char* pb_parse_leading_long(const char* text, long* value) {
  if (!text) return nullptr;
  const char* p = text;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (*p < '0' || *p > '9') return nullptr;
  long v = 0;
  for (; *p >= '0' && *p <= '9'; p++) {
    int digit = *p - '0';
    if (v > (LONG_MAX - digit) / 10) {
      v = LONG_MAX;
    } else {
      v = v * 10 + digit;
    }
  }
  if (value) *value = negative ? -v : v;
  return p;
}

int32_t pb_parse_port(const char* text) {
  long v = 0;
  if (pb_parse_leading_long(text, &v) && v >= 1 && v <= 65535) return static_cast<int32_t>(v);
  return 23;
}

int pb_parse_flag(const char* text) {
  long v = 0;
  return pb_parse_leading_long(text, &v) && v != 0 ? 1 : 0;
}
