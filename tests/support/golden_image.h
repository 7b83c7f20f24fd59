// Golden-image comparison for the renderer, PETSCII, surface, status bar and dialog tests.
//
// A golden image is the RGB crop of a window, compared pixel by pixel with
// tests/golden/NAME.png.  On a mismatch the actual image and a diff
// (differing pixels red) are written to BUILD/golden-failures/.
// KAVEL_UPDATE_GOLDEN=1 rewrites the golden files instead.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/display.h"
#include "platform/png.h"
#include "support/test_support.h"

namespace golden {

inline uint32_t rgb_at(const PlatWindow* w, int x, int y) {
  return plat_pen_rgb(plat_window_screen(w), plat_read_pixel(w, x, y));
}

inline std::vector<uint8_t> crop_rgb(const PlatWindow* w, int x0, int y0, int width, int height) {
  std::vector<uint8_t> out;
  out.reserve(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
  for (int y = y0; y < y0 + height; y++)
    for (int x = x0; x < x0 + width; x++) {
      uint32_t rgb = rgb_at(w, x, y);
      out.push_back(static_cast<uint8_t>(rgb >> 16));
      out.push_back(static_cast<uint8_t>(rgb >> 8));
      out.push_back(static_cast<uint8_t>(rgb));
    }
  return out;
}

inline void expect_golden(const std::string& name, const PlatWindow* w, int x0, int y0, int width,
                          int height) {
  std::vector<uint8_t> actual = crop_rgb(w, x0, y0, width, height);
  std::string path = source_path("tests/golden/" + name + ".png");
  const char* update = std::getenv("KAVEL_UPDATE_GOLDEN");
  if (update && *update == '1') {
    ASSERT_EQ(png_write_rgb(path.c_str(), width, height, actual.data()), 0);
    return;
  }
  int gw = 0, gh = 0;
  std::vector<uint8_t> expected;
  ASSERT_EQ(png_read_rgb(path.c_str(), &gw, &gh, &expected), 0) << "cannot read " << path;
  if (gw == width && gh == height && expected == actual) return;

  std::string dir = binary_path("golden-failures");
  std::filesystem::create_directories(dir);
  std::string actual_path = dir + "/" + name + ".actual.png";
  png_write_rgb(actual_path.c_str(), width, height, actual.data());
  std::string diff_path;
  if (gw == width && gh == height) {
    std::vector<uint8_t> diff(actual.size());
    for (size_t i = 0; i < actual.size(); i += 3) {
      bool differs = std::memcmp(&actual[i], &expected[i], 3) != 0;
      diff[i] = differs ? 255 : actual[i] / 4;
      diff[i + 1] = differs ? 0 : actual[i + 1] / 4;
      diff[i + 2] = differs ? 0 : actual[i + 2] / 4;
    }
    diff_path = dir + "/" + name + ".diff.png";
    png_write_rgb(diff_path.c_str(), width, height, diff.data());
  }
  ADD_FAILURE() << name << " differs from " << path << " (" << gw << "x" << gh << " expected, "
                << width << "x" << height << " drawn); actual in " << actual_path
                << (diff_path.empty() ? "" : ", diff in " + diff_path);
}

}  // namespace golden
