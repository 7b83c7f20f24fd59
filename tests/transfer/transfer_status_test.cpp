// The transfer status box: its figures (speed, bar, percentage), the ZMODEM
// redraw policy, and pictures of the box as a user sees it.
#include "transfer/transfer_status.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "display/fonts.h"
#include "display/modes.h"
#include "display/surface.h"
#include "platform/display.h"
#include "support/golden_image.h"
#include "support/open_window.h"
#include "terminal/terminal.h"
#include "transfer/dialogs.h"
#include "transfer/zmodem.h"
#include "transfer/zmodem_harness.h"

TEST(TransferFigures, SpeedText) {
  struct Case {
    uint32_t start, bytes, now;
    const char* text;
  };
  const Case cases[] = {
      {1000, 5000, 3000, "Speed: 2.4 KB/s"},                // 2500 B/s
      {1000, 0, 3000, "Speed: --.- KB/s"},                  // nothing yet
      {0, 5000, 3000, "Speed: --.- KB/s"},                  // no start time
      {1000, 3000, 1000, "Speed: 2929.6 KB/s"},             // 0 ms counts as 1
      {0xFFFFFF00u, 1024, 0x00000300u, "Speed: 0.9 KB/s"},  // the clock wrapped: 1024 ms
      {1, 0xFFFFFFFFu, 1001, "Speed: 4194303.9 KB/s"},      // 64-bit arithmetic
  };
  for (const Case& c : cases) {
    char out[48];
    transfer_format_speed(out, sizeof out, c.start, c.bytes, c.now);
    EXPECT_STREQ(out, c.text) << c.start << " " << c.bytes << " " << c.now;
  }
}

TEST(TransferFigures, BarAndPercentage) {
  struct Case {
    uint32_t bytes, total;
    int width;
    int fill;
    uint32_t percent;
  };
  const Case cases[] = {
      {1000, 2000, 200, 100, 50},
      {0, 2000, 200, 0, 0},
      {2000, 2000, 200, 200, 100},
      {5000, 2000, 200, 200, 100},
      {1999, 2000, 200, 199, 99},
      {7, 0, 200, 0, 0},
      {0xFFFFFFF0u, 0xFFFFFFFFu, 800, 799, 99},  // no overflow with large files
  };
  for (const Case& c : cases) {
    EXPECT_EQ(transfer_bar_fill(c.bytes, c.total, c.width), c.fill) << c.bytes << "/" << c.total;
    EXPECT_EQ(transfer_percent(c.bytes, c.total), c.percent) << c.bytes << "/" << c.total;
  }
}

namespace {

// A ZMODEM state in a receive with a fake clock, over a terminal in a
// headless window.
class StatusBox : public ::testing::Test {
 protected:
  void SetUp() override {
    display_set_window_mode(DISPLAY_MODE_WINDOW);
    set_active_font("CP437");
    t_ = std::make_unique<Terminal>();
    term_init_record(t_.get());
    ASSERT_EQ(test_term_open(t_.get(), "Kavel"), 0);
    term_clear_screen(t_.get());
    z_ = std::make_unique<ZmodemState>();
    z_->hooks.ctx = &now_;
    z_->hooks.now_ms = [](void* c) { return *static_cast<uint32_t*>(c); };
    z_->active = 1;
    z_->direction = 0;
    z_->data_crc_len = z_->header_crc_len = 4;
    snprintf(z_->file_name, sizeof z_->file_name, "report.txt");
    z_->start_ms = 1000;
  }
  void TearDown() override { term_close(t_.get()); }

  Terminal* t() { return t_.get(); }
  ZmodemState* z() { return z_.get(); }
  int pen(int x, int y) { return plat_read_pixel(t_->window, x, y); }
  int palette(int index) { return t_->pens[index]; }
  // The bar's rectangle as the box lays it out.
  void bar(int* left, int* top, int* width) {
    int x, y, w, h;
    transfer_box_rect(t(), &x, &y, &w, &h);
    *left = x + 2 * term_dialog_cell_w(t());
    *top = y + 8 * term_dialog_cell_h(t());
    *width = w - 4 * term_dialog_cell_w(t());
  }

  uint32_t now_ = 3000;
  std::unique_ptr<Terminal> t_;
  std::unique_ptr<ZmodemState> z_;
};

}  // namespace

TEST_F(StatusBox, GeometryAndTheHalfFilledBar) {
  int x, y, w, h;
  transfer_box_rect(t(), &x, &y, &w, &h);
  EXPECT_EQ(w, 368);  // 46 cells of 8 pixels
  EXPECT_EQ(h, 160);  // 10 cells of 16 pixels
  EXPECT_EQ(x, (640 - 368) / 2);
  EXPECT_EQ(y, (400 - 160) / 2);

  z()->announced_size = 2000;
  z()->byte_count = 1000;
  zmodem_draw_status(t(), z());
  int left, top, width;
  bar(&left, &top, &width);
  // Half is filled (blue), the rest is the bar's face (grey), the frame dark
  // grey; the percentage's cells sit over the middle.
  EXPECT_EQ(pen(left, top), palette(8));
  EXPECT_EQ(pen(left + 5, top + 5), palette(1));
  EXPECT_EQ(pen(left + width / 2 - 30, top + 5), palette(1));
  EXPECT_EQ(pen(left + width / 2 + 30, top + 5), palette(7));
  EXPECT_EQ(pen(left + width - 5, top + 5), palette(7));
  // f is exactly half, not above it: "50%" is black on grey, centred.
  int text_left = left + (width - 3 * 8) / 2;
  bool black = false, white = false;
  for (int px = text_left; px < text_left + 24; px++)
    for (int py = top; py < top + 16; py++) {
      black |= pen(px, py) == palette(0);
      white |= pen(px, py) == palette(15);
    }
  EXPECT_TRUE(black);
  EXPECT_FALSE(white);
  EXPECT_EQ(z()->status.drawn, 1);
}

TEST_F(StatusBox, RedrawPolicy) {
  z()->announced_size = 100000;
  zmodem_draw_status(t(), z());
  ASSERT_EQ(z()->status.last_draw_ms, 3000u);

  struct Step {
    const char* name;
    uint32_t advance;
    uint32_t bytes;
    int errors;
    const char* text;
    bool drawn;
  };
  const Step steps[] = {
      {"bytes only, 100 ms later: skipped", 100, 4096, 0, "", false},
      {"bytes only, 199 ms after the last draw: skipped", 99, 8192, 0, "", false},
      {"bytes only, 200 ms after: drawn", 1, 8192, 0, "", true},
      {"an error at once", 10, 9000, 1, "", true},
      {"a new message at once", 10, 9500, 1, "CRC error; retry at 9000", true},
      {"nothing new: drawn (a refresh)", 10, 9500, 1, "CRC error; retry at 9000", true},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    now_ += s.advance;
    z()->byte_count = s.bytes;
    z()->error_count = s.errors;
    snprintf(z()->status_text, sizeof z()->status_text, "%s", s.text);
    zmodem_draw_status(t(), z());
    EXPECT_EQ(z()->status.last_draw_ms == now_, s.drawn);
    if (s.drawn) {
      EXPECT_EQ(z()->status.bytes, s.bytes);
    }
  }

  // After the end every call draws.
  z()->active = 0;
  uint32_t before = z()->status.last_draw_ms;
  now_ += 1;
  z()->byte_count += 10;
  zmodem_draw_status(t(), z());
  EXPECT_NE(z()->status.last_draw_ms, before);

  // A repeated ZFIN answered quietly, a suppressed or missing window: nothing.
  z()->status = ZmodemStatusCache{};
  z()->trailing = 1;
  zmodem_draw_status(t(), z());
  EXPECT_EQ(z()->status.drawn, 0);
  z()->trailing = 0;
  t()->drawing_suppressed = 1;
  zmodem_draw_status(t(), z());
  EXPECT_EQ(z()->status.drawn, 0);
  t()->drawing_suppressed = 0;
  zmodem_draw_status(nullptr, z());
  Terminal bare{};
  zmodem_draw_status(&bare, z());
  EXPECT_EQ(z()->status.drawn, 0);
}

// A slow line (about 47 KB/s), both ways: while bytes arrive or leave, the
// box is drawn every 200 ms or so (not only at the receiver's 256 KiB
// flushes or the sender's 32 KiB marks), its speed shown within the first
// second.  The sender learns the line's pace from its first slow slice (the
// socket's buffer, 64 KiB here, hides it before).
TEST_F(StatusBox, ProgressMovesOnASlowLine) {
  struct Watch {
    Terminal* t;
    std::vector<uint32_t> drawn;  // when the box was drawn with bytes counted
  };
  for (bool upload : {false, true}) {
    SCOPED_TRACE(upload ? "upload" : "download");
    uint32_t clock = 1000;
    TempDir dir;
    ZEndpoint e(&clock);
    Watch watch{t(), {}};
    e.owner = &watch;
    e.z.hooks.status_changed = [](void* c) {
      auto* e = static_cast<ZEndpoint*>(c);
      zmodem_draw_status(static_cast<Watch*>(e->owner)->t, &e->z);
      if (e->z.status.last_draw_ms == *e->clock && e->z.byte_count > 0)
        static_cast<Watch*>(e->owner)->drawn.push_back(*e->clock);
    };
    e.z.hooks.send = [](void* c, const uint8_t* b, size_t n) {
      auto* e = static_cast<ZEndpoint*>(c);
      e->out.insert(e->out.end(), b, b + n);
      if (e->out.size() > 64 * 1024) *e->clock += static_cast<uint32_t>(n / 47);
      return 0;
    };
    const uint32_t size = 600 * 1024;
    if (upload) {
      write_file_bytes(dir.file("up.bin"), std::string(size, 'u'));
      zmodem_start_upload(&e.z, dir.file("up.bin").c_str());
      e.feed(cat({hex_header(ZRINIT, 0x23000000), hex_header(ZRPOS, 0), hex_header(ZACK, 1024)}));
      while (e.z.active && e.z.streaming) zmodem_poll(&e.z);
    } else {
      e.dir = dir.path();
      e.feed(
          cat({hex_header(ZRQINIT, 0), bin_header(ZFILE, 0),
               subpacket(file_info("d.bin", std::to_string(size)), ZCRCW), bin_header(ZDATA, 0)}));
      for (uint32_t done = 0; done < size; done += 1024, clock += 21)
        e.feed(subpacket(std::string(1024, 'k'), ZCRCG));
    }
    ASSERT_GE(watch.drawn.size(), 2u);
    EXPECT_LE(watch.drawn.front(), 2000u) << "the speed within the first second";
    EXPECT_GT(watch.drawn.back(), 10000u);
    uint32_t longest = 0;
    for (size_t i = 1; i < watch.drawn.size(); ++i)
      if (watch.drawn[i - 1] > 1500)
        longest = std::max(longest, watch.drawn[i] - watch.drawn[i - 1]);
    EXPECT_LE(longest, 250u) << watch.drawn.size() << " drawings";
  }
}

TEST_F(StatusBox, ContentUpdatesKeepTheFrameUnlessItMoved) {
  zmodem_draw_status(t(), z());
  ASSERT_EQ(z()->status.drawn, 1);
  int x = z()->status.box_x, y = z()->status.box_y;
  ASSERT_EQ(pen(x, y), palette(15));  // the bevel's light edge
  term_fill_rect(t(), x, y, x + 1, y + 1, 0);

  // A new message: only the inside is renewed, the frame is left alone.
  now_ += 1000;
  snprintf(z()->status_text, sizeof z()->status_text, "Receiving report.txt");
  zmodem_draw_status(t(), z());
  EXPECT_EQ(pen(x, y), palette(0));

  // The frame was drawn somewhere else (the window mode changed): whole.
  z()->status.box_x += 40;
  now_ += 1000;
  snprintf(z()->status_text, sizeof z()->status_text, "moved");
  zmodem_draw_status(t(), z());
  EXPECT_EQ(z()->status.box_x, x);
  EXPECT_EQ(pen(x, y), palette(15));

  // The drawn mark cleared (a refresh, the file-exists prompt): whole.
  term_fill_rect(t(), x, y, x + 1, y + 1, 0);
  z()->status.drawn = 0;
  zmodem_draw_status(t(), z());
  EXPECT_EQ(pen(x, y), palette(15));
}

TEST_F(StatusBox, Pictures) {
  struct Case {
    const char* golden;
    int direction;
    uint32_t size, bytes;
    int errors, files_done, files_total;
    const char* text;
    // A batch whose sender said how many bytes it had left (ZFILE), and
    // where a resumed file began.
    uint64_t batch_total = 0;
    const char* bytes_left = nullptr;
    uint32_t start_offset = 0;
  };
  const Case cases[] = {
      {"transfer_status_receiving", 0, 2000, 1500, 2, 1, 3, "Receiving report.txt"},
      {"transfer_status_no_size", 0, 0, 70000, 0, 0, 0, "Receiving report.txt"},
      {"transfer_status_sending", 1, 3000000, 1000000, 1, 0, 0, "Uploading"},
      // 4000 of 10000 bytes behind us, 1500 of this file: 55 % of the batch.
      {"transfer_status_batch", 0, 2000, 1500, 0, 1, 3, "Receiving report.txt", 10000, "6000"},
      {"transfer_status_resumed", 1, 3000000, 2500000, 0, 0, 0, "Uploading", 0, nullptr, 1000000},
      {"transfer_status_crc_mismatch", 0, 9000, 4096, 4, 0, 0, "CRC mismatch; continuing"},
  };
  // Every picture but the last has a short name; the last one's is cut at
  // the box's edge.
  for (const Case& c : cases) {
    SCOPED_TRACE(c.golden);
    term_clear_screen(t());
    term_redraw_all(t());
    z()->status = ZmodemStatusCache{};
    z()->direction = c.direction;
    z()->use_crc32 = 0;
    (c.direction ? z()->file_size : z()->announced_size) = c.size;
    z()->byte_count = c.bytes;
    z()->error_count = c.errors;
    z()->files_done = c.files_done;
    z()->files_total = c.files_total;
    z()->status.batch_total = c.batch_total;
    z()->start_offset = c.start_offset;
    std::string info = std::string("report.txt") + '\0' + "2000 0 100644 0 2 " +
                       (c.bytes_left ? c.bytes_left : "");
    z()->info_len = c.bytes_left ? static_cast<int32_t>(info.size()) : 0;
    memcpy(z()->info, info.data(), info.size());
    snprintf(z()->status_text, sizeof z()->status_text, "%s", c.text);
    if (strcmp(c.golden, "transfer_status_crc_mismatch") == 0) {
      snprintf(z()->file_name, sizeof z()->file_name, "%s",
               "a-file-name-far-longer-than-the-status-box-is-wide.tar.gz");
    }
    zmodem_draw_status(t(), z());
    golden::expect_golden(c.golden, t()->window, 0, 0, 640, 400);
  }

  // A failed ending gives its reason, in red, where the error count was.
  term_clear_screen(t());
  term_redraw_all(t());
  z()->status = ZmodemStatusCache{};
  z()->active = 0;
  z()->ending = kZmodemFailed;
  z()->error_count = 11;
  snprintf(z()->status_text, sizeof z()->status_text, "Too many CRC errors at 4096; given up");
  zmodem_draw_status(t(), z());
  golden::expect_golden("transfer_status_failed", t()->window, 0, 0, 640, 400);
}
