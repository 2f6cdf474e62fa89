#include "platform/parport_printer.h"

#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "frontend/config_model.h"

namespace fs = std::filesystem;

namespace {

class PpdevDevice final : public ParportDevice {
 public:
  ~PpdevDevice() override { Close(); }

  std::string Open(const fs::path& path) override {
    Close();
    fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ >= 0) return {};
    std::string why = std::strerror(errno);
    if (errno == EACCES) why += " (the user needs to be in the lp group)";
    return "Cannot open " + path.string() + ": " + why;
  }
  void Close() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  std::string Claim() override {
    if (ioctl(fd_, PPCLAIM) == 0) return {};
    return std::string("the port could not be claimed: ") + std::strerror(errno);
  }
  void Release() override { ioctl(fd_, PPRELEASE); }
  void WriteData(uint8_t value) override { ioctl(fd_, PPWDATA, &value); }
  void WriteControl(uint8_t value) override { ioctl(fd_, PPWCONTROL, &value); }
  uint8_t ReadControl() override {
    uint8_t value = 0;
    ioctl(fd_, PPRCONTROL, &value);
    return value;
  }
  uint8_t ReadStatus() override {
    uint8_t value = kParportStatusNotBusy;
    ioctl(fd_, PPRSTATUS, &value);
    return value;
  }

 private:
  int fd_ = -1;
};

}  // namespace

std::unique_ptr<ParportDevice> MakePpdevDevice() { return std::make_unique<PpdevDevice>(); }

ParportPrinter::ParportPrinter(std::unique_ptr<ParportDevice> device, fs::path procDir, fs::path devDir)
    : device_(std::move(device)), procDir_(std::move(procDir)), devDir_(std::move(devDir)) {}

bool ParportPrinter::Configure(uint16_t baseAddress, int32_t lptMode) {
  const bool changed = address_ != baseAddress || fullMode_ != (lptMode == 2);
  address_ = baseAddress;
  fullMode_ = lptMode == 2;
  return changed;
}

std::string ParportPrinter::Open() {
  Close();
  fs::path path;
  for (const ParallelPort& port : ListParallelPorts(procDir_))
    if (port.Address == address_) path = devDir_ / port.Device;
  if (path.empty()) {
    char text[80];
    std::snprintf(text, sizeof text, "No parallel port has the base address &%X", address_);
    return text;
  }
  if (std::string why = device_->Open(path); !why.empty()) return why;
  if (std::string why = device_->Claim(); !why.empty()) {
    device_->Close();
    return "Cannot use " + path.string() + ": " + why;
  }
  savedControl_ = device_->ReadControl();
  control_ = savedControl_ & ~kParportControlStrobe;
  if (!fullMode_) device_->WriteControl(control_);
  open_ = true;
  return {};
}

void ParportPrinter::Close() {
  if (!open_) return;
  open_ = false;
  device_->WriteControl(savedControl_);
  device_->Release();
  device_->Close();
}

void ParportPrinter::Write(uint8_t value) {
  if (!open_) return;
  if (fullMode_) {
    device_->WriteData(value);
    return;
  }
  // Data first, so it is on the lines before the strobe turns active.
  device_->WriteData(value & 0x7F);
  const uint8_t control =
      (value & 0x80) ? (control_ | kParportControlStrobe) : (control_ & ~kParportControlStrobe);
  if (control != control_) device_->WriteControl(control);
  control_ = control;
}

// The status register's bit 7 is the busy line inverted (the PC parallel
// port's S7; Linux's own lp driver waits for it to be set before a byte).
bool ParportPrinter::Busy() { return !open_ || !(device_->ReadStatus() & kParportStatusNotBusy); }
