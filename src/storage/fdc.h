// uPD765 floppy disk controller as wired in the CPC, with its two drives.
//
// Command, execution and result phases driven by the Z80's accesses to the
// data register (&FB7F), the main status register (&FB7E) and the motor latch
// (&FA7E); only the lowest unit-select bit is decoded, the head bit selects
// the side of a double-sided image.
//
// The disk turns: 300 rpm, an index pulse every 200 ms, the sectors of a
// track passing the head in their stored order, spaced by their length and
// gaps. In execution phase a byte is ready every 32 us (250 kbit/s MFM); a
// byte the Z80 does not take in time is an overrun. Nothing of this is
// ticked: the head's angle is worked out from the time of each access (`Now`,
// set by the machine), so an idle controller costs nothing.
//
// The CPC leaves the terminal count unconnected: a read or write that gets
// past its EOT sector ends with ST0 abnormal and ST1 "end of cylinder", as on
// the real machine. Head movement takes time too, advanced once per 20 ms
// period by FdcFrameTick.
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

  // Time of the current access in microseconds, set by the machine (or a
  // test) before every call; only ever moves forward.
  uint64_t Now;

  std::array<int32_t, 2> Track;  // head position = index into the drive's track records
  std::array<uint8_t, 2> Recalibrating;
  std::array<uint8_t, 2> Seeking;
  std::array<int32_t, 2> SeekTarget;
  int32_t SeekStep;  // tracks per period, shared by both drives
  uint32_t SeekBusy;  // drive busy bits of the status: a move not yet reported

  // Sector cursor of the running transfer.
  uint32_t SectorIndex;
  uint32_t LastSectorIndex;
  uint32_t SectorOffset;
  uint32_t ByteIndex;

  // Timed execution phase.
  uint32_t Step;            // what the execution phase waits for (fdc.cpp)
  uint64_t ByteTime;        // when byte ByteIndex is (or was) ready
  uint64_t EventTime;       // when a scheduled result comes
  uint32_t Record;          // track record of the running command
  uint32_t Head;            // head bit of the running command
  uint8_t SectorR;          // R of the sector wanted next
  uint32_t TransferLength;  // bytes of the current sector
  uint32_t CopyBase;        // offset of the weak copy being read
  uint32_t SectorsLeft;     // Read Track
  uint8_t AccSt1, AccSt2;   // flags gathered over a multi-sector command
  uint8_t ScanAllEqual, ScanAllMet;
  uint8_t PendingSt0, PendingSt1, PendingSt2;
  SectorId PendingId;
  std::array<uint8_t, 4 * 256> FormatIds;  // Format Track's ID bytes

  std::array<std::atomic<uint32_t>, 2> ActivityColour;
  // Posted by the emulation, taken (exchange(0)) by whoever plays the noises.
  std::atomic<uint32_t> SoundEvents;

  DriveImage Drives[2];
};

// Machine reset: controller and head state; motor, Specify values and the
// inserted disks are kept. The Machine forms set Now from the machine clock.
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
