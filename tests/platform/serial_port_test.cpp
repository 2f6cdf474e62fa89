// The serial interface on a real host port: a socat pseudo-terminal pair
// stands in for a null-modem cable.
#include "platform/serial_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "core/emulation_thread.h"
#include "core/machine.h"

namespace {

using Clock = std::chrono::steady_clock;

// socat -d -d pty,raw,echo=0 pty,raw,echo=0, killed when the test ends.
class PtyPair {
 public:
  PtyPair() {
    int err[2];
    if (pipe(err) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(err[1], STDERR_FILENO);
      close(err[0]);
      close(err[1]);
      execlp("socat", "socat", "-d", "-d", "pty,raw,echo=0", "pty,raw,echo=0", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(err[1]);
    std::string text;
    const std::regex ptyLine("PTY is (\\S+)");
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    // Both names, then socat's word that the two ends are linked.
    while ((names.size() < 2 || text.find("starting data transfer loop") == std::string::npos) &&
           Clock::now() < deadline && pid_ > 0) {
      pollfd p{err[0], POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buffer[512];
      const ssize_t n = read(err[0], buffer, sizeof buffer);
      if (n <= 0) break;
      text.append(buffer, static_cast<size_t>(n));
      names.clear();
      for (std::sregex_iterator it(text.begin(), text.end(), ptyLine), end; it != end; ++it)
        names.push_back((*it)[1]);
    }
    close(err[0]);
  }
  ~PtyPair() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool Ready() const { return names.size() == 2; }

  std::vector<std::string> names;

 private:
  pid_t pid_ = -1;
};

bool HaveSocat() { return system("command -v socat >/dev/null 2>&1") == 0; }

// Reads what arrives at fd within the time limit, until count bytes are in.
std::vector<uint8_t> ReadFor(int fd, size_t count, std::chrono::milliseconds limit) {
  std::vector<uint8_t> got;
  const auto deadline = Clock::now() + limit;
  while (got.size() < count && Clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    uint8_t buffer[512];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) got.insert(got.end(), buffer, buffer + n);
  }
  return got;
}

class SerialPtyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveSocat()) GTEST_SKIP() << "socat is not installed (scripts/setup-deps installs it)";
    pty = std::make_unique<PtyPair>();
    ASSERT_TRUE(pty->Ready()) << "socat did not report two pseudo-terminals";
    MachineConfig config;
    config.RomDir = "/nonexistent";
    m = CreateMachine(config);
    far = open(pty->names[1].c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(far, 0);
  }
  void TearDown() override {
    if (m) SerialClose(m->Serial);
    if (far >= 0) close(far);
  }

  std::unique_ptr<PtyPair> pty;
  std::unique_ptr<Machine> m;
  int far = -1;
};

// A machine without ROM files whose lower ROM (enabled at reset, at &0000)
// holds the program; interrupts stay off after reset.
std::unique_ptr<Machine> MachineRunning(const std::vector<uint8_t>& program) {
  MachineConfig config;
  config.RomDir = "/nonexistent";
  auto m = CreateMachine(config);
  std::memset(m->Memory.LowerRom, 0, sizeof m->Memory.LowerRom);
  std::copy(program.begin(), program.end(), m->Memory.LowerRom);
  return m;
}

// False while the CPU is the stand-in that treats every byte as a NOP.
bool HaveRealZ80() {
  auto m = MachineRunning({0x3E, 0x05});  // LD A,5
  ExecuteInstruction(*m);
  return m->Z80.AF.B.H == 5;
}

TEST_F(SerialPtyTest, Z80ProgramTalksThroughChannelA) {
  if (!HaveRealZ80()) GTEST_SKIP() << "needs the Z80 executor";
  // Sends the zero-terminated text at &0020 to channel A's data port.
  std::vector<uint8_t> send = {
      0x01, 0xDC, 0xFA,  // LD BC,&FADC
      0x21, 0x20, 0x00,  // LD HL,&0020
      0x7E,              // loop: LD A,(HL)
      0xB7,              // OR A
      0x28, 0x05,        // JR Z,done
      0xED, 0x79,        // OUT (C),A
      0x23,              // INC HL
      0x18, 0xF7,        // JR loop
      0x18, 0xFE,        // done: JR done
  };
  send.resize(0x20);
  const std::string text = "HELLO FROM THE CPC\r\n";
  send.insert(send.end(), text.begin(), text.end());
  send.push_back(0);
  m = MachineRunning(send);
  ASSERT_EQ(SerialOpen(m->Serial, pty->names[0], MakeHostSerialPort()), "");
  PeriodHooks hooks;
  RunPeriod(*m, hooks);  // the program ends well inside one period; the poll sends
  const auto got = ReadFor(far, text.size(), std::chrono::seconds(2));
  EXPECT_EQ(std::string(got.begin(), got.end()), text);
  SerialClose(m->Serial);

  // Copies every byte that arrives to &8000 on.
  m = MachineRunning({
      0x21, 0x00, 0x80,  // LD HL,&8000
      0x01, 0xDD, 0xFA,  // wait: LD BC,&FADD
      0xED, 0x78,        // IN A,(C)
      0x3D,              // DEC A: status 1 means input
      0x20, 0xF8,        // JR NZ,wait
      0x0D,              // DEC C: &FADC
      0xED, 0x78,        // IN A,(C)
      0x77,              // LD (HL),A
      0x23,              // INC HL
      0x18, 0xF1,        // JR wait
  });
  ASSERT_EQ(SerialOpen(m->Serial, pty->names[0], MakeHostSerialPort()), "");
  const std::string reply = "READY";
  ASSERT_EQ(write(far, reply.data(), reply.size()), static_cast<ssize_t>(reply.size()));
  std::string back;
  const auto deadline = Clock::now() + std::chrono::seconds(2);
  while (back.size() < reply.size() && Clock::now() < deadline) {
    RunPeriod(*m, hooks);  // the poll fetches, the next period's program reads
    back.clear();
    for (uint16_t a = 0x8000; ReadByte(m->Memory, a) != 0 && a < 0x8100; ++a)
      back += static_cast<char>(ReadByte(m->Memory, a));
    usleep(5000);
  }
  EXPECT_EQ(back, reply);
}

speed_t SpeedOf(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
  termios t{};
  const bool ok = fd >= 0 && tcgetattr(fd, &t) == 0;
  if (fd >= 0) close(fd);
  return ok ? cfgetospeed(&t) : B0;
}

TEST_F(SerialPtyTest, BytesGoOutAtThePollAndComeBackIn) {
  ASSERT_EQ(SerialOpen(m->Serial, pty->names[0], MakeHostSerialPort()), "");
  ASSERT_TRUE(m->Serial.SerialEnabled);

  const std::string text = "HELLO, WORLD\r\n";
  for (char c : text) Z80Out(*m, 0xFADC, static_cast<uint8_t>(c));
  EXPECT_TRUE(ReadFor(far, 1, std::chrono::milliseconds(50)).empty()) << "sent before the poll";
  SerialPoll(m->Serial);
  const auto got = ReadFor(far, text.size(), std::chrono::seconds(2));
  EXPECT_EQ(std::string(got.begin(), got.end()), text);

  const std::string reply = "OK";
  ASSERT_EQ(write(far, reply.data(), reply.size()), static_cast<ssize_t>(reply.size()));
  std::string back;
  const auto deadline = Clock::now() + std::chrono::seconds(2);
  while (back.size() < reply.size() && Clock::now() < deadline) {
    SerialPoll(m->Serial);
    while (Z80In(*m, 0xFADD) == 1) back += static_cast<char>(Z80In(*m, 0xFADC));
    usleep(20000);
  }
  EXPECT_EQ(back, reply);
  EXPECT_EQ(Z80In(*m, 0xFADD), 0);
  EXPECT_EQ(Z80In(*m, 0xFADC), 0xFF);
}

TEST_F(SerialPtyTest, TimerSetsThePortsBaudRateAndCloseRestoresIt) {
  {
    const int fd = open(pty->names[0].c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios t{};
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    cfsetspeed(&t, B1200);
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &t), 0);
    close(fd);
  }
  ASSERT_EQ(SerialOpen(m->Serial, pty->names[0], MakeHostSerialPort()), "");
  Z80Out(*m, 0xFBDF, 0x36);
  Z80Out(*m, 0xFBDC, 0x0D);
  Z80Out(*m, 0xFBDC, 0x00);
  EXPECT_EQ(SpeedOf(pty->names[0]), B9600);
  SerialClose(m->Serial);
  EXPECT_EQ(SpeedOf(pty->names[0]), B1200);
}

TEST(SerialHostPort, MissingPortIsReportedByName) {
  MachineConfig config;
  config.RomDir = "/nonexistent";
  auto m = CreateMachine(config);
  const std::string message = SerialOpen(m->Serial, "/dev/ttyNOSUCHPORT", MakeHostSerialPort());
  EXPECT_NE(message.find("/dev/ttyNOSUCHPORT"), std::string::npos) << message;
  EXPECT_FALSE(m->Serial.SerialEnabled);
  EXPECT_EQ(Z80In(*m, 0xFADD), 0xFF);
  // Something that opens but is no serial port is refused too.
  EXPECT_NE(SerialOpen(m->Serial, "/dev/null", MakeHostSerialPort()), "");
  EXPECT_FALSE(m->Serial.SerialEnabled);
}

}  // namespace
