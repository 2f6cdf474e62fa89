// The fuzz targets' entry points over their seed corpora and a fixed number
// of mutations, so every test run covers what the fuzzers cover.
#include "fuzz/fuzz_harness.h"
#include "storage/disk_builders.h"

#define LLVMFuzzerTestOneInput DskFuzzTestOneInput
#include "../../fuzz/dsk_fuzz.cpp"
#undef LLVMFuzzerTestOneInput
#define LLVMFuzzerTestOneInput ZipFuzzTestOneInput
#include "../../fuzz/zip_fuzz.cpp"
#undef LLVMFuzzerTestOneInput
#define LLVMFuzzerTestOneInput RomFuzzTestOneInput
#include "../../fuzz/rom_fuzz.cpp"
#undef LLVMFuzzerTestOneInput
#define LLVMFuzzerTestOneInput SettingsFuzzTestOneInput
#include "../../fuzz/settings_fuzz.cpp"
#undef LLVMFuzzerTestOneInput
#define LLVMFuzzerTestOneInput KeyMapFuzzTestOneInput
#include "../../fuzz/keymap_fuzz.cpp"
#undef LLVMFuzzerTestOneInput
#define LLVMFuzzerTestOneInput HddFuzzTestOneInput
#include "../../fuzz/hdd_fuzz.cpp"
#undef LLVMFuzzerTestOneInput
#define LLVMFuzzerTestOneInput AutoTypeFuzzTestOneInput
#include "../../fuzz/autotype_fuzz.cpp"
#undef LLVMFuzzerTestOneInput
#define LLVMFuzzerTestOneInput TapeFuzzTestOneInput
#include "../../fuzz/tape_fuzz.cpp"
#undef LLVMFuzzerTestOneInput

using namespace disktest;
using fuzzharness::Corpus;
using fuzzharness::Hints;
using fuzzharness::Input;
using fuzzharness::RunTarget;

namespace {

constexpr int kMutationsPerSeed = 40;

std::vector<Input> WithCorpus(const std::string& name, std::vector<Input> seeds) {
  std::vector<Input> files = Corpus(name);
  EXPECT_FALSE(files.empty()) << "no seed files in " << fuzzharness::CorpusDir(name);
  seeds.insert(seeds.end(), files.begin(), files.end());
  return seeds;
}

TEST(FuzzTargets, DskLoader) {
  Track mixed;
  mixed.Sectors = {{0, 0, 1, 6}, {0, 0, 2, 0}, {1, 0, 3, 3}};
  std::vector<Track> withTrailing = DataTracks(2);
  withTrailing.push_back({{}, 0});
  const std::vector<Input> built = {
      StandardDsk(DataTracks(2)),
      StandardDsk(DataTracks(1), 0x1000),  // track size shorter than its sectors
      ExtendedDsk(DataTracks(2)),
      ExtendedDsk({mixed}),
      ExtendedDsk(withTrailing),
      ExtendedDsk({Track{{{0, 0, 1, 2}, {0, 0, 2, 2}}, 2}}),  // sectors beyond the stored track
      {},
      Input(256, 0),
  };
  const Hints hints{{0x30, 0x32, 0x33, 0x34, 0x35, 0x36, 256 + 0x15, 256 + 0x1B, 256 + 0x23}, {}};
  EXPECT_TRUE(RunTarget("dsk", dskfuzz::DskFuzzInput, WithCorpus("dsk", built), kMutationsPerSeed, 20240611, hints));
  const Input first = Corpus("dsk").front();
  EXPECT_EQ(DskFuzzTestOneInput(first.data(), first.size()), 0);
}

TEST(FuzzTargets, ZipReader) {
  const Input image = StandardDsk(DataTracks(2));
  const std::vector<Input> built = {
      Zip({{"a.dsk", image, true}}),
      Zip({{"a.dsk", image, false}, {"b.txt", {1, 2, 3}, true}}),
      Zip({{"A.DSK", image, true, 7}, {"a.dsk", {9}, false}}),
      Zip({}),
      {},
  };
  EXPECT_TRUE(RunTarget("zip", zipfuzz::ZipFuzzInput, WithCorpus("zip", built), kMutationsPerSeed, 77));
}

TEST(FuzzTargets, RomImage) {
  const Hints hints{{0, 1, 127, 128, 129}, {}};
  // A 16 KB image and one a byte longer, with and without the header.
  Input full(kBlockSize, 0xC9), longer(128 + kBlockSize + 1, 0x76);
  longer[0] = 0;
  EXPECT_TRUE(RunTarget("rom", romfuzz::RomFuzzInput, WithCorpus("rom", {full, longer, {}}), 10, 5, hints));
}

TEST(FuzzTargets, SettingsAndProfile) {
  const Hints hints{{}, {"[PATHS]\n", "[CPC]\n", "[MISC]\n", "[ROMS]\n", "[SYMBIFACE]\n", "\n==PROFILE==\n",
                         "VENDOR=", "RAM=", "CRTCTYPE=", "LASTPROFILE=", "ROMDIR=", "FDD0=", "INDIVIDUALSET=1\n",
                         "=", "\r\n", "\\", ";", "$", "0x", "-", "\xC3\xA9", "\xFF"}};
  EXPECT_TRUE(RunTarget("settings", settingsfuzz::SettingsFuzzInput, WithCorpus("settings", {}), 25, 11, hints));
}

TEST(FuzzTargets, KeyMapFile) {
  const Hints hints{{0, 1, 2, 3, 2044, 2045, 2046, 2047}, {}};
  EXPECT_TRUE(RunTarget("keymap", keymapfuzz::KeyMapFuzzInput, WithCorpus("keymap", {Input(2047, 0), {}}),
                        kMutationsPerSeed, 3, hints));
}

TEST(FuzzTargets, HardDiskImage) {
  // The header's size field, the command bytes and the first data bytes.
  Hints hints{{56, 57, 58, 59, 255, 256, 257}, {}};
  for (size_t i = 64; i < 88; ++i) hints.Fields.push_back(i);
  EXPECT_TRUE(RunTarget("hdd", hddfuzz::HddFuzzInput, WithCorpus("hdd", {}), kMutationsPerSeed, 13, hints));
}

TEST(FuzzTargets, AutoTypeText) {
  const Hints hints{{}, {"\r", "\n", "\r\n", std::string(1, '\0'), "\xA3", "~"}};
  EXPECT_TRUE(RunTarget("autotype", autotypefuzz::AutoTypeFuzzInput, WithCorpus("autotype", {{}}),
                        kMutationsPerSeed, 9, hints));
}

TEST(FuzzTargets, TapeImage) {
  // The first block's ID and its length and count fields; block IDs and
  // the TZX and sampled formats' signatures to splice in.
  const Hints hints{{8, 10, 11, 12, 13, 14, 15, 16, 17, 21, 22, 23, 25, 26, 27, 28},
                    {"\x12\x01\x00\x02\x00", "\x20\x00\x00", "\x23\x00\x00", "\x24\x02\x00", "\x25", "\x27",
                     "\x26\x01\x00\x01\x00", "\x13\xff", "\x19\x00\x00\x01\x00", "\x18\x0e\x00\x00\x00",
                     std::string("ZXTape!\x1a\x01\x14", 10)}};
  EXPECT_TRUE(RunTarget("tape", tapefuzz::TapeFuzzInput, WithCorpus("tape", {{}}), kMutationsPerSeed, 27, hints));
}

}  // namespace
