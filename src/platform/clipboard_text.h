// Clipboard text for the program: one FORM FTXT with a CHRS chunk (util/ftxt.h)
// written to and read from the clipboard device (platform/clipboard.h), in
// the character set the device is set to.  The scrollback viewer copies
// with clipboard_write_text; the session's paste and the forms' text fields
// read with clipboard_read_text.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// The largest form a read looks at.  A clipboard whose form is larger holds
// no text as far as the program is concerned: its CHRS chunk does not lie
// wholly within the bytes read.
inline constexpr size_t kClipboardReadLimit = 262144;

// The clipboard's text (without a terminator of its own), or false with
// *text emptied when the device cannot be opened, memory runs out, or the
// clipboard holds no FORM FTXT with a CHRS chunk.  An empty CHRS chunk is
// true with an empty text.
bool clipboard_read_text(std::string* text);

// Writes n bytes as one FORM FTXT with one CHRS chunk: the form header, the
// CHRS header, the text, a pad byte when n is odd, then the update.  0 when
// every step succeeded, -1 at the first failure (or n of 0: nothing to copy).
int clipboard_write_text(const uint8_t* text, size_t n);
