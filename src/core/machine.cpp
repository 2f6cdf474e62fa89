#include "core/machine.h"

#include "core/video_step.h"
#include "devices/crtc_step.h"

namespace {

// Digiblaster samples: 441 per batch at 22050 Hz.
constexpr uint32_t kDigiblasterInterval = 45;
constexpr uint32_t kDigiblasterLimit = 19845;

}  // namespace

std::unique_ptr<Machine> CreateMachine(const MachineConfig& config) {
  auto m = std::make_unique<Machine>();  // value-initialised: all zero
  ConstructMemory(m->Memory);
  ApplyMachineConfig(*m, config);
  m->Memory.LowerRomName = config.LowerRom;
  for (int i = 0; i < kUpperRomSlots; ++i) m->Memory.UpperRomName[i] = config.UpperRoms[i];
  LoadRoms(m->Memory, config.RomDir);
  ResetMachine(*m);
  return m;
}

void ApplyMachineConfig(Machine& m, const MachineConfig& config) {
  m.Memory.RamBankLimit = config.RamBankLimit;
  m.Memory.Ram4MbEnabled = config.Ram4Mb;
  m.Crtc.Type = config.CrtcType;
  m.Ppi.Brand = (config.Brand <= 14 && !(config.Brand & 1)) ? config.Brand / 2 : 7;  // VENDOR = 2 x brand
  m.MicrosecondsPerTick = config.MicrosecondsPerTick;
  m.Z80Multiplier = config.Z80Multiplier < 1 ? 1 : (config.Z80Multiplier > 20 ? 20 : config.Z80Multiplier);
  m.Z80.CountCycles = config.CountCycles;
  m.Memory.SymbifaceEnabled = config.SymbifaceEnabled;
  for (int i = 0; i < 8; ++i) m.Memory.SymbifaceDipSwitch[i] = config.SymbifaceDipSwitch[i];
  UpdateMemoryBanks(m.Memory);
  m.Video.Monitor = static_cast<uint8_t>(config.Monitor);
  m.Video.DoubleScanLine = config.DoubleScanLine;
  m.Crtc.LightPenEnabled = config.LightPen;
  RebuildByteExpansionTable(m);  // the monitor may have changed
}

void ResetMachine(Machine& m) {
  ResetZ80(m.Z80);
  GateArrayReset(m);
  PsgReset(m.Psg);
  PrinterReset(m);
  SerialReset(m.Serial);
  PpiReset(m);
  FdcReset(m);
  SymbifaceReset(m);
  InitMemory(m.Memory);
  CrtcReset(m.Crtc);
  KeyboardReset(m.Keyboard);
}

void ExecuteInstruction(Machine& m) {
  MachineBus bus{m};
  ExecuteInstruction(m.Z80, bus);
}

void EmulateTick(Machine& m) {
  const uint32_t steps = m.MicrosecondsPerTick;
  const uint32_t multiplier = m.Z80Multiplier;
  MachineBus bus{m};
  Z80Registers& cpu = m.Z80;

  // The PSG runs lazily: up to the current microsecond when a register is
  // written, and to the end of the batch after the loop, which completes the
  // batch's sound buffer.
  const bool psgOn = m.Psg.SamplingEnabled;
  if (psgOn) PsgBeginBatch(m.Psg, steps);
  uint32_t nextDigi = m.Printer.DigiblasterOn ? kDigiblasterInterval : UINT32_MAX;

  for (uint32_t step = 1; step <= steps; ++step) {
    VideoStep(m);

    if (step == nextDigi) {
      if (step <= kDigiblasterLimit) DigiblasterSampleStep(m);
      nextDigi += kDigiblasterInterval;
    }
    if (m.Crtc.LightPenArmed) LightPenCheck(m);

    // The devices of this microsecond have moved first, so a port write made
    // here reaches them from the next step on.
    for (uint32_t i = 0; i < multiplier; ++i) {
      if (cpu.NopCounter == 0) {
        m.Psg.Now = step;  // where a PSG write made by this instruction lands
        ExecuteInstruction(cpu, bus);
      }
      --cpu.NopCounter;
    }
  }
  if (psgOn) PsgEndBatch(m.Psg);
  m.MicrosecondCounter.fetch_add(steps, std::memory_order_relaxed);
}
