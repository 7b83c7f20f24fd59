#include "util/ftxt.h"

#include <cstring>

namespace {

void put_be32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

uint32_t be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

bool is_id(const uint8_t* p, const char* id) {
  return memcmp(p, id, 4) == 0;
}

}  // namespace

int ftxt_form_header(size_t n, uint8_t out[FTXT_FORM_HEADER_BYTES]) {
  if (n > FTXT_MAX_TEXT) return -1;
  memcpy(out, "FORM", 4);
  // "FTXT", the CHRS header and the padded text.
  put_be32(out + 4, static_cast<uint32_t>(4 + FTXT_CHUNK_HEADER_BYTES + n + ftxt_pad_bytes(n)));
  memcpy(out + 8, "FTXT", 4);
  return 0;
}

int ftxt_chrs_header(size_t n, uint8_t out[FTXT_CHUNK_HEADER_BYTES]) {
  if (n > FTXT_MAX_TEXT) return -1;
  memcpy(out, "CHRS", 4);
  put_be32(out + 4, static_cast<uint32_t>(n));
  return 0;
}

size_t ftxt_pad_bytes(size_t n) {
  return n & 1;
}

size_t ftxt_form_bytes(size_t n) {
  return FTXT_MIN_BYTES + n + ftxt_pad_bytes(n);
}

int ftxt_encode(const uint8_t* text, size_t n, std::vector<uint8_t>* out) {
  out->clear();
  if (n > FTXT_MAX_TEXT || (n > 0 && !text)) return -1;
  out->resize(ftxt_form_bytes(n));
  uint8_t* p = out->data();
  ftxt_form_header(n, p);
  ftxt_chrs_header(n, p + FTXT_FORM_HEADER_BYTES);
  if (n > 0) memcpy(p + FTXT_MIN_BYTES, text, n);
  // resize() zeroed the pad byte.
  return 0;
}

int ftxt_find_text(const uint8_t* bytes, size_t len, size_t* text_offset, size_t* text_len) {
  if (!bytes || len < FTXT_MIN_BYTES) return -1;
  if (!is_id(bytes, "FORM") || !is_id(bytes + 8, "FTXT")) return -1;
  size_t pos = FTXT_FORM_HEADER_BYTES;
  // Every step compares a stored length with the bytes left, so no length
  // can carry the position past the end or wrap it around.
  while (len - pos >= FTXT_CHUNK_HEADER_BYTES) {
    const uint8_t* chunk = bytes + pos;
    const size_t size = be32(chunk + 4);
    const size_t left = len - pos - FTXT_CHUNK_HEADER_BYTES;
    if (is_id(chunk, "CHRS")) {
      if (size > left) return -1;
      *text_offset = pos + FTXT_CHUNK_HEADER_BYTES;
      *text_len = size;
      return 0;
    }
    const size_t padded = size + (size & 1);
    if (padded >= left) return -1;  // no room for another chunk after it
    pos += FTXT_CHUNK_HEADER_BYTES + padded;
  }
  return -1;
}
