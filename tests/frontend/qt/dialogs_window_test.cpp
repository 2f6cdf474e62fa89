// The dialogs as the main window runs them: menu command, pause rule, the
// running machine taking the new values, the profile file, and AutoType
// typing into the machine.
#include <gtest/gtest.h>

#include <QFileDialog>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QSlider>
#include <QComboBox>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli_support.h"
#include "devices/screen_text.h"
#include "frontend/qt/autotype_dialog.h"
#include "frontend/qt/machine_config_dialog.h"
#include "frontend/qt/settings_dialog.h"
#include "frontend/qt/key_mapper_dialog.h"
#include "frontend/qt/main_window.h"
#include "frontend/qt/new_disk_dialog.h"
#include "frontend/qt/modal_helper.h"

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class DialogsWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveRoms()) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
    TestApp();
    dir = fs::temp_directory_path() / ("pellucidore-dialogs-" + std::to_string(::getpid()) + "-" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir / "PROFILES");
    std::ofstream(dir / "Pellux.ini") << "[PATHS]\nROMDIR=" << RomDir() << "/\nPFLDIR=" << (dir / "PROFILES").string()
                                      << "/\n";
    window = std::make_unique<MainWindow>(dir);
  }
  void TearDown() override {
    window.reset();
    fs::remove_all(dir);
  }

  QAction* MenuAction(const QString& menu, const QString& item) {
    for (QAction* top : window->menuBar()->actions())
      if (top->text() == menu && top->menu())
        for (QAction* a : top->menu()->actions())
          if (a->text() == item) return a;
    return nullptr;
  }
  fs::path ProfileFile() { return dir / "PROFILES" / "Default.pfl"; }

  fs::path dir;
  std::unique_ptr<MainWindow> window;
};

TEST_F(DialogsWindowTest, JustApplyChangesTheMachineNotTheProfile) {
  const std::string profileBefore = ReadFile(ProfileFile());
  ASSERT_FALSE(profileBefore.empty());
  QAction* item = MenuAction("Options", "CPC Configuration");
  ASSERT_TRUE(item && item->isEnabled());

  WhenModal<MachineConfigDialog>([](MachineConfigDialog* d) {
    d->SpeedBar->setValue(5);
    d->CrtcBox->setCurrentIndex(1);
    d->RamBar->setValue(9);
    d->JustApplyButton->click();
  });
  item->trigger();
  Machine& m = window->machine();
  EXPECT_EQ(m.MicrosecondsPerTick, 10000u);
  EXPECT_EQ(m.Crtc.Type, 1u);
  EXPECT_EQ(m.Memory.RamBankLimit, -1);
  EXPECT_EQ(window->settings().CPUSPEED, 10000);
  EXPECT_FALSE(window->settings().ProfileCommitted);
  EXPECT_EQ(ReadFile(ProfileFile()), profileBefore);

  WhenModal<MachineConfigDialog>([](MachineConfigDialog* d) {
    EXPECT_EQ(d->SpeedBar->value(), 5);  // shows what was applied
    d->ApplySaveButton->click();
  });
  item->trigger();
  EXPECT_TRUE(window->settings().ProfileCommitted);
  const std::string saved = ReadFile(ProfileFile());
  EXPECT_NE(saved.find("CPUSPEED=10000"), std::string::npos) << saved;
  EXPECT_NE(saved.find("CRTCTYPE=1"), std::string::npos) << saved;
  EXPECT_NE(saved.find("RAM=-1"), std::string::npos) << saved;
}

TEST_F(DialogsWindowTest, CancelChangesNothing) {
  const std::string profileBefore = ReadFile(ProfileFile());
  WhenModal<MachineConfigDialog>([](MachineConfigDialog* d) {
    d->SpeedBar->setValue(50);
    d->BrandBox->setCurrentText("ISP");
    d->CancelButton->click();
  });
  MenuAction("Options", "CPC Configuration")->trigger();
  EXPECT_EQ(window->machine().MicrosecondsPerTick, 20000u);
  EXPECT_EQ(window->machine().Ppi.Brand, 7);
  EXPECT_EQ(window->settings().CPUSPEED, 20000);
  EXPECT_EQ(window->settings().VENDOR, 14);
  EXPECT_EQ(ReadFile(ProfileFile()), profileBefore);

  const std::string iniBefore = ReadFile(dir / "Pellux.ini");
  const std::string snapDir = window->settings().SNAPDIR;
  window->findChild<SettingsDialog*>()->ChooseDirectory = [](QWidget*, const QString&) { return QString("/x"); };
  WhenModal<SettingsDialog>([](SettingsDialog* d) {
    d->DirectoryKind->setCurrentText("SNAPSHOTS");
    d->ChangeButton->click();
    d->CancelButton->click();
  });
  MenuAction("Options", "Misc Settings")->trigger();
  EXPECT_EQ(window->settings().SNAPDIR, snapDir);
  EXPECT_EQ(ReadFile(dir / "Pellux.ini"), iniBefore);
}

TEST_F(DialogsWindowTest, MiscApplySavesTheSettingsFile) {
  WhenModal<SettingsDialog>([](SettingsDialog* d) {
    d->Formats[3]->setChecked(true);
    d->EveryFrame->setValue(4);
    d->ApplyButton->click();
  });
  MenuAction("Options", "Misc Settings")->trigger();
  EXPECT_EQ(window->settings().SAVETYPE, 3);
  const std::string ini = ReadFile(dir / "Pellux.ini");
  EXPECT_NE(ini.find("SAVETYPE=3"), std::string::npos) << ini;
  EXPECT_NE(ini.find("EVERYFRAME=4"), std::string::npos) << ini;
}

TEST_F(DialogsWindowTest, SpeedZeroFreezesTheMachine) {
  WhenModal<MachineConfigDialog>([](MachineConfigDialog* d) {
    d->SpeedBar->setValue(0);
    d->JustApplyButton->click();
  });
  MenuAction("Options", "CPC Configuration")->trigger();
  Machine& m = window->machine();
  ASSERT_EQ(m.MicrosecondsPerTick, 0u);
  // The thread may run on; what it runs is nothing.
  window->TogglePause();
  const uint16_t pc = m.Z80.PC;
  const uint32_t counted = m.MicrosecondCounter.load();
  for (int i = 0; i < 10; ++i) EmulateTick(m);
  EXPECT_EQ(m.Z80.PC, pc);
  EXPECT_EQ(m.MicrosecondCounter.load(), counted);
}

TEST_F(DialogsWindowTest, PrinterPortStartsOverOnlyForANewMode) {
  fs::create_directories(dir / "PRINTS");
  Machine& m = window->machine();
  WhenModal<MachineConfigDialog>([](MachineConfigDialog* d) {
    d->ParallelBox->setCurrentText("Print to BIN file");
    d->JustApplyButton->click();
  });
  MenuAction("Options", "CPC Configuration")->trigger();
  ASSERT_EQ(m.Printer.PrinterMode, 4u);
  window->TogglePause();
  for (uint8_t c : {'x', 'A'}) PrinterWrite(m, c);  // the first byte of a run is dropped

  // Another change, same mode: the document goes on.
  WhenModal<MachineConfigDialog>([](MachineConfigDialog* d) {
    d->SpeedBar->setValue(20);
    d->JustApplyButton->click();
  });
  MenuAction("Options", "CPC Configuration")->trigger();
  EXPECT_EQ(m.MicrosecondsPerTick, 40000u);
  PrinterWrite(m, 'B');
  window.reset();  // closes the document

  std::vector<std::string> documents;
  for (const auto& e : fs::directory_iterator(dir / "PRINTS")) documents.push_back(ReadFile(e.path()));
  EXPECT_EQ(documents, std::vector<std::string>{"AB"});
}

TEST_F(DialogsWindowTest, CreateProfileThenConfigurationEvenAfterCancel) {
  bool configShown = false;
  WhenModal<QFileDialog>([&](QFileDialog* f) {
    WhenModal<MachineConfigDialog>([&](MachineConfigDialog* d) {
      configShown = true;
      EXPECT_EQ(d->windowTitle(), "CPC Configuration/Default.pfl");
      d->CancelButton->click();
    });
    f->reject();
  });
  MenuAction("Profiles", "Create New Profile")->trigger();
  EXPECT_TRUE(configShown);
  EXPECT_EQ(window->settings().LASTPROFILE, "/Default.pfl");
}

// Records the matrix keys held after each tick of the window's typing timer.
class TickRecorder {
 public:
  explicit TickRecorder(MainWindow& w) : w_(w) {
    QObject::connect(&w.autoTypeTimer(), &QTimer::timeout, &context_, [this] {
      std::vector<std::string> held;
      for (uint32_t line = 0; line < 10; ++line)
        for (uint32_t bit = 0; bit < 8; ++bit)
          if (!(KeyboardLine(w_.machine().Keyboard, line) & (1 << bit)))
            held.push_back(std::to_string(line) + "," + std::to_string(bit));
      ticks.push_back(held);
    });
  }
  std::vector<std::vector<std::string>> ticks;

 private:
  MainWindow& w_;
  QObject context_;
};

TEST_F(DialogsWindowTest, AutoTypeWindowTypesThroughTheTimer) {
  window->TogglePause();  // the matrix alone is watched
  MenuAction("Tools", "AutoType")->trigger();
  auto* box = window->findChild<AutoTypeDialog*>();
  ASSERT_TRUE(box);
  EXPECT_TRUE(box->isVisible());
  EXPECT_EQ(box->windowTitle(), "AutoType Utility");

  TickRecorder recorder(*window);
  box->Memo1->setPlainText("ab");
  box->AutoTypeButton->click();
  ASSERT_TRUE(window->autoTypeTimer().isActive());
  ASSERT_TRUE(ProcessEventsUntil([&] { return !window->autoTypeTimer().isActive(); }, 5000));
  using Keys = std::vector<std::string>;
  EXPECT_EQ(recorder.ticks, (std::vector<Keys>{{"8,5"}, {}, {"6,6"}, {}, {"2,2"}, {}, {"2,7"}, {}}));

  recorder.ticks.clear();
  box->Memo1->setPlainText("A");
  box->AutoTypeButton->click();
  ASSERT_TRUE(ProcessEventsUntil([&] { return !window->autoTypeTimer().isActive(); }, 5000));
  ASSERT_FALSE(recorder.ticks.empty());
  EXPECT_EQ(recorder.ticks[0], (Keys{"2,5", "8,5"}));  // SHIFT with the key
  EXPECT_EQ(recorder.ticks[1], Keys{});

  // An empty editor starts nothing; Close hides the window only.
  box->Memo1->clear();
  box->AutoTypeButton->click();
  EXPECT_FALSE(window->autoTypeTimer().isActive());
  box->Memo1->setPlainText("abc");
  box->AutoTypeButton->click();
  box->CloseButton->click();
  EXPECT_FALSE(box->isVisible());
  EXPECT_TRUE(window->autoTypeTimer().isActive());
  box->StopButton->click();
  EXPECT_FALSE(window->autoTypeTimer().isActive());
  EXPECT_EQ(window->autoType().AutoTypePosition, 0u);
}

TEST_F(DialogsWindowTest, AutoTypedBasicLineRuns) {
  // The test runs the machine itself, 60 ms of machine time after each
  // typing step, so every press is seen however busy the host is.
  window->TogglePause();
  Machine& m = window->machine();
  for (int i = 0; i < 150; ++i) EmulateTick(m);  // boot to BASIC
  QObject context;
  QObject::connect(&window->autoTypeTimer(), &QTimer::timeout, &context, [&] {
    for (int i = 0; i < 3; ++i) EmulateTick(m);
  });
  MenuAction("Tools", "AutoType")->trigger();
  auto* box = window->findChild<AutoTypeDialog*>();
  box->Memo1->setPlainText("PRINT 6*7");
  box->AutoTypeButton->click();
  ASSERT_TRUE(ProcessEventsUntil([&] { return !window->autoTypeTimer().isActive(); }, 10000));
  for (int i = 0; i < 25; ++i) EmulateTick(m);
  const std::vector<std::string> screen = ScreenText(m);
  std::string all;
  for (const std::string& line : screen) all += line + "\n";
  EXPECT_NE(std::find(screen.begin(), screen.end(), "PRINT 6*7"), screen.end()) << all;
  EXPECT_NE(std::find(screen.begin(), screen.end(), " 42"), screen.end()) << all;
}

TEST_F(DialogsWindowTest, KeyboardMapperEditsTheLiveMap) {
  QAction* item = MenuAction("Tools", "Keyboard Mapper");
  ASSERT_TRUE(item && item->isEnabled());
  WhenModal<KeyMapperDialog>([](KeyMapperDialog* d) {
    for (int i = 0; i < kCpcKeyButtons; ++i)
      if (std::string(kCpcKeyLayout[i].Name) == "COPY") d->SelectCpcKey(i);
    d->Button1->click();
    d->KeyMessage(0x70);  // F1
    d->Button3->click();
  });
  item->trigger();
  EXPECT_EQ(*KeyMapLookup(window->keyMap(), 0x70), (KeyMapEntry{1, 1}));
  // A later configuration apply reopens the devices but keeps the edit.
  WhenModal<MachineConfigDialog>([](MachineConfigDialog* d) { d->JustApplyButton->click(); });
  MenuAction("Options", "CPC Configuration")->trigger();
  EXPECT_EQ(*KeyMapLookup(window->keyMap(), 0x70), (KeyMapEntry{1, 1}));
}

TEST_F(DialogsWindowTest, CreateNewDiskRunsPausedAndSavesInTheDiskFolder) {
  QAction* item = MenuAction("Tools", "Create New Disk");
  ASSERT_TRUE(item && item->isEnabled());
  window->settings().DISKDIR = dir.string();
  window->StartEmulation();
  Machine& m = window->machine();
  ASSERT_TRUE(ProcessEventsUntil([&] { return m.FrameCounter.load() > 2; }, 10000));

  bool parked = false;
  QString startDir;
  WhenModal<NewDiskDialog>([&](NewDiskDialog* d) {
    const uint32_t frames = m.FrameCounter.load();
    ProcessEventsUntil([] { return false; }, 150);
    parked = m.FrameCounter.load() == frames;
    d->SaveDialog = [&](QWidget*, const QString& start, const QString&) {
      startDir = start;
      return QString::fromStdString((dir / "blank").string());
    };
    d->SaveDskButton->click();
    d->CloseButton->click();
  });
  item->trigger();
  EXPECT_TRUE(parked) << "the machine ran behind the dialog";
  EXPECT_EQ(startDir.toStdString(), dir.string());
  EXPECT_EQ(fs::file_size(dir / "blank.dsk"), 194816u);
  const uint32_t after = m.FrameCounter.load();
  EXPECT_TRUE(ProcessEventsUntil([&] { return m.FrameCounter.load() > after; }, 10000)) << "not resumed";
}

}  // namespace
