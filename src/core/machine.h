// The whole CPC: one object owning every device by value.
//
// Heap-allocated (megabytes of RAM) and non-copyable, since the bank tables
// point into it. The program has one; tests make as many as they like.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <new>
#include <string>

#include "core/memory.h"
#include "core/serial.h"
#include "core/z80.h"
#include "debugger/breakpoints.h"
#include "debugger/port_log.h"
#include "debugger/ssm.h"
#include "devices/crtc.h"
#include "devices/gate_array.h"
#include "devices/ppi.h"
#include "devices/psg.h"
#include "devices/renderer.h"
#include "storage/fdc.h"
#include "storage/printer.h"
#include "storage/symbiface.h"
#include "storage/tape.h"

// The machine as a profile describes it; the defaults are a 128 KB 6128.
struct MachineConfig {
  std::filesystem::path RomDir = "ROMS";
  std::string LowerRom = "6128Low.ROM";
  std::array<std::string, kUpperRomSlots> UpperRoms = DefaultUpperRoms();
  int32_t RamBankLimit = 0;
  bool Ram4Mb = false;
  uint32_t CrtcType = 0;
  uint32_t MicrosecondsPerTick = 20000;  // CPUSPEED
  uint32_t Z80Multiplier = 1;            // Z80SPEED
  bool CountCycles = true;               // CPUSTATES
  // Read by the devices that use them when they open or reset.
  uint8_t Brand = 14;              // VENDOR: port B bits 3..1 = Brand / 2
  uint32_t Monitor = 1;            // MONITOR: 1 colour, 2 green
  bool DoubleScanLine = true;      // DOUBLESCANLINE
  bool LightPen = false;           // LIGHTPEN
  bool SoundEnabled = false;       // SOUNDENABLED
  uint32_t SoundChannels = 1;      // CHANNELS
  uint32_t SampleRate = 22050;     // SAMPLERATE
  uint32_t BitsPerSample = 8;      // BITSPERSAMPLE
  uint32_t PrinterMode = 0;        // PARMODE
  uint32_t PrinterIdleSeconds = kDefaultPrinterIdleSeconds;  // PRINTERIDLE
  bool SymbifaceEnabled = false;   // SYMBIFACE ENABLED
  std::array<uint8_t, 8> SymbifaceDipSwitch = {1, 1, 1, 1, 1, 1, 1, 1};  // ROM0ENABLE..ROM7ENABLE
  // Firmware shipped with the program, for names RomDir lacks; empty = none.
  std::filesystem::path BuiltInRomDir = {};

  static std::array<std::string, kUpperRomSlots> DefaultUpperRoms() {
    std::array<std::string, kUpperRomSlots> roms;
    roms.fill("EMPTY");
    roms[0] = "6128BASIC.ROM";
    roms[7] = "AMSDOS.ROM";
    return roms;
  }
};

struct Machine {
  Machine() = default;
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;
  // Fresh zero pages from the system: `new Machine` (no parentheses) is then
  // all zero without writing 6 MB, most of it expansion RAM a short run never
  // touches; value-initialising cost every start about 1,500 page faults.
  static void* operator new(std::size_t size, std::align_val_t align);
  static void operator delete(void* p, std::size_t size, std::align_val_t align) noexcept;

  Z80Registers Z80;
  MemoryMap Memory;
  CrtcState Crtc;
  GateArrayState GateArray;
  VideoState Video;
  PsgState Psg;
  PpiState Ppi;
  KeyboardState Keyboard;
  FdcState Fdc;
  PrinterState Printer;
  SerialState Serial;
  SymbifaceState Symbiface;
  TapeDeck Tape;
  PortLogState PortLog;
  BreakState Breaks;
  SsmState Ssm;

  // Frame loop.
  uint32_t MicrosecondsPerTick;  // steps per 20 ms period; 0 freezes the machine
  uint32_t Z80Multiplier;        // Z80 steps per microsecond, 1..20
  std::atomic<uint32_t> MicrosecondCounter;
  // Machine time for devices that work out their state when accessed (the
  // disk controller): microseconds before this period, and the step in it.
  uint64_t ClockAtTick;
  uint32_t StepInTick;
  std::atomic<uint32_t> FrameCounter;
  uint32_t BeamX;  // output pixels, multiple of 16, 0..1008
  uint32_t BeamY;  // output rows, even, 0..622
};

// Builds a machine from a configuration: memory, ROMs, devices, reset.
std::unique_ptr<Machine> CreateMachine(const MachineConfig& config);
// Applies the parts of a configuration that do not need a new machine.
void ApplyMachineConfig(Machine& m, const MachineConfig& config);

// Power-on/reset in the fixed device order.
void ResetMachine(Machine& m);

// One 20 ms batch of microsecond steps.
void EmulateTick(Machine& m);

// One whole instruction (or interrupt acceptance), outside the loop: tests.
void ExecuteInstruction(Machine& m);
// The loop's call at a step where NopCounter is 0: an I/O instruction may
// only start waiting for its bus cycle (Z80.IoDelay set) and execute at a
// later call. The debugger's step uses it to move the video like the loop.
void StepZ80(Machine& m);

// Port decoding: every device whose address bits select it.
void Z80Out(Machine& m, uint16_t port, uint8_t value);
uint8_t Z80In(Machine& m, uint16_t port);

// The Z80's view of the machine.
struct MachineBus {
  Machine& M;
  uint8_t ReadByte(uint16_t a) { return ::ReadByte(M.Memory, a); }
  void WriteByte(uint16_t a, uint8_t v) { ::WriteByte(M.Memory, a, v); }
  uint8_t Z80In(uint16_t port) { return ::Z80In(M, port); }
  void Z80Out(uint16_t port, uint8_t v) { ::Z80Out(M, port, v); }
  // Acceptance clears bit 5 of the gate array's line counter.
  void InterruptAccepted() { M.GateArray.IntCounter %= 32; }
  // Only the ED codes the Z80 ignores come here: no cost elsewhere.
  void UnusedEd(uint16_t pc, uint8_t op) {
    if (M.Ssm.Enabled) [[unlikely]] SsmUnusedEd(M, pc, op);
  }
};

// The loop's view: I/O instructions meet the devices at their bus cycle.
struct TimedMachineBus : MachineBus {
  static constexpr bool kTimedIo = true;
};
