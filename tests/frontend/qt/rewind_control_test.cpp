// The rewind key in the window, on the offscreen platform.
#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QStatusBar>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <vector>

#include "cli_support.h"
#include "core/machine.h"
#include "frontend/qt/frame_view.h"
#include "frontend/qt/main_window.h"
#include "frontend/qt/rewind_control.h"
#include "qt_test_app.h"
#include "storage/snapshot.h"

namespace {

namespace fs = std::filesystem;

class RewindKey : public testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    static int counter = 0;
    dir_ = fs::temp_directory_path() / ("pellucidore-rewind-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
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
  void Send(QEvent::Type type, int key, Qt::KeyboardModifiers mods) {
    QKeyEvent event(type, key, mods);
    QApplication::sendEvent(form_.get(), &event);
  }

  fs::path dir_;
  std::unique_ptr<MainWindow> form_;
};

// Paused, with states kept by hand: one press restores the state before the
// newest and shows its picture; with nothing older the bar says so.
TEST_F(RewindKey, ShiftF4StepsBackAndShowsThePicture) {
  form_->TogglePause();
  Machine& m = form_->machine();
  RewindRing& ring = form_->rewind().Ring();
  auto keep = [&](uint16_t pc, uint8_t colour) {
    m.Z80.PC = pc;
    m.Memory.BaseRam[0x8000] = colour;
    std::memset(m.Video.FrameBitmap, colour, sizeof m.Video.FrameBitmap);
    ring.Capture(m);
  };
  keep(0x1111, 3);
  form_->frameView()->Publish(&m.Video.FrameBitmap[0][0]);
  const QImage first = form_->frameView()->Frame();
  keep(0x2222, 9);
  m.Z80.PC = 0x3333;
  std::memset(m.Video.FrameBitmap, 20, sizeof m.Video.FrameBitmap);
  form_->frameView()->Publish(&m.Video.FrameBitmap[0][0]);
  ASSERT_NE(form_->frameView()->Frame(), first);

  Send(QEvent::KeyPress, Qt::Key_F4, Qt::ShiftModifier);
  EXPECT_TRUE(form_->rewind().Held());
  EXPECT_EQ(m.Z80.PC, 0x1111);
  EXPECT_EQ(m.Memory.BaseRam[0x8000], 3);
  EXPECT_EQ(form_->frameView()->Frame(), first) << "the picture of that second is not shown";
  EXPECT_TRUE(form_->statusBar()->currentMessage().contains("Rewound 1 s"));
  Send(QEvent::KeyRelease, Qt::Key_F4, Qt::ShiftModifier);
  EXPECT_FALSE(form_->rewind().Held());

  Send(QEvent::KeyPress, Qt::Key_F4, Qt::ShiftModifier);
  Send(QEvent::KeyRelease, Qt::Key_F4, Qt::ShiftModifier);
  EXPECT_EQ(m.Z80.PC, 0x1111);
  EXPECT_TRUE(form_->statusBar()->currentMessage().contains("nothing older kept")) << form_->statusBar()->currentMessage().toStdString();

  // Plain F4 is the debugger's step, not a rewind; with rewind off the key
  // does nothing to the machine.
  keep(0x4444, 1);
  keep(0x5555, 2);
  Send(QEvent::KeyPress, Qt::Key_F4, Qt::NoModifier);
  Send(QEvent::KeyRelease, Qt::Key_F4, Qt::NoModifier);
  EXPECT_EQ(ring.Count(), 3u);
  Settings off = form_->settings();
  off.REWIND = false;
  form_->rewind().Apply(off);
  Send(QEvent::KeyPress, Qt::Key_F4, Qt::ShiftModifier);
  Send(QEvent::KeyRelease, Qt::Key_F4, Qt::ShiftModifier);
  EXPECT_EQ(m.Z80.PC, 0x5555);
  EXPECT_TRUE(form_->statusBar()->currentMessage().contains("Rewind is off"));
}

// Running: the ring fills a state a second; holding the key keeps the
// machine waiting and goes on stepping, releasing lets it run again.
TEST_F(RewindKey, HoldingStepsOnAndReleasingRunsOn) {
  if (!HaveRoms()) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
  form_->StartEmulation();
  RewindRing& ring = form_->rewind().Ring();
  auto count = [&] {
    form_->PauseRuleBegin();
    const size_t n = ring.Count();
    form_->PauseRuleEnd();
    return n;
  };
  EXPECT_EQ(count(), 0u);
  // Three states take three seconds of a throttled machine.
  ASSERT_TRUE(ProcessEventsUntil([&] { return count() >= 3; }, 10000));

  Send(QEvent::KeyPress, Qt::Key_F4, Qt::ShiftModifier);
  const size_t afterFirst = ring.Count();  // the thread waits while the key is held
  EXPECT_TRUE(ProcessEventsUntil([&] { return ring.Count() == 1; }, 3000)) << "holding the key did not step on";
  EXPECT_LT(ring.Count(), afterFirst);
  // Back as far as it goes, the machine stands still while the key is held.
  const std::vector<uint8_t> held = EncodeSnapshot(form_->machine());
  ProcessEventsUntil([] { return false; }, 300);
  EXPECT_EQ(EncodeSnapshot(form_->machine()), held) << "the machine ran while the key was held";
  // The next step finds nothing older; on a busy machine its timer may be late.
  EXPECT_TRUE(ProcessEventsUntil(
      [&] { return form_->statusBar()->currentMessage().contains("nothing older kept"); }, 3000));
  Send(QEvent::KeyPress, Qt::Key_F10, Qt::ShiftModifier);  // no pause while rewinding
  EXPECT_TRUE(form_->EmulationRunning());

  Send(QEvent::KeyRelease, Qt::Key_F4, Qt::ShiftModifier);
  EXPECT_FALSE(form_->rewind().Held());
  EXPECT_TRUE(ProcessEventsUntil([&] { return count() >= 2; }, 3000)) << "the machine did not run on";
}

}  // namespace
