// The window's AutoType typing into a running machine: capitals stay
// capitals wherever the press falls in the firmware's keyboard scan, and
// Stop or a new text leave no key held.
#include <gtest/gtest.h>

#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <filesystem>
#include <fstream>

#include "cli_support.h"
#include "devices/ppi.h"
#include "devices/screen_text.h"
#include "frontend/qt/autotype_dialog.h"
#include "frontend/qt/main_window.h"
#include "frontend/qt/qt_test_app.h"

namespace fs = std::filesystem;

namespace {

class AutoTypeWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveRoms()) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
    TestApp();
    dir = fs::temp_directory_path() / ("pellucidore-autotype-" + std::to_string(::getpid()) + "-" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir / "PROFILES");
    std::ofstream(dir / "Pellux.ini") << "[PATHS]\nROMDIR=" << RomDir() << "/\n";
    window = std::make_unique<MainWindow>(dir);
    window->TogglePause();  // the test runs the machine itself
    box = window->findChild<AutoTypeDialog*>();
    ASSERT_TRUE(box);
  }
  void TearDown() override {
    window.reset();
    fs::remove_all(dir);
  }
  std::vector<std::string> Held() {
    std::vector<std::string> held;
    for (uint32_t line = 0; line < 10; ++line)
      for (uint32_t bit = 0; bit < 8; ++bit)
        if (!(KeyboardLine(window->machine().Keyboard, line) & (1 << bit)))
          held.push_back(std::to_string(line) + "," + std::to_string(bit));
    return held;
  }
  void Tick() { QMetaObject::invokeMethod(&window->autoTypeTimer(), "timeout"); }

  fs::path dir;
  std::unique_ptr<MainWindow> window;
  AutoTypeDialog* box = nullptr;
};

TEST_F(AutoTypeWindow, TwoHundredCapitalsStayCapitals) {
  Machine& m = window->machine();
  for (int i = 0; i < 150; ++i) EmulateTick(m);  // boot to BASIC
  // Each typing step is followed by 3 periods of 19985 us, so a character
  // takes 102 us longer than 6 frames: over 200 characters the presses
  // walk once through a whole frame, the keyboard scan included.
  m.MicrosecondsPerTick = 19985;
  QObject context;
  QObject::connect(&window->autoTypeTimer(), &QTimer::timeout, &context, [&] {
    for (int i = 0; i < 3; ++i) EmulateTick(m);
  });
  std::string capitals;
  for (int i = 0; i < 200; ++i) capitals += static_cast<char>('A' + (i * 7) % 26);
  box->Memo1->setPlainText(QString::fromStdString(capitals));
  window->autoTypeTimer().setInterval(0);  // machine time paces it here, not the wall clock
  box->AutoTypeButton->click();
  ASSERT_TRUE(ProcessEventsUntil([&] { return !window->autoTypeTimer().isActive(); }, 120000));
  for (int i = 0; i < 10; ++i) EmulateTick(m);

  // The typed line wraps over five screen lines.
  std::string screen, shown;
  for (const std::string& line : ScreenText(m)) {
    const std::string row = line.substr(0, 40);
    screen += row + std::string(40 - row.size(), ' ');
    shown += line + "\n";
  }
  EXPECT_NE(screen.find(capitals), std::string::npos) << shown;
}

TEST_F(AutoTypeWindow, StopAndNewTextLeaveNoKeyHeld) {
  using Keys = std::vector<std::string>;
  // Stop while a capital is held: its key and SHIFT come up.
  box->Memo1->setPlainText("AB");
  box->AutoTypeButton->click();
  EXPECT_EQ(Held(), Keys{"2,5"});  // SHIFT a tick ahead of the first capital
  Tick();
  ASSERT_EQ(Held(), (Keys{"2,5", "8,5"}));
  box->StopButton->click();
  EXPECT_EQ(Held(), Keys{});

  // "a" typed, SHIFT already down for the capital after it.
  auto typeUpToTheCapital = [&] {
    box->Memo1->setPlainText("aB");
    box->AutoTypeButton->click();
    Tick();
    Tick();
    ASSERT_EQ(Held(), Keys{"2,5"});
  };
  // Stop between characters.
  typeUpToTheCapital();
  box->StopButton->click();
  EXPECT_EQ(Held(), Keys{});

  // A new text whose next character is no capital: SHIFT comes up.
  typeUpToTheCapital();
  box->Memo1->setPlainText("abc");
  box->AutoTypeButton->click();
  EXPECT_EQ(Held(), Keys{});
  Tick();
  EXPECT_EQ(Held(), Keys{"6,6"});  // b, alone
  box->StopButton->click();
}

}  // namespace
