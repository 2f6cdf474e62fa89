#include "storage/fdc.h"

#include <cstdlib>

#include "core/machine.h"

namespace {

enum Phase : uint32_t { kPhaseCommand = 1, kPhaseExecution = 2, kPhaseResult = 3 };

enum Msr : uint32_t {
  kMsrIdle = 0x80,
  kMsrCommand = 0x90,
  kMsrReadData = 0xF0,   // execution, data to the Z80
  kMsrWriteData = 0xB0,  // execution, data from the Z80
  kMsrResult = 0xD0,
};

enum Code : int32_t {
  kReadTrack = 0x02,
  kSpecify = 0x03,
  kSenseDriveStatus = 0x04,
  kWriteData = 0x05,
  kReadData = 0x06,
  kRecalibrate = 0x07,
  kSenseInterruptStatus = 0x08,
  kWriteDeletedData = 0x09,
  kReadId = 0x0A,
  kReadDeletedData = 0x0C,
  kSeek = 0x0F,
};

// Command bytes by code & 0x1F; 1 for codes answered as invalid at once.
// Format Track (0x0D) and the Scans (0x11, 0x19, 0x1E) take their bytes first.
constexpr uint8_t kCommandLength[32] = {
    1, 1, 9, 3, 2, 9, 9, 2, 1, 9, 2, 1, 9, 6, 1, 3,  //
    1, 9, 1, 1, 1, 1, 1, 1, 1, 9, 1, 1, 1, 1, 9, 1,  //
};

constexpr uint8_t kSt0AbnormalTermination = 0x40;
constexpr uint8_t kSt0NotReady = 0x08;
constexpr uint8_t kSt0SeekEnd = 0x20;
constexpr uint8_t kSt0InvalidCommand = 0x80;
constexpr uint8_t kSt1NotWritable = 0x02;
constexpr uint8_t kSt1NoData = 0x04;
constexpr uint8_t kSt1MissingAddressMark = 0x01;

DriveImage& CurrentDrive(FdcState& f) { return f.Drives[f.Drive & 1]; }

uint32_t TrackIndex(const FdcState& f) {
  const int32_t t = f.Track[f.Drive & 1];
  return t < 0 ? UINT32_MAX : static_cast<uint32_t>(t);
}

void SetLamps(FdcState& f, uint32_t colour) {
  f.ActivityColour[0].store(colour, std::memory_order_relaxed);
  f.ActivityColour[1].store(colour, std::memory_order_relaxed);
}

void PlayHeadSound(FdcState& f, int32_t from, int32_t to) {
  if (const uint32_t sound = HeadSoundFor(std::abs(from - to)))
    f.SoundEvents.fetch_or(sound, std::memory_order_relaxed);
}

// Result bytes are read from the highest position down.
void EnterResult7Id(FdcState& f, uint32_t st0, uint32_t st1, uint32_t st2, SectorId id) {
  f.Msr = kMsrResult;
  f.St0 = st0;
  f.St1 = st1;
  f.St2 = st2;
  f.Bytes[7] = static_cast<uint8_t>(st0);
  f.Bytes[6] = static_cast<uint8_t>(st1);
  f.Bytes[5] = static_cast<uint8_t>(st2);
  f.Bytes[4] = id.C;
  f.Bytes[3] = id.H;
  f.Bytes[2] = id.R;
  f.Bytes[1] = id.N;
  f.Phase = kPhaseResult;
  f.Expected = 0;
  f.Count = 7;
  f.IntPending = 1;
  // The command is over: what it wrote belongs in the file now.
  FlushDisk(CurrentDrive(f));
}

// The ID of the cursor's sector, or the command's own C, H, R, N when the
// cursor stands on nothing stored.
void EnterResult7(FdcState& f, uint32_t st0, uint32_t st1, uint32_t st2) {
  const DriveImage& d = CurrentDrive(f);
  const uint32_t t = TrackIndex(f);
  const SectorId id = ValidSector(d, t, f.SectorIndex) ? SectorIdOf(d, t, f.SectorIndex)
                                                       : SectorId{f.Bytes[3], f.Bytes[4], f.Bytes[5], f.Bytes[6]};
  EnterResult7Id(f, st0, st1, st2, id);
}

void NotReady(FdcState& f) { EnterResult7(f, f.Drive | kSt0AbnormalTermination | kSt0NotReady, 0, 0); }

void NoData(FdcState& f) {
  EnterResult7Id(f, f.Drive | kSt0AbnormalTermination, kSt1NoData, 0,
                 SectorId{f.Bytes[3], f.Bytes[4], f.Bytes[5], f.Bytes[6]});
}

void StartSector(FdcState& f) {
  f.ByteIndex = 0;
  f.SectorOffset = LocateSector(CurrentDrive(f), TrackIndex(f), f.SectorIndex);
}

// Finds the first stored track whose first sector carries C (the head
// position left by Seek does not count), then the entries with R and EOT.
// Anything not found ends the command with "no data"; the head stays put.
void SectorSearch(FdcState& f, uint32_t msr) {
  const DriveImage& d = CurrentDrive(f);
  const uint8_t c = f.Bytes[3], r = f.Bytes[5], eot = f.Bytes[7];
  uint32_t t = 0;
  while (t < d.TrackCount && (SectorCountOf(d, t) == 0 || SectorIdOf(d, t, 0).C != c)) ++t;
  if (t == d.TrackCount) return NoData(f);
  const uint32_t sectors = SectorCountOf(d, t);
  uint32_t first = 0, last = 0;
  while (first < sectors && SectorIdOf(d, t, first).R != r) ++first;
  while (last < sectors && SectorIdOf(d, t, last).R != eot) ++last;
  if (first == sectors || last == sectors) return NoData(f);
  f.Track[f.Drive] = static_cast<int32_t>(t);
  f.SectorIndex = first;
  f.LastSectorIndex = last;
  StartSector(f);
  f.Msr = msr;
}

// Moves one byte between the data register and the image.
void ByteStep(FdcState& f, bool write) {
  DriveImage& d = CurrentDrive(f);
  const uint32_t t = TrackIndex(f);
  // The disk may have been changed under a running transfer.
  if (!ValidSector(d, t, f.SectorIndex)) return NoData(f);
  const uint64_t offset = uint64_t{f.SectorOffset} + f.ByteIndex;
  if (offset < TrackEnd(d, t)) {
    SeekDisk(d, offset);
    if (write)
      WriteDiskByte(d, f.Data);
    else
      ReadDiskByte(d, f.Data);
  }
  if (++f.ByteIndex < SectorSize(d, t, f.SectorIndex)) return;
  ++f.SectorIndex;
  StartSector(f);
  if (f.SectorIndex > f.LastSectorIndex) {
    --f.SectorIndex;
    EnterResult7(f, f.Drive, 0, 0);
  }
}

void ReadData(FdcState& f) {
  const DriveImage& d = CurrentDrive(f);
  if (!d.Loaded || f.Motor == 0) return NotReady(f);
  if (f.Msr == kMsrReadData)
    ByteStep(f, false);
  else if (f.Msr == kMsrCommand)
    SectorSearch(f, kMsrReadData);
}

// Always the first stored track, all its sectors.
void ReadTrack(FdcState& f) {
  const DriveImage& d = CurrentDrive(f);
  if (!d.Loaded || f.Motor == 0) return NotReady(f);
  if (f.Msr == kMsrReadData) return ByteStep(f, false);
  if (f.Msr != kMsrCommand) return;
  if (SectorCountOf(d, 0) == 0) return NoData(f);
  f.Track[f.Drive] = 0;
  f.SectorIndex = 0;
  f.LastSectorIndex = SectorCountOf(d, 0) - 1;
  StartSector(f);
  f.Msr = kMsrReadData;
}

// Write protection is looked at on every byte, so toggling it ends a
// transfer at the next byte. The motor is not tested.
void WriteData(FdcState& f) {
  const DriveImage& d = CurrentDrive(f);
  const bool protectedDisk = d.WriteProtected.load(std::memory_order_relaxed) || d.ReadOnly || d.Source != kSourceFile;
  if (!d.Loaded) return NotReady(f);
  if (protectedDisk) return EnterResult7(f, f.Drive | kSt0AbnormalTermination, kSt1NotWritable, 0);
  if (f.Msr == kMsrWriteData)
    ByteStep(f, true);
  else if (f.Msr == kMsrCommand)
    SectorSearch(f, kMsrWriteData);
}

void ReadId(FdcState& f) {
  const DriveImage& d = CurrentDrive(f);
  if (!d.Loaded) return NotReady(f);
  const uint32_t t = TrackIndex(f);
  if (!ValidSector(d, t, f.SectorIndex)) {
    // Nothing recorded under the head.
    return EnterResult7Id(f, f.Drive | kSt0AbnormalTermination, kSt1MissingAddressMark, 0,
                          SectorId{static_cast<uint8_t>(f.Track[f.Drive]), 0, 0, 0});
  }
  EnterResult7(f, f.Drive, 0, 0);
}

void BackToCommandPhase(FdcState& f) {
  f.Phase = kPhaseCommand;
  f.Expected = 0;
  f.Count = 1;
}

void Specify(FdcState& f) {
  f.Srt = f.Bytes[2] >> 4;
  f.Hut = f.Bytes[2] & 0x0F;
  f.Hlt = f.Bytes[3] >> 1;
  f.Msr = kMsrIdle;
  BackToCommandPhase(f);
}

void SenseDriveStatus(FdcState& f) {
  const DriveImage& d = CurrentDrive(f);
  f.Msr = kMsrResult;
  f.St3 = f.Drive;
  if (d.Loaded) {
    f.St3 |= 0x20;
    if (f.Track[f.Drive] == 0) f.St3 |= 0x10;
    if (d.WriteProtected.load(std::memory_order_relaxed) || d.ReadOnly) f.St3 |= 0x40;
  }
  f.Bytes[1] = static_cast<uint8_t>(f.St3);
  f.Phase = kPhaseResult;
  f.Count = 1;
}

// Short moves finish at once; longer ones take about 20 / Srt periods.
void StartHeadMove(FdcState& f, int32_t target, bool recalibrate) {
  const int32_t from = f.Track[f.Drive];
  PlayHeadSound(f, from, target);
  const int32_t distance = std::abs(from - target);
  // A new move replaces one still running on this drive.
  f.Recalibrating[f.Drive] = 0;
  f.Seeking[f.Drive] = 0;
  if (static_cast<uint32_t>(distance) * f.Srt < 21) {
    f.Track[f.Drive] = target;
    f.St0 = f.Drive | kSt0SeekEnd;
    f.IntPending = 1;
  } else {
    f.SeekStep = static_cast<int32_t>(static_cast<uint32_t>(distance) * f.Srt / 20);
    if (recalibrate) {
      f.Recalibrating[f.Drive] = 1;
    } else {
      f.SeekTarget[f.Drive] = target;
      f.Seeking[f.Drive] = 1;
    }
    f.St0 = 0;
  }
  f.Msr = f.Drive == 0 ? 0x81 : 0x82;
  f.St1 = f.St2 = 0;
  BackToCommandPhase(f);
}

void SenseInterruptStatus(FdcState& f) {
  f.Msr = kMsrResult;
  if (!f.IntPending) {
    f.St0 = f.Drive | kSt0InvalidCommand;
    f.Bytes[1] = static_cast<uint8_t>(f.St0);
    f.Count = 1;
  } else {
    f.Bytes[2] = static_cast<uint8_t>(f.St0);
    f.Bytes[1] = static_cast<uint8_t>(f.Track[f.Drive]);
    f.Count = 2;
    f.IntPending = 0;
  }
  f.Phase = kPhaseResult;
}

void Invalid(FdcState& f) {
  f.Msr = kMsrResult;
  f.St0 = kSt0InvalidCommand;
  f.Bytes[1] = kSt0InvalidCommand;
  f.Count = 1;
  f.Phase = kPhaseResult;
  f.IntPending = 0;
}

void RunHandler(FdcState& f) {
  // Commands with a unit byte take their drive from it.
  if (f.Expected >= 2 && f.Command != kSpecify) f.Drive = f.Bytes[2] & 1;
  switch (f.Command) {
    case kReadData:
    case kReadDeletedData: return ReadData(f);
    case kReadTrack: return ReadTrack(f);
    case kWriteData:
    case kWriteDeletedData: return WriteData(f);
    case kReadId: return ReadId(f);
    case kSpecify: return Specify(f);
    case kSenseDriveStatus: return SenseDriveStatus(f);
    case kRecalibrate: return StartHeadMove(f, 0, true);
    case kSeek: return StartHeadMove(f, f.Bytes[3], false);
    case kSenseInterruptStatus: return SenseInterruptStatus(f);
    default: return Invalid(f);
  }
}

void MotorWrite(FdcState& f, uint8_t value) {
  const uint32_t on = value & 1;
  if (!f.Motor && on) f.SoundEvents.fetch_or(kSoundMotorStart, std::memory_order_relaxed);
  if (f.Motor && !on) f.SoundEvents.fetch_or(kSoundMotorStop, std::memory_order_relaxed);
  f.Motor = on;
}

void DataWrite(FdcState& f, uint8_t value) {
  switch (f.Phase) {
    case kPhaseCommand:
      SetLamps(f, kLampIdle);
      f.Msr = kMsrCommand;
      if (f.Count < 1 || f.Count > 9) f.Count = 1;
      f.Bytes[f.Count] = value;
      if (f.Count == 1) {
        f.Command = value & 0x1F;
        f.Expected = kCommandLength[f.Command];
      }
      if (f.Count >= f.Expected) {
        f.Phase = kPhaseExecution;
        RunHandler(f);
        // Only the stored ST0: result bytes already queued keep bit 6, and a
        // following Sense Interrupt Status reports it clear.
        f.St0 &= ~uint32_t{kSt0AbnormalTermination};
      } else {
        ++f.Count;
      }
      break;
    case kPhaseExecution:
      f.ActivityColour[f.Bytes[2] & 1].store(kLampActive, std::memory_order_relaxed);
      f.Data = value;
      // Only a write transfer takes bytes: a write during a read must not
      // move the read on.
      if (f.Msr == kMsrWriteData) RunHandler(f);
      break;
    default:
      break;
  }
}

uint8_t DataRead(FdcState& f) {
  switch (f.Phase) {
    case kPhaseExecution:
      f.ActivityColour[f.Bytes[2] & 1].store(kLampActive, std::memory_order_relaxed);
      // Only a read transfer gives bytes: a read during a write must not put
      // a stale data register on the disk.
      if (f.Msr == kMsrReadData) RunHandler(f);
      return f.Data;
    case kPhaseResult: {
      SetLamps(f, kLampIdle);
      uint8_t value = 0xFF;
      if (f.Count > 0 && f.Count <= 9) value = f.Bytes[f.Count--];
      if (f.Count == 0 || f.Count > 9) {
        f.Count = 1;
        f.Msr = kMsrIdle;
        f.Phase = kPhaseCommand;
      }
      return value;
    }
    default:
      return 0xFF;
  }
}

void AdvanceHead(FdcState& f, int drive) {
  int32_t& track = f.Track[drive];
  const int32_t step = f.SeekStep > 0 ? f.SeekStep : 1;
  if (f.Recalibrating[drive]) {
    if (track > 0) {
      track -= step;
      if (step >= track) track = 0;
    }
    if (track <= 0) {
      track = 0;
      f.Recalibrating[drive] = 0;
      f.St0 = kSt0SeekEnd | static_cast<uint32_t>(drive);
      f.IntPending = 1;
    }
  }
  if (f.Seeking[drive]) {
    const int32_t target = f.SeekTarget[drive];
    if (target < track) track -= step;
    if (target > track) track += step;
    if (std::abs(track - target) <= step) track = target;
    if (track == target) {
      f.Seeking[drive] = 0;
      f.St0 = kSt0SeekEnd | static_cast<uint32_t>(drive);
      f.IntPending = 1;
    }
  }
}

}  // namespace

uint32_t HeadSoundFor(int32_t tracks) {
  if (tracks >= 1 && tracks <= 4) return kSoundHeadShort;
  if (tracks >= 5 && tracks <= 20) return kSoundHeadMedium;
  if (tracks >= 21 && tracks <= 50) return kSoundHeadLong;
  return 0;
}

void FdcReset(FdcState& f) {
  f.Phase = kPhaseCommand;
  f.Msr = kMsrIdle;
  f.St0 = f.St1 = f.St2 = f.St3 = 0;
  f.Data = 0;
  f.Command = -1;
  f.IntPending = 0;
  f.Count = 1;
  f.Expected = 0;
  f.Drive = 0;
  f.Track = {0, 0};
  f.Recalibrating = {0, 0};
  f.Seeking = {0, 0};
  f.SeekTarget = {0, 0};
  f.SeekStep = 0;
  f.SectorIndex = f.LastSectorIndex = f.SectorOffset = f.ByteIndex = 0;
  SetLamps(f, kLampIdle);
}

void FdcWrite(FdcState& f, uint16_t port, uint8_t value) {
  if (!(port & 0x0100))
    MotorWrite(f, value);
  else if (port & 0x0001)
    DataWrite(f, value);
}

uint8_t FdcRead(FdcState& f, uint16_t port) {
  if (!(port & 0x0100)) return 0xFF;
  if (port & 0x0001) return DataRead(f);
  return static_cast<uint8_t>(f.Msr);
}

void FdcFrameTick(FdcState& f) {
  AdvanceHead(f, 0);
  AdvanceHead(f, 1);
  FlushDisk(f.Drives[0]);
  FlushDisk(f.Drives[1]);
}

void FdcReset(Machine& m) { FdcReset(m.Fdc); }
void FdcWrite(Machine& m, uint16_t port, uint8_t value) { FdcWrite(m.Fdc, port, value); }
uint8_t FdcRead(Machine& m, uint16_t port) { return FdcRead(m.Fdc, port); }
void FdcFrameTick(Machine& m) { FdcFrameTick(m.Fdc); }
