// uPD765 floppy disk controller as wired in the CPC, with its two drives.
//
// Command, execution and result phases driven by the Z80's accesses to the
// data register (&FB7F), the main status register (&FB7E) and the motor latch
// (&FA7E); only the lowest unit-select bit is decoded. Every data access moves
// one byte between the Z80 and the disk image at once: no data-rate timing,
// no index pulse, no overrun. Head movement alone takes time, advanced once
// per 20 ms period by FdcFrameTick.
//
// Implemented: Read Data, Read Deleted Data (as Read Data), Read Track, Write
// Data, Write Deleted Data (as Write Data), Read ID, Specify, Sense Drive
// Status, Sense Interrupt Status, Recalibrate, Seek. Format Track and the Scan
// commands take their bytes and answer as invalid. Error flags recorded in an
// image are not reproduced. A command whose C, R or EOT matches nothing on the
// disk ends with an abnormal termination and ST1 "no data".
//
// The drive noises and the lamps are left to the window: it reads
// ActivityColour and takes the sound events this file posts.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "storage/disk_image.h"

struct Machine;

// Lamp colours as 0x00BBGGRR: dark red idle, bright red while transferring.
inline constexpr uint32_t kLampIdle = 0x00007F;
inline constexpr uint32_t kLampActive = 0x0000FF;

// Drive noise requests, one bit each, collected in FdcState::SoundEvents.
enum FdcSound : uint32_t {
  kSoundMotorStart = 1u << 0,  // sample 0, looped
  kSoundHeadShort = 1u << 1,   // sample 1: 1..4 tracks
  kSoundHeadMedium = 1u << 2,  // sample 2: 5..20 tracks
  kSoundHeadLong = 1u << 3,    // sample 3: 21..50 tracks
  kSoundMotorStop = 1u << 4,   // stop sample 0, play sample 4
};

struct FdcState {
  uint32_t Phase;  // 1 command, 2 execution, 3 result
  uint32_t Msr;    // main status register, low byte significant
  uint32_t St0, St1, St2, St3;
  std::array<uint8_t, 10> Bytes;  // positions 1..9: command bytes, then result bytes
  uint32_t Expected;              // command bytes of the current command
  uint32_t Count;                 // next command byte position, or result bytes left
  int32_t Command;                // code & 0x1F, -1 after reset
  uint8_t Data;                   // data register
  uint32_t Drive;                 // unit of the current command
  uint8_t IntPending;             // Sense Interrupt Status has something to report
  uint32_t Srt, Hut, Hlt;         // from Specify; only Srt is used
  uint32_t Motor;                 // 0 or 1, both drives

  std::array<int32_t, 2> Track;  // head position = index into the drive's track records
  std::array<uint8_t, 2> Recalibrating;
  std::array<uint8_t, 2> Seeking;
  std::array<int32_t, 2> SeekTarget;
  int32_t SeekStep;  // tracks per period, shared by both drives

  // Sector cursor of the running transfer.
  uint32_t SectorIndex;
  uint32_t LastSectorIndex;
  uint32_t SectorOffset;
  uint32_t ByteIndex;

  std::array<std::atomic<uint32_t>, 2> ActivityColour;
  // Posted by the emulation, taken (exchange(0)) by whoever plays the noises.
  std::atomic<uint32_t> SoundEvents;

  DriveImage Drives[2];
};

// Machine reset: controller and head state; motor, Specify values and the
// inserted disks are kept.
void FdcReset(Machine& m);
void FdcWrite(Machine& m, uint16_t port, uint8_t value);
uint8_t FdcRead(Machine& m, uint16_t port);
// Head movement progress, once per 20 ms period; also pushes written bytes
// out to the image files.
void FdcFrameTick(Machine& m);

// The same on the controller alone (tests, fuzzing).
void FdcReset(FdcState& f);
void FdcWrite(FdcState& f, uint16_t port, uint8_t value);
uint8_t FdcRead(FdcState& f, uint16_t port);
void FdcFrameTick(FdcState& f);

// Which head noise a move of `tracks` makes (0 for none).
uint32_t HeadSoundFor(int32_t tracks);
