// The disks in drives A and B: DSK and EXTENDED DSK images, opened in place
// from a file or extracted from a ZIP archive into memory.
//
// Only the 256-byte disk block and the track blocks are kept; sector bytes
// are read and written in the image as the controller moves them. File
// access goes through a cache of one 4 KB block of the file. Written bytes
// reach the file when the cache moves on, at the end of every controller
// command, once per period and at eject, so nothing is lost at exit.
//
// Models one side: tracks are taken in the order they are stored. Carried but
// unused: the sector entries' ST1/ST2 and stored lengths, the track's own N,
// GAP#3 and filler. Refused with a message (never read out of bounds): more
// than 43 stored tracks, more sector entries than a track block holds, size
// codes above 6, and EXTENDED images with an unstored track before a stored
// one.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "storage/zip_reader.h"

inline constexpr int kMaxTracks = 43;
// Sector entries that fit in a 256-byte track block after its 24-byte head.
inline constexpr int kMaxSectorsPerTrack = 29;
// By size code N; 6 is 6144, not 8192.
inline constexpr uint32_t kSectorSizes[7] = {128, 256, 512, 1024, 2048, 4096, 6144};

inline constexpr const char* kMsgNoDskInZip = "No DSK file inside the ZIP!";

enum DiskSource : uint32_t { kSourceFile = 0, kSourceZip = 1 };

// Offsets inside a track block.
inline constexpr int kTrackSectorCount = 0x15;
inline constexpr int kTrackEntries = 0x18;

struct SectorId {
  uint8_t C, H, R, N;
};

struct DriveImage {
  DriveImage() = default;
  ~DriveImage();
  DriveImage(const DriveImage&) = delete;
  DriveImage& operator=(const DriveImage&) = delete;

  std::array<uint8_t, 256> Header{};
  std::array<std::array<uint8_t, 256>, kMaxTracks> Tracks{};
  uint8_t Loaded = 0;
  // Toggled by the window while the machine runs; read by Write Data.
  std::atomic<uint8_t> WriteProtected{0};
  uint32_t Source = kSourceFile;
  // The file could be opened for reading only: writes are refused as if the
  // disk were write protected.
  uint8_t ReadOnly = 0;
  // A write to the file failed (disk full, medium gone); the window may say so.
  uint8_t WriteFailed = 0;

  int File = -1;
  TMiniZip Zip;  // owns the extracted image in Zip.Stream

  std::string DiskPath;   // FDD0 / FDD1
  std::string ZipPath;
  std::string ZipMember;  // COMPRFDD0 / COMPRFDD1

  // Derived at insertion.
  uint32_t TrackCount = 0;  // stored track blocks read into Tracks
  std::array<uint32_t, kMaxTracks> TrackOffset{};  // of each track block in the image
  std::array<uint32_t, kMaxTracks> TrackLength{};  // bytes of each track in the image, block included
  uint64_t ImageSize = 0;

  // Byte access state.
  uint64_t Position = 0;
  static constexpr uint32_t kCacheSize = 4096;
  std::array<uint8_t, kCacheSize> Cache{};
  uint64_t CacheBase = 0;
  uint32_t CacheLength = 0;
  uint8_t CacheValid = 0;
  uint32_t DirtyBegin = 0, DirtyEnd = 0;  // dirty byte range inside Cache; empty when equal
};

enum class InsertStatus {
  Inserted,  // Loaded = 1 (possibly with no readable sectors)
  Missing,   // no such file: nothing changed
  Refused,   // image unusable: drive left empty, message says why
  Choose,    // an archive with several DSK members and none named
};

struct InsertResult {
  InsertStatus Status = InsertStatus::Missing;
  std::vector<std::string> Messages;  // texts to show the user, in order
};

// Inserts a DSK file in place (ejecting what was there). A file that cannot
// be opened for writing is inserted read-only.
InsertResult OpenDiskFile(DriveImage& d, const std::string& path);
// Inserts a member of the archive already opened in d.Zip.
InsertResult OpenDiskFromZip(DriveImage& d, const std::string& member);
// Inserts an image held in memory as if extracted from an archive (read-only).
InsertResult OpenDiskFromMemory(DriveImage& d, std::vector<uint8_t> image);

// Flushes, closes the file (a ZIP image stays in memory), clears the track
// records and Loaded. Paths are kept; the menu's eject clears them.
void EjectDisk(DriveImage& d);

// The upper-cased names of the archive's members containing ".DSK".
std::vector<std::string> ListDskMembers(TMiniZip& zip, std::vector<std::string>& messages);

// What the window's Load item and the start-up reinsertion do after the file
// is chosen: a path containing ".ZIP" is opened as an archive and `member`
// (or, when empty, the only DSK member) inserted. With several DSK members and
// no member named, nothing is inserted and `choices` lists them for a chooser.
InsertResult InsertDiskPath(DriveImage& d, const std::string& path, const std::string& member,
                            std::vector<std::string>* choices = nullptr);
// The window's eject: EjectDisk and forget the paths.
void EjectDrive(DriveImage& d);

// Menu caption ("Floppy A:" or "A: NAME.DSK") and status text ("A: Empty" /
// "A: NAME.DSK") of drive 0 or 1.
std::string DriveCaption(const DriveImage& d, int drive);
std::string DriveStatusText(const DriveImage& d, int drive);

// Sector geometry. Every lookup checks its indices against what was stored.
inline uint32_t SectorCountOf(const DriveImage& d, uint32_t track) {
  return track < d.TrackCount ? d.Tracks[track][kTrackSectorCount] : 0;
}
inline bool ValidSector(const DriveImage& d, uint32_t track, uint32_t sector) {
  return sector < SectorCountOf(d, track);
}
inline SectorId SectorIdOf(const DriveImage& d, uint32_t track, uint32_t sector) {
  const uint8_t* e = &d.Tracks[track][kTrackEntries + 8 * sector];
  return {e[0], e[1], e[2], e[3]};
}
// Bytes of a sector; N was checked at insertion.
inline uint32_t SectorSize(const DriveImage& d, uint32_t track, uint32_t sector) {
  const uint8_t n = d.Tracks[track][kTrackEntries + 8 * sector + 3];
  return kSectorSizes[n <= 6 ? n : 6];
}
// Image offset of the first data byte of `sector` (which may be one past the
// last) of stored track `track`; 0 for a track that is not stored.
uint32_t LocateSector(const DriveImage& d, uint32_t track, uint32_t sector);
// One past the last byte of the track in the image: sector bytes beyond it
// belong to the next track and are neither read nor written.
inline uint64_t TrackEnd(const DriveImage& d, uint32_t track) {
  return track < d.TrackCount ? uint64_t{d.TrackOffset[track]} + d.TrackLength[track] : 0;
}

// Byte access at the current position. A read past the end of the image
// leaves `data` as it was; a write past the end is dropped.
inline void SeekDisk(DriveImage& d, uint64_t offset) { d.Position = offset; }
void ReadDiskByte(DriveImage& d, uint8_t& data);
void WriteDiskByte(DriveImage& d, uint8_t value);
// Writes cached bytes to the file.
void FlushDisk(DriveImage& d);
