// BMP pictures decoded with SDL's loader, and written back out for screenshots.
#pragma once

#include <cstddef>
#include <string>

#include "platform/gdi.h"

namespace plat {

// Decodes a BMP file held in memory; null with a reason in *error when it is not a BMP SDL can read.
Bitmap* decode_bmp(const void* data, size_t size, std::string* error = nullptr);
// Loads a BMP file; null with a reason in *error when it is missing or unreadable.
Bitmap* load_bmp_file(const char* path, std::string* error = nullptr);
// Writes an uncompressed 24-bit BMP; false when the file cannot be written.
bool save_bmp_file(const Bitmap* bitmap, const char* path);

}  // namespace plat
