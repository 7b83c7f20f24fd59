// Clipboard text over the device at byte level: the form written for a
// copy, and what a read accepts.
#include "platform/clipboard_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/clipboard.h"

namespace {

using Bytes = std::vector<uint8_t>;

void be32(Bytes* b, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) b->push_back(static_cast<uint8_t>(v >> shift));
}
void chunk(Bytes* b, const char* id, const std::string& data) {
  b->insert(b->end(), id, id + 4);
  be32(b, static_cast<uint32_t>(data.size()));
  b->insert(b->end(), data.begin(), data.end());
  if (data.size() & 1) b->push_back(0);
}
Bytes form(const char* type, const std::vector<std::pair<const char*, std::string>>& chunks) {
  Bytes body;
  body.insert(body.end(), type, type + 4);
  for (const auto& c : chunks) chunk(&body, c.first, c.second);
  Bytes out = {'F', 'O', 'R', 'M'};
  be32(&out, static_cast<uint32_t>(body.size()));
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

// The clip's raw bytes as a reader of the device sees them.
Bytes clip_bytes() {
  PlatClipboard* unit = plat_clipboard_open(0);
  Bytes out(1 << 16);
  PlatClipRequest req;
  req.command = PLAT_CLIP_CMD_READ;
  req.data = out.data();
  req.length = static_cast<uint32_t>(out.size());
  plat_clipboard_do(unit, &req);
  plat_clipboard_close(unit);
  out.resize(req.actual);
  return out;
}

class ClipboardText : public ::testing::Test {
 protected:
  void SetUp() override {
    plat_headless_set_clipboard_available(true);
    plat_clipboard_set_charset(CHARSET_CP437);
    plat_headless_clipboard_set_nontext();
  }
  void TearDown() override { plat_headless_clipboard_set_nontext(); }
};

TEST_F(ClipboardText, WritesOneFormWithOneChrsChunk) {
  struct Case {
    std::string text;
    uint32_t form_len;
    bool pad;
  };
  const Case cases[] = {{"Hello", 18, true}, {"Kave", 16, false}, {"a\nb", 16, true}};
  for (const Case& c : cases) {
    ASSERT_EQ(clipboard_write_text(reinterpret_cast<const uint8_t*>(c.text.data()), c.text.size()),
              0);
    Bytes expected = {'F', 'O', 'R', 'M'};
    be32(&expected, c.form_len);
    const char* rest = "FTXTCHRS";
    expected.insert(expected.end(), rest, rest + 8);
    be32(&expected, static_cast<uint32_t>(c.text.size()));
    expected.insert(expected.end(), c.text.begin(), c.text.end());
    if (c.pad) expected.push_back(0);
    EXPECT_EQ(clip_bytes(), expected) << c.text;
    std::string back;
    EXPECT_TRUE(clipboard_read_text(&back));
    EXPECT_EQ(back, c.text);
  }
  EXPECT_EQ(clipboard_write_text(reinterpret_cast<const uint8_t*>(""), 0), -1);
}

TEST_F(ClipboardText, ReadsTheFirstChrsChunkOfAnFtxtForm) {
  struct Case {
    const char* name;
    Bytes bytes;
    bool has_text;
    std::string text;
  };
  Bytes truncated = form("FTXT", {{"CHRS", "abcdef"}});
  truncated.resize(truncated.size() - 3);
  Bytes huge = form("FTXT", {{"CHRS", std::string(300000, 'x')}});
  const Case cases[] = {
      {"plain", form("FTXT", {{"CHRS", "text"}}), true, "text"},
      {"an author chunk first", form("FTXT", {{"AUTH", "someone"}, {"CHRS", "after"}}), true,
       "after"},
      {"two CHRS chunks: the first", form("FTXT", {{"CHRS", "one"}, {"CHRS", "two"}}), true, "one"},
      {"an empty CHRS chunk", form("FTXT", {{"CHRS", ""}}), true, ""},
      {"a picture", form("ILBM", {{"BMHD", "12345678"}, {"BODY", "pixels"}}), false, ""},
      {"no CHRS chunk", form("FTXT", {{"FONS", "x"}}), false, ""},
      {"cut short", truncated, false, ""},
      {"larger than a read takes", huge, false, ""},
      {"not a form", Bytes{'h', 'e', 'l', 'l', 'o'}, false, ""},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(plat_clipboard_put_bytes(c.bytes.data(), c.bytes.size()), 0) << c.name;
    std::string text = "stale";
    EXPECT_EQ(clipboard_read_text(&text), c.has_text) << c.name;
    EXPECT_EQ(text, c.text) << c.name;
  }
}

TEST_F(ClipboardText, NoDeviceNoText) {
  plat_headless_clipboard_set_text("text", 4);
  plat_headless_set_clipboard_available(false);
  std::string text;
  EXPECT_FALSE(clipboard_read_text(&text));
  EXPECT_EQ(clipboard_write_text(reinterpret_cast<const uint8_t*>("x"), 1), -1);
  plat_headless_set_clipboard_available(true);
}

}  // namespace
