#include "terminal/script_harness.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "platform/audio.h"
#include "platform/clock.h"
#include "terminal/active_font.h"
#include "terminal/hooks.h"
#include "terminal/terminal.h"

namespace {

std::string trim_left(const std::string& s) {
  size_t i = s.find_first_not_of(" \t");
  return i == std::string::npos ? std::string() : s.substr(i);
}

// Reads a double-quoted literal at s[pos]; false when malformed.
bool parse_literal(const std::string& s, size_t pos, std::string* out) {
  out->clear();
  if (pos >= s.size() || s[pos] != '"') return false;
  for (size_t i = pos + 1; i < s.size(); i++) {
    char c = s[i];
    if (c == '"') return true;
    if (c != '\\') {
      out->push_back(c);
      continue;
    }
    if (++i >= s.size()) return false;
    switch (s[i]) {
      case 'e':
        out->push_back('\x1b');
        break;
      case 'r':
        out->push_back('\r');
        break;
      case 'n':
        out->push_back('\n');
        break;
      case 't':
        out->push_back('\t');
        break;
      case 'b':
        out->push_back('\b');
        break;
      case 'f':
        out->push_back('\f');
        break;
      case 'a':
        out->push_back('\a');
        break;
      case '\\':
      case '"':
        out->push_back(s[i]);
        break;
      case 'x': {
        if (i + 2 >= s.size()) return false;
        out->push_back(static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16)));
        i += 2;
        break;
      }
      default:
        return false;
    }
  }
  return false;
}

std::string printable(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c == 0x1b) {
      out += "\\e";
    } else if (c < 32 || c >= 127) {
      char buf[8];
      snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

// Parses "a,b,c" integers into v; false when the count differs.
bool parse_ints(const std::string& s, std::vector<long long>* v, size_t want) {
  v->clear();
  std::stringstream ss(s);
  std::string item;
  while (std::getline(ss, item, ',')) {
    item = trim_left(item);
    if (item.size() == 3 && item[0] == '\'' && item[2] == '\'') {
      v->push_back(static_cast<unsigned char>(item[1]));
      continue;
    }
    try {
      v->push_back(std::stoll(item));
    } catch (...) {
      return false;
    }
  }
  return v->size() == want;
}

// Replies the terminal asked to send, in order: the recording side of the
// terminal's reply hook.
std::string g_replies;

void record_reply(Terminal*, const char* bytes, size_t len) {
  g_replies.append(bytes, len);
}

bool g_fonts_available = true;
bool fonts_available(Terminal*, int) {
  return g_fonts_available;
}

std::string g_notes;  // what the last PARSEMUSIC read

std::string notes_text(const TermMusicNote* notes, int n) {
  std::string out;
  for (int i = 0; i < n; i++) {
    char buf[48];
    snprintf(buf, sizeof buf, "%s%u:%u:%u", i ? " " : "", (notes[i].freq_millihz + 500) / 1000,
             notes[i].sound_ms, notes[i].silence_ms);
    out += buf;
  }
  return out;
}

bool parse_hex(const std::string& s, uint32_t* v) {
  try {
    size_t used = 0;
    *v = static_cast<uint32_t>(std::stoul(trim_left(s), &used, 16));
    return used > 0;
  } catch (...) {
    return false;
  }
}

struct Harness {
  std::unique_ptr<Terminal> term;
  std::unique_ptr<ScrollbackLine[]> lines;
  ScrollbackRing ring{};
  std::string pending_replies;
  TermHooks saved_hooks = g_term_hooks;
  int saved_music = g_ansi_music_enabled;
  int saved_identity = g_cterm_identity;

  ~Harness() {
    term_music_stop(term.get());
    g_term_hooks = saved_hooks;
    g_ansi_music_enabled = saved_music;
    g_cterm_identity = saved_identity;
    clock_test_reset();
  }

  void reset() {
    if (term) term_music_stop(term.get());
    g_term_hooks.reply = record_reply;
    g_term_hooks.font_available = fonts_available;
    g_fonts_available = true;
    g_ansi_music_enabled = 0;
    g_cterm_identity = 0;
    clock_test_set_ms(100000);
    plat_headless_audio_reset();
    g_replies.clear();
    term = std::make_unique<Terminal>();
    term_init_record(term.get());
    term_clear_screen(term.get());
    lines.reset();
    ring = ScrollbackRing{};
    pending_replies.clear();
    set_active_font(kFontCP437);
    term->reply_socket = 0;  // a peer is there; the hook records instead of sending
  }

  void collect_replies() {
    pending_replies += g_replies;
    g_replies.clear();
  }
};

}  // namespace

std::vector<ScriptFailure> run_terminal_script(const std::string& path, int* cases) {
  std::vector<ScriptFailure> failures;
  *cases = 0;
  std::ifstream in(path);
  if (!in) {
    failures.push_back({0, "", "cannot open " + path});
    return failures;
  }
  Harness h;
  h.reset();
  std::string case_name;
  std::string line;
  int lineno = 0;
  auto fail = [&](const std::string& msg) { failures.push_back({lineno, case_name, msg}); };
  auto check_unmatched_replies = [&]() {
    h.collect_replies();
    if (!h.pending_replies.empty())
      fail("unexpected reply \"" + printable(h.pending_replies) + "\"");
    h.pending_replies.clear();
  };

  while (std::getline(in, line)) {
    lineno++;
    if (line.empty() || line[0] == '#') continue;
    bool indented = line[0] == ' ' || line[0] == '\t';
    std::string s = trim_left(line);
    if (s.empty()) continue;
    Terminal* t = h.term.get();

    if (!indented) {
      check_unmatched_replies();
      if (s[0] == '!') {
        case_name = s.substr(1);
        (*cases)++;
        h.reset();
        continue;
      }
      std::string cmd = s.substr(0, s.find(' '));
      std::string arg = s.size() > cmd.size() ? trim_left(s.substr(cmd.size())) : "";
      std::string lit;
      std::vector<long long> v;
      if (cmd == "PUSH" || cmd == "PUSHREP") {
        long long reps = 1;
        if (cmd == "PUSHREP") {
          size_t sp = arg.find(' ');
          reps = std::stoll(arg.substr(0, sp));
          arg = sp == std::string::npos ? "" : trim_left(arg.substr(sp));
        }
        if (!parse_literal(arg, 0, &lit)) {
          fail("bad literal");
          continue;
        }
        for (long long r = 0; r < reps; r++)
          for (unsigned char c : lit) term_consume_byte(t, c);
        h.collect_replies();
      } else if (cmd == "CP437") {
        t->cp437_font = std::stoi(arg);
      } else if (cmd == "FONT") {
        if (!parse_literal(arg, 0, &lit)) fail("bad literal");
        set_active_font(lit.c_str());
      } else if (cmd == "FONTRAW") {
        // Put back exactly, as the session does with a saved name (an
        // empty one included), without normalising it.
        if (!parse_literal(arg, 0, &lit)) fail("bad literal");
        active_font_restore(lit.c_str());
      } else if (cmd == "NOREPLYSOCK") {
        // The hook stays in place, so a reply sent anyway would still show.
        t->reply_socket = -1;
      } else if (cmd == "PETSCII") {
        t->petscii = TERM_MODE_PETSCII;
      } else if (cmd == "SCROLLBACK") {
        h.lines = std::make_unique<ScrollbackLine[]>(kScrollbackLines);
        h.ring = ScrollbackRing{h.lines.get(), 0, 0};
        t->scrollback = &h.ring;
      } else if (cmd == "SET" && parse_ints(arg, &v, 2)) {
        t->row = static_cast<int>(v[0]);
        t->col = static_cast<int>(v[1]);
      } else if (cmd == "ATTRS" && parse_ints(arg, &v, 4)) {
        t->fg = static_cast<int>(v[0]);
        t->bg = static_cast<int>(v[1]);
        t->bold = static_cast<int>(v[2]);
        t->reverse = static_cast<int>(v[3]);
      } else if (cmd == "IDENTITY" && parse_ints(arg, &v, 1)) {
        g_cterm_identity = static_cast<int>(v[0]);
      } else if (cmd == "MUSIC" && parse_ints(arg, &v, 1)) {
        g_ansi_music_enabled = static_cast<int>(v[0]);
      } else if (cmd == "FONTS" && parse_ints(arg, &v, 1)) {
        g_fonts_available = v[0] != 0;
      } else if (cmd == "PUMP" && parse_ints(arg, &v, 1)) {
        clock_test_advance_ms(static_cast<uint32_t>(v[0]));
        term_music_pump(t);
        h.collect_replies();
      } else if (cmd == "STOPMUSIC") {
        term_music_stop(t);
        h.collect_replies();
      } else if (cmd == "PARSEMUSIC") {
        int introducer = '|';
        if (arg.rfind("M ", 0) == 0) {
          introducer = 'M';
          arg = trim_left(arg.substr(2));
        }
        if (!parse_literal(arg, 0, &lit)) {
          fail("bad literal");
          continue;
        }
        TermMusicState st{};
        TermMusicNote notes[64];
        int n = term_music_parse(&st, reinterpret_cast<const uint8_t*>(lit.data()), lit.size(),
                                 introducer, notes, 64);
        g_notes = notes_text(notes, n);
      } else if (cmd == "CLEAR_RANGE" && parse_ints(arg, &v, 4)) {
        term_clear_range(t, static_cast<int>(v[0]), static_cast<int>(v[1]), static_cast<int>(v[2]),
                         static_cast<int>(v[3]));
      } else {
        fail("unknown command: " + s);
      }
      continue;
    }

    // Expectations.
    std::vector<long long> v;
    std::string lit;
    size_t eq = s.find(" = ");
    std::string rhs = eq == std::string::npos ? "" : s.substr(eq + 3);
    if (s.rfind("reply ", 0) == 0) {
      if (!parse_literal(s, 6, &lit)) {
        fail("bad literal");
        continue;
      }
      h.collect_replies();
      if (h.pending_replies.compare(0, lit.size(), lit) != 0) {
        fail("expected reply \"" + printable(lit) + "\", got \"" + printable(h.pending_replies) +
             "\"");
        h.pending_replies.clear();
      } else {
        h.pending_replies.erase(0, lit.size());
      }
    } else if (s.rfind("?cursor", 0) == 0 && parse_ints(rhs, &v, 2)) {
      if (t->row != v[0] || t->col != v[1])
        fail("cursor is " + std::to_string(t->row) + "," + std::to_string(t->col) + ", expected " +
             rhs);
    } else if (s.rfind("?row ", 0) == 0 && eq != std::string::npos && parse_literal(rhs, 0, &lit)) {
      int r = std::stoi(s.substr(5, eq - 5));
      if (r < 0 || r >= kTermRows) {
        fail("row out of range");
        continue;
      }
      char text[kScrollbackLineBytes];
      cell_row_to_text(t->cells[r], text);
      if (lit != text)
        fail("row " + std::to_string(r) + " is \"" + printable(text) + "\", expected \"" +
             printable(lit) + "\"");
    } else if (s.rfind("?cell ", 0) == 0 && eq != std::string::npos && parse_ints(rhs, &v, 4)) {
      std::vector<long long> pos;
      if (!parse_ints(s.substr(6, eq - 6), &pos, 2) || pos[0] < 0 || pos[0] >= kTermRows ||
          pos[1] < 0 || pos[1] >= kTermCols) {
        fail("bad cell position");
        continue;
      }
      const Cell& c = t->cells[pos[0]][pos[1]];
      if (c.ch != v[0] || c.fg != v[1] || c.bg != v[2] || c.flags != v[3])
        fail("cell " + s.substr(6, eq - 6) + " is " + std::to_string(c.ch) + "," +
             std::to_string(c.fg) + "," + std::to_string(c.bg) + "," + std::to_string(c.flags) +
             ", expected " + rhs);
    } else if (s.rfind("?attrs", 0) == 0 && parse_ints(rhs, &v, 4)) {
      if (t->fg != v[0] || t->bg != v[1] || t->bold != v[2] || t->reverse != v[3])
        fail("attrs are " + std::to_string(t->fg) + "," + std::to_string(t->bg) + "," +
             std::to_string(t->bold) + "," + std::to_string(t->reverse) + ", expected " + rhs);
    } else if (s.rfind("?state", 0) == 0 && parse_ints(rhs, &v, 2)) {
      if (t->ansi_state != v[0] || t->dec_line_drawing != v[1])
        fail("state is " + std::to_string(t->ansi_state) + "," +
             std::to_string(t->dec_line_drawing) + ", expected " + rhs);
    } else if (s.rfind("?region", 0) == 0 && parse_ints(rhs, &v, 2)) {
      int top, bottom;
      term_scroll_region(t, &top, &bottom);
      if (top != v[0] || bottom != v[1])
        fail("region is " + std::to_string(top) + "," + std::to_string(bottom) + ", expected " +
             rhs);
    } else if (s.rfind("?modes", 0) == 0 && parse_ints(rhs, &v, 2)) {
      if (t->autowrap_off != v[0] || t->cursor_hidden != v[1])
        fail("modes are " + std::to_string(t->autowrap_off) + "," +
             std::to_string(t->cursor_hidden) + ", expected " + rhs);
    } else if (s.rfind("?rgb ", 0) == 0 && eq != std::string::npos) {
      std::vector<long long> pos;
      size_t comma = rhs.find(',');
      uint32_t want_fg = 0, want_bg = 0;
      if (!parse_ints(s.substr(5, eq - 5), &pos, 2) || pos[0] < 0 || pos[0] >= kTermRows ||
          pos[1] < 0 || pos[1] >= kTermCols || comma == std::string::npos ||
          !parse_hex(rhs.substr(0, comma), &want_fg) ||
          !parse_hex(rhs.substr(comma + 1), &want_bg)) {
        fail("bad ?rgb expectation");
        continue;
      }
      uint32_t fg = 0, bg = 0;
      term_cell_rgb(t, t->cells[pos[0]][pos[1]], &fg, &bg);
      if (fg != want_fg || bg != want_bg) {
        char buf[64];
        snprintf(buf, sizeof buf, "%06X,%06X", fg, bg);
        fail("cell " + s.substr(5, eq - 5) + " shows " + buf + ", expected " + rhs);
      }
    } else if (s.rfind("?notes", 0) == 0 && eq != std::string::npos &&
               parse_literal(rhs, 0, &lit)) {
      if (g_notes != lit) fail("notes are \"" + g_notes + "\", expected \"" + lit + "\"");
    } else if (s.rfind("?held", 0) == 0 && parse_ints(rhs, &v, 1)) {
      int held = term_music_holding(t) ? t->hold_len : -1;
      if (held != v[0])
        fail("held bytes " + std::to_string(held) + " (-1: not holding), expected " + rhs);
    } else if (s.rfind("?scrollback", 0) == 0 && parse_ints(rhs, &v, 1)) {
      if (h.ring.count != v[0])
        fail("scrollback holds " + std::to_string(h.ring.count) + ", expected " + rhs);
    } else if (s.rfind("?sb ", 0) == 0 && eq != std::string::npos && parse_literal(rhs, 0, &lit)) {
      int i = std::stoi(s.substr(4, eq - 4));
      if (!h.ring.lines || i < 0 || i >= h.ring.count) {
        fail("no scrollback line " + std::to_string(i));
        continue;
      }
      const char* got = h.ring.lines[(h.ring.start + i) % kScrollbackLines];
      if (lit != got)
        fail("scrollback " + std::to_string(i) + " is \"" + printable(got) + "\", expected \"" +
             printable(lit) + "\"");
    } else {
      fail("unknown expectation: " + s);
    }
  }
  check_unmatched_replies();
  return failures;
}
