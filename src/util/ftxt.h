// Clipboard text as an IFF FORM of type FTXT with one CHRS chunk.
//
// Written (text of n bytes): "FORM", the form length 12 + n rounded up to
// even, "FTXT", "CHRS", n, the n text bytes, and a zero pad byte when n is
// odd.  Lengths are 32-bit big-endian; the pad is not counted in a chunk's
// length.  A writer that hands the form to a device in pieces sends the
// 12-byte form header, the 8-byte CHRS header, the text and the pad byte.
//
// Read: at least 20 bytes with "FORM" at 0 and "FTXT" at 8 (the form length
// is not examined); chunks are walked from offset 12, each an identifier, a
// length, the data and a pad byte after odd data.  The first CHRS chunk is
// the text, provided its data lies wholly within the bytes read; chunks
// before it are skipped.  Anything else holds no text.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

constexpr size_t FTXT_FORM_HEADER_BYTES = 12;  // "FORM", length, "FTXT"
constexpr size_t FTXT_CHUNK_HEADER_BYTES = 8;  // identifier, length
constexpr size_t FTXT_MIN_BYTES = FTXT_FORM_HEADER_BYTES + FTXT_CHUNK_HEADER_BYTES;
// The longest text whose form length still fits in 32 bits.
constexpr size_t FTXT_MAX_TEXT = 0xFFFFFFFFu - 13;

// The form header for n text bytes; -1 (out untouched) when n is too long.
int ftxt_form_header(size_t n, uint8_t out[FTXT_FORM_HEADER_BYTES]);
// The CHRS chunk header for n text bytes; -1 when n is too long.
int ftxt_chrs_header(size_t n, uint8_t out[FTXT_CHUNK_HEADER_BYTES]);
// 1 when n is odd (a zero pad byte follows the text), else 0.
size_t ftxt_pad_bytes(size_t n);
// The whole form for n text bytes: 20 + n + the pad.
size_t ftxt_form_bytes(size_t n);
// The whole form in one buffer; -1 (out cleared) when n is too long.
int ftxt_encode(const uint8_t* text, size_t n, std::vector<uint8_t>* out);

// Finds the text of a form read from the clipboard: 0 with the CHRS data's
// offset and length in bytes, or -1 when it holds no text.
int ftxt_find_text(const uint8_t* bytes, size_t len, size_t* text_offset, size_t* text_len);
