// SNA snapshots: the machine state as a 256-byte header (Z80, gate array,
// CRTC, ROM select, PPI and PSG registers) followed by a dump of the base
// 64 KB of RAM.
//
// Saves version 1 files. Reads any version as if it were version 1: the
// version 1 header fields and the first 64 KB of the dump; later versions'
// extra fields and memory are ignored. Not in the file, and so left as it
// is by a load: expansion RAM, the FDC and drives, the CRTC counters, the
// gate array's interrupt counter, PPI ports B, C and control.
//
// A load reads and checks the whole image before it changes anything: a
// file too short or unreadable leaves the machine as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

struct Machine;

constexpr size_t kSnapshotHeaderSize = 256;
constexpr size_t kSnapshotDumpSize = 65536;
constexpr size_t kSnapshotSize = kSnapshotHeaderSize + kSnapshotDumpSize;

struct SnapshotResult {
  bool Ok = true;
  std::string Error;  // one line naming the file
};

// The version 1 file image of the machine.
std::vector<uint8_t> EncodeSnapshot(const Machine& m);

// Puts an image into the machine, or refuses it (shorter than a header and
// a 64 KB dump) and changes nothing. name: the file, for the message.
SnapshotResult DecodeSnapshot(Machine& m, std::span<const uint8_t> image, const std::string& name);

// Writes the file through a temporary sibling, so a failed save leaves an
// older snapshot of the same name whole.
SnapshotResult SaveSnapshot(const Machine& m, const std::filesystem::path& path);
SnapshotResult LoadSnapshot(Machine& m, const std::filesystem::path& path);

// The file a name chosen in the save dialog stands for: kept when its file
// name contains ".sna" (lower case), else with ".sna" appended.
std::filesystem::path SnapshotFileName(const std::filesystem::path& chosen);
