// Still pictures of the 8-bit palettised frame: PNG (libpng, 8-bit
// palettised), BMP (8-bit with a 256-entry palette), JPEG (libjpeg, the
// palette expanded to RGB) and GIF (giflib, the 256-entry palette as the
// global colour map). Used by the runner's --screenshot and by the still
// captures.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "devices/gate_array.h"

enum class ImageFormat { Png, Bmp, Jpeg, Gif, Unknown };

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
// quality: 1..100 (values outside are clamped).
ImageResult WriteJpeg(const std::filesystem::path& file, const uint8_t* pixels, int width, int height,
                      const std::array<Rgb, 256>& palette, int quality);
ImageResult WriteGif(const std::filesystem::path& file, const uint8_t* pixels, int width, int height,
                     const std::array<Rgb, 256>& palette);
// By format; jpegQuality applies to JPEG only.
ImageResult WriteImageAs(ImageFormat format, const std::filesystem::path& file, const uint8_t* pixels, int width,
                         int height, const std::array<Rgb, 256>& palette, int jpegQuality = 80);
// Chooses the writer by extension.
ImageResult WriteImage(const std::filesystem::path& file, const uint8_t* pixels, int width, int height,
                       const std::array<Rgb, 256>& palette, int jpegQuality = 80);

struct Machine;
// The machine's last finished picture, by extension, into a folder made when
// missing (pictures a script or the program asks for); empty, or the error.
std::string WriteFramePicture(const Machine& m, const std::filesystem::path& file, int jpegQuality);

// A stretched draw of a width x height picture into outWidth x outHeight:
// each output pixel takes the source pixel its position maps to. For the
// half-size still the lower row of each pair is taken, the one that carries
// the picture when alternate scan lines are dark.
std::vector<uint8_t> StretchPicture(const uint8_t* pixels, int width, int height, int outWidth, int outHeight);
