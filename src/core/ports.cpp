// Port decoding. Devices are selected by single address bits being low, so
// one access may reach several of them; the order below is the order in
// which they see it.
#include "core/machine.h"
#include "debugger/port_log.h"

void Z80Out(Machine& m, uint16_t port, uint8_t value) {
  if ((port & 0xC000) == 0x4000) GateArrayWrite(m, value);           // &7Fxx
  if (!(port & 0x8000)) RamConfigWrite(m.Memory, port, value);       // &7Fxx, values &C0-&FF
  if (!(port & 0x4000)) CrtcWrite(m.Crtc, port, value);              // &BCxx-&BFxx
  if (!(port & 0x2000)) SelectUpperRom(m.Memory, value);             // &DFxx
  if (!(port & 0x1000)) PrinterWrite(m, value);                      // &EFxx
  if (!(port & 0x0800)) {                                            // &F4xx-&F7xx
    PpiWrite(m, port, value);
    LogPortWrite(m, port, value);
  }
  if (!(port & 0x0480)) FdcWrite(m, port, value);                    // &FA7E, &FB7E, &FB7F
  if (!(port & 0x0420)) SerialWrite(m.Serial, port, value);          // &FADC-&FBDF
  if ((port & 0xFFC0) == 0xFD00) SymbifaceWrite(m, port, value);     // &FD00-&FD3F
}

uint8_t Z80In(Machine& m, uint16_t port) {
  uint8_t result = port == 0xFEFE ? 0x88 : 0xFF;
  if (!(port & 0x4000)) result = CrtcRead(m.Crtc, port);
  if (!(port & 0x0800)) result = PpiRead(m, port);
  if (!(port & 0x1000)) result = PrinterRead(m, result);
  if (!(port & 0x0480)) result = FdcRead(m, port);
  if (!(port & 0x0420)) result = SerialRead(m.Serial, port);
  if ((port & 0xFFC0) == 0xFD00) result = SymbifaceRead(m, port);
  return result;
}
