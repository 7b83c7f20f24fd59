#include "session/session_loop.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "display/fonts.h"
#include "platform/clock.h"
#include "platform/dos.h"
#include "session/connection.h"
#include "session/session.h"
#include "session/session_test_util.h"
#include "session/telnet.h"
#include "terminal/terminal.h"

namespace {

// A session with a window-less terminal: the grid is the observable.
struct DispatchRig {
  Session s;
  std::unique_ptr<Terminal> t = std::make_unique<Terminal>();
  uint32_t now = 50000;
  DispatchRig() {
    clock_test_set_ms(now);
    session_init(&s);
    term_init_record(t.get());
    term_clear_screen(t.get());
    s.terminal = t.get();
  }
  ~DispatchRig() { clock_test_reset(); }
  void feed(const std::string& bytes) {
    for (unsigned char c : bytes) session_data_byte(&s, c);
  }
  void wait(uint32_t ms) {
    now += ms;
    clock_test_set_ms(now);
  }
  std::string row0() const {
    std::string r;
    for (int c = 0; c < t->col && t->row == 0; c++)
      r.push_back(static_cast<char>(t->cells[0][c].ch));
    return r;
  }
};

}  // namespace

TEST(SessionDispatch, ZmodemStartDetectionHoldsAndReleases) {
  struct {
    const char* name;
    std::string in;
    std::string shown;  // row 0 right after the bytes (the interpreter draws no CAN)
  } cases[] = {
      {"plain text", "Hello", "Hello"},
      {"** then x", "**x", "**x"},
      {"** CAN then x reaches the interpreter", std::string("**\x18x", 4), "**x"},
      {"a complete start pattern is shown while no receiver exists",
       std::string("**\x18"
                   "B",
                   4),
       "**B"},
      {"three stars before CAN",
       std::string("***\x18"
                   "B",
                   5),
       "***B"},
      {"a single star waits", "ab*", "ab"},
      {"two stars wait", "**", ""},
      {"** CAN waits", std::string("**\x18", 3), ""},
      {"* then text", "*x", "*x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DispatchRig rig;
    rig.feed(c.in);
    EXPECT_EQ(rig.row0(), c.shown);
  }
}

TEST(SessionDispatch, HeldBytesAppearAfterTheirTime) {
  DispatchRig rig;
  rig.feed("ok **");
  EXPECT_EQ(rig.row0(), "ok ");
  rig.wait(50);
  zmodem_flush_detect(&rig.s, 0);
  EXPECT_EQ(rig.row0(), "ok ");  // still young
  rig.wait(30);
  zmodem_flush_detect(&rig.s, 0);
  EXPECT_EQ(rig.row0(), "ok **");
  EXPECT_EQ(rig.s.zdetect_index, 0);
  zmodem_flush_detect(&rig.s, 1);  // nothing held: nothing more
  EXPECT_EQ(rig.row0(), "ok **");

  // Forcing releases at once; a running transfer holds nothing back.
  rig.feed("*");
  zmodem_flush_detect(&rig.s, 1);
  EXPECT_EQ(rig.row0(), "ok ***");
  rig.feed("**");
  rig.s.zmodem.active = 1;
  rig.wait(500);
  zmodem_flush_detect(&rig.s, 1);
  EXPECT_EQ(rig.row0(), "ok ***");
}

TEST(SessionDispatch, QuietTimeTransfersAndMissingTerminal) {
  DispatchRig rig;
  rig.s.discard_until_ms = rig.now + 1000;
  rig.feed("dropped");
  EXPECT_EQ(rig.row0(), "");
  rig.wait(1000);
  rig.feed("kept");
  EXPECT_EQ(rig.row0(), "kept");
  EXPECT_EQ(rig.s.discard_until_ms, 0u);

  rig.s.xmodem.active = 1;
  rig.feed("x");
  rig.s.xmodem.active = 0;
  rig.s.zmodem.active = 1;
  rig.feed("z");
  rig.s.zmodem.active = 0;
  EXPECT_EQ(rig.row0(), "kept");

  rig.s.terminal = nullptr;
  rig.feed(
      "**\x18"
      "Bnothing");  // no terminal: dropped, no crash
  rig.s.terminal = rig.t.get();
  EXPECT_EQ(rig.row0(), "kept");
}

TEST(SessionDispatch, TelnetPathDropsNulAndStripsCommands) {
  DispatchRig rig;
  SocketPair pair;
  rig.s.sock = pair.ours;
  std::string in = bytes({'A', 0, 255, 255, 255, 241, 'B', '\r', 0});
  for (unsigned char c : in) telnet_consume_byte(&rig.s, c);
  EXPECT_EQ(rig.t->cells[0][0].ch, 'A');
  EXPECT_EQ(rig.t->cells[0][1].ch, 255);
  EXPECT_EQ(rig.t->cells[0][2].ch, 'B');
  EXPECT_EQ(rig.t->col, 0);  // the CR arrived, the NUL after it did not
}

TEST(SessionDispatch, EachSessionKindHasItsInterpreter) {
  // The same bytes mean different things to the two interpreters: 0x1C is a
  // colour code (red) on the C64 and a picture on the PC, 0x93 clears the
  // C64 screen and is a CP437 letter, ESC [ is a sequence only for ANSI.
  const std::string in = bytes({'x', 0x93, 0x1C, 'A', 0x12, 'B', 0x1B, '[', '2', 'C', 'D'});
  struct {
    const char* name;
    int petscii;
    std::string row0;      // characters of row 0 up to the cursor
    int fg_a, bg_b, fg_b;  // colours of the cells holding A and B
    const char* font;
  } cases[] = {
      {"PETSCII", 1, bytes({'A', 'B', '[', '2', 'C', 'D'}), 4, 4, 0, kFontC64UpGfx40},
      {"ANSI", 0, bytes({'x', 0x93, 0x1C, 'A', 0x12, 'B', ' ', ' ', 'D'}), 7, 0, 7, kFontCP437},
  };
  char saved_font[80];
  memcpy(saved_font, g_active_font, sizeof saved_font);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    set_active_font(c.font);
    DispatchRig rig;
    rig.s.petscii = c.petscii;
    rig.t->petscii = c.petscii ? TERM_MODE_PETSCII : TERM_MODE_ANSI;
    rig.t->cp437_font = c.petscii ? 0 : 1;
    rig.feed(in);
    std::string row;
    for (int col = 0; col < rig.t->col; col++) {
      uint8_t ch = rig.t->cells[0][col].ch;
      row.push_back(static_cast<char>(ch ? ch : ' '));
    }
    EXPECT_EQ(row, c.row0);
    size_t a = c.row0.find('A'), b = c.row0.find('B');
    EXPECT_EQ(rig.t->cells[0][a].fg, c.fg_a);
    EXPECT_EQ(rig.t->cells[0][b].bg, c.bg_b);  // reverse video on the C64
    EXPECT_EQ(rig.t->cells[0][b].fg, c.fg_b);
  }
  memcpy(g_active_font, saved_font, sizeof saved_font);
}

namespace {

// A BBS on a thread: negotiates, sends text, records what the client
// answered, then ends the session the way the test asks.
struct ThreadBbs {
  int listen_fd = -1;
  int port = 0;
  std::string received;
  std::thread th;

  ThreadBbs() {
    listen_fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listen_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    listen(listen_fd, 1);
    socklen_t len = sizeof sa;
    getsockname(listen_fd, reinterpret_cast<sockaddr*>(&sa), &len);
    port = ntohs(sa.sin_port);
  }
  ~ThreadBbs() {
    if (th.joinable()) th.join();
    close(listen_fd);
  }
  // Sends the script, collects replies for a while, then calls finish.
  template <typename Finish>
  void serve(std::string script, int collect_ms, Finish finish) {
    th = std::thread([this, script, collect_ms, finish] {
      int fd = accept(listen_fd, nullptr, nullptr);
      if (fd < 0) return;
      send(fd, script.data(), script.size(), MSG_NOSIGNAL);
      auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(collect_ms);
      while (std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 20) > 0) {
          char buf[512];
          ssize_t n = recv(fd, buf, sizeof buf, 0);
          if (n <= 0) break;
          received.append(buf, static_cast<size_t>(n));
        }
      }
      finish(fd);
    });
  }
};

}  // namespace

TEST(SessionRun, NegotiatesAndEndsOnCtrlC) {
  ThreadBbs bbs;
  bbs.serve(bytes({255, 253, 24, 255, 253, 31, 255, 250, 24, 1, 255, 240}) + "Welcome\r\n", 400,
            [](int fd) {
              dos_raise_break();  // Ctrl-C in the terminal kavel runs in
              usleep(200000);
              close(fd);
            });
  int r = run_session_common("127.0.0.1", bbs.port, kEmulationAnsi, nullptr, "CP437", nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  bbs.th.join();
  EXPECT_EQ(r, 0);
  std::string expected_start = bytes({255, 251, 3, 255, 253, 3, 255, 251, 0, 255, 253, 0});
  EXPECT_EQ(bbs.received.substr(0, expected_start.size()), expected_start);
  EXPECT_NE(bbs.received.find(bytes({255, 251, 24})), std::string::npos);
  EXPECT_NE(bbs.received.find(bytes({255, 250, 31, 0, 80, 0, 25, 255, 240})), std::string::npos);
  EXPECT_NE(bbs.received.find(bytes({255, 250, 24, 0, 'A', 'N', 'S', 'I', 255, 240})),
            std::string::npos);
}

TEST(SessionRun, ConnectFailuresAreReturned) {
  int port;
  {
    ThreadBbs unused;  // a port that was free a moment ago
    port = unused.port;
  }
  EXPECT_EQ(run_session_common("127.0.0.1", port, kEmulationAnsi, nullptr, "CP437", nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            -1);
  std::string huge(5000, 'x');
  EXPECT_EQ(run_session_common(huge.c_str(), 23, kEmulationAnsi, nullptr, "", nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr),
            -1);
}

TEST(SessionRun, C64SessionsAnswerAsACommodore) {
  // Type 5 or a C64 font makes a PETSCII session: its terminal names, and a
  // window width of the font's visible columns.
  struct {
    int type;
    const char* font;
    std::string names;  // the three answers, in order
    int width;
  } cases[] = {
      {kEmulationPetscii, "C64 Up/GFX [40]", "PETSCII C64 COMMODORE", 40},
      {kEmulationPetscii, "c64 low/up 80col", "PETSCII C64 COMMODORE", 80},
      {kEmulationAnsi, "C64 Low/Up [40]", "PETSCII C64 COMMODORE", 40},
      {kEmulationAnsi, "CP437", "ANSI ANSI-BBS VT100", 80},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.font);
    set_active_font("Topaz (Amiga)");
    ThreadBbs bbs;
    const std::string ask = bytes({255, 250, 24, 1, 255, 240});
    bbs.serve(bytes({255, 253, 24, 255, 253, 31}) + ask + ask + ask + "READY\r", 400, [](int fd) {
      dos_raise_break();
      usleep(100000);
      close(fd);
    });
    int r = run_session_common("127.0.0.1", bbs.port, c.type, nullptr, c.font, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr);
    bbs.th.join();
    EXPECT_EQ(r, 0);
    std::string names;
    const std::string is = bytes({255, 250, 24, 0});
    for (size_t p = bbs.received.find(is); p != std::string::npos;
         p = bbs.received.find(is, p + 1)) {
      size_t end = bbs.received.find(bytes({255, 240}), p);
      if (!names.empty()) names += " ";
      names += bbs.received.substr(p + 4, end - p - 4);
    }
    EXPECT_EQ(names, c.names);
    EXPECT_NE(bbs.received.find(bytes({255, 250, 31, 0, c.width, 0, 25, 255, 240})),
              std::string::npos);
    // The font that was active before the session is active again.
    EXPECT_STREQ(g_active_font, "Topaz (Amiga)");
  }
  set_active_font("CP437");
}
