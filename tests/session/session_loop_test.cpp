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
#include <vector>

#include "display/fonts.h"
#include "display/surface.h"
#include "link/connect.h"
#include "link/telnet.h"
#include "phonebook/phonebook.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "platform/dos.h"
#include "session/input.h"
#include "session/session.h"
#include "session/session_test_util.h"
#include "session/session_transfer.h"
#include "support/open_window.h"
#include "support/session_link.h"
#include "terminal/hooks.h"
#include "terminal/terminal.h"
#include "transfer/dialogs.h"
#include "util/text.h"

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
      {"a complete start pattern starts the receiver and shows nothing",
       std::string("**\x18"
                   "B",
                   4),
       ""},
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
  session_transfer_flush_detect(&rig.s, 0);
  EXPECT_EQ(rig.row0(), "ok ");  // still young
  rig.wait(30);
  session_transfer_flush_detect(&rig.s, 0);
  EXPECT_EQ(rig.row0(), "ok **");
  EXPECT_EQ(rig.s.zm.zmodem.detect_index, 0);
  session_transfer_flush_detect(&rig.s, 1);  // nothing held: nothing more
  EXPECT_EQ(rig.row0(), "ok **");

  // Forcing releases at once; a running transfer holds nothing back.
  rig.feed("*");
  session_transfer_flush_detect(&rig.s, 1);
  EXPECT_EQ(rig.row0(), "ok ***");
  rig.feed("**");
  rig.s.zm.zmodem.active = 1;
  rig.wait(500);
  session_transfer_flush_detect(&rig.s, 1);
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

  rig.s.xm.xmodem.active = 1;
  rig.feed("x");
  rig.s.xm.xmodem.active = 0;
  rig.s.zm.zmodem.active = 1;
  rig.feed("z");
  rig.s.zm.zmodem.active = 0;
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
  test_session_on_socket(&rig.s, pair.ours);
  std::string in = bytes({'A', 0, 255, 255, 255, 241, 'B', '\r', 0});
  for (unsigned char c : in) session_receive_byte(&rig.s, c);
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
  active_font_restore(saved_font);
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

// A direct session (no menu, no phonebook) to host:port.
int run_direct(const char* host, int port, int emulation, const char* font) {
  const SessionRequest req{.host = host, .port = port, .emulation = emulation, .font = font};
  return run_session_common(&req);
}

}  // namespace

TEST(SessionRun, NegotiatesAndEndsOnCtrlC) {
  ThreadBbs bbs;
  bbs.serve(bytes({255, 253, 24, 255, 253, 31, 255, 250, 24, 1, 255, 240}) + "Welcome\r\n", 400,
            [](int fd) {
              dos_raise_break();  // Ctrl-C in the terminal kavel runs in
              usleep(200000);
              close(fd);
            });
  int r = run_direct("127.0.0.1", bbs.port, kEmulationAnsi, "CP437");
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
  EXPECT_EQ(run_direct("127.0.0.1", port, kEmulationAnsi, "CP437"), -1);
  std::string huge(5000, 'x');
  EXPECT_EQ(run_direct(huge.c_str(), 23, kEmulationAnsi, ""), -1);
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
    int r = run_direct("127.0.0.1", bbs.port, c.type, c.font);
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

namespace {

// A session bound, as a direct session binds it, to a terminal in a headless
// window, with the BBS end of its socket in the test's hands.
struct LoopRig {
  SocketPair pair;
  Session s;
  std::unique_ptr<Terminal> t = std::make_unique<Terminal>();
  std::unique_ptr<uint8_t[]> buf = std::make_unique<uint8_t[]>(kRecvChunkTransfer);
  bool open = false;

  explicit LoopRig(const PhoneEntry* entry = nullptr, const char* host = "bbs.example") {
    session_input_reset();
    session_init(&s);
    test_session_on_socket(&s, pair.ours);
    term_init_record(t.get());
    open = test_term_open(t.get(), "Kavel - bbs.example:23") == 0;
    if (open) session_bind_terminal(&s, t.get(), entry, host);
  }
  ~LoopRig() {
    session_release_terminal(&s);
    session_input_reset();
  }
  void inject(const std::vector<PlatEvent>& events) {
    for (const auto& e : events) plat_inject_event(t->window, e);
  }
  std::string row(int r) const {
    std::string out;
    for (int c = 0; c < kTermCols; c++) {
      uint8_t ch = t->cells[r][c].ch;
      out.push_back(static_cast<char>(ch ? ch : ' '));
    }
    return out.substr(0, out.find_last_not_of(' ') + 1);
  }
  // Whether bytes the BBS sent are still waiting, unread, in the socket.
  bool unread_data() const {
    char c;
    return recv(pair.ours, &c, 1, MSG_PEEK) > 0;
  }
};

PlatEvent key(uint32_t cls, int code, uint16_t qualifier = 0) {
  PlatEvent e;
  e.cls = cls;
  e.code = static_cast<uint16_t>(code);
  e.qualifier = qualifier;
  return e;
}

}  // namespace

TEST(SessionLoop, EndsTheWayTheSessionWasEnded) {
  // Only a close the loop reads itself counts as the peer hanging up (and so
  // brings up the "Disconnected" notice); a session the user or a failed key
  // send ended leaves the socket unread.
  struct {
    const char* name;
    std::vector<PlatEvent> events;
    std::string bbs_text;
    bool bbs_closes;
    bool ctrl_c;
    int closed_by_peer;
    bool text_shown;
  } cases[] = {
      {"the BBS closes after its text", {}, "bye", true, false, 1, true},
      {"Ctrl-C in the console", {}, "late", false, true, 0, false},
      {"Ctrl-] with the BBS gone as well",
       {key(PLAT_EV_VANILLAKEY, 29)},
       "late",
       true,
       false,
       0,
       false},
      {"a key that cannot be sent to a BBS that is gone",
       {key(PLAT_EV_VANILLAKEY, 'a')},
       "",
       true,
       false,
       0,
       false},
      {"the window's close request", {key(PLAT_EV_CLOSE, 0)}, "late", false, false, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LoopRig rig;
    ASSERT_TRUE(rig.open);
    if (!c.bbs_text.empty()) {
      ASSERT_EQ(write(rig.pair.peer, c.bbs_text.data(), c.bbs_text.size()),
                static_cast<ssize_t>(c.bbs_text.size()));
    }
    if (c.bbs_closes) {
      close(rig.pair.peer);
      rig.pair.peer = -1;
    }
    rig.inject(c.events);
    if (c.ctrl_c) dos_raise_break();
    EXPECT_EQ(session_main_loop(&rig.s, nullptr, "Kavel - test", rig.buf.get()), c.closed_by_peer);
    EXPECT_EQ(rig.row(0), c.text_shown ? c.bbs_text : "");
    EXPECT_EQ(rig.unread_data(), !c.text_shown && !c.bbs_text.empty());
    EXPECT_EQ(dos_check_break(), 0);  // the break was taken, not left for later
  }
}

namespace {

// A link whose two ends are in-memory queues: the loop must need nothing of
// a socket.  The BBS's bytes come in pieces of at most 7; once they are all
// read, a hang-up reads as the link gone.
struct FakeLink {
  std::string in;
  std::string out;
  bool hung_up = false;
};

FakeLink* fake_of(Link* l) {
  return static_cast<FakeLink*>(l->impl);
}
int fake_read(Link* l, uint8_t* buf, int cap) {
  FakeLink* f = fake_of(l);
  if (f->in.empty()) return f->hung_up ? -1 : 0;
  int n = std::min({cap, 7, static_cast<int>(f->in.size())});
  memcpy(buf, f->in.data(), static_cast<size_t>(n));
  f->in.erase(0, static_cast<size_t>(n));
  return n;
}
int fake_send(Link* l, const uint8_t* bytes, size_t len, uint32_t) {
  fake_of(l)->out.append(reinterpret_cast<const char*>(bytes), len);
  return 0;
}
int fake_pending(Link* l) {
  return fake_of(l)->in.empty() ? 0 : 1;
}
short fake_wait_events(Link*) {
  return POLLIN;
}
void fake_close(Link* l) {
  l->impl = nullptr;
}
constexpr LinkOps kFakeLinkOps = {fake_read,        fake_send, fake_pending,
                                  fake_wait_events, nullptr,   fake_close};

}  // namespace

TEST(SessionLoop, RunsOverAnyLink) {
  // Bytes in reach the terminal through Telnet where the kind speaks it,
  // unchanged where it does not; a typed key goes out; the link's end ends
  // the session as the BBS's hang-up (the "Disconnected" notice follows).
  const std::string negotiation = bytes({255, 253, 24});
  struct {
    LinkKind kind;
    std::string shown;
    std::string sent;
  } cases[] = {
      {LINK_TELNET, "Hello", "x" + bytes({255, 251, 24})},
      {LINK_SSH, negotiation + "Hello", "x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(link_kind_label(c.kind));
    FakeLink f;
    f.in = negotiation + "Hello";
    f.hung_up = true;
    Link link;
    link.ops = &kFakeLinkOps;
    link.kind = c.kind;
    link.impl = &f;
    LoopRig rig;
    ASSERT_TRUE(rig.open);
    session_attach_link(&rig.s, &link);
    rig.inject({key(PLAT_EV_VANILLAKEY, 'x')});
    EXPECT_EQ(session_main_loop(&rig.s, nullptr, "Kavel - test", rig.buf.get()), 1);
    EXPECT_EQ(f.out, c.sent);
    EXPECT_TRUE(f.in.empty());
    EXPECT_EQ(rig.row(0), c.shown);
  }
}

namespace {

// A mode that records what the loop gives it; 'q' in its window ends it.
struct FakeMode {
  PlatWindow* window = nullptr;
  std::string keys;
  int turns = 0;
  int closes = 0;
};
FakeMode* mode_of(void* ctx) {
  return static_cast<FakeMode*>(ctx);
}
bool mode_done(void* ctx) {
  return !mode_of(ctx)->keys.empty() && mode_of(ctx)->keys.back() == 'q';
}
constexpr SessionModeOps kFakeModeOps = {
    [](void* ctx) { mode_of(ctx)->turns++; }, [](void* ctx) { return mode_of(ctx)->window; },
    [](void* ctx, const PlatEvent& ev) {
      mode_of(ctx)->keys.push_back(static_cast<char>(ev.code));
      return mode_done(ctx) ? 1 : 0;
    },
    [](void* ctx) { return mode_done(ctx) ? 1 : 0; },
    [](void* ctx, SessionLoop*) { return ++mode_of(ctx)->closes, 0; }};

}  // namespace

TEST(SessionLoop, TheModeInFrontGetsItsWindowsEventsUntilItIsDone) {
  // The loop hands the mode its window's events (what follows its end stays
  // queued) and still reads the link into the covered grid; it closes the
  // mode once, when the mode is done or when the session ends.
  for (bool bbs_hangs_up : {false, true}) {
    SCOPED_TRACE(bbs_hangs_up ? "the BBS hangs up" : "the mode ends itself");
    LoopRig rig;
    ASSERT_TRUE(rig.open);
    PlatWindowSpec spec;
    FakeMode m;
    m.window = plat_open_window(spec);
    ASSERT_NE(m.window, nullptr);
    SessionLoop loop;
    session_loop_init(&loop, &rig.s, nullptr, "Kavel - test", rig.buf.get());
    loop.mode = SessionMode{&kFakeModeOps, &m, 1};
    for (char c : std::string(bbs_hangs_up ? "ab" : "abqz"))
      plat_inject_event(m.window, key(PLAT_EV_VANILLAKEY, c));
    ASSERT_EQ(write(rig.pair.peer, "Hi", 2), 2);
    if (bbs_hangs_up) {
      close(rig.pair.peer);
      rig.pair.peer = -1;
    }
    int turns = 0;
    while (session_pump_turn(&loop) && loop.mode.ops && ++turns < 50) {
    }
    EXPECT_EQ(m.keys, bbs_hangs_up ? "ab" : "abq");
    EXPECT_GE(m.turns, 1);
    EXPECT_EQ(m.closes, 1);
    EXPECT_EQ(loop.mode.ops, nullptr);
    EXPECT_EQ(loop.closed_by_peer, bbs_hangs_up ? 1 : 0);
    EXPECT_EQ(rig.row(0), "Hi");
    PlatEvent left;
    EXPECT_EQ(plat_get_event(m.window, &left) != 0, !bbs_hangs_up);
    plat_close_window(m.window);
  }
}

TEST(SessionLoop, DisconnectedNoticeWaitsForAPressAClickOrAClose) {
  // Each case queues the events that must not end the wait, then the one
  // that must, then a marker that has to be left in the queue.
  const PlatEvent marker = key(PLAT_EV_VANILLAKEY, 'z');
  const std::vector<PlatEvent> ignored = {key(PLAT_EV_RAWKEY, 0x45 | PLAT_KEY_UP),
                                          key(PLAT_EV_RAWKEY, 0x60 | PLAT_KEY_UP),
                                          key(PLAT_EV_MOUSEMOVE, 0), key(PLAT_EV_REFRESH, 0)};
  struct {
    const char* name;
    PlatEvent ends;
  } cases[] = {
      {"a translated key", key(PLAT_EV_VANILLAKEY, ' ')},
      {"a raw key press", key(PLAT_EV_RAWKEY, 0x4C)},
      {"Ctrl alone", key(PLAT_EV_RAWKEY, RAWKEY_CONTROL)},
      {"Caps Lock alone", key(PLAT_EV_RAWKEY, RAWKEY_CAPSLOCK)},
      {"a select-button press", key(PLAT_EV_MOUSEBUTTON, PLAT_SELECTDOWN)},
      {"a select-button release", key(PLAT_EV_MOUSEBUTTON, PLAT_SELECTUP)},
      {"the other button", key(PLAT_EV_MOUSEBUTTON, PLAT_MENUDOWN)},
      {"a close request", key(PLAT_EV_CLOSE, 0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LoopRig rig;
    ASSERT_TRUE(rig.open);
    for (unsigned char ch : std::string("BBS text")) session_data_byte(&rig.s, ch);
    rig.inject(ignored);
    rig.inject({c.ends, marker});
    session_wait_disconnected_notice(rig.t.get());

    PlatEvent next;
    ASSERT_EQ(plat_get_event(rig.t->window, &next), 1);
    EXPECT_EQ(next.cls, marker.cls);
    EXPECT_EQ(next.code, marker.code);
    // The refresh redrew the grid and then the notice over it.
    int x, y, w, h;
    term_disconnected_box_rect(rig.t.get(), &x, &y, &w, &h);
    const uint8_t* px = plat_window_pixels(rig.t->window);
    int stride = plat_window_inner_width(rig.t->window);
    EXPECT_EQ(px[(y + h / 2) * stride + x + 3], rig.t->pens[7]);  // box face
    EXPECT_EQ(rig.row(0), "BBS text");
    EXPECT_EQ(rig.t->cursor_drawn, 0);
  }
}

TEST(SessionLoop, BindingGivesTheTerminalTheSessionsSettings) {
  PhoneEntry named{};
  safe_copy(named.name, sizeof named.name, "The Named Board");
  PhoneEntry unnamed{};
  PhoneEntry long_name{};
  memset(long_name.name, 'N', sizeof long_name.name - 1);
  struct {
    const char* name;
    const PhoneEntry* entry;
    std::string shown;  // in the status bar
  } cases[] = {
      {"an entry's name", &named, "The Named Board"},
      {"an entry without a name shows the host", &unnamed, "bbs.example"},
      {"no entry shows the host", nullptr, "bbs.example"},
      {"at most 79 characters", &long_name, std::string(79, 'N')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LoopRig rig(c.entry);
    ASSERT_TRUE(rig.open);
    Terminal* t = rig.t.get();
    EXPECT_EQ(std::string(t->status_text), c.shown);
    EXPECT_EQ(rig.s.terminal, t);
    EXPECT_EQ(t->reply_socket, rig.pair.ours);
    EXPECT_GT(t->connect_start, 0);
    // The session shows its cursor (a fresh terminal has it off).
    EXPECT_EQ(t->cursor_enabled, 1);
    EXPECT_EQ(t->cursor_drawn, 1);
    // Lines that scroll off the grid go to the session's own ring.
    ASSERT_EQ(t->scrollback, &rig.s.scrollback);
    ASSERT_NE(rig.s.scrollback.lines, nullptr);
    for (int i = 0; i < 30; i++) {
      std::string line = "line " + std::to_string(i) + "\r\n";
      for (unsigned char ch : line) session_data_byte(&rig.s, ch);
    }
    EXPECT_EQ(rig.s.scrollback.count, 6);
    EXPECT_STREQ(rig.s.scrollback.lines[rig.s.scrollback.start], "line 0");

    g_key_filter.shift_down = 1;
    session_release_terminal(&rig.s);
    EXPECT_EQ(rig.s.terminal, nullptr);
    EXPECT_EQ(rig.s.scrollback.lines, nullptr);
    EXPECT_EQ(t->scrollback, nullptr);
    EXPECT_EQ(t->window, nullptr);
    EXPECT_EQ(g_key_filter.shift_down, 0);
  }
}

TEST(SessionRun, HeldKeysFromBeforeTheSessionStayHeld) {
  // Alt-Enter went down on the dialing display and is still held: its key
  // repeat must not switch the new session's window.
  session_input_reset();
  clock_test_set_ms(777000);
  ASSERT_EQ(alt_enter_accept_press(), 1);
  ThreadBbs bbs;
  bbs.serve("hello\r\n", 100, [](int fd) {
    dos_raise_break();
    usleep(100000);
    close(fd);
  });
  EXPECT_EQ(run_direct("127.0.0.1", bbs.port, kEmulationAnsi, "CP437"), 0);
  bbs.th.join();
  clock_test_set_ms(777100);  // past the 80 ms of a new press, within the held 140
  EXPECT_EQ(alt_enter_accept_press(), 0);
  EXPECT_EQ(g_key_filter.alt_enter_down, 1);
  clock_test_reset();
  session_input_reset();
}

TEST(SessionRun, TerminalRepliesGoOutThroughTheTelnetSender) {
  LoopRig rig;
  ASSERT_TRUE(rig.open);
  rig.pair.drain_peer();
  for (unsigned char c : std::string("\x1b[3;7H\x1b[6n\x05")) session_data_byte(&rig.s, c);
  EXPECT_EQ(rig.pair.drain_peer(), "\x1b[3;7RANSI\r");
  // The session's reply hook doubles 255 like every other data byte.
  ASSERT_NE(g_term_hooks.reply, nullptr);
  g_term_hooks.reply(rig.t.get(), "a\xff", 2);
  EXPECT_EQ(rig.pair.drain_peer(), "a\xff\xff");
}
