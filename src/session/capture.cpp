#include "session/capture.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "display/statusbar.h"
#include "platform/clock.h"
#include "phonebook/prefs.h"
#include "platform/display.h"
#include "session/session.h"
#include "terminal/sauce.h"
#include "terminal/terminal.h"
#include "transfer/transfer_files.h"
#include "transfer/transfer_menus.h"
#include "util/version.h"

namespace {

struct Capture {
  int fd = -1;
  std::string name;  // the file's name, for the notes
  uint64_t written = 0;
  // Bytes are gathered and written 16 KiB at a time: a flood of text costs
  // a system call per block, not per byte.
  uint8_t buf[16384];
  size_t len = 0;
  char note[224] = "";
};
Capture g_cap;

// A note in the box transfers use, held a few seconds over the text that
// arrives meanwhile (the session's held box), then the terminal again.
void show_note(Session* s) {
  if (!s || !s->terminal || !term_can_draw(s->terminal)) return;
  term_draw_transfer_note(s->terminal, g_cap.note);
  session_hold_box(s, nullptr, g_cap.note);
}

void set_bar(Session* s, int on) {
  term_status_set_capture(s ? s->terminal : nullptr, on);
}

std::string shown_size(uint64_t n) {
  char text[32];
  if (n < 1024)
    snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(n));
  else if (n < 1024 * 1024)
    snprintf(text, sizeof text, "%.1f KB", static_cast<double>(n) / 1024.0);
  else
    snprintf(text, sizeof text, "%.1f MB", static_cast<double>(n) / (1024.0 * 1024.0));
  return text;
}

// Writes what is buffered; 0, or -1 with errno.
int flush() {
  size_t at = 0;
  while (at < g_cap.len) {
    ssize_t n = write(g_cap.fd, g_cap.buf + at, g_cap.len - at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return -1;
    }
    at += static_cast<size_t>(n);
    g_cap.written += static_cast<uint64_t>(n);
  }
  g_cap.len = 0;
  return 0;
}

// Closes the file; 0, or -1 with errno when its last bytes could not be
// written.
int close_file() {
  int rc = flush();
  int saved = errno;
  if (close(g_cap.fd) != 0 && rc == 0) {
    rc = -1;
    saved = errno;
  }
  g_cap.fd = -1;
  g_cap.len = 0;
  errno = saved;
  return rc;
}

void fail(Session* s, int err) {
  g_cap.len = 0;  // what could not be written is not tried again
  close(g_cap.fd);
  g_cap.fd = -1;
  snprintf(g_cap.note, sizeof g_cap.note, "Capture stopped: %s", strerror(err));
  fprintf(stderr, "Kavel: capture to %s stopped: %s\n", g_cap.name.c_str(), strerror(err));
  set_bar(s, 0);
  show_note(s);
}

// Creates a new file dir/stem + ext, or stem-2 + ext and so on when the
// name is taken (two captures in one minute, a capture and a screen save);
// also_free is another extension whose file must not exist under the same
// stem (the screen save's .ans beside its .png).  The descriptor, or -1.
int create_new(const std::string& dir, const std::string& stem, const char* ext,
               std::string* name, const char* also_free = nullptr) {
  for (int n = 1; n < 100; n++) {
    std::string base = n == 1 ? stem : stem + "-" + std::to_string(n);
    if (also_free && access((dir + "/" + base + also_free).c_str(), F_OK) == 0) continue;
    *name = base + ext;
    int fd = open((dir + "/" + *name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

std::string stem_now(const Session* s) {
  std::tm now{};
  if (!clock_local_time(&now)) now = std::tm{};
  std::string name = capture_file_name(s->terminal->status_text, now, "");
  return name;
}

// PC palette order to the SGR colour numbers (ANSI order).
constexpr int kPcToAnsi[8] = {0, 4, 2, 6, 1, 5, 3, 7};

void sgr_rgb(std::string* out, int base, uint32_t rgb) {
  char text[40];
  snprintf(text, sizeof text, ";%d;2;%u;%u;%u", base, (rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF,
           rgb & 0xFF);
  *out += text;
}

}  // namespace

std::string capture_file_name(const char* board, const std::tm& when, const char* ext) {
  std::string name;
  for (const char* p = board ? board : ""; *p && name.size() < 32; p++) {
    unsigned char c = static_cast<unsigned char>(*p);
    bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                c == '.' || c == '-' || c == '_';
    if (keep) {
      name += static_cast<char>(c);
    } else if (!name.empty() && name.back() != '_') {
      name += '_';
    }
  }
  // No hidden file, no name ending in a separator before the time.
  while (!name.empty() && (name.back() == '_' || name.back() == '.')) name.pop_back();
  size_t lead = name.find_first_not_of("._");
  name.erase(0, lead == std::string::npos ? name.size() : lead);
  if (name.empty()) name = "Kavel";
  char stamp[40];
  snprintf(stamp, sizeof stamp, "-%04d-%02d-%02d-%02d%02d", when.tm_year + 1900, when.tm_mon + 1,
           when.tm_mday, when.tm_hour, when.tm_min);
  return name + stamp + (ext ? ext : "");
}

bool capture_running() {
  return g_cap.fd >= 0;
}

const char* capture_note() {
  return g_cap.note;
}

void capture_byte(Session* s, uint8_t byte) {
  if (g_cap.fd < 0) return;
  g_cap.buf[g_cap.len++] = byte;
  if (g_cap.len == sizeof g_cap.buf && flush() != 0) fail(s, errno);
}

void capture_end() {
  if (g_cap.fd < 0) return;
  if (close_file() != 0)
    fprintf(stderr, "Kavel: capture to %s cut short: %s\n", g_cap.name.c_str(), strerror(errno));
  term_status_set_capture(nullptr, 0);
}

void capture_toggle(Session* s) {
  if (!s || !s->terminal) return;
  if (g_cap.fd >= 0) {
    if (close_file() != 0) {
      snprintf(g_cap.note, sizeof g_cap.note, "Capture %s cut short: %s", g_cap.name.c_str(),
               strerror(errno));
    } else {
      snprintf(g_cap.note, sizeof g_cap.note, "Captured %s (%s)", g_cap.name.c_str(),
               shown_size(g_cap.written).c_str());
    }
    set_bar(s, 0);
    show_note(s);
    return;
  }
  std::string dir = transfer_download_dir(g_download_path);
  std::string name;
  int fd = create_new(dir, stem_now(s), s->petscii ? ".seq" : ".ans", &name);
  if (fd < 0) {
    snprintf(g_cap.note, sizeof g_cap.note, "Cannot capture: %s", strerror(errno));
  } else {
    g_cap.fd = fd;
    g_cap.name = name;
    g_cap.written = 0;
    g_cap.len = 0;
    // The directory is the download directory the user knows; the box has
    // room for the name only.
    snprintf(g_cap.note, sizeof g_cap.note, "Capturing to %s", name.c_str());
    set_bar(s, 1);
  }
  show_note(s);
}

std::string capture_screen_ansi(const Terminal* t, int* ice) {
  std::string out = "\x1b[0m\x1b[2J\x1b[?7l";
  int uses_ice = 0;
  std::string current;  // the SGR in effect ("" before the first cell)
  for (int r = 0; r < kTermRows; r++) {
    // Blank cells at a row's end on the cleared black need not be written.
    int end = kTermCols;
    while (end > 0) {
      const Cell& c = t->cells[r][end - 1];
      bool blank = (c.ch == 0 || c.ch == ' ') && !(c.flags & (CELL_BG_EXT | CELL_BLINK)) &&
                   (c.bg & 15) == 0;
      if (!blank) break;
      end--;
    }
    if (end == 0) continue;
    char pos[24];
    snprintf(pos, sizeof pos, "\x1b[%d;1H", r + 1);
    out += pos;
    for (int col = 0; col < end; col++) {
      const Cell& c = t->cells[r][col];
      std::string sgr = "\x1b[0";
      if (c.flags & CELL_FG_EXT) {
        sgr_rgb(&sgr, 38, term_ext_rgb(t, c.fg));
      } else {
        int fg = c.fg & 15;
        sgr += fg >= 8 ? ";1;" : ";";
        sgr += std::to_string(30 + kPcToAnsi[fg & 7]);
      }
      int bg = c.bg & 15;
      bool bright_bg = !(c.flags & CELL_BG_EXT) &&
                       (bg >= 8 || ((c.flags & CELL_BLINK) && t->ice_colours));
      if (c.flags & CELL_BG_EXT) {
        sgr_rgb(&sgr, 48, term_ext_rgb(t, c.bg));
      } else if (bright_bg) {
        // A bright background is blink under iCE colours.
        uses_ice = 1;
        sgr += ";5;" + std::to_string(40 + kPcToAnsi[bg & 7]);
      } else {
        if (c.flags & CELL_BLINK) sgr += ";5";
        sgr += ";" + std::to_string(40 + kPcToAnsi[bg]);
      }
      sgr += "m";
      if (sgr != current) {
        out += sgr;
        current = sgr;
      }
      uint8_t ch = c.ch;
      // Bytes the interpreter acts on instead of drawing stand as blanks.
      if (ch == 0 || ch == 7 || ch == 8 || ch == 9 || ch == 10 || ch == 12 || ch == 13 ||
          ch == 0x1A || ch == 0x1B)
        ch = ' ';
      out += static_cast<char>(ch);
    }
  }
  char tail[48];
  snprintf(tail, sizeof tail, "\x1b[0m\x1b[?7h\x1b[%d;%dH", t->row + 1, t->col + 1);
  out += tail;
  if (uses_ice) out = "\x1b[?33h" + out;
  if (ice) *ice = uses_ice;
  return out;
}

int capture_save_screen(Session* s) {
  if (!s || !s->terminal || !s->terminal->window) return -1;
  Terminal* t = s->terminal;
  std::string dir = transfer_download_dir(g_download_path);
  // The picture first, before the note covers it.
  std::string name;
  int fd = create_new(dir, stem_now(s), ".png", &name, s->petscii ? nullptr : ".ans");
  int rc = fd < 0 ? -1 : 0;
  int err = errno;
  if (fd >= 0) {
    close(fd);
    if (plat_save_window_png(t->window, (dir + "/" + name).c_str()) != 0) {
      rc = -1;
      err = errno ? errno : EIO;
    }
  }
  std::string ans;
  if (rc == 0 && !s->petscii) {
    // The .ans beside it under the same stem.
    ans = name.substr(0, name.size() - 4) + ".ans";
    std::tm now{};
    clock_local_time(&now);
    int ice = 0;
    std::string screen = capture_screen_ansi(t, &ice);
    std::string comment = std::string("Saved by ") + kProgramName + " " + kProgramVersion;
    SauceInfo info{t->status_text, comment.c_str(), now.tm_year + 1900, now.tm_mon + 1,
                   now.tm_mday, kTermCols, kTermRows, ice};
    std::string file = sauce_append(screen, info);
    FILE* f = fopen((dir + "/" + ans).c_str(), "wbx");
    bool ok = f && fwrite(file.data(), 1, file.size(), f) == file.size();
    if (!ok) err = errno ? errno : EIO;
    if (f && fclose(f) != 0 && ok) {
      ok = false;
      err = errno;
    }
    if (!ok) rc = -1;
  }
  if (rc != 0)
    snprintf(g_cap.note, sizeof g_cap.note, "Screen not saved: %s", strerror(err));
  else if (!ans.empty())
    snprintf(g_cap.note, sizeof g_cap.note, "Saved %s and .png", ans.c_str());
  else
    snprintf(g_cap.note, sizeof g_cap.note, "Saved %s", name.c_str());
  show_note(s);
  return rc;
}
