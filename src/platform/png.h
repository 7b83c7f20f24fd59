// PNG files for snapshots, golden images and font sheets.
#pragma once
#include <cstdint>
#include <vector>

// Writes width x height RGB pixels (3 bytes each, row-major); 0 on success.
int png_write_rgb(const char* path, int width, int height, const uint8_t* rgb);
// Reads a PNG as RGB; 0 on success.
int png_read_rgb(const char* path, int* width, int* height, std::vector<uint8_t>* rgb);
