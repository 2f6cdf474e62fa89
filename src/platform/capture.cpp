#include "platform/capture.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "core/machine.h"

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

// Directories in the settings end with a separator; one typed without it
// still names a directory.
fs::path InDirectory(const std::string& dir, const std::string& name) {
  return dir.empty() ? fs::path(name) : fs::path(dir) / name;
}

}  // namespace

// ---- Stills ----

ImageFormat StillFormatFromSaveType(int saveType) {
  switch (saveType) {
    case 1: return ImageFormat::Jpeg;
    case 2: return ImageFormat::Gif;
    case 3: return ImageFormat::Png;
    default: return ImageFormat::Bmp;
  }
}

int SaveTypeFromStillFormat(ImageFormat format) {
  switch (format) {
    case ImageFormat::Jpeg: return 1;
    case ImageFormat::Gif: return 2;
    case ImageFormat::Png: return 3;
    default: return 0;
  }
}

std::string CaptureDateTime(const std::tm& when) {
  return std::to_string(when.tm_mday) + "-" + std::to_string(when.tm_mon + 1) + "-" +
         std::to_string(when.tm_year + 1900) + " at " + std::to_string(when.tm_hour) + "-" +
         std::to_string(when.tm_min) + "-" + std::to_string(when.tm_sec);
}

std::tm LocalTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

std::string StillNamePart(bool nameByDsk, const std::string& diskFile) {
  if (!nameByDsk || diskFile.empty()) return "CPC ScreenShot";
  const std::string name = fs::path(diskFile).filename().string();
  const size_t dsk = name.find(".DSK");
  return dsk == std::string::npos ? std::string() : name.substr(0, dsk);
}

fs::path StillBaseName(const std::string& stillsDir, const std::string& namePart, const std::tm& when) {
  return InDirectory(stillsDir, namePart + " (" + CaptureDateTime(when) + ")");
}

fs::path CaptureFileName(const std::string& captureDir, const std::string& prefix, const std::string& extension,
                         const std::tm& when) {
  return InDirectory(captureDir, prefix + " (" + CaptureDateTime(when) + ")" + extension);
}

fs::path WithStillExtension(const fs::path& name, ImageFormat format) {
  const char* ext = ".bmp";
  switch (format) {
    case ImageFormat::Jpeg: ext = ".jpg"; break;
    case ImageFormat::Gif: ext = ".gif"; break;
    case ImageFormat::Png: ext = ".png"; break;
    default: break;
  }
  const std::string file = Lower(name.filename().string());
  // Case-insensitive, and ".jpeg" counts for JPEG: the name the user typed
  // is kept whenever it already says the format.
  if (file.find(ext) != std::string::npos) return name;
  if (format == ImageFormat::Jpeg && file.find(".jpeg") != std::string::npos) return name;
  fs::path out = name;
  out += ext;
  return out;
}

StillResult WriteStill(const fs::path& name, const uint8_t* frame, const StillOptions& options) {
  StillResult result;
  result.File = WithStillExtension(name, options.Format);
  std::vector<uint8_t> half;
  const uint8_t* pixels = frame;
  int width = kFrameWidth, height = kFrameHeight;
  if (options.HalfSize) {
    width = kFrameWidth / 2;
    height = kFrameHeight / 2;
    half = StretchPicture(frame, kFrameWidth, kFrameHeight, width, height);
    pixels = half.data();
  }
  const ImageResult written =
      WriteImageAs(options.Format, result.File, pixels, width, height, FramePalette(), options.JpegQuality);
  result.Ok = written.Ok;
  result.Error = written.Error;
  return result;
}

// ---- Consecutive stills ----

StillSeries::~StillSeries() { Wait(); }

void StillSeries::Wait() {
  std::lock_guard<std::mutex> lock(threadMutex_);
  if (worker_.joinable()) worker_.join();
}

bool StillSeries::Start(const SeriesParams& params, Done done) {
  if (phase_.load() != kIdle) return false;
  Wait();  // the last writer has finished; collect its thread
  params_ = params;
  params_.MaxStills = std::clamp(params_.MaxStills, 1, 50);
  params_.EveryFrame = std::clamp(params_.EveryFrame, 1, 100);
  done_ = std::move(done);
  bitmaps_.assign(params_.MaxStills, std::vector<uint8_t>(static_cast<size_t>(kFrameWidth) * kFrameHeight));
  frameCounter_ = 1;
  stillIndex_ = 1;
  phase_.store(kCapturing);  // publishes the buffers to the emulation thread
  return true;
}

void StillSeries::Period(const uint8_t* frame) {
  if (phase_.load(std::memory_order_acquire) != kCapturing) return;
  if (++frameCounter_ != params_.EveryFrame + 1) return;
  frameCounter_ = 1;
  std::memcpy(bitmaps_[stillIndex_ - 1].data(), frame, bitmaps_[stillIndex_ - 1].size());
  if (++stillIndex_ <= params_.MaxStills) return;
  frameCounter_ = 1;
  stillIndex_ = 1;
  std::lock_guard<std::mutex> lock(threadMutex_);
  phase_.store(kWriting);
  worker_ = std::thread([this] { Write(); });
}

void StillSeries::Write() {
  pthread_setname_np(pthread_self(), "TCPCThread1");
  // Below the emulation and the window: writing may take its time.
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
  SeriesResult result;
  const fs::path base = StillBaseName(params_.StillsDir, params_.NamePart, LocalTimeNow());
  for (size_t i = 0; i < bitmaps_.size(); ++i) {
    fs::path name = base;
    name += " ";
    name += std::to_string(i + 1);
    // A failed still is reported, the others are still written.
    const StillResult r = WriteStill(name, bitmaps_[i].data(), params_.Options);
    if (r.Ok)
      result.Files.push_back(r.File);
    else if (result.Error.empty())
      result.Error = r.Error;
  }
  bitmaps_.clear();
  bitmaps_.shrink_to_fit();
  Done done = std::move(done_);
  done_ = nullptr;
  phase_.store(kIdle);
  if (done) done(result);
}

// ---- Recordings ----

namespace {

constexpr AVRational kVideoTimeBase{1, 50};

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

// The pixel formats to try for an encoder, best first: the frame's own PAL8
// when it takes it, else what swscale can produce, lossy encoders in 4:2:0
// first (what players expect), then the format that loses least.
std::vector<AVPixelFormat> EncoderPixelFormats(const AVCodec* codec) {
  if (!codec->pix_fmts) return {AV_PIX_FMT_PAL8};
  std::vector<AVPixelFormat> convertible;
  for (const AVPixelFormat* f = codec->pix_fmts; *f != AV_PIX_FMT_NONE; ++f) {
    if (*f == AV_PIX_FMT_PAL8) return {AV_PIX_FMT_PAL8};
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(*f);
    if (d && !(d->flags & AV_PIX_FMT_FLAG_HWACCEL) && sws_isSupportedOutput(*f)) convertible.push_back(*f);
  }
  if (convertible.empty()) return {};
  std::vector<AVPixelFormat> order;
  const AVCodecDescriptor* desc = avcodec_descriptor_get(codec->id);
  if (desc && (desc->props & AV_CODEC_PROP_LOSSY) &&
      std::find(convertible.begin(), convertible.end(), AV_PIX_FMT_YUV420P) != convertible.end())
    order.push_back(AV_PIX_FMT_YUV420P);
  convertible.push_back(AV_PIX_FMT_NONE);
  const AVPixelFormat best = avcodec_find_best_pix_fmt_of_list(convertible.data(), AV_PIX_FMT_RGB24, 0, nullptr);
  if (best != AV_PIX_FMT_NONE && (order.empty() || order[0] != best)) order.push_back(best);
  return order;
}

// An encoder context for the picture, opened; null when it will not open.
AVCodecContext* OpenVideoEncoder(const AVCodec* codec, const AviOptions& options, bool globalHeader,
                                 std::string* error) {
  const std::vector<AVPixelFormat> formats = EncoderPixelFormats(codec);
  if (formats.empty() && error) *error = "no usable pixel format";
  for (const AVPixelFormat format : formats) {
    AVCodecContext* c = avcodec_alloc_context3(codec);
    if (!c) return nullptr;
    c->width = kFrameWidth;
    c->height = kFrameHeight;
    c->time_base = kVideoTimeBase;
    c->framerate = {50, 1};
    c->pix_fmt = format;
    c->sample_aspect_ratio = {1, 1};
    if (options.KeyFrameEvery > 0) c->gop_size = options.KeyFrameEvery;
    if (options.BitRate > 0) c->bit_rate = options.BitRate;
    if (globalHeader) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    c->thread_count = 1;
    // A format that is only a first choice fails quietly.
    const int level = av_log_get_level();
    if (format != formats.back()) av_log_set_level(AV_LOG_QUIET);
    const int rc = avcodec_open2(c, codec, nullptr);
    av_log_set_level(level);
    if (rc >= 0) return c;
    if (error) *error = AvError(rc);
    avcodec_free_context(&c);
  }
  return nullptr;
}

// Candidates in the order the chooser shows them after the uncompressed
// entry: lossless first. A fixed list rather than every encoder present:
// some libraries (hardware front ends, AV1) block or take seconds to open,
// and AVI players know these.
constexpr const char* kCandidateEncoders[] = {
    "zmbv", "png", "ffv1", "utvideo", "huffyuv", "ffvhuff", "mpeg4", "libxvid",
    "mjpeg", "msmpeg4", "msmpeg4v2", "cinepak", "msvideo1", "libx264",
};

}  // namespace

std::vector<VideoEncoderChoice> UsableVideoEncoders() {
  std::vector<VideoEncoderChoice> list{{"rawvideo", "Uncompressed (full frames, 256 colours)"}};
  const AVOutputFormat* avi = av_guess_format("avi", nullptr, nullptr);
  if (!avi) return list;
  const int oldLevel = av_log_get_level();
  av_log_set_level(AV_LOG_QUIET);  // trial opens of unsuitable encoders complain
  for (const char* name : kCandidateEncoders) {
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    if (!codec || codec->type != AVMEDIA_TYPE_VIDEO || (codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL)) continue;
    if (avformat_query_codec(avi, codec->id, FF_COMPLIANCE_NORMAL) != 1) continue;
    AVCodecContext* c = OpenVideoEncoder(codec, {}, (avi->flags & AVFMT_GLOBALHEADER) != 0, nullptr);
    if (!c) continue;
    avcodec_free_context(&c);
    list.push_back({codec->name, codec->long_name ? codec->long_name : codec->name});
  }
  av_log_set_level(oldLevel);
  return list;
}

struct AviWriter::Impl {
  AVFormatContext* Format = nullptr;
  AVCodecContext* Video = nullptr;
  AVStream* VideoStream = nullptr;
  AVStream* AudioStream = nullptr;
  SwsContext* Scaler = nullptr;
  AVFrame* Frame = nullptr;
  AVPacket* Packet = nullptr;
  bool Raw = false;   // PAL8 straight into the encoder
  bool Flip = false;  // uncompressed: rows bottom-up
  bool HeaderWritten = false;
  uint32_t BlockAlign = 0;
  uint32_t SampleRate = 0;
  uint32_t Palette[256] = {};
  fs::path File;
};

AviWriter::AviWriter() = default;
AviWriter::~AviWriter() {
  if (IsOpen()) Close();
}

bool AviWriter::IsOpen() const { return impl_ != nullptr; }

bool AviWriter::Fail(const std::string& what) {
  error_ = what;
  return false;
}

void AviWriter::Release() {
  if (!impl_) return;
  Impl& d = *impl_;
  if (d.Format) {
    if (d.Format->pb) avio_closep(&d.Format->pb);
    avformat_free_context(d.Format);
  }
  avcodec_free_context(&d.Video);
  sws_freeContext(d.Scaler);
  av_frame_free(&d.Frame);
  av_packet_free(&d.Packet);
  impl_.reset();
}

bool AviWriter::Open(const fs::path& file, const AviOptions& options, uint32_t sampleRate, uint32_t channels,
                     uint32_t bitsPerSample) {
  if (IsOpen()) Close();
  // Encoders report their statistics on stderr; only errors are wanted there.
  if (av_log_get_level() > AV_LOG_ERROR) av_log_set_level(AV_LOG_ERROR);
  error_.clear();
  videoFrames_ = audioSamples_ = 0;
  if ((bitsPerSample != 8 && bitsPerSample != 16) || channels < 1 || channels > 2 || sampleRate == 0)
    return Fail("unsupported sound format");
  const AVCodec* codec = avcodec_find_encoder_by_name(options.Encoder.c_str());
  if (!codec || codec->type != AVMEDIA_TYPE_VIDEO) return Fail("video encoder not found: " + options.Encoder);

  impl_ = std::make_unique<Impl>();
  Impl& d = *impl_;
  d.File = file;
  d.SampleRate = sampleRate;
  d.BlockAlign = channels * bitsPerSample / 8;
  auto fail = [&](const std::string& what) {
    const bool created = d.Format && d.Format->pb;
    Release();
    std::error_code ec;
    if (created) fs::remove(file, ec);
    return Fail(what + ": " + file.string());
  };

  int rc = avformat_alloc_output_context2(&d.Format, nullptr, "avi", file.c_str());
  if (rc < 0 || !d.Format) return fail("cannot start AVI");
  std::string why;
  d.Video = OpenVideoEncoder(codec, options, (d.Format->oformat->flags & AVFMT_GLOBALHEADER) != 0, &why);
  if (!d.Video) return fail("the video encoder " + options.Encoder + " does not open (" + why + ")");
  d.Raw = d.Video->pix_fmt == AV_PIX_FMT_PAL8;

  d.VideoStream = avformat_new_stream(d.Format, nullptr);
  if (!d.VideoStream) return fail("cannot start AVI");
  d.VideoStream->time_base = kVideoTimeBase;
  d.VideoStream->avg_frame_rate = {50, 1};
  if (avcodec_parameters_from_context(d.VideoStream->codecpar, d.Video) < 0) return fail("cannot start AVI");

  d.AudioStream = avformat_new_stream(d.Format, nullptr);
  if (!d.AudioStream) return fail("cannot start AVI");
  AVCodecParameters* a = d.AudioStream->codecpar;
  a->codec_type = AVMEDIA_TYPE_AUDIO;
  a->codec_id = bitsPerSample == 8 ? AV_CODEC_ID_PCM_U8 : AV_CODEC_ID_PCM_S16LE;
  a->format = bitsPerSample == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
  a->sample_rate = static_cast<int>(sampleRate);
  av_channel_layout_default(&a->ch_layout, static_cast<int>(channels));
  a->bits_per_coded_sample = static_cast<int>(bitsPerSample);
  a->block_align = static_cast<int>(d.BlockAlign);
  a->bit_rate = static_cast<int64_t>(sampleRate) * d.BlockAlign * 8;
  d.AudioStream->time_base = {1, static_cast<int>(sampleRate)};

  d.Frame = av_frame_alloc();
  d.Packet = av_packet_alloc();
  if (!d.Frame || !d.Packet) return fail("out of memory");
  d.Frame->format = d.Video->pix_fmt;
  d.Frame->width = kFrameWidth;
  d.Frame->height = kFrameHeight;
  if (av_frame_get_buffer(d.Frame, 0) < 0) return fail("out of memory");
  const std::array<Rgb, 256> palette = FramePalette();
  for (int i = 0; i < 256; ++i)
    d.Palette[i] = 0xFF000000u | static_cast<uint32_t>(palette[i].R) << 16 | palette[i].G << 8 | palette[i].B;
  if (!d.Raw) {
    d.Scaler = sws_getContext(kFrameWidth, kFrameHeight, AV_PIX_FMT_PAL8, kFrameWidth, kFrameHeight, d.Video->pix_fmt,
                              SWS_POINT, nullptr, nullptr, nullptr);
    if (!d.Scaler) return fail("no conversion to the encoder's pixel format");
  }

  rc = avio_open(&d.Format->pb, file.c_str(), AVIO_FLAG_WRITE);
  if (rc < 0) return fail("cannot create file (" + AvError(rc) + ")");
  AVDictionary* muxerOptions = nullptr;
  // Uncompressed frames go in bottom-up, as AVI players expect them.
  d.Flip = std::strcmp(codec->name, "rawvideo") == 0;
  if (d.Flip) av_dict_set(&muxerOptions, "flipped_raw_rgb", "1", 0);
  rc = avformat_write_header(d.Format, &muxerOptions);
  av_dict_free(&muxerOptions);
  if (rc < 0) return fail("cannot write the AVI header (" + AvError(rc) + ")");
  d.HeaderWritten = true;
  return true;
}

bool AviWriter::Encode(bool flush) {
  Impl& d = *impl_;
  int rc = avcodec_send_frame(d.Video, flush ? nullptr : d.Frame);
  if (rc < 0 && rc != AVERROR_EOF) return Fail("video encoding failed (" + AvError(rc) + ")");
  for (;;) {
    rc = avcodec_receive_packet(d.Video, d.Packet);
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
    if (rc < 0) return Fail("video encoding failed (" + AvError(rc) + ")");
    av_packet_rescale_ts(d.Packet, d.Video->time_base, d.VideoStream->time_base);
    d.Packet->stream_index = d.VideoStream->index;
    rc = av_interleaved_write_frame(d.Format, d.Packet);
    if (rc < 0) return Fail("cannot write the AVI (" + AvError(rc) + ")");
  }
}

bool AviWriter::WriteFrame(const uint8_t* frame) {
  if (!IsOpen()) return Fail("no AVI open");
  Impl& d = *impl_;
  if (av_frame_make_writable(d.Frame) < 0) return Fail("out of memory");
  if (d.Raw) {
    for (int y = 0; y < kFrameHeight; ++y)
      std::memcpy(d.Frame->data[0] + static_cast<size_t>(d.Flip ? kFrameHeight - 1 - y : y) * d.Frame->linesize[0],
                  frame + static_cast<size_t>(y) * kFrameWidth, kFrameWidth);
    std::memcpy(d.Frame->data[1], d.Palette, sizeof d.Palette);
  } else {
    const uint8_t* src[4] = {frame, reinterpret_cast<const uint8_t*>(d.Palette), nullptr, nullptr};
    const int srcStride[4] = {kFrameWidth, 0, 0, 0};
    sws_scale(d.Scaler, src, srcStride, 0, kFrameHeight, d.Frame->data, d.Frame->linesize);
  }
  d.Frame->pts = static_cast<int64_t>(videoFrames_);
  if (!Encode(false)) return false;
  ++videoFrames_;
  return true;
}

bool AviWriter::WriteAudio(const uint8_t* data, size_t bytes) {
  if (!IsOpen()) return Fail("no AVI open");
  Impl& d = *impl_;
  const size_t samples = bytes / d.BlockAlign;
  if (samples == 0) return true;
  const size_t whole = samples * d.BlockAlign;
  AVPacket* p = d.Packet;
  if (av_new_packet(p, static_cast<int>(whole)) < 0) return Fail("out of memory");
  std::memcpy(p->data, data, whole);
  p->stream_index = d.AudioStream->index;
  p->pts = p->dts = av_rescale_q(static_cast<int64_t>(audioSamples_), {1, static_cast<int>(d.SampleRate)},
                                 d.AudioStream->time_base);
  p->duration = av_rescale_q(static_cast<int64_t>(samples), {1, static_cast<int>(d.SampleRate)},
                             d.AudioStream->time_base);
  p->flags |= AV_PKT_FLAG_KEY;
  const int rc = av_interleaved_write_frame(d.Format, p);
  if (rc < 0) return Fail("cannot write the AVI (" + AvError(rc) + ")");
  audioSamples_ += samples;
  return true;
}

bool AviWriter::Close() {
  if (!IsOpen()) return false;
  Impl& d = *impl_;
  bool ok = error_.empty();
  if (d.HeaderWritten) {
    ok = Encode(true) && ok;
    const int rc = av_write_trailer(d.Format);
    if (rc < 0) ok = Fail("cannot complete the AVI (" + AvError(rc) + ")");
  }
  if (d.Format && d.Format->pb) {
    if (d.Format->pb->error < 0) ok = Fail("cannot write the AVI (" + AvError(d.Format->pb->error) + ")");
    if (avio_closep(&d.Format->pb) < 0) ok = Fail("cannot write the AVI");
  }
  Release();
  return ok;
}

void Recording::BeginSampling(Machine& m, uint32_t rate, uint32_t channels, uint32_t bits) {
  ownSampling_ = !m.Psg.SamplingEnabled;
  if (ownSampling_) {
    PsgSetOutputFormat(m.Psg, rate, channels, bits);
    m.Psg.SamplingEnabled = 1;
  }
  cursor_ = {};
  samples_.clear();
  samples_.reserve(kMaxSoundBufferBytes * 2);
  PsgCollectSamples(m.Psg, cursor_, samples_);  // places the cursor
  failed_.store(false);
  error_.clear();
}

bool Recording::StartAvi(Machine& m, const fs::path& file, const AviOptions& options, uint32_t rate,
                         uint32_t channels, uint32_t bits) {
  if (kind_.load() != Kind::None) return false;
  BeginSampling(m, rate, channels, bits);
  if (!avi_.Open(file, options, m.Psg.SampleRate, m.Psg.Channels, m.Psg.BitsPerSample)) {
    error_ = avi_.Error();
    if (ownSampling_) m.Psg.SamplingEnabled = 0;
    return false;
  }
  file_ = file;
  kind_.store(Kind::Avi);
  return true;
}

bool Recording::StartWav(Machine& m, const fs::path& file, uint32_t rate, uint32_t channels, uint32_t bits) {
  if (kind_.load() != Kind::None) return false;
  BeginSampling(m, rate, channels, bits);
  if (!wav_.Open(file, m.Psg.SampleRate, m.Psg.Channels, m.Psg.BitsPerSample)) {
    error_ = wav_.Error();
    if (ownSampling_) m.Psg.SamplingEnabled = 0;
    return false;
  }
  file_ = file;
  kind_.store(Kind::Wav);
  return true;
}

void Recording::Period(Machine& m) {
  const Kind kind = kind_.load(std::memory_order_acquire);
  if (kind == Kind::None || failed_.load(std::memory_order_relaxed)) return;
  samples_.clear();
  PsgCollectSamples(m.Psg, cursor_, samples_);
  bool ok;
  if (kind == Kind::Avi)
    ok = avi_.WriteFrame(&m.Video.FrameBitmap[0][0]) && avi_.WriteAudio(samples_.data(), samples_.size());
  else
    ok = wav_.Write(samples_.data(), samples_.size());
  if (!ok) failed_.store(true);
}

bool Recording::Stop(Machine& m) {
  const Kind kind = kind_.exchange(Kind::None);
  if (kind == Kind::None) return false;
  bool ok = true;
  if (kind == Kind::Avi) {
    ok = avi_.Close();
    if (!ok) error_ = avi_.Error();
  } else {
    ok = wav_.Close();
    if (!ok) error_ = wav_.Error();
  }
  if (ownSampling_) m.Psg.SamplingEnabled = 0;
  ownSampling_ = false;
  return ok && !failed_.load();
}
