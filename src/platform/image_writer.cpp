#include "platform/image_writer.h"

#include "core/machine.h"
#include "devices/renderer.h"

#include <gif_lib.h>
#include <png.h>

// jpeglib.h wants size_t and FILE declared before it.
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>

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
  if (ext == ".jpg" || ext == ".jpeg") return ImageFormat::Jpeg;
  if (ext == ".gif") return ImageFormat::Gif;
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

namespace {

struct JpegError {
  jpeg_error_mgr Manager;
  std::jmp_buf Jump;
};

[[noreturn]] void JpegErrorExit(j_common_ptr info) {
  // libjpeg's default ends the process; unwind to the writer instead.
  std::longjmp(reinterpret_cast<JpegError*>(info->err)->Jump, 1);
}

}  // namespace

ImageResult WriteJpeg(const std::filesystem::path& file, const uint8_t* pixels, int width, int height,
                      const std::array<Rgb, 256>& palette, int quality) {
  if (!ValidSize(width, height)) return Failure("bad picture size", file);
  const int clampedQuality = std::clamp(quality, 1, 100);
  File f(std::fopen(file.c_str(), "wb"));
  if (!f) return Failure("cannot create file", file);
  std::vector<uint8_t> row(static_cast<size_t>(width) * 3);

  jpeg_compress_struct info{};
  JpegError error{};
  info.err = jpeg_std_error(&error.Manager);
  error.Manager.error_exit = JpegErrorExit;
  // Nothing with a destructor is created from here to the end of the writing.
  if (setjmp(error.Jump)) {
    jpeg_destroy_compress(&info);
    return Failure("error while writing JPEG", file);
  }
  jpeg_create_compress(&info);
  jpeg_stdio_dest(&info, f.get());
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, clampedQuality, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    const uint8_t* src = pixels + static_cast<size_t>(info.next_scanline) * width;
    for (int x = 0; x < width; ++x) {
      const Rgb& c = palette[src[x]];
      row[x * 3] = c.R;
      row[x * 3 + 1] = c.G;
      row[x * 3 + 2] = c.B;
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  if (std::fflush(f.get()) != 0 || std::ferror(f.get())) return Failure("error while writing JPEG", file);
  return {};
}

ImageResult WriteGif(const std::filesystem::path& file, const uint8_t* pixels, int width, int height,
                     const std::array<Rgb, 256>& palette) {
  if (!ValidSize(width, height)) return Failure("bad picture size", file);
  GifColorType colours[256];
  for (int i = 0; i < 256; ++i) colours[i] = {palette[i].R, palette[i].G, palette[i].B};
  ColorMapObject* map = GifMakeMapObject(256, colours);
  if (!map) return Failure("cannot write GIF", file);
  int error = 0;
  GifFileType* gif = EGifOpenFileName(file.c_str(), false, &error);
  if (!gif) {
    GifFreeMapObject(map);
    return Failure("cannot create file", file);
  }
  bool ok = EGifPutScreenDesc(gif, width, height, 8, 0, map) == GIF_OK &&
            EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr) == GIF_OK;
  std::vector<GifPixelType> row(static_cast<size_t>(width));
  for (int y = 0; ok && y < height; ++y) {
    std::copy_n(pixels + static_cast<size_t>(y) * width, width, row.begin());
    ok = EGifPutLine(gif, row.data(), width) == GIF_OK;
  }
  ok = EGifCloseFile(gif, &error) == GIF_OK && ok;
  GifFreeMapObject(map);
  if (!ok) return Failure("error while writing GIF", file);
  return {};
}

ImageResult WriteImageAs(ImageFormat format, const std::filesystem::path& file, const uint8_t* pixels, int width,
                         int height, const std::array<Rgb, 256>& palette, int jpegQuality) {
  switch (format) {
    case ImageFormat::Png:
      return WritePng(file, pixels, width, height, palette);
    case ImageFormat::Bmp:
      return WriteBmp(file, pixels, width, height, palette);
    case ImageFormat::Jpeg:
      return WriteJpeg(file, pixels, width, height, palette, jpegQuality);
    case ImageFormat::Gif:
      return WriteGif(file, pixels, width, height, palette);
    default:
      return Failure("unknown picture format (use .png, .bmp, .jpg or .gif)", file);
  }
}

ImageResult WriteImage(const std::filesystem::path& file, const uint8_t* pixels, int width, int height,
                       const std::array<Rgb, 256>& palette, int jpegQuality) {
  return WriteImageAs(ImageFormatOf(file), file, pixels, width, height, palette, jpegQuality);
}

std::string WriteFramePicture(const Machine& m, const std::filesystem::path& file, int jpegQuality) {
  std::error_code ec;
  if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), ec);
  const ImageResult written =
      WriteImage(file, &m.Video.FrameBitmap[0][0], kFrameWidth, kFrameHeight, FramePalette(), jpegQuality);
  return written.Ok ? std::string() : written.Error;
}

std::vector<uint8_t> StretchPicture(const uint8_t* pixels, int width, int height, int outWidth, int outHeight) {
  if (width <= 0 || height <= 0 || outWidth <= 0 || outHeight <= 0) return {};
  std::vector<uint8_t> out(static_cast<size_t>(outWidth) * outHeight);
  // Centre sampling: halving takes the odd column and row of each pair.
  std::vector<int> columns(outWidth);
  for (int x = 0; x < outWidth; ++x)
    columns[x] = static_cast<int>((2LL * x + 1) * width / (2LL * outWidth));
  for (int y = 0; y < outHeight; ++y) {
    const int sy = static_cast<int>((2LL * y + 1) * height / (2LL * outHeight));
    const uint8_t* src = pixels + static_cast<size_t>(sy) * width;
    uint8_t* dst = &out[static_cast<size_t>(y) * outWidth];
    for (int x = 0; x < outWidth; ++x) dst[x] = src[columns[x]];
  }
  return out;
}
