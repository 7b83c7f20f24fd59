// The XMODEM host adapter: names, the rename rule, opening files for
// receiving and sending, the engine's callbacks, and a whole transfer
// between two adapters with files on disk.
#include "transfer/xmodem_kavel.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "display/fonts.h"
#include "display/modes.h"
#include "display/surface.h"
#include "platform/display.h"
#include "support/open_window.h"
#include "support/test_support.h"
#include "terminal/terminal.h"
#include "transfer/dialogs.h"
#include "transfer/transfer_status.h"
#include "transfer/xmodem.h"
#include "transfer/xmodem_harness.h"

namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void put(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}

// A host for the adapter: records what it was asked and sent.
struct TestHost {
  XmodemHostContext ctx{};
  std::vector<int> answers;  // the file-exists answers, in turn
  std::vector<std::string> asked;
  std::vector<uint8_t> sent;
  int send_result = 0;
  int draws = 0;
  uint32_t now = 1000;
  TempDir dl, up;

  TestHost() {
    xmodem_kavel_init(
        &ctx, dl.path().c_str(), up.path().c_str(), "PROGDIR:Transfers", "PROGDIR:Transfers", this,
        [](void* h, const uint8_t* b, size_t n) {
          auto* t = static_cast<TestHost*>(h);
          t->sent.insert(t->sent.end(), b, b + n);
          return t->send_result;
        },
        [](void* h, const char* name) {
          auto* t = static_cast<TestHost*>(h);
          t->asked.emplace_back(name);
          if (t->answers.empty()) return int{XM_EXISTS_SKIP};
          int a = t->answers.front();
          t->answers.erase(t->answers.begin());
          return a;
        },
        [](void* h) { static_cast<TestHost*>(h)->draws++; },
        [](void* h) { return static_cast<TestHost*>(h)->now; });
  }
  ~TestHost() { xmodem_kavel_close(&ctx); }
};

TEST(XmodemKavel, NamesAreMadeSafe) {
  struct Case {
    const char* in;
    std::string out;
  } cases[] = {
      {"a/b:c", "a_b_c"},
      {"", "xmodem.prg"},
      {nullptr, "xmodem.prg"},
      {"back\\slash", "back_slash"},
      {"tab\there\x01", "tab_here_"},
      {"..", "xmodem.prg"},
      {".", "xmodem.prg"},
      {"../up", ".._up"},
      {"caf\xc3\xa9.txt", "caf\xc3\xa9.txt"},  // bytes above 0x7F are kept
      {"PROGDIR:x", "PROGDIR_x"},
  };
  for (const Case& c : cases) {
    char out[kXmNameCap];
    xm_sanitize_name(out, sizeof out, c.in);
    EXPECT_EQ(out, c.out) << (c.in ? c.in : "(null)");
  }
  std::string long_name(300, 'n');
  char out[kXmNameCap];
  xm_sanitize_name(out, sizeof out, long_name.c_str());
  EXPECT_EQ(std::string(out), std::string(127, 'n'));
}

TEST(XmodemKavel, RenameRuleCountsWithThreeDigits) {
  struct Case {
    const char* name;
    std::vector<std::string> existing;
    const char* free_name;  // null: no free name
  } cases[] = {
      {"report.txt", {"report.txt"}, "report-001.txt"},
      {"report.txt", {"report.txt", "report-001.txt", "report-002.txt"}, "report-003.txt"},
      {"archive.tar.gz", {"archive.tar.gz"}, "archive.tar-001.gz"},
      {"noext", {"noext"}, "noext-001"},
      {".profile", {".profile"}, ".profile-001"},
  };
  for (const Case& c : cases) {
    TempDir d;
    for (const auto& e : c.existing) put(d.path() + "/" + e, "x");
    char name[kXmNameCap];
    snprintf(name, sizeof name, "%s", c.name);
    ASSERT_EQ(xm_rename_free(name, sizeof name, d.path().c_str()), 0) << c.name;
    EXPECT_STREQ(name, c.free_name);
  }
  // All 999 taken: no name.
  TempDir d;
  for (int i = 1; i <= 999; i++) {
    char n[32];
    snprintf(n, sizeof n, "f-%03d.b", i);
    put(d.path() + "/" + n, "");
  }
  char name[kXmNameCap] = "f.b";
  EXPECT_EQ(xm_rename_free(name, sizeof name, d.path().c_str()), -1);
  EXPECT_STREQ(name, "f.b");
}

TEST(XmodemKavel, OpeningForReceiving) {
  struct Case {
    const char* what;
    int answer;          // to the file-exists question; -1: the name is free
    int result;          // of xmodem_kavel_open_receive
    const char* opened;  // the file the transfer writes
    bool old_kept;
  } cases[] = {
      {"free name", -1, 0, "report.txt", false},
      {"overwrite", XM_EXISTS_OVERWRITE, 0, "report.txt", false},
      {"rename", XM_EXISTS_RENAME, 0, "report-001.txt", true},
      {"skip", XM_EXISTS_SKIP, -2, nullptr, true},
      {"another answer", 7, -2, nullptr, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestHost h;
    if (c.answer >= 0) {
      put(h.dl.file("report.txt"), "older");
      h.answers = {c.answer};
    }
    EXPECT_EQ(xmodem_kavel_open_receive(&h.ctx, "report.txt"), c.result);
    EXPECT_EQ(h.asked.size(), c.answer >= 0 ? 1u : 0u);
    if (c.opened) {
      ASSERT_NE(h.ctx.file, nullptr);
      EXPECT_EQ(h.ctx.mode, 1);
      EXPECT_STREQ(h.ctx.file_name, c.opened);
      EXPECT_EQ(std::string(h.ctx.file_path), h.dl.file(c.opened));
      fputs("new", h.ctx.file);
      xmodem_kavel_close(&h.ctx);
      EXPECT_EQ(slurp(h.dl.file(c.opened)), "new");
    } else {
      EXPECT_EQ(h.ctx.file, nullptr);
    }
    if (c.answer >= 0) {
      EXPECT_EQ(slurp(h.dl.file("report.txt")) == "older", c.old_kept);
    }
  }
  // Without a prompt function an existing file is never touched.
  TestHost h;
  h.ctx.prompt_fn = nullptr;
  put(h.dl.file("x.bin"), "older");
  EXPECT_EQ(xmodem_kavel_open_receive(&h.ctx, "x.bin"), -2);
  EXPECT_EQ(slurp(h.dl.file("x.bin")), "older");
  // A directory that cannot be created: -1.
  TestHost bad;
  std::string blocked = bad.dl.file("plain");
  put(blocked, "a file, not a directory");
  std::string sub = blocked + "/sub";
  bad.ctx.download_dir = sub.c_str();
  EXPECT_EQ(xmodem_kavel_open_receive(&bad.ctx, "x.bin"), -1);
}

TEST(XmodemKavel, OpeningForSending) {
  TestHost h;
  put(h.up.file("send.bin"), std::string(3000, 'u'));
  mkdir(h.up.file("adir").c_str(), 0755);
  uint32_t size = 99;
  EXPECT_EQ(xmodem_kavel_open_send(&h.ctx, "", &size), -1);
  EXPECT_EQ(xmodem_kavel_open_send(&h.ctx, "missing.bin", &size), -1);
  EXPECT_EQ(xmodem_kavel_open_send(&h.ctx, "adir", &size), -1);
  EXPECT_EQ(h.ctx.file, nullptr);
  ASSERT_EQ(xmodem_kavel_open_send(&h.ctx, "send.bin", &size), 0);
  EXPECT_EQ(size, 3000u);
  EXPECT_EQ(h.ctx.total, 3000u);
  EXPECT_EQ(h.ctx.mode, 2);
  EXPECT_NE(h.ctx.file, nullptr);
}

TEST(XmodemKavel, CallbacksKeepTheFigures) {
  TestHost h;
  XmodemCallbacks cb;
  xmodem_kavel_callbacks(&h.ctx, &cb);
  h.ctx.total = 5000;
  cb.status(cb.context, XM_REPORT_PROGRESS, "started", 0, 0, 0, 0, 1, "");
  EXPECT_EQ(h.ctx.total, 5000u) << "a report without a total keeps it";
  EXPECT_EQ(h.ctx.start_ms, 0u);
  h.now = 7000;
  cb.status(cb.context, XM_REPORT_PROGRESS, "block", 1024, 0, 1, 2, 1, "engine.bin");
  EXPECT_EQ(h.ctx.start_ms, 7000u) << "the speed starts at the first byte";
  EXPECT_STREQ(h.ctx.file_name, "engine.bin");
  EXPECT_STREQ(h.ctx.status_text, "block");
  EXPECT_EQ(h.ctx.bytes, 1024u);
  EXPECT_EQ(h.ctx.retries, 2u);
  h.now = 9000;
  cb.status(cb.context, XM_REPORT_PROGRESS, nullptr, 2048, 4096, 2, 0, 0, nullptr);
  EXPECT_EQ(h.ctx.start_ms, 7000u);
  EXPECT_EQ(h.ctx.total, 4096u);
  EXPECT_STREQ(h.ctx.status_text, "");
  EXPECT_STREQ(h.ctx.file_name, "engine.bin");
  cb.status(cb.context, XM_REPORT_STARTED, "again", 0, 0, 0, 0, 0, "");
  EXPECT_EQ(h.ctx.start_ms, 0u);
  EXPECT_EQ(h.draws, 4);
  EXPECT_EQ(cb.now(cb.context), 9000u);
  EXPECT_EQ(cb.size(cb.context), 4096u);

  // Without a file: nothing read, nothing stored.
  uint8_t buf[16];
  EXPECT_EQ(cb.read(cb.context, buf, sizeof buf), 0);
  EXPECT_EQ(cb.store(cb.context, buf, sizeof buf), -1);
  // A failed send is the engine's failure.
  const uint8_t ack = kXmAck;
  EXPECT_EQ(cb.write(cb.context, &ack, 1), 0);
  h.send_result = -1;
  EXPECT_NE(cb.write(cb.context, &ack, 1), 0);
  h.ctx.send_fn = nullptr;
  EXPECT_EQ(cb.write(cb.context, &ack, 1), -1);
}

// Two adapters, one sending a file from its upload directory and one
// receiving into its download directory, their engines joined directly.
TEST(XmodemKavel, AWholeTransferOnDisk) {
  for (size_t size : {size_t{0}, size_t{1}, size_t{896}, size_t{897}, size_t{100000}}) {
    SCOPED_TRACE(size);
    TestHost a, b;
    std::vector<uint8_t> data = xmtest::random_bytes(size, static_cast<uint32_t>(size) + 9);
    put(a.up.file("f.bin"), std::string(data.begin(), data.end()));
    XmodemState sender{}, receiver{};
    uint32_t total = 0;
    ASSERT_EQ(xmodem_kavel_open_send(&a.ctx, "f.bin", &total), 0);
    ASSERT_EQ(xmodem_kavel_open_receive(&b.ctx, "g.bin"), 0);
    XmodemCallbacks ca, cb;
    xmodem_kavel_callbacks(&a.ctx, &ca);
    xmodem_kavel_callbacks(&b.ctx, &cb);
    xmodem_init(&sender, &ca);
    xmodem_init(&receiver, &cb);
    ASSERT_EQ(xmodem_start_send(&sender, a.ctx.file_name, total), 0);
    ASSERT_EQ(xmodem_start_receive(&receiver, b.ctx.file_name, 2), 0);
    for (int turn = 0; turn < 100000 && (sender.active || receiver.active); turn++) {
      a.now += 5;
      b.now += 5;
      xmodem_pump(&receiver);
      xmodem_pump(&sender);
      std::vector<uint8_t> to_sender, to_receiver;
      to_sender.swap(b.sent);
      to_receiver.swap(a.sent);
      for (uint8_t x : to_receiver) xmodem_consume(&receiver, x);
      for (uint8_t x : to_sender) xmodem_consume(&sender, x);
    }
    EXPECT_STREQ(sender.status_text, "XMODEM complete");
    EXPECT_STREQ(receiver.status_text, "XMODEM complete");
    EXPECT_EQ(a.ctx.file, nullptr) << "the engine closed the file it sent";
    EXPECT_EQ(b.ctx.file, nullptr);
    std::string got = slurp(b.dl.file("g.bin"));
    EXPECT_TRUE(xmtest::is_file_plus_padding(std::vector<uint8_t>(got.begin(), got.end()), data));
    EXPECT_EQ(got.size(), xmtest::engine_padded_length(size, true));
  }
}

// The XMODEM box over a terminal in a headless window: what it shows while
// receiving (no total: "----" and a segment one step per KiB), when it is
// redrawn, and a failure's reason.
class XmodemBox : public ::testing::Test {
 protected:
  void SetUp() override {
    display_set_window_mode(DISPLAY_MODE_WINDOW);
    set_active_font("CP437");
    term_init_record(&t_);
    ASSERT_EQ(test_term_open(&t_, "Kavel"), 0);
    term_clear_screen(&t_);
    h_.now = 5000;
    xm_.active = 1;
    xm_.mode = 1;
  }
  void TearDown() override { term_close(&t_); }
  void draw() { xmodem_draw_status(&t_, &xm_, &h_.ctx); }
  int pen(int x, int y) { return plat_read_pixel(t_.window, x, y); }
  int palette(int i) { return t_.pens[i]; }
  void bar(int* left, int* top, int* width) {
    int x, y, w, hh;
    transfer_box_rect(&t_, &x, &y, &w, &hh);
    *left = x + 2 * term_dialog_cell_w(&t_);
    *top = y + 8 * term_dialog_cell_h(&t_);
    *width = w - 4 * term_dialog_cell_w(&t_);
  }
  Terminal t_{};
  TestHost h_;
  XmodemState xm_{};
};

TEST_F(XmodemBox, ReceivingShowsAMovingSegment) {
  int left, top, width;
  bar(&left, &top, &width);
  int seg = std::max(4 * term_dialog_cell_w(&t_), width / 4);
  for (uint32_t kib : {1u, 5u}) {
    SCOPED_TRACE(kib);
    h_.ctx.bytes = kib * 1024;
    h_.ctx.status.drawn = 0;
    draw();
    int offset = static_cast<int>(kib % static_cast<uint32_t>(width - seg));
    EXPECT_EQ(pen(left + 1 + offset, top + 2), palette(1)) << "the segment's first column";
    EXPECT_EQ(pen(left + offset, top + 2), palette(7)) << "before it";
    EXPECT_EQ(pen(left + offset + seg, top + 2), palette(1)) << "its last column";
    EXPECT_EQ(pen(left + offset + seg + 1, top + 2), palette(7)) << "after it";
  }
}

TEST_F(XmodemBox, RedrawPolicy) {
  h_.ctx.last_kind = XM_REPORT_PROGRESS;
  draw();
  ASSERT_EQ(h_.ctx.status.drawn, 1);
  struct Step {
    const char* name;
    uint32_t advance, bytes, retries;
    int kind;
    bool drawn;
  } steps[] = {
      {"progress 100 ms later: skipped", 100, 1024, 0, XM_REPORT_PROGRESS, false},
      {"progress 199 ms after the draw: skipped", 99, 2048, 0, XM_REPORT_PROGRESS, false},
      {"progress 200 ms after: drawn", 1, 3072, 0, XM_REPORT_PROGRESS, true},
      {"a retry at once", 10, 3072, 1, XM_REPORT_RETRY, true},
      {"a new retry count in a progress report at once", 10, 4096, 2, XM_REPORT_PROGRESS, true},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    h_.now += s.advance;
    h_.ctx.bytes = s.bytes;
    h_.ctx.retries = s.retries;
    h_.ctx.last_kind = s.kind;
    draw();
    EXPECT_EQ(h_.ctx.status.last_draw_ms == h_.now, s.drawn);
  }
  // After the end every call draws, and a failure's reason is in red where
  // the error figure was.
  int x = h_.ctx.status.box_x, y = h_.ctx.status.box_y;
  int line5 = y + 5 * term_dialog_cell_h(&t_);
  auto reds = [&] {
    int n = 0;
    for (int py = line5; py < line5 + term_dialog_cell_h(&t_); py++)
      for (int px = x; px < x + h_.ctx.status.box_w; px++) n += pen(px, py) == palette(4);
    return n;
  };
  EXPECT_EQ(reds(), 0);
  xm_.active = 0;
  h_.ctx.last_kind = XM_REPORT_FAILED;
  snprintf(h_.ctx.status_text, sizeof h_.ctx.status_text, "XMODEM failed");
  h_.now += 1;
  draw();
  EXPECT_EQ(h_.ctx.status.last_draw_ms, h_.now);
  EXPECT_GT(reds(), 20);
}

}  // namespace
