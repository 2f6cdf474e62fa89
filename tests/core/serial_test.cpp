// The serial interface through the machine's ports, with a fake host port.
#include "core/serial.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <vector>

#include "core/machine.h"

namespace {

class FakeHostPort : public SerialHostPort {
 public:
  bool Open(const std::string& name, std::string& error) override {
    openedName = name;
    if (failOpen) error = "No such file or directory";
    return !failOpen;
  }
  void Close() override { ++closes; }
  void Apply(const SerialLineSettings& s) override { applied.push_back(s); }
  void Write(const uint8_t* data, size_t count) override { sent.insert(sent.end(), data, data + count); }
  size_t Read(uint8_t* data, size_t max) override {
    ++reads;
    size_t n = 0;
    while (n < max && !pending.empty()) {
      data[n++] = pending.front();
      pending.pop_front();
    }
    return n;
  }
  SerialModemLines ModemLines() override { return lines; }

  bool failOpen = false;
  std::string openedName;
  int closes = 0;
  int reads = 0;
  std::vector<SerialLineSettings> applied;
  std::vector<uint8_t> sent;
  std::deque<uint8_t> pending;
  SerialModemLines lines;
};

// Usual ports of the interface.
constexpr uint16_t kDataA = 0xFADC, kControlA = 0xFADD, kDataB = 0xFADE, kControlB = 0xFADF;
constexpr uint16_t kCounter0 = 0xFBDC, kTimerControl = 0xFBDF;

class SerialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MachineConfig config;
    config.RomDir = "/nonexistent";
    m = CreateMachine(config);
    auto fake = std::make_unique<FakeHostPort>();
    host = fake.get();
    ASSERT_EQ(SerialOpen(m->Serial, "/dev/ttyUSB0", std::move(fake)), "");
    ASSERT_TRUE(m->Serial.SerialEnabled);
  }
  void Out(uint16_t port, uint8_t v) { Z80Out(*m, port, v); }
  uint8_t In(uint16_t port) { return Z80In(*m, port); }
  void Poll() { SerialPoll(m->Serial); }
  void SetBaudCount(uint16_t n) {
    Out(kTimerControl, 0x36);
    Out(kCounter0, n & 0xFF);
    Out(kCounter0, n >> 8);
  }

  std::unique_ptr<Machine> m;
  FakeHostPort* host = nullptr;
};

TEST(SerialNotConnected, EveryPortReadsFFAndWritesChangeNothing) {
  MachineConfig config;
  config.RomDir = "/nonexistent";
  auto m = CreateMachine(config);
  EXPECT_EQ(SerialOpen(m->Serial, "Not Connected", std::make_unique<FakeHostPort>()), "");
  EXPECT_FALSE(m->Serial.SerialEnabled);
  const SerialState before = [&] {
    SerialState s{};
    std::memcpy(s.ChannelA, m->Serial.ChannelA, sizeof s.ChannelA);
    std::memcpy(s.ChannelB, m->Serial.ChannelB, sizeof s.ChannelB);
    return s;
  }();
  for (uint16_t port : {0xFADC, 0xFADD, 0xFADE, 0xFADF, 0xFBDC, 0xFBDD, 0xFBDE, 0xFBDF}) {
    for (uint8_t v : {0x01, 0x19, 0x36, 0xFF}) Z80Out(*m, port, v);
    EXPECT_EQ(Z80In(*m, port), 0xFF) << std::hex << port;
  }
  EXPECT_EQ(std::memcmp(before.ChannelA, m->Serial.ChannelA, 6), 0);
  EXPECT_EQ(std::memcmp(before.ChannelB, m->Serial.ChannelB, 6), 0);
  EXPECT_EQ(m->Serial.OutputCount, 0u);
  EXPECT_EQ(m->Serial.PointerB, kSerialPointerIdle);
}

TEST(SerialOpenFailure, SwitchesOffAndNamesThePort) {
  MachineConfig config;
  config.RomDir = "/nonexistent";
  auto m = CreateMachine(config);
  auto fake = std::make_unique<FakeHostPort>();
  fake->failOpen = true;
  const std::string message = SerialOpen(m->Serial, "/dev/ttyS7", std::move(fake));
  EXPECT_NE(message.find("/dev/ttyS7"), std::string::npos) << message;
  EXPECT_FALSE(m->Serial.SerialEnabled);
  Z80Out(*m, kDataA, 0x41);
  EXPECT_EQ(m->Serial.OutputCount, 0u);
  EXPECT_EQ(Z80In(*m, kControlA), 0xFF);
}

TEST_F(SerialTest, ChannelControlPointers) {
  // A: values with bits 3-7 set are ignored while idle.
  Out(kControlA, 0x18);
  EXPECT_EQ(m->Serial.PointerA, kSerialPointerIdle);
  Out(kControlA, 5);
  Out(kControlA, 0xEA);
  EXPECT_EQ(m->Serial.ChannelA[5], 0xEA);
  EXPECT_EQ(m->Serial.PointerA, kSerialPointerIdle);
  // Pointer 0 swallows the next write.
  Out(kControlA, 0);
  Out(kControlA, 0x77);
  EXPECT_EQ(m->Serial.ChannelA[0], 0);
  EXPECT_EQ(m->Serial.PointerA, kSerialPointerIdle);
  // Registers 6 and 7 do not exist.
  Out(kControlA, 6);
  Out(kControlA, 0x55);
  EXPECT_EQ(m->Serial.PointerA, kSerialPointerIdle);

  // B: &18 has bits 0-2 clear and is ignored; &19 selects register 1.
  Out(kControlB, 0x18);
  EXPECT_EQ(m->Serial.PointerB, kSerialPointerIdle);
  Out(kControlB, 0x19);
  Out(kControlB, 0xA5);
  EXPECT_EQ(m->Serial.ChannelB[1], 0xA5);
  EXPECT_EQ(m->Serial.PointerB, kSerialPointerIdle);
  // Reads: the selected register, then register 0 while idle.
  Out(kControlB, 2);
  Out(kControlB, 0x3C);
  Out(kControlB, 0x19);
  EXPECT_EQ(In(kControlB), 0xA5);
  EXPECT_EQ(m->Serial.PointerB, kSerialPointerIdle);
  m->Serial.ChannelB[0] = 0x42;
  EXPECT_EQ(In(kControlB), 0x42);
  Out(kControlB, 7);
  EXPECT_EQ(In(kControlB), 0xFF);
  // Channel B data and unknown reads.
  Out(kDataB, 0x41);
  EXPECT_EQ(m->Serial.OutputCount, 0u);
  EXPECT_EQ(In(kDataB), 0xFF);
  EXPECT_EQ(In(kCounter0), 0xFF);
}

TEST_F(SerialTest, TimerControlThenTwoBytesGives9600Baud) {
  Out(kTimerControl, 0x36);
  Out(kCounter0, 0x0D);
  Out(kCounter0, 0x00);
  EXPECT_EQ(m->Serial.TimerCounter[0], 13);
  ASSERT_FALSE(host->applied.empty());
  EXPECT_EQ(host->applied.back().Baud, 9600u);
}

TEST_F(SerialTest, TimerLoadModes) {
  Out(kTimerControl, 0x50);  // counter 1, low byte only
  Out(0xFBDD, 0x34);
  Out(0xFBDD, 0x12);
  EXPECT_EQ(m->Serial.TimerCounter[1], 0x12);
  Out(kTimerControl, 0xA0);  // counter 2, high byte only
  Out(0xFBDE, 0x12);
  EXPECT_EQ(m->Serial.TimerCounter[2], 0x1200);
  Out(kTimerControl, 0x80);  // counter 2, latch: loads change nothing
  Out(0xFBDE, 0x99);
  EXPECT_EQ(m->Serial.TimerCounter[2], 0x1200);
  Out(kTimerControl, 0xF6);  // read-back command: ignored
  EXPECT_EQ(m->Serial.TimerMode[2], 0x00);
  // A half-finished pair is forgotten when the counter is programmed again.
  Out(kTimerControl, 0x36);
  Out(kCounter0, 0xFF);
  Out(kTimerControl, 0x36);
  Out(kCounter0, 0x34);
  Out(kCounter0, 0x12);
  EXPECT_EQ(m->Serial.TimerCounter[0], 0x1234);
}

TEST_F(SerialTest, BaudRateFromCounter0) {
  const struct {
    uint16_t count;
    uint32_t baud;
  } cases[] = {{0, 31250},   {4, 31250},    {7, 19200}, {26, 4800}, {63, 2000}, {104, 1200}, {1136, 110},
               {2777, 45},   {1000, 125},   {3, 41666}, {1, 125000}, {0xFFFF, 1}};
  for (const auto& c : cases) {
    SetBaudCount(c.count);
    EXPECT_EQ(SerialLineSettingsFromRegisters(m->Serial).Baud, c.baud) << c.count;
    EXPECT_EQ(host->applied.back().Baud, c.baud) << c.count;
  }
}

TEST_F(SerialTest, LineFormatFromRegisters) {
  const struct {
    uint8_t r3, r4, r5;
    SerialParity parity;
    SerialStopBits stop;
    uint8_t bits;
    bool dtr;
    SerialRts rts;
  } cases[] = {
      {0x00, 0x44, 0x60, SerialParity::None, SerialStopBits::One, 8, false, SerialRts::Off},
      {0x00, 0x45, 0xE2, SerialParity::Odd, SerialStopBits::One, 8, true, SerialRts::On},
      {0x20, 0x47, 0x40, SerialParity::Even, SerialStopBits::One, 7, false, SerialRts::Handshake},
      {0x20, 0x4C, 0x22, SerialParity::None, SerialStopBits::Two, 6, false, SerialRts::Toggle},
      {0x00, 0x08, 0x00, SerialParity::None, SerialStopBits::OneAndHalf, 5, false, SerialRts::Off},
      {0x00, 0x06, 0x00, SerialParity::None, SerialStopBits::One, 5, false, SerialRts::Off},
      {0x00, 0x00, 0x00, SerialParity::None, SerialStopBits::One, 5, false, SerialRts::Off},
  };
  for (const auto& c : cases) {
    Out(kControlA, 3);
    Out(kControlA, c.r3);
    Out(kControlA, 4);
    Out(kControlA, c.r4);
    Out(kControlA, 5);
    Out(kControlA, c.r5);
    const SerialLineSettings& s = host->applied.back();
    SCOPED_TRACE(::testing::Message() << std::hex << int(c.r3) << " " << int(c.r4) << " " << int(c.r5));
    EXPECT_EQ(s.Parity, c.parity);
    EXPECT_EQ(s.StopBits, c.stop);
    EXPECT_EQ(s.DataBits, c.bits);
    EXPECT_EQ(s.Dtr, c.dtr);
    EXPECT_EQ(s.Rts, c.rts);
  }
}

TEST_F(SerialTest, OutputBufferSendsFirst255AtThePoll) {
  for (int i = 0; i < 300; ++i) Out(kDataA, static_cast<uint8_t>(i));
  EXPECT_TRUE(host->sent.empty()) << "sent before the poll";
  Poll();
  ASSERT_EQ(host->sent.size(), 255u);
  for (int i = 0; i < 255; ++i) ASSERT_EQ(host->sent[i], i);
  Poll();
  EXPECT_EQ(host->sent.size(), 255u) << "the lost bytes came out later";
  Out(kDataA, 0x41);
  Poll();
  ASSERT_EQ(host->sent.size(), 256u);
  EXPECT_EQ(host->sent.back(), 0x41);
}

TEST_F(SerialTest, InputReadWhileItLasts) {
  EXPECT_EQ(In(kControlA), 0);
  EXPECT_EQ(In(kDataA), 0xFF);
  for (int i = 0; i < 300; ++i) host->pending.push_back(static_cast<uint8_t>(i + 7));
  Poll();
  for (int i = 0; i < 255; ++i) {
    ASSERT_EQ(In(kControlA), 1) << i;
    ASSERT_EQ(In(kDataA), static_cast<uint8_t>(i + 7)) << i;
    if (i == 100) {
      Poll();  // bytes remain: nothing new is fetched
      EXPECT_EQ(host->reads, 1);
    }
  }
  EXPECT_EQ(In(kControlA), 0);
  EXPECT_EQ(In(kDataA), 0xFF);
  Poll();
  EXPECT_EQ(In(kControlA), 1);
  EXPECT_EQ(In(kDataA), static_cast<uint8_t>(255 + 7));
  // With a register selected the status reads &FF, with pointer 0 it does not.
  Out(kControlA, 1);
  EXPECT_EQ(In(kControlA), 0xFF);
  Out(kControlA, 0x00);
  Out(kControlA, 0);
  EXPECT_EQ(In(kControlA), 1);
}

TEST_F(SerialTest, PollReadsModemLinesIntoRegister0) {
  m->Serial.ChannelA[0] = 0x0F;
  host->lines = {.Cts = true, .Ring = false};
  Poll();
  EXPECT_EQ(m->Serial.ChannelA[0], 0x2F);
  host->lines = {.Cts = false, .Ring = true};
  Poll();
  EXPECT_EQ(m->Serial.ChannelA[0], 0x1F);
}

TEST_F(SerialTest, ResetAndClose) {
  Out(kControlB, 0x19);
  SetBaudCount(13);
  ResetMachine(*m);
  EXPECT_EQ(m->Serial.PointerB, kSerialPointerIdle);
  EXPECT_EQ(m->Serial.TimerCounter[0], 0);
  EXPECT_EQ(m->Serial.TimerToggle[0], 1);
  EXPECT_TRUE(m->Serial.SerialEnabled) << "a reset keeps the port";
  SerialClose(m->Serial);
  EXPECT_FALSE(m->Serial.SerialEnabled);
  EXPECT_EQ(In(kControlA), 0xFF);
}

}  // namespace
