// Settings files as earlier versions of the program wrote them (the
// fixtures were saved by the program, not typed) must load to the same
// settings, whatever becomes of the code that reads them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "frontend/settings.h"

namespace {

namespace fs = std::filesystem;

const fs::path kFixtures = fs::path(PELLUCIDORE_TEST_FIXTURES) / "settings";

class SettingsFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kFixtures / "Pellux.ini")) GTEST_SKIP() << "fixtures missing: " << kFixtures;
    dir_ = fs::temp_directory_path() / ("pellucidore-settings-files-" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    // Copies: loading must not be able to touch the fixtures.
    fs::copy_file(kFixtures / "Pellux.ini", dir_ / "Pellux.ini");
    fs::copy_file(kFixtures / "Tuned.pfl", dir_ / "Tuned.pfl");
    s_ = DefaultSettings(dir_);
    ASSERT_TRUE(LoadSettings(s_, MissingFile::Leave).Ok);
    ASSERT_TRUE(LoadProfileFile(s_, dir_ / "Tuned.pfl").Ok);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
  Settings s_;
};

TEST_F(SettingsFiles, PelluxIniLoadsEverySection) {
  EXPECT_EQ(s_.ROMDIR, "/home/amy/cpc/ROMS/");
  EXPECT_EQ(s_.DISKDIR, "/home/amy/cpc/DISKS/");
  EXPECT_EQ(s_.SNAPDIR, "/home/amy/cpc/SNAP/");
  EXPECT_EQ(s_.STILLSDIR, "/home/amy/cpc/STILLS/");
  EXPECT_EQ(s_.PRINTDIR, "/home/amy/cpc/PRINT/");
  EXPECT_EQ(s_.PFLDIR, "/home/amy/cpc/PROFILES/");
  EXPECT_EQ(s_.CAPTUREDIR, "/home/amy/cpc/CAPTURE/");
  EXPECT_EQ(s_.TAPEDIR, "/home/amy/cpc/TAPES/");
  EXPECT_EQ(s_.TAPE, "/home/amy/cpc/TAPES/game.cdt");
  EXPECT_EQ(s_.SAVETYPE, 3);
  EXPECT_EQ(s_.JPGQUALITY, 65);
  EXPECT_TRUE(s_.NAMEBYDSK);
  EXPECT_FALSE(s_.SAVESTILLDIALOG);
  EXPECT_EQ(s_.MAXSTILLS, 25);
  EXPECT_EQ(s_.EVERYFRAME, 4);
  EXPECT_FALSE(s_.TOOLBAR);
  EXPECT_TRUE(s_.INDIVIDUALSET);
  EXPECT_TRUE(s_.FDDSOUNDENABLE);
  EXPECT_FALSE(s_.FASTTAPE);
  EXPECT_EQ(s_.LASTPROFILE, "/Tuned.pfl");
  EXPECT_TRUE(s_.OVERLAY);
  EXPECT_EQ(s_.OVERLAYCOLOR, 9);
  EXPECT_FALSE(s_.REWIND);
  EXPECT_EQ(s_.REWINDMEMORY, 128);
  EXPECT_FALSE(s_.AUTORUN);
  EXPECT_TRUE(s_.INTEGERSCALE);
  EXPECT_EQ(s_.RECENT, (std::vector<std::string>{"/home/amy/cpc/DISKS/game.dsk", "/home/amy/cpc/SNAP/a.sna"}));
  EXPECT_EQ(s_.KEYBOARDMODE, 0);
  EXPECT_TRUE(s_.KEYJOYSTICK);
  EXPECT_EQ(s_.KEYJOYFIRE1, 65);
  EXPECT_EQ(s_.KEYJOYFIRE2, 83);
  EXPECT_FALSE(s_.PADJOYSTICK);
  EXPECT_EQ(s_.PRINTERIDLE, 12);
}

TEST_F(SettingsFiles, AnIndividualProfileLoadsTheMachineDrivesAndWindows) {
  EXPECT_EQ(s_.VENDOR, 4);
  EXPECT_EQ(s_.CRTCTYPE, 1);
  EXPECT_EQ(s_.CPUSPEED, 40000);
  EXPECT_EQ(s_.Z80SPEED, 2);
  EXPECT_FALSE(s_.CPUSTATES);
  EXPECT_EQ(s_.RAM, 6);
  EXPECT_FALSE(s_.RAM4MB);
  EXPECT_FALSE(s_.WRPROTECTION0);
  EXPECT_TRUE(s_.WRPROTECTION1);
  EXPECT_EQ(s_.MONITOR, 2);
  EXPECT_FALSE(s_.DOUBLESCANLINE);
  EXPECT_TRUE(s_.KEEPASPECTRATIO);
  EXPECT_TRUE(s_.DIRECTXSTRETCH);
  EXPECT_EQ(s_.ZOOM, 1);
  EXPECT_EQ(s_.ZOOMXOFF, 16);
  EXPECT_EQ(s_.ZOOMYOFF, 8);
  EXPECT_EQ(s_.ROM[0], "464BASIC.ROM");
  EXPECT_EQ(s_.ROM[6], "MAXAM.ROM");
  EXPECT_EQ(s_.ROM[7], "EMPTY");
  EXPECT_TRUE(s_.SOUNDENABLED);
  EXPECT_EQ(s_.CHANNELS, 2);
  EXPECT_EQ(s_.SAMPLERATE, 48000);
  EXPECT_EQ(s_.BITSPERSAMPLE, 16);
  EXPECT_EQ(s_.PARMODE, 2);
  EXPECT_EQ(s_.LPTADDRESS, 632);
  EXPECT_EQ(s_.LPTMODE, 2);
  EXPECT_TRUE(s_.MOUSEEN);
  EXPECT_TRUE(s_.LIGHTPEN);
  EXPECT_EQ(s_.SERIAL, "/dev/ttyUSB0");
  EXPECT_TRUE(s_.SYMBIFACE);
  EXPECT_EQ(s_.ROMENABLE, (std::array<bool, 8>{true, true, false, true, true, false, true, true}));
  EXPECT_EQ(s_.HDD0PATH, "/home/amy/cpc/HDD/master.hdi");
  EXPECT_EQ(s_.HDD1PATH, "");
  // INDIVIDUALSET: the profile's drives and window places count.
  EXPECT_EQ(s_.FDD0, "/home/amy/cpc/DISKS/game.dsk");
  EXPECT_EQ(s_.FDD1, "/home/amy/cpc/DISKS/pack.zip");
  EXPECT_EQ(s_.COMPRFDD1, "SIDEB.DSK");
  EXPECT_EQ(s_.FORM1XPOS, 12);
  EXPECT_EQ(s_.FORM1YPOS, 34);
  EXPECT_EQ(s_.FORM1W, 800);
  EXPECT_EQ(s_.FORM1H, 640);
  EXPECT_EQ(s_.FORM3XPOS, 500);
  EXPECT_EQ(s_.FORM7YPOS, 200);
}

TEST_F(SettingsFiles, TheLoadedMachineIsTheOneTheProfileDescribes) {
  const MachineConfig c = MachineConfigFromSettings(s_);
  EXPECT_EQ(c.CrtcType, 1u);
  EXPECT_EQ(c.MicrosecondsPerTick, 40000u);
  EXPECT_EQ(c.Z80Multiplier, 2u);
  EXPECT_EQ(c.RamBankLimit, 6);
  EXPECT_EQ(c.Monitor, 2u);
  EXPECT_EQ(c.SampleRate, 48000u);
  EXPECT_EQ(c.SoundChannels, 2u);
  EXPECT_EQ(c.BitsPerSample, 16u);
  EXPECT_EQ(c.PrinterMode, 2u);
  EXPECT_TRUE(c.SymbifaceEnabled);
}

}  // namespace
