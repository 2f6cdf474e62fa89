// The Digiblaster on a real (SDL dummy) audio device and without one.
#include <gtest/gtest.h>

#include <cstdlib>

#include "core/emulation_thread.h"
#include "core/machine.h"
#include "platform/digiblaster_output.h"

namespace {

#ifdef PELLUCIDORE_HAVE_SDL2
TEST(PrinterDigiblasterOutput, OpensWithTheModeAndIsFedEachPeriod) {
  auto m = CreateMachine(MachineConfig{.RomDir = "/nonexistent"});
  DigiblasterOutput device;
  m->Printer.Device = &device;
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  PrinterSetMode(*m, kPrinterDigiblaster);
  unsetenv("SDL_AUDIODRIVER");
  if (!device.IsOpen()) GTEST_SKIP() << "SDL's dummy audio driver is not available: " << device.Error();
  PeriodHooks hooks;
  for (int i = 0; i < 3; ++i) RunPeriod(*m, hooks);
  EXPECT_EQ(m->Printer.DigiPlayIndex, 3u);
  PrinterSetMode(*m, kPrinterNotConnected);
  EXPECT_FALSE(device.IsOpen());
}

TEST(PrinterDigiblasterOutput, NoDeviceLeavesTheEmulationRunning) {
  auto m = CreateMachine(MachineConfig{.RomDir = "/nonexistent"});
  DigiblasterOutput device;
  m->Printer.Device = &device;
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  EXPECT_EQ(PrinterSetMode(*m, kPrinterDigiblaster), "");
  unsetenv("SDL_AUDIODRIVER");
  EXPECT_FALSE(device.IsOpen());
  EXPECT_FALSE(device.Error().empty());
  PeriodHooks hooks;
  RunPeriod(*m, hooks);
  EXPECT_EQ(m->Printer.DigiFillCount, 441u);  // the ring still runs, silently
  PrinterStop(*m);
}
#endif

}  // namespace
