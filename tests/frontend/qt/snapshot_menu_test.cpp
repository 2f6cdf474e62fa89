// The File menu's snapshot items driven as a user would: the dialogs are
// answered from a timer while they run modally.
#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QKeyEvent>
#include <QStatusBar>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include "cli_support.h"
#include "core/machine.h"
#include "frontend/qt/main_window.h"
#include "frontend/qt/snapshot_menu.h"
#include "qt_test_app.h"
#include "storage/snapshot.h"

namespace {

namespace fs = std::filesystem;

class SnapshotMenu : public testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    static int counter = 0;
    dir_ = fs::temp_directory_path() /
           ("pellucidore-snapmenu-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    fs::remove_all(dir_);
    for (const char* sub : {"DISKS", "SNAPSHOTS", "STILLS", "PRINTS", "PROFILES", "CAPTURES"})
      fs::create_directories(dir_ / sub);
    if (HaveRoms()) fs::create_directory_symlink(RomDir(), dir_ / "ROMS");
    form_ = std::make_unique<MainWindow>(dir_);
    form_->show();
  }
  void TearDown() override {
    form_.reset();
    fs::remove_all(dir_);
  }

  QAction* FileItem(const QString& text) {
    for (QAction* top : form_->menuBar()->actions())
      if (top->text() == "File")
        for (QAction* a : top->menu()->actions())
          if (a->text() == text) return a;
    return nullptr;
  }

  uint32_t Frames() { return form_->machine().FrameCounter.load(); }

  // True when no period runs for a while.
  bool Suspended() {
    const uint32_t before = Frames();
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    return Frames() == before;
  }

  fs::path dir_;
  std::unique_ptr<MainWindow> form_;
};

// Answers the next modal widget of type T: inspect once, then answer until
// it is no longer the modal widget, in case a dialog ignores an early try.
// Gives up after five seconds, closing whatever is modal, so a test cannot
// hang.
template <class T>
void AnswerNext(std::function<void(T*)> inspect, std::function<void(T*)> answer, bool* answered) {
  auto* timer = new QTimer;
  auto* ticks = new int(0);
  auto* target = new QPointer<T>;
  QObject::connect(timer, &QTimer::timeout, [=] {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* w = qobject_cast<T*>(modal); w && (!*answered || w == target->data())) {
      if (!*answered) inspect(w);
      *answered = true;
      *target = w;
      answer(w);
      if (++*ticks < 250) return;
    } else if (!*answered && ++*ticks < 250) {
      return;
    }
    if (*ticks >= 250 && modal) {
      ADD_FAILURE() << "gave up on a " << modal->metaObject()->className();
      modal->close();
    }
    timer->stop();
    timer->deleteLater();
    delete ticks;
    delete target;
  });
  timer->start(20);
}

// Types the name and presses the button. (selectFile leaves the name field
// alone while it has the focus.)
void ChooseFile(QFileDialog* d, const fs::path& file) {
  auto* name = d->findChild<QLineEdit*>("fileNameEdit");
  ASSERT_NE(name, nullptr);
  name->setText(QString::fromStdString(file.string()));
  static_cast<QDialog*>(d)->accept();
}

std::vector<uint8_t> ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string CanonicalDir(const QString& dir) { return fs::weakly_canonical(dir.toStdString()).string(); }

TEST_F(SnapshotMenu, SaveAndLoadThroughTheDialogsWithTheMachinePaused) {
  if (!HaveRoms()) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
  QAction* save = FileItem("Save Snapshot");
  QAction* load = FileItem("Load SnapShot");
  ASSERT_TRUE(save && load);
  EXPECT_TRUE(save->isEnabled());
  EXPECT_TRUE(load->isEnabled());
  form_->StartEmulation();
  ASSERT_TRUE(ProcessEventsUntil([&] { return Frames() > 5; }, 5000));

  bool answered = false, paused = false;
  AnswerNext<QFileDialog>(
      [&](QFileDialog* d) {
        EXPECT_EQ(d->windowTitle(), "Save Snapshot");
        EXPECT_EQ(CanonicalDir(d->directory().absolutePath()), CanonicalDir(QString::fromStdString(form_->settings().SNAPDIR)));
        EXPECT_EQ(d->nameFilters(), (QStringList{"SNA Files (*.sna)", "SNA version 1, 64 KB (*.sna)"}));
        paused = Suspended();
      },
      [&](QFileDialog* d) { ChooseFile(d, dir_ / "SNAPSHOTS" / "GAME.SNA"); }, &answered);
  save->trigger();
  ASSERT_TRUE(answered);
  EXPECT_TRUE(paused) << "the machine ran while the save dialog was open";
  EXPECT_EQ(ReadBytes(dir_ / "SNAPSHOTS" / "GAME.SNA.sna").at(0x10), 3) << "version 3 by default";
  EXPECT_FALSE(fs::exists(dir_ / "SNAPSHOTS" / "GAME.SNA"));

  // The second file type writes version 1 for older tools.
  bool answeredOld = false;
  AnswerNext<QFileDialog>([](QFileDialog*) {},
                          [&](QFileDialog* d) {
                            d->selectNameFilter("SNA version 1, 64 KB (*.sna)");
                            ChooseFile(d, dir_ / "SNAPSHOTS" / "old.sna");
                          },
                          &answeredOld);
  save->trigger();
  ASSERT_TRUE(answeredOld);
  EXPECT_EQ(fs::file_size(dir_ / "SNAPSHOTS" / "old.sna"), kSnapshotSize);
  const uint32_t after = Frames();
  EXPECT_TRUE(ProcessEventsUntil([&] { return Frames() > after + 2; }, 5000)) << "not resumed";

  // A snapshot that parks the CPU in DI / JR $ with a border of its own.
  auto source = CreateMachine({.RomDir = "/nonexistent-rom-dir"});
  source->Memory.BaseRam[0x4000] = 0xF3;
  source->Memory.BaseRam[0x4001] = 0x18;
  source->Memory.BaseRam[0x4002] = 0xFE;
  source->Z80.PC = 0x4000;
  source->GateArray.BorderColour = 0x0B;
  const fs::path parked = dir_ / "SNAPSHOTS" / "parked.sna";
  ASSERT_TRUE(SaveSnapshot(*source, parked).Ok);

  answered = paused = false;
  AnswerNext<QFileDialog>(
      [&](QFileDialog* d) {
        EXPECT_EQ(d->windowTitle(), "Load Snapshot");
        EXPECT_EQ(CanonicalDir(d->directory().absolutePath()), CanonicalDir(QString::fromStdString(form_->settings().SNAPDIR)));
        paused = Suspended();
      },
      [&](QFileDialog* d) { ChooseFile(d, parked); }, &answered);
  load->trigger();
  ASSERT_TRUE(answered);
  EXPECT_TRUE(paused) << "the machine ran while the load dialog was open";
  const uint32_t loadedAt = Frames();
  ASSERT_TRUE(ProcessEventsUntil([&] { return Frames() > loadedAt + 2; }, 5000)) << "not resumed";
  form_->TogglePause();
  EXPECT_EQ(form_->machine().Z80.PC, 0x4001);
  EXPECT_EQ(form_->machine().GateArray.BorderColour, 0x0B);
}

TEST_F(SnapshotMenu, RefusedFileIsNamedAndChangesNothing) {
  const fs::path shortFile = dir_ / "SNAPSHOTS" / "short.sna";
  std::ofstream(shortFile, std::ios::binary) << std::string(4000, 'x');
  const std::vector<uint8_t> before = EncodeSnapshot(form_->machine());

  bool chose = false, told = false;
  QString message;
  AnswerNext<QFileDialog>([](QFileDialog*) {}, [&](QFileDialog* d) { ChooseFile(d, shortFile); }, &chose);
  // The message box follows the dialog within the same click.
  AnswerNext<QMessageBox>([&](QMessageBox* box) { message = box->text(); },
                          [](QMessageBox* box) { box->accept(); }, &told);
  FileItem("Load SnapShot")->trigger();
  ASSERT_TRUE(chose);
  ASSERT_TRUE(told) << "no message about the refused file";
  EXPECT_TRUE(message.contains(QString::fromStdString(shortFile.string()))) << message.toStdString();
  EXPECT_EQ(EncodeSnapshot(form_->machine()), before);
}

void SendKey(QWidget* w, int key, Qt::KeyboardModifiers mods) {
  QKeyEvent press(QEvent::KeyPress, key, mods);
  QApplication::sendEvent(w, &press);
  QKeyEvent release(QEvent::KeyRelease, key, mods);
  QApplication::sendEvent(w, &release);
}

// Shift+F5..F8 save the numbered slots of the profile, Ctrl+F5..F8 load
// them, the menu does the same, and the status bar tells which; the capture
// keys under them are not triggered.
TEST_F(SnapshotMenu, QuickSlotsRoundTrip) {
  form_->TogglePause();
  Machine& m = form_->machine();
  m.Z80.PC = 0x1234;
  m.GateArray.BorderColour = 7;
  m.Memory.ExpansionRam[5] = 0x42;

  SendKey(form_.get(), Qt::Key_F5, Qt::ShiftModifier);
  const fs::path slot1 = dir_ / "SNAPSHOTS" / "Default-slot1.sna";
  ASSERT_TRUE(fs::exists(slot1));
  EXPECT_EQ(QuickSlotPath(form_->settings(), 1), fs::path(form_->settings().SNAPDIR) / "Default-slot1.sna");
  EXPECT_TRUE(form_->statusBar()->currentMessage().contains("saved to slot 1")) << form_->statusBar()->currentMessage().toStdString();
  EXPECT_TRUE(fs::is_empty(dir_ / "STILLS")) << "Shift+F5 also took a screenshot";

  m.Z80.PC = 0;
  m.GateArray.BorderColour = 3;
  m.Memory.ExpansionRam[5] = 0;
  SendKey(form_.get(), Qt::Key_F5, Qt::ControlModifier);
  EXPECT_EQ(m.Z80.PC, 0x1234);
  EXPECT_EQ(m.GateArray.BorderColour, 7);
  EXPECT_EQ(m.Memory.ExpansionRam[5], 0x42) << "the second 64 KB was not restored";
  EXPECT_TRUE(form_->statusBar()->currentMessage().contains("loaded from slot 1"));

  SendKey(form_.get(), Qt::Key_F6, Qt::ControlModifier);
  EXPECT_TRUE(form_->statusBar()->currentMessage().contains("slot 2 is empty"));
  EXPECT_EQ(m.Z80.PC, 0x1234);

  // The menu: slot 4 saved and loaded.
  QMenu* quick = nullptr;
  for (QAction* top : form_->menuBar()->actions())
    if (top->text() == "File")
      for (QAction* a : top->menu()->actions())
        if (a->text() == "Quick Snapshots") quick = a->menu();
  ASSERT_NE(quick, nullptr);
  auto item = [&](const QString& text) -> QAction* {
    for (QAction* a : quick->actions())
      if (a->text() == text) return a;
    return nullptr;
  };
  ASSERT_TRUE(item("Save Slot 4\tShift+F8") && item("Load Slot 4\tCtrl+F8"));
  item("Save Slot 4\tShift+F8")->trigger();
  EXPECT_TRUE(fs::exists(dir_ / "SNAPSHOTS" / "Default-slot4.sna"));
  m.Z80.PC = 0x9999;
  item("Load Slot 4\tCtrl+F8")->trigger();
  EXPECT_EQ(m.Z80.PC, 0x1234);
  form_->TogglePause();
}

}  // namespace
