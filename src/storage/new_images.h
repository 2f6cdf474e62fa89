// Blank media: a formatted single-sided 40-track DSK image for the floppy
// drives and a FAT16 hard disk image (256-byte header, MBR, boot sector,
// first FAT) for the SymbiFace II.
//
// No GUI here: the "Create New Disks" dialog and the runner share these
// writers. Both write to a temporary file in the target folder and rename it
// into place, so a failed or cancelled write leaves no partial file and an
// existing file of that name untouched. Neither image is inserted anywhere.
//
// Not modelled: FAT32 (the dialog keeps that choice disabled).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class NewDiskFormat { System, Data, Vendor };

// The combo box items, in order.
inline constexpr const char* kNewDiskFormatNames[] = {"System (169 KB)", "Data (178 KB)", "Vendor (154 KB)"};

constexpr uint32_t kNewDskTracks = 40;
constexpr uint32_t kNewDskTrackSize = 256 + 9 * 512;
constexpr uint32_t kNewDskFileSize = 256 + kNewDskTracks * kNewDskTrackSize;  // 194816

constexpr uint32_t kHddHeaderSize = 256;
constexpr uint32_t kHddHeads = 16;
constexpr uint32_t kHddSectorsPerTrack = 63;
constexpr uint32_t kHddMinSizeMb = 1;
constexpr uint32_t kHddMaxSizeMb = 60000;

// Empty on success, otherwise why the file was not written.
struct ImageWriteResult {
  std::string Error;
  bool Cancelled = false;
  std::filesystem::path Written;  // the final name, after the name rules
  bool Ok() const { return Error.empty(); }
};

// The whole DSK file, kNewDskFileSize bytes.
std::vector<uint8_t> BuildNewDsk(NewDiskFormat format);

// Name rules of the save dialog: ".dsk" is appended unless the file name
// holds ".dsk" (lower case); ".img" unless it holds ".img" or ".hdd".
std::filesystem::path NewDskFileName(const std::filesystem::path& chosen);
std::filesystem::path NewHddFileName(const std::filesystem::path& chosen);

// The size edit: digits only, 1..60000; anything else is no size.
std::optional<uint32_t> ParseHddSizeMb(std::string_view text);

struct HddLayout {
  uint32_t Cylinders;          // Cyl
  uint32_t SizeKb;             // K, the disk after the header
  uint32_t PartitionSectors;   // P, sectors of partition 1 and of the volume
  uint32_t SectorsPerCluster;
  uint32_t SectorsPerFat;
  uint32_t Clusters;           // data clusters of the volume
  uint32_t FatBits;            // 16; 12 for the 1 and 2 MB images
  uint64_t FileSize;           // header + disk
};
HddLayout HddLayoutFor(uint32_t sizeMb);

// The start of the hard disk file (header, MBR, boot sector, the first
// sector of both FATs); the rest of the file is zero.
std::vector<uint8_t> BuildHddStart(const HddLayout& layout, uint32_t volumeSerial);

// Called after each block of zeros with the percentage done (0..100, never
// falling, repeated while it does not move); returning false cancels.
using WriteProgress = std::function<bool(int percent)>;

// Writers; the name rules are applied to `chosen`.
ImageWriteResult WriteNewDsk(const std::filesystem::path& chosen, NewDiskFormat format);
ImageWriteResult WriteNewHdd(const std::filesystem::path& chosen, uint32_t sizeMb,
                             const WriteProgress& progress = {});
