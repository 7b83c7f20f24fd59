// Alt+V: the clipboard's text to the BBS with its line-end rules, control
// bytes dropped and 255 doubled, in the character set on screen; bad
// clipboards (huge, not text, invalid UTF-8, NUL bytes) send nothing the
// rules forbid.
#include "session/clipboard_keys.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "link/connect.h"
#include "platform/clipboard.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "scrollback/viewer.h"
#include "session/input.h"
#include "session/session.h"
#include "session/session_loop.h"
#include "session_test_util.h"
#include "support/session_link.h"
#include "terminal/terminal.h"

namespace {

std::string bytes_of(const std::vector<uint8_t>& v) {
  return std::string(v.begin(), v.end());
}

TEST(PasteBytes, Rules) {
  struct Case {
    const char* name;
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"Windows line ends give one CR per line", "a\r\nb\r\n", "a\rb\r"},
      {"Unix line ends give one CR per line", "a\nb\n", "a\rb\r"},
      {"a lone CR stays", "a\rb", "a\rb"},
      {"CR CR LF is two line ends", "a\r\r\nb", "a\r\rb"},
      {"LF LF is two line ends", "a\n\nb", "a\r\rb"},
      {"tab is sent", "a\tb", "a\tb"},
      {"255 is doubled", std::string("x\xffy"), std::string("x\xff\xffy")},
      {"bytes 128..254 pass", std::string("\x80\xc9\xfe"), std::string("\x80\xc9\xfe")},
      {"control bytes and DEL are dropped", std::string("a\x01\x08\x0b\x0c\x1b\x7f", 7) + "b",
       "ab"},
      {"NUL bytes are dropped", std::string("a\0b", 3), "ab"},
  };
  for (const Case& c : cases) EXPECT_EQ(bytes_of(session_paste_bytes(c.in)), c.out) << c.name;
}

class Paste : public ::testing::Test {
 public:
  void SetUp() override {
    session_init(&s);
    term_init_record(term.get());
    s.terminal = term.get();
    test_session_on_socket(&s, pair.ours);
    plat_headless_set_clipboard_available(true);
    plat_clipboard_set_charset(CHARSET_CP437);
  }
  void TearDown() override {
    plat_headless_clipboard_set_nontext();
    plat_clipboard_set_charset(CHARSET_CP437);
  }
  void copy(const std::string& utf8) { plat_headless_clipboard_set_text(utf8.data(), utf8.size()); }

  SocketPair pair;
  Session s{};
  std::unique_ptr<Terminal> term = std::make_unique<Terminal>();
};

TEST_F(Paste, DesktopTextReachesTheBbsAsCp437) {
  struct Case {
    const char* name;
    std::string utf8;
    std::string sent;
  };
  const Case cases[] = {
      {"plain lines", "dir\r\nhelp\n", "dir\rhelp\r"},
      {"accents and box drawing", "Café ╔═╗ ░", "Caf\x82 \xc9\xcd\xbb \xb0"},
      {"a character CP437 lacks is a question mark", "5 €", "5 ?"},
      {"no-break space is 255 and goes doubled", "a\u00a0b",
       "a\xff\xff"
       "b"},
      {"invalid UTF-8 bytes are question marks",
       "a\xff\xfe"
       "b",
       "a??b"},
      {"NUL bytes and control characters are left out",
       std::string("a\0b\x01"
                   "c",
                   5),
       "abc"},
  };
  for (const Case& c : cases) {
    copy(c.utf8);
    EXPECT_EQ(session_paste_clipboard(&s), 0) << c.name;
    EXPECT_EQ(pair.drain_peer(), c.sent) << c.name;
  }
}

TEST_F(Paste, PetsciiSessionsPasteInTheSetOnScreen) {
  s.petscii = 1;
  term->petscii_lower = 1;
  copy("Hello 1!");
  EXPECT_EQ(session_paste_clipboard(&s), 0);
  EXPECT_EQ(pair.drain_peer(), "\xc8\x45\x4c\x4c\x4f 1!");
  EXPECT_EQ(plat_clipboard_charset(), CHARSET_C64_LOWER);
  term->petscii_lower = 0;
  copy("Hello");
  EXPECT_EQ(session_paste_clipboard(&s), 0);
  EXPECT_EQ(pair.drain_peer(), "HELLO");
  EXPECT_EQ(plat_clipboard_charset(), CHARSET_C64_UPPER);
}

TEST_F(Paste, NothingIsSentWhenThereIsNothingToSend) {
  struct Case {
    const char* name;
    void (*setup)(Paste*);
    int result;
  };
  const Case cases[] = {
      {"an image", [](Paste*) { plat_headless_clipboard_set_nontext(); }, 0},
      {"empty text", [](Paste* p) { p->copy(""); }, 0},
      {"no clipboard at all",
       [](Paste* p) {
         p->copy("text");
         plat_headless_set_clipboard_available(false);
       },
       0},
      {"a transfer is running",
       [](Paste* p) {
         p->copy("text");
         p->s.zm.zmodem.active = 1;
       },
       0},
      {"ten megabytes: more than a paste reads, so no text",
       [](Paste* p) { p->copy(std::string(10 << 20, 'x')); }, 0},
      {"no terminal",
       [](Paste* p) {
         p->copy("text");
         p->s.terminal = nullptr;
       },
       -1},
  };
  for (const Case& c : cases) {
    c.setup(this);
    EXPECT_EQ(session_paste_clipboard(&s), c.result) << c.name;
    EXPECT_EQ(pair.drain_peer(), "") << c.name;
    plat_headless_set_clipboard_available(true);
    s.zm.zmodem.active = 0;
    s.terminal = term.get();
  }
}

TEST_F(Paste, AFailedSendEndsThePaste) {
  copy("hello");
  close(pair.peer);
  pair.peer = -1;
  EXPECT_EQ(session_paste_clipboard(&s), -1);
}

// In a running session a paste goes a line at a time, each once the BBS has
// had its moment to answer the last.  A line may be the BBS's download key:
// once the transfer starts, the rest of the paste is dropped, so it never
// reaches the sender as data.
TEST_F(Paste, InASessionALineAtATimeAndNothingOnceATransferStarts) {
  std::vector<uint8_t> buf(kRecvChunkTransfer);
  SessionLoop loop;
  session_loop_init(&loop, &s, nullptr, "Kavel - test", buf.data());
  auto turns_for = [&](uint32_t ms) {
    for (uint32_t start = clock_ms(); clock_ms() - start < ms;) session_pump_turn(&loop);
  };
  copy("help\ndl\nrest of the paste\nmore\n");
  ASSERT_EQ(session_paste_clipboard(&s), 0);
  EXPECT_EQ(pair.drain_peer(), "help\r");
  session_pump_turn(&loop);
  EXPECT_EQ(pair.drain_peer(), "") << "the next line waits for the BBS's answer";
  turns_for(kPasteQuietMs + 50);
  EXPECT_EQ(pair.drain_peer(), "dl\r");
  // The BBS starts its sender: ZRQINIT.  Only our ZRINIT answers it.
  const std::string zrqinit = std::string("**\x18") + "B00000000000000\r\n\x11";
  ASSERT_EQ(write(pair.peer, zrqinit.data(), zrqinit.size()), static_cast<ssize_t>(zrqinit.size()));
  turns_for(kPasteLineMs + 200);
  EXPECT_TRUE(s.zm.zmodem.active);
  std::string after = pair.drain_peer();
  EXPECT_EQ(after.substr(0, 6), zrqinit.substr(0, 4) + "01") << after;
  EXPECT_EQ(after.find("rest"), std::string::npos) << after;
  EXPECT_FALSE(session_paste_pending(&s));
  zmodem_finish(&s.zm.zmodem, "ZMODEM cancelled");
  session_paste_cancel(&s);
  s.loop = nullptr;
}

TEST(PasteSpeed, SixtyFourKibibytesGoOutInAFewSends) {
  SeqPacketPair pair;
  Session s{};
  session_init(&s);
  auto term = std::make_unique<Terminal>();
  term_init_record(term.get());
  s.terminal = term.get();
  test_session_on_socket(&s, pair.ours);
  plat_headless_set_clipboard_available(true);
  plat_clipboard_set_charset(CHARSET_CP437);
  std::string text;
  while (text.size() < 64 * 1024)
    text += "The quick brown fox jumps over the lazy dog 0123456789\n";
  text.resize(64 * 1024);
  plat_headless_clipboard_set_text(text.data(), text.size());
  std::string received;
  int sends = 0;
  auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(session_paste_clipboard(&s), 0);
  auto ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  char buf[8192];
  for (;;) {
    ssize_t n = read(pair.peer, buf, sizeof buf);
    if (n <= 0) break;
    received.append(buf, static_cast<size_t>(n));
    sends++;
  }
  std::string expected = text;
  for (char& c : expected)
    if (c == '\n') c = '\r';
  EXPECT_EQ(received, expected);
  EXPECT_EQ(sends, 16);
  printf("paste of 64 KiB: %.2f ms in %d sends\n", ms, sends);
  plat_headless_clipboard_set_nontext();
}

}  // namespace

// ------------------------------------------------- through the hotkey table --

namespace hotkeys {

PlatEvent key(uint32_t cls, uint16_t code, uint16_t qual) {
  return PlatEvent{cls, code, qual, 0, 0};
}

// A session with a terminal in a headless window; its socket's peer end is
// readable by the test.
struct Rig {
  SocketPair pair;
  Session s{};
  std::unique_ptr<Terminal> t = std::make_unique<Terminal>();
  int running = 1;
  Rig() {
    session_input_reset();
    session_init(&s);
    test_session_on_socket(&s, pair.ours);
    term_init_record(t.get());
    PlatWindowSpec spec;
    spec.inner_width = 640;
    spec.inner_height = 400;
    t->window = plat_open_window(spec);
    t->rport = t->window;
    s.terminal = t.get();
  }
  ~Rig() {
    plat_close_window(t->window);
    session_input_reset();
  }
  std::string press(const PlatEvent& ev) {
    plat_inject_event(t->window, ev);
    session_handle_window_messages(&s, &running);
    return pair.drain_peer();
  }
};

int g_viewer_opened = 0;
std::string g_viewer_title;

TEST(ClipboardHotkeys, AltVPastesAndAltBOpensTheViewer) {
  plat_headless_set_clipboard_available(true);
  plat_headless_clipboard_set_text("ls -l\n", 6);
  const uint16_t alt = PLAT_QUAL_LALT;
  for (const PlatEvent& ev : {key(PLAT_EV_VANILLAKEY, 'v', alt), key(PLAT_EV_RAWKEY, 0x34, alt)}) {
    Rig rig;
    EXPECT_EQ(rig.press(ev), "ls -l\r");
    EXPECT_EQ(rig.running, 1);
  }
  // The viewer opens in its own window; Escape there closes it and the
  // session goes on.
  g_scrollback_viewer_opened = [](ScrollbackViewer* v) {
    g_viewer_opened++;
    g_viewer_title = plat_window_title(v->window);
    plat_inject_event(v->window, PlatEvent{PLAT_EV_VANILLAKEY, 27, 0, 0, 0});
  };
  for (const PlatEvent& ev : {key(PLAT_EV_VANILLAKEY, 'b', alt), key(PLAT_EV_RAWKEY, 0x35, alt)}) {
    Rig rig;
    g_viewer_opened = 0;
    EXPECT_EQ(rig.press(ev), "");
    EXPECT_EQ(g_viewer_opened, 1);
    EXPECT_EQ(g_viewer_title, "Kavel Scrollback");
    EXPECT_EQ(rig.running, 1);
  }
  g_scrollback_viewer_opened = nullptr;
  plat_headless_clipboard_set_nontext();
}

}  // namespace hotkeys
