#include "platform/capture.h"

#include <gif_lib.h>
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>

#include "cli_support.h"
#include "core/emulation_thread.h"
#include "core/machine.h"

namespace fs = std::filesystem;

namespace {

struct Picture {
  int Width = 0, Height = 0;
  std::vector<Rgb> Pixels;
  Rgb At(int x, int y) const { return Pixels[static_cast<size_t>(y) * Width + x]; }
};

std::vector<uint8_t> ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t Le32(const std::vector<uint8_t>& d, size_t at) {
  return d[at] | d[at + 1] << 8 | d[at + 2] << 16 | static_cast<uint32_t>(d[at + 3]) << 24;
}

// Each decoder is the library the writer used (BMP: the format read by hand).
Picture DecodePng(const fs::path& file) {
  Picture p;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, file.c_str())) return p;
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return p;
  p.Width = static_cast<int>(image.width);
  p.Height = static_cast<int>(image.height);
  for (size_t i = 0; i + 2 < rgb.size(); i += 3) p.Pixels.push_back({rgb[i], rgb[i + 1], rgb[i + 2]});
  return p;
}

Picture DecodeBmp(const fs::path& file) {
  Picture p;
  const std::vector<uint8_t> d = ReadAll(file);
  if (d.size() < 1078 || d[0] != 'B' || d[1] != 'M' || (d[28] | d[29] << 8) != 8) return p;
  p.Width = static_cast<int>(Le32(d, 18));
  p.Height = static_cast<int>(Le32(d, 22));
  const size_t stride = (static_cast<size_t>(p.Width) + 3) & ~size_t{3};
  const size_t data = Le32(d, 10);
  if (d.size() < data + stride * p.Height) return {};
  for (int y = 0; y < p.Height; ++y)
    for (int x = 0; x < p.Width; ++x) {
      const uint8_t index = d[data + (p.Height - 1 - y) * stride + x];
      p.Pixels.push_back({d[54 + index * 4 + 2], d[54 + index * 4 + 1], d[54 + index * 4]});
    }
  return p;
}

struct JpegFailure {
  jpeg_error_mgr Manager;
  std::jmp_buf Jump;
};

Picture DecodeJpeg(const fs::path& file) {
  Picture p;
  std::FILE* f = std::fopen(file.c_str(), "rb");
  if (!f) return p;
  jpeg_decompress_struct info{};
  JpegFailure error{};
  info.err = jpeg_std_error(&error.Manager);
  error.Manager.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<JpegFailure*>(c->err)->Jump, 1); };
  std::vector<uint8_t> rgb;
  if (setjmp(error.Jump)) {
    jpeg_destroy_decompress(&info);
    std::fclose(f);
    return {};
  }
  jpeg_create_decompress(&info);
  jpeg_stdio_src(&info, f);
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  rgb.resize(static_cast<size_t>(info.output_width) * info.output_height * 3);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = rgb.data() + static_cast<size_t>(info.output_scanline) * info.output_width * 3;
    jpeg_read_scanlines(&info, &row, 1);
  }
  p.Width = static_cast<int>(info.output_width);
  p.Height = static_cast<int>(info.output_height);
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  std::fclose(f);
  for (size_t i = 0; i + 2 < rgb.size(); i += 3) p.Pixels.push_back({rgb[i], rgb[i + 1], rgb[i + 2]});
  return p;
}

Picture DecodeGif(const fs::path& file) {
  Picture p;
  int error = 0;
  GifFileType* gif = DGifOpenFileName(file.c_str(), &error);
  if (!gif) return p;
  if (DGifSlurp(gif) == GIF_OK && gif->ImageCount >= 1 && gif->SColorMap) {
    const SavedImage& image = gif->SavedImages[0];
    p.Width = image.ImageDesc.Width;
    p.Height = image.ImageDesc.Height;
    const ColorMapObject* map = image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap;
    for (int i = 0; i < p.Width * p.Height; ++i) {
      const GifColorType& c = map->Colors[image.RasterBits[i]];
      p.Pixels.push_back({c.Red, c.Green, c.Blue});
    }
  }
  DGifCloseFile(gif, &error);
  return p;
}

Picture Decode(ImageFormat format, const fs::path& file) {
  switch (format) {
    case ImageFormat::Png: return DecodePng(file);
    case ImageFormat::Bmp: return DecodeBmp(file);
    case ImageFormat::Jpeg: return DecodeJpeg(file);
    case ImageFormat::Gif: return DecodeGif(file);
    default: return {};
  }
}

// 32 x 32 blocks of colour and green monitor entries and black, with every
// other row dark in the bottom band, as single scan lines leave it.
std::vector<uint8_t> KnownFrame() {
  std::vector<uint8_t> frame(static_cast<size_t>(kFrameWidth) * kFrameHeight);
  for (int y = 0; y < kFrameHeight; ++y)
    for (int x = 0; x < kFrameWidth; ++x) {
      uint8_t index = static_cast<uint8_t>((x / 32 + (y / 32) * 7) % 64);
      if (y >= 512 && y % 2 == 0) index = kBlackColour;
      frame[static_cast<size_t>(y) * kFrameWidth + x] = index;
    }
  return frame;
}

class TempDir {
 public:
  explicit TempDir(const char* what) {
    path_ = fs::temp_directory_path() / (std::string("pellucidore-") + what + "-" + std::to_string(::getpid()));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempDir() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

int Distance(Rgb a, Rgb b) {
  return std::max({std::abs(a.R - b.R), std::abs(a.G - b.G), std::abs(a.B - b.B)});
}

}  // namespace

TEST(Stills, EveryFormatAndSizeDecodesBackToTheFrameColours) {
  TempDir dir("stills");
  const std::vector<uint8_t> frame = KnownFrame();
  const std::array<Rgb, 256> palette = FramePalette();
  struct Case {
    ImageFormat Format;
    const char* Extension;
    int Tolerance;
  };
  for (const Case c : {Case{ImageFormat::Bmp, ".bmp", 0}, Case{ImageFormat::Jpeg, ".jpg", 24},
                       Case{ImageFormat::Gif, ".gif", 0}, Case{ImageFormat::Png, ".png", 0}}) {
    for (const bool half : {false, true}) {
      SCOPED_TRACE(std::string(c.Extension) + (half ? " half" : " full"));
      const StillResult r = WriteStill(dir.path() / (half ? "half" : "full"), frame.data(), {c.Format, 90, half});
      ASSERT_TRUE(r.Ok) << r.Error;
      EXPECT_EQ(r.File.filename().string(), std::string(half ? "half" : "full") + c.Extension);
      const Picture p = Decode(c.Format, r.File);
      ASSERT_EQ(p.Width, half ? 384 : 768);
      ASSERT_EQ(p.Height, half ? 288 : 576);
      const int scale = half ? 2 : 1;
      // Block centres, and in the striped band the rows that carry the picture.
      // JPEG cannot keep alternate dark rows; the striped band is for the others.
      for (int y = 16; y < (c.Format == ImageFormat::Jpeg ? 512 : 576); y += 32)
        for (int x = 16; x < 768; x += 64) {
          const int sy = y >= 512 ? y + 1 : y;
          const Rgb want = palette[frame[static_cast<size_t>(sy) * kFrameWidth + x]];
          const Rgb got = p.At(x / scale, sy / scale);
          EXPECT_LE(Distance(got, want), c.Tolerance) << "at " << x << "," << sy;
        }
    }
  }
}

TEST(Stills, JpegQualityChangesTheFileAndBadPathsFail) {
  TempDir dir("jpegq");
  const std::vector<uint8_t> frame = KnownFrame();
  const StillResult low = WriteStill(dir.path() / "low", frame.data(), {ImageFormat::Jpeg, 5, false});
  const StillResult high = WriteStill(dir.path() / "high", frame.data(), {ImageFormat::Jpeg, 100, false});
  ASSERT_TRUE(low.Ok && high.Ok);
  EXPECT_LT(fs::file_size(low.File) * 3 / 2, fs::file_size(high.File));
  for (ImageFormat f : {ImageFormat::Bmp, ImageFormat::Jpeg, ImageFormat::Gif, ImageFormat::Png}) {
    const StillResult r = WriteStill("/nonexistent-folder/x", frame.data(), {f, 80, false});
    EXPECT_FALSE(r.Ok);
    EXPECT_FALSE(r.Error.empty());
  }
}

TEST(Stills, NameRules) {
  struct Ext {
    const char* Name;
    ImageFormat Format;
    const char* Want;
  };
  for (const Ext& e : {Ext{"picture.png", ImageFormat::Bmp, "picture.png.bmp"},
                       Ext{"picture", ImageFormat::Png, "picture.png"},
                       Ext{"PICTURE.BMP", ImageFormat::Bmp, "PICTURE.BMP"},
                       Ext{"shot.jpeg", ImageFormat::Jpeg, "shot.jpeg"},
                       Ext{"shot.gif", ImageFormat::Jpeg, "shot.gif.jpg"},
                       Ext{"a.bmp.old", ImageFormat::Bmp, "a.bmp.old"},
                       Ext{"dir.gif/x", ImageFormat::Gif, "dir.gif/x.gif"}})
    EXPECT_EQ(WithStillExtension(e.Name, e.Format).string(), e.Want) << e.Name;

  EXPECT_EQ(StillNamePart(true, "/disks/game.dsk"), "");
  EXPECT_EQ(StillNamePart(true, "/disks/GAME.DSK"), "GAME");
  EXPECT_EQ(StillNamePart(true, "/disks/TWO.DSK.DSK"), "TWO");
  EXPECT_EQ(StillNamePart(true, ""), "CPC ScreenShot");
  EXPECT_EQ(StillNamePart(false, "/disks/GAME.DSK"), "CPC ScreenShot");

  std::tm when{};
  when.tm_mday = 3;
  when.tm_mon = 0;
  when.tm_year = 124;
  when.tm_hour = 9;
  when.tm_min = 5;
  when.tm_sec = 7;
  EXPECT_EQ(CaptureDateTime(when), "3-1-2024 at 9-5-7");
  EXPECT_EQ(StillBaseName("/s/", StillNamePart(true, "game.dsk"), when).string(), "/s/ (3-1-2024 at 9-5-7)");
  EXPECT_EQ(StillBaseName("/s/", "CPC ScreenShot", when).string(), "/s/CPC ScreenShot (3-1-2024 at 9-5-7)");
  EXPECT_EQ(CaptureFileName("/c/", "CPCAVI", ".AVI", when).string(), "/c/CPCAVI (3-1-2024 at 9-5-7).AVI");
  EXPECT_EQ(CaptureFileName("/c", "CPCWAV", ".WAV", when).string(), "/c/CPCWAV (3-1-2024 at 9-5-7).WAV");
  for (int t = 0; t < 5; ++t) EXPECT_EQ(SaveTypeFromStillFormat(StillFormatFromSaveType(t)), t == 4 ? 0 : t);
}

TEST(Stills, SeriesOfFiveEveryTwoFramesWritesFramesTwoFourSixEightTen) {
  TempDir dir("series");
  StillSeries series;
  SeriesParams params{5, 2, {ImageFormat::Bmp, 80, false}, dir.path().string() + "/", "S"};
  std::atomic<int> calls{0};
  SeriesResult result;
  ASSERT_TRUE(series.Start(params, [&](const SeriesResult& r) {
    result = r;
    ++calls;
  }));
  EXPECT_FALSE(series.Start(params, nullptr)) << "second series while one runs";
  std::vector<uint8_t> frame(static_cast<size_t>(kFrameWidth) * kFrameHeight);
  for (int period = 1; period <= 10; ++period) {
    std::fill(frame.begin(), frame.end(), static_cast<uint8_t>(period));
    if (period == 10) {
      EXPECT_TRUE(series.Capturing());
    }
    series.Period(frame.data());
  }
  series.Wait();
  EXPECT_TRUE(series.Idle());
  ASSERT_EQ(calls.load(), 1);
  EXPECT_TRUE(result.Error.empty()) << result.Error;
  ASSERT_EQ(result.Files.size(), 5u);
  const std::array<Rgb, 256> palette = FramePalette();
  for (int i = 1; i <= 5; ++i) {
    const fs::path& f = result.Files[i - 1];
    EXPECT_EQ(f.parent_path(), dir.path());
    const std::string name = f.filename().string();
    EXPECT_EQ(name.rfind("S (", 0), 0u) << name;
    EXPECT_EQ(name.substr(name.size() - 7), ") " + std::to_string(i) + ".bmp") << name;
    const Picture p = DecodeBmp(f);
    ASSERT_EQ(p.Width, 768);
    EXPECT_EQ(Distance(p.At(100, 100), palette[2 * i]), 0) << "still " << i << " is frame " << 2 * i;
  }
  // Frames after the series are not taken; a new series may start.
  series.Period(frame.data());
  EXPECT_EQ(calls.load(), 1);
  EXPECT_TRUE(series.Start(params, nullptr));
}

namespace {

std::unique_ptr<Machine> EmptyMachine() {
  MachineConfig config;
  config.RomDir = "/nonexistent";
  return CreateMachine(config);
}

class RecordingHooks : public PeriodHooks {
 public:
  explicit RecordingHooks(Recording& r) : r_(r) {}
  void Capture(Machine& m) override { r_.Period(m); }

 private:
  Recording& r_;
};

struct AviContents {
  bool Opened = false;
  int Width = 0, Height = 0;
  std::string VideoCodec;
  int VideoFormat = -1;
  int SampleRate = 0, Channels = 0, BlockAlign = 0;
  int VideoPackets = 0;
  int64_t AudioBytes = 0;
  std::vector<uint8_t> LastFramePixels;  // decoded PAL8 of the last frame, when uncompressed
  std::vector<uint32_t> LastFramePalette;
};

AviContents ReadAvi(const fs::path& file) {
  AviContents c;
  AVFormatContext* fmt = nullptr;
  if (avformat_open_input(&fmt, file.c_str(), nullptr, nullptr) < 0) return c;
  avformat_find_stream_info(fmt, nullptr);
  c.Opened = true;
  int video = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  int audio = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  AVCodecContext* decoder = nullptr;
  if (video >= 0) {
    const AVCodecParameters* v = fmt->streams[video]->codecpar;
    c.Width = v->width;
    c.Height = v->height;
    c.VideoCodec = avcodec_get_name(v->codec_id);
    const AVCodec* codec = avcodec_find_decoder(v->codec_id);
    decoder = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(decoder, v);
    if (avcodec_open2(decoder, codec, nullptr) < 0) avcodec_free_context(&decoder);
  }
  if (audio >= 0) {
    const AVCodecParameters* a = fmt->streams[audio]->codecpar;
    c.SampleRate = a->sample_rate;
    c.Channels = a->ch_layout.nb_channels;
    c.BlockAlign = a->block_align;
  }
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  auto drain = [&] {
    while (avcodec_receive_frame(decoder, frame) == 0) {
      c.VideoFormat = frame->format;
      if (frame->format == AV_PIX_FMT_PAL8) {
        c.LastFramePixels.clear();
        for (int y = 0; y < frame->height; ++y)
          c.LastFramePixels.insert(c.LastFramePixels.end(), frame->data[0] + y * frame->linesize[0],
                                   frame->data[0] + y * frame->linesize[0] + frame->width);
        const auto* pal = reinterpret_cast<const uint32_t*>(frame->data[1]);
        c.LastFramePalette.assign(pal, pal + 256);
      }
    }
  };
  while (av_read_frame(fmt, pkt) >= 0) {
    if (pkt->stream_index == video) {
      ++c.VideoPackets;
      if (decoder && avcodec_send_packet(decoder, pkt) >= 0) drain();
    } else if (pkt->stream_index == audio) {
      c.AudioBytes += pkt->size;
    }
    av_packet_unref(pkt);
  }
  if (decoder) {
    avcodec_send_packet(decoder, nullptr);
    drain();
  }
  av_frame_free(&frame);
  av_packet_free(&pkt);
  avcodec_free_context(&decoder);
  avformat_close_input(&fmt);
  return c;
}

}  // namespace

// Any speed: each period adds one buffer. A silent machine records the
// centre of the format: 128 in 8 bits, 0 in 16.
TEST(Recording, WavOfNFramesHoldsNTimesTheSamplesPerFrame) {
  TempDir dir("wavrec");
  struct Format {
    uint32_t Rate, Channels, Bits, PerFrame, Microseconds;
  };
  for (const Format f : {Format{44100, 2, 16, 882, 20000}, Format{22050, 1, 8, 441, 10000},
                         Format{48000, 2, 8, 960, 40000}}) {
    SCOPED_TRACE(f.Rate);
    auto m = EmptyMachine();
    m->MicrosecondsPerTick = f.Microseconds;
    Recording rec;
    RecordingHooks hooks(rec);
    const fs::path file = dir.path() / "x.wav";
    ASSERT_TRUE(rec.StartWav(*m, file, f.Rate, f.Channels, f.Bits)) << rec.Error();
    EXPECT_EQ(m->Psg.SamplingEnabled, 1) << "the recording takes samples without a sound device";
    constexpr int kFrames = 60;  // more than the ring's 16 buffers, over a second
    for (int i = 0; i < kFrames; ++i) RunPeriod(*m, hooks);
    EXPECT_TRUE(rec.Stop(*m)) << rec.Error();
    EXPECT_EQ(m->Psg.SamplingEnabled, 0) << "sampling off again";
    const std::vector<uint8_t> d = ReadAll(file);
    ASSERT_GE(d.size(), 44u);
    const uint32_t blockAlign = f.Channels * f.Bits / 8;
    EXPECT_EQ(Le32(d, 40), kFrames * f.PerFrame * blockAlign);
    EXPECT_EQ(Le32(d, 24), f.Rate);
    const uint8_t silence = f.Bits == 8 ? 128 : 0;
    EXPECT_EQ(std::count(d.begin() + 44, d.end(), silence), static_cast<long>(d.size() - 44));
  }
}

TEST(Recording, FailedOpensLeaveNothingBehind) {
  TempDir dir("avifail");
  auto m = EmptyMachine();
  Recording rec;
  EXPECT_FALSE(rec.StartAvi(*m, dir.path() / "a.avi", {.Encoder = "no-such-encoder"}, 44100, 2, 16));
  EXPECT_FALSE(rec.Error().empty());
  EXPECT_FALSE(rec.StartAvi(*m, dir.path() / "missing" / "a.avi", {}, 44100, 2, 16));
  EXPECT_FALSE(rec.StartWav(*m, dir.path() / "missing" / "a.wav", 44100, 2, 16));
  EXPECT_EQ(rec.Active(), Recording::Kind::None);
  EXPECT_EQ(m->Psg.SamplingEnabled, 0);
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(Recording, EncoderListStartsUncompressedAndACompressedOneRecords) {
  const std::vector<VideoEncoderChoice> list = UsableVideoEncoders();
  ASSERT_FALSE(list.empty());
  EXPECT_EQ(list[0].Name, "rawvideo");
  std::map<std::string, int> seen;
  for (const VideoEncoderChoice& e : list) EXPECT_EQ(++seen[e.Name], 1) << e.Name;
  if (list.size() < 2) GTEST_SKIP() << "no compressing video encoder on this system";
  // A lossless one when there is one, so the frame can be compared.
  std::string name = list[1].Name;
  for (const char* lossless : {"zmbv", "png", "ffv1", "huffyuv"})
    if (seen.count(lossless)) {
      name = lossless;
      break;
    }
  TempDir dir("avienc");
  auto m = EmptyMachine();
  const std::vector<uint8_t> frame = KnownFrame();
  std::memcpy(&m->Video.FrameBitmap[0][0], frame.data(), frame.size());
  AviWriter avi;
  const fs::path file = dir.path() / "c.avi";
  ASSERT_TRUE(avi.Open(file, {.Encoder = name}, 22050, 1, 8)) << name << ": " << avi.Error();
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(avi.WriteFrame(frame.data())) << avi.Error();
  std::vector<uint8_t> sound(441, 0x80);
  ASSERT_TRUE(avi.WriteAudio(sound.data(), sound.size()));
  ASSERT_TRUE(avi.Close()) << avi.Error();
  const AviContents c = ReadAvi(file);
  ASSERT_TRUE(c.Opened) << name;
  EXPECT_EQ(c.VideoCodec, name == "rawvideo" ? "rawvideo" : avcodec_get_name(avcodec_find_encoder_by_name(name.c_str())->id));
  EXPECT_EQ(c.Width, 768);
  EXPECT_EQ(c.Height, 576);
  EXPECT_EQ(c.VideoPackets, 5) << name;
  EXPECT_EQ(c.AudioBytes, 441);
  EXPECT_EQ(c.SampleRate, 22050);
}

TEST(Recording, RunnerAviOfTwoSecondsHasHundredFramesAndTwoSecondsOfSound) {
  if (!HaveRoms()) GTEST_SKIP() << "ROM images not found in " << RomDir();
  TempDir dir("cliavi");
  const fs::path avi = dir.path() / "run.avi";
  const fs::path shot = dir.path() / "last.png";
  const CommandResult r = RunCommand(Cli() + " --start-dir '" + dir.path().string() + "' --rom-dir '" + RomDir() +
                                     "' --benchmark --seconds 2 --avi '" + avi.string() + "' --screenshot '" +
                                     shot.string() + "'");
  ASSERT_EQ(r.status, 0) << r.out;
  const AviContents c = ReadAvi(avi);
  ASSERT_TRUE(c.Opened);
  EXPECT_EQ(c.VideoCodec, "rawvideo");
  EXPECT_EQ(c.Width, 768);
  EXPECT_EQ(c.Height, 576);
  EXPECT_EQ(c.VideoFormat, AV_PIX_FMT_PAL8);
  EXPECT_EQ(c.VideoPackets, 100);
  EXPECT_EQ(c.SampleRate, 44100);
  EXPECT_EQ(c.Channels, 2);
  ASSERT_EQ(c.BlockAlign, 4);
  EXPECT_EQ(c.AudioBytes / c.BlockAlign, 2 * 44100) << "882 samples per frame";

  // The last frame is the picture left at the end, the right way up.
  const Picture last = DecodePng(shot);
  ASSERT_EQ(last.Width, 768);
  ASSERT_EQ(c.LastFramePixels.size(), 768u * 576u);
  ASSERT_EQ(c.LastFramePalette.size(), 256u);
  int compared = 0;
  for (int y = 0; y < 576; y += 7)
    for (int x = 0; x < 768; x += 5) {
      const uint32_t argb = c.LastFramePalette[c.LastFramePixels[static_cast<size_t>(y) * 768 + x]];
      const Rgb want = last.At(x, y);
      ASSERT_EQ(argb & 0xFFFFFF, static_cast<uint32_t>(want.R) << 16 | want.G << 8 | want.B) << x << "," << y;
      ++compared;
    }
  EXPECT_GT(compared, 10000);
}

// At half speed each frame of picture still goes with 20 ms of sound.
TEST(Recording, RunnerAviAtHalfSpeedKeepsPictureAndSoundInStep) {
  if (!HaveRoms()) GTEST_SKIP() << "ROM images not found in " << RomDir();
  TempDir dir("cliavihalf");
  const fs::path avi = dir.path() / "half.avi";
  const CommandResult r = RunCommand(Cli() + " --start-dir '" + dir.path().string() + "' --rom-dir '" + RomDir() +
                                     "' --benchmark --speed 50 --frames 300 --sample-rate 48000 --avi '" +
                                     avi.string() + "'");
  ASSERT_EQ(r.status, 0) << r.out;
  const AviContents c = ReadAvi(avi);
  ASSERT_TRUE(c.Opened);
  EXPECT_EQ(c.VideoPackets, 300);
  EXPECT_EQ(c.SampleRate, 48000);
  ASSERT_EQ(c.BlockAlign, 4);
  EXPECT_EQ(c.AudioBytes / c.BlockAlign, 6 * 48000) << "6.00 s";
}

TEST(Recording, RunnerWritesJpegAndGifScreenshots) {
  if (!HaveRoms()) GTEST_SKIP() << "ROM images not found in " << RomDir();
  TempDir dir("clishot");
  for (const char* name : {"s.jpg", "s.JPEG", "s.gif"}) {
    const fs::path shot = dir.path() / name;
    const CommandResult r = RunCommand(Cli() + " --start-dir '" + dir.path().string() + "' --rom-dir '" + RomDir() +
                                       "' --benchmark --seconds 1 --screenshot '" + shot.string() + "'");
    ASSERT_EQ(r.status, 0) << r.out;
    const Picture p = Decode(ImageFormatOf(shot), shot);
    EXPECT_EQ(p.Width, 768) << name;
    EXPECT_EQ(p.Height, 576) << name;
  }
  const CommandResult bad = RunCommand(Cli() + " --rom-dir '" + RomDir() + "' --frames 1 --screenshot x.tiff");
  EXPECT_EQ(bad.status, 2);
}
