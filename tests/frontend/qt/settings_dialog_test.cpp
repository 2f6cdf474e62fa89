// The settings dialog on its own: what each control shows for a setting
// and what it stores back.
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

#include "frontend/qt/settings_dialog.h"
#include "frontend/qt/modal_helper.h"

namespace fs = std::filesystem;

namespace {

class MiscConfigTest : public ::testing::Test {
 protected:
  void SetUp() override { s = DefaultSettings("/start"); }
  QApplication& app = *TestApp();
  Settings s;
  SettingsDialog d;
};

TEST_F(MiscConfigTest, JpegQualityOnlyForJpeg) {
  s.SAVETYPE = 1;
  s.JPGQUALITY = 65;
  d.LoadFromSettings(s);
  EXPECT_TRUE(d.QualityBar->isEnabled());
  EXPECT_EQ(d.QualityLabel->text(), "65");
  d.Formats[3]->setChecked(true);
  EXPECT_FALSE(d.QualityBar->isEnabled());
  d.Formats[1]->setChecked(true);
  EXPECT_TRUE(d.QualityBar->isEnabled());
  d.QualityBar->setValue(90);
  EXPECT_EQ(d.QualityLabel->text(), "90");
  d.Formats[2]->setChecked(true);
  d.ApplyMiscConfiguration(s);
  EXPECT_EQ(s.SAVETYPE, 2);
  EXPECT_EQ(s.JPGQUALITY, 90);

  s.SAVETYPE = 0;
  d.LoadFromSettings(s);
  EXPECT_FALSE(d.QualityBar->isEnabled());
}

TEST_F(MiscConfigTest, FrameOrFrames) {
  s.EVERYFRAME = 1;
  d.LoadFromSettings(s);
  EXPECT_EQ(d.FramesLabel->text(), "Frame");
  d.EveryFrame->setValue(3);
  EXPECT_EQ(d.FramesLabel->text(), "Frames");
  d.EveryFrame->setValue(1);
  EXPECT_EQ(d.FramesLabel->text(), "Frame");
  s.EVERYFRAME = 25;
  d.LoadFromSettings(s);
  EXPECT_EQ(d.FramesLabel->text(), "Frames");
}

TEST_F(MiscConfigTest, DirectoriesAreEditedCopies) {
  d.LoadFromSettings(s);
  EXPECT_EQ(d.DirectoryKind->currentText(), "ROMS");
  EXPECT_EQ(d.DirectoryLabel->text().toStdString(), s.ROMDIR);
  d.DirectoryKind->setCurrentText("SNAPSHOTS");
  EXPECT_EQ(d.DirectoryLabel->text().toStdString(), s.SNAPDIR);

  QString offered;
  d.ChooseDirectory = [&](QWidget*, const QString& current) {
    offered = current;
    return QString("/new/snaps");
  };
  d.ChangeButton->click();
  EXPECT_EQ(offered.toStdString(), s.SNAPDIR);
  EXPECT_EQ(d.DirectoryLabel->text(), "/new/snaps/");
  d.DirectoryKind->setCurrentText("ROMS");
  d.DirectoryKind->setCurrentText("SNAPSHOTS");
  EXPECT_EQ(d.DirectoryLabel->text(), "/new/snaps/");

  Settings applied = s;
  d.ApplyMiscConfiguration(applied);
  EXPECT_EQ(applied.SNAPDIR, "/new/snaps/");
  EXPECT_EQ(applied.ROMDIR, s.ROMDIR);
}

TEST_F(MiscConfigTest, CancelAfterChangeKeepsTheDirectory) {
  const std::string before = s.PFLDIR;
  d.ChooseDirectory = [](QWidget*, const QString&) { return QString("/chosen"); };
  WhenModal<SettingsDialog>([](SettingsDialog* m) {
    m->DirectoryKind->setCurrentText("PROFILES");
    m->ChangeButton->click();
    m->CancelButton->click();
  });
  EXPECT_FALSE(d.ShowMiscConfiguration(s));
  EXPECT_EQ(s.PFLDIR, before);
  d.LoadFromSettings(s);
  d.DirectoryKind->setCurrentText("PROFILES");
  EXPECT_EQ(d.DirectoryLabel->text().toStdString(), before);
}

TEST_F(MiscConfigTest, EveryControlRoundTrips) {
  Settings p = s;
  p.ROMDIR = "/r/";
  p.DISKDIR = "/d/";
  p.SNAPDIR = "/s/";
  p.STILLSDIR = "/st/";
  p.PRINTDIR = "/p/";
  p.PFLDIR = "/pf/";
  p.CAPTUREDIR = "/c/";
  p.SAVETYPE = 3;
  p.JPGQUALITY = 42;
  p.NAMEBYDSK = true;
  p.SAVESTILLDIALOG = true;
  p.SAVEHALFSIZE = true;
  p.MAXSTILLS = 33;
  p.EVERYFRAME = 77;
  p.TOOLBAR = false;
  p.INDIVIDUALSET = true;
  p.FDDSOUNDENABLE = true;
  p.VIDEODIALOG = true;
  p.REWIND = false;
  p.REWINDMEMORY = 200;
  p.PADJOYSTICK = false;
  p.KEYJOYSTICK = true;
  p.KEYJOYFIRE1 = 32;
  p.KEYJOYFIRE2 = 273;
  d.LoadFromSettings(p);
  Settings out = s;
  d.ApplyMiscConfiguration(out);
  EXPECT_EQ(out.REWIND, p.REWIND);
  EXPECT_EQ(out.REWINDMEMORY, p.REWINDMEMORY);
  EXPECT_EQ(out.ROMDIR, p.ROMDIR);
  EXPECT_EQ(out.DISKDIR, p.DISKDIR);
  EXPECT_EQ(out.SNAPDIR, p.SNAPDIR);
  EXPECT_EQ(out.STILLSDIR, p.STILLSDIR);
  EXPECT_EQ(out.PRINTDIR, p.PRINTDIR);
  EXPECT_EQ(out.PFLDIR, p.PFLDIR);
  EXPECT_EQ(out.CAPTUREDIR, p.CAPTUREDIR);
  EXPECT_EQ(out.SAVETYPE, p.SAVETYPE);
  EXPECT_EQ(out.JPGQUALITY, p.JPGQUALITY);
  EXPECT_EQ(out.NAMEBYDSK, p.NAMEBYDSK);
  EXPECT_EQ(out.SAVESTILLDIALOG, p.SAVESTILLDIALOG);
  EXPECT_EQ(out.SAVEHALFSIZE, p.SAVEHALFSIZE);
  EXPECT_EQ(out.MAXSTILLS, p.MAXSTILLS);
  EXPECT_EQ(out.EVERYFRAME, p.EVERYFRAME);
  EXPECT_EQ(out.TOOLBAR, p.TOOLBAR);
  EXPECT_EQ(out.INDIVIDUALSET, p.INDIVIDUALSET);
  EXPECT_EQ(out.FDDSOUNDENABLE, p.FDDSOUNDENABLE);
  EXPECT_EQ(out.VIDEODIALOG, p.VIDEODIALOG);
  EXPECT_EQ(out.PADJOYSTICK, p.PADJOYSTICK);
  EXPECT_EQ(out.KEYJOYSTICK, p.KEYJOYSTICK);
  EXPECT_EQ(out.KEYJOYFIRE1, p.KEYJOYFIRE1);
  EXPECT_EQ(out.KEYJOYFIRE2, p.KEYJOYFIRE2);
}

TEST_F(MiscConfigTest, JoystickPageNamesTheFireKeysAndKeepsAnUnlistedOne) {
  d.TreeView1->setCurrentItem(d.TreeView1->topLevelItem(4));
  EXPECT_TRUE(d.Pages->currentWidget()->isAncestorOf(d.KeyJoystick));
  d.LoadFromSettings(s);
  EXPECT_EQ(d.FireKeys[0]->currentText(), "Z");
  EXPECT_EQ(d.FireKeys[1]->currentText(), "X");
  s.KEYJOYFIRE2 = 123;  // F12: not offered, set in the file by hand
  d.LoadFromSettings(s);
  EXPECT_EQ(d.FireKeys[1]->currentText(), "Unknown (Code: 123)");
  Settings out = s;
  d.ApplyMiscConfiguration(out);
  EXPECT_EQ(out.KEYJOYFIRE2, 123);
}

}  // namespace
