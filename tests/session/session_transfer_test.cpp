// ZMODEM through the session: the real loop turns, Telnet layer, dispatch
// and hooks against a second ZMODEM engine on the other end of a socket
// pair, plus the keys, menus and endings that belong to a session.
#include "session/session_transfer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "display/term_hooks.h"
#include "link/connect.h"
#include "phonebook/prefs.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "session/capture.h"
#include "session/input.h"
#include "session/session.h"
#include "session/session_loop.h"
#include "session/session_test_util.h"
#include "support/session_link.h"
#include "support/test_support.h"
#include "terminal/terminal.h"
#include "transfer/transfer_status.h"
#include "transfer/zmodem.h"

namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}

std::string special_data(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng() & 0xFF);
  // The bytes ZMODEM and Telnet treat specially, in runs.
  for (size_t i = 0; i + 64 < n; i += 997)
    s.replace(i, 8,
              "\xff\xff\x18\x18**\x18"
              "B");
  return s;
}

// The other side: a ZMODEM engine of its own, talking through the peer end
// of the socket pair.
struct Peer {
  ZmodemState z{};
  int fd = -1;
  std::string outgoing;  // sent by the engine, not yet taken by the socket
  std::string dir;
  std::string seen;  // every byte the session sent

  explicit Peer(int sock) : fd(sock) {
    z.hooks.ctx = this;
    z.hooks.send = [](void* c, const uint8_t* b, size_t n) {
      static_cast<Peer*>(c)->outgoing.append(reinterpret_cast<const char*>(b), n);
      return 0;
    };
    z.hooks.now_ms = [](void*) { return clock_ms(); };
    z.hooks.download_dir = [](void* c) { return static_cast<Peer*>(c)->dir.c_str(); };
  }
  ~Peer() {
    if (z.file) fclose(z.file);
  }
  void step() {
    while (!outgoing.empty()) {
      ssize_t n = write(fd, outgoing.data(), outgoing.size());
      if (n <= 0) break;
      outgoing.erase(0, static_cast<size_t>(n));
    }
    uint8_t buf[8192];
    for (;;) {
      ssize_t n = read(fd, buf, sizeof buf);
      if (n <= 0) break;
      seen.append(reinterpret_cast<char*>(buf), static_cast<size_t>(n));
      zmodem_consume(&z, buf, static_cast<size_t>(n));
    }
    zmodem_poll(&z);
  }
};

// A session on the program's end of a socket pair, its terminal with or
// without a (headless) window, and its loop.
struct SessionRig {
  SocketPair pair;
  Session s;
  std::unique_ptr<Terminal> t = std::make_unique<Terminal>();
  std::vector<uint8_t> buf = std::vector<uint8_t>(kRecvChunkTransfer);
  SessionLoop loop;
  Peer peer{pair.peer};
  TempDir tmp;
  std::string dl = tmp.path() + "/dl";
  std::string up = tmp.path() + "/up";

  explicit SessionRig(bool window = false) {
    session_input_reset();
    transfer_prefs_set_defaults();
    mkdir(dl.c_str(), 0755);
    mkdir(up.c_str(), 0755);
    snprintf(g_download_path, sizeof g_download_path, "%s", dl.c_str());
    snprintf(g_upload_path, sizeof g_upload_path, "%s", up.c_str());
    peer.dir = tmp.path();
    session_init(&s);
    test_session_on_socket(&s, pair.ours);
    term_init_record(t.get());
    term_clear_screen(t.get());
    if (window) {
      display_install_term_hooks();  // the box is drawn through them
      PlatWindowSpec spec;
      spec.inner_width = 640;
      spec.inner_height = 400;
      t->window = plat_open_window(spec);
      t->rport = t->window;
      t->cell_w = 8;
      t->cell_h = 16;
      for (int i = 0; i < kTermPalette; i++) t->pens[i] = i;  // palette index = pen
    }
    s.terminal = t.get();
    session_loop_init(&loop, &s, nullptr, "Kavel - test", buf.data());
  }
  ~SessionRig() {
    // As the session's own end does: what a transfer still holds goes.
    session_transfer_end(&s, 1);
    if (s.zm.zmodem.file) fclose(s.zm.zmodem.file);
    if (t->window) plat_close_window(t->window);
    transfer_prefs_set_defaults();
  }
  // Session turns and peer steps until done() or the time runs out.
  template <typename Done>
  bool run(Done done, uint32_t ms = 10000) {
    uint32_t start = clock_ms();
    while (clock_ms() - start < ms) {
      if (!session_pump_turn(&loop)) return done();
      peer.step();
      if (done()) return true;
    }
    return false;
  }
  void inject(std::initializer_list<PlatEvent> events) {
    for (const auto& e : events) plat_inject_event(t->window, e);
  }
  std::string row(int r) const {
    std::string text;
    for (int c = 0; c < kTermCols && t->cells[r][c].ch; c++)
      text.push_back(static_cast<char>(t->cells[r][c].ch));
    return text.erase(text.find_last_not_of(' ') + 1);
  }
};

PlatEvent vanilla(uint16_t ch, uint16_t qualifier = 0) {
  return PlatEvent{PLAT_EV_VANILLAKEY, ch, qualifier, 0, 0};
}
PlatEvent raw(uint16_t code) {
  return PlatEvent{PLAT_EV_RAWKEY, code, 0, 0, 0};
}
constexpr uint16_t kAlt = 0x10;

bool ended(const ZmodemState& z) {
  return !z.active && z.ending != kZmodemRunning;
}

}  // namespace

TEST(SessionTransfer, DownloadsThroughTheSessionLoop) {
  struct Case {
    const char* name;
    size_t size;
  };
  for (Case c : {Case{"empty", 0}, Case{"one byte", 1}, Case{"one subpacket and one", 1025},
                 Case{"specials, 300 KiB", 300 * 1024}}) {
    SCOPED_TRACE(c.name);
    SessionRig rig;
    std::string data = special_data(c.size, static_cast<uint32_t>(c.size));
    write_file(rig.tmp.path() + "/offer.bin", data);
    ASSERT_EQ(zmodem_start_upload(&rig.peer.z, (rig.tmp.path() + "/offer.bin").c_str()), 0);
    ASSERT_TRUE(rig.run([&] { return ended(rig.s.zm.zmodem) && ended(rig.peer.z); }));
    EXPECT_STREQ(rig.s.zm.zmodem.status_text, "ZMODEM finished");
    EXPECT_STREQ(rig.peer.z.status_text, "Upload finished");
    EXPECT_EQ(read_file(rig.dl + "/offer.bin"), data);
    // The sender's wake-up text reaches the screen; the headers do not.
    EXPECT_EQ(rig.row(0), "rz");
    EXPECT_EQ(rig.peer.seen.find('\xff'), std::string::npos);
  }
}

TEST(SessionTransfer, UploadFromTheMenuThroughThePicker) {
  // The batch is picked after Alt+U or when the board's receiver asks first.
  for (int mode : {0, 1, 2}) {
    bool batch = mode > 0, receiver_first = mode == 2;
    SCOPED_TRACE(mode);
    SessionRig rig(true);
    std::string data = special_data(200 * 1024, 7), second = special_data(3000, 8);
    write_file(rig.up + "/mine.bin", data);
    write_file(rig.up + "/two.bin", second);
    // Alt+U, "Z-Modem", then in the picker past ".." to the file; for a
    // batch Space marks it and the next one.
    if (receiver_first) {
      const char zrqinit[] = "**\x18" "B00000000000000\r\n";  // wakes the peer as a receiver
      zmodem_consume(&rig.peer.z, reinterpret_cast<const uint8_t*>(zrqinit), sizeof zrqinit - 1);
      // Its ZRINIT reaches the session as data, and the picker opens then
      // (the loop's own turn would take the queued keys as typing first).
      rig.inject({raw(RAWKEY_DOWN), vanilla(' '), vanilla(' '), vanilla('\r')});
      std::string zrinit;
      zrinit.swap(rig.peer.outgoing);
      for (char c : zrinit) session_data_byte(&rig.s, static_cast<uint8_t>(c));
    } else {
      rig.inject({vanilla('u', kAlt), raw(RAWKEY_DOWN), vanilla('\r'), raw(RAWKEY_DOWN)});
    }
    if (!receiver_first) {
      if (batch) rig.inject({vanilla(' '), vanilla(' ')});
      rig.inject({vanilla('\r')});
    }
    ASSERT_TRUE(rig.run([&] { return ended(rig.s.zm.zmodem) && ended(rig.peer.z); }));
    EXPECT_STREQ(rig.s.zm.zmodem.status_text, "Upload finished");
    EXPECT_EQ(read_file(rig.tmp.path() + "/mine.bin"), data);
    EXPECT_EQ(read_file(rig.tmp.path() + "/two.bin"), batch ? second : "");
    char summary[224];
    ASSERT_EQ(zmodem_summary(&rig.s.zm.zmodem, summary, sizeof summary, nullptr), 1);
    EXPECT_STREQ(summary, batch ? "Sent 2 files" : "Sent mine.bin (200.0 KB)");
    if (batch) {
      EXPECT_EQ(rig.s.zm.zmodem.files_total, 2);
      EXPECT_EQ(rig.s.zm.zmodem.status.batch_total, data.size() + second.size());
      EXPECT_EQ(rig.s.zm.zmodem.status.batch_before, data.size());
    }
    if (!receiver_first) {
      EXPECT_EQ(rig.peer.seen.rfind("rz\r", 0), 0u);  // the receiver was woken first
    }
    EXPECT_EQ(rig.loop.running, 1);
  }
}

TEST(SessionTransfer, EscapeStopsAStreamingUpload) {
  SessionRig rig(true);
  std::string data = special_data(2 * 1024 * 1024, 3);
  write_file(rig.up + "/big.bin", data);
  ASSERT_EQ(zmodem_start_upload(&rig.s.zm.zmodem, (rig.up + "/big.bin").c_str()), 0);
  // Streaming is under way once the receiver asked for data.
  ASSERT_TRUE(rig.run([&] { return rig.s.zm.zmodem.byte_count > 40000; }));
  ASSERT_TRUE(rig.s.zm.zmodem.active);
  rig.inject({vanilla(27)});
  ASSERT_TRUE(session_pump_turn(&rig.loop));
  EXPECT_FALSE(rig.s.zm.zmodem.active);
  EXPECT_STREQ(rig.s.zm.zmodem.status_text, "Upload cancelled");
  std::string rest = rig.pair.drain_peer();
  ASSERT_GE(rest.size(), 16u);
  EXPECT_EQ(rest.substr(rest.size() - 16),
            std::string("\x18\x18\x18\x18\x18\x18\x18\x18\b\b\b\b\b\b\b\b"));
  // What the receiver still sends (its acknowledgements) starts nothing.
  rig.peer.step();
  session_pump_turn(&rig.loop);
  EXPECT_FALSE(rig.s.zm.zmodem.active);
  EXPECT_STREQ(rig.s.zm.zmodem.status_text, "Upload cancelled");
  // The session goes on: a key typed now reaches the BBS.
  rig.inject({vanilla('x')});
  session_pump_turn(&rig.loop);
  EXPECT_EQ(rig.pair.drain_peer(), "x");
}

TEST(SessionTransfer, SessionEndsDuringADownload) {
  struct Case {
    const char* name;
    bool peer_closes;  // else the window is closed
    const char* text;
  };
  for (Case c : {Case{"the peer closes", true, "ZMODEM interrupted by disconnect"},
                 Case{"the window is closed", false, "ZMODEM cancelled"}}) {
    SCOPED_TRACE(c.name);
    SessionRig rig(true);
    std::string data = special_data(3 * 1024 * 1024, 5);
    write_file(rig.tmp.path() + "/long.bin", data);
    ASSERT_EQ(zmodem_start_upload(&rig.peer.z, (rig.tmp.path() + "/long.bin").c_str()), 0);
    ASSERT_TRUE(rig.run([&] { return rig.s.zm.zmodem.byte_count > 100000; }));
    if (c.peer_closes) {
      rig.peer.step();
      shutdown(rig.pair.peer, SHUT_WR);
    } else {
      rig.inject({PlatEvent{PLAT_EV_CLOSE, 0, 0, 0, 0}});
    }
    while (session_pump_turn(&rig.loop)) {
    }
    EXPECT_EQ(rig.loop.closed_by_peer, c.peer_closes ? 1 : 0);
    session_transfer_end(&rig.s, rig.loop.closed_by_peer);
    EXPECT_STREQ(rig.s.zm.zmodem.status_text, c.text);
    EXPECT_EQ(rig.s.zm.zmodem.ending, kZmodemFailed);
    EXPECT_EQ(rig.s.zm.zmodem.file, nullptr);
    std::string partial = read_file(rig.dl + "/long.bin");
    EXPECT_GT(partial.size(), 0u);
    EXPECT_EQ(partial, data.substr(0, partial.size()));  // what was written is right
  }
}

TEST(SessionTransfer, AClosedLineAfterTheSendersZfinIsAFinishedDownload) {
  SessionRig rig;
  write_file(rig.tmp.path() + "/f.bin", "contents");
  ASSERT_EQ(zmodem_start_upload(&rig.peer.z, (rig.tmp.path() + "/f.bin").c_str()), 0);
  ASSERT_TRUE(rig.run([&] { return rig.s.zm.zmodem.zfin_seen != 0; }));
  ASSERT_TRUE(rig.s.zm.zmodem.active);  // waiting for "OO"
  session_transfer_end(&rig.s, 1);
  EXPECT_STREQ(rig.s.zm.zmodem.status_text, "ZMODEM finished");
  EXPECT_EQ(rig.s.zm.zmodem.ending, kZmodemSucceeded);
  EXPECT_EQ(read_file(rig.dl + "/f.bin"), "contents");
}

TEST(SessionTransfer, AQuestionUpKeepsTelnetButDropsData) {
  SessionRig rig(true);
  write_file(rig.dl + "/taken.bin", "old");
  // Alt+D, X-Modem, "Save as" a name that exists: the question is up and
  // the loop goes on.
  rig.inject({vanilla('d', kAlt), vanilla('\r')});
  for (char c : std::string("taken.bin\r")) rig.inject({vanilla(static_cast<uint8_t>(c))});
  session_pump_turn(&rig.loop);
  ASSERT_TRUE(rig.s.exists_prompt.up);
  std::string in = "dropped text" + bytes({255, 253, 24}) + "more";  // IAC DO TTYPE
  ASSERT_EQ(write(rig.pair.peer, in.data(), in.size()), static_cast<ssize_t>(in.size()));
  EXPECT_EQ(session_pump_turn(&rig.loop), 1);
  EXPECT_EQ(rig.row(0), "");                                // no data reached the terminal
  EXPECT_EQ(rig.pair.drain_peer(), bytes({255, 251, 24}));  // the option was still answered
  // Once answered (Cancel) the same input is shown.
  rig.inject({vanilla('c')});
  session_pump_turn(&rig.loop);
  EXPECT_FALSE(rig.s.exists_prompt.up);
  EXPECT_FALSE(rig.s.xm.xmodem.active);
  ASSERT_EQ(write(rig.pair.peer, "shown", 5), 5);
  session_pump_turn(&rig.loop);
  EXPECT_EQ(rig.row(0), "shown");
  EXPECT_EQ(read_file(rig.dl + "/taken.bin"), "old");
}

TEST(SessionTransfer, FileExistsQuestionAsksOverTheWindow) {
  struct Case {
    const char* name;
    std::vector<PlatEvent> keys;
    int answer;
    int can_resume;  // the file there is the start of the offered one
  };
  const Case cases[] = {
      {"o overwrites", {vanilla('o')}, kZmodemOverwrite, 0},
      {"Return takes RENAME, the first selection", {vanilla('\r')}, kZmodemRename, 0},
      {"left, Return: OVERWRITE", {raw(RAWKEY_LEFT), vanilla('\r')}, kZmodemOverwrite, 0},
      {"Escape skips", {vanilla(27)}, kZmodemSkip, 0},
      {"a close request skips", {PlatEvent{PLAT_EV_CLOSE, 0, 0, 0, 0}}, kZmodemSkip, 0},
      {"u resumes where offered", {vanilla('u')}, kZmodemResume, 1},
      {"left of RENAME is RESUME", {raw(RAWKEY_LEFT), vanilla('\r')}, kZmodemResume, 1},
      {"two left: OVERWRITE",
       {raw(RAWKEY_LEFT), raw(RAWKEY_LEFT), vanilla('\r')},
       kZmodemOverwrite,
       1},
      {"u is no answer without Resume", {vanilla('u'), vanilla('c')}, kZmodemSkip, 0},
      {"the session ends: skip", {}, kZmodemSkip, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SessionRig rig(true);
    const std::string data = special_data(200, 7);
    const std::string old = c.can_resume ? data.substr(0, 100) : std::string(300, 'o');
    write_file(rig.tmp.path() + "/report.txt", data);
    write_file(rig.dl + "/report.txt", old);
    ASSERT_EQ(zmodem_start_upload(&rig.peer.z, (rig.tmp.path() + "/report.txt").c_str()), 0);
    ASSERT_TRUE(rig.run([&] { return rig.s.zm.zmodem.exists_pending != 0; }));
    EXPECT_TRUE(rig.s.exists_prompt.up);
    EXPECT_EQ(rig.s.exists_prompt.can_resume, c.can_resume);
    EXPECT_EQ(rig.s.zm.zmodem.status.drawn, 0);  // the box is drawn whole afterwards
    if (c.keys.empty()) {
      session_transfer_end(&rig.s, 1);
    } else {
      for (const auto& e : c.keys) plat_inject_event(rig.t->window, e);
      ASSERT_TRUE(rig.run([&] { return ended(rig.s.zm.zmodem); }));
      EXPECT_EQ(rig.loop.running, 1);
    }
    EXPECT_FALSE(rig.s.exists_prompt.up);
    bool fresh = c.answer == kZmodemOverwrite || c.answer == kZmodemResume;
    EXPECT_EQ(read_file(rig.dl + "/report.txt"), fresh ? data : old);
    EXPECT_EQ(transfer_path_exists((rig.dl + "/report-1.txt").c_str()), c.answer == kZmodemRename);
    if (c.answer == kZmodemRename) {
      EXPECT_EQ(read_file(rig.dl + "/report-1.txt"), data);
    }
  }
  SessionRig windowless;
  ZmodemHooks& h = windowless.s.zm.zmodem.hooks;
  EXPECT_EQ(h.file_exists(h.ctx, "x"), kZmodemSkip);  // nobody to ask
}

TEST(SessionTransfer, MenusAndTheirLimits) {
  {
    SessionRig rig(true);
    // Alt+D, Escape in the chooser; Alt+D, "Z-Modem": nothing starts.
    rig.inject(
        {vanilla('d', kAlt), vanilla(27), vanilla('d', kAlt), raw(RAWKEY_DOWN), vanilla('\r')});
    session_handle_window_messages(&rig.s, &rig.loop.running);
    EXPECT_EQ(rig.loop.running, 1);
    EXPECT_FALSE(rig.s.zm.zmodem.active);
    EXPECT_EQ(rig.pair.drain_peer(), "");
    // "X-Modem" asks "Save as"; Escape there, and Return on an empty name,
    // start nothing.
    rig.inject({vanilla('d', kAlt), vanilla('\r'), vanilla(27), vanilla('d', kAlt), vanilla('\r'),
                vanilla('\r'), vanilla('k')});
    session_handle_window_messages(&rig.s, &rig.loop.running);
    EXPECT_FALSE(rig.s.xm.xmodem.active);
    EXPECT_EQ(rig.pair.drain_peer(), "k");
  }
  {
    SessionRig rig(true);
    // Alt+U, Z-Modem, Escape in the picker: nothing sent.
    rig.inject({vanilla('u', kAlt), raw(RAWKEY_DOWN), vanilla('\r'), vanilla(27), vanilla('k')});
    session_handle_window_messages(&rig.s, &rig.loop.running);
    EXPECT_FALSE(rig.s.zm.zmodem.active);
    EXPECT_EQ(rig.pair.drain_peer(), "k");
  }
  {
    SessionRig rig(true);
    // While a download runs, neither menu opens: the keys after them are
    // typed at the BBS, not eaten by a chooser.
    rig.s.zm.zmodem.active = 1;
    rig.inject({vanilla('u', kAlt), vanilla('d', kAlt), vanilla('k')});
    session_handle_window_messages(&rig.s, &rig.loop.running);
    EXPECT_EQ(rig.pair.drain_peer(), "k");
    rig.s.zm.zmodem.active = 0;
  }
  Session none;
  session_init(&none);
  EXPECT_EQ(session_open_download_menu(&none), -1);
  EXPECT_EQ(session_open_upload_menu(&none), -1);
}

TEST(SessionTransfer, TransferSendsDoubleIacAndReportFailure) {
  SessionRig rig;
  const uint8_t with_iac[] = {1, 0xFF, 2};
  EXPECT_EQ(session_transfer_send(&rig.s, with_iac, 3), 0);
  EXPECT_EQ(rig.pair.drain_peer(), bytes({1, 255, 255, 2}));
  std::string big(10000, '\xff');
  EXPECT_EQ(session_transfer_send(&rig.s, reinterpret_cast<const uint8_t*>(big.data()), big.size()),
            0);
  EXPECT_EQ(rig.pair.drain_peer(), std::string(20000, '\xff'));
  close(rig.pair.peer);
  rig.pair.peer = -1;
  EXPECT_EQ(session_transfer_send(&rig.s, with_iac, 3), -1);
  test_session_on_socket(&rig.s, -1);
  EXPECT_EQ(session_transfer_send(&rig.s, with_iac, 3), -1);
  test_session_on_socket(&rig.s, rig.pair.ours);
}

// Every ending that sent the cancel sequence (here a download the
// directory cannot take) drops what the BBS sends for two seconds, as after
// Escape: its echo of the cancel bytes is not shown as text.
TEST(SessionTransfer, TheEchoOfTheCancelSequenceIsNotShown) {
  SessionRig rig;
  snprintf(g_download_path, sizeof g_download_path, "%s/no/such/dir", rig.tmp.path().c_str());
  write_file(rig.tmp.path() + "/f.bin", "contents");
  ASSERT_EQ(zmodem_start_upload(&rig.peer.z, (rig.tmp.path() + "/f.bin").c_str()), 0);
  ASSERT_TRUE(rig.run([&] { return ended(rig.s.zm.zmodem); }));
  EXPECT_STREQ(rig.s.zm.zmodem.status_text, "ZMODEM aborted");
  uint32_t quiet_until = rig.s.discard_until_ms;
  EXPECT_GE(quiet_until - clock_ms(), kCancelQuietMs - 500);
  for (const char* text : {"\r\n^X^X^X^X^X^H^H^H^H^H", "Menu"}) {
    if (text[0] == 'M') clock_test_set_ms(quiet_until + 1);  // the quiet time is over
    ASSERT_EQ(write(rig.pair.peer, text, strlen(text)), static_cast<ssize_t>(strlen(text)));
    session_pump_turn(&rig.loop);
  }
  clock_test_reset();
  EXPECT_EQ(rig.row(1), "");
  EXPECT_EQ(rig.row(0), "Menu");
}

// A file picked in an upload directory whose full path does not fit (the
// directory given through PROGDIR:, which grows when expanded) cannot be
// opened: the upload ends as a missing file does, and says so in the box.
TEST(SessionTransfer, AnUploadPathTooLongIsShown) {
  SessionRig rig(true);
  std::string dir = "PROGDIR:";
  for (int i = 0; i < 40; ++i) dir += "../";
  dir += rig.up.substr(1);
  while (dir.size() < 254) dir += "/.";
  if (dir.size() < 255) dir += "/";
  std::string name(kTransferNameCap - 1, 'n');
  write_file(rig.up + "/" + name, "data");
  snprintf(g_upload_path, sizeof g_upload_path, "%s", dir.c_str());
  rig.inject({raw(RAWKEY_DOWN), vanilla('\r')});  // past ".." to the file
  EXPECT_EQ(zmodem_protocol_start_upload(&rig.s.zm), 0);
  EXPECT_STREQ(rig.s.zm.zmodem.status_text, "Upload file not found");
  EXPECT_EQ(rig.s.zm.zmodem.status.drawn, 1);  // the reason is on show
  EXPECT_NE(rig.s.transfer_box_until_ms, 0u);
}

TEST(SessionTransfer, AFailedTransfersReasonStaysUpThreeSeconds) {
  SessionRig rig(true);
  uint32_t now = 500000;
  clock_test_set_ms(now);
  ASSERT_EQ(zmodem_start_upload(&rig.s.zm.zmodem, (rig.up + "/missing.bin").c_str()), 0);
  EXPECT_STREQ(rig.s.zm.zmodem.status_text, "Upload file not found");
  ASSERT_EQ(rig.s.zm.zmodem.status.drawn, 1);
  int x = rig.s.zm.zmodem.status.box_x, y = rig.s.zm.zmodem.status.box_y;
  int bevel = rig.t->pens[15];
  EXPECT_EQ(plat_read_pixel(rig.t->window, x, y), bevel);
  clock_test_set_ms(now + 2999);
  session_transfer_poll(&rig.s);
  EXPECT_EQ(plat_read_pixel(rig.t->window, x, y), bevel);  // still there to be read
  clock_test_set_ms(now + 3000);
  session_transfer_poll(&rig.s);
  EXPECT_NE(plat_read_pixel(rig.t->window, x, y), bevel);  // the terminal is back
  EXPECT_EQ(rig.s.transfer_box_until_ms, 0u);
  clock_test_reset();
}

// Alt+C / Alt+P: the file names, and the screen as ANSI drawing the same
// cells again (bright colours, iCE blink, 24-bit colour, CP437 art, the last
// cell of the last row without a scroll).
TEST(Capture, NamesAndTheScreenAsAnsi) {
  std::tm when{};
  when.tm_year = 126, when.tm_mon = 11, when.tm_mday = 8, when.tm_hour = 22, when.tm_min = 15;
  const struct {
    const char* board;
    const char* name;
  } names[] = {{"Board Name", "Board_Name-2026-12-08-2215.ans"},
               {"  ../../etc/passwd ", "etc_passwd-2026-12-08-2215.ans"},
               {"Caf\xc3\xa9 *BBS*", "Caf_BBS-2026-12-08-2215.ans"},
               {"A very long board name that goes on and on",
                "A_very_long_board_name_that_goes-2026-12-08-2215.ans"},
               {"", "Kavel-2026-12-08-2215.ans"},
               {"...", "Kavel-2026-12-08-2215.ans"}};
  for (const auto& n : names) EXPECT_EQ(capture_file_name(n.board, when, ".ans"), n.name);

  auto a = std::make_unique<Terminal>();
  auto b = std::make_unique<Terminal>();
  term_init_record(a.get());
  term_init_record(b.get());
  const std::string art =
      "\x1b[?33h\x1b[1;33;44mBold\x1b[0;5;41mbright back\x1b[38;2;10;200;30;48;5;17m rgb "
      "\x1b[0m\xdb\xb0\xb1\xb2\x1b[12;40H\x1b[36mmiddle\x1b[?7l\x1b[25;79H\x1b[35;47mYZ\x1b[3;3H";
  for (char c : art) term_consume_byte(a.get(), static_cast<uint8_t>(c));
  int ice = 0;
  const std::string screen = capture_screen_ansi(a.get(), &ice);
  EXPECT_EQ(ice, 1);
  for (char c : screen) term_consume_byte(b.get(), static_cast<uint8_t>(c));
  EXPECT_EQ(b->row, 2);
  EXPECT_EQ(b->col, 2);
  for (int r = 0; r < kTermRows; r++)
    for (int c = 0; c < kTermCols; c++) {
      const Cell& x = a->cells[r][c];
      const Cell& y = b->cells[r][c];
      uint32_t fx, bx, fy, by;
      term_cell_rgb(a.get(), x, &fx, &bx);
      term_cell_rgb(b.get(), y, &fy, &by);
      EXPECT_EQ(x.ch == 0 ? ' ' : x.ch, y.ch == 0 ? ' ' : y.ch) << r << "," << c;
      EXPECT_EQ(bx, by) << r << "," << c;
      if (x.ch > ' ') {
        EXPECT_EQ(fx, fy) << r << "," << c;
      }
    }
  EXPECT_EQ(a->cells[24][79].ch, 'Z');
}

// A protocol the loop knows only through the seam: started from the
// chooser's rows, fed its bytes, polled, drawn after a refresh, cancelled by
// Escape, started by its own detection and ended when the peer closes.
namespace {
struct FakeProtocol {
  int active = 0, starts = 0, direction = -1, row = -1, polls = 0, cancels = 0, draws = 0;
  int ends = 0, closed_by_peer = -1;
  int front = 0, events = 0;  // a question of its own is up: it takes the events
  std::string fed;
};
FakeProtocol* fake(void* c) {
  return static_cast<FakeProtocol*>(c);
}
constexpr const char* kFakeRows[] = {"F-One", "F-Two"};
const TransferProtocolOps kFakeOps = {
    "FAKE",
    kFakeRows,
    2,
    1,
    [](void* c, int direction, int row) {
      fake(c)->starts++, fake(c)->direction = direction, fake(c)->row = row;
      fake(c)->active = 1;
      return 0;
    },
    [](void* c, const uint8_t* b, size_t n) {
      fake(c)->fed.append(reinterpret_cast<const char*>(b), n);
      return n;
    },
    [](void* c, uint32_t) { return fake(c)->polls++, 0; },
    [](void* c) { fake(c)->cancels++, fake(c)->active = 0; },
    [](void* c, int closed) { fake(c)->ends++, fake(c)->closed_by_peer = closed; },
    [](void* c) { fake(c)->draws++; },
    [](void*) {},
    [](const void* c) { return static_cast<const FakeProtocol*>(c)->active; },
    [](const void*) { return 0; },
    [](const void* c) { return static_cast<const FakeProtocol*>(c)->front; },
    [](void* c, const PlatEvent&) { fake(c)->events++; },
    [](void* c, uint8_t b, TransferEmit, void*) {
      if (b != 0x01) return TRANSFER_PASS;
      fake(c)->active = 1;
      return TRANSFER_TAKEN;
    },
    [](void*, int, TransferEmit, void*) {},
};
}  // namespace

TEST(SessionTransfer, AProtocolBehindTheSeam) {
  FakeProtocol f;  // outlives the rig, whose end ends it again
  SessionRig rig(true);
  rig.s.protocols[0] = TransferProtocol{&kFakeOps, &f};
  rig.s.protocol_count = 1;
  auto send = [&](const std::string& bytes) {
    ASSERT_EQ(write(rig.pair.peer, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  };
  // Alt+D lists the table's rows; the second one starts.
  rig.inject({vanilla('d', kAlt), raw(RAWKEY_DOWN), vanilla('\r')});
  session_pump_turn(&rig.loop);
  EXPECT_EQ(f.starts, 1);
  EXPECT_EQ(f.direction, kTransferDownload);
  EXPECT_EQ(f.row, 1);
  // Its bytes (Telnet undone) are its own; a key typed meanwhile is held.
  send(
      "data\xff\xff"
      "end");
  rig.inject({vanilla('k'), PlatEvent{PLAT_EV_REFRESH, 0, 0, 0, 0}});
  ASSERT_TRUE(rig.run([&] { return f.fed.size() >= 8; }, 2000));
  EXPECT_EQ(f.fed,
            "data\xff"
            "end");
  EXPECT_GT(f.polls, 0);
  EXPECT_GT(f.draws, 0);
  EXPECT_EQ(rig.row(0), "");
  // In front, it takes every event before the key input: Escape is no
  // cancel and no key reaches the BBS.
  f.front = 1;
  rig.inject({vanilla('q'), vanilla(27), PlatEvent{PLAT_EV_REFRESH, 0, 0, 0, 0}});
  session_pump_turn(&rig.loop);
  f.front = 0;
  EXPECT_EQ(f.events, 3);
  EXPECT_EQ(f.cancels, 0);
  // Escape cancels it; then bytes go to the terminal until its detection
  // takes one and it runs again.
  rig.inject({vanilla(27)});
  session_pump_turn(&rig.loop);
  EXPECT_EQ(f.cancels, 1);
  send("shown\x01more");
  ASSERT_TRUE(rig.run([&] { return f.fed.size() >= 12; }, 2000));
  EXPECT_EQ(rig.row(0), "shown");
  EXPECT_EQ(f.fed.substr(8), "more");
  EXPECT_EQ(rig.peer.seen.find('k'), std::string::npos);
  EXPECT_EQ(rig.peer.seen.find('q'), std::string::npos);
  // The peer closes: the loop ends the session and with it the transfer.
  close(rig.pair.peer);
  rig.pair.peer = -1;
  EXPECT_EQ(session_main_loop(&rig.s, nullptr, "Kavel - test", rig.buf.data()), 1);
  EXPECT_EQ(f.ends, 1);
  EXPECT_EQ(f.closed_by_peer, 1);
}
