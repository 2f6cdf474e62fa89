// The AVI encoder module: FFmpeg behind the AviBackend boundary. Built as a
// shared module and opened only when a recording starts or the encoder list
// is asked for, so a run that records nothing never loads FFmpeg.
#include "platform/avi_backend.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>

#include "devices/renderer.h"  // kFrameWidth, kFrameHeight only: the module links nothing of the machine

namespace fs = std::filesystem;

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

std::vector<VideoEncoderChoice> Encoders() {
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

class FfmpegAvi final : public AviBackend {
 public:
  ~FfmpegAvi() override { Release(); }

  bool Open(const fs::path& file, const AviOptions& options, uint32_t sampleRate, uint32_t channels,
            uint32_t bitsPerSample, const uint32_t (&palette)[256], std::string& error) override;
  bool WriteFrame(const uint8_t* frame, int64_t index, std::string& error) override;
  bool WriteAudio(const uint8_t* data, size_t samples, uint64_t firstSample, std::string& error) override;
  bool Close(std::string& error) override;

 private:
  bool Encode(bool flush, std::string& error);
  void Release();

  AVFormatContext* format_ = nullptr;
  AVCodecContext* video_ = nullptr;
  AVStream* videoStream_ = nullptr;
  AVStream* audioStream_ = nullptr;
  SwsContext* scaler_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  bool raw_ = false;   // PAL8 straight into the encoder
  bool flip_ = false;  // uncompressed: rows bottom-up
  bool headerWritten_ = false;
  uint32_t blockAlign_ = 0;
  uint32_t sampleRate_ = 0;
  uint32_t palette_[256] = {};
};

void FfmpegAvi::Release() {
  if (format_) {
    if (format_->pb) avio_closep(&format_->pb);
    avformat_free_context(format_);
    format_ = nullptr;
  }
  avcodec_free_context(&video_);
  sws_freeContext(scaler_);
  scaler_ = nullptr;
  av_frame_free(&frame_);
  av_packet_free(&packet_);
  headerWritten_ = false;
}

bool FfmpegAvi::Open(const fs::path& file, const AviOptions& options, uint32_t sampleRate, uint32_t channels,
                     uint32_t bitsPerSample, const uint32_t (&palette)[256], std::string& error) {
  // Encoders report their statistics on stderr; only errors are wanted there.
  if (av_log_get_level() > AV_LOG_ERROR) av_log_set_level(AV_LOG_ERROR);
  const AVCodec* codec = avcodec_find_encoder_by_name(options.Encoder.c_str());
  if (!codec || codec->type != AVMEDIA_TYPE_VIDEO) {
    error = "video encoder not found: " + options.Encoder;
    return false;
  }
  sampleRate_ = sampleRate;
  blockAlign_ = channels * bitsPerSample / 8;
  std::memcpy(palette_, palette, sizeof palette_);
  auto fail = [&](const std::string& what) {
    const bool created = format_ && format_->pb;
    Release();
    std::error_code ec;
    if (created) fs::remove(file, ec);
    error = what + ": " + file.string();
    return false;
  };

  int rc = avformat_alloc_output_context2(&format_, nullptr, "avi", file.c_str());
  if (rc < 0 || !format_) return fail("cannot start AVI");
  std::string why;
  video_ = OpenVideoEncoder(codec, options, (format_->oformat->flags & AVFMT_GLOBALHEADER) != 0, &why);
  if (!video_) return fail("the video encoder " + options.Encoder + " does not open (" + why + ")");
  raw_ = video_->pix_fmt == AV_PIX_FMT_PAL8;

  videoStream_ = avformat_new_stream(format_, nullptr);
  if (!videoStream_) return fail("cannot start AVI");
  videoStream_->time_base = kVideoTimeBase;
  videoStream_->avg_frame_rate = {50, 1};
  if (avcodec_parameters_from_context(videoStream_->codecpar, video_) < 0) return fail("cannot start AVI");

  audioStream_ = avformat_new_stream(format_, nullptr);
  if (!audioStream_) return fail("cannot start AVI");
  AVCodecParameters* a = audioStream_->codecpar;
  a->codec_type = AVMEDIA_TYPE_AUDIO;
  a->codec_id = bitsPerSample == 8 ? AV_CODEC_ID_PCM_U8 : AV_CODEC_ID_PCM_S16LE;
  a->format = bitsPerSample == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
  a->sample_rate = static_cast<int>(sampleRate);
  av_channel_layout_default(&a->ch_layout, static_cast<int>(channels));
  a->bits_per_coded_sample = static_cast<int>(bitsPerSample);
  a->block_align = static_cast<int>(blockAlign_);
  a->bit_rate = static_cast<int64_t>(sampleRate) * blockAlign_ * 8;
  audioStream_->time_base = {1, static_cast<int>(sampleRate)};

  frame_ = av_frame_alloc();
  packet_ = av_packet_alloc();
  if (!frame_ || !packet_) return fail("out of memory");
  frame_->format = video_->pix_fmt;
  frame_->width = kFrameWidth;
  frame_->height = kFrameHeight;
  if (av_frame_get_buffer(frame_, 0) < 0) return fail("out of memory");
  if (!raw_) {
    scaler_ = sws_getContext(kFrameWidth, kFrameHeight, AV_PIX_FMT_PAL8, kFrameWidth, kFrameHeight, video_->pix_fmt,
                             SWS_POINT, nullptr, nullptr, nullptr);
    if (!scaler_) return fail("no conversion to the encoder's pixel format");
  }

  rc = avio_open(&format_->pb, file.c_str(), AVIO_FLAG_WRITE);
  if (rc < 0) return fail("cannot create file (" + AvError(rc) + ")");
  AVDictionary* muxerOptions = nullptr;
  // Uncompressed frames go in bottom-up, as AVI players expect them.
  flip_ = std::strcmp(codec->name, "rawvideo") == 0;
  if (flip_) av_dict_set(&muxerOptions, "flipped_raw_rgb", "1", 0);
  rc = avformat_write_header(format_, &muxerOptions);
  av_dict_free(&muxerOptions);
  if (rc < 0) return fail("cannot write the AVI header (" + AvError(rc) + ")");
  headerWritten_ = true;
  return true;
}

bool FfmpegAvi::Encode(bool flush, std::string& error) {
  int rc = avcodec_send_frame(video_, flush ? nullptr : frame_);
  if (rc < 0 && rc != AVERROR_EOF) {
    error = "video encoding failed (" + AvError(rc) + ")";
    return false;
  }
  for (;;) {
    rc = avcodec_receive_packet(video_, packet_);
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
    if (rc < 0) {
      error = "video encoding failed (" + AvError(rc) + ")";
      return false;
    }
    av_packet_rescale_ts(packet_, video_->time_base, videoStream_->time_base);
    packet_->stream_index = videoStream_->index;
    rc = av_interleaved_write_frame(format_, packet_);
    if (rc < 0) {
      error = "cannot write the AVI (" + AvError(rc) + ")";
      return false;
    }
  }
}

bool FfmpegAvi::WriteFrame(const uint8_t* frame, int64_t index, std::string& error) {
  if (av_frame_make_writable(frame_) < 0) {
    error = "out of memory";
    return false;
  }
  if (raw_) {
    for (int y = 0; y < kFrameHeight; ++y)
      std::memcpy(frame_->data[0] + static_cast<size_t>(flip_ ? kFrameHeight - 1 - y : y) * frame_->linesize[0],
                  frame + static_cast<size_t>(y) * kFrameWidth, kFrameWidth);
    std::memcpy(frame_->data[1], palette_, sizeof palette_);
  } else {
    const uint8_t* src[4] = {frame, reinterpret_cast<const uint8_t*>(palette_), nullptr, nullptr};
    const int srcStride[4] = {kFrameWidth, 0, 0, 0};
    sws_scale(scaler_, src, srcStride, 0, kFrameHeight, frame_->data, frame_->linesize);
  }
  frame_->pts = index;
  return Encode(false, error);
}

bool FfmpegAvi::WriteAudio(const uint8_t* data, size_t samples, uint64_t firstSample, std::string& error) {
  const size_t whole = samples * blockAlign_;
  AVPacket* p = packet_;
  if (av_new_packet(p, static_cast<int>(whole)) < 0) {
    error = "out of memory";
    return false;
  }
  std::memcpy(p->data, data, whole);
  p->stream_index = audioStream_->index;
  p->pts = p->dts = av_rescale_q(static_cast<int64_t>(firstSample), {1, static_cast<int>(sampleRate_)},
                                 audioStream_->time_base);
  p->duration = av_rescale_q(static_cast<int64_t>(samples), {1, static_cast<int>(sampleRate_)},
                             audioStream_->time_base);
  p->flags |= AV_PKT_FLAG_KEY;
  const int rc = av_interleaved_write_frame(format_, p);
  if (rc < 0) {
    error = "cannot write the AVI (" + AvError(rc) + ")";
    return false;
  }
  return true;
}

bool FfmpegAvi::Close(std::string& error) {
  bool ok = true;
  if (headerWritten_) {
    ok = Encode(true, error);
    const int rc = av_write_trailer(format_);
    if (rc < 0) {
      error = "cannot complete the AVI (" + AvError(rc) + ")";
      ok = false;
    }
  }
  if (format_ && format_->pb) {
    if (format_->pb->error < 0) {
      error = "cannot write the AVI (" + AvError(format_->pb->error) + ")";
      ok = false;
    }
    if (avio_closep(&format_->pb) < 0) {
      error = "cannot write the AVI";
      ok = false;
    }
  }
  Release();
  return ok;
}

AviBackend* Create() { return new FfmpegAvi; }

constexpr AviModuleApi kApi{kAviModuleVersion, &Create, &Encoders};

}  // namespace

extern "C" __attribute__((visibility("default"))) const AviModuleApi* PellucidoreAviModule() { return &kApi; }
