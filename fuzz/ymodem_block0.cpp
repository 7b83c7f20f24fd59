// layers: transfer
// Arbitrary bytes as the data of a YMODEM block 0: the reader must stay
// within the bytes it is given and fill the record consistently, and what
// it read must survive being written and read again (the name up to its
// first NUL, every number the writer puts out).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "transfer/ymodem.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Exactly the input's bytes on the heap: a read past them is caught.
  std::unique_ptr<uint8_t[]> copy(new uint8_t[size ? size : 1]);
  if (size) memcpy(copy.get(), data, size);
  YmodemFileInfo info;
  int r = ymodem_parse_block0(copy.get(), size, &info);
  if (r != 0 && r != 1) abort();
  if (r == 0) {
    if (info.name[0] || info.has_size) abort();
    return 0;
  }
  size_t name_len = strnlen(info.name, sizeof info.name);
  if (name_len == 0 || name_len >= sizeof info.name) abort();
  if (info.has_bytes_left && !info.has_files_left) abort();
  if (info.has_files_left && !info.has_mode) abort();
  if (info.has_mode && !info.has_size) abort();

  uint8_t block[kYmBlock0Max];
  int len = ymodem_build_block0(block, &info);
  if (len == -1) return 0;  // the name and numbers do not fit in 1K
  if (len != 128 && len != 1024) abort();
  YmodemFileInfo back;
  if (ymodem_parse_block0(block, static_cast<size_t>(len), &back) != 1) abort();
  if (strcmp(back.name, info.name) != 0) abort();
  if (back.has_size != 1 || back.size != (info.has_size ? info.size : 0)) abort();
  if (info.has_mtime && (!back.has_mtime || back.mtime != info.mtime)) abort();
  if (info.has_files_left && back.files_left != info.files_left) abort();
  if (info.has_bytes_left && back.bytes_left != info.bytes_left) abort();
  return 0;
}
