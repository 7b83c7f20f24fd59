// Keeping what a board sends: Alt+C captures every data byte the board
// sends (after Telnet, before the terminal) into a file of the download
// directory; Alt+P saves the screen as an .ans file with a SAUCE record and
// as a PNG of the window.  One capture at a time: the program runs one
// session at a time.
#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

struct Session;
struct Terminal;

// Alt+C: starts a capture named after the board and the time (.seq for a
// PETSCII board, else .ans), or ends the one running; a note says which
// file, and the status bar shows "CAP" while it runs.
void capture_toggle(Session* s);

// A data byte on its way to the terminal.  Transfer bytes never come here:
// the ZMODEM and XMODEM engines take them before.  A write that fails (a
// full disk, a file-size limit) ends the capture with a note saying why;
// the session goes on.
void capture_byte(Session* s, uint8_t byte);
inline void capture_bytes(Session* s, const uint8_t* bytes, size_t n) {
  for (size_t i = 0; i < n; i++) capture_byte(s, bytes[i]);
}

// The session is over: what is buffered is written and the file closed.
void capture_end();
bool capture_running();
// The text of the last note (start, end, failure, screen save), for tests
// (the session's held box keeps its own copy).
const char* capture_note();

// Alt+P: the screen as NAME.png (the window's pixels as they are shown) and,
// on an ANSI board, NAME.ans (the cells, with a SAUCE record naming Kavel);
// 0, or -1 when a file could not be written (the note says so).
int capture_save_screen(Session* s);

// "Board_Name-2026-12-08-2215" + ext: the board's name with every byte
// that is not a letter, digit, '.', '-' or '_' as '_' (a run of them as
// one; none leading, so no hidden file), at most 32 bytes of it (the note
// naming the file fits a window's width), "Kavel"
// when nothing is left.
std::string capture_file_name(const char* board, const std::tm& when, const char* ext);

// The terminal's cells as an ANSI stream: a clear screen, then every row
// placed by cursor position with autowrap off (so that the last cell does
// not scroll), colours as SGR (bright foreground as bold, a bright
// background as iCE blink, extended colours as 24-bit SGR).  *ice is set
// when the stream needs iCE colours.
std::string capture_screen_ansi(const Terminal* t, int* ice);
