#include "util/ftxt.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytes(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

Bytes be32(uint32_t v) {
  return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes chunk(const char* id, const std::string& data, bool pad = true) {
  Bytes out = bytes(id) + be32(static_cast<uint32_t>(data.size())) + bytes(data);
  if (pad && (data.size() & 1)) out.push_back(0);
  return out;
}

// FORM FTXT with the given chunks; the form length is what the caller says.
Bytes form(const char* type, const Bytes& chunks, uint32_t length) {
  return bytes("FORM") + be32(length) + bytes(type) + chunks;
}

Bytes first(Bytes b, size_t n) {
  b.resize(n);
  return b;
}

Bytes encode(const std::string& text) {
  Bytes out;
  EXPECT_EQ(ftxt_encode(reinterpret_cast<const uint8_t*>(text.data()), text.size(), &out), 0);
  return out;
}

}  // namespace

TEST(FtxtWrite, LaysOutTheFormByteForByte) {
  // 5 bytes: form length 18, CHRS length 5, one pad byte.
  EXPECT_EQ(encode("Hello"),
            bytes("FORM") + be32(18) + bytes("FTXTCHRS") + be32(5) + bytes("Hello") + Bytes{0});
  // 4 bytes: form length 16, no pad.
  EXPECT_EQ(encode("Kave"), bytes("FORM") + be32(16) + bytes("FTXTCHRS") + be32(4) + bytes("Kave"));
  // No text: a CHRS chunk of length 0.
  EXPECT_EQ(encode(""), bytes("FORM") + be32(12) + bytes("FTXTCHRS") + be32(0));
  // Text bytes go out unchanged, NUL and 255 included.
  EXPECT_EQ(encode(std::string("a\0\xff\n", 4)),
            bytes("FORM") + be32(16) + bytes("FTXTCHRS") + be32(4) + (Bytes{'a', 0, 0xFF, '\n'}));
}

TEST(FtxtWrite, PiecesAreTheFormInOrder) {
  for (size_t n : {0u, 1u, 4u, 5u, 1023u, 1024u}) {
    const std::string text(n, 'x');
    uint8_t head[FTXT_FORM_HEADER_BYTES];
    uint8_t chrs[FTXT_CHUNK_HEADER_BYTES];
    ASSERT_EQ(ftxt_form_header(n, head), 0);
    ASSERT_EQ(ftxt_chrs_header(n, chrs), 0);
    Bytes pieces = Bytes(head, head + sizeof head) + Bytes(chrs, chrs + sizeof chrs) + bytes(text);
    pieces.resize(pieces.size() + ftxt_pad_bytes(n), 0);
    EXPECT_EQ(pieces, encode(text)) << n;
    EXPECT_EQ(pieces.size(), ftxt_form_bytes(n)) << n;
  }
}

TEST(FtxtWrite, RefusesTextWhoseLengthsDoNotFit) {
  uint8_t head[FTXT_FORM_HEADER_BYTES] = {};
  uint8_t chrs[FTXT_CHUNK_HEADER_BYTES] = {};
  EXPECT_EQ(ftxt_form_header(FTXT_MAX_TEXT + 1, head), -1);
  EXPECT_EQ(ftxt_chrs_header(FTXT_MAX_TEXT + 1, chrs), -1);
  // The largest text still gets a form length that fits: 12 + n + pad.
  ASSERT_EQ(ftxt_form_header(FTXT_MAX_TEXT, head), 0);
  EXPECT_EQ(Bytes(head + 4, head + 8), be32(0xFFFFFFFEu));
  Bytes out{1, 2, 3};
  EXPECT_EQ(ftxt_encode(nullptr, 3, &out), -1);
  EXPECT_TRUE(out.empty());
}

TEST(FtxtRead, FindsTheFirstChrsChunkThatFits) {
  struct Case {
    const char* name;
    Bytes data;
    bool found;
    std::string text;
  };
  const Bytes chrs5 = chunk("CHRS", "Hello");
  const std::vector<Case> cases = {
      {"own form, odd", encode("Hello"), true, "Hello"},
      {"own form, even", encode("Kave"), true, "Kave"},
      {"own form, empty", encode(""), true, ""},
      {"author chunk first, odd with pad", form("FTXT", chunk("AUTH", "Ann") + chrs5, 0), true,
       "Hello"},
      {"two chunks before", form("FTXT", chunk("FVER", "1.0") + chunk("AUTH", "Bo") + chrs5, 0),
       true, "Hello"},
      {"first CHRS wins", form("FTXT", chrs5 + chunk("CHRS", "other"), 40), true, "Hello"},
      {"form length not examined", form("FTXT", chrs5, 0xFFFFFFFF), true, "Hello"},
      {"pad of the text may be missing", form("FTXT", chunk("CHRS", "Hello", false), 18), true,
       "Hello"},
      {"picture", form("ILBM", chunk("BMHD", std::string(20, 'b')), 40), false, ""},
      {"not a form", bytes("CAT ") + be32(18) + bytes("FTXT") + chrs5, false, ""},
      {"no CHRS at all", form("FTXT", chunk("AUTH", "Ann"), 16), false, ""},
      {"shorter than 20 bytes", first(encode(""), 19), false, ""},
      {"text beyond the bytes read", form("FTXT", bytes("CHRS") + be32(6) + bytes("Hello"), 18),
       false, ""},
      {"CHRS length near 2^32", form("FTXT", bytes("CHRS") + be32(0xFFFFFFFF) + bytes("x"), 0),
       false, ""},
      {"skipped chunk length near 2^32 cannot wrap",
       form("FTXT", bytes("AUTH") + be32(0xFFFFFFF8) + chrs5, 0), false, ""},
      {"skipped chunk runs past the end", form("FTXT", bytes("AUTH") + be32(9) + bytes("abc"), 0),
       false, ""},
      {"chunk header cut short after a skipped chunk",
       form("FTXT", chunk("AUTH", "Ann") + bytes("CHR"), 0), false, ""},
  };
  for (const Case& c : cases) {
    size_t off = 99, len = 99;
    const int rc = ftxt_find_text(c.data.data(), c.data.size(), &off, &len);
    EXPECT_EQ(rc == 0, c.found) << c.name;
    if (rc == 0 && c.found) {
      ASSERT_LE(off + len, c.data.size()) << c.name;
      EXPECT_EQ(std::string(c.data.begin() + off, c.data.begin() + off + len), c.text) << c.name;
    }
  }
}

TEST(FtxtRead, AFormLongerThanTheBytesReadYieldsNothing) {
  // A reader that stops at 262144 bytes sees the start of a larger form:
  // its CHRS chunk does not lie wholly within, so there is no text at all.
  const std::string text(300000, 'z');
  const Bytes whole = encode(text);
  size_t off = 0, len = 0;
  ASSERT_EQ(ftxt_find_text(whole.data(), whole.size(), &off, &len), 0);
  EXPECT_EQ(len, text.size());
  EXPECT_EQ(ftxt_find_text(whole.data(), 262144, &off, &len), -1);
  EXPECT_EQ(ftxt_find_text(nullptr, 100, &off, &len), -1);
}
