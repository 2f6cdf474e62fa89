#include "core/machine.h"

#include <sys/mman.h>

#include <algorithm>
#include <new>
#include <type_traits>

#include "core/video_step.h"
#include "devices/crtc_step.h"

namespace {

// Digiblaster samples: 441 per batch at 22050 Hz.
constexpr uint32_t kDigiblasterInterval = 45;
constexpr uint32_t kDigiblasterLimit = 19845;

// One microsecond of a moving tape; returns the step at which to call again:
// the next one while the tape moves, none once it has stopped.
[[gnu::noinline]] uint32_t MovingTapeStep(TapeDeck& d, uint32_t step) {
  if (!d.Running.load(std::memory_order_relaxed)) return UINT32_MAX;
  TapeStep(d);
  return step + 1;
}

}  // namespace

void* Machine::operator new(std::size_t size, std::align_val_t) {
  // Page-aligned, which covers every member's alignment.
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  return p;
}

void Machine::operator delete(void* p, std::size_t size, std::align_val_t) noexcept { munmap(p, size); }

std::unique_ptr<Machine> CreateMachine(const MachineConfig& config) {
  std::unique_ptr<Machine> m(new Machine);  // all zero: see Machine::operator new
  ConstructMemory(m->Memory);
  ApplyMachineConfig(*m, config);
  m->Memory.LowerRomName = config.LowerRom;
  for (int i = 0; i < kUpperRomSlots; ++i) m->Memory.UpperRomName[i] = config.UpperRoms[i];
  LoadRoms(m->Memory, config.RomDir, config.BuiltInRomDir);
  ResetMachine(*m);
  return m;
}

void ApplyMachineConfig(Machine& m, const MachineConfig& config) {
  m.Memory.RamBankLimit = config.RamBankLimit;
  m.Memory.Ram4MbEnabled = config.Ram4Mb;
  m.Printer.IdleLimitPeriods = config.PrinterIdleSeconds * 50;
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

void StepZ80(Machine& m) {
  TimedMachineBus bus{{m}};
  ExecuteInstruction(m.Z80, bus);
}

namespace {

// The bus while breakpoints are set: every access the Z80 makes (the
// instruction's own bytes too) is shown to the watchpoints.
struct WatchedBus : TimedMachineBus {
  uint8_t ReadByte(uint16_t a) {
    if (M.Breaks.Watching) BreakOnAccess(M, BreakKind::Read, a);
    return TimedMachineBus::ReadByte(a);
  }
  void WriteByte(uint16_t a, uint8_t v) {
    if (M.Breaks.Watching) BreakOnAccess(M, BreakKind::Write, a);
    TimedMachineBus::WriteByte(a, v);
  }
  uint8_t Z80In(uint16_t port) {
    if (M.Breaks.Watching) BreakOnAccess(M, BreakKind::PortIn, port);
    return TimedMachineBus::Z80In(port);
  }
  void Z80Out(uint16_t port, uint8_t v) {
    if (M.Breaks.Watching) BreakOnAccess(M, BreakKind::PortOut, port);
    TimedMachineBus::Z80Out(port, v);
  }
};

// One period's steps; with kBreaks the breakpoints are checked and a hit
// ends the period early, before the instruction it stopped at. kEvents adds
// the timed device events (Digiblaster samples, a moving tape); the common
// period has none and its loop carries no trace of them. Returns the steps
// run.
template <bool kBreaks, bool kEvents>
uint32_t RunSteps(Machine& m) {
  const uint32_t steps = m.MicrosecondsPerTick;
  const uint32_t multiplier = m.Z80Multiplier;
  std::conditional_t<kBreaks, WatchedBus, TimedMachineBus> bus{{m}};
  Z80Registers& cpu = m.Z80;

  uint32_t nextDigi = m.Printer.DigiblasterOn ? kDigiblasterInterval : UINT32_MAX;
  // The deck is looked at once a batch, so an idle one costs the loop only
  // this compare. A motor switched on inside a batch moves the tape from the
  // next one, at most a period later, as a real motor needs a moment to
  // reach speed (and the firmware waits 2 s before it listens).
  uint32_t nextTape = m.Tape.Running.load(std::memory_order_relaxed) ? 1 : UINT32_MAX;
  // The earlier of the two, so a step without either costs one compare.
  uint32_t nextEvent = std::min(nextDigi, nextTape);

  for (uint32_t step = 1; step <= steps; ++step) {
    VideoStep(m);
    if constexpr (kBreaks) BreakAfterVideoStep(m);

    if (kEvents && step == nextEvent) [[unlikely]] {
      if (step == nextDigi) {
        if (step <= kDigiblasterLimit) DigiblasterSampleStep(m);
        nextDigi += kDigiblasterInterval;
      }
      if (step == nextTape) nextTape = MovingTapeStep(m.Tape, step);
      nextEvent = std::min(nextDigi, nextTape);
    }
    if (m.Crtc.LightPenArmed) LightPenCheck(m);

    // The devices of this microsecond have moved first, so a port write made
    // here reaches them from the next step on. An I/O instruction runs at the
    // step of its bus cycle, not its first.
    for (uint32_t i = 0; i < multiplier; ++i) {
      if (cpu.NopCounter == 0) {
        if constexpr (kBreaks) {
          // An I/O instruction waiting for its bus cycle has begun: the
          // stop comes after it, at the next boundary.
          if (!cpu.IoDelay && (m.Breaks.Stopped || BreakBeforeInstruction(m))) return step;
        }
        m.StepInTick = step;  // port accesses happen only inside an instruction
        m.Psg.Now = step;     // where a PSG write made by this instruction lands
        if constexpr (kBreaks) {
          const bool interrupt = !cpu.IoDelay && cpu.InterruptRequest && cpu.IFF1 && cpu.InterruptEnableDelay;
          ExecuteInstruction(cpu, bus);
          if (interrupt) BreakAfterInterrupt(m);
        } else {
          ExecuteInstruction(cpu, bus);
        }
      }
      --cpu.NopCounter;
    }
  }
  return steps;
}

}  // namespace

void EmulateTick(Machine& m) {
  // A machine stopped at a breakpoint stays at that boundary until the stop
  // is cleared, even once the breakpoint that stopped it is gone.
  if (m.Breaks.Stopped) [[unlikely]]
    return;
  // The PSG runs lazily: up to the current microsecond when a register is
  // written, and to the end of the batch after the loop, which completes the
  // batch's sound buffer.
  const bool psgOn = m.Psg.SamplingEnabled;
  if (psgOn) PsgBeginBatch(m.Psg, m.MicrosecondsPerTick);
  // With no breakpoint set the loop has no check at all.
  const bool events = m.Printer.DigiblasterOn || m.Tape.Running.load(std::memory_order_relaxed);
  uint32_t ran;
  if (m.Breaks.Active)
    ran = events ? RunSteps<true, true>(m) : RunSteps<true, false>(m);
  else
    ran = events ? RunSteps<false, true>(m) : RunSteps<false, false>(m);
  if (psgOn) PsgEndBatch(m.Psg);
  m.MicrosecondCounter.fetch_add(ran, std::memory_order_relaxed);
  m.ClockAtTick += ran;
  m.StepInTick = 0;
}
