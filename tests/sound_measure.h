// Measuring recorded sound in tests: PCM decoding, frequency by counted
// zero crossings, and a spectrum for alias checks.
#pragma once

#include <cmath>
#include <complex>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

struct Pcm {
  uint32_t Rate = 0, Channels = 0, Bits = 0;
  std::vector<std::vector<int>> Channel;  // 8-bit samples as stored (0..255), 16-bit signed
};

// One channel per vector from interleaved PCM of the given format.
inline Pcm DecodePcm(const uint8_t* data, size_t bytes, uint32_t rate, uint32_t channels, uint32_t bits) {
  Pcm pcm{rate, channels, bits, std::vector<std::vector<int>>(channels)};
  const size_t block = channels * bits / 8;
  for (size_t i = 0; i + block <= bytes; i += block)
    for (uint32_t c = 0; c < channels; ++c) {
      const uint8_t* s = data + i + c * bits / 8;
      pcm.Channel[c].push_back(bits == 8 ? s[0] : static_cast<int16_t>(s[0] | (s[1] << 8)));
    }
  return pcm;
}

// A 44-byte-header PCM WAV as the recorders write it; empty on a bad file.
inline Pcm ReadWav(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (b.size() < 44) return {};
  auto u16 = [&](size_t at) { return static_cast<uint32_t>(b[at] | (b[at + 1] << 8)); };
  auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
  return DecodePcm(b.data() + 44, u32(40), u32(24), u16(22), u16(34));
}

// Frequency of a periodic signal from its rising crossings of the centre,
// with hysteresis (a crossing counts once the signal has been below
// -threshold and then rises through 0) and sub-sample interpolation.
// Returns 0 when fewer than three crossings are found.
inline double CrossingFrequency(const std::vector<int>& s, uint32_t rate, int centre, int threshold) {
  std::vector<double> crossings;
  bool armed = false;
  for (size_t i = 1; i < s.size(); ++i) {
    const int a = s[i - 1] - centre, b = s[i] - centre;
    if (b < -threshold) armed = true;
    if (armed && a < 0 && b >= 0) {
      crossings.push_back(static_cast<double>(i - 1) + static_cast<double>(-a) / (b - a));
      armed = false;
    }
  }
  if (crossings.size() < 3) return 0;
  return (crossings.size() - 1) * static_cast<double>(rate) / (crossings.back() - crossings.front());
}

// Magnitude spectrum of the first 2^k samples under a Blackman-Harris
// window (sidelobes below -92 dB): bin i is i x rate / size Hz.
inline std::vector<double> Spectrum(const std::vector<int>& s, size_t size) {
  std::vector<std::complex<double>> x(size);
  const double kPi = 3.14159265358979323846;
  for (size_t i = 0; i < size && i < s.size(); ++i) {
    const double t = 2 * kPi * i / (size - 1);
    const double w = 0.35875 - 0.48829 * std::cos(t) + 0.14128 * std::cos(2 * t) - 0.01168 * std::cos(3 * t);
    x[i] = s[i] * w;
  }
  for (size_t i = 1, j = 0; i < size; ++i) {
    size_t bit = size >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(x[i], x[j]);
  }
  for (size_t len = 2; len <= size; len <<= 1) {
    const std::complex<double> step = std::polar(1.0, -2 * kPi / len);
    for (size_t i = 0; i < size; i += len) {
      std::complex<double> w = 1;
      for (size_t k = 0; k < len / 2; ++k, w *= step) {
        const std::complex<double> u = x[i + k], v = x[i + k + len / 2] * w;
        x[i + k] = u + v;
        x[i + k + len / 2] = u - v;
      }
    }
  }
  std::vector<double> magnitude(size / 2);
  for (size_t i = 0; i < size / 2; ++i) magnitude[i] = std::abs(x[i]);
  return magnitude;
}
