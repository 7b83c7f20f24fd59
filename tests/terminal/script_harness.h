// Scripted interpreter tests in the manner of libvterm's t/*.test files.
//
// A script is a list of cases.  Commands are upper case and start in column
// 0; expectations are indented and checked in order against the state the
// last command left:
//
//   !name                      starts a case (fresh terminal, no window)
//   PUSH "bytes"               feeds bytes (escapes: \e \r \n \t \b \f \a \\ \" \xHH)
//   PUSHREP n "bytes"          feeds the bytes n times
//   CP437 0|1                  the font has CP437 pictures for 1..31
//   FONT "name"                makes name the active font
//   FONTRAW "name"             puts name back as the active font, not normalised
//   NOREPLYSOCK                the terminal has no reply socket
//   PETSCII                    sets the terminal's PETSCII flag
//   SCROLLBACK                 attaches a scrollback ring
//   SET row,col                places the cursor directly (off-grid allowed)
//   ATTRS fg,bg,bold,reverse   sets the attributes directly
//   CLEAR_RANGE r1,c1,r2,c2    calls term_clear_range
//   IDENTITY 0|1               the CTerm identity setting (off in a fresh case)
//   MUSIC 0|1                  the ANSI music setting (off in a fresh case, so
//                              that music strings are swallowed as they were)
//   PUMP ms                    the clock moves on ms, then the music is pumped
//   STOPMUSIC                  as Escape does: term_music_stop
//   PARSEMUSIC [M] "string"    reads a music string (introducer ESC [ |, or
//                              ESC [ M with M) with fresh settings
//   FONTS 0|1                  whether the display can draw the other fonts
//     ?cursor = row,col
//     ?row N = "text"          the row as cell_row_to_text gives it
//     ?cell R,C = ch,fg,bg,flags   (ch as a number or 'c')
//     ?attrs = fg,bg,bold,reverse
//     ?state = parser,decgraphics
//     ?region = top,bottom       the rows that scroll (0,24: the whole screen)
//     ?modes = autowrap_off,cursor_hidden
//     ?rgb R,C = RRGGBB,RRGGBB     the colours the cell shows (hex)
//     ?notes = "hz:ms:ms ..."      the notes PARSEMUSIC read: frequency
//                                  (rounded), sound and silence
//     ?held = n                    bytes waiting for foreground music
//     ?scrollback = count        then ?sb N = "text" (N logical, 0 oldest)
//     reply "bytes"            the next reply bytes sent on the socket
//   (replies not matched by a "reply" expectation fail the case)
//
// Lines starting with # and blank lines are ignored.
#pragma once
#include <string>
#include <vector>

struct ScriptFailure {
  int line;
  std::string case_name;
  std::string message;
};

// Runs one script; returns the failures (empty when everything held) and
// sets *cases to the number of cases run.
std::vector<ScriptFailure> run_terminal_script(const std::string& path, int* cases);
