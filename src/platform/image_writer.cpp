#include "platform/image_writer.h"

#include <png.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

ImageResult Failure(const std::string& what, const std::filesystem::path& file) {
  return {false, what + ": " + file.string()};
}

bool ValidSize(int width, int height) { return width > 0 && height > 0 && width <= 65535 && height <= 65535; }

void PutLe16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void PutLe32(std::vector<uint8_t>& out, uint32_t v) {
  PutLe16(out, v & 0xFFFF);
  PutLe16(out, v >> 16);
}

}  // namespace

ImageFormat ImageFormatOf(const std::filesystem::path& file) {
  std::string ext = file.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char ch) { return std::tolower(ch); });
  if (ext == ".png") return ImageFormat::Png;
  if (ext == ".bmp") return ImageFormat::Bmp;
  return ImageFormat::Unknown;
}

ImageResult WritePng(const std::filesystem::path& file, const uint8_t* pixels, int width, int height,
                     const std::array<Rgb, 256>& palette) {
  if (!ValidSize(width, height)) return Failure("bad picture size", file);
  File f(std::fopen(file.c_str(), "wb"));
  if (!f) return Failure("cannot create file", file);

  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return Failure("cannot write PNG", file);
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return Failure("cannot write PNG", file);
  }
  std::vector<png_bytep> rows(height);
  png_color colours[256];
  // libpng reports errors by longjmp: nothing with a destructor may be
  // created from here to the end of the writing.
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return Failure("error while writing PNG", file);
  }
  png_init_io(png, f.get());
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  for (int i = 0; i < 256; ++i) colours[i] = {palette[i].R, palette[i].G, palette[i].B};
  png_set_PLTE(png, info, colours, 256);
  for (int y = 0; y < height; ++y) rows[y] = const_cast<png_bytep>(pixels + static_cast<size_t>(y) * width);
  png_set_rows(png, info, rows.data());
  png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  png_destroy_write_struct(&png, &info);
  if (std::fflush(f.get()) != 0 || std::ferror(f.get())) return Failure("error while writing PNG", file);
  return {};
}

ImageResult WriteBmp(const std::filesystem::path& file, const uint8_t* pixels, int width, int height,
                     const std::array<Rgb, 256>& palette) {
  if (!ValidSize(width, height)) return Failure("bad picture size", file);
  const uint32_t stride = (static_cast<uint32_t>(width) + 3) & ~3u;  // rows padded to 4 bytes
  const uint32_t dataOffset = 14 + 40 + 256 * 4;
  const uint32_t imageSize = stride * static_cast<uint32_t>(height);

  std::vector<uint8_t> out;
  out.reserve(dataOffset + imageSize);
  out.push_back('B');
  out.push_back('M');
  PutLe32(out, dataOffset + imageSize);
  PutLe32(out, 0);
  PutLe32(out, dataOffset);
  PutLe32(out, 40);  // BITMAPINFOHEADER
  PutLe32(out, static_cast<uint32_t>(width));
  PutLe32(out, static_cast<uint32_t>(height));  // positive: bottom row first
  PutLe16(out, 1);
  PutLe16(out, 8);
  PutLe32(out, 0);  // BI_RGB
  PutLe32(out, imageSize);
  PutLe32(out, 2835);  // 72 dpi
  PutLe32(out, 2835);
  PutLe32(out, 256);
  PutLe32(out, 0);
  for (const Rgb& c : palette) {
    out.push_back(c.B);
    out.push_back(c.G);
    out.push_back(c.R);
    out.push_back(0);
  }
  for (int y = height - 1; y >= 0; --y) {
    const uint8_t* row = pixels + static_cast<size_t>(y) * width;
    out.insert(out.end(), row, row + width);
    out.insert(out.end(), stride - width, 0);
  }

  File f(std::fopen(file.c_str(), "wb"));
  if (!f) return Failure("cannot create file", file);
  if (std::fwrite(out.data(), 1, out.size(), f.get()) != out.size() || std::fflush(f.get()) != 0)
    return Failure("error while writing BMP", file);
  return {};
}

ImageResult WriteImage(const std::filesystem::path& file, const uint8_t* pixels, int width, int height,
                       const std::array<Rgb, 256>& palette) {
  switch (ImageFormatOf(file)) {
    case ImageFormat::Png:
      return WritePng(file, pixels, width, height, palette);
    case ImageFormat::Bmp:
      return WriteBmp(file, pixels, width, height, palette);
    default:
      return Failure("unknown picture format (use .png or .bmp)", file);
  }
}
