// SNA snapshots: the machine state as a 256-byte header (Z80, gate array,
// CRTC, ROM select, PPI and PSG registers) followed by the memory, in the
// published layout's three versions:
//   1  the header and a dump of the base 64 KB;
//   2  adds the CPC type, the interrupt number and the multimode bytes, and
//      a dump of any size in 64 KB steps (base RAM, then expansion banks);
//   3  adds the FDC motor and tracks, the printer latch, the CRTC type and
//      internal counters, the gate array's interrupt counters and request,
//      and chunks after the dump: MEM0..MEM8 hold 64 KB each (MEM0 the base
//      RAM, MEMn expansion bank n-1), stored or run-length compressed with
//      the &E5 escape. Chunks of other kinds are skipped.
// Our own version 3 files also carry a chunk "PELL" with the state the
// published fields leave out (the CRTC address counters, the Z80's hidden
// flags, the full 4 MB bank number, the PPI), so that a save and load of
// our own gives back the machine exactly; other readers skip it.
//
// Not in any version, and so left as it is by a load: the inserted disks,
// the sound output, the SymbiFace II card, and memory the file does not
// cover. PPI ports B, C and control come from the running machine unless
// the file has our own chunk.
//
// EncodeSnapshot and DecodeSnapshot work on memory only; the file functions
// wrap them. A load reads and checks the whole image before it changes
// anything: a refused file leaves the machine as it was.
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
constexpr size_t kSnapshotSize = kSnapshotHeaderSize + kSnapshotDumpSize;  // a version 1 file
constexpr int kSnapshotDefaultVersion = 3;

struct SnapshotResult {
  bool Ok = true;
  std::string Error;    // one line naming the file
  std::string Warning;  // loaded, but not all of it (memory the machine lacks)
};

// The file image of the machine in the given version (1, 2 or 3; other
// values are taken as 3). Version 1 holds the base 64 KB only; 2 and 3 the
// configured RAM. packMemory false stores version 3's memory chunks
// uncompressed: larger, but quicker to make and at fixed offsets, so two
// images of one machine differ only where the machine changed (rewind).
std::vector<uint8_t> EncodeSnapshot(const Machine& m, int version = kSnapshotDefaultVersion,
                                    bool packMemory = true);

// Puts an image of any version into the machine, or refuses it and changes
// nothing. name: the file, for the messages.
SnapshotResult DecodeSnapshot(Machine& m, std::span<const uint8_t> image, const std::string& name);

// Writes the file through a temporary sibling, so a failed save leaves an
// older snapshot of the same name whole.
SnapshotResult SaveSnapshot(const Machine& m, const std::filesystem::path& path,
                            int version = kSnapshotDefaultVersion);
SnapshotResult LoadSnapshot(Machine& m, const std::filesystem::path& path);

// The file a name chosen in the save dialog stands for: kept when its file
// name contains ".sna" (lower case), else with ".sna" appended.
std::filesystem::path SnapshotFileName(const std::filesystem::path& chosen);

// Run-length coding of a 64 KB memory chunk: &E5 n v is n copies of v,
// &E5 0 a single &E5, any other byte itself. Decoding fails (false) unless
// the data gives exactly 64 KB.
std::vector<uint8_t> CompressMemoryChunk(std::span<const uint8_t> bank);
bool DecompressMemoryChunk(std::span<const uint8_t> data, uint8_t* bank);
