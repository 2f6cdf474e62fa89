#include "frontend/qt/main_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLockFile>
#include <QMenuBar>
#include <QToolButton>
#include <filesystem>
#include <fstream>

#include "cli_support.h"
#include "frontend/qt/frame_view.h"
#include "qt_test_app.h"

namespace {

namespace fs = std::filesystem;

// A start folder with the default subfolders and, when present, the ROMs.
class StartDir {
 public:
  StartDir() {
    path_ = fs::temp_directory_path() / ("pellucidore-window-" + std::to_string(::getpid()) + "-" +
                                         std::to_string(counter_++));
    fs::remove_all(path_);
    for (const char* sub : {"DISKS", "SNAPSHOTS", "STILLS", "PRINTS", "PROFILES", "CAPTURES"})
      fs::create_directories(path_ / sub);
    if (HaveRoms()) fs::create_directory_symlink(RomDir(), path_ / "ROMS");
  }
  ~StartDir() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  static inline int counter_ = 0;
  fs::path path_;
};

// Key events as the platform delivers them: through the application.
void Key(QWidget* w, QEvent::Type type, int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
  QKeyEvent event(type, key, mods);
  QApplication::sendEvent(w, &event);
}
void Press(QWidget* w, int key, Qt::KeyboardModifiers mods = Qt::NoModifier) { Key(w, QEvent::KeyPress, key, mods); }
void Release(QWidget* w, int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
  Key(w, QEvent::KeyRelease, key, mods);
}

class MainWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    dir_ = std::make_unique<StartDir>();
    form_ = std::make_unique<MainWindow>(dir_->path());
    form_->show();
    QApplication::setActiveWindow(form_.get());
    form_->activateWindow();
    ProcessEventsUntil([&] { return form_->isActiveWindow(); }, 2000);
  }
  void TearDown() override {
    form_.reset();
    dir_.reset();
  }
  std::unique_ptr<StartDir> dir_;
  std::unique_ptr<MainWindow> form_;
};

std::vector<std::string> ActionTexts(const QList<QAction*>& actions) {
  std::vector<std::string> texts;
  for (QAction* a : actions)
    if (!a->isSeparator()) texts.push_back(a->text().toStdString());
  return texts;
}

QMenu* Submenu(QMenu* menu, const char* title) {
  for (QAction* a : menu->actions())
    if (a->text() == title) return a->menu();
  return nullptr;
}

TEST_F(MainWindowTest, CaptionsAndHints) {
  EXPECT_EQ(form_->windowTitle(), "Pellucidore 1.1");
  EXPECT_EQ(form_->ToolButton1->toolTip(), "Pause (F10)");
  EXPECT_EQ(form_->ToolButton2->toolTip(), "Reset (Alt+F9)");
  EXPECT_EQ(form_->ToolButton8->toolTip(), "Half Size");
  EXPECT_EQ(form_->ToolButton9->toolTip(), "Full Size");
  EXPECT_EQ(form_->ToolButton7->toolTip(), "Debugger");
  EXPECT_TRUE(form_->ToolButton15->isCheckable());
  EXPECT_TRUE(form_->ToolButton16->isCheckable());
  EXPECT_TRUE(form_->ToolButton7->isCheckable());

  std::vector<std::string> top;
  std::map<std::string, std::vector<std::string>> items;
  for (QAction* a : form_->menuBar()->actions()) {
    top.push_back(a->text().toStdString());
    items[a->text().toStdString()] = ActionTexts(a->menu()->actions());
  }
  EXPECT_EQ(top, (std::vector<std::string>{"File", "Machine", "View", "Tape", "Options", "Profiles", "Tools", "Help"}));
  EXPECT_EQ(items["File"], (std::vector<std::string>{"Floppy A:", "Floppy B:", "Load SnapShot", "Save Snapshot",
                                                     "Quick Snapshots", "Recent", "Autorun Disks", "Exit"}));
  EXPECT_EQ(items["Machine"], (std::vector<std::string>{"CPC 464", "CPC 664", "CPC 6128", "CPC 6128 + 4 MB"}));
  EXPECT_EQ(items["View"], (std::vector<std::string>{"1x", "2x", "3x", "4x", "Fit", "Integer Scaling"}));
  EXPECT_EQ(items["Options"], (std::vector<std::string>{"CPC Configuration", "Misc Settings", "FullScreen (F11)",
                                                        "Keyboard: Positional", "Keyboard: Symbolic (Alt+F1)"}));
  EXPECT_EQ(items["Profiles"],
            (std::vector<std::string>{"Create New Profile", "Load Profile", "Current: Default.pfl"}));
  EXPECT_EQ(items["Tools"], (std::vector<std::string>{"Create New Disk", "Keyboard Mapper", "AutoType", "Run Script..."}));
  EXPECT_EQ(items["Help"], (std::vector<std::string>{"Help", "HotKeys", "About Pellucidore"}));
  QMenu* file = form_->menuBar()->actions()[0]->menu();
  EXPECT_EQ(ActionTexts(Submenu(file, "Floppy A:")->actions()),
            (std::vector<std::string>{"Load", "Eject", "Write Protected"}));

  EXPECT_EQ(ActionTexts(form_->popupMenu->actions()),
            (std::vector<std::string>{"FullScreen (F11)", "Show Toolbar", "File", "Tape", "Options", "Tools", "Profiles"}));
  EXPECT_EQ(ActionTexts(Submenu(form_->popupMenu, "Options")->actions()),
            (std::vector<std::string>{"CPC Configuration", "Misc Settings"}));
  EXPECT_EQ(ActionTexts(Submenu(form_->popupMenu, "Tools")->actions())[1], "KeyBoard Mapper");
  EXPECT_EQ(ActionTexts(Submenu(form_->popupMenu, "Profiles")->actions())[0], "Create new Profile");
}

TEST_F(MainWindowTest, F10PausesAndResumesWithoutOpeningTheMenu) {
  form_->StartEmulation();
  Press(form_.get(), Qt::Key_F10);
  Release(form_.get(), Qt::Key_F10);
  EXPECT_FALSE(form_->EmulationRunning());
  EXPECT_EQ(form_->ToolButton1->toolTip(), "Resume");
  const uint32_t pc = form_->machine().Z80.PC;
  QApplication::processEvents();
  EXPECT_EQ(form_->machine().Z80.PC, pc) << "paused machine moved";

  // Alt+F10 resumes and still leaves the menu bar alone.
  Press(form_.get(), Qt::Key_Alt, Qt::AltModifier);
  Press(form_.get(), Qt::Key_F10, Qt::AltModifier);
  Release(form_.get(), Qt::Key_F10, Qt::AltModifier);
  Release(form_.get(), Qt::Key_Alt);
  EXPECT_TRUE(form_->EmulationRunning());
  EXPECT_EQ(form_->ToolButton1->toolTip(), "Pause");
  EXPECT_EQ(form_->menuBar()->activeAction(), nullptr);
  EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
}

TEST_F(MainWindowTest, ResetOnF9ReleaseOnlyWithAlt) {
  Machine& m = form_->machine();
  m.Memory.BaseRam[0x8000] = 0x5A;
  Press(form_.get(), Qt::Key_F9);
  Release(form_.get(), Qt::Key_F9);
  EXPECT_EQ(m.Memory.BaseRam[0x8000], 0x5A) << "F9 alone must not reset";

  Press(form_.get(), Qt::Key_Alt, Qt::AltModifier);
  Press(form_.get(), Qt::Key_F9, Qt::AltModifier);
  EXPECT_EQ(m.Memory.BaseRam[0x8000], 0x5A) << "reset happens on release";
  Release(form_.get(), Qt::Key_F9, Qt::AltModifier);
  Release(form_.get(), Qt::Key_Alt);
  EXPECT_EQ(m.Memory.BaseRam[0x8000], 0);
  EXPECT_EQ(m.Z80.PC, 0);
}

TEST_F(MainWindowTest, LetterKeyHoldsItsMatrixBit) {
  const KeyMap map = DefaultKeyMap();
  const KeyMapEntry* entry = KeyMapLookup(map, 'A');
  ASSERT_NE(entry, nullptr);
  auto& line = form_->machine().Keyboard.Matrix[entry->Line];
  Press(form_.get(), Qt::Key_A);
  EXPECT_EQ(line.load() & (1 << entry->Bit), 0);
  Release(form_.get(), Qt::Key_A);
  EXPECT_NE(line.load() & (1 << entry->Bit), 0);
}

// Zoom works with sharp and smooth scaling alike.
TEST_F(MainWindowTest, ZoomKeysNeedAlt) {
  Settings& s = form_->settings();
  Press(form_.get(), Qt::Key_Plus, Qt::KeypadModifier);
  EXPECT_EQ(s.ZOOM, 0) << "without Alt the key is the CPC's";
  Press(form_.get(), Qt::Key_Alt, Qt::AltModifier);
  Press(form_.get(), Qt::Key_Plus, Qt::AltModifier | Qt::KeypadModifier);
  EXPECT_EQ(s.ZOOM, 5) << "the sharp path zooms too";
  s.DIRECTXSTRETCH = true;
  for (int i = 0; i < 100; ++i) Press(form_.get(), Qt::Key_Plus, Qt::AltModifier | Qt::KeypadModifier);
  EXPECT_EQ(s.ZOOM, 380);
  for (int i = 0; i < 100; ++i) Press(form_.get(), Qt::Key_Left, Qt::AltModifier);
  EXPECT_EQ(s.ZOOMXOFF, 380);
  for (int i = 0; i < 100; ++i) Press(form_.get(), Qt::Key_Minus, Qt::AltModifier | Qt::KeypadModifier);
  EXPECT_EQ(s.ZOOM, 0);
  EXPECT_EQ(s.ZOOMXOFF, 0) << "zooming out pulls the pan back within the zoom";
  Release(form_.get(), Qt::Key_Alt);
}

TEST_F(MainWindowTest, WindowSizes) {
  form_->HalfSize();
  EXPECT_EQ(form_->ClientSize(), QSize(384, 336));
  form_->FullSize();
  EXPECT_EQ(form_->ClientSize(), QSize(768, 624));
  Press(form_.get(), Qt::Key_Alt, Qt::AltModifier);
  form_->SetClientSize(600, 400);
  Release(form_.get(), Qt::Key_Alt);
  EXPECT_EQ(form_->ClientSize(), QSize(600, 498));
}

TEST(MainWindowLifecycle, ClosingSavesAndTheNextStartRestoresBounds) {
  TestApp();
  StartDir dir;
  {
    MainWindow form(dir.path());
    form.show();
    form.setGeometry(120, 80, 500, 420);
    form.close();
  }
  ASSERT_TRUE(fs::exists(dir.path() / "Pellux.ini"));
  ASSERT_TRUE(fs::exists(dir.path() / "PROFILES/Default.pfl"));
  Settings saved = DefaultSettings(dir.path());
  LoadSettings(saved, MissingFile::Leave);
  EXPECT_EQ(saved.FORM1W, 500);
  EXPECT_EQ(saved.FORM1H, 420);
  MainWindow again(dir.path());
  EXPECT_EQ(again.geometry().size(), QSize(500, 420));
}

TEST(MainWindowLifecycle, ShowsTheStartUpScreenTheRunnerMakes) {
  if (!HaveRoms()) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
  TestApp();
  StartDir dir;
  MainWindow form(dir.path());
  form.show();
  // The runner's picture of the same machine after the same boot.
  const fs::path runnerShot = dir.path() / "runner.png";
  auto r = RunCommand(Cli() + " --start-dir '" + dir.path().string() + "' --seconds 2.5 --screenshot '" +
                      runnerShot.string() + "'");
  ASSERT_EQ(r.status, 0) << r.out;
  QImage expected(QString::fromStdString(runnerShot.string()));
  ASSERT_EQ(expected.size(), QSize(768, 576));

  // Differences allowed only where the blinking cursor is.
  auto differing = [&](const QImage& shown) {
    int count = 0;
    for (int y = 0; y < 576; ++y)
      for (int x = 0; x < 768; ++x)
        if (shown.pixel(x, y) != expected.pixel(x, y)) ++count;
    return count;
  };
  int lastDiff = -1;
  const bool same = ProcessEventsUntil(
      [&] {
        if (form.machine().FrameCounter.load() == 0 && lastDiff == -1) return false;
        lastDiff = differing(form.frameView()->Frame().convertToFormat(QImage::Format_RGB32));
        return lastDiff <= 16 * 16;
      },
      3300);
  const fs::path artifacts = fs::path(PELLUCIDORE_CLI_PATH).parent_path() / "test-artifacts";
  fs::create_directories(artifacts);
  form.grab().save(QString::fromStdString((artifacts / "main_window.png").string()));
  EXPECT_TRUE(same) << lastDiff << " pixels differ from the runner's frame";
}

TEST(MainWindowLifecycle, SecondInstanceIsRefused) {
  const fs::path gui = fs::path(PELLUCIDORE_CLI_PATH).parent_path() / "pellucidore";
  if (!fs::exists(gui)) GTEST_SKIP() << "no window build";
  StartDir dir;
  const fs::path runtime = dir.path() / "runtime";
  fs::create_directories(runtime);
  fs::permissions(runtime, fs::perms::owner_all);
  QLockFile held(QString::fromStdString((runtime / "pellucidore.lock").string()));
  ASSERT_TRUE(held.tryLock());
  auto r = RunCommand("cd '" + dir.path().string() + "' && XDG_RUNTIME_DIR='" + runtime.string() +
                      "' QT_QPA_PLATFORM=offscreen timeout 20 '" + gui.string() + "'");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("Pellucidore is already running!"), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists(dir.path() / "Pellux.ini")) << "a refused start must not touch the settings";
}

}  // namespace
