// YMODEM's block 0 (see ymodem.h).
#include "transfer/ymodem.h"

#include <cstdio>
#include <cstring>

namespace {

// The line of numbers after the name, read field by field.
struct NumberLine {
  const uint8_t* p;
  const uint8_t* end;

  // The next number in base 8 or 10, held at max when it is larger.
  // False when the line has no more numbers, or this one does not end at a
  // space or the end of the line ("12a", an 8 in an octal field): a field
  // read wrongly would shift every later one, so reading stops there.
  bool next(unsigned base, uint64_t max, uint64_t* out) {
    while (p < end && (*p == ' ' || *p == '\t')) ++p;
    uint64_t value = 0;
    int digits = 0;
    for (; p < end; ++p, ++digits) {
      unsigned digit = static_cast<unsigned>(*p) - '0';
      if (digit >= base) break;
      value = value > (max - digit) / base ? max : value * base + digit;
    }
    if (digits == 0 || (p < end && *p != ' ' && *p != '\t')) return false;
    *out = value;
    return true;
  }
};

}  // namespace

int ymodem_parse_block0(const uint8_t* data, size_t len, YmodemFileInfo* info) {
  if (!data || !info) return -1;
  memset(info, 0, sizeof *info);
  if (len > kYmBlock0Max) len = kYmBlock0Max;
  if (len == 0 || data[0] == 0) return 0;

  const uint8_t* end = data + len;
  const uint8_t* nul = static_cast<const uint8_t*>(memchr(data, 0, len));
  const uint8_t* name_end = nul ? nul : end;
  size_t name_len = static_cast<size_t>(name_end - data);
  if (name_len > kYmNameCap - 1) name_len = kYmNameCap - 1;
  memcpy(info->name, data, name_len);
  info->name[name_len] = '\0';
  if (!nul) return 1;

  const uint8_t* line = nul + 1;
  const uint8_t* line_end =
      static_cast<const uint8_t*>(memchr(line, 0, static_cast<size_t>(end - line)));
  NumberLine numbers{line, line_end ? line_end : end};
  uint64_t v = 0;
  if (!numbers.next(10, UINT64_MAX, &v)) return 1;
  info->size = v;
  info->has_size = 1;
  if (!numbers.next(8, INT64_MAX, &v)) return 1;
  info->mtime = static_cast<int64_t>(v);
  info->has_mtime = v != 0;  // senders that do not know the date write 0
  if (!numbers.next(8, UINT32_MAX, &v)) return 1;
  info->mode = static_cast<uint32_t>(v);
  info->has_mode = 1;
  if (!numbers.next(8, UINT64_MAX, &v)) return 1;  // the serial number: not used
  if (!numbers.next(10, UINT32_MAX, &v)) return 1;
  info->files_left = static_cast<uint32_t>(v);
  info->has_files_left = 1;
  if (!numbers.next(10, UINT64_MAX, &v)) return 1;
  info->bytes_left = v;
  info->has_bytes_left = 1;
  return 1;
}

int ymodem_build_block0(uint8_t* out, const YmodemFileInfo* info) {
  if (!out) return -1;
  memset(out, 0, kYmBlock0Max);
  if (!info || !info->name[0]) return 128;
  char numbers[96];
  unsigned long long mtime = info->has_mtime && info->mtime > 0 ? info->mtime : 0;
  int n = snprintf(numbers, sizeof numbers, "%llu %llo %lo 0",
                   static_cast<unsigned long long>(info->has_size ? info->size : 0), mtime,
                   static_cast<unsigned long>(info->has_mode ? info->mode : 0));
  // bytes-left has a meaning only in its place after files-left.
  if (info->has_files_left) {
    n += snprintf(numbers + n, sizeof numbers - static_cast<size_t>(n), " %lu",
                  static_cast<unsigned long>(info->files_left));
    if (info->has_bytes_left) {
      n += snprintf(numbers + n, sizeof numbers - static_cast<size_t>(n), " %llu",
                    static_cast<unsigned long long>(info->bytes_left));
    }
  }
  size_t name_len = strnlen(info->name, kYmNameCap);
  size_t used = name_len + 1 + static_cast<size_t>(n) + 1;
  if (used > kYmBlock0Max) return -1;
  memcpy(out, info->name, name_len);
  memcpy(out + name_len + 1, numbers, static_cast<size_t>(n));
  return used <= 128 ? 128 : 1024;
}
