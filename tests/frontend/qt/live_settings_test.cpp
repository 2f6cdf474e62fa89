// Every control of the two configuration dialogs, applied through the
// window's menu: the running machine and the window follow at once (or the
// dialog says the setting waits), without a restart or a profile load.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QToolBar>
#include <QToolButton>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "cli_support.h"
#include "frontend/qt/machine_config_dialog.h"
#include "frontend/qt/settings_dialog.h"
#include "frontend/qt/drive_menu.h"
#include "frontend/qt/frame_view.h"
#include "frontend/qt/main_window.h"
#include "frontend/qt/rewind_control.h"
#include "frontend/qt/modal_helper.h"
#include "storage/new_images.h"
#include "storage/printer.h"
#include "frontend/qt/window_test_support.h"

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> FilesIn(const fs::path& dir) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) files.push_back(e.path());
  return files;
}

class LiveSettings : public ::testing::Test {
 public:  // the rows of the tables drive the fixture
  void SetUp() override {
    if (!HaveRoms()) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
    TestApp();
    setenv("SDL_AUDIODRIVER", "dummy", 1);  // sound and drive noises open without a sound card
    dir = fs::temp_directory_path() / ("pellucidore-live-" + std::to_string(::getpid()) + "-" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    for (const char* sub : {"PROFILES", "DISKS", "SNAPSHOTS", "STILLS", "PRINTS", "CAPTURES", "NEW"})
      fs::create_directories(dir / sub);
    std::ofstream(dir / "Pellux.ini") << "[PATHS]\nROMDIR=" << RomDir() << "/\nPFLDIR=" << (dir / "PROFILES").string()
                                      << "/\nSTILLSDIR=" << (dir / "STILLS").string() << "/\n";
    window = std::make_unique<MainWindow>(dir);
    window->TogglePause();  // the tests look at a machine standing still
  }
  void TearDown() override {
    window.reset();
    unsetenv("SDL_AUDIODRIVER");
    fs::remove_all(dir);
  }
  QAction* MenuAction(const QString& menu, const QString& item) { return MenuBarAction(*window, menu, item); }
  void Misc(const std::function<void(SettingsDialog*)>& edit) {
    WhenModal<SettingsDialog>([edit](SettingsDialog* d) {
      edit(d);
      d->ApplyButton->click();
    });
    MenuAction("Options", "Misc Settings")->trigger();
  }
  void Cpc(const std::function<void(MachineConfigDialog*)>& edit) {
    WhenModal<MachineConfigDialog>([edit](MachineConfigDialog* d) {
      edit(d);
      d->JustApplyButton->click();
    });
    MenuAction("Options", "CPC Configuration")->trigger();
  }
  // Picks a folder for one directory kind of the Misc dialog.
  static std::function<void(SettingsDialog*)> Folder(const char* kind, const fs::path& folder) {
    return [kind, folder](SettingsDialog* d) {
      d->ChooseDirectory = [folder](QWidget*, const QString&) { return QString::fromStdString(folder.string()); };
      d->DirectoryKind->setCurrentText(kind);
      d->ChangeButton->click();
    };
  }
  // The directory a file dialog opens in when action runs; the dialog is cancelled.
  static std::string DialogDirectory(const std::function<void()>& action) {
    std::string shown;
    WhenModal<QFileDialog>([&](QFileDialog* f) {
      shown = fs::weakly_canonical(f->directory().absolutePath().toStdString()).string();
      f->reject();
    });
    action();
    return shown;
  }
  Machine& m() { return window->machine(); }

  fs::path dir;
  std::unique_ptr<MainWindow> window;
};

struct Row {
  const char* control;
  std::function<void(LiveSettings&)> run;  // applies through the dialog and checks the effect
};

TEST_F(LiveSettings, MiscConfigurationTakesEffectOnApply) {
  const fs::path newDir = fs::weakly_canonical(dir / "NEW");
  const Row rows[] = {
      {"ROMS folder: the ROMs are read from it",
       [&](LiveSettings& t) {
         fs::create_directories(dir / "OTHERROMS");
         for (const char* rom : {"6128Low.ROM", "AMSDOS.ROM"}) fs::copy_file(RomDir() + "/" + rom, dir / "OTHERROMS" / rom);
         std::ofstream(dir / "OTHERROMS" / "6128BASIC.ROM", std::ios::binary) << std::string(16384, '\x5A');
         t.Misc(Folder("ROMS", dir / "OTHERROMS"));
         EXPECT_EQ(t.m().Memory.UpperRomImage[0][0], 0x5A);
       }},
      {"DISKS folder: the floppy dialog opens there",
       [&](LiveSettings& t) {
         t.Misc(Folder("DISKS", newDir));
         EXPECT_EQ(DialogDirectory([&] { t.window->drives()->Load(0); }), newDir.string());
       }},
      {"SNAPSHOTS folder: the snapshot dialog opens there",
       [&](LiveSettings& t) {
         t.Misc(Folder("SNAPSHOTS", newDir));
         EXPECT_EQ(DialogDirectory([&] { t.MenuAction("File", "Load SnapShot")->trigger(); }), newDir.string());
       }},
      {"PROFILES folder: Load Profile opens there",
       [&](LiveSettings& t) {
         t.Misc(Folder("PROFILES", newDir));
         EXPECT_EQ(DialogDirectory([&] { t.MenuAction("Profiles", "Load Profile")->trigger(); }), newDir.string());
       }},
      {"PARALLEL folder: the next printed document goes there",
       [&](LiveSettings& t) {
         t.Misc(Folder("PARALLEL", dir / "NEW" / "PRINTED"));
         fs::create_directories(dir / "NEW" / "PRINTED");
         t.Cpc([](MachineConfigDialog* d) { d->ParallelBox->setCurrentText("Print to BIN file"); });
         for (uint8_t c : {'x', 'A', 'B'}) PrinterWrite(t.m(), c);
         t.Cpc([](MachineConfigDialog* d) { d->ParallelBox->setCurrentText("Not Connected"); });  // closes the document
         EXPECT_EQ(FilesIn(dir / "NEW" / "PRINTED").size(), 1u);
         EXPECT_TRUE(FilesIn(dir / "PRINTS").empty());
       }},
      {"STILLS folder, PNG, half size: the next screenshot",
       [&](LiveSettings& t) {
         t.Misc([&](SettingsDialog* d) {
           Folder("STILLS", dir / "NEW" / "SHOTS")(d);
           d->Formats[3]->setChecked(true);
           d->SaveHalfSize->setChecked(true);
         });
         fs::create_directories(dir / "NEW" / "SHOTS");
         t.window->ToolButton4->click();
         const auto files = FilesIn(dir / "NEW" / "SHOTS");
         ASSERT_EQ(files.size(), 1u);
         EXPECT_EQ(files[0].extension(), ".png");
         EXPECT_EQ(QImage(QString::fromStdString(files[0].string())).width(), 384);
       }},
      {"JPEG quality: the next JPEG screenshot",
       [&](LiveSettings& t) {
         auto shoot = [&](int quality) {
           t.Misc([quality](SettingsDialog* d) {
             d->Formats[1]->setChecked(true);
             d->QualityBar->setValue(quality);
           });
           fs::remove_all(dir / "STILLS");
           fs::create_directories(dir / "STILLS");
           t.window->ToolButton4->click();
           const auto files = FilesIn(dir / "STILLS");
           return files.size() == 1 ? fs::file_size(files[0]) : 0;
         };
         const auto low = shoot(1), high = shoot(100);
         EXPECT_GT(low, 0u);
         EXPECT_GT(high, low);
       }},
      {"Name after the DSK: the next screenshot",
       [&](LiveSettings& t) {
         ASSERT_TRUE(WriteNewDsk(dir / "DISKS" / "mygame", NewDiskFormat::Data).Ok());
         fs::rename(dir / "DISKS" / "mygame.dsk", dir / "DISKS" / "MYGAME.DSK");
         t.window->drives()->ChooseFile = [&](int) { return QString::fromStdString((dir / "DISKS" / "MYGAME.DSK").string()); };
         t.window->drives()->Load(0);
         t.Misc([](SettingsDialog* d) { d->NameByDsk->setChecked(true); });
         t.window->ToolButton4->click();
         const auto files = FilesIn(dir / "STILLS");
         ASSERT_EQ(files.size(), 1u);
         EXPECT_EQ(files[0].filename().string().rfind("MYGAME (", 0), 0u) << files[0];
       }},
      {"Show a Save Dialog: the next screenshot asks",
       [&](LiveSettings& t) {
         t.Misc([](SettingsDialog* d) { d->SaveStillDialog->setChecked(true); });
         bool asked = false;
         WhenModal<QFileDialog>([&](QFileDialog* f) {
           asked = true;
           f->reject();
         });
         t.window->ToolButton4->click();
         EXPECT_TRUE(asked);
         EXPECT_TRUE(FilesIn(dir / "STILLS").empty());
       }},
      {"Consecutive stills and Every: the next series",
       [&](LiveSettings& t) {
         t.Misc([](SettingsDialog* d) {
           d->MaxStills->setValue(3);
           d->EveryFrame->setValue(2);
         });
         t.window->TogglePause();  // a series takes running frames
         t.window->StartEmulation();
         t.window->ToolButton10->click();
         ASSERT_TRUE(ProcessEventsUntil([&] { return FilesIn(dir / "STILLS").size() >= 3; }, 20000));
         ProcessEventsUntil([] { return false; }, 300);
         t.window->TogglePause();
         EXPECT_EQ(FilesIn(dir / "STILLS").size(), 3u);
       }},
      {"CAPTURES folder: the next recording",
       [&](LiveSettings& t) {
         t.Misc(Folder("CAPTURES", newDir));
         t.window->ToolButton16->click();
         t.window->ToolButton16->click();
         ASSERT_EQ(FilesIn(newDir).size(), 1u);
         EXPECT_EQ(FilesIn(newDir)[0].extension(), ".WAV");
       }},
      {"Always display a Save Dialog: the next recording asks",
       [&](LiveSettings& t) {
         t.Misc([](SettingsDialog* d) { d->VideoDialog->setChecked(true); });
         bool asked = false;
         WhenModal<QFileDialog>([&](QFileDialog* f) {
           asked = true;
           f->reject();
         });
         t.window->ToolButton16->click();
         EXPECT_TRUE(asked);
       }},
      {"Show Toolbars in FullScreen Mode: now, in full screen",
       [&](LiveSettings& t) {
         t.window->ToggleFullScreen();
         t.Misc([](SettingsDialog* d) { d->Toolbar->setChecked(false); });
         EXPECT_FALSE(t.window->menuBar()->isVisible());
         t.Misc([](SettingsDialog* d) { d->Toolbar->setChecked(true); });
         EXPECT_TRUE(t.window->menuBar()->isVisible());
         EXPECT_TRUE(t.window->showToolbarAction->isChecked());
         t.window->ToggleFullScreen();
       }},
      {"Floppy Drive makes noise: the noises start",
       [&](LiveSettings& t) {
         ASSERT_FALSE(t.window->driveSounds().IsOpen());
         t.Misc([](SettingsDialog* d) { d->FddSound->setChecked(true); });
         EXPECT_TRUE(t.window->driveSounds().IsOpen()) << t.window->driveSounds().Error();
         t.Misc([](SettingsDialog* d) { d->FddSound->setChecked(false); });
         EXPECT_FALSE(t.window->driveSounds().IsOpen());
       }},
      {"Print job idle time: the default printer's jobs end after it",
       [&](LiveSettings& t) {
         t.Misc([](SettingsDialog* d) {
           EXPECT_TRUE(d->DefaultPrinterLabel->text().startsWith("Default printer: "));
           d->PrinterIdle->setValue(9);
         });
         EXPECT_EQ(t.m().Printer.IdleLimitPeriods, 9u * 50);
       }},
      {"Rewind and its memory: the ring follows at once",
       [&](LiveSettings& t) {
         t.Misc([](SettingsDialog* d) {
           d->Rewind->setChecked(false);
           d->RewindMemory->setValue(16);
         });
         EXPECT_FALSE(t.window->rewind().Ring().Enabled());
         EXPECT_EQ(t.window->rewind().Ring().Budget(), size_t{16} << 20);
         t.Misc([](SettingsDialog* d) { d->Rewind->setChecked(true); });
         EXPECT_TRUE(t.window->rewind().Ring().Enabled());
       }},
      {"Each Hardware Profile remembers...: the dialog says it waits",
       [&](LiveSettings& t) {
         t.Misc([](SettingsDialog* d) {
           d->IndividualSet->setChecked(true);
           ASSERT_TRUE(d->IndividualSetNote);
           EXPECT_TRUE(d->IndividualSetNote->text().contains("next start"));
         });
         EXPECT_TRUE(t.window->settings().INDIVIDUALSET);
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.control);
    TearDown();
    SetUp();
    row.run(*this);
  }
}

TEST_F(LiveSettings, CpcConfigurationTakesEffectOnApply) {
  const Row rows[] = {
      {"Brand", [](LiveSettings& t) {
         t.Cpc([](MachineConfigDialog* d) { d->BrandBox->setCurrentText("SCHNEIDER"); });
         EXPECT_EQ(t.m().Ppi.Brand, 5);
       }},
      {"CRTC Type", [](LiveSettings& t) {
         t.Cpc([](MachineConfigDialog* d) { d->CrtcBox->setCurrentIndex(2); });
         EXPECT_EQ(t.m().Crtc.Type, 2u);
       }},
      {"Monitor Type", [](LiveSettings& t) {
         t.Cpc([](MachineConfigDialog* d) { d->GreenMonitor->setChecked(true); });
         EXPECT_EQ(t.m().Video.Monitor, 2);
       }},
      {"Double ScanLine", [](LiveSettings& t) {
         t.Cpc([](MachineConfigDialog* d) { d->DoubleScanLine->setChecked(false); });
         EXPECT_FALSE(t.m().Video.DoubleScanLine);
       }},
      {"Keep Aspect Ratio", [](LiveSettings& t) {
         t.Cpc([](MachineConfigDialog* d) { d->KeepAspectRatio->setChecked(true); });
         EXPECT_TRUE(t.window->settings().KEEPASPECTRATIO);  // read by the next resize
       }},
      {"Smooth DirectX Stretch", [](LiveSettings& t) {
         t.Cpc([](MachineConfigDialog* d) { d->DirectXStretch->setChecked(true); });
         EXPECT_TRUE(t.window->frameView()->Smooth());
       }},
      {"CPC Speed", [](LiveSettings& t) {
         t.Cpc([](MachineConfigDialog* d) { d->SpeedBar->setValue(5); });
         EXPECT_EQ(t.m().MicrosecondsPerTick, 10000u);
       }},
      {"Z80 @", [](LiveSettings& t) {
         t.Cpc([](MachineConfigDialog* d) { d->Z80Bar->setValue(3); });
         EXPECT_EQ(t.m().Z80Multiplier, 3u);
       }},
      {"No Z80 Cycles", [](LiveSettings& t) {
         t.Cpc([](MachineConfigDialog* d) { d->NoZ80Cycles->setChecked(true); });
         EXPECT_FALSE(t.m().Z80.CountCycles);
       }},
      {"RAM", [](LiveSettings& t) {
         t.Cpc([](MachineConfigDialog* d) { d->RamBar->setValue(1); });
         EXPECT_EQ(t.m().Memory.RamBankLimit, 7);
       }},
      {"4MB RAM expansion", [](LiveSettings& t) {
         t.Cpc([](MachineConfigDialog* d) { d->Ram4Mb->setChecked(true); });
         EXPECT_TRUE(t.m().Memory.Ram4MbEnabled);
       }},
      {"ROM slots", [](LiveSettings& t) {
         t.Cpc([](MachineConfigDialog* d) { d->RomBoxes[1 + 3]->setCurrentText("AMSDOS.ROM"); });
         EXPECT_TRUE(t.m().Memory.UpperRomPresent[3]);
       }},
      {"Sound format", [](LiveSettings& t) {
         t.Cpc([](MachineConfigDialog* d) {
           d->SoundEnabled->setChecked(true);
           d->Stereo->setChecked(true);
           d->Rate44100->setChecked(true);
           d->Bits16->setChecked(true);
         });
         EXPECT_TRUE(t.window->settings().SOUNDENABLED);  // the device opened
         EXPECT_TRUE(t.m().Psg.SamplingEnabled);
         EXPECT_EQ(t.m().Psg.SampleRate, 44100u);
         EXPECT_EQ(t.m().Psg.Channels, 2u);
         EXPECT_EQ(t.m().Psg.BitsPerSample, 16u);
       }},
      {"Parallel Port", [](LiveSettings& t) {
         t.Cpc([](MachineConfigDialog* d) { d->ParallelBox->setCurrentText("Print to RTF file"); });
         EXPECT_EQ(t.m().Printer.PrinterMode, 2u);
       }},
      {"Mouse on Joystick Port", [](LiveSettings& t) {
         t.Cpc([](MachineConfigDialog* d) { d->MouseOnJoystick->setChecked(true); });
         EXPECT_TRUE(t.window->settings().MOUSEEN);  // read by the next mouse event
       }},
      {"Light Pen", [](LiveSettings& t) {
         t.Cpc([](MachineConfigDialog* d) { d->LightPen->setChecked(true); });
         EXPECT_TRUE(t.m().Crtc.LightPenEnabled);
       }},
      {"SymbiFace II, DIP switch, hard disk", [](LiveSettings& t) {
         ASSERT_TRUE(WriteNewHdd(t.dir / "DISKS" / "master", 1).Ok());
         t.Cpc([&t](MachineConfigDialog* d) {
           d->SymbifaceEnabled->setChecked(true);
           d->DipSwitches[2]->setChecked(false);
           d->OpenHddDialog = [&t](QWidget*, const QString&) {
             return QString::fromStdString((t.dir / "DISKS" / "master.img").string());
           };
           d->Hdd0Button->click();
         });
         EXPECT_TRUE(t.m().Memory.SymbifaceEnabled);
         EXPECT_FALSE(t.m().Memory.SymbifaceDipSwitch[2]);
         EXPECT_TRUE(t.m().Symbiface.Drive[0].Present);
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.control);
    TearDown();
    SetUp();
    row.run(*this);
  }
}

}  // namespace
