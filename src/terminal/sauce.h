// SAUCE: the metadata record that ANSI art files carry after their content
// (128 bytes starting "SAUCE", optionally preceded by a "COMNT" block of
// 64-byte comment lines, and by the DOS end-of-file byte 0x1A).
#pragma once
#include <cstddef>
#include <cstdint>

// Length of the drawable content: the file without its SAUCE record, its
// comment block and the 0x1A end-of-file marker.  A file without a record
// loses only a final 0x1A.
size_t sauce_content_length(const uint8_t* data, size_t len);
