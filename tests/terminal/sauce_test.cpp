#include "terminal/sauce.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string record(int comments) {
  std::string r = "SAUCE00" + std::string(121, ' ');
  r[104] = static_cast<char>(comments);
  return r;
}

size_t content(const std::string& s) {
  return sauce_content_length(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

TEST(Sauce, StripsRecordCommentsAndTheEofBeforeIt) {
  const std::string art = "\x1b[31mart\r\n";
  std::string eof_in_record = record(0);
  eof_in_record[90] = '\x1a';
  const struct {
    const char* name;
    std::string file;
    size_t expected;
  } cases[] = {
      {"plain file", art, art.size()},
      {"record after EOF", art + "\x1a" + record(0), art.size()},
      {"record without EOF", art + record(0), art.size()},
      {"two comment lines", art + "\x1a" + "COMNT" + std::string(128, 'c') + record(2), art.size()},
      {"comment count without a block", art + std::string(69, 'x') + record(1), art.size() + 69},
      {"comment block without EOF", art + "\x1b" + "COMNT" + std::string(64, 'c') + record(1),
       art.size() + 1},
      {"EOF byte inside the record", art + "\x1a" + eof_in_record, art.size()},
      {"record then block padding", art + "\x1a" + record(0) + std::string(10, '\x1a'), art.size()},
      {"text between the EOF and the record", art + "\x1a" + "junk" + record(0), art.size()},
      // Without a record 0x1A is content: PETSCII streams and CP437
      // pictures hold it.
      {"lone EOF byte", art + "\x1a", art.size() + 1},
      {"EOF bytes without a record", art + std::string(37, '\x1a'), art.size() + 37},
      {"text after an EOF byte", art + "\x1a" + "more", art.size() + 5},
      {"a record's name without its 128 bytes", art + "\x1a" + "SAUCE00", art.size() + 8},
      {"short file", "ab", 2},
      {"record only", record(0), 0},
      {"empty", "", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(content(c.file), c.expected) << c.name;
  EXPECT_EQ(sauce_content_length(nullptr, 10), 0u);
}

// What the screen save writes reads back: the content, the iCE flag, the
// title, date, size and the comment naming the program.
TEST(Sauce, WrittenRecordReadsBack) {
  const std::string art = "\x1b[0;1;44mart";
  const std::string title(50, 'T');
  for (int ice : {0, 1}) {
    SauceInfo info{title.c_str(), "Kavel 0.20", 2026, 12, 8, 80, 25, ice};
    const std::string file = sauce_append(art, info);
    const auto* d = reinterpret_cast<const uint8_t*>(file.data());
    ASSERT_EQ(file.size(), art.size() + 1 + 69 + 128);
    EXPECT_EQ(sauce_content_length(d, file.size()), art.size());
    EXPECT_EQ(sauce_ice_colours(d, file.size()), ice);
    const std::string r = file.substr(file.size() - 128);
    EXPECT_EQ(r.substr(0, 42), "SAUCE00" + std::string(35, 'T'));
    EXPECT_EQ(r.substr(82, 8), "20261208");
    EXPECT_EQ(r.substr(90, 4), std::string("\x0c\0\0\0", 4));  // FileSize, little-endian
    EXPECT_EQ(r.substr(96, 4), std::string("\x50\0\x19\0", 4));  // 80 x 25
    EXPECT_EQ(file.substr(art.size() + 1, 15), "COMNTKavel 0.20");
  }
}

}  // namespace
