// The clipboard device: a unit that holds one clip, written and read in
// pieces through requests, in the manner of a device driver.  The program
// keeps clipboard text as an IFF FORM FTXT (util/ftxt.h); the device stores
// the exact bytes it is given.
//
// The desktop clipboard on Linux holds UTF-8 text, so the backend bridges:
// an update publishes the clip's CHRS text to the desktop as UTF-8, and a
// read presents the desktop's text as a FORM FTXT in the character set on
// screen (plat_clipboard_set_charset).  A character the set cannot show
// becomes "?"; docs/charsets.md has the tables.  While the desktop still
// holds the text this program published, in the same set, a read gives back
// the very bytes that were written.
//
// SDL backend: the X11/Wayland clipboard (text other programs copy and
// paste).  On X11 the text is handed to other programs by the program that
// copied it, while it runs and polls for events.  Headless backend: an
// in-memory desktop clipboard that tests set and read.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "util/charset.h"

struct PlatClipboard;

// Commands, numbered as the device numbers them.
enum : int {
  PLAT_CLIP_CMD_READ = 2,
  PLAT_CLIP_CMD_WRITE = 3,
  PLAT_CLIP_CMD_UPDATE = 4,
};

// Request results (PlatClipRequest::error).
enum : int {
  PLAT_CLIP_OK = 0,
  PLAT_CLIP_ERR_COMMAND = -1,    // unknown command or bad arguments
  PLAT_CLIP_ERR_NO_WRITE = -2,   // update without a write in progress
  PLAT_CLIP_ERR_TOO_LARGE = -3,  // a write beyond PLAT_CLIP_MAX_BYTES
  PLAT_CLIP_ERR_DESKTOP = -4,    // the desktop clipboard refused the text
  PLAT_CLIP_ERR_NO_MEMORY = -5,
};

// The largest clip the device takes or presents; a desktop text larger than
// this reads as an empty clipboard.
constexpr size_t PLAT_CLIP_MAX_BYTES = 64u << 20;

// One request.  A write or read moves `offset` on by `actual`, so a writer
// sets offset 0 and clip_id 0 once and issues its writes one after another;
// the device fills in clip_id.
//
// - WRITE: offset 0 with clip_id 0 starts a new clip (an unfinished one is
//   dropped); other writes add `length` bytes from `data` at `offset` to the
//   clip in progress.  Nothing is seen by readers until the update.
// - UPDATE: the clip in progress becomes the clipboard's (and the desktop's)
//   content.  `length` and `data` are not used.
// - READ: offset 0 takes a fresh look at the clipboard; every read copies up
//   to `length` bytes from `offset` into `data`.  `actual` is what was
//   copied: fewer than `length` means the end was reached (0 for an empty
//   clipboard or one holding no text).
struct PlatClipRequest {
  int command = 0;
  void* data = nullptr;
  uint32_t length = 0;
  uint32_t offset = 0;
  int32_t clip_id = 0;
  // results
  int error = PLAT_CLIP_OK;
  uint32_t actual = 0;
};

// Opens a unit (only unit 0 exists); null when there is no desktop clipboard
// (no display) or no memory.
PlatClipboard* plat_clipboard_open(int unit);
void plat_clipboard_close(PlatClipboard* unit);
// Carries out the request; returns req->error.
int plat_clipboard_do(PlatClipboard* unit, PlatClipRequest* req);

// The character set the bridge converts for: the set on screen in the
// session (CP437 until a session says otherwise).
void plat_clipboard_set_charset(CharsetId set);
CharsetId plat_clipboard_charset();

// Answers other programs' requests for the text this program put on the
// desktop clipboard, for ms milliseconds.  A program that polls its windows
// does this anyway; a tool without windows calls it before it exits.
void plat_clipboard_serve(int ms);

// -------------------------------------------------------- headless extras --
// The headless backend's desktop clipboard, for tests.  In the SDL backend
// the setters do nothing and plat_headless_clipboard_text gives false.

// Whether a unit can be opened (false simulates a missing display; in the
// SDL backend too).
void plat_headless_set_clipboard_available(bool available);
// Another program copies text: any bytes, taken as UTF-8 (invalid sequences
// and NUL bytes included).
void plat_headless_clipboard_set_text(const char* utf8, size_t len);
// Another program copies something that is not text (an image).
void plat_headless_clipboard_set_nontext();
// The desktop clipboard's text; false when it holds no text.
bool plat_headless_clipboard_text(std::string* utf8);

// Writes these exact bytes through the device as another program would (any
// IFF form, or none) and updates: reads give them back unchanged while the
// desktop keeps their CHRS text (published as UTF-8; no text for a form
// without one).  Works with either backend; 0, or the request's error.
int plat_clipboard_put_bytes(const uint8_t* bytes, size_t len);
