// Tools -> Run Script... in the window, on the offscreen platform: the script
// types into the running machine and takes its picture from the emulation
// thread; a broken script is refused with its line.
#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "cli_support.h"
#include "devices/screen_text.h"
#include "frontend/qt/main_window.h"
#include "frontend/qt/script_control.h"
#include "qt_test_app.h"

namespace {

namespace fs = std::filesystem;

class RunScript : public testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    dir_ = fs::temp_directory_path() / ("pellucidore-script-" + std::to_string(::getpid()));
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
  fs::path Write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name) << text;
    return dir_ / name;
  }

  fs::path dir_;
  std::unique_ptr<MainWindow> form_;
};

TEST_F(RunScript, TypesAndTakesItsPictureWhileTheWindowRuns) {
  if (!HaveRoms()) GTEST_SKIP() << "CPC firmware not found in " << RomDir();
  bool inMenu = false;
  for (QAction* a : form_->menuBar()->actions())
    if (a->menu() && a->text() == "Tools")
      for (QAction* item : a->menu()->actions()) inMenu |= item->text() == "Run Script...";
  EXPECT_TRUE(inMenu);

  const fs::path script = Write("t.csl",
                                "wait 2000000\nkey_output 'PRINT 6*7\\(RET)'\nwait 500000\n"
                                "screenshot_name 'answer'\nscreenshot\n");
  ASSERT_EQ(form_->script().Run(script).toStdString(), "");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (form_->script().Running() && std::chrono::steady_clock::now() < deadline) {
    QApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_FALSE(form_->script().Running()) << "the script did not end";
  EXPECT_TRUE(fs::is_regular_file(dir_ / "STILLS" / "answer.png"));
  form_->TogglePause();
  bool found = false;
  for (const std::string& line : ScreenText(form_->machine())) found |= line.find("42") != std::string::npos;
  EXPECT_TRUE(found) << "PRINT 6*7 was not typed";
}

TEST_F(RunScript, ABrokenScriptIsRefusedWithItsLine) {
  const fs::path script = Write("bad.csl", "wait 1000\nfly_away\n");
  EXPECT_EQ(form_->script().Run(script).toStdString(), "bad.csl:2: unknown command 'fly_away'");
  EXPECT_FALSE(form_->script().Running());
}

}  // namespace
