#include "util/text.h"

#include <cstring>

void safe_copy(char* dst, size_t cap, const char* src) {
  if (!dst || cap == 0) return;
  if (!src) {
    dst[0] = '\0';
    return;
  }
  size_t n = strnlen(src, cap - 1);
  memcpy(dst, src, n);
  dst[n] = '\0';
}

static bool is_trim_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void trim(char* s) {
  if (!s) return;
  size_t len = strlen(s);
  size_t start = 0;
  while (start < len && is_trim_space(s[start])) start++;
  size_t end = len;
  while (end > start && is_trim_space(s[end - 1])) end--;
  if (start > 0) memmove(s, s + start, end - start);
  s[end - start] = '\0';
}
