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

TEST(Sauce, StripsRecordCommentsAndEofMarker) {
  const std::string art = "\x1b[31mart\r\n";
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
      {"EOF byte inside the record", art + "\x1a" + record(0).replace(90, 1, "\x1a"), art.size()},
      {"lone EOF marker", art + "\x1a", art.size()},
      {"block padding after the EOF", art + std::string(37, '\x1a'), art.size()},
      {"record then block padding", art + "\x1a" + record(0) + std::string(10, '\x1a'), art.size()},
      {"text after an EOF in the middle", art + "\x1a" + "not art", art.size()},
      {"short file", "ab", 2},
      {"record only", record(0), 0},
      {"empty", "", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(content(c.file), c.expected) << c.name;
  EXPECT_EQ(sauce_content_length(nullptr, 10), 0u);
}

}  // namespace
