// The parallel port printer: the ppdev protocol against a fake port, and
// what a missing port does to the CPC.
#include "platform/parport_printer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "core/machine.h"

namespace {

namespace fs = std::filesystem;

struct FakeParport : ParportDevice {
  std::vector<std::string>& log;
  uint8_t status = kParportStatusNotBusy;
  uint8_t control = 0x0C;  // as a port idles: SELECT IN, INIT high
  std::string openError, claimError;

  explicit FakeParport(std::vector<std::string>& l) : log(l) {}
  std::string Open(const fs::path& path) override {
    log.push_back("open " + path.string());
    return openError;
  }
  void Close() override { log.push_back("close"); }
  std::string Claim() override {
    log.push_back("claim");
    return claimError;
  }
  void Release() override { log.push_back("release"); }
  void WriteData(uint8_t v) override { log.push_back("data " + std::to_string(v)); }
  void WriteControl(uint8_t v) override {
    control = v;
    log.push_back("control " + std::to_string(v));
  }
  uint8_t ReadControl() override { return control; }
  uint8_t ReadStatus() override { return status; }
};

class ParportPrinterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() / ("pellucidore-parport-" + std::to_string(getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "proc/parport0");
    fs::create_directories(root / "proc/parport1");
    fs::create_directories(root / "dev");
    std::ofstream(root / "proc/parport0/base-addr") << "888\t1912\n";
    std::ofstream(root / "proc/parport1/base-addr") << "632\t1656\n";
  }
  void TearDown() override { fs::remove_all(root); }
  std::unique_ptr<ParportPrinter> Printer(FakeParport*& fake) {
    auto device = std::make_unique<FakeParport>(log);
    fake = device.get();
    return std::make_unique<ParportPrinter>(std::move(device), root / "proc", root / "dev");
  }
  fs::path root;
  std::vector<std::string> log;
};

TEST_F(ParportPrinterTest, NormalModeMirrorsTheCpcStrobeAndBusyLine) {
  FakeParport* fake = nullptr;
  auto printer = Printer(fake);
  printer->Configure(632, 1);
  ASSERT_EQ(printer->Open(), "");
  // The port found by its base address, claimed, its strobe made inactive.
  EXPECT_EQ(log, (std::vector<std::string>{"open " + (root / "dev/parport1").string(), "claim", "control 12"}));
  log.clear();
  // As the firmware prints a character: data, strobe on, strobe off.
  printer->Write('A');
  printer->Write('A' | 0x80);
  printer->Write('A');
  EXPECT_EQ(log, (std::vector<std::string>{"data 65", "data 65", "control 13", "data 65", "control 12"}))
      << "data reaches the lines before the strobe turns active";
  EXPECT_FALSE(printer->Busy());
  fake->status = 0x00;  // BUSY high reads as status bit 7 clear
  EXPECT_TRUE(printer->Busy());
  log.clear();
  fake->control = 0x0D;
  printer->Close();
  EXPECT_EQ(log, (std::vector<std::string>{"control 12", "release", "close"})) << "the control register as found";
  log.clear();
  printer->Close();
  EXPECT_TRUE(log.empty());
}

TEST_F(ParportPrinterTest, FullModeWritesEightBitsAndNoStrobe) {
  FakeParport* fake = nullptr;
  auto printer = Printer(fake);
  printer->Configure(888, 2);
  ASSERT_EQ(printer->Open(), "");
  log.clear();
  printer->Write(0xC1);
  printer->Write(0x41);
  EXPECT_EQ(log, (std::vector<std::string>{"data 193", "data 65"}));
}

TEST_F(ParportPrinterTest, PortsThatCannotBeUsedAreReportedAndOffline) {
  FakeParport* fake = nullptr;
  auto printer = Printer(fake);
  printer->Configure(0x3BC, 1);
  EXPECT_EQ(printer->Open(), "No parallel port has the base address &3BC");
  EXPECT_TRUE(log.empty());

  printer->Configure(888, 1);
  fake->claimError = "the port could not be claimed: Device or resource busy";
  const std::string why = printer->Open();
  EXPECT_NE(why.find("parport0"), std::string::npos) << why;
  EXPECT_NE(why.find("Device or resource busy"), std::string::npos) << why;
  EXPECT_EQ(log.back(), "close") << "not left open";

  // The real driver on a device file that is not there, through the machine.
  ParportPrinter real(MakePpdevDevice(), root / "proc", root / "dev");
  real.Configure(888, 1);
  MachineConfig config;
  config.RomDir = "/nonexistent";
  auto m = CreateMachine(config);
  m->Printer.Lpt = &real;
  const std::string message = PrinterSetMode(*m, kPrinterLpt);
  EXPECT_EQ(message, "Cannot open " + (root / "dev/parport0").string() + ": No such file or directory");
  EXPECT_EQ((Z80In(*m, 0xF500) >> 6) & 1, 1) << "the CPC sees the printer busy";
  Z80Out(*m, 0xEF00, 0xC1);  // goes nowhere, and does not crash
  PrinterStop(*m);
}

}  // namespace
