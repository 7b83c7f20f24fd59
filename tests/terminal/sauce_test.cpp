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

}  // namespace
