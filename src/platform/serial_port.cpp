#include "platform/serial_port.h"

#include <fcntl.h>
#include <libserialport.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

// The interface's writes may wait this long for the driver to take them;
// what it has not taken by then is dropped, as the buffer is emptied anyway.
constexpr int kWriteTimeoutMs = 20;

speed_t SpeedConstant(uint32_t baud) {
  switch (baud) {
    case 50: return B50;
    case 75: return B75;
    case 110: return B110;
    case 150: return B150;
    case 200: return B200;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
  }
}

void SetModemLine(int fd, int line, bool on) { ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line); }

class HostSerialPort final : public SerialHostPort {
 public:
  ~HostSerialPort() override { Close(); }

  bool Open(const std::string& name, std::string& error) override {
    Close();
    // Keep the whole termios state before anything touches it: sp_open
    // already switches the line to raw mode.
    const int probe = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (probe < 0) {
      error = std::strerror(errno);
      return false;
    }
    const bool isTerminal = isatty(probe);
    const bool haveSaved = isTerminal && tcgetattr(probe, &saved_) == 0;
    ::close(probe);
    if (!isTerminal) {
      error = "not a serial port";
      return false;
    }

    if (sp_get_port_by_name(name.c_str(), &port_) == SP_OK) {
      if (sp_open(port_, SP_MODE_READ_WRITE) != SP_OK) {
        error = sp_last_error_message();
        sp_free_port(port_);
        port_ = nullptr;
        return false;
      }
      sp_get_port_handle(port_, &fd_);
    } else {
      // Not a port libserialport knows (a pseudo-terminal): plain termios.
      fd_ = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
      if (fd_ < 0) {
        error = std::strerror(errno);
        return false;
      }
      termios raw{};
      if (tcgetattr(fd_, &raw) == 0) {
        cfmakeraw(&raw);
        raw.c_cflag |= CLOCAL | CREAD;
        tcsetattr(fd_, TCSANOW, &raw);
      }
    }
    if (ioctl(fd_, TIOCEXCL) != 0) {
      error = "cannot be opened exclusively";
      Close();
      return false;
    }
    haveSaved_ = haveSaved;
    return true;
  }

  void Close() override {
    if (fd_ >= 0) {
      if (haveSaved_) tcsetattr(fd_, TCSANOW, &saved_);
      ioctl(fd_, TIOCNXCL);
    }
    if (port_) {
      sp_close(port_);
      sp_free_port(port_);
      port_ = nullptr;
    } else if (fd_ >= 0) {
      ::close(fd_);
    }
    fd_ = -1;
    haveSaved_ = false;
  }

  void Apply(const SerialLineSettings& s) override {
    if (fd_ < 0) return;
    if (port_) {
      ApplyLibSerialPort(s);
    } else {
      ApplyTermios(s);
    }
  }

  void Write(const uint8_t* data, size_t count) override {
    if (fd_ < 0) return;
    if (port_) {
      sp_blocking_write(port_, data, count, kWriteTimeoutMs);
      return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWriteTimeoutMs);
    while (count > 0) {
      const ssize_t n = ::write(fd_, data, count);
      if (n > 0) {
        data += n;
        count -= static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EINTR) return;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return;
      pollfd p{fd_, POLLOUT, 0};
      ::poll(&p, 1, static_cast<int>(left.count()));
    }
  }

  size_t Read(uint8_t* data, size_t max) override {
    if (fd_ < 0 || max == 0) return 0;
    if (port_) {
      const int n = sp_nonblocking_read(port_, data, max);
      return n > 0 ? static_cast<size_t>(n) : 0;
    }
    const ssize_t n = ::read(fd_, data, max);
    return n > 0 ? static_cast<size_t>(n) : 0;
  }

  SerialModemLines ModemLines() override {
    SerialModemLines lines;
    if (fd_ < 0) return lines;
    int bits = 0;
    // Pseudo-terminals have no modem lines: both read as off.
    if (ioctl(fd_, TIOCMGET, &bits) == 0) {
      lines.Cts = (bits & TIOCM_CTS) != 0;
      lines.Ring = (bits & TIOCM_RI) != 0;
    }
    return lines;
  }

 private:
  void ApplyLibSerialPort(const SerialLineSettings& s) {
    // Failures are ignored: a rate or format the driver refuses leaves the
    // previous one in place, and the emulated machine cannot be told.
    sp_set_baudrate(port_, static_cast<int>(s.Baud));
    sp_set_bits(port_, s.DataBits);
    sp_set_parity(port_, s.Parity == SerialParity::None  ? SP_PARITY_NONE
                         : s.Parity == SerialParity::Odd ? SP_PARITY_ODD
                                                         : SP_PARITY_EVEN);
    // POSIX has no 1.5 stop bits; UARTs send 1.5 for two with 5-bit words.
    sp_set_stopbits(port_, s.StopBits == SerialStopBits::One ? 1 : 2);
    sp_set_dtr(port_, s.Dtr ? SP_DTR_ON : SP_DTR_OFF);
    // Linux has no transmit-toggled RTS, so "toggle" holds it raised.
    sp_set_rts(port_, s.Rts == SerialRts::Off         ? SP_RTS_OFF
                      : s.Rts == SerialRts::Handshake ? SP_RTS_FLOW_CONTROL
                                                      : SP_RTS_ON);
    sp_set_cts(port_, s.Rts == SerialRts::Handshake ? SP_CTS_FLOW_CONTROL : SP_CTS_IGNORE);
  }

  void ApplyTermios(const SerialLineSettings& s) {
    termios t{};
    if (tcgetattr(fd_, &t) != 0) return;
    const speed_t speed = SpeedConstant(s.Baud);
    if (speed != B0) cfsetspeed(&t, speed);  // odd rates mean nothing on a pseudo-terminal
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= kSizes[(s.DataBits - 5) & 3];
    if (s.Parity != SerialParity::None) t.c_cflag |= PARENB;
    if (s.Parity == SerialParity::Odd) t.c_cflag |= PARODD;
    if (s.StopBits != SerialStopBits::One) t.c_cflag |= CSTOPB;
    if (s.Rts == SerialRts::Handshake) t.c_cflag |= CRTSCTS;
    tcsetattr(fd_, TCSANOW, &t);
    SetModemLine(fd_, TIOCM_DTR, s.Dtr);
    if (s.Rts != SerialRts::Handshake) SetModemLine(fd_, TIOCM_RTS, s.Rts != SerialRts::Off);
  }

  sp_port* port_ = nullptr;
  int fd_ = -1;
  termios saved_{};
  bool haveSaved_ = false;
};

}  // namespace

std::unique_ptr<SerialHostPort> MakeHostSerialPort() { return std::make_unique<HostSerialPort>(); }

std::vector<std::string> ListHostSerialPorts() {
  std::vector<std::string> names;
  sp_port** list = nullptr;
  if (sp_list_ports(&list) != SP_OK) return names;
  for (sp_port** p = list; *p; ++p) names.emplace_back(sp_get_port_name(*p));
  sp_free_port_list(list);
  return names;
}
