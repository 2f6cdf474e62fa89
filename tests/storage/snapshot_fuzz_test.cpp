// The snapshot fuzz target's entry point over a fixed seed set and a fixed
// number of mutations of it, so every test run covers what the fuzzer does.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "cli_support.h"
#include "fuzz/fuzz_harness.h"

#define LLVMFuzzerTestOneInput SnapshotFuzzTestOneInput
#include "../../fuzz/snapshot_fuzz.cpp"
#undef LLVMFuzzerTestOneInput

namespace {

constexpr int kMutationsPerSeed = 40;

std::vector<std::vector<uint8_t>> Seeds() {
  auto m = CreateMachine({.RomDir = "/nonexistent-rom-dir"});
  for (size_t i = 0; i < 2 * kSnapshotDumpSize; i += 97) m->Memory.BaseRam[i % kSnapshotDumpSize] = static_cast<uint8_t>(i);
  std::vector<uint8_t> own = EncodeSnapshot(*m, 1);
  std::vector<uint8_t> longer = EncodeSnapshot(*m, 2);
  std::vector<uint8_t> chunked = EncodeSnapshot(*m, 3);
  std::vector<std::vector<uint8_t>> seeds = {
      own, longer, chunked, std::vector<uint8_t>(kSnapshotSize, 0xFF), {}, std::vector<uint8_t>(256, 0),
  };
  const std::filesystem::path file = SharedDir() + "/testdata/sna/loop4000_v2.sna";
  std::ifstream in(file, std::ios::binary);
  if (in) seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  const std::vector<std::vector<uint8_t>> corpus = fuzzharness::Corpus("snapshot");
  EXPECT_FALSE(corpus.empty()) << "no seed files in " << fuzzharness::CorpusDir("snapshot");
  seeds.insert(seeds.end(), corpus.begin(), corpus.end());
  return seeds;
}

// Header bytes flipped or set to extremes, truncation around the minimum
// size, growth, chunk headers and compressed data damaged or cut.
std::vector<uint8_t> Mutate(std::vector<uint8_t> v, std::mt19937& rng) {
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % (n ? n : 1)); };
  const size_t header = std::min<size_t>(v.size(), kSnapshotHeaderSize);
  switch (rng() % 7) {
    case 5:
      for (int i = 0; i < 6 && v.size() > header; ++i)
        v[header + pick(v.size() - header)] = rng() % 3 ? static_cast<uint8_t>(rng()) : 0xE5;
      break;
    case 6:
      v.resize(header + pick(v.size() - header + 1));
      break;
    case 0:
      for (int i = 0; i < 8 && header; ++i) v[pick(header)] ^= static_cast<uint8_t>(1 << (rng() % 8));
      break;
    case 1:
      for (int i = 0; i < 4 && header; ++i) v[pick(header)] = rng() % 2 ? 0xFF : static_cast<uint8_t>(rng());
      break;
    case 2:
      v.resize(kSnapshotSize - 1 - std::min<size_t>(pick(300), kSnapshotSize - 1));
      break;
    case 3:
      v.resize(kSnapshotSize + pick(70000), static_cast<uint8_t>(rng()));
      break;
    default:
      // Code in the dump: random bytes where the loaded PC will run.
      if (v.size() >= kSnapshotSize) {
        const size_t pc = v[0x23] | v[0x24] << 8;
        for (size_t i = 0; i < 64; ++i) v[kSnapshotHeaderSize + ((pc + i) & 0xFFFF)] = static_cast<uint8_t>(rng());
      }
      break;
  }
  return v;
}

TEST(FuzzTargets, SnapshotLoaderSeedsAndMutations) {
  std::mt19937 rng(20240612);
  int runs = 0;
  for (const auto& seed : Seeds()) {
    EXPECT_EQ(SnapshotFuzzTestOneInput(seed.data(), seed.size()), 0);
    for (int i = 0; i < kMutationsPerSeed; ++i) {
      const std::vector<uint8_t> input = Mutate(seed, rng);
      ASSERT_TRUE(snafuzz::SnapshotFuzzInput(input.data(), input.size()))
          << "mutation " << i << " of a seed of " << seed.size() << " bytes";
      ++runs;
    }
  }
  EXPECT_GE(runs, 5 * kMutationsPerSeed);
}

}  // namespace
