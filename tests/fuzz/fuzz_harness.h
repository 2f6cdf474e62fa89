// Runs a fuzz target's entry point the way the normal tests do: over its seed
// corpus in fuzz/corpus/<name>/ (plus any seeds built in code) and a fixed
// number of deterministic mutations of each seed. A failing input is written
// out so it can join the corpus as a regression input.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace fuzzharness {

using Input = std::vector<uint8_t>;

inline std::filesystem::path CorpusDir(const std::string& name) {
  return std::filesystem::path(PELLUCIDORE_FUZZ_CORPUS_DIR) / name;
}

// The corpus files in name order, so every run sees the same sequence.
inline std::vector<Input> Corpus(const std::string& name) {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(CorpusDir(name), ec))
    if (e.is_regular_file()) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  std::vector<Input> seeds;
  for (const auto& f : files) {
    std::ifstream in(f, std::ios::binary);
    seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return seeds;
}

// What a format's mutations aim at: offsets of header fields worth setting to
// extremes, and words worth splicing in (section names, keys, separators).
struct Hints {
  std::vector<size_t> Fields;
  std::vector<std::string> Tokens;
};

// Byte flips, random bytes, field extremes, truncation, growth, copies within
// the input and token splices; one to three of them per input.
inline Input Mutate(Input v, std::mt19937& rng, const Hints& hints) {
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % (n ? n : 1)); };
  const int rounds = 1 + static_cast<int>(rng() % 3);
  for (int round = 0; round < rounds; ++round) {
    switch (rng() % 7) {
      case 0:
        for (int i = 0; i < 8 && !v.empty(); ++i) v[pick(v.size())] ^= static_cast<uint8_t>(1 << (rng() % 8));
        break;
      case 1:
        if (!hints.Fields.empty()) {
          const size_t at = hints.Fields[pick(hints.Fields.size())];
          static constexpr uint8_t kExtremes[] = {0x00, 0x01, 0x7F, 0x80, 0xFF};
          if (at < v.size()) v[at] = rng() % 2 ? kExtremes[pick(std::size(kExtremes))] : static_cast<uint8_t>(rng());
        }
        break;
      case 2:
        v.resize(pick(v.size() + 1));
        break;
      case 3:
        v.resize(v.size() + 1 + pick(600), static_cast<uint8_t>(rng()));
        break;
      case 4:
        for (int i = 0; i < 32 && !v.empty(); ++i) v[pick(v.size())] = static_cast<uint8_t>(rng());
        break;
      case 5:
        if (v.size() > 16) {
          const size_t n = 1 + pick(16), a = pick(v.size() - n), b = pick(v.size() - n);
          std::copy_n(v.begin() + static_cast<std::ptrdiff_t>(a), n, v.begin() + static_cast<std::ptrdiff_t>(b));
        }
        break;
      default:
        if (!hints.Tokens.empty()) {
          const std::string& t = hints.Tokens[pick(hints.Tokens.size())];
          v.insert(v.begin() + static_cast<std::ptrdiff_t>(pick(v.size() + 1)), t.begin(), t.end());
        }
        break;
    }
  }
  return v;
}

// Runs `target` (returning false on a finding) on every seed and on
// `mutations` mutations of each. Stops at the first failure, saving the input
// as <test binary dir>/fuzz-failure-<name>.bin.
template <typename Target>
::testing::AssertionResult RunTarget(const std::string& name, Target target, std::vector<Input> seeds,
                                     int mutations, uint32_t rngSeed, const Hints& hints = {}) {
  std::mt19937 rng(rngSeed);
  auto fail = [&](const Input& input, const std::string& what) {
    const std::string file = "fuzz-failure-" + name + ".bin";
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(input.data()),
                                                static_cast<std::streamsize>(input.size()));
    return ::testing::AssertionFailure() << name << ": " << what << " fails; input saved as " << file;
  };
  for (size_t s = 0; s < seeds.size(); ++s) {
    if (!target(seeds[s].data(), seeds[s].size())) return fail(seeds[s], "seed " + std::to_string(s));
    for (int i = 0; i < mutations; ++i) {
      const Input input = Mutate(seeds[s], rng, hints);
      if (!target(input.data(), input.size()))
        return fail(input, "mutation " + std::to_string(i) + " of seed " + std::to_string(s));
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace fuzzharness
