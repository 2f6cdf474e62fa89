// The window's first five minutes: an empty settings folder with the
// built-in firmware, files from the command line and from a drop, autorun,
// the Machine menu, the window's size and position, and the status bar.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QStatusBar>
#include <QToolButton>
#include <QUrl>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "cli_support.h"
#include "devices/screen_text.h"
#include "frontend/qt/file_opener.h"
#include "frontend/qt/frame_view.h"
#include "frontend/qt/main_window.h"
#include "qt_test_app.h"

namespace {

namespace fs = std::filesystem;

class EmptyFolder {
 public:
  EmptyFolder() {
    path_ = fs::temp_directory_path() / ("pellucidore-first-" + std::to_string(::getpid()) + "-" +
                                         std::to_string(counter_++));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~EmptyFolder() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  static inline int counter_ = 0;
  fs::path path_;
};

fs::path TestDisks() { return fs::path(SharedDir()) / "testdata/dsk"; }

bool ScreenShows(MainWindow& form, const std::string& text) {
  form.PauseRuleBegin();
  bool found = false;
  for (const std::string& line : ScreenText(form.machine())) found = found || line.find(text) != std::string::npos;
  form.PauseRuleEnd();
  return found;
}

QAction* FindAction(QWidget* w, const QString& text) {
  for (QAction* a : w->findChildren<QAction*>())
    if (a->text() == text) return a;
  return nullptr;
}

TEST(FirstStart, AnEmptyFolderGetsTheBuiltInFirmwareModelsAndATwiceSizedWindow) {
  TestApp();
  EmptyFolder dir;
  MainWindow form(dir.path());
  form.show();
  EXPECT_EQ(form.findChild<QLabel*>("romNotice"), nullptr);
  EXPECT_NE(form.statusBar()->currentMessage().indexOf("Built-in firmware used for 6128Low.ROM, 6128BASIC.ROM, AMSDOS.ROM"),
            -1)
      << form.statusBar()->currentMessage().toStdString();
  for (const char* profile : {"Default.pfl", "CPC464.pfl", "CPC664.pfl", "CPC6128.pfl", "CPC6128-4MB.pfl"})
    EXPECT_TRUE(fs::is_regular_file(dir.path() / "PROFILES" / profile)) << profile;
  // Twice the picture when the screen has room for it, else once.
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  const int scale =
      screen.width() >= 768 + 16 && screen.height() >= 576 + 40 + form.menuBar()->sizeHint().height() + 48 ? 2 : 1;
  EXPECT_EQ(form.ClientSize(), QSize(384 * scale, 288 * scale + 48)) << screen.width() << "x" << screen.height();

  form.StartEmulation();
  EXPECT_TRUE(ProcessEventsUntil([&] { return ScreenShows(form, "Ready"); }, 30000));
  EXPECT_TRUE(ScreenShows(form, "BASIC 1.1"));
}

TEST(FirstStart, ANameFoundNowhereStillGetsTheMissingRomScreen) {
  TestApp();
  EmptyFolder dir;
  fs::create_directories(dir.path() / "PROFILES");
  std::ofstream(dir.path() / "PROFILES/Default.pfl") << "[ROMS]\nROMLow=NOSUCHLOW.ROM\nROM000=NOBASIC.ROM\n";
  MainWindow form(dir.path());
  auto* notice = form.findChild<QLabel*>("romNotice");
  ASSERT_NE(notice, nullptr);
  EXPECT_NE(notice->text().indexOf("NOSUCHLOW.ROM"), -1);
  EXPECT_NE(notice->text().indexOf("NOBASIC.ROM"), -1);
  // AMSDOS is built in, so it is not asked for.
  EXPECT_EQ(notice->text().indexOf("AMSDOS.ROM"), -1) << notice->text().toStdString();
}

TEST(OpenFiles, ADiskFromTheCommandLineIsInsertedAndRun) {
  if (!fs::exists(TestDisks() / "hello.dsk")) GTEST_SKIP() << "test disks not found in " << TestDisks();
  TestApp();
  EmptyFolder dir;
  const fs::path prints = dir.path() / "PRINTS";
  fs::create_directories(dir.path() / "PROFILES");
  std::ofstream(dir.path() / "PROFILES/Default.pfl") << "[EXPANSIONS]\nPARMODE=4\n";
  {
    MainWindow form(dir.path());
    form.show();
    form.OpenFiles({QString::fromStdString((TestDisks() / "hello.dsk").string())});
    EXPECT_TRUE(form.machine().Fdc.Drives[0].Loaded);
    EXPECT_EQ(form.opener()->AutorunCommandText(), "RUN\"HELLO");
    form.StartEmulation();
    ASSERT_TRUE(ProcessEventsUntil([&] { return !form.autoType().AutoTypeText.empty(); }, 30000))
        << "BASIC never said Ready";
    ASSERT_TRUE(ProcessEventsUntil([&] { return !form.autoTypeTimer().isActive(); }, 30000));
    ProcessEventsUntil([] { return false; }, 3000);  // the program runs
    EXPECT_EQ(form.settings().RECENT.front(), fs::canonical(TestDisks() / "hello.dsk").string());
  }
  // The printer file is complete once the window has closed its devices.
  // The BIN file holds every byte written to the port; the characters are
  // the ones sent with the strobe (bit 7) set.
  std::string printed;
  for (const auto& entry : fs::directory_iterator(prints)) {
    std::ifstream in(entry.path(), std::ios::binary);
    for (char c : std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()))
      if (c & 0x80) printed += static_cast<char>(c & 0x7F);
  }
  std::ifstream expected(TestDisks() / "hello_printer_expected.dat", std::ios::binary);
  EXPECT_EQ(printed, std::string(std::istreambuf_iterator<char>(expected), std::istreambuf_iterator<char>()));
  // RECENT survives the restart.
  Settings saved = DefaultSettings(dir.path());
  LoadSettings(saved, MissingFile::Leave);
  ASSERT_FALSE(saved.RECENT.empty());
  EXPECT_EQ(saved.RECENT.front(), fs::canonical(TestDisks() / "hello.dsk").string());
}

TEST(OpenFiles, SnapshotsLoadAndOtherFilesAreNamedWhileTheProgramGoesOn) {
  const fs::path sna = fs::path(SharedDir()) / "testdata/sna/loop4000_v2.sna";
  if (!fs::exists(sna)) GTEST_SKIP() << "snapshot not found: " << sna;
  TestApp();
  EmptyFolder dir;
  std::ofstream(dir.path() / "notes.txt") << "not a disk";
  MainWindow form(dir.path());
  const QString said = form.OpenFiles({QString::fromStdString((dir.path() / "notes.txt").string()),
                                       QString::fromStdString(sna.string())});
  EXPECT_NE(said.indexOf("notes.txt"), -1) << said.toStdString();
  EXPECT_EQ(form.machine().Z80.PC, 0x4001);
  EXPECT_TRUE(form.opener()->AutorunCommandText().isEmpty());
  EXPECT_NE(form.statusBar()->currentMessage().indexOf("notes.txt"), -1);
}

TEST(OpenFiles, ADropInsertsIntoDriveAOrWithShiftDriveB) {
  if (!fs::exists(TestDisks() / "hello.dsk")) GTEST_SKIP() << "test disks not found in " << TestDisks();
  TestApp();
  EmptyFolder dir;
  MainWindow form(dir.path());
  form.settings().AUTORUN = false;
  auto drop = [&](const fs::path& file, Qt::KeyboardModifiers mods) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(file.string()))});
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, mods);
    QApplication::sendEvent(&form, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent event(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, mods);
    QApplication::sendEvent(&form, &event);
  };
  drop(TestDisks() / "hello.dsk", Qt::NoModifier);
  EXPECT_TRUE(form.machine().Fdc.Drives[0].Loaded);
  EXPECT_FALSE(form.machine().Fdc.Drives[1].Loaded);
  drop(TestDisks() / "ROMDump.dsk", Qt::ShiftModifier);
  EXPECT_TRUE(form.machine().Fdc.Drives[1].Loaded);
  EXPECT_EQ(form.settings().RECENT.size(), 2u);
  // The status bar names each drive's disk.
  auto panels = form.statusBar()->findChildren<QLabel*>();
  QStringList texts;
  for (QLabel* l : panels) texts << l->text();
  EXPECT_TRUE(texts.contains("A: HELLO.DSK")) << texts.join("|").toStdString();
  EXPECT_TRUE(texts.contains("B: ROMDUMP.DSK")) << texts.join("|").toStdString();
}

TEST(MachineMenu, AModelRestartsTheMachineAtOnce) {
  TestApp();
  EmptyFolder dir;
  MainWindow form(dir.path());
  QAction* cpc6128 = FindAction(&form, "CPC 6128");
  ASSERT_NE(cpc6128, nullptr);
  EXPECT_TRUE(cpc6128->isChecked());  // the default machine is a 6128
  form.StartEmulation();
  ProcessEventsUntil([&] { return ScreenShows(form, "BASIC 1.1"); }, 30000);
  QAction* cpc464 = FindAction(&form, "CPC 464");
  ASSERT_NE(cpc464, nullptr);
  cpc464->trigger();
  EXPECT_TRUE(cpc464->isChecked());
  EXPECT_EQ(form.settings().LASTPROFILE, "/CPC464.pfl");
  EXPECT_EQ(form.machine().Memory.RamBankLimit, -1);
  EXPECT_TRUE(ProcessEventsUntil([&] { return ScreenShows(form, "BASIC 1.0"); }, 30000));
}

TEST(WindowGeometry, TenRestartsKeepThePosition) {
  TestApp();
  EmptyFolder dir;
  {
    MainWindow form(dir.path());
    form.show();
    form.move(150, 120);
    form.resize(700, 560);
  }
  for (int i = 0; i < 10; ++i) {
    MainWindow form(dir.path());
    form.show();
    QApplication::processEvents();
    EXPECT_EQ(form.pos(), QPoint(150, 120)) << "start " << i;
    EXPECT_EQ(form.size(), QSize(700, 560)) << "start " << i;
  }
}

TEST(StatusBar, PausedTooltipsAndEscape) {
  TestApp();
  EmptyFolder dir;
  MainWindow form(dir.path());
  form.show();
  form.StartEmulation();
  form.TogglePause();
  EXPECT_EQ(form.statePanel()->text(), "Paused");
  form.TogglePause();
  EXPECT_EQ(form.statePanel()->text(), "");
  for (QToolButton* b : {form.ToolButton1, form.ToolButton2, form.ToolButton4, form.ToolButton10, form.ToolButton15,
                         form.ToolButton16, form.ToolButton8, form.ToolButton9, form.ToolButton7})
    EXPECT_FALSE(b->toolTip().isEmpty());

  form.ToggleFullScreen();
  ASSERT_TRUE(form.isFullScreen() || form.windowState() & Qt::WindowFullScreen);
  QApplication::setActiveWindow(&form);
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(&form, &escape);
  EXPECT_FALSE(form.windowState() & Qt::WindowFullScreen);
}

// Black bars beside a 4:3 picture; the mouse still lands where it points.
TEST(FrameViewBars, PicturePlacementAndMousePoints) {
  TestApp();
  FrameView view;
  view.resize(1000, 576);
  EXPECT_EQ(view.PictureRect(), QRect(116, 0, 768, 576));
  EXPECT_EQ(view.StretchedPoint(QPointF(116, 0)), QPoint(0, 0));
  EXPECT_EQ(view.StretchedPoint(QPointF(500, 288)), QPoint(500, 288));  // the middle stays
  EXPECT_EQ(view.StretchedPoint(QPointF(884, 576)), QPoint(1000, 576));
  view.SetIntegerScale(true);
  view.resize(1000, 700);
  EXPECT_EQ(view.PictureRect(), QRect(116, 62, 768, 576));
}

}  // namespace
