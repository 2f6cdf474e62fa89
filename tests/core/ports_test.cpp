#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/machine.h"
#include "devices/crtc_step.h"

namespace {

// What each device remembers of the last write that reached it.
struct Seen {
  uint8_t pen, crtcRegister, printer, ppiA;
  uint32_t ramConfiguration, upperRom, motor;
  bool operator==(const Seen&) const = default;
};

Seen Observe(const Machine& m) {
  return {m.GateArray.SelectedPen, m.Crtc.SelectedRegister, m.Printer.LastByte, m.Ppi.PortA,
          m.Memory.RamConfiguration, m.Memory.SelectedUpperRom, m.Fdc.Motor};
}

std::unique_ptr<Machine> NewMachine() {
  MachineConfig config;
  config.RomDir = "/nonexistent";
  return CreateMachine(config);
}

TEST(PortDecoding, WhichDevicesAWriteReaches) {
  struct Case {
    uint16_t port;
    uint8_t value;
    Seen (*expect)(Seen before, uint8_t value);
  } cases[] = {
      // Gate array pen select; the RAM configuration ignores a value below &C0.
      {0x7F00, 0x05, [](Seen s, uint8_t v) { s.pen = v; return s; }},
      // &C0 class: RAM configuration only; the gate array leaves it alone.
      {0x7F00, 0xC4, [](Seen s, uint8_t) { s.ramConfiguration = 4; return s; }},
      // Bit 14 low too: RAM configuration and the CRTC, not the gate array.
      {0x3C00, 0xC4, [](Seen s, uint8_t) { s.ramConfiguration = 4; s.crtcRegister = 4; return s; }},
      {0xBC00, 0x0C, [](Seen s, uint8_t) { s.crtcRegister = 12; return s; }},
      {0xDF00, 0x07, [](Seen s, uint8_t v) { s.upperRom = v; return s; }},
      {0xEF00, 0x41, [](Seen s, uint8_t v) { s.printer = v; return s; }},
      {0xF400, 0x5A, [](Seen s, uint8_t v) { s.ppiA = v; return s; }},
      {0xFA7E, 0x01, [](Seen s, uint8_t) { s.motor = 1; return s; }},
      // Neither the FDC (bit 7) nor the serial interface (bit 5) is selected.
      {0xF8FF, 0x01, [](Seen s, uint8_t) { return s; }},
      // Every low-active select at once; bit 14 low keeps the gate array out.
      {0x0000, 0x05, [](Seen s, uint8_t v) {
         s.crtcRegister = v;
         s.upperRom = v;
         s.printer = v;
         s.ppiA = v;
         s.motor = 1;
         return s;
       }},
  };
  for (const Case& c : cases) {
    auto m = NewMachine();
    Z80Out(*m, 0xF782, 0x82);  // PPI mode set: port A an output, so its latch shows writes
    const Seen before = Observe(*m);
    Z80Out(*m, c.port, c.value);
    SCOPED_TRACE(testing::Message() << "OUT &" << std::hex << c.port << ",&" << int(c.value));
    EXPECT_EQ(Observe(*m), c.expect(before, c.value));
  }
}

TEST(PortDecoding, WhatReadsReturn) {
  auto m = NewMachine();
  EXPECT_EQ(Z80In(*m, 0xFEFE), 0x88);
  EXPECT_EQ(Z80In(*m, 0xFFFF), 0xFF);
  EXPECT_EQ(Z80In(*m, 0xF8FF), 0xFF);
  EXPECT_EQ(Z80In(*m, 0xBE00), 0xFF) << "type 0 has no status register";
  m->Crtc.Type = 1;
  EXPECT_EQ(Z80In(*m, 0xBE00), 0x00) << "type 1 status: display on, no strobe";
  // A register the type makes readable.
  m->Crtc.Type = 0;
  Z80Out(*m, 0xBC00, 12);
  Z80Out(*m, 0xBD00, 0x30);
  EXPECT_EQ(Z80In(*m, 0xBF00), 0x30);
  m->Crtc.Type = 2;
  EXPECT_EQ(Z80In(*m, 0xBF00), 0x00) << "a write-only register reads 0";
}

// Devices move before the Z80 inside a microsecond, and an I/O instruction
// executes at the microsecond of its bus cycle: a border colour written by
// it shows from that cycle's next microsecond on. The expected microsecond
// is the documented CPC position of the access (caprice32's I/O timing
// table: OUT (n),A after 8 T-states, OUT (C),r after 12, OUTI after 16),
// counted from the instruction's first microsecond.
TEST(PortDecoding, IoInstructionsMeetTheDevicesAtTheirBusCycle) {
  struct Case {
    const char* name;
    std::vector<uint8_t> program;  // ends with the timed instruction, then JR $
    uint16_t timedAt;              // address of the timed instruction
    int tStatesBeforeAccess;
    int nops;  // the instruction's whole length, unchanged by the wait
  };
  // Each first selects the border (LD BC,&7F10 / OUT (C),C).
  const Case cases[] = {
      {"OUT (C),r", {0x01, 0x10, 0x7F, 0xED, 0x49, 0x0E, 0x4B, 0xED, 0x49, 0x18, 0xFE}, 0x4007, 12, 4},
      {"OUT (n),A", {0x01, 0x10, 0x7F, 0xED, 0x49, 0x3E, 0x4B, 0xD3, 0xFF, 0x18, 0xFE}, 0x4007, 8, 3},
      // LD HL,&4010 / LD B,&80 (OUTI decrements B first) / OUTI; &4010: &4B.
      {"OUTI", {0x01, 0x10, 0x7F, 0xED, 0x49, 0x21, 0x10, 0x40, 0x06, 0x80, 0xED, 0xA3, 0x18, 0xFE}, 0x400A, 16, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto m = NewMachine();
    // Standard picture, beam locked; the border is pen 16.
    const uint8_t crtc[] = {63, 40, 46, 0x8E, 38, 0, 25, 30, 0, 7, 0, 0, 0x30, 0};
    for (uint8_t r = 0; r < sizeof crtc; ++r) {
      Z80Out(*m, 0xBC00, r);
      Z80Out(*m, 0xBD00, crtc[r]);
    }
    m->MicrosecondsPerTick = 20000;
    for (int i = 0; i < 4; ++i) EmulateTick(*m);  // lock the beam

    // Start at the left of a drawn row in the vertical border: every
    // character of it is border.
    m->MicrosecondsPerTick = 1;
    for (int guard = 0; !(m->Crtc.VerticalDisplay == 0 && !m->Crtc.VSYNC && m->BeamY >= 48 && m->BeamY < 600 &&
                          m->BeamX == 240);
         ++guard) {
      ASSERT_LT(guard, 40000) << "no border row reached";
      EmulateTick(*m);
    }
    std::memcpy(m->Memory.BaseRam + 0x4000, c.program.data(), c.program.size());
    m->Memory.BaseRam[0x4010] = 0x4B;
    m->Z80.PC = 0x4000;
    m->Z80.NopCounter = 0;
    m->Z80.IoDelay = 0;
    m->Z80.IFF1 = 0;
    int colourChangeStep = -1, startStep = -1, nextStep = -1;
    uint8_t previous = 0;
    for (int step = 0; step < 40; ++step) {
      const uint32_t x = m->BeamX, y = m->BeamY;
      if (m->Z80.NopCounter == 0 && m->Z80.IoDelay == 0 && m->Z80.PC == c.timedAt) startStep = step;
      if (m->Z80.NopCounter == 0 && m->Z80.PC == c.timedAt + 2 && nextStep < 0) nextStep = step;
      EmulateTick(*m);
      const uint8_t pixel = m->Video.FrameBitmap[y - 47][x - 224];
      if (step > 0 && pixel != previous && colourChangeStep < 0) colourChangeStep = step;
      previous = pixel;
    }
    ASSERT_GE(startStep, 0);
    EXPECT_EQ(colourChangeStep - startStep, c.tStatesBeforeAccess / 4);
    EXPECT_EQ(nextStep - startStep, c.nops);
    EXPECT_EQ(previous, 11) << "border now hardware colour &0B";
  }
}

}  // namespace
