// The clipboard device over the headless desktop clipboard.
#include "platform/clipboard.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "util/ftxt.h"

namespace {

using Bytes = std::vector<uint8_t>;

class ClipboardDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    plat_headless_set_clipboard_available(true);
    plat_clipboard_set_charset(CHARSET_CP437);
    plat_headless_clipboard_set_nontext();
    unit_ = plat_clipboard_open(0);
    ASSERT_NE(unit_, nullptr);
  }
  void TearDown() override {
    plat_clipboard_close(unit_);
    plat_clipboard_set_charset(CHARSET_CP437);
    plat_headless_clipboard_set_nontext();
  }

  int write(PlatClipRequest* req, const void* data, size_t len) {
    req->command = PLAT_CLIP_CMD_WRITE;
    req->data = const_cast<void*>(data);
    req->length = static_cast<uint32_t>(len);
    return plat_clipboard_do(unit_, req);
  }

  // The writer's sequence: form header, CHRS header, text, pad, update.
  int copy(const std::string& text) {
    uint8_t head[FTXT_FORM_HEADER_BYTES];
    uint8_t chrs[FTXT_CHUNK_HEADER_BYTES];
    ftxt_form_header(text.size(), head);
    ftxt_chrs_header(text.size(), chrs);
    PlatClipRequest req;
    const uint8_t pad = 0;
    int err = write(&req, head, sizeof head);
    if (!err) err = write(&req, chrs, sizeof chrs);
    if (!err) err = write(&req, text.data(), text.size());
    if (!err && ftxt_pad_bytes(text.size())) err = write(&req, &pad, 1);
    if (err) return err;
    req.command = PLAT_CLIP_CMD_UPDATE;
    req.length = 0;
    req.data = nullptr;
    return plat_clipboard_do(unit_, &req);
  }

  // Everything a read from offset 0 gives, in pieces of the given size.
  Bytes read_all(uint32_t piece = 1024) {
    Bytes out;
    std::vector<uint8_t> buf(piece);
    PlatClipRequest req;
    req.command = PLAT_CLIP_CMD_READ;
    for (;;) {
      req.data = buf.data();
      req.length = piece;
      EXPECT_EQ(plat_clipboard_do(unit_, &req), PLAT_CLIP_OK);
      out.insert(out.end(), buf.begin(), buf.begin() + req.actual);
      EXPECT_EQ(req.offset, out.size());
      if (req.error || req.actual < piece) return out;
    }
  }

  // The CHRS text of what a read gives; "<none>" when it holds no text.
  std::string read_text() {
    const Bytes form = read_all();
    size_t off = 0, len = 0;
    if (ftxt_find_text(form.data(), form.size(), &off, &len) != 0) return "<none>";
    return std::string(form.begin() + off, form.begin() + off + len);
  }

  static std::string desktop() {
    std::string text;
    return plat_headless_clipboard_text(&text) ? text : "<none>";
  }

  static Bytes form_of(const std::string& text) {
    Bytes out;
    ftxt_encode(reinterpret_cast<const uint8_t*>(text.data()), text.size(), &out);
    return out;
  }

  PlatClipboard* unit_ = nullptr;
};

}  // namespace

TEST_F(ClipboardDevice, CopyPublishesTheTextAndKeepsTheExactBytes) {
  const std::string text = "\xC9\xCD\xBB\n\xBA\xB0\xB1\xB2\xBA \x82t\x82\n\xC8\xCD\xBC";
  ASSERT_EQ(copy(text), PLAT_CLIP_OK);
  EXPECT_EQ(desktop(), "╔═╗\n║░▒▓║ été\n╚═╝");
  EXPECT_EQ(read_all(), form_of(text));
  // Bytes the desktop cannot tell apart from others still come back as
  // written while the desktop holds the published text.
  const std::string odd = std::string("a\0\x01\x0D\x0A", 5);
  ASSERT_EQ(copy(odd), PLAT_CLIP_OK);
  EXPECT_EQ(desktop(), "a ☺\r\n");
  EXPECT_EQ(read_all(7), form_of(odd));
}

TEST_F(ClipboardDevice, RequestsMoveOnAndCarryTheClipId) {
  PlatClipRequest req;
  ASSERT_EQ(write(&req, "FORM", 4), PLAT_CLIP_OK);
  EXPECT_EQ(req.actual, 4u);
  EXPECT_EQ(req.offset, 4u);
  const int32_t id = req.clip_id;
  EXPECT_NE(id, 0);
  ASSERT_EQ(write(&req, "....", 4), PLAT_CLIP_OK);
  EXPECT_EQ(req.offset, 8u);
  EXPECT_EQ(req.clip_id, id);
  // Nothing is seen before the update.
  EXPECT_EQ(desktop(), "<none>");
  // A new clip starts at offset 0 with id 0; the old one is dropped.
  req.offset = 0;
  req.clip_id = 0;
  const Bytes form = form_of("new");
  ASSERT_EQ(write(&req, form.data(), form.size()), PLAT_CLIP_OK);
  EXPECT_NE(req.clip_id, id);
  req.command = PLAT_CLIP_CMD_UPDATE;
  ASSERT_EQ(plat_clipboard_do(unit_, &req), PLAT_CLIP_OK);
  EXPECT_EQ(desktop(), "new");
  EXPECT_EQ(read_all(), form);
}

TEST_F(ClipboardDevice, DesktopTextReadsAsTheSetOnScreen) {
  const struct {
    CharsetId set;
    std::string utf8;
    std::string text;
  } cases[] = {
      {CHARSET_CP437, "Grüße ╔═╗ 5€\n",
       "Gr\x81\xE1"
       "e \xC9\xCD\xBB 5?\n"},
      {CHARSET_CP437, "a\r\nb\tc", "a\r\nb\tc"},
      {CHARSET_C64_UPPER, "Hello, C64 £!", "HELLO, C64 \x5C!"},
      {CHARSET_C64_LOWER, "Hello, C64 £!", "\xC8\x45\x4C\x4C\x4F, \xC3\x36\x34 \x5C!"},
      // Bad input: invalid UTF-8, NUL bytes, escape sequences.
      {CHARSET_CP437, std::string("x\0y\xFF\xE2\x82\x1B[1mz", 11), "xy???[1mz"},
  };
  for (const auto& c : cases) {
    plat_clipboard_set_charset(c.set);
    plat_headless_clipboard_set_text(c.utf8.data(), c.utf8.size());
    EXPECT_EQ(read_text(), c.text) << c.utf8;
  }
}

TEST_F(ClipboardDevice, ASetChangeConvertsOwnTextAgain) {
  ASSERT_EQ(copy("HELLO \xC5"), PLAT_CLIP_OK);  // CP437: "HELLO ┼"
  plat_clipboard_set_charset(CHARSET_C64_UPPER);
  EXPECT_EQ(read_text(), "HELLO \xDB");  // the C64 cross, as typed
  plat_clipboard_set_charset(CHARSET_C64_LOWER);
  EXPECT_EQ(read_text(), "\xC8\xC5\xCC\xCC\xCF \xDB");
  plat_clipboard_set_charset(CHARSET_CP437);
  EXPECT_EQ(read_text(), "HELLO \xC5");
  // PETSCII text copied from a C64 session reaches the desktop as shown.
  plat_clipboard_set_charset(CHARSET_C64_LOWER);
  ASSERT_EQ(copy("\xC8\x45\x4C\x4C\x4F \xBA"), PLAT_CLIP_OK);
  EXPECT_EQ(desktop(), "Hello ✓");
}

TEST_F(ClipboardDevice, NothingToPasteReadsAsNoBytes) {
  plat_headless_clipboard_set_nontext();  // an image
  EXPECT_TRUE(read_all().empty());
  plat_headless_clipboard_set_text("", 0);
  EXPECT_TRUE(read_all().empty());
}

TEST_F(ClipboardDevice, ForeignFormsComeBackUnchanged) {
  // A picture: no text for the desktop, the exact bytes for a reader.
  Bytes ilbm = {'F', 'O', 'R', 'M', 0,   0,   0, 12, 'I', 'L',
                'B', 'M', 'B', 'M', 'H', 'D', 0, 0,  0,   0};
  ASSERT_EQ(plat_clipboard_put_bytes(ilbm.data(), ilbm.size()), PLAT_CLIP_OK);
  EXPECT_EQ(desktop(), "<none>");
  EXPECT_EQ(read_all(), ilbm);
  // FTXT with an author chunk before the text.
  Bytes ftxt = {'F', 'O', 'R', 'M', 0,   0,   0, 30,  'F', 'T', 'X', 'T', 'A', 'U', 'T', 'H', 0,
                0,   0,   3,   'A', 'n', 'n', 0, 'C', 'H', 'R', 'S', 0,   0,   0,   2,   'h', 'i'};
  ASSERT_EQ(plat_clipboard_put_bytes(ftxt.data(), ftxt.size()), PLAT_CLIP_OK);
  EXPECT_EQ(desktop(), "hi");
  EXPECT_EQ(read_all(), ftxt);
  // Once another program copies, the reader sees that text instead.
  plat_headless_clipboard_set_text("new", 3);
  EXPECT_EQ(read_all(), form_of("new"));
}

TEST_F(ClipboardDevice, AReadInPiecesSeesOneClipboard) {
  const std::string first(3000, 'a');
  plat_headless_clipboard_set_text(first.data(), first.size());
  uint8_t buf[1024];
  PlatClipRequest req;
  req.command = PLAT_CLIP_CMD_READ;
  req.data = buf;
  req.length = sizeof buf;
  ASSERT_EQ(plat_clipboard_do(unit_, &req), PLAT_CLIP_OK);
  ASSERT_EQ(req.actual, 1024u);
  // Another program copies in the middle of the read.
  plat_headless_clipboard_set_text("b", 1);
  size_t total = req.actual;
  while (req.actual == sizeof buf) {
    ASSERT_EQ(plat_clipboard_do(unit_, &req), PLAT_CLIP_OK);
    for (uint32_t i = 0; i < req.actual; i++) {
      if (total + i >= FTXT_MIN_BYTES && total + i < FTXT_MIN_BYTES + first.size()) {
        ASSERT_EQ(buf[i], 'a');
      }
    }
    total += req.actual;
  }
  EXPECT_EQ(total, ftxt_form_bytes(first.size()));
  // A read past the end gives nothing; the next read from 0 looks again.
  ASSERT_EQ(plat_clipboard_do(unit_, &req), PLAT_CLIP_OK);
  EXPECT_EQ(req.actual, 0u);
  EXPECT_EQ(read_text(), "b");
}

TEST_F(ClipboardDevice, TenMegabytesOfDesktopText) {
  std::string big;
  big.reserve(10u << 20);
  while (big.size() < (10u << 20)) big += "Line of text ╔═╗ ü €\n";
  plat_headless_clipboard_set_text(big.data(), big.size());
  const Bytes form = read_all(1u << 20);
  size_t off = 0, len = 0;
  ASSERT_EQ(ftxt_find_text(form.data(), form.size(), &off, &len), 0);
  const std::string expect_line = "Line of text \xC9\xCD\xBB \x81 ?\n";
  EXPECT_EQ(len % expect_line.size(), 0u);
  EXPECT_EQ(std::string(form.begin() + off, form.begin() + off + expect_line.size()), expect_line);
  // A reader that stops at 256 KB finds no text in it.
  EXPECT_EQ(ftxt_find_text(form.data(), 262144, &off, &len), -1);
}

TEST_F(ClipboardDevice, BadRequestsFailWithoutHarm) {
  PlatClipRequest req;
  req.command = 99;
  EXPECT_EQ(plat_clipboard_do(unit_, &req), PLAT_CLIP_ERR_COMMAND);
  EXPECT_EQ(req.error, PLAT_CLIP_ERR_COMMAND);
  req.command = PLAT_CLIP_CMD_UPDATE;
  EXPECT_EQ(plat_clipboard_do(unit_, &req), PLAT_CLIP_ERR_NO_WRITE);
  EXPECT_EQ(write(&req, nullptr, 5), PLAT_CLIP_ERR_COMMAND);
  req.offset = static_cast<uint32_t>(PLAT_CLIP_MAX_BYTES);
  EXPECT_EQ(write(&req, "x", 1), PLAT_CLIP_ERR_TOO_LARGE);
  req = PlatClipRequest();
  req.command = PLAT_CLIP_CMD_READ;
  req.length = 10;
  EXPECT_EQ(plat_clipboard_do(unit_, &req), PLAT_CLIP_ERR_COMMAND);
  EXPECT_EQ(plat_clipboard_do(nullptr, &req), PLAT_CLIP_ERR_COMMAND);
  EXPECT_EQ(plat_clipboard_do(unit_, nullptr), PLAT_CLIP_ERR_COMMAND);
  // The clipboard still works.
  ASSERT_EQ(copy("ok"), PLAT_CLIP_OK);
  EXPECT_EQ(desktop(), "ok");
}

TEST_F(ClipboardDevice, NoDesktopNoUnit) {
  plat_headless_set_clipboard_available(false);
  EXPECT_EQ(plat_clipboard_open(0), nullptr);
  plat_headless_set_clipboard_available(true);
  EXPECT_EQ(plat_clipboard_open(1), nullptr);
  PlatClipboard* again = plat_clipboard_open(0);
  EXPECT_NE(again, nullptr);
  plat_clipboard_close(again);
}
