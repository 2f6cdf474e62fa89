// libFuzzer target for the SNA loader (all versions, the chunks of version
// 3 and their run-length coding): each input is decoded into one
// long-lived machine, which then runs ten scan lines of whatever was
// loaded. Fails when a refused input changed the machine, when a loaded
// state does not come back unchanged through a save and a load, or when a
// device register is left outside what its chip can hold.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "core/machine.h"
#include "storage/snapshot.h"

namespace snafuzz {

Machine& FuzzMachine() {
  static const std::unique_ptr<Machine> machine = CreateMachine({.RomDir = "/nonexistent-rom-dir"});
  return *machine;
}

bool InsideMemory(const Machine& m, const uint8_t* block) {
  const auto* first = reinterpret_cast<const uint8_t*>(&m.Memory);
  return block >= first && block + kBlockSize <= first + sizeof m.Memory;
}

bool InRange(const Machine& m) {
  const GateArrayState& g = m.GateArray;
  if (g.SelectedPen > 0x1F || g.BorderColour > 0x1F || g.ScreenMode > 3) return false;
  for (uint8_t pen : g.PenColours)
    if (pen > 0x1F) return false;
  if (m.Crtc.SelectedRegister > 0x1F || m.Psg.SelectedRegister > 0x0F) return false;
  if (m.Psg.Envelope.Shape > 0x0F) return false;
  if (m.Memory.SelectedUpperRom >= kUpperRomSlots || m.Memory.RamConfiguration > 7) return false;
  if (m.Memory.ExpansionBank >= kExpansionBanks) return false;
  if (m.Z80.IFF1 > 1 || m.Z80.IFF2 > 1) return false;
  for (int page = 0; page < 4; ++page)
    if (!InsideMemory(m, m.Memory.ReadBank[page]) || !InsideMemory(m, m.Memory.WriteBank[page])) return false;
  return true;
}

bool SnapshotFuzzInput(const uint8_t* data, size_t size) {
  Machine& m = FuzzMachine();
  const std::vector<uint8_t> before = EncodeSnapshot(m);
  const SnapshotResult loaded = DecodeSnapshot(m, std::span<const uint8_t>(data, size), "fuzz.sna");
  if (loaded.Ok && size < kSnapshotHeaderSize) return false;
  if (!loaded.Ok) return !loaded.Error.empty() && EncodeSnapshot(m) == before;
  if (!InRange(m)) return false;

  // Our own version 3 file keeps the whole state; version 1 its part of it.
  const std::vector<uint8_t> saved = EncodeSnapshot(m);
  if (!DecodeSnapshot(m, saved, "again.sna").Ok || EncodeSnapshot(m) != saved) return false;
  const std::vector<uint8_t> first = EncodeSnapshot(m, 1);
  if (!DecodeSnapshot(m, first, "first.sna").Ok || EncodeSnapshot(m, 1) != first) return false;

  m.MicrosecondsPerTick = 640;
  EmulateTick(m);
  return InRange(m);
}

}  // namespace snafuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!snafuzz::SnapshotFuzzInput(data, size)) __builtin_trap();
  return 0;
}
