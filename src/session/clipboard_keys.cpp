// Alt+B and Alt+V in a session.
#include "session/clipboard_keys.h"

#include <algorithm>
#include <cstring>

#include "link/connect.h"
#include "link/telnet.h"
#include "platform/clipboard.h"
#include "platform/clipboard_text.h"
#include "platform/clock.h"
#include "scrollback/viewer.h"
#include "session/loop_state.h"
#include "session/session.h"

namespace {

// A paste goes out in pieces of at most this size: one send per piece
// rather than per byte, and each piece gets send_all's full patience with a
// BBS that reads slowly.
constexpr size_t kPastePiece = 4096;

// The paste being sent a line at a time (one session runs at a time).
struct PendingPaste {
  const Session* owner = nullptr;
  std::vector<uint8_t> bytes;
  size_t at = 0;
  uint32_t sent_ms = 0;   // when the last line went
  uint32_t heard_ms = 0;  // when the BBS last sent something
  uint64_t rx = 0;        // the loop's byte count when last looked
};
PendingPaste g_paste;

void point_clipboard_at(const Session* s) {
  plat_clipboard_set_charset(session_clipboard_charset(s));
}

// The next piece: up to and including the next carriage return.
size_t next_piece(const PendingPaste& p) {
  size_t left = std::min(kPastePiece, p.bytes.size() - p.at);
  const void* cr = memchr(p.bytes.data() + p.at, '\r', left);
  return cr ? static_cast<size_t>(static_cast<const uint8_t*>(cr) - (p.bytes.data() + p.at)) + 1
            : left;
}

// Whether the BBS has had its time to answer the last line.
bool line_answered(Session* s, uint32_t now) {
  uint64_t rx = s->loop ? s->loop->bytes_received : 0;
  if (rx != g_paste.rx) {
    g_paste.rx = rx;
    g_paste.heard_ms = now;
  }
  // A ZMODEM start half seen is waited for as well.
  if (s->zm.zmodem.detect_index > 0) return false;
  uint32_t quiet_from = static_cast<int32_t>(g_paste.heard_ms - g_paste.sent_ms) > 0
                            ? g_paste.heard_ms
                            : g_paste.sent_ms;
  return now - quiet_from >= kPasteQuietMs || now - g_paste.sent_ms >= kPasteLineMs;
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

std::vector<uint8_t> session_paste_bytes(const std::string& text, bool telnet) {
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
      if (telnet && b == TELNET_IAC) out.push_back(TELNET_IAC);
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
  std::vector<uint8_t> bytes = session_paste_bytes(text, s->telnet.enabled != 0);
  if (!s->loop) {
    for (size_t at = 0; at < bytes.size(); at += kPastePiece) {
      size_t n = std::min(kPastePiece, bytes.size() - at);
      if (telnet_send_prepared(&s->telnet, bytes.data() + at, n) != 0) return -1;
    }
    return 0;
  }
  // A new paste replaces what is left of an earlier one.
  g_paste = PendingPaste{};
  g_paste.owner = s;
  g_paste.bytes = std::move(bytes);
  g_paste.rx = s->loop->bytes_received;
  return session_paste_pump(s);
}

int session_paste_pump(Session* s) {
  if (!session_paste_pending(s)) return 0;
  if (session_transfer_active(s)) {
    // The paste started a transfer (or the user did): the rest of it is no
    // data for the transfer program.
    session_paste_cancel(s);
    return 0;
  }
  uint32_t now = clock_ms();
  if (g_paste.at > 0 && !line_answered(s, now)) return 0;
  size_t n = next_piece(g_paste);
  if (telnet_send_prepared(&s->telnet, g_paste.bytes.data() + g_paste.at, n) != 0) {
    session_paste_cancel(s);
    return -1;
  }
  g_paste.at += n;
  g_paste.sent_ms = g_paste.heard_ms = now;
  if (g_paste.at >= g_paste.bytes.size()) session_paste_cancel(s);
  return 0;
}

bool session_paste_pending(const Session* s) {
  return s && g_paste.owner == s && g_paste.at < g_paste.bytes.size();
}

void session_paste_cancel(const Session* s) {
  if (g_paste.owner == s) g_paste = PendingPaste{};
}
