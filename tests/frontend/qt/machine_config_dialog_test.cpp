// The machine configuration dialog on its own: what each control shows for
// a setting and what it stores back.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>

#include "frontend/qt/machine_config_dialog.h"
#include "frontend/qt/modal_helper.h"

namespace fs = std::filesystem;

namespace {

class CpcConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    romDir = fs::temp_directory_path() / ("pellucidore-cfg-roms-" + std::to_string(::getpid()));
    fs::create_directories(romDir);
    for (const char* name : {"6128Low.ROM", "maxam.rom"}) std::ofstream(romDir / name) << "x";
    s = DefaultSettings(romDir.parent_path());
    s.ROMDIR = romDir.string() + "/";
  }
  void TearDown() override { fs::remove_all(romDir); }

  QApplication& app = *TestApp();  // before any widget
  fs::path romDir;
  Settings s;
  MachineConfigDialog d{nullptr, {{"LPT1 (parport0)", 888}, {"LPT2 (parport1)", 632}}, {"/dev/ttyS0", "/dev/ttyUSB0"}};
};

TEST_F(CpcConfigTest, SpeedAndMultiplierExcludeEachOther) {
  d.LoadFromSettings(s);  // CPUSPEED 20000, Z80SPEED 1
  EXPECT_EQ(d.SpeedBar->value(), 10);
  EXPECT_EQ(d.SpeedLabel->text(), "CPC Speed 100%");
  EXPECT_EQ(d.Z80Label->text(), "Z80 @ 4 Mhz");
  EXPECT_TRUE(d.Z80Bar->isEnabled());

  d.SpeedBar->setValue(11);
  EXPECT_EQ(d.SpeedLabel->text(), "CPC Speed 110%");
  EXPECT_FALSE(d.Z80Bar->isEnabled());
  d.SpeedBar->setValue(10);
  EXPECT_TRUE(d.Z80Bar->isEnabled());
  d.Z80Bar->setValue(2);
  EXPECT_EQ(d.Z80Label->text(), "Z80 @ 8 Mhz");
  EXPECT_FALSE(d.SpeedBar->isEnabled());

  d.ApplyCpcConfiguration(s);
  EXPECT_EQ(s.CPUSPEED, 20000);
  EXPECT_EQ(s.Z80SPEED, 2);

  // A profile that has both (written by hand) shows both bars locked as
  // their values say; showing it again starts from the new values.
  s.CPUSPEED = 40000;
  s.Z80SPEED = 3;
  d.LoadFromSettings(s);
  EXPECT_FALSE(d.SpeedBar->isEnabled());
  EXPECT_FALSE(d.Z80Bar->isEnabled());
  s.CPUSPEED = 20000;
  s.Z80SPEED = 1;
  d.LoadFromSettings(s);
  EXPECT_TRUE(d.SpeedBar->isEnabled());
  EXPECT_TRUE(d.Z80Bar->isEnabled());
}

TEST_F(CpcConfigTest, RamBarPositions) {
  d.LoadFromSettings(s);
  EXPECT_EQ(d.RamBar->value(), 8);
  EXPECT_EQ(d.RamLabel->text(), "128 KB");
  struct Case {
    int position;
    const char* label;
    int32_t ram;
  };
  for (const Case& c : {Case{9, "64 KB", -1}, Case{8, "128 KB", 0}, Case{1, "576 KB", 7}}) {
    d.RamBar->setValue(c.position);
    EXPECT_EQ(d.RamLabel->text(), c.label);
    d.ApplyCpcConfiguration(s);
    EXPECT_EQ(s.RAM, c.ram);
  }
}

TEST_F(CpcConfigTest, CaptionAndBrand) {
  s.LASTPROFILE = "/Work.pfl";
  d.LoadFromSettings(s);
  EXPECT_EQ(d.windowTitle(), "CPC Configuration/Work.pfl");
  EXPECT_EQ(d.BrandBox->currentText(), "AMSTRAD");
  d.BrandBox->setCurrentText("SCHNEIDER");
  d.ApplyCpcConfiguration(s);
  EXPECT_EQ(s.VENDOR, 10);

  // An odd brand code leaves the list where it was.
  s.VENDOR = 7;
  d.LoadFromSettings(s);
  EXPECT_EQ(d.BrandBox->currentText(), "SCHNEIDER");
}

TEST_F(CpcConfigTest, RomBoxes) {
  // The folder's own files only: the built-in firmware is switched off here.
  setenv("PELLUCIDORE_BUILTIN_ROM_DIR", "", 1);
  d.LoadFromSettings(s);
  unsetenv("PELLUCIDORE_BUILTIN_ROM_DIR");
  // Every ROM box offers EMPTY and the ROM files; names are shown as
  // stored and stored upper-cased.
  for (QComboBox* box : d.RomBoxes) {
    ASSERT_EQ(box->count(), 3);
    EXPECT_EQ(box->itemText(0), "EMPTY");
    EXPECT_EQ(box->itemText(1), "6128LOW.ROM");
    EXPECT_EQ(box->itemText(2), "MAXAM.ROM");
  }
  EXPECT_EQ(d.RomBoxes[0]->currentText(), "6128Low.ROM");
  EXPECT_EQ(d.RomBoxes[1]->currentText(), "6128BASIC.ROM");  // not in the folder, still shown
  EXPECT_EQ(d.RomBoxes[1 + 3]->currentText(), "EMPTY");
  d.RomBoxes[1 + 6]->setCurrentIndex(2);
  d.RomBoxes[1 + 15]->setEditText("utopia.rom");
  d.ApplyCpcConfiguration(s);
  EXPECT_EQ(s.ROMLow, "6128LOW.ROM");
  EXPECT_EQ(s.ROM[6], "MAXAM.ROM");
  EXPECT_EQ(s.ROM[15], "UTOPIA.ROM");
  EXPECT_EQ(s.ROM[7], "AMSDOS.ROM");

  // A file added while the program runs is offered the next time.
  std::ofstream(romDir / "Parados.ROM") << "x";
  setenv("PELLUCIDORE_BUILTIN_ROM_DIR", "", 1);
  d.LoadFromSettings(s);
  unsetenv("PELLUCIDORE_BUILTIN_ROM_DIR");
  EXPECT_EQ(d.RomBoxes[0]->count(), 4);
  EXPECT_EQ(d.RomBoxes[0]->currentText(), "6128LOW.ROM");
}

TEST_F(CpcConfigTest, AModelFillsInRomsRamAndBrand) {
  s.VENDOR = 10;
  s.ROMLow = "MYOS.ROM";
  d.LoadFromSettings(s);
  EXPECT_EQ(d.ModelBox->currentText(), "Custom");  // no model has this lower ROM
  EXPECT_GE(d.RomBoxes[0]->findText("464LOW.ROM"), 0) << "the built-in firmware is offered";
  d.ModelBox->setCurrentIndex(1);
  emit d.ModelBox->activated(1);
  d.ApplyCpcConfiguration(s);
  EXPECT_EQ(s.ROMLow, "464LOW.ROM");
  EXPECT_EQ(s.ROM[0], "464BASIC.ROM");
  EXPECT_EQ(s.ROM[7], "EMPTY");
  EXPECT_EQ(s.RAM, -1);
  EXPECT_EQ(s.VENDOR, 14);
  d.LoadFromSettings(s);
  EXPECT_EQ(d.ModelBox->currentText(), "CPC 464");
}

TEST_F(CpcConfigTest, ParallelPortControls) {
  s.PARMODE = 0;
  s.LPTADDRESS = 632;
  d.LoadFromSettings(s);
  EXPECT_TRUE(d.LptPortBox->isHidden());
  EXPECT_TRUE(d.NormalMode->isHidden());
  EXPECT_TRUE(d.FullMode->isHidden());
  EXPECT_EQ(d.LptPortBox->currentIndex(), 1);

  d.ParallelBox->setCurrentText("Use an existing LPT");
  EXPECT_FALSE(d.LptPortBox->isHidden());
  EXPECT_FALSE(d.FullMode->isHidden());
  d.LptPortBox->setCurrentIndex(0);
  d.FullMode->setChecked(true);
  d.ApplyCpcConfiguration(s);
  EXPECT_EQ(s.PARMODE, 3);
  EXPECT_EQ(s.LPTADDRESS, 888);
  EXPECT_EQ(s.LPTMODE, 2);

  d.ParallelBox->setCurrentText("Use Digiblaster");
  EXPECT_TRUE(d.LptPortBox->isHidden());

  // No discovered port has the address: nothing is selected and the
  // address stays as it was.
  s.LPTADDRESS = 0x3BC;
  d.LoadFromSettings(s);
  EXPECT_EQ(d.LptPortBox->currentIndex(), -1);
  d.ApplyCpcConfiguration(s);
  EXPECT_EQ(s.LPTADDRESS, 0x3BC);
}

TEST_F(CpcConfigTest, SerialPortList) {
  d.LoadFromSettings(s);
  ASSERT_GE(d.SerialBox->count(), 3);
  EXPECT_EQ(d.SerialBox->itemText(0), "Not Connected");
  EXPECT_EQ(d.SerialBox->currentText(), "Not Connected");
  d.SerialBox->setCurrentText("/dev/ttyUSB0");
  d.ApplyCpcConfiguration(s);
  EXPECT_EQ(s.SERIAL, "/dev/ttyUSB0");
  EXPECT_TRUE(s.SerialConnected);

  // A port that has gone away is still the one shown, and kept on apply.
  s.SERIAL = "/dev/ttyACM3";
  d.LoadFromSettings(s);
  EXPECT_EQ(d.SerialBox->currentText(), "/dev/ttyACM3");
  d.ApplyCpcConfiguration(s);
  EXPECT_EQ(s.SERIAL, "/dev/ttyACM3");
  s.SERIAL = "/dev/ttyACM4";
  d.LoadFromSettings(s);
  EXPECT_EQ(d.SerialBox->count(), 4);  // the other vanished port is not kept
}

TEST_F(CpcConfigTest, HardDiskPaths) {
  s.HDD0PATH = "/data/disks/master.hdd";
  s.DISKDIR = "/data/disks/";
  d.LoadFromSettings(s);
  EXPECT_EQ(d.Hdd0Field->text(), "master.hdd");
  EXPECT_TRUE(d.Hdd1Field->text().isEmpty());

  QString askedDir;
  d.OpenHddDialog = [&](QWidget*, const QString& dir) {
    askedDir = dir;
    return QString("/elsewhere/slave.hdd");
  };
  d.Hdd1Button->click();
  EXPECT_EQ(askedDir, "/data/disks/");
  EXPECT_EQ(d.Hdd1Field->text(), "slave.hdd");
  d.Hdd0Empty->click();
  EXPECT_TRUE(d.Hdd0Field->text().isEmpty());

  Settings before = s;
  d.ApplyCpcConfiguration(s);
  EXPECT_EQ(s.HDD0PATH, "");
  EXPECT_EQ(s.HDD1PATH, "/elsewhere/slave.hdd");
  EXPECT_FALSE(s.Hdd0Present);
  EXPECT_TRUE(s.Hdd1Present);

  // A cancelled choice keeps the path; showing again starts from Settings.
  d.OpenHddDialog = [](QWidget*, const QString&) { return QString(); };
  d.Hdd0Button->click();
  d.LoadFromSettings(before);
  EXPECT_EQ(d.Hdd0Path, "/data/disks/master.hdd");
  EXPECT_EQ(d.Hdd1Path, "");
}

// The images Create New Disks writes (".img" by default) are listed.
TEST_F(CpcConfigTest, HardDiskChooserListsImgAndHdd) {
  const fs::path disks = romDir / "disks";
  fs::create_directories(disks);
  for (const char* name : {"made.img", "old.hdd", "notes.txt"}) std::ofstream(disks / name) << "x";
  s.DISKDIR = disks.string() + "/";
  d.LoadFromSettings(s);
  QStringList filters;
  WhenModal<QFileDialog>([&](QFileDialog* f) {
    filters = f->nameFilters();
    f->findChild<QLineEdit*>("fileNameEdit")->setText("made.img");
    static_cast<QDialog*>(f)->accept();
  });
  d.Hdd0Button->click();
  ASSERT_FALSE(filters.isEmpty());
  EXPECT_TRUE(filters[0].contains("*.img") && filters[0].contains("*.hdd")) << filters[0].toStdString();
  EXPECT_TRUE(filters.contains("All files (*)"));
  EXPECT_EQ(d.Hdd0Field->text(), "made.img");
  EXPECT_EQ(d.Hdd0Path, (disks / "made.img").string());
}

// Every control shows its value and gives it back: a profile full of
// values other than the defaults survives show and apply into a default
// record.
TEST_F(CpcConfigTest, EveryControlRoundTrips) {
  Settings p = s;
  p.VENDOR = 4;
  p.CRTCTYPE = 2;
  p.MONITOR = 2;
  p.DOUBLESCANLINE = false;
  p.KEEPASPECTRATIO = true;
  p.DIRECTXSTRETCH = true;
  p.CPUSPEED = 6000;
  p.Z80SPEED = 5;
  p.CPUSTATES = false;
  p.RAM = 3;
  p.RAM4MB = true;
  p.ROMLow = "MAXAM.ROM";
  for (int i = 0; i < kProfileUpperRoms; ++i) p.ROM[i] = "ROM" + std::to_string(i) + ".ROM";
  p.SOUNDENABLED = true;
  p.CHANNELS = 2;
  p.SAMPLERATE = 48000;  // the choice added for Linux sound servers
  p.BITSPERSAMPLE = 16;
  p.PARMODE = 3;
  p.LPTADDRESS = 632;
  p.LPTMODE = 2;
  p.MOUSEEN = true;
  p.LIGHTPEN = true;
  p.SERIAL = "/dev/ttyS0";
  p.SYMBIFACE = true;
  p.ROMENABLE = {false, true, false, true, true, false, false, true};
  p.HDD0PATH = "/a/one.hdd";
  p.HDD1PATH = "/b/two.hdd";
  DeriveProfileFields(p);

  d.LoadFromSettings(p);
  Settings out = DefaultSettings(romDir.parent_path());
  d.ApplyCpcConfiguration(out);
  EXPECT_EQ(out.VENDOR, p.VENDOR);
  EXPECT_EQ(out.CRTCTYPE, p.CRTCTYPE);
  EXPECT_EQ(out.MONITOR, p.MONITOR);
  EXPECT_EQ(out.DOUBLESCANLINE, p.DOUBLESCANLINE);
  EXPECT_EQ(out.KEEPASPECTRATIO, p.KEEPASPECTRATIO);
  EXPECT_EQ(out.DIRECTXSTRETCH, p.DIRECTXSTRETCH);
  EXPECT_EQ(out.CPUSPEED, p.CPUSPEED);
  EXPECT_EQ(out.Z80SPEED, p.Z80SPEED);
  EXPECT_EQ(out.CPUSTATES, p.CPUSTATES);
  EXPECT_EQ(out.RAM, p.RAM);
  EXPECT_EQ(out.RAM4MB, p.RAM4MB);
  EXPECT_EQ(out.ROMLow, p.ROMLow);
  EXPECT_EQ(out.ROM, p.ROM);
  EXPECT_EQ(out.SOUNDENABLED, p.SOUNDENABLED);
  EXPECT_EQ(out.CHANNELS, p.CHANNELS);
  EXPECT_EQ(out.SAMPLERATE, p.SAMPLERATE);
  EXPECT_EQ(out.BITSPERSAMPLE, p.BITSPERSAMPLE);
  EXPECT_EQ(out.PARMODE, p.PARMODE);
  EXPECT_EQ(out.LPTADDRESS, p.LPTADDRESS);
  EXPECT_EQ(out.LPTMODE, p.LPTMODE);
  EXPECT_EQ(out.MOUSEEN, p.MOUSEEN);
  EXPECT_EQ(out.LIGHTPEN, p.LIGHTPEN);
  EXPECT_EQ(out.SERIAL, p.SERIAL);
  EXPECT_EQ(out.SerialConnected, true);
  EXPECT_EQ(out.SYMBIFACE, p.SYMBIFACE);
  EXPECT_EQ(out.ROMENABLE, p.ROMENABLE);
  EXPECT_EQ(out.HDD0PATH, p.HDD0PATH);
  EXPECT_EQ(out.HDD1PATH, p.HDD1PATH);
}

TEST_F(CpcConfigTest, MonitorOutsideItsValuesIsLeftAlone) {
  s.MONITOR = 5;
  d.LoadFromSettings(s);
  EXPECT_FALSE(d.ColorMonitor->isChecked());
  EXPECT_FALSE(d.GreenMonitor->isChecked());
  d.ApplyCpcConfiguration(s);
  EXPECT_EQ(s.MONITOR, 5);
}

TEST_F(CpcConfigTest, TreeSelectsPages) {
  ASSERT_EQ(d.TreeView1->topLevelItemCount(), 9);
  ASSERT_EQ(d.Pages->count(), 9);
  d.TreeView1->setCurrentItem(d.TreeView1->topLevelItem(7));
  EXPECT_EQ(d.Pages->currentIndex(), 7);
  EXPECT_TRUE(d.Pages->currentWidget()->isAncestorOf(d.ParallelBox));
  d.TreeView1->setCurrentItem(d.TreeView1->topLevelItem(5));
  EXPECT_TRUE(d.Pages->currentWidget()->isAncestorOf(d.RomBoxes[1 + 8]));
  EXPECT_EQ(d.ApplySaveButton->text(), "Apply && Save");
}

}  // namespace
