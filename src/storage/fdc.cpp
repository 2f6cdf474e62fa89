#include "storage/fdc.h"

#include <algorithm>
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
  kMsrRequest = 0x80,
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
  kFormatTrack = 0x0D,
  kSeek = 0x0F,
  kScanEqual = 0x11,
  kScanLowOrEqual = 0x19,
  kScanHighOrEqual = 0x1E,
};

// What the execution phase waits for.
enum Step : uint32_t {
  kStepNone = 0,
  kStepTransfer,  // a data byte every 32 us from ByteTime on
  kStepFormat,    // Format Track's ID bytes, from ByteTime on
  kStepResult,    // the pending result at EventTime
};

// Command bytes by code & 0x1F; 1 for codes answered as invalid at once.
constexpr uint8_t kCommandLength[32] = {
    1, 1, 9, 3, 2, 9, 9, 2, 1, 9, 2, 1, 9, 6, 1, 3,  //
    1, 9, 1, 1, 1, 1, 1, 1, 1, 9, 1, 1, 1, 1, 9, 1,  //
};

constexpr uint8_t kSt0AbnormalTermination = 0x40;
constexpr uint8_t kSt0NotReady = 0x08;
constexpr uint8_t kSt0SeekEnd = 0x20;
constexpr uint8_t kSt0InvalidCommand = 0x80;
constexpr uint8_t kSt1EndOfCylinder = 0x80;
constexpr uint8_t kSt1Overrun = 0x10;
constexpr uint8_t kSt1NoData = 0x04;
constexpr uint8_t kSt1NotWritable = 0x02;
constexpr uint8_t kSt2WrongCylinder = 0x10;
constexpr uint8_t kSt2ScanHit = 0x08;
constexpr uint8_t kSt2ScanNotSatisfied = 0x04;
constexpr uint8_t kSt2BadCylinder = 0x02;

// The rotating disk, in microseconds and bytes of 32 us (250 kbit/s MFM).
constexpr uint64_t kRevolution = 200000;
constexpr uint64_t kByteTime = 32;
constexpr uint32_t kTrackBytes = 6250;
// Index gap, sync, index mark and gap 1 before the first sector.
constexpr uint32_t kPreamble = 146;
// Sync, ID mark, ID, CRC, gap 2, sync and data mark around the data; its CRC.
constexpr uint32_t kIdRead = 22;      // from the ID's sync to the ID read
constexpr uint32_t kDataLead = 60;    // from the ID's sync to the first data byte
constexpr uint32_t kSectorFrame = 62;  // the bytes of a sector other than data and gap 3

DriveImage& CurrentDrive(FdcState& f) { return f.Drives[f.Drive & 1]; }

void SetLamps(FdcState& f, uint32_t colour) {
  f.ActivityColour[0].store(colour, std::memory_order_relaxed);
  f.ActivityColour[1].store(colour, std::memory_order_relaxed);
}

void PlayHeadSound(FdcState& f, int32_t from, int32_t to) {
  if (const uint32_t sound = HeadSoundFor(std::abs(from - to)))
    f.SoundEvents.fetch_or(sound, std::memory_order_relaxed);
}

SectorId CommandId(const FdcState& f) { return {f.Bytes[3], f.Bytes[4], f.SectorR, f.Bytes[6]}; }

uint32_t St0Unit(const FdcState& f) { return f.Drive | f.Head << 2; }

// Result bytes are read from the highest position down.
void EnterResult7Id(FdcState& f, uint32_t st0, uint32_t st1, uint32_t st2, SectorId id) {
  f.Step = kStepNone;
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

// A result that comes when the disk has turned to `time`; the status shows
// the controller busy until then.
void ScheduleResult(FdcState& f, uint64_t time, uint32_t st0, uint32_t st1, uint32_t st2, SectorId id) {
  f.Step = kStepResult;
  f.EventTime = time;
  f.PendingSt0 = static_cast<uint8_t>(st0);
  f.PendingSt1 = static_cast<uint8_t>(st1);
  f.PendingSt2 = static_cast<uint8_t>(st2);
  f.PendingId = id;
}

void NotReady(FdcState& f) {
  EnterResult7Id(f, St0Unit(f) | kSt0AbnormalTermination | kSt0NotReady, 0, 0, CommandId(f));
}

// Where the sectors of a track pass the head: the time from the index pulse
// to each sector's ID. A track longer than the disk holds is squeezed in.
uint32_t SectorTimes(const DriveImage& d, uint32_t record, std::array<uint32_t, kMaxSectorsPerTrack>& at) {
  const uint32_t count = SectorCountOf(d, record);
  if (count == 0) return 0;
  const uint32_t gap3 = d.Tracks[record][kTrackGap3];
  uint32_t pos = kPreamble;
  for (uint32_t s = 0; s < count; ++s) {
    at[s] = pos;
    pos += kSectorFrame + gap3 + TransferSizeOfCode(SectorIdOf(d, record, s).N);
  }
  const uint32_t room = kTrackBytes - 100;
  for (uint32_t s = 0; s < count; ++s) {
    const uint32_t p = pos > room ? kPreamble + static_cast<uint32_t>(uint64_t{at[s] - kPreamble} * (room - kPreamble) /
                                                                        (pos - kPreamble))
                                  : at[s];
    at[s] = p * static_cast<uint32_t>(kByteTime);
  }
  return count;
}

uint64_t RevolutionStart(uint64_t t) { return t - t % kRevolution; }

bool IdMatches(const SectorId& a, const SectorId& b) { return a.C == b.C && a.H == b.H && a.R == b.R && a.N == b.N; }

void EndOfCylinder(FdcState& f, uint64_t time);
void StartSectorData(FdcState& f, uint32_t sector, uint64_t idTime);

// Waits for sector R of the command to come round, from `from` on. The
// controller gives up at the second index pulse.
void FindSector(FdcState& f, uint64_t from) {
  const DriveImage& d = CurrentDrive(f);
  std::array<uint32_t, kMaxSectorsPerTrack> at;
  const uint32_t count = SectorTimes(d, f.Record, at);
  const uint64_t start = RevolutionStart(from);
  const uint64_t deadline = start + 2 * kRevolution;
  const SectorId want = CommandId(f);
  uint8_t st2 = 0;
  for (uint64_t turn = start; count && turn < deadline; turn += kRevolution) {
    for (uint32_t s = 0; s < count; ++s) {
      const uint64_t idTime = turn + at[s] + kIdRead * kByteTime;
      if (idTime <= from) continue;
      if (idTime > deadline) break;
      const SectorId id = SectorIdOf(d, f.Record, s);
      if (IdMatches(id, want)) return StartSectorData(f, s, idTime);
      if (id.R == want.R && id.C != want.C) st2 |= id.C == 0xFF ? kSt2BadCylinder : kSt2WrongCylinder;
    }
  }
  // An unformatted track shows no address mark at all.
  const uint32_t st1 = count ? kSt1NoData : kSt1MissingAddressMark;
  ScheduleResult(f, deadline, St0Unit(f) | kSt0AbnormalTermination, f.AccSt1 | st1, f.AccSt2 | st2, want);
}

bool IsRead(const FdcState& f) {
  return f.Command == kReadData || f.Command == kReadDeletedData || f.Command == kReadTrack;
}
bool IsScan(const FdcState& f) {
  return f.Command == kScanEqual || f.Command == kScanLowOrEqual || f.Command == kScanHighOrEqual;
}

// The sector's ID has passed the head at `idTime`: its data follow.
void StartSectorData(FdcState& f, uint32_t sector, uint64_t idTime) {
  DriveImage& d = CurrentDrive(f);
  const uint32_t k = f.Record;
  const SectorId id = SectorIdOf(d, k, sector);
  const uint8_t st1 = SectorSt1(d, k, sector), st2 = SectorSt2(d, k, sector);
  f.SectorIndex = sector;
  const uint64_t dataTime = idTime - kIdRead * kByteTime + kDataLead * kByteTime;
  const uint32_t unit = St0Unit(f) | kSt0AbnormalTermination;
  // A CRC error in the ID field, or an ID without a data field.
  if ((st1 & kSt1DataError) && !(st2 & kSt2DataCrcError))
    return ScheduleResult(f, idTime, unit, f.AccSt1 | kSt1DataError, f.AccSt2, id);
  if (st2 & kSt2MissingDataMark)
    return ScheduleResult(f, dataTime, unit, f.AccSt1 | kSt1MissingAddressMark, f.AccSt2 | kSt2MissingDataMark, id);

  if (f.Command != kReadTrack && f.Command != kWriteData && f.Command != kWriteDeletedData) {
    // Read Data meets a deleted mark (Read Deleted Data a normal one): with
    // SK it is passed over, without it read and the command ends after it.
    const bool deleted = (st2 & kSt2ControlMark) != 0;
    if (deleted != (f.Command == kReadDeletedData)) {
      f.AccSt2 |= kSt2ControlMark;
      if (f.Bytes[1] & 0x20) {
        const uint64_t after = dataTime + (TransferSizeOfCode(id.N) + 2) * kByteTime;
        if (f.SectorR == f.Bytes[7]) return EndOfCylinder(f, after);
        ++f.SectorR;
        return FindSector(f, after);
      }
    }
  }
  f.TransferLength = TransferSizeOfCode(f.Command == kReadTrack ? f.Bytes[6] : id.N);
  // Several copies stored: a weak sector, each read gives the next copy.
  const uint32_t stored = SectorSize(d, k, sector);
  f.CopyBase = 0;
  if (IsRead(f) && stored >= 2 * f.TransferLength && stored % f.TransferLength == 0)
    f.CopyBase = (d.WeakRead++ % (stored / f.TransferLength)) * f.TransferLength;
  f.SectorOffset = d.SectorData[k][sector];
  f.ByteIndex = 0;
  f.ByteTime = dataTime;
  f.ScanAllEqual = f.ScanAllMet = 1;
  f.Step = kStepTransfer;
}

// The next sector of a multi-sector command, or its end.
void NextSector(FdcState& f) {
  DriveImage& d = CurrentDrive(f);
  const uint32_t k = f.Record, s = f.SectorIndex;
  const SectorId id = SectorIdOf(d, k, s);
  const uint64_t after = f.ByteTime + 2 * kByteTime;  // past the data CRC
  const uint8_t st1 = SectorSt1(d, k, s), st2 = SectorSt2(d, k, s);
  const uint32_t unit = St0Unit(f) | kSt0AbnormalTermination;

  // Read Track counts sectors in its R register and goes on round the track
  // until EOT of them have passed; the result shows the count, not an ID
  // from the disk (a CPC FDC test program checks R).
  if (f.Command == kReadTrack) {
    if (!IdMatches(id, CommandId(f))) f.AccSt1 |= kSt1NoData;
    if (--f.SectorsLeft == 0) return EnterResult7Id(f, unit, f.AccSt1 | kSt1EndOfCylinder, f.AccSt2, CommandId(f));
    ++f.SectorR;
    std::array<uint32_t, kMaxSectorsPerTrack> at;
    const uint32_t count = SectorTimes(d, k, at);
    const uint32_t next = s + 1 < count ? s + 1 : 0;
    const uint64_t turn = RevolutionStart(f.ByteTime) + (next == 0 ? kRevolution : 0);
    return StartSectorData(f, next, turn + at[next] + kIdRead * kByteTime);
  }
  if (IsRead(f) && (st1 & kSt1DataError))
    return EnterResult7Id(f, unit, f.AccSt1 | kSt1DataError, f.AccSt2 | (st2 & kSt2DataCrcError), id);
  if (IsScan(f)) {
    if (f.ScanAllMet)
      return EnterResult7Id(f, St0Unit(f), f.AccSt1, f.AccSt2 | (f.ScanAllEqual ? kSt2ScanHit : 0), id);
    const uint32_t stp = f.Bytes[9] ? f.Bytes[9] : 1;
    if (f.SectorR + stp > f.Bytes[7])
      return EnterResult7Id(f, unit, f.AccSt1 | kSt1EndOfCylinder, f.AccSt2 | kSt2ScanNotSatisfied, id);
    f.SectorR = static_cast<uint8_t>(f.SectorR + stp);
    return FindSector(f, after);
  }
  // Read Data stops after a sector with the other kind of mark.
  if (f.AccSt2 & kSt2ControlMark && !(f.Bytes[1] & 0x20) && IsRead(f))
    return EnterResult7Id(f, unit, f.AccSt1, f.AccSt2, id);
  if (f.SectorR == f.Bytes[7]) return EndOfCylinder(f, after);
  ++f.SectorR;
  FindSector(f, after);
}

// Past the EOT sector with no terminal count: the real chip ends so, with
// the ID of the last sector (a CPC FDC test program checks C and R). With
// MT set on head 0 it goes on instead with sector 1 of head 1, the H of the
// wanted ID flipped, and ends at EOT there (uPD765 data sheet, multi-track).
void EndOfCylinder(FdcState& f, uint64_t time) {
  if ((f.Bytes[1] & 0x80) && f.Head == 0 && f.Command != kReadTrack) {
    f.Head = 1;
    f.Bytes[4] ^= 1;
    f.SectorR = 1;
    f.Record = TrackRecord(CurrentDrive(f), f.Track[f.Drive], f.Head);
    return FindSector(f, time);
  }
  const SectorId id = CommandId(f);
  EnterResult7Id(f, St0Unit(f) | kSt0AbnormalTermination, f.AccSt1 | kSt1EndOfCylinder, f.AccSt2, id);
}

// Brings the execution phase up to `Now`: a result that is due, or an
// overrun for a byte the Z80 left too long.
void Advance(FdcState& f) {
  if (f.Phase != kPhaseExecution) return;
  if (f.Step == kStepResult && f.Now >= f.EventTime) {
    EnterResult7Id(f, f.PendingSt0, f.PendingSt1, f.PendingSt2, f.PendingId);
  } else if (f.Step == kStepTransfer && f.Now >= f.ByteTime + kByteTime) {
    const DriveImage& d = CurrentDrive(f);
    const SectorId id = ValidSector(d, f.Record, f.SectorIndex) ? SectorIdOf(d, f.Record, f.SectorIndex) : CommandId(f);
    EnterResult7Id(f, St0Unit(f) | kSt0AbnormalTermination, f.AccSt1 | kSt1Overrun, f.AccSt2, id);
  }
}

bool ByteReady(const FdcState& f) {
  return f.Phase == kPhaseExecution && (f.Step == kStepTransfer || f.Step == kStepFormat) && f.Now >= f.ByteTime;
}

// The byte of the current sector at ByteIndex: the stored data, then what
// follows it on the track, then gap bytes.
uint8_t DiskByte(FdcState& f) {
  DriveImage& d = CurrentDrive(f);
  const uint32_t k = f.Record, s = f.SectorIndex;
  const uint32_t stored = SectorSize(d, k, s);
  const uint64_t offset = uint64_t{f.SectorOffset} + f.CopyBase + f.ByteIndex;
  uint8_t value = 0x4E;
  if ((f.CopyBase + f.ByteIndex < stored || offset < TrackEnd(d, k)) && offset < TrackEnd(d, k)) {
    SeekDisk(d, offset);
    ReadDiskByte(d, value);
  }
  return value;
}

bool Writable(const DriveImage& d) {
  return !(d.WriteProtected.load(std::memory_order_relaxed) || d.ReadOnly || d.Source != kSourceFile);
}

// Records the data mark of a written sector in an EXTENDED image's entry.
void MarkWrittenSector(FdcState& f) {
  DriveImage& d = CurrentDrive(f);
  if (!d.Extended) return;
  const uint32_t k = f.Record, s = f.SectorIndex;
  uint8_t* entry = &d.Tracks[k][kTrackEntries + 8 * s];
  const uint8_t st1 = entry[4] & ~(kSt1DataError | kSt1MissingAddressMark);
  const uint8_t st2 = f.Command == kWriteDeletedData ? kSt2ControlMark : 0;
  if (entry[4] == st1 && entry[5] == st2) return;
  entry[4] = st1;
  entry[5] = st2;
  const uint64_t at = uint64_t{d.TrackOffset[k]} + kTrackEntries + 8 * s + 4;
  SeekDisk(d, at);
  WriteDiskByte(d, st1);
  SeekDisk(d, at + 1);
  WriteDiskByte(d, st2);
}

// One byte between the data register and the disk, in time.
void TransferByte(FdcState& f) {
  DriveImage& d = CurrentDrive(f);
  // The disk may have been changed under a running transfer.
  if (!ValidSector(d, f.Record, f.SectorIndex))
    return EnterResult7Id(f, St0Unit(f) | kSt0AbnormalTermination, kSt1NoData, 0, CommandId(f));
  const bool writing = f.Command == kWriteData || f.Command == kWriteDeletedData;
  if (writing) {
    if (!Writable(d))
      return EnterResult7Id(f, St0Unit(f) | kSt0AbnormalTermination, kSt1NotWritable, 0,
                            SectorIdOf(d, f.Record, f.SectorIndex));
    if (f.ByteIndex < SectorSize(d, f.Record, f.SectorIndex)) {
      SeekDisk(d, uint64_t{f.SectorOffset} + f.ByteIndex);
      WriteDiskByte(d, f.Data);
    }
    if (f.ByteIndex == 0) MarkWrittenSector(f);
  } else if (IsScan(f)) {
    const uint8_t disk = DiskByte(f);
    if (f.Data != 0xFF) {
      if (disk != f.Data) f.ScanAllEqual = 0;
      const bool met = f.Command == kScanEqual ? disk == f.Data
                       : f.Command == kScanLowOrEqual ? disk <= f.Data
                                                      : disk >= f.Data;
      if (!met) f.ScanAllMet = 0;
    }
  } else {
    f.Data = DiskByte(f);
  }
  f.ByteTime += kByteTime;
  if (++f.ByteIndex < f.TransferLength) return;
  f.ByteTime -= kByteTime;
  NextSector(f);
}

// Read Data, Read Deleted Data, Write Data, Write Deleted Data and the Scans
// look for their first sector under the head.
void StartSectorCommand(FdcState& f, uint32_t msr) {
  f.SectorR = f.Bytes[5];
  f.AccSt1 = f.AccSt2 = 0;
  f.Msr = msr;
  FindSector(f, f.Now);
}

void ReadData(FdcState& f) {
  const DriveImage& d = CurrentDrive(f);
  if (!d.Loaded || f.Motor == 0) return NotReady(f);
  StartSectorCommand(f, kMsrReadData);
}

// The track under the head from its index pulse on, sector after sector in
// stored order, EOT sectors at most.
void ReadTrack(FdcState& f) {
  const DriveImage& d = CurrentDrive(f);
  if (!d.Loaded || f.Motor == 0) return NotReady(f);
  f.SectorR = f.Bytes[5];
  f.AccSt1 = f.AccSt2 = 0;
  f.Msr = kMsrReadData;
  f.SectorsLeft = f.Bytes[7] ? f.Bytes[7] : 256;
  const uint64_t index = RevolutionStart(f.Now) + kRevolution;
  std::array<uint32_t, kMaxSectorsPerTrack> at;
  if (SectorTimes(d, f.Record, at) == 0)
    return ScheduleResult(f, index + kRevolution, St0Unit(f) | kSt0AbnormalTermination, kSt1MissingAddressMark, 0,
                          CommandId(f));
  StartSectorData(f, 0, index + at[0] + kIdRead * kByteTime);
}

// Write protection is looked at on every byte, so toggling it ends a
// transfer at the next byte. The motor is not tested.
void WriteData(FdcState& f) {
  const DriveImage& d = CurrentDrive(f);
  if (!d.Loaded) return NotReady(f);
  if (!Writable(d))
    return EnterResult7Id(f, St0Unit(f) | kSt0AbnormalTermination, kSt1NotWritable, 0, CommandId(f));
  StartSectorCommand(f, kMsrWriteData);
}

void Scan(FdcState& f) {
  const DriveImage& d = CurrentDrive(f);
  if (!d.Loaded || f.Motor == 0) return NotReady(f);
  StartSectorCommand(f, kMsrWriteData);
}

// The next ID to pass the head; an unformatted track gives up at the second
// index pulse. The motor is not tested.
void ReadId(FdcState& f) {
  const DriveImage& d = CurrentDrive(f);
  if (!d.Loaded) return NotReady(f);
  f.Msr = kMsrCommand & 0x7F;
  std::array<uint32_t, kMaxSectorsPerTrack> at;
  const uint32_t count = SectorTimes(d, f.Record, at);
  const uint64_t start = RevolutionStart(f.Now);
  for (uint64_t turn = start; count; turn += kRevolution)
    for (uint32_t s = 0; s < count; ++s)
      if (const uint64_t t = turn + at[s] + kIdRead * kByteTime; t > f.Now) {
        f.SectorIndex = s;
        return ScheduleResult(f, t, St0Unit(f), 0, 0, SectorIdOf(d, f.Record, s));
      }
  ScheduleResult(f, start + 2 * kRevolution, St0Unit(f) | kSt0AbnormalTermination, kSt1MissingAddressMark, 0,
                 SectorId{static_cast<uint8_t>(f.Track[f.Drive]), static_cast<uint8_t>(f.Head), 0, 0});
}

// The track is laid down under the head's cylinder and side; the IDs may
// name any C, H, R, N. Sectors beyond what a track block lists are dropped.
void FinishFormat(FdcState& f) {
  DriveImage& d = CurrentDrive(f);
  FormattedTrack t;
  t.Cylinder = f.Track[f.Drive] < 0 ? 0 : static_cast<uint32_t>(f.Track[f.Drive]);
  t.Side = d.Sides == 2 ? f.Head : 0;
  t.SizeCode = f.Bytes[3];
  t.Gap3 = f.Bytes[5];
  t.Filler = f.Bytes[6];
  const uint32_t count = std::min<uint32_t>(f.Bytes[4], kMaxSectorsPerTrack);
  for (uint32_t s = 0; s < count; ++s) {
    const uint8_t* id = &f.FormatIds[4 * s];
    t.Sectors.push_back({id[0], id[1], id[2], id[3]});
  }
  const SectorId last = f.Bytes[4] ? SectorId{f.FormatIds[4 * f.Bytes[4] - 4], f.FormatIds[4 * f.Bytes[4] - 3],
                                              f.FormatIds[4 * f.Bytes[4] - 2], f.FormatIds[4 * f.Bytes[4] - 1]}
                                    : SectorId{0, 0, 0, f.Bytes[3]};
  if (!FormatTrackInImage(d, t))
    return EnterResult7Id(f, St0Unit(f) | kSt0AbnormalTermination, kSt1NotWritable, 0, last);
  f.Record = TrackRecord(d, f.Track[f.Drive], f.Head);
  // The chip ends at the index pulse after the track.
  const uint64_t start = f.ByteTime - f.ByteTime % kRevolution;
  ScheduleResult(f, std::max(start + kRevolution, f.Now), St0Unit(f), 0, 0, last);
}

// ID bytes are taken as they come: the chip asks for them while it writes
// the gaps, and the firmware's formatter keeps up.
void FormatByte(FdcState& f) {
  if (f.ByteIndex < f.FormatIds.size()) f.FormatIds[f.ByteIndex] = f.Data;
  if (++f.ByteIndex >= f.TransferLength) FinishFormat(f);
}

// Format Track takes the four ID bytes of each sector from the index pulse
// on and lays the track down when the disk has turned once.
void FormatTrack(FdcState& f) {
  const DriveImage& d = CurrentDrive(f);
  if (!d.Loaded) return NotReady(f);
  if (!Writable(d))
    return EnterResult7Id(f, St0Unit(f) | kSt0AbnormalTermination, kSt1NotWritable, 0, SectorId{0, 0, 0, f.Bytes[3]});
  f.Msr = kMsrWriteData;
  f.ByteIndex = 0;
  f.TransferLength = 4u * f.Bytes[4];
  f.ByteTime = RevolutionStart(f.Now) + kRevolution;
  f.Step = kStepFormat;
  if (f.TransferLength == 0) FinishFormat(f);
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
  f.St3 = St0Unit(f);
  if (d.Loaded) {
    f.St3 |= 0x20;
    if (f.Track[f.Drive] == 0) f.St3 |= 0x10;
    if (d.Sides == 2) f.St3 |= 0x08;
    if (d.WriteProtected.load(std::memory_order_relaxed) || d.ReadOnly) f.St3 |= 0x40;
  }
  f.Bytes[1] = static_cast<uint8_t>(f.St3);
  f.Phase = kPhaseResult;
  f.Count = 1;
}

// Short moves finish at once; longer ones take about 20 / Srt periods. The
// drive's busy bit in the status stays until Sense Interrupt Status reports
// the move's end. A drive that is not ready (no disk, motor off) ends the
// command at once with "not ready" and the chip busy for the moment (a CPC
// FDC test program shows both on the real machine).
void StartHeadMove(FdcState& f, int32_t target, bool recalibrate) {
  const DriveImage& d = CurrentDrive(f);
  if (!d.Loaded || f.Motor == 0) {
    // Recalibrate still clears the present cylinder; Seek leaves it.
    f.Recalibrating[f.Drive] = f.Seeking[f.Drive] = 0;
    if (recalibrate) f.Track[f.Drive] = target;
    f.St0 = f.Drive | kSt0AbnormalTermination | kSt0SeekEnd | kSt0NotReady;
    f.IntPending = 1;
    f.Msr = kMsrCommand;
    f.St1 = f.St2 = 0;
    f.Step = kStepNone;
    return BackToCommandPhase(f);
  }
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
  f.SeekBusy |= 1u << f.Drive;
  f.Msr = kMsrIdle;
  f.St1 = f.St2 = 0;
  f.Step = kStepNone;
  BackToCommandPhase(f);
}

void SenseInterruptStatus(FdcState& f) {
  f.Msr = kMsrResult;
  if (!f.IntPending) {
    // Nothing to report: the chip answers as to an invalid command.
    f.St0 = kSt0InvalidCommand;
    f.Bytes[1] = static_cast<uint8_t>(f.St0);
    f.Count = 1;
  } else {
    f.Bytes[2] = static_cast<uint8_t>(f.St0);
    f.Bytes[1] = static_cast<uint8_t>(f.Track[f.Drive]);
    f.Count = 2;
    f.IntPending = 0;
    if (f.St0 & kSt0SeekEnd) f.SeekBusy &= ~(1u << (f.St0 & 1));
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

void RunCommand(FdcState& f) {
  // Commands with a unit byte take their drive and head from it.
  if (f.Expected >= 2 && f.Command != kSpecify) {
    f.Drive = f.Bytes[2] & 1;
    f.Head = (f.Bytes[2] >> 2) & 1;
  }
  f.Step = kStepNone;
  f.Record = TrackRecord(CurrentDrive(f), f.Track[f.Drive], f.Head);
  f.SectorIndex = 0;
  switch (f.Command) {
    case kReadData:
    case kReadDeletedData: return ReadData(f);
    case kReadTrack: return ReadTrack(f);
    case kWriteData:
    case kWriteDeletedData: return WriteData(f);
    case kScanEqual:
    case kScanLowOrEqual:
    case kScanHighOrEqual: return Scan(f);
    case kReadId: return ReadId(f);
    case kFormatTrack: return FormatTrack(f);
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
  if (f.Motor != on) {
    // The drive's ready line follows the motor: the idle chip polls it and
    // raises a ready-change interrupt either way (uPD765 data sheet, polling).
    const uint32_t drive = f.Drives[0].Loaded ? 0 : 1;
    if (f.Drives[drive].Loaded && f.Phase == kPhaseCommand) {
      f.St0 = 0xC0 | drive;
      f.IntPending = 1;
    }
  }
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
        RunCommand(f);
        // Only the stored ST0: result bytes already queued keep bit 6, and a
        // following Sense Interrupt Status reports it clear. A move's own
        // interrupt status is not touched.
        if (f.Command != kSeek && f.Command != kRecalibrate) f.St0 &= ~uint32_t{kSt0AbnormalTermination};
      } else {
        ++f.Count;
      }
      break;
    case kPhaseExecution:
      f.ActivityColour[f.Bytes[2] & 1].store(kLampActive, std::memory_order_relaxed);
      // Only a request for a byte from the Z80 takes one: a write during a
      // read must not move the read on.
      if (!ByteReady(f) || f.Msr != kMsrWriteData) break;
      f.Data = value;
      if (f.Step == kStepFormat)
        FormatByte(f);
      else
        TransferByte(f);
      break;
    default:
      break;
  }
}

uint8_t DataRead(FdcState& f) {
  switch (f.Phase) {
    case kPhaseExecution:
      f.ActivityColour[f.Bytes[2] & 1].store(kLampActive, std::memory_order_relaxed);
      // Only a byte that is there is taken: a read during a write must not
      // put a stale data register on the disk.
      if (ByteReady(f) && f.Msr == kMsrReadData) TransferByte(f);
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

uint8_t StatusRead(FdcState& f) {
  uint32_t msr = f.Msr;
  if (f.Phase == kPhaseExecution) msr = ByteReady(f) ? msr | kMsrRequest : msr & ~uint32_t{kMsrRequest};
  return static_cast<uint8_t>(msr | f.SeekBusy);
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

// The machine's time of the access under way.
uint64_t MachineTime(const Machine& m) { return m.ClockAtTick + m.StepInTick; }

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
  f.Head = 0;
  f.Track = {0, 0};
  f.Recalibrating = {0, 0};
  f.Seeking = {0, 0};
  f.SeekTarget = {0, 0};
  f.SeekStep = 0;
  f.SeekBusy = 0;
  f.SectorIndex = f.LastSectorIndex = f.SectorOffset = f.ByteIndex = 0;
  f.Step = kStepNone;
  f.Record = UINT32_MAX;
  SetLamps(f, kLampIdle);
}

void FdcWrite(FdcState& f, uint16_t port, uint8_t value) {
  Advance(f);
  if (!(port & 0x0100))
    MotorWrite(f, value);
  else if (port & 0x0001)
    DataWrite(f, value);
}

uint8_t FdcRead(FdcState& f, uint16_t port) {
  if (!(port & 0x0100)) return 0xFF;
  Advance(f);
  if (port & 0x0001) return DataRead(f);
  return StatusRead(f);
}

void FdcFrameTick(FdcState& f) {
  AdvanceHead(f, 0);
  AdvanceHead(f, 1);
  FlushDisk(f.Drives[0]);
  FlushDisk(f.Drives[1]);
}

void FdcReset(Machine& m) { FdcReset(m.Fdc); }
void FdcWrite(Machine& m, uint16_t port, uint8_t value) {
  m.Fdc.Now = std::max(m.Fdc.Now, MachineTime(m));
  FdcWrite(m.Fdc, port, value);
}
uint8_t FdcRead(Machine& m, uint16_t port) {
  m.Fdc.Now = std::max(m.Fdc.Now, MachineTime(m));
  return FdcRead(m.Fdc, port);
}
void FdcFrameTick(Machine& m) { FdcFrameTick(m.Fdc); }
