// layers: link
// Arbitrary server bytes as the answer to the RLogin handshake: the parser
// must stay inside the bytes it was given, use no more than it has, and
// leave a terminated, printable refusal text.  The first byte chooses
// whether the server has closed and how small the text buffer is.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "link/rlogin.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  bool closed = data[0] & 1;
  size_t cap = 1 + (data[0] >> 1);
  ++data;
  --size;
  char* msg = static_cast<char*>(malloc(cap));
  size_t used = 0;
  int v = rlogin_parse_reply(data, size, closed, &used, msg, cap);
  if (used > size) abort();
  size_t len = strnlen(msg, cap);
  if (len == cap) abort();
  for (size_t i = 0; i < len; i++) {
    if (static_cast<unsigned char>(msg[i]) < 0x20 || msg[i] == 0x7f) abort();
  }
  if (v == RLOGIN_REPLY_MORE && closed) abort();
  free(msg);
  return 0;
}
