#include "frontend/qt/capture_ui.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QToolButton>
#include <QWidget>
#include <filesystem>
#include <fstream>

#include "core/emulation_thread.h"
#include "core/machine.h"
#include "qt_test_app.h"

namespace {

namespace fs = std::filesystem;

constexpr int kF6 = 0x75, kF7 = 0x76, kF8 = 0x77;

class CaptureUi : public testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    dir_ = fs::temp_directory_path() / ("pellucidore-capture-ui-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "STILLS");
    fs::create_directories(dir_ / "CAPTURES");
    settings_.STILLSDIR = (dir_ / "STILLS").string() + "/";
    settings_.CAPTUREDIR = (dir_ / "CAPTURES").string() + "/";
    settings_.SAMPLERATE = 44100;
    settings_.CHANNELS = 2;
    settings_.BITSPERSAMPLE = 16;
    MachineConfig config;
    config.RomDir = "/nonexistent";
    machine_ = CreateMachine(config);
    window_ = std::make_unique<QWidget>();
    auto button = [&](bool checkable) {
      auto* b = new QToolButton(window_.get());
      b->setCheckable(checkable);
      QPixmap pixmap(8, 8);
      pixmap.fill(Qt::red);
      b->setIcon(QIcon(pixmap));
      return b;
    };
    buttons_ = {button(false), button(false), button(true), button(true), button(true)};
    controller_ = std::make_unique<CaptureController>(window_.get(), *machine_, settings_, buttons_);
    controller_->SaveDialog = [this](const QString& title, const QString& file, const QString& filter, int* index) {
      dialogTitle_ = title;
      dialogFile_ = file;
      dialogFilter_ = filter;
      dialogIndex_ = *index;
      if (answerIndex_ >= 0) *index = answerIndex_;
      return answer_;
    };
    controller_->ChooseCodec = [this]() -> std::optional<AviOptions> {
      ++codecAsked_;
      return codec_;
    };
  }
  void TearDown() override {
    controller_.reset();
    window_.reset();
    fs::remove_all(dir_);
  }
  std::vector<fs::path> Files(const char* sub) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(dir_ / sub)) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
  }
  std::vector<bool> Enabled() {
    return {buttons_.Still->isEnabled(), buttons_.Series->isEnabled(), buttons_.Avi->isEnabled(),
            buttons_.Wav->isEnabled(), buttons_.Debugger->isEnabled()};
  }
  void RunPeriods(int n) {
    struct Hooks : PeriodHooks {
      CaptureController* c;
      void Stills(Machine& m) override { c->StillsPeriod(m); }
      void Capture(Machine& m) override { c->CapturePeriod(m); }
    } hooks;
    hooks.c = controller_.get();
    for (int i = 0; i < n; ++i) RunPeriod(*machine_, hooks);
  }

  fs::path dir_;
  Settings settings_;
  std::unique_ptr<Machine> machine_;
  std::unique_ptr<QWidget> window_;
  CaptureButtons buttons_;
  std::unique_ptr<CaptureController> controller_;
  QString dialogTitle_, dialogFile_, dialogFilter_, answer_;
  int dialogIndex_ = -1, answerIndex_ = -1;
  std::optional<AviOptions> codec_;
  int codecAsked_ = 0;
};

const std::vector<bool> kAllOn{true, true, true, true, true};

}  // namespace

TEST_F(CaptureUi, SeriesOfFiveEveryTwoFramesWritesFiveFilesAndReenablesTheButtons) {
  settings_.MAXSTILLS = 5;
  settings_.EVERYFRAME = 2;
  settings_.SAVETYPE = 3;
  std::vector<int> written;
  QObject::connect(controller_.get(), &CaptureController::SeriesWritten, [&](int files) { written.push_back(files); });

  bool running = false;
  controller_->EmulationRunning = [&] { return running; };
  controller_->SeriesClicked();
  EXPECT_EQ(Enabled(), kAllOn) << "no series while paused";
  running = true;

  controller_->HotKey(kF6);
  EXPECT_EQ(Enabled(), (std::vector<bool>{false, false, false, false, true}));
  controller_->HotKey(kF7);  // AVI button is off: F7 does nothing
  EXPECT_EQ(controller_->recording().Active(), Recording::Kind::None);
  EXPECT_EQ(codecAsked_, 0);

  RunPeriods(9);
  EXPECT_TRUE(Files("STILLS").empty());
  RunPeriods(1);
  ASSERT_TRUE(ProcessEventsUntil([&] { return buttons_.Series->isEnabled(); }, 10000));
  EXPECT_EQ(Enabled(), kAllOn);
  EXPECT_EQ(written, std::vector<int>{5});
  const std::vector<fs::path> files = Files("STILLS");
  ASSERT_EQ(files.size(), 5u);
  for (int i = 1; i <= 5; ++i) {
    const std::string name = files[i - 1].filename().string();
    EXPECT_EQ(name.rfind("CPC ScreenShot (", 0), 0u) << name;
    EXPECT_EQ(name.substr(name.size() - 7), ") " + std::to_string(i) + ".png") << name;
  }
}

TEST_F(CaptureUi, ScreenshotDialogTypeChangesTheFormat) {
  settings_.SAVESTILLDIALOG = true;
  settings_.SAVETYPE = 3;
  answer_ = QString::fromStdString((dir_ / "STILLS" / "picture.png").string());
  answerIndex_ = 0;  // BMP chosen in the dialog
  controller_->ScreenshotClicked();
  EXPECT_EQ(dialogTitle_, "Save Screenshot");
  EXPECT_EQ(dialogFilter_, "BMP file (*.bmp);;JPEG file (*.jpg);;GIF file (*.gif);;PNG file (*.png)");
  EXPECT_EQ(dialogIndex_, 3) << "the dialog opens on the current format";
  EXPECT_TRUE(dialogFile_.startsWith(QString::fromStdString(settings_.STILLSDIR + "CPC ScreenShot (")));
  const fs::path written = dir_ / "STILLS" / "picture.png.bmp";
  ASSERT_TRUE(fs::exists(written));
  std::ifstream in(written, std::ios::binary);
  char magic[2] = {};
  in.read(magic, 2);
  EXPECT_EQ(std::string(magic, 2), "BM");

  answer_.clear();  // cancelled: nothing written
  controller_->ScreenshotClicked();
  EXPECT_EQ(Files("STILLS").size(), 1u);

  settings_.SAVESTILLDIALOG = false;
  settings_.SAVEHALFSIZE = true;
  settings_.SAVETYPE = 1;
  controller_->ScreenshotClicked();
  const std::vector<fs::path> files = Files("STILLS");
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].extension(), ".jpg");
}

TEST_F(CaptureUi, CancelledAviStartLeavesNoFileAndTheButtonUp) {
  codec_.reset();
  // As the window wires it: the click toggles the check, then the controller decides.
  QObject::connect(buttons_.Avi, &QToolButton::clicked, [this] { controller_->AviClicked(); });
  buttons_.Avi->click();
  EXPECT_EQ(codecAsked_, 1);
  EXPECT_EQ(controller_->recording().Active(), Recording::Kind::None);
  EXPECT_FALSE(buttons_.Avi->isChecked());
  EXPECT_EQ(Enabled(), kAllOn);
  EXPECT_TRUE(Files("CAPTURES").empty());

  // A cancelled save dialog stops before the codec is asked.
  settings_.VIDEODIALOG = true;
  answer_.clear();
  controller_->AviClicked();
  EXPECT_EQ(dialogTitle_, "Save AVI as...");
  EXPECT_EQ(dialogFilter_, "AVI files (*.avi)");
  EXPECT_EQ(codecAsked_, 1);
  EXPECT_TRUE(Files("CAPTURES").empty());
}

TEST_F(CaptureUi, AviRecordingLocksControlsBlinksAndWritesEveryPeriod) {
  codec_ = AviOptions{};
  controller_->HotKey(kF7);
  ASSERT_EQ(controller_->recording().Active(), Recording::Kind::Avi);
  EXPECT_TRUE(buttons_.Avi->isChecked());
  EXPECT_EQ(Enabled(), (std::vector<bool>{false, false, true, false, false}));
  controller_->HotKey(kF8);  // WAV button off
  EXPECT_EQ(controller_->recording().Active(), Recording::Kind::Avi);

  controller_->TimerTick();
  EXPECT_TRUE(buttons_.Avi->icon().isNull());
  controller_->TimerTick();
  EXPECT_FALSE(buttons_.Avi->icon().isNull());
  controller_->TimerTick();

  RunPeriods(3);
  EXPECT_EQ(controller_->recording().Avi().VideoFrames(), 3u);
  EXPECT_EQ(controller_->recording().Avi().AudioSamples(), 3u * 882);
  controller_->HotKey(kF7);
  EXPECT_EQ(controller_->recording().Active(), Recording::Kind::None);
  EXPECT_FALSE(buttons_.Avi->isChecked());
  EXPECT_FALSE(buttons_.Avi->icon().isNull()) << "the icon is back after a blink-off tick";
  EXPECT_EQ(Enabled(), kAllOn);
  const std::vector<fs::path> files = Files("CAPTURES");
  ASSERT_EQ(files.size(), 1u);
  const std::string name = files[0].filename().string();
  EXPECT_EQ(name.rfind("CPCAVI (", 0), 0u) << name;
  EXPECT_EQ(files[0].extension(), ".AVI");
  EXPECT_GT(fs::file_size(files[0]), 3u * 768 * 576);
}

TEST_F(CaptureUi, WavRecordingLocksTheAviButtonAndHoldsEveryPeriodsSamples) {
  buttons_.Debugger->setEnabled(false);  // stays off afterwards
  controller_->WavClicked();
  ASSERT_EQ(controller_->recording().Active(), Recording::Kind::Wav);
  EXPECT_EQ(codecAsked_, 0);
  EXPECT_TRUE(buttons_.Wav->isChecked());
  EXPECT_EQ(Enabled(), (std::vector<bool>{false, false, false, true, false}));
  RunPeriods(4);
  controller_->HotKey(kF8);
  EXPECT_EQ(controller_->recording().Active(), Recording::Kind::None);
  EXPECT_EQ(Enabled(), (std::vector<bool>{true, true, true, true, false}));
  const std::vector<fs::path> files = Files("CAPTURES");
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].extension(), ".WAV");
  EXPECT_EQ(fs::file_size(files[0]), 44u + 4 * 882 * 4);
}

#include <QKeyEvent>

#include "cli_support.h"
#include "frontend/qt/main_window.h"

// The window's wiring: F5 and the series button reach the controller, and
// the emulation thread's hooks feed the series.
TEST(CaptureWindow, F5AndTheSeriesButtonWriteStills) {
  TestApp();
  const fs::path dir = fs::temp_directory_path() / ("pellucidore-capture-window-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  for (const char* sub : {"DISKS", "SNAPSHOTS", "STILLS", "PRINTS", "PROFILES", "CAPTURES"})
    fs::create_directories(dir / sub);
  if (HaveRoms()) fs::create_directory_symlink(RomDir(), dir / "ROMS");
  {
    MainWindow form(dir);
    form.show();
    QApplication::setActiveWindow(&form);
    ProcessEventsUntil([&] { return form.isActiveWindow(); }, 2000);
    EXPECT_TRUE(form.ToolButton4->isEnabled());
    QKeyEvent press(QEvent::KeyPress, Qt::Key_F5, Qt::NoModifier);
    QApplication::sendEvent(&form, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_F5, Qt::NoModifier);
    QApplication::sendEvent(&form, &release);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "STILLS"), fs::directory_iterator()), 1);

    form.StartEmulation();
    form.ToolButton10->click();
    EXPECT_FALSE(form.ToolButton10->isEnabled());
    EXPECT_FALSE(form.ToolButton15->isEnabled());
    ASSERT_TRUE(ProcessEventsUntil([&] { return form.ToolButton10->isEnabled(); }, 20000));
    EXPECT_TRUE(form.ToolButton4->isEnabled());
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "STILLS"), fs::directory_iterator()),
              1 + form.settings().MAXSTILLS);
  }
  fs::remove_all(dir);
}
