// The session's clipboard hotkeys: Alt+B opens the scrollback viewer over the
// session, Alt+V pastes the clipboard's text to the BBS.  Both first point
// the clipboard at the character set on screen (CP437 in ANSI sessions, the
// C64 set shown in PETSCII ones), so text crosses to and from the desktop
// as the characters the user sees.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "util/charset.h"

struct Session;

// The set on screen in the session: CP437, or the C64 upper-case/graphics
// or lower/upper-case set.
CharsetId session_clipboard_charset(const Session* s);

// Runs the scrollback viewer (nothing when the session has no terminal
// window).  The session's connection is not read while it is open.
void session_open_scrollback_window(Session* s);

// The bytes a pasted text goes out as: a carriage return as itself with a
// line feed right after it dropped, a lone line feed as a carriage return,
// tab unchanged, every byte from 32 up except 127 (255 doubled for Telnet),
// every other control byte dropped.
std::vector<uint8_t> session_paste_bytes(const std::string& text);

// Sends the clipboard's text to the BBS.  -1 when the session has no
// terminal or a send fails; 0 otherwise (also while a transfer runs, when
// nothing is sent, and for an empty clipboard).
int session_paste_clipboard(Session* s);
