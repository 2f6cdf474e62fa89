// A printer on a real parallel port of the host, through Linux's ppdev
// driver (/dev/parportN), found by the base address the configuration
// lists. The port is claimed while the mode is active.
//
// Normal Mode puts the CPC's seven data bits on the data lines and its
// strobe bit on the port's strobe, so the strobe pulse is as long as the CPC
// program makes it; Full Mode puts all eight bits on the data lines and no
// strobe. The CPC's busy line follows the port's.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "storage/printer.h"

// The ppdev calls the printer needs, behind an interface so that the port
// protocol can be checked without a port.
class ParportDevice {
 public:
  virtual ~ParportDevice() = default;
  virtual std::string Open(const std::filesystem::path& path) = 0;  // empty, or why not
  virtual void Close() = 0;
  virtual std::string Claim() = 0;  // empty, or why not
  virtual void Release() = 0;
  virtual void WriteData(uint8_t value) = 0;
  virtual void WriteControl(uint8_t value) = 0;
  virtual uint8_t ReadControl() = 0;
  virtual uint8_t ReadStatus() = 0;
};

std::unique_ptr<ParportDevice> MakePpdevDevice();

// Control register bit 0 drives the strobe line, inverted: 1 = strobe active.
inline constexpr uint8_t kParportControlStrobe = 0x01;
// Status register bit 7 reads the busy line, inverted: 1 = ready.
inline constexpr uint8_t kParportStatusNotBusy = 0x80;

class ParportPrinter final : public HostPrinter {
 public:
  explicit ParportPrinter(std::unique_ptr<ParportDevice> device,
                          std::filesystem::path procDir = "/proc/sys/dev/parport",
                          std::filesystem::path devDir = "/dev");
  ~ParportPrinter() override { Close(); }

  // LPTADDRESS and LPTMODE (1 Normal Mode, 2 Full Mode); takes effect at
  // Open. True when either differs from before.
  bool Configure(uint16_t baseAddress, int32_t lptMode);

  std::string Open() override;
  void Close() override;
  void Write(uint8_t value) override;
  bool Busy() override;

 private:
  std::unique_ptr<ParportDevice> device_;
  std::filesystem::path procDir_, devDir_;
  uint16_t address_ = 0x378;
  bool fullMode_ = false;
  bool open_ = false;
  uint8_t savedControl_ = 0;
  uint8_t control_ = 0;
};
