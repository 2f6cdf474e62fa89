#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "cli_support.h"
#include "core/machine.h"
#include "devices/screen_text.h"
#include "frontend/autotype.h"
#include "host/autotype_pacer.h"
#include "host/session.h"
#include "storage/symbiface.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> HeldKeys(const KeyboardState& k) {
  std::vector<std::string> held;
  for (uint32_t line = 0; line < 16; ++line)
    for (uint32_t bit = 0; bit < 8; ++bit)
      if (!(KeyboardLine(k, line) & (1 << bit))) held.push_back(std::to_string(line) + "," + std::to_string(bit));
  return held;
}

using Keys = std::vector<std::string>;

TEST(AutoTypePacerTest, StepsEvery50MsOfMachineTimeWithShiftAPeriodAhead) {
  KeyboardState k;
  KeyboardReset(k);
  AutoTypePacer pacer;
  ASSERT_TRUE(pacer.Start("aB"));
  // Full-speed periods of 20 ms: steps at 20, 60 (release), 100 and 160 ms
  // of machine time, each 50 ms after the one before or at the first
  // period end past that; SHIFT alone at 80, a period before B.
  const Keys expected[] = {{"8,5"}, {"8,5"}, {}, {"2,5"}, {"2,5", "6,6"}, {"2,5", "6,6"}, {"2,5", "6,6"}, {}, {}};
  for (int period = 0; period < 9; ++period) {
    pacer.Period(20000, k);
    EXPECT_EQ(HeldKeys(k), expected[period]) << "period " << period;
  }
  EXPECT_FALSE(pacer.Active());
}

TEST(AutoTypePacerTest, AFastMachineGetsOneStepAPeriodAndNoCharacterIsLost) {
  KeyboardState k;
  KeyboardReset(k);
  AutoTypePacer pacer;
  ASSERT_TRUE(pacer.Start("ab", 100000));
  // 1000 % speed: 200 ms of machine time a period, still one step each.
  const Keys expected[] = {{"8,5"}, {}, {"6,6"}, {}};
  for (int period = 0; period < 4; ++period) {
    pacer.Period(200000, k);
    EXPECT_EQ(HeldKeys(k), expected[period]) << "period " << period;
  }
  pacer.Period(200000, k);
  EXPECT_FALSE(pacer.Active());
}

TEST(AutoTypePacerTest, TheDelayIsMachineTimeAndStopLetsGoOfEveryKey) {
  KeyboardState k;
  KeyboardReset(k);
  AutoTypePacer pacer;
  EXPECT_FALSE(pacer.Start(""));
  ASSERT_TRUE(pacer.Start("A", 50000));
  pacer.Period(20000, k);
  pacer.Period(20000, k);
  EXPECT_EQ(HeldKeys(k), Keys{"2,5"});  // SHIFT ahead, a period before 50 ms
  pacer.Period(20000, k);
  EXPECT_EQ(HeldKeys(k), (Keys{"2,5", "8,5"}));
  pacer.Stop(k);
  EXPECT_TRUE(HeldKeys(k).empty());
  EXPECT_FALSE(pacer.Active());
}

// A host that keeps what the session tells it.
class RecordingHost : public Host {
 public:
  void Frame(const uint8_t*) override { ++frames; }
  void Message(HostMessage, const std::string& text) override { messages.push_back(text); }
  std::atomic<int> frames{0};
  std::vector<std::string> messages;
};

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("pellucidore-session-" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A machine on the built-in firmware; no host audio, so tests run silent.
  Session& MakeSession(SessionMode mode = {.HostAudio = false, .KeepPersistent = true}) {
    session_ = std::make_unique<Session>(host_, dir_, mode);
    session_->LoadSettings(MissingFile::Leave);
    config_ = MachineConfigFromSettings(session_->GetSettings());
    session_->CreateMachine(config_);
    return *session_;
  }

  fs::path dir_;
  RecordingHost host_;
  MachineConfig config_;
  std::unique_ptr<Session> session_;
};

TEST_F(SessionTest, ADiskTheUserNamedMustOpenOneTheSettingsRememberMayBeGone) {
  std::ofstream(dir_ / "junk.zip") << "not an archive at all";
  struct Case {
    std::string path;
    bool named;
    bool fails;
    std::string error;  // empty: the reasons went to the host
  } cases[] = {
      {(dir_ / "gone.dsk").string(), false, false, ""},
      {(dir_ / "gone.dsk").string(), true, true, "disk image not found: " + (dir_ / "gone.dsk").string()},
      {(dir_ / "junk.zip").string(), true, true, ""},
  };
  for (const Case& c : cases) {
    Session& s = MakeSession();
    host_.messages.clear();
    DeviceSetup setup;
    setup.Disk[0] = c.path;
    setup.DiskNamed[0] = c.named;
    const SessionError error = s.OpenDevices(setup);
    EXPECT_EQ(static_cast<bool>(error), c.fails) << c.path << (c.named ? " named" : "");
    EXPECT_EQ(error.Message, c.error);
    if (c.fails && c.error.empty()) {
      EXPECT_FALSE(host_.messages.empty()) << "a refusal is said to the host";
    }
    EXPECT_FALSE(s.GetMachine().Fdc.Drives[0].Loaded);
    EXPECT_EQ(s.CloseDevices(), "");
  }
}

TEST_F(SessionTest, DrivesAreWriteProtectedAsSetAndEjectedAtClose) {
  const fs::path disk = SharedDir() + "/testdata/dsk/hello.dsk";
  if (!fs::exists(disk)) GTEST_SKIP() << "test disk missing: " << disk;
  fs::copy_file(disk, dir_ / "hello.dsk");
  Session& s = MakeSession();
  DeviceSetup setup;
  setup.Disk[1] = (dir_ / "hello.dsk").string();
  setup.WriteProtected[1] = false;
  ASSERT_FALSE(s.OpenDevices(setup));
  const DriveImage& b = s.GetMachine().Fdc.Drives[1];
  EXPECT_TRUE(b.Loaded);
  EXPECT_FALSE(b.WriteProtected);
  EXPECT_TRUE(s.GetMachine().Fdc.Drives[0].WriteProtected);
  EXPECT_EQ(s.CloseDevices(), "");
  EXPECT_FALSE(b.Loaded);
}

TEST_F(SessionTest, TheSymbifaceMemoryIsWrittenBackOnlyWhenTheSessionKeepsIt) {
  for (const bool keep : {false, true}) {
    fs::remove(dir_ / kSymbifacePersistentFile);
    session_.reset();
    session_ = std::make_unique<Session>(host_, dir_, SessionMode{.HostAudio = false, .KeepPersistent = keep});
    MachineConfig config;
    config.SymbifaceEnabled = true;
    session_->CreateMachine(config);
    ASSERT_FALSE(session_->OpenDevices(DeviceSetup{}));
    EXPECT_EQ(session_->CloseDevices(), "");
    EXPECT_EQ(fs::exists(dir_ / kSymbifacePersistentFile), keep) << "keep " << keep;
  }
}

TEST_F(SessionTest, ARecordingTakesTheProfilesSoundFormatElseCdQuality) {
  Session& s = MakeSession();
  ASSERT_FALSE(s.HasProfile());
  Settings& settings = s.GetSettings();
  settings.SAMPLERATE = 22050;
  settings.CHANNELS = 1;
  settings.BITSPERSAMPLE = 8;
  struct Case {
    bool profile;
    uint32_t wanted;
    SoundFormat expected;
  } cases[] = {
      {false, 0, {44100, 2, 16}},
      {false, 48000, {48000, 2, 16}},
      {true, 0, {22050, 1, 8}},
      {true, 44100, {44100, 1, 8}},
  };
  for (const Case& c : cases) {
    if (c.profile) {
      // A profile file in the start folder's profile folder.
      fs::create_directories(settings.PFLDIR);
      ASSERT_TRUE(SaveProfile(settings).Ok);
      s.LoadSettings(MissingFile::Leave);
      s.GetSettings().SAMPLERATE = 22050;
      s.GetSettings().CHANNELS = 1;
      s.GetSettings().BITSPERSAMPLE = 8;
      ASSERT_TRUE(s.HasProfile());
    }
    const SoundFormat f = s.RecordingFormat(c.wanted);
    EXPECT_EQ(f.SampleRate, c.expected.SampleRate) << c.profile << " " << c.wanted;
    EXPECT_EQ(f.Channels, c.expected.Channels) << c.profile << " " << c.wanted;
    EXPECT_EQ(f.BitsPerSample, c.expected.BitsPerSample) << c.profile << " " << c.wanted;
  }
}

TEST_F(SessionTest, APauseGuardParksTheThreadAndGuardsNest) {
  Session& s = MakeSession();
  ASSERT_FALSE(s.OpenDevices(DeviceSetup{}));
  s.StartThread(true, false);
  s.Thread()->SetThrottle(false);
  auto advances = [&] {
    const uint64_t before = s.Thread()->Periods();
    for (int i = 0; i < 200; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (s.Thread()->Periods() > before) return true;
    }
    return false;
  };
  ASSERT_TRUE(advances());
  {
    Session::PauseGuard outer(s);
    {
      Session::PauseGuard inner(s);
      const uint64_t parked = s.Thread()->Periods();
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      EXPECT_EQ(s.Thread()->Periods(), parked);
    }
    const uint64_t parked = s.Thread()->Periods();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(s.Thread()->Periods(), parked) << "the outer guard still holds";
  }
  EXPECT_TRUE(advances());
  // The user's pause holds under a guard's end too.
  s.SetRunning(false);
  { Session::PauseGuard guard(s); }
  const uint64_t paused = s.Thread()->Periods();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(s.Thread()->Periods(), paused);
  EXPECT_GT(host_.frames.load(), 0);
  EXPECT_EQ(s.CloseDevices(), "");
  EXPECT_EQ(s.Thread(), nullptr);
}

TEST_F(SessionTest, TypingRunsInsideThePeriodsTheSessionRuns) {
  if (!HaveRoms()) GTEST_SKIP() << "CPC firmware missing in " << RomDir();
  Session& s = MakeSession();
  s.GetSettings().ROMDIR = RomDir();
  s.CreateMachine(MachineConfigFromSettings(s.GetSettings()));
  ASSERT_FALSE(s.OpenDevices(DeviceSetup{}));
  ASSERT_TRUE(s.Typing().Start(AutoTypeTextFromLines("PRINT 6*7"), 1500000));
  for (int i = 0; i < 50 * 5 && s.Typing().Active(); ++i) s.RunPeriod();
  for (int i = 0; i < 25; ++i) s.RunPeriod();
  EXPECT_FALSE(s.Typing().Active());
  bool found = false;
  for (const std::string& line : ScreenText(s.GetMachine())) found = found || line.find("42") != std::string::npos;
  EXPECT_TRUE(found);
}

}  // namespace
