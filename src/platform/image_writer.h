// Still pictures of the 8-bit palettised frame: PNG (through libpng, 8-bit
// palettised) and BMP (8-bit with a 256-entry palette). Used by the runner's
// --screenshot and by the still captures.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

#include "devices/gate_array.h"

enum class ImageFormat { Png, Bmp, Unknown };

// By extension, case-insensitive.
ImageFormat ImageFormatOf(const std::filesystem::path& file);

struct ImageResult {
  bool Ok = true;
  std::string Error;  // set when !Ok
};

// pixels: height rows of width palette indices, top row first.
ImageResult WritePng(const std::filesystem::path& file, const uint8_t* pixels, int width, int height,
                     const std::array<Rgb, 256>& palette);
ImageResult WriteBmp(const std::filesystem::path& file, const uint8_t* pixels, int width, int height,
                     const std::array<Rgb, 256>& palette);
// Chooses the writer by extension.
ImageResult WriteImage(const std::filesystem::path& file, const uint8_t* pixels, int width, int height,
                       const std::array<Rgb, 256>& palette);
