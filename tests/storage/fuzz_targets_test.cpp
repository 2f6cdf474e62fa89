// The fuzz targets' entry points over a fixed seed set and a fixed number of
// mutations of it, so every test run covers what the fuzzers cover.
#include <random>

#include "storage/disk_builders.h"

#define LLVMFuzzerTestOneInput DskFuzzTestOneInput
#include "../../fuzz/dsk_fuzz.cpp"
#undef LLVMFuzzerTestOneInput
#define LLVMFuzzerTestOneInput ZipFuzzTestOneInput
#include "../../fuzz/zip_fuzz.cpp"
#undef LLVMFuzzerTestOneInput

using namespace disktest;

namespace {

constexpr int kMutationsPerSeed = 40;

std::vector<std::vector<uint8_t>> DskSeeds() {
  Track mixed;
  mixed.Sectors = {{0, 0, 1, 6}, {0, 0, 2, 0}, {1, 0, 3, 3}};
  std::vector<Track> withTrailing = DataTracks(2);
  withTrailing.push_back({{}, 0});
  return {
      StandardDsk(DataTracks(2)),
      StandardDsk(DataTracks(1), 0x1000),  // track size shorter than its sectors
      ExtendedDsk(DataTracks(2)),
      ExtendedDsk({mixed}),
      ExtendedDsk(withTrailing),
      ExtendedDsk({Track{{{0, 0, 1, 2}, {0, 0, 2, 2}}, 2}}),  // sectors beyond the stored track
      {},
      std::vector<uint8_t>(256, 0),
  };
}

// Byte flips, header field extremes, truncation and growth.
std::vector<uint8_t> Mutate(std::vector<uint8_t> v, std::mt19937& rng) {
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % (n ? n : 1)); };
  switch (rng() % 6) {
    case 0:
      for (int i = 0; i < 8 && !v.empty(); ++i) v[pick(v.size())] ^= static_cast<uint8_t>(1 << (rng() % 8));
      break;
    case 1: {
      static constexpr size_t kFields[] = {0x30, 0x32, 0x33, 0x34, 0x35, 0x36, 256 + 0x15, 256 + 0x1B, 256 + 0x23};
      const size_t at = kFields[pick(std::size(kFields))];
      if (at < v.size()) v[at] = static_cast<uint8_t>(rng() % 3 == 0 ? 0xFF : rng());
      break;
    }
    case 2:
      v.resize(pick(v.size() + 1));
      break;
    case 3:
      v.resize(v.size() + 1 + pick(600), static_cast<uint8_t>(rng()));
      break;
    case 4:
      for (int i = 0; i < 32 && !v.empty(); ++i) v[pick(v.size())] = static_cast<uint8_t>(rng());
      break;
    default:
      if (v.size() > 16) {
        const size_t a = pick(v.size() - 8), b = pick(v.size() - 8);
        std::copy_n(v.begin() + static_cast<std::ptrdiff_t>(a), 8, v.begin() + static_cast<std::ptrdiff_t>(b));
      }
      break;
  }
  return v;
}

TEST(FuzzTargets, DskLoaderSeedsAndMutations) {
  std::mt19937 rng(20240611);
  int runs = 0;
  for (const auto& seed : DskSeeds()) {
    EXPECT_TRUE(dskfuzz::DskFuzzInput(seed.data(), seed.size()));
    EXPECT_EQ(DskFuzzTestOneInput(seed.data(), seed.size()), 0);
    for (int i = 0; i < kMutationsPerSeed; ++i) {
      const std::vector<uint8_t> input = Mutate(seed, rng);
      ASSERT_TRUE(dskfuzz::DskFuzzInput(input.data(), input.size())) << "mutation " << i << " of a seed";
      ++runs;
    }
  }
  EXPECT_EQ(runs, 8 * kMutationsPerSeed);
}

TEST(FuzzTargets, ZipReaderSeedsAndMutations) {
  const std::vector<uint8_t> image = StandardDsk(DataTracks(2));
  const std::vector<std::vector<uint8_t>> seeds = {
      Zip({{"a.dsk", image, true}}),
      Zip({{"a.dsk", image, false}, {"b.txt", {1, 2, 3}, true}}),
      Zip({{"A.DSK", image, true, 7}, {"a.dsk", {9}, false}}),
      Zip({}),
      {},
  };
  std::mt19937 rng(77);
  for (const auto& seed : seeds) {
    EXPECT_TRUE(zipfuzz::ZipFuzzInput(seed.data(), seed.size()));
    EXPECT_EQ(ZipFuzzTestOneInput(seed.data(), seed.size()), 0);
    for (int i = 0; i < kMutationsPerSeed; ++i) {
      const std::vector<uint8_t> input = Mutate(seed, rng);
      ASSERT_TRUE(zipfuzz::ZipFuzzInput(input.data(), input.size())) << "mutation " << i << " of a seed";
    }
  }
}

}  // namespace
