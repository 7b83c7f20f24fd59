// Alt+B and Alt+V in a session.
#include "session/clipboard_keys.h"

#include <algorithm>

#include "platform/clipboard.h"
#include "platform/clipboard_text.h"
#include "scrollback/viewer.h"
#include "session/connection.h"
#include "session/session.h"
#include "session/telnet.h"

namespace {

// A paste goes out in pieces of this size: one send per piece rather than
// per byte, and each piece gets send_all's full patience with a BBS that
// reads slowly.
constexpr size_t kPastePiece = 4096;

void point_clipboard_at(const Session* s) {
  plat_clipboard_set_charset(session_clipboard_charset(s));
}

}  // namespace

CharsetId session_clipboard_charset(const Session* s) {
  if (!s || !s->petscii) return CHARSET_CP437;
  return s->terminal && s->terminal->petscii_lower ? CHARSET_C64_LOWER : CHARSET_C64_UPPER;
}

void session_open_scrollback_window(Session* s) {
  if (!s || !s->terminal || !s->terminal->window) return;
  point_clipboard_at(s);
  scrollback_viewer_run(s->terminal);
}

std::vector<uint8_t> session_paste_bytes(const std::string& text) {
  std::vector<uint8_t> out;
  out.reserve(text.size() + text.size() / 16 + 1);
  bool after_cr = false;
  for (char c : text) {
    auto b = static_cast<uint8_t>(c);
    bool was_cr = after_cr;
    after_cr = b == 13;
    if (b == 13) {
      out.push_back(13);
    } else if (b == 10) {
      if (!was_cr) out.push_back(13);
    } else if (b == 9) {
      out.push_back(9);
    } else if (b >= 32 && b != 127) {
      out.push_back(b);
      if (b == TELNET_IAC) out.push_back(TELNET_IAC);
    }
  }
  return out;
}

int session_paste_clipboard(Session* s) {
  if (!s || !s->terminal) return -1;
  if (session_transfer_active(s)) return 0;
  point_clipboard_at(s);
  std::string text;
  if (!clipboard_read_text(&text) || text.empty()) return 0;
  std::vector<uint8_t> bytes = session_paste_bytes(text);
  for (size_t at = 0; at < bytes.size(); at += kPastePiece) {
    size_t n = std::min(kPastePiece, bytes.size() - at);
    if (send_all(s->sock, bytes.data() + at, n) != 0) return -1;
  }
  return 0;
}
