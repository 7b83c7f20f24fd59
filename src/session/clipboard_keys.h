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
// tab unchanged, every byte from 32 up except 127 (255 doubled when telnet:
// the link speaks Telnet), every other control byte dropped.
std::vector<uint8_t> session_paste_bytes(const std::string& text, bool telnet = true);

// Sends the clipboard's text to the BBS.  -1 when the session has no
// terminal or a send fails; 0 otherwise (also while a transfer runs, when
// nothing is sent, and for an empty clipboard).
//
// In a running session loop the text goes a line at a time: the first at
// once, each next one when the BBS has had time to answer the last (its
// output quiet for kPasteQuietMs, at most kPasteLineMs after the line).
// A line of the paste may be the BBS's download key: once a transfer
// starts the rest of the paste is dropped, rather than reaching the
// transfer program as data.  Without a loop (nothing can start meanwhile)
// it all goes at once.
int session_paste_clipboard(Session* s);
inline constexpr uint32_t kPasteQuietMs = 150;
inline constexpr uint32_t kPasteLineMs = 1000;

// The paste's next line when it is time, from each turn of the loop.  -1
// when a send failed (the connection is gone), else 0.
int session_paste_pump(Session* s);
// Whether a paste still has lines to send in this session.
bool session_paste_pending(const Session* s);
// Drops what is left of the session's paste (the session is ending).
void session_paste_cancel(const Session* s);
