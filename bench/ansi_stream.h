// The byte stream of the terminal benchmarks: a typical BBS session's mix
// of text, colours and cursor control, made the same way every time, so that
// Kavel's figures and another terminal's can be compared on the same bytes.
#pragma once
#include <cstdint>
#include <random>
#include <string>

// Mostly printable CP437 text in lines of 40..79 characters ending in CR LF
// (scrolling once the screen is full), with SGR colour changes every few
// words, and now and then a cursor jump, an erase to end of line or a clear.
// With rgb the colour changes are 24-bit (SGR 38;2 and 48;2) instead of the
// sixteen, from a few hundred colours.
inline std::string make_stream(size_t bytes, bool rgb = false) {
  std::mt19937 rng(20240611);
  std::string s;
  s.reserve(bytes + 256);
  while (s.size() < bytes) {
    int line_len = 40 + static_cast<int>(rng() % 40);
    for (int col = 0; col < line_len;) {
      if (rng() % 12 == 0) {
        if (rgb) {
          auto c = [&rng] { return std::to_string(rng() % 8 * 36); };
          s += "\x1b[38;2;" + c() + ";" + c() + ";" + c() + ";48;2;" + c() + ";" + c() + ";" + c() +
               "m";
        } else {
          s += "\x1b[" + std::to_string(rng() % 2) + ";3" + std::to_string(rng() % 8) + ";4" +
               std::to_string(rng() % 8) + "m";
        }
      }
      int word = 1 + static_cast<int>(rng() % 8);
      for (int k = 0; k < word && col < line_len; k++, col++) {
        uint32_t r = rng() % 100;
        char c = r < 90 ? static_cast<char>(33 + rng() % 94) : static_cast<char>(128 + rng() % 128);
        s.push_back(c);
      }
      if (col < line_len) {
        s.push_back(' ');
        col++;
      }
    }
    uint32_t r = rng() % 100;
    if (r < 8) {
      s += "\x1b[K";
    } else if (r < 12) {
      s += "\x1b[" + std::to_string(1 + rng() % 25) + ";" + std::to_string(1 + rng() % 80) + "H";
    } else if (r == 12) {
      s += "\x1b[2J";
    }
    s += "\r\n";
  }
  return s;
}
