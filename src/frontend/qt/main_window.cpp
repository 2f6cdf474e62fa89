#include "frontend/qt/main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <cstdio>
#include <iostream>

#include "core/builtin_roms.h"
#include "frontend/machine_models.h"
#include "host/session.h"
#include "host/version.h"
#include "frontend/qt/autotype_dialog.h"
#include "frontend/qt/file_opener.h"
#include "frontend/qt/machine_config_dialog.h"
#include "frontend/qt/settings_dialog.h"
#include "debugger/qt/debugger_window.h"
#include "frontend/qt/drive_menu.h"
#include "frontend/qt/tape_menu.h"
#include "frontend/qt/capture_ui.h"
#include "frontend/qt/frame_view.h"
#include "frontend/qt/key_mapper_dialog.h"
#include "frontend/qt/new_disk_dialog.h"
#include "frontend/qt/qt_keys.h"
#include "frontend/qt/rewind_control.h"
#include "frontend/qt/script_control.h"
#include "frontend/qt/snapshot_menu.h"
#include "platform/key_codes.h"
#include "platform/serial_port.h"

namespace fs = std::filesystem;

const char* const MainWindow::kHotKeyText =
    "F2\t\t\tShow Overlay Info\rAlt+F2\t\t\tChange Overlay Color\rF3\t\t\tShow/Hide mouse cursor\r"
    "F4\t\t\tDebugger Step\rF5\t\t\tSave ScreenShot\rF6\t\t\tSave Consecutive Shots\rF7\t\t\tCapture AVI\r"
    "F8\t\t\tCapture Audio\rAlt+F9\t\t\tReset (hold and release)\rF10\t\t\tPause/Resume Emulation \r"
    "F11\t\t\tFullscreen\rF12\t\t\tExit\rNumLock\t\tToggle between FKeys-Joystick\r"
    "Alt+Resizing\t\tForce 4:3 ratio while resizing\rAlt+MouseWheel\t\tZoom in/Out\r"
    "Alt+Numpad +/-\t\tZoom in/Out\rAlt+Arrow keys\t\tMove the zoomed image\r"
    "Alt+Left Mouse Key\tEmulate Middle Mouse Key\r"
    "Shift+F5..F8\t\tQuick Save Snapshot Slot 1..4\rCtrl+F5..F8\t\tQuick Load Snapshot Slot 1..4\r"
    "Shift+F4 (hold)\t\tRewind, one second per step\r"
    "Alt+F1\t\t\tKeyboard: Positional/Symbolic";

namespace {

// How long a mouse move holds its joystick directions when no other input
// follows: the stand-in for the next timer or paint message, which released
// them where this rule comes from. Long enough for the firmware's 50 Hz scan
// to see every move.
constexpr int kMouseJoystickHoldMs = 60;
constexpr int kPadPollMs = 10;
constexpr int kKeysServiceMs = 5;  // a quarter of a keyboard scan

// 0 for the left Shift key, 1 for the right one (X11 key code 62).
int RightShift(const QKeyEvent* event, int code) {
  return (code & vk::kExtended) || (event && event->nativeScanCode() == 62) ? 1 : 0;
}

constexpr int kF1 = 0x70, kF2 = 0x71, kF3 = 0x72, kF4 = 0x73, kF5 = 0x74, kF6 = 0x75, kF7 = 0x76, kF8 = 0x77, kF9 = 0x78,
              kF10 = 0x79, kF11 = 0x7A;

// Overlay text colours by OVERLAYCOLOR.
const QColor kOverlayColours[16] = {
    QColor(128, 0, 0),   QColor(0, 128, 0),   QColor(128, 128, 0), QColor(0, 0, 128),
    QColor(128, 0, 128), QColor(0, 128, 128), QColor(128, 128, 128), QColor(192, 192, 192),
    QColor(255, 0, 0),   QColor(0, 255, 0),   QColor(255, 255, 0), QColor(0, 0, 255),
    QColor(255, 0, 255), QColor(0, 255, 255), QColor(192, 192, 192), QColor(128, 128, 128),
};

// Tool bar glyphs, drawn rather than shipped.
QIcon Glyph(const std::function<void(QPainter&)>& draw) {
  QPixmap pixmap(20, 20);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(40, 40, 40), 1.5));
  p.setBrush(QColor(40, 40, 40));
  draw(p);
  return QIcon(pixmap);
}

QIcon PauseIcon() {
  return Glyph([](QPainter& p) {
    p.drawRect(5, 4, 3, 12);
    p.drawRect(12, 4, 3, 12);
  });
}
QIcon PlayIcon() {
  return Glyph([](QPainter& p) { p.drawPolygon(QPolygon({QPoint(6, 4), QPoint(16, 10), QPoint(6, 16)})); });
}
QIcon ResetIcon() {
  return Glyph([](QPainter& p) {
    p.setBrush(Qt::NoBrush);
    p.drawArc(4, 4, 12, 12, 60 * 16, 300 * 16);
    p.setBrush(QColor(40, 40, 40));
    p.drawPolygon(QPolygon({QPoint(12, 2), QPoint(17, 5), QPoint(12, 8)}));
  });
}
QIcon CameraIcon() {
  return Glyph([](QPainter& p) {
    p.setBrush(Qt::NoBrush);
    p.drawRect(3, 6, 14, 10);
    p.drawEllipse(QPoint(10, 11), 3, 3);
    p.drawRect(6, 4, 4, 2);
  });
}
QIcon SeriesIcon() {
  return Glyph([](QPainter& p) {
    p.setBrush(Qt::NoBrush);
    p.drawRect(2, 8, 8, 8);
    p.drawRect(6, 5, 8, 8);
    p.drawRect(10, 2, 8, 8);
  });
}
QIcon FilmIcon() {
  return Glyph([](QPainter& p) {
    p.setBrush(Qt::NoBrush);
    p.drawRect(3, 4, 14, 12);
    for (int y = 5; y < 16; y += 4) {
      p.drawPoint(5, y);
      p.drawPoint(15, y);
    }
  });
}
QIcon NoteIcon() {
  return Glyph([](QPainter& p) {
    p.drawEllipse(QPoint(7, 15), 3, 2);
    p.drawLine(10, 15, 10, 3);
    p.drawLine(10, 3, 15, 6);
  });
}
QIcon HalfIcon() {
  return Glyph([](QPainter& p) {
    p.setBrush(Qt::NoBrush);
    p.drawRect(6, 7, 8, 6);
  });
}
QIcon FullIcon() {
  return Glyph([](QPainter& p) {
    p.setBrush(Qt::NoBrush);
    p.drawRect(2, 3, 16, 13);
  });
}
QIcon BugIcon() {
  return Glyph([](QPainter& p) {
    p.drawEllipse(QPoint(10, 11), 4, 5);
    p.drawLine(4, 8, 16, 8);
    p.drawLine(4, 14, 16, 14);
  });
}

}  // namespace

// Drive lamps and the hard disk lamp, painted from the controller's colours.
class LampPanel : public QWidget {
 public:
  explicit LampPanel(QWidget* parent) : QWidget(parent) { setFixedWidth(60); }
  void SetColours(QColor a, QColor b, QColor hdd, bool showHdd) {
    // Asked 25 times a second; a repaint costs a whole-window composite
    // when the picture is drawn by OpenGL.
    if (a == a_ && b == b_ && hdd == hdd_ && showHdd == showHdd_) return;
    a_ = a;
    b_ = b;
    hdd_ = hdd;
    showHdd_ = showHdd;
    setFixedWidth(showHdd ? 82 : 60);
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    // 18 x 6 lamps, centred in whatever height the bar gives the panel.
    const int top = std::max(0, (height() - 7) / 2);
    auto lamp = [&](int x, QColor c) {
      p.fillRect(QRect(QPoint(x, top), QPoint(x + 18, top + 6)), c);
      p.setPen(Qt::black);
      p.drawRect(QRect(QPoint(x, top), QPoint(x + 18, top + 6)));
    };
    lamp(6, a_);
    lamp(32, b_);
    if (showHdd_) lamp(58, hdd_);
  }

 private:
  QColor a_ = Qt::darkGray, b_ = Qt::darkGray, hdd_ = Qt::darkGray;
  bool showHdd_ = false;
};

// The per-period hooks of the window: publish the frame, feed the sound.
class MainWindow::Hooks : public PeriodHooks {
 public:
  explicit Hooks(MainWindow& form) : form_(form) {}
  void PublishFrame(Machine& m) override {
    form_.view_->Publish(&m.Video.FrameBitmap[0][0]);
    form_.debugForm_->PeriodEnded(m);
  }
  void SubmitSound(Machine& m) override {
    if (form_.sound_.Device != 0) SoundSubmit(form_.sound_, m.Psg);
  }
  void Stills(Machine& m) override { form_.capture_->StillsPeriod(m); }
  void Capture(Machine& m) override { form_.capture_->CapturePeriod(m); }
  // Last of the period: the rewind ring, then a running script, whose keys
  // and waits then take effect from the next period on.
  void Rewind(Machine& m) override {
    form_.rewind_->Ring().PeriodEnd(m);
    form_.script_->PeriodEnd(m);
  }

 private:
  MainWindow& form_;
};

MainWindow::MainWindow(const fs::path& startDir, QWidget* parent)
    : QMainWindow(parent), startDir_(startDir), hooks_(std::make_unique<Hooks>(*this)) {
  setWindowTitle(QString("Pellucidore ") + PellucidoreVersion());
  setWindowFlags(windowFlags() & ~Qt::WindowMaximizeButtonHint);

  // Settings and profile first: the window and the machine follow them.
  settings_ = DefaultSettings(startDir_);
  const SettingsResult loaded = LoadSettings(settings_);
  if (!loaded.Ok) QMessageBox::warning(this, "Pellucidore", QString::fromStdString(loaded.Error));
  // The Machine menu's profiles; also makes the profiles folder of a fresh
  // start folder. Said on the terminal only: the menu works without them.
  if (auto r = EnsureModelProfiles(settings_); !r.Ok) std::fprintf(stderr, "pellucidore: %s\n", r.Error.c_str());
  if (auto r = LoadProfile(settings_); !r.Ok) QMessageBox::warning(this, "Pellucidore", QString::fromStdString(r.Error));
  machine_ = CreateMachine(MachineConfigFromSettings(settings_));

  drives_ = new DriveMenus(this, *machine_, settings_, [this] { PauseRuleBegin(); }, [this] { PauseRuleEnd(); });
  tapes_ = new TapeMenus(
      this, *machine_, settings_, [this] { PauseRuleBegin(); }, [this] { PauseRuleEnd(); },
      [this](bool on) {
        if (thread_) thread_->SetFastTape(on);
      });
  tapes_->Notice = [this](const QString& text) { statusBar()->showMessage(text, 5000); };
  view_ = new FrameView(this);
  view_->installEventFilter(this);
  setCentralWidget(view_);
  opener_ = new FileOpener(*this);
  setAcceptDrops(true);
  BuildActions();
  BuildToolBar();
  BuildStatusBar();
  cpcConfig_ = new MachineConfigDialog(this);
  miscConfig_ = new SettingsDialog(this);
  keyMapper_ = new KeyMapperDialog(keyMap_, startDir_ / kKeyMapFileName, this);
  autoTypeBox_ = new AutoTypeDialog(autoType_, autoTypeTimer_, startDir_, this);
  autoTypeBox_->move(settings_.FORM7XPOS, settings_.FORM7YPOS);
  autoTypeBox_->Keyboard = &machine_->Keyboard;
  BuildMenus();
  capture_ = std::make_unique<CaptureController>(this, *machine_, settings_,
                                                 CaptureButtons{ToolButton4, ToolButton10, ToolButton15, ToolButton16, ToolButton7});
  capture_->Suspend = [this] { PauseRuleBegin(); };
  capture_->Resume = [this] { PauseRuleEnd(); };
  capture_->EmulationRunning = [this] { return emulationRunning_; };
  connect(capture_.get(), &CaptureController::CaptureError, this, [this](const QString& m) { statusBar()->showMessage(m, 8000); });
  rewind_ = std::make_unique<RewindControl>(*this);
  script_ = new ScriptControl(this, *machine_, settings_, [this] { PauseRuleBegin(); }, [this] { PauseRuleEnd(); });
  connect(script_, &ScriptControl::Notice, this, [this](const QString& m) { statusBar()->showMessage(m, 8000); });
  connect(script_, &ScriptControl::Finished, this, [this](const QString& error) {
    statusBar()->showMessage(error.isEmpty() ? QString("Script finished") : error, error.isEmpty() ? 8000 : 30000);
  });
  rewind_->Apply(settings_);
  connect(capture_.get(), &CaptureController::Saved, this, [this](const QString& m) { statusBar()->showMessage(m, 8000); });

  overlay_ = QImage(96, 50, QImage::Format_ARGB32);
  overlay_.fill(Qt::black);

  // FORM1XPOS/FORM1YPOS are where the frame goes and FORM1W/FORM1H the size
  // inside it; setGeometry would take the position for the inside and the
  // window would creep by its title bar at every start.
  if (loaded.FileCreated) {
    FirstStartGeometry();
  } else {
    resize(settings_.FORM1W, settings_.FORM1H);
    move(settings_.FORM1XPOS, settings_.FORM1YPOS);
  }
  view_->SetIntegerScale(settings_.INTEGERSCALE);

  debugForm_ = new DebuggerWindow(*machine_, this);
  debugForm_->move(settings_.FORM3XPOS, settings_.FORM3YPOS);
  debugForm_->SetPaused(!emulationRunning_);
  connect(debugForm_, &DebuggerWindow::Closed, this, [this] { ToolButton7->setChecked(false); });
  // A breakpoint pauses the machine and shows where, the window closed or not.
  connect(debugForm_, &DebuggerWindow::StoppedAtBreak, this, [this] {
    if (emulationRunning_) TogglePause();
    ToolButton7->setChecked(true);
    debugForm_->show();
    debugForm_->raise();
  });
  connect(debugForm_, &DebuggerWindow::RunRequested, this, [this] {
    if (!emulationRunning_) TogglePause();
  });

  // Once a session: a profile change keeps the map and the mapper's edits.
  if (const std::string problem = LoadSessionKeyMap(keyMap_, startDir_ / kKeyMapFileName); !problem.empty()) {
    std::fprintf(stderr, "pellucidore: %s\n", problem.c_str());
    statusBar()->showMessage(QString::fromStdString(problem), 30000);
  }
  OpenDevices();
  ResetMachine(*machine_);
  drives_->Reinsert();
  tapes_->Reinsert();
  ApplyDisplaySettings();
  UpdateLamps();
  lampTimer_.setInterval(40);
  connect(&lampTimer_, &QTimer::timeout, this, &MainWindow::UpdateLamps);
  lampTimer_.start();

  // Say so when the firmware is missing, and where it goes: a black window
  // explains nothing. Said on the terminal too.
  const MachineConfig romConfig = MachineConfigFromSettings(settings_);
  if (LocateRom(romConfig.RomDir, romConfig.BuiltInRomDir, romConfig.LowerRom).empty()) {
    QStringList wanted{QString::fromStdString(romConfig.LowerRom)};
    for (const std::string& rom : settings_.ROM)
      if (rom != "EMPTY" && !rom.empty() && LocateRom(romConfig.RomDir, romConfig.BuiltInRomDir, rom).empty())
        wanted << QString::fromStdString(rom);
    const QString message = QString("Lower ROM not found: %1 - put the ROM images (%2) in %3")
                                .arg(QString::fromStdString((romConfig.RomDir / romConfig.LowerRom).string()),
                                     wanted.join(", "), QString::fromStdString(romConfig.RomDir.string()));
    statusBar()->showMessage(message);
    statusBar()->setToolTip(message);
    // Again once the window is up: only then does the bar hide its panels
    // under the message instead of drawing both on top of each other.
    QTimer::singleShot(0, this, [this, message] {
      statusBar()->clearMessage();
      statusBar()->showMessage(message);
    });
    std::fprintf(stderr, "pellucidore: %s\n", message.toLocal8Bit().constData());
    // The status bar is too narrow for a path; the black picture has room.
    auto* notice = new QLabel(QString("The CPC ROM images are missing.\n\nPut %1 in\n%2\nand start Pellucidore again.")
                                  .arg(wanted.join(", "), QString::fromStdString(romConfig.RomDir.string())),
                              view_);
    notice->setObjectName("romNotice");
    notice->setAlignment(Qt::AlignCenter);
    notice->setWordWrap(true);
    notice->setTextInteractionFlags(Qt::NoTextInteraction);
    notice->setAttribute(Qt::WA_TransparentForMouseEvents);
    notice->setStyleSheet("color: #ffff80; background: transparent;");
    auto* noticeLayout = new QVBoxLayout(view_);
    noticeLayout->addWidget(notice, 0, Qt::AlignCenter);
  } else {
    ShowBuiltInRoms();
  }

  qApp->installEventFilter(this);
  mouseHoldTimer_.setSingleShot(true);
  mouseHoldTimer_.setInterval(kMouseJoystickHoldMs);
  connect(&mouseHoldTimer_, &QTimer::timeout, this, &MainWindow::ReleaseMouseDirections);
  keysTimer_.setInterval(kKeysServiceMs);
  connect(&keysTimer_, &QTimer::timeout, this, &MainWindow::ServiceKeys);
  padTimer_.setInterval(kPadPollMs);
  connect(&padTimer_, &QTimer::timeout, this, &MainWindow::PollPads);
  if (pads_.IsOpen()) padTimer_.start();
  statusTimer_.setInterval(300);
  connect(&statusTimer_, &QTimer::timeout, this, &MainWindow::StatusTimerTick);
  statusTimer_.start();
  autoTypeTimer_.setInterval(50);
  connect(&autoTypeTimer_, &QTimer::timeout, this, &MainWindow::AutoTypeTick);
}

MainWindow::~MainWindow() {
  qApp->removeEventFilter(this);
  Shutdown();
}

QSize MainWindow::ClientSize() const {
  const int menu = menuBar()->isVisible() ? menuBar()->height() : 0;
  return QSize(width(), height() - menu);
}

void MainWindow::SetClientSize(int width, int height) {
  const int menu = menuBar()->isVisible() ? menuBar()->sizeHint().height() : 0;
  resize(width, height + menu);
}

void MainWindow::BuildActions() {}

void MainWindow::BuildToolBar() {
  toolBar_ = addToolBar("Tools");
  toolBar_->setMovable(false);
  toolBar_->setFloatable(false);
  toolBar_->setFixedHeight(kToolBarHeight);
  toolBar_->setIconSize(QSize(20, 20));
  toolBar_->toggleViewAction()->setVisible(false);
  setContextMenuPolicy(Qt::NoContextMenu);

  auto button = [&](const QIcon& icon, const QString& hint, bool checkable, auto slot) {
    auto* b = new QToolButton(toolBar_);
    b->setIcon(icon);
    b->setToolTip(hint);
    b->setCheckable(checkable);
    b->setFixedSize(25, 25);
    b->setFocusPolicy(Qt::NoFocus);
    connect(b, &QToolButton::clicked, this, slot);
    toolBar_->addWidget(b);
    return b;
  };
  ToolButton1 = button(PauseIcon(), "Pause (F10)", false, [this] { TogglePause(); });
  ToolButton2 = button(ResetIcon(), "Reset (Alt+F9)", false, [this] { ResetClicked(); });
  toolBar_->addSeparator();
  ToolButton4 = button(CameraIcon(), "Save ScreenShot (F5)", false, [this] { capture_->ScreenshotClicked(); });
  ToolButton10 = button(SeriesIcon(), "Save Consecutive Shots (F6)", false, [this] { capture_->SeriesClicked(); });
  ToolButton15 = button(FilmIcon(), "Capture AVI (F7)", true, [this] { capture_->AviClicked(); });
  ToolButton16 = button(NoteIcon(), "Capture Audio (F8)", true, [this] { capture_->WavClicked(); });
  toolBar_->addSeparator();
  ToolButton8 = button(HalfIcon(), "Half Size", false, [this] { HalfSize(); });
  ToolButton9 = button(FullIcon(), "Full Size", false, [this] { FullSize(); });
  ToolButton7 = button(BugIcon(), "Debugger", true, [this] { DebuggerClicked(); });
}

void MainWindow::BuildStatusBar() {
  QStatusBar* bar = statusBar();
  bar->setFixedHeight(kStatusBarHeight);
  bar->setSizeGripEnabled(false);
  lamps_ = new LampPanel(bar);
  // Wider than the written 80: the panels name the disks.
  panelA_ = new QLabel("A: Empty", bar);
  panelA_->setFixedWidth(120);
  panelB_ = new QLabel("B: Empty", bar);
  panelB_->setFixedWidth(120);
  panelSpeed_ = new QLabel("", bar);
  panelSpeed_->setFixedWidth(100);
  panelState_ = new QLabel("", bar);  // "Paused"
  panelState_->setFixedWidth(60);
  tapeLamp_ = new TapeLamp(bar);
  tapeCounter_ = new QLabel("", bar);
  tapeCounter_->setFixedWidth(70);
  bar->addWidget(lamps_);
  bar->addWidget(tapeLamp_);
  bar->addWidget(panelA_);
  bar->addWidget(panelB_);
  bar->addWidget(tapeCounter_);
  bar->addWidget(panelSpeed_);
  bar->addWidget(panelState_);
  drives_->SetPanels(panelA_, panelB_);
  tapes_->SetStatusWidgets(tapeLamp_, tapeCounter_);
}

void MainWindow::BuildMenus() {
  auto fillFile = [&](QMenu* file) {
    drives_->AddMenus(file);
    file->addAction("Load SnapShot", this, [this] { LoadSnapshotClicked(*this); });
    file->addAction("Save Snapshot", this, [this] { SaveSnapshotClicked(*this); });
    AddQuickSnapshotMenu(*this, file);
    opener_->AddRecentMenu(file);
  };

  QMenu* file = menuBar()->addMenu("File");
  fillFile(file);
  QAction* autorun = file->addAction("Autorun Disks");
  autorun->setCheckable(true);
  autorun->setChecked(settings_.AUTORUN);
  autorun->setToolTip("Start a disk opened from the command line or dropped on the window");
  connect(autorun, &QAction::toggled, this, [this](bool on) { settings_.AUTORUN = on; });
  file->addAction("Exit", this, [this] {
    QApplication::processEvents();
    close();
  });

  BuildMachineMenu(menuBar()->addMenu("Machine"));
  BuildViewMenu(menuBar()->addMenu("View"));
  tapes_->FillMenu(menuBar()->addMenu("Tape"));

  QMenu* options = menuBar()->addMenu("Options");
  options->addAction("CPC Configuration", this, [this] { RunCpcConfiguration(*this, *cpcConfig_); });
  options->addAction("Misc Settings", this, [this] { RunMiscConfiguration(*this, *miscConfig_); });
  options->addAction("FullScreen (F11)", this, [this] { ToggleFullScreen(); });
  options->addSeparator();
  auto* keyboardModes = new QActionGroup(this);
  positionalKeysAction = options->addAction("Keyboard: Positional", this, [this] { SetKeyboardMode(0); });
  symbolicKeysAction = options->addAction("Keyboard: Symbolic (Alt+F1)", this, [this] { SetKeyboardMode(1); });
  for (QAction* a : {positionalKeysAction, symbolicKeysAction}) {
    a->setCheckable(true);
    keyboardModes->addAction(a);
  }
  (settings_.KEYBOARDMODE ? symbolicKeysAction : positionalKeysAction)->setChecked(true);

  QMenu* profiles = menuBar()->addMenu("Profiles");
  profiles->addAction("Create New Profile", this, [this] { CreateProfileClicked(); });
  profiles->addAction("Load Profile", this, [this] { LoadProfileClicked(); });
  currentProfileAction = profiles->addAction("");
  currentProfileAction->setEnabled(false);

  QMenu* tools = menuBar()->addMenu("Tools");
  tools->addAction("Create New Disk", this, [this] { ShowCreateNewDisk(); });
  tools->addAction("Keyboard Mapper", this, [this] { RunKeyboardMapper(*this, *keyMapper_); });
  tools->addAction("AutoType", this, [this] { ShowAutoType(); });
  tools->addAction("Run Script...", this, [this] { RunScriptClicked(); });

  QMenu* help = menuBar()->addMenu("Help");
  help->addAction("Help", this, [this] {
    // The manual installed beside the program, else the one of a build tree
    // (HTML rendered into build/docs, Markdown in the sources).
    const QString dir = QCoreApplication::applicationDirPath();
    for (const QString& candidate :
         {dir + "/../share/doc/pellucidore/manual.html", dir + "/../share/doc/pellucidore/manual.md",
          dir + "/docs/manual.html", dir + "/../docs/manual.md", QDir::currentPath() + "/docs/manual.md"}) {
      if (QFileInfo::exists(candidate)) {
        const QString path = QFileInfo(candidate).absoluteFilePath();
        // No browser or viewer registered: at least say where the manual is.
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
          QMessageBox::information(this, "Help", "The user manual is " + path);
        return;
      }
    }
    QMessageBox::information(this, "Help", "The user manual is not installed.");
  });
  help->addAction("HotKeys", this, [this] { ShowHotKeys(); });
  help->addAction("About Pellucidore", this, [this] { ShowAbout(); });

  popupMenu = new QMenu(this);
  popupMenu->addAction("FullScreen (F11)", this, [this] { ToggleFullScreen(); });
  showToolbarAction = popupMenu->addAction("Show Toolbar");
  showToolbarAction->setCheckable(true);
  connect(showToolbarAction, &QAction::triggered, this, [this](bool on) {
    settings_.TOOLBAR = on;
    if (fullScreen_) {
      menuBar()->setVisible(on);
      toolBar_->setVisible(on);
      statusBar()->setVisible(on);
    }
    ApplyLayout();
  });
  fillFile(popupMenu->addMenu("File"));
  tapes_->FillMenu(popupMenu->addMenu("Tape"));
  QMenu* popupOptions = popupMenu->addMenu("Options");
  popupOptions->addAction("CPC Configuration", this, [this] { RunCpcConfiguration(*this, *cpcConfig_); });
  popupOptions->addAction("Misc Settings", this, [this] { RunMiscConfiguration(*this, *miscConfig_); });
  QMenu* popupTools = popupMenu->addMenu("Tools");
  popupTools->addAction("Create New Disk", this, [this] { ShowCreateNewDisk(); });
  popupTools->addAction("KeyBoard Mapper", this, [this] { RunKeyboardMapper(*this, *keyMapper_); });
  popupTools->addAction("AutoType", this, [this] { ShowAutoType(); });
  popupTools->addAction("Run Script...", this, [this] { RunScriptClicked(); });
  QMenu* popupProfiles = popupMenu->addMenu("Profiles");
  popupProfiles->addAction("Create new Profile", this, [this] { CreateProfileClicked(); });
  popupProfiles->addAction("Load Profile", this, [this] { LoadProfileClicked(); });
  popupCurrentProfileAction = popupProfiles->addAction("");
  popupCurrentProfileAction->setEnabled(false);
  UpdateProfileCaptions();
}

void MainWindow::UpdateProfileCaptions() {
  const QString caption = QString::fromStdString(ProfileCaption(settings_));
  currentProfileAction->setText(caption);
  popupCurrentProfileAction->setText(caption);
}

void MainWindow::UpdateLamps() {
  auto colour = [](uint32_t bgr) { return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF); };
  lamps_->SetColours(colour(machine_->Fdc.ActivityColour[0].load()), colour(machine_->Fdc.ActivityColour[1].load()),
                     colour(machine_->Symbiface.HddActivityColour.load()), settings_.SYMBIFACE);
  tapes_->Refresh();
  const uint32_t noises = machine_->Fdc.SoundEvents.exchange(0);
  if (noises && settings_.FDDSOUNDENABLE) driveSounds_.Play(noises);
}

void MainWindow::OpenDevices() {
  if (settings_.PADJOYSTICK) pads_.Open();
  const SoundSettings sound = SoundCardFormat(settings_);
  if (!SoundOpen(sound_, machine_->Psg, sound) && settings_.SOUNDENABLED) {
    settings_.SOUNDENABLED = false;
    if (!sound_.Error.empty()) statusBar()->showMessage(QString::fromStdString("Sound off: " + sound_.Error), 5000);
  }
  // Printer port and serial interface; a failure switches the device off.
  machine_->Printer.PrintDir = settings_.PRINTDIR;
  machine_->Printer.Device = &digiblaster_;
  machine_->Printer.DefaultPrinter = &cupsPrinter_;
  machine_->Printer.Lpt = &lptPrinter_;
  lptPrinter_.Configure(settings_.LPTADDRESS, settings_.LPTMODE);
  cupsPrinter_.SetErrorHandler([this](const std::string& message) {
    std::cerr << "pellucidore: " << message << "\n";
    QMetaObject::invokeMethod(
        this, [this, message] { statusBar()->showMessage(QString::fromStdString(message), 5000); },
        Qt::QueuedConnection);
  });
  std::string failed = PrinterSetMode(*machine_, MachineConfigFromSettings(settings_).PrinterMode);
  if (const std::string serial = SerialOpen(machine_->Serial, settings_.SERIAL, MakeHostSerialPort()); !serial.empty())
    failed = serial;
  if (!failed.empty()) statusBar()->showMessage(QString::fromStdString(failed), 5000);
  if (settings_.FDDSOUNDENABLE) driveSounds_.Open();
  SymbifaceStart(*machine_, startDir_, settings_.SYMBIFACE ? settings_.HDD0PATH : std::string(),
                 settings_.SYMBIFACE ? settings_.HDD1PATH : std::string());
}

void MainWindow::CloseDevices() {
  padTimer_.stop();
  pads_.Close();
  SoundClose(sound_, machine_->Psg);
  PrinterStop(*machine_);
  SerialClose(machine_->Serial);
  driveSounds_.Close();
  const std::string error = SymbifaceEnd(*machine_, startDir_);
  if (!error.empty()) QMessageBox::warning(this, "Pellucidore", QString::fromStdString(error));
}

void MainWindow::ApplyConfiguration() {
  // No reset: the machine runs on with the new configuration, ROMs and
  // colours. The key map and drive noises are not the profile's and stay.
  ApplyProfile(*machine_, settings_);
  std::string failed;
  // A printer port whose mode stays is left alone, so a document being
  // printed is not cut in two; a parallel port that changed is reopened.
  const bool portChanged = lptPrinter_.Configure(settings_.LPTADDRESS, settings_.LPTMODE);
  if (const uint32_t mode = MachineConfigFromSettings(settings_).PrinterMode;
      mode != machine_->Printer.PrinterMode || (mode == kPrinterLpt && portChanged))
    failed = PrinterSetMode(*machine_, mode);
  SoundClose(sound_, machine_->Psg);
  const SoundSettings sound = SoundCardFormat(settings_);
  if (!SoundOpen(sound_, machine_->Psg, sound) && settings_.SOUNDENABLED) {
    settings_.SOUNDENABLED = false;
    if (!sound_.Error.empty()) failed = "Sound off: " + sound_.Error;
  }
  // SymbiFace II: persistent memory saved and read back, images reopened.
  if (const std::string error = SymbifaceEnd(*machine_, startDir_); !error.empty())
    QMessageBox::warning(this, "Pellucidore", QString::fromStdString(error));
  SymbifaceStart(*machine_, startDir_, settings_.SYMBIFACE ? settings_.HDD0PATH : std::string(),
                 settings_.SYMBIFACE ? settings_.HDD1PATH : std::string());
  SerialClose(machine_->Serial);
  if (const std::string serial = SerialOpen(machine_->Serial, settings_.SERIAL, MakeHostSerialPort()); !serial.empty())
    failed = serial;
  if (!failed.empty()) statusBar()->showMessage(QString::fromStdString(failed), 5000);
  ApplyDisplaySettings();
  UpdateLamps();  // panel 0 widens for the hard disk lamp
}

void MainWindow::ApplyMiscConfiguration(const Settings& before) {
  // ROMs from the new folder, in place, as the CPC Configuration does.
  if (settings_.ROMDIR != before.ROMDIR) ApplyProfile(*machine_, settings_);
  // A document being printed ends where it began; the next one goes here.
  machine_->Printer.PrintDir = settings_.PRINTDIR;
  machine_->Printer.IdleLimitPeriods = static_cast<uint32_t>(settings_.PRINTERIDLE) * 50;
  rewind().Apply(settings_);
  if (settings_.FDDSOUNDENABLE) {
    if (!driveSounds_.Open())
      statusBar()->showMessage(QString::fromStdString("Drive noises off: " + driveSounds_.Error()), 5000);
  } else {
    driveSounds_.Close();
  }
  showToolbarAction->setChecked(settings_.TOOLBAR);
  if (fullScreen_) {
    menuBar()->setVisible(settings_.TOOLBAR);
    toolBar_->setVisible(settings_.TOOLBAR);
    statusBar()->setVisible(settings_.TOOLBAR);
  }
  ApplyLayout();
}

void MainWindow::ShowAutoType() {
  autoTypeBox_->show();
  autoTypeBox_->raise();
  autoTypeBox_->activateWindow();
}

void MainWindow::ApplyDisplaySettings() {
  Zoom z{settings_.ZOOM, settings_.ZOOMXOFF, settings_.ZOOMYOFF};
  const Rect source = ApplyZoom(z);
  settings_.ZOOMXOFF = z.ZOOMXOFF;
  settings_.ZOOMYOFF = z.ZOOMYOFF;
  view_->SetSmooth(settings_.DIRECTXSTRETCH, source);
  view_->SetOverlay(settings_.OVERLAY, overlay_);
}

void MainWindow::StartEmulation() {
  if (thread_) return;
  thread_ = std::make_unique<EmulationThread>(*machine_, *hooks_);
  thread_->SetFastTape(settings_.FASTTAPE);
  if (!emulationRunning_) thread_->SuspendEmulation();
  thread_->Start();
}

void MainWindow::RunScriptClicked() {
  const QString file = QFileDialog::getOpenFileName(this, "Run Script", QString::fromStdString(startDir_.string()),
                                                    "CSL scripts (*.csl *.CSL);;All files (*)");
  if (file.isEmpty()) return;
  const QString error = script_->Run(file.toStdString());
  statusBar()->showMessage(error.isEmpty() ? "Script running: " + QFileInfo(file).fileName() : error,
                           error.isEmpty() ? 5000 : 30000);
}

void MainWindow::PauseRuleBegin() {
  if (emulationRunning_ && thread_) thread_->SuspendEmulation();
}

void MainWindow::PauseRuleEnd() {
  if (emulationRunning_ && thread_) thread_->ResumeEmulation();
}

void MainWindow::TogglePause() {
  if (emulationRunning_) {
    emulationRunning_ = false;
    if (thread_) thread_->SuspendEmulation();
    ToolButton1->setIcon(PlayIcon());
    ToolButton1->setToolTip("Resume");
    panelState_->setText("Paused");
    debugForm_->SetPaused(true);
    if (ToolButton7->isChecked()) debugForm_->show();
  } else {
    emulationRunning_ = true;
    debugForm_->SetPaused(false);  // while the thread is still parked
    if (thread_) thread_->ResumeEmulation();
    ToolButton1->setIcon(PauseIcon());
    ToolButton1->setToolTip("Pause");
    panelState_->setText("");
  }
}

void MainWindow::DebuggerClicked() {
  if (debugForm_->isVisible()) {
    debugForm_->hide();
    ToolButton7->setChecked(false);
    return;
  }
  ToolButton7->setChecked(true);
  if (emulationRunning_) TogglePause();
  debugForm_->show();
}

void MainWindow::ResetClicked() {
  PauseRuleBegin();
  ResetMachine(*machine_);
  ReleaseAllKeys();  // the reset let go of the matrix; forget what held it
  PauseRuleEnd();
}

void MainWindow::HalfSize() {
  SetClientSize(384, 288 + kBarsHeight);
}

void MainWindow::FullSize() {
  SetClientSize(768, 576 + kBarsHeight);
}

void MainWindow::ToggleFullScreen() {
  if (!fullScreen_) {
    windowedBounds_ = QRect(pos(), size());  // frame position, inside size
    fullScreen_ = true;
    if (!settings_.TOOLBAR) {
      menuBar()->hide();
      toolBar_->hide();
      statusBar()->hide();
    }
    ToolButton8->setEnabled(false);
    ToolButton9->setEnabled(false);
    showFullScreen();
  } else {
    fullScreen_ = false;
    showNormal();
    resize(windowedBounds_.size());
    move(windowedBounds_.topLeft());
    menuBar()->show();
    toolBar_->show();
    statusBar()->show();
    ToolButton8->setEnabled(true);
    ToolButton9->setEnabled(true);
  }
  ApplyLayout();
}

void MainWindow::ApplyLayout() {
  const QSize client = ClientSize();
  layout_ = LayoutWindow(client.width(), client.height(), fullScreen_ && !settings_.TOOLBAR, layout_);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  if (!fullScreen_ && !inResize_ &&
      (settings_.KEEPASPECTRATIO || (QApplication::queryKeyboardModifiers() & Qt::AltModifier) || altHeld_)) {
    const QSize client = ClientSize();
    const int wanted = AspectClientHeight(client.width());
    if (wanted != client.height()) {
      inResize_ = true;
      SetClientSize(client.width(), wanted);
      inResize_ = false;
    }
  }
  ApplyLayout();
}

void MainWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange || !thread_) return;
  // Minimised: the machine waits, whatever the user's pause state.
  auto* change = static_cast<QWindowStateChangeEvent*>(event);
  const bool wasMin = change->oldState() & Qt::WindowMinimized;
  const bool isMin = windowState() & Qt::WindowMinimized;
  if (isMin && !wasMin) PauseRuleBegin();
  if (wasMin && !isMin) PauseRuleEnd();
}

void MainWindow::StatusTimerTick() {
  if (firstTick_) {
    firstTick_ = false;
    StartEmulation();
    statusTimer_.setInterval(2000);
  }
  const uint32_t speed = machine_->MicrosecondCounter.exchange(0) / 20000;
  const uint32_t rate = machine_->FrameCounter.exchange(0) / 2;
  capture_->TimerTick();
  if (settings_.OVERLAY) UpdateOverlay(speed, rate);
  panelSpeed_->setText(QString("%1 %   %2 fps").arg(speed).arg(rate));
  if (!(QApplication::queryKeyboardModifiers() & Qt::ControlModifier)) MatrixRelease(machine_->Keyboard, 2, 7);
  if (!fullScreen_) {
    settings_.FORM1XPOS = x();
    settings_.FORM1YPOS = y();
    settings_.FORM1W = width();
    settings_.FORM1H = height();
  }
  settings_.FORM7XPOS = autoTypeBox_->x();
  settings_.FORM7YPOS = autoTypeBox_->y();
  settings_.FORM3XPOS = debugForm_->x();
  settings_.FORM3YPOS = debugForm_->y();
}

void MainWindow::UpdateOverlay(uint32_t speed, uint32_t rate) {
  overlay_.fill(Qt::black);
  QPainter p(&overlay_);
  QFont font("Monospace", 8);
  font.setStyleHint(QFont::TypeWriter);
  p.setFont(font);
  p.setPen(kOverlayColours[settings_.OVERLAYCOLOR & 15]);
  p.drawText(8, 4 + 10, QString("CPC: %1% ").arg(speed));
  p.drawText(8, 16 + 10, QString("FPS: %1 fps ").arg(rate));
  p.drawText(8, 28 + 10, QString("Z80@%1 Mhz ").arg(machine_->Z80Multiplier * 4));
  p.end();
  // Black is the transparent colour of the overlay.
  QImage shown = overlay_.copy();
  for (int y = 0; y < shown.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(shown.scanLine(y));
    for (int x = 0; x < shown.width(); ++x)
      if ((line[x] & 0xFFFFFF) == 0) line[x] = 0;
  }
  view_->SetOverlay(true, shown);
}

void MainWindow::AutoTypeTick() {
  if (!AutoTypeStep(autoType_, machine_->Keyboard)) autoTypeTimer_.stop();
  // SHIFT goes down a tick before its key, as the runner does: pressed at
  // the same instant inside the firmware's keyboard scan, the key can be
  // read alone.
  else AutoTypeShiftAhead(autoType_, machine_->Keyboard);
}

void MainWindow::ZoomKeyPressed(ZoomKey key) {
  Zoom z{settings_.ZOOM, settings_.ZOOMXOFF, settings_.ZOOMYOFF};
  const Rect source = ZoomStep(z, key);
  settings_.ZOOM = z.ZOOM;
  settings_.ZOOMXOFF = z.ZOOMXOFF;
  settings_.ZOOMYOFF = z.ZOOMYOFF;
  view_->SetSmooth(settings_.DIRECTXSTRETCH, source);
}

void MainWindow::SetKeyboardMode(int mode) {
  ReleaseAllKeys();
  settings_.KEYBOARDMODE = mode ? 1 : 0;
  (settings_.KEYBOARDMODE ? symbolicKeysAction : positionalKeysAction)->setChecked(true);
  statusBar()->showMessage(settings_.KEYBOARDMODE ? "Keyboard: Symbolic" : "Keyboard: Positional", 3000);
}

void MainWindow::ReleaseAllKeys() {
  KeyboardState& k = machine_->Keyboard;
  SymbolicReleaseAll(symbolic_, k);
  keysTimer_.stop();
  KeyboardReset(k);
  keyJoystick_ = 0;
  pads_.Release(k);
}

void MainWindow::PollPads() { pads_.Poll(machine_->Keyboard); }

void MainWindow::ServiceKeys() {
  SymbolicService(symbolic_, machine_->Keyboard);
  if (SymbolicPending(symbolic_)) {
    if (!keysTimer_.isActive()) keysTimer_.start();
  } else {
    keysTimer_.stop();
  }
}

void MainWindow::ApplyJoystickSettings() {
  ReleaseAllKeys();
  if (settings_.PADJOYSTICK && !pads_.IsOpen() && pads_.Open()) padTimer_.start();
  if (!settings_.PADJOYSTICK && pads_.IsOpen()) {
    padTimer_.stop();
    pads_.Close();
  }
}

void MainWindow::ReleaseMouseDirections() {
  // Directions the keyboard joystick or a pad holds stay held.
  const uint8_t heldElsewhere = keyJoystick_ | pads_.Held(0);
  for (int bit : {kJoyLeft, kJoyRight, kJoyUp, kJoyDown})
    if (!(heldElsewhere & (1u << bit))) MatrixRelease(machine_->Keyboard, kJoystickLine, bit);
}

bool MainWindow::KeyboardJoystickKey(int code, bool down) {
  if (!settings_.KEYJOYSTICK) return false;
  uint8_t bit;
  if (code == vk::kUp + vk::kExtended) bit = kJoyUp;
  else if (code == vk::kDown + vk::kExtended) bit = kJoyDown;
  else if (code == vk::kLeft + vk::kExtended) bit = kJoyLeft;
  else if (code == vk::kRight + vk::kExtended) bit = kJoyRight;
  else if (code == settings_.KEYJOYFIRE1) bit = kJoyFire1;
  // FIRE 2 is bit 4 on the CPC (CPC464 user manual, JOY table).
  else if (code == settings_.KEYJOYFIRE2) bit = 4;
  else return false;
  if (down) {
    keyJoystick_ |= static_cast<uint8_t>(1u << bit);
    MatrixPress(machine_->Keyboard, kJoystickLine, bit);
  } else if (keyJoystick_ & (1u << bit)) {
    keyJoystick_ &= static_cast<uint8_t>(~(1u << bit));
    MatrixRelease(machine_->Keyboard, kJoystickLine, bit);
  }
  return true;
}

bool MainWindow::HandleKeyDown(int code, bool autoRepeat, const QKeyEvent* event, bool toCpc) {
  const int key = code & 0xFF;
  if (key == vk::kMenu) {
    altHeld_ = true;
    return true;
  }
  // Escape leaves full screen (and is not typed): the written hotkey F11 is
  // not what a user trapped in a full-screen window tries first.
  if (key == vk::kEscape && fullScreen_) {
    if (!autoRepeat) ToggleFullScreen();
    return true;
  }
  // Any key ends a mouse move's joystick directions.
  if (settings_.MOUSEEN) ReleaseMouseDirections();
  // Toggles act once per press, not per auto-repeat.
  switch (key) {
    case kF1:
      if (!altHeld_) break;
      if (!autoRepeat) SetKeyboardMode(settings_.KEYBOARDMODE ? 0 : 1);
      return true;
    case kF2:
      if (autoRepeat) return true;
      if (altHeld_) {
        settings_.OVERLAYCOLOR = (settings_.OVERLAYCOLOR + 1) % 16;
      } else {
        settings_.OVERLAY = !settings_.OVERLAY;
        view_->SetOverlay(settings_.OVERLAY, overlay_);
      }
      return true;
    case kF3:
      if (autoRepeat) return true;
      cursorHidden_ = !cursorHidden_;
      view_->setCursor(cursorHidden_ ? Qt::BlankCursor : Qt::ArrowCursor);
      return true;
    case kF4:
      // Held down, it keeps stepping.
      if (debugForm_->isVisible() && !emulationRunning_) debugForm_->Step();
      return true;
    case kF5:
    case kF6:
    case kF7:
    case kF8:
      if (!autoRepeat) capture_->HotKey(key);
      return true;
    case kF10:
      if (!autoRepeat) TogglePause();
      return true;
    case kF11:
      if (!autoRepeat) ToggleFullScreen();
      return true;
    default:
      break;
  }
  // Zoom and pan work with sharp and smooth scaling alike.
  if (altHeld_) {
    switch (code) {
      case vk::kAdd: ZoomKeyPressed(ZoomKey::In); return true;
      case vk::kSubtract: ZoomKeyPressed(ZoomKey::Out); return true;
      case vk::kLeft + vk::kExtended: ZoomKeyPressed(ZoomKey::Left); return true;
      case vk::kRight + vk::kExtended: ZoomKeyPressed(ZoomKey::Right); return true;
      case vk::kUp + vk::kExtended: ZoomKeyPressed(ZoomKey::Up); return true;
      case vk::kDown + vk::kExtended: ZoomKeyPressed(ZoomKey::Down); return true;
      default: break;
    }
  }
  if (!toCpc) return false;
  if (autoRepeat) return true;  // the CPC repeats by itself
  if (KeyboardJoystickKey(code, true)) return true;
  KeyboardState& k = machine_->Keyboard;
  if (settings_.KEYBOARDMODE && event) {
    if (key == vk::kShift) {
      SymbolicShift(symbolic_, k, RightShift(event, code), true);
      ServiceKeys();
      return true;
    }
    // The host's Caps Lock already decides the case of the characters, and
    // a dead key's character comes with the key after it.
    if (key == vk::kCapital) return true;
    if (event->key() >= Qt::Key_Dead_Grave && event->key() <= Qt::Key_Dead_Longsolidusoverlay) return true;
    // Keys that type a character type it; CONTROL combinations and the
    // keypad (the CPC's f-keys) stay keys. A character the CPC lacks types
    // nothing.
    const QString text = event->text();
    const bool character = !text.isEmpty() && text.at(0).unicode() >= 0x20 && text.at(0).unicode() != 0x7F;
    if (character && !(event->modifiers() & (Qt::ControlModifier | Qt::KeypadModifier))) {
      SymbolicKeyDown(symbolic_, k, HostKeyFromEvent(event), text.toUcs4().value(0));
      ServiceKeys();
      return true;
    }
  }
  KeyDown(k, keyMap_, static_cast<uint32_t>(code));
  return true;
}

bool MainWindow::HandleKeyUp(int code, bool autoRepeat, const QKeyEvent* event, bool toCpc) {
  if (autoRepeat) return true;  // X11 repeats as release/press pairs
  if (toCpc) {
    KeyboardState& k = machine_->Keyboard;
    // Released by what its press did, whatever the mode or modifiers now.
    const bool typed = event && SymbolicKeyUp(symbolic_, k, HostKeyFromEvent(event));
    KeyboardJoystickKey(code, false);
    if ((code & 0xFF) == vk::kShift && settings_.KEYBOARDMODE) SymbolicShift(symbolic_, k, RightShift(event, code), false);
    else if (!typed) KeyUp(k, keyMap_, static_cast<uint32_t>(code));
    ServiceKeys();
  }
  const int key = code & 0xFF;
  if (key == vk::kMenu) {
    altHeld_ = false;
    return true;
  }
  if (key == kF9 && altHeld_) {
    ResetClicked();
    return true;
  }
  if (key == kF10) return true;
  return toCpc;
}

bool MainWindow::HandleMouse(QEvent* event) {
  auto* me = dynamic_cast<QMouseEvent*>(event);
  Machine& m = *machine_;
  const QPoint client = me ? view_->mapTo(this, view_->StretchedPoint(me->position())) - QPoint(0, menuBar()->isVisible() ? menuBar()->height() : 0)
                           : QPoint(lastMouseX_, lastMouseY_);
  const bool lightPen = settings_.LIGHTPEN;
  auto armLightPen = [&] {
    const int offset = (fullScreen_ && !settings_.TOOLBAR) ? 58 : 28;
    m.Crtc.LightPenTargetX = static_cast<uint32_t>(client.x() * layout_.ScaleX + 312) & ~15u;
    m.Crtc.LightPenTargetY = static_cast<uint32_t>(client.y() * layout_.ScaleY + offset) & ~1u;
    m.Crtc.LightPenArmed = 1;
  };
  // Every mouse message but a move ends the joystick directions.
  if (settings_.MOUSEEN && event->type() != QEvent::MouseMove) ReleaseMouseDirections();
  switch (event->type()) {
    case QEvent::MouseMove: {
      // The application's filter sees one move more than once on its way
      // (Qt sends no move without movement): only the first one counts, or
      // the second would let go of the joystick at once.
      if (client == QPoint(lastMouseX_, lastMouseY_)) return false;
      const int dx = client.x() - lastMouseX_;
      const int dy = client.y() - lastMouseY_;
      lastMouseX_ = client.x();
      lastMouseY_ = client.y();
      if (settings_.SYMBIFACE) SymbifaceMouseMove(m.Symbiface, dx * layout_.ScaleX / 2.0, -dy * layout_.ScaleY / 2.0);
      if (lightPen && me->buttons() == Qt::LeftButton) armLightPen();
      if (settings_.MOUSEEN) {
        MouseJoystickMove(m.Keyboard, mouseJoystick_, client.x(), client.y());
        mouseHoldTimer_.start();
      }
      if (cursorHidden_ && !debugForm_->isVisible()) {
        // Keep the pointer inside the window while it drives the machine.
        QPoint p = QCursor::pos();
        const QRect g = frameGeometry();
        QPoint wrapped = p;
        if (p.x() > g.left() + g.width() - 80) wrapped.setX(g.left() + 100);
        if (p.x() < g.left() + 80) wrapped.setX(g.left() + g.width() - 100);
        if (p.y() > g.top() + g.height() - 80) wrapped.setY(g.top() + 100);
        if (p.y() < g.top() + 80) wrapped.setY(g.top() + g.height() - 100);
        if (wrapped != p) {
          QCursor::setPos(wrapped);
          // The jump is no movement of the joystick or the mouse.
          lastMouseX_ += wrapped.x() - p.x();
          lastMouseY_ += wrapped.y() - p.y();
          mouseJoystick_.LastX += wrapped.x() - p.x();
          mouseJoystick_.LastY += wrapped.y() - p.y();
        }
      }
      return false;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
      if (settings_.SYMBIFACE && (me->button() == Qt::LeftButton || me->button() == Qt::RightButton))
        SymbifaceMouseButton(m.Symbiface, me->button() == Qt::LeftButton ? 0 : 1, true);
      if (me->button() == Qt::LeftButton) {
        if (lightPen) armLightPen();
        if (settings_.MOUSEEN) MouseJoystickLeftButton(m.Keyboard, true, altHeld_);
      } else if (me->button() == Qt::RightButton) {
        if (settings_.MOUSEEN) MouseJoystickRightButton(m.Keyboard, true);
        if (!cursorHidden_) {
          showToolbarAction->setChecked(settings_.TOOLBAR);
          popupMenu->popup(me->globalPosition().toPoint());
        }
      }
      return false;
    case QEvent::MouseButtonRelease:
      if (settings_.SYMBIFACE && (me->button() == Qt::LeftButton || me->button() == Qt::RightButton))
        SymbifaceMouseButton(m.Symbiface, me->button() == Qt::LeftButton ? 0 : 1, false);
      if (me->button() == Qt::LeftButton) {
        if (lightPen) m.Crtc.LightPenArmed = 0;
        if (settings_.MOUSEEN) MouseJoystickLeftButton(m.Keyboard, false, altHeld_);
      } else if (me->button() == Qt::RightButton) {
        if (settings_.MOUSEEN) MouseJoystickRightButton(m.Keyboard, false);
      }
      return false;
    case QEvent::Wheel: {
      auto* we = static_cast<QWheelEvent*>(event);
      if (altHeld_) {
        ZoomKeyPressed(we->angleDelta().y() > 0 ? ZoomKey::In : ZoomKey::Out);
      } else if (settings_.SYMBIFACE) {
        SymbifaceMouseWheel(m.Symbiface, we->angleDelta().y());
      }
      return true;
    }
    default:
      return false;
  }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::ShortcutOverride: {
      auto* ke = static_cast<QKeyEvent*>(event);
      if (event->type() == QEvent::ShortcutOverride) {
        // Keep Alt and F10 away from the menu bar.
        if (ke->key() == Qt::Key_Alt || ke->key() == Qt::Key_F10) {
          event->accept();
          return true;
        }
        return false;
      }
      if (!HotKeysApply(watched)) return false;
      if (QuickSnapshotKey(*this, *ke) || rewind_->Key(*ke)) return true;
      return HandleKeyDown(VirtualKeyFromEvent(ke), ke->isAutoRepeat(), ke, KeysReachTheCpc(watched));
    }
    case QEvent::KeyRelease: {
      auto* ke = static_cast<QKeyEvent*>(event);
      if (!HotKeysApply(watched)) return false;
      if (rewind_->Key(*ke)) return true;
      return HandleKeyUp(VirtualKeyFromEvent(ke), ke->isAutoRepeat(), ke, KeysReachTheCpc(watched));
    }
    case QEvent::Show:
      // A menu or dialog takes the keyboard: what was held is let go, as
      // its release will go to the menu.
      if (qobject_cast<QMenu*>(watched) || qobject_cast<QDialog*>(watched)) ReleaseAllKeys();
      return false;
    case QEvent::WindowDeactivate:
      if (watched == this) ReleaseAllKeys();
      return false;
    case QEvent::MouseMove:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
      if (watched == view_) return HandleMouse(event);
      return false;
    default:
      return QMainWindow::eventFilter(watched, event);
  }
}

bool MainWindow::HotKeysApply(QObject* watched) const {
  // Menus and modal dialogs own the keyboard while they are open. Keys are
  // taken where they reach a widget, once, not at the window they pass first.
  if (QApplication::activePopupWidget()) return false;
  if (QApplication::activeModalWidget() && !isActiveWindow()) return false;
  return qobject_cast<QWidget*>(watched) != nullptr;
}

bool MainWindow::KeysReachTheCpc(QObject* watched) const {
  auto* widget = qobject_cast<QWidget*>(watched);
  if (!widget || widget->window() != this || !isActiveWindow()) return false;
  return !menuBar()->hasFocus() && !QApplication::activeModalWidget();
}

void MainWindow::ShowHotKeys() {
  PauseRuleBegin();
  QString text = QString::fromLatin1(kHotKeyText);
  text.replace('\r', '\n');
  QMessageBox::information(this, "HotKeys", text);
  PauseRuleEnd();
}

void MainWindow::ShowCreateNewDisk() {
  PauseRuleBegin();
  NewDiskDialog form(settings_.DISKDIR, this);
  form.exec();
  PauseRuleEnd();
  if (!form.LastWritten.isEmpty()) statusBar()->showMessage("New image saved to " + form.LastWritten, 8000);
}

void MainWindow::ShowAbout() {
  PauseRuleBegin();
  QMessageBox box(this);
  box.setWindowTitle("About...");
  box.setTextFormat(Qt::RichText);
  box.setTextInteractionFlags(Qt::TextBrowserInteraction);
  box.setText(AboutText());
  box.addButton("Ok", QMessageBox::AcceptRole);
  box.exec();
  PauseRuleEnd();
}

void MainWindow::LoadProfileClicked() {
  PauseRuleBegin();
  const QString chosen = QFileDialog::getOpenFileName(this, "Load Profile", QString::fromStdString(settings_.PFLDIR),
                                                      "PFL files (*.pfl)");
  if (!chosen.isEmpty() && QFileInfo::exists(chosen)) SwitchProfile(QFileInfo(chosen).fileName());
  PauseRuleEnd();
}

void MainWindow::SwitchProfile(const QString& fileName) {
  drives_->StoreInSettings();  // the disks stay in their drives
  if (settings_.ProfileCommitted) SaveProfile(settings_);
  SaveProfileState(settings_);
  CloseDevices();
  settings_.LASTPROFILE = (QStringLiteral("/") + fileName).toStdString();
  const SettingsResult r = LoadProfile(settings_);
  if (!r.Ok) QMessageBox::warning(this, "Pellucidore", QString::fromStdString(r.Error));
  UpdateProfileCaptions();
  ApplyProfile(*machine_, settings_);
  OpenDevices();
  ResetMachine(*machine_);
  drives_->Reinsert();
  tapes_->Reinsert();
  ApplyDisplaySettings();
  UpdateMachineChecks();
  ShowBuiltInRoms();
}

void MainWindow::CreateProfileClicked() {
  PauseRuleBegin();
  QString chosen = QFileDialog::getSaveFileName(this, "Save Current Profile", QString::fromStdString(settings_.PFLDIR),
                                                "*PFL files (*.pfl)");
  if (!chosen.isEmpty()) {
    QString name = QFileInfo(chosen).fileName();
    if (!name.contains(".pfl")) name += ".pfl";
    settings_.LASTPROFILE = (QStringLiteral("/") + name).toStdString();
    for (const auto& r : {SaveProfile(settings_), SaveProfileState(settings_)})
      if (!r.Ok) QMessageBox::warning(this, "Pellucidore", QString::fromStdString(r.Error));
    UpdateProfileCaptions();
  }
  PauseRuleEnd();
  // The configuration dialog follows, also after Cancel.
  RunCpcConfiguration(*this, *cpcConfig_);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  Shutdown();
  event->accept();
}

void MainWindow::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  statusTimer_.stop();
  autoTypeTimer_.stop();
  tapes_->FinishRecording();  // a recording in progress is written, not lost
  // Resume and join before any device closes: a parked thread would never
  // see the stop request.
  if (thread_) thread_->Stop();
  lampTimer_.stop();
  drives_->StoreInSettings();
  tapes_->StoreInSettings();
  EjectDisk(machine_->Fdc.Drives[0]);
  EjectDisk(machine_->Fdc.Drives[1]);
  capture_->Shutdown();
  CloseDevices();
  if (fullScreen_ && windowedBounds_.isValid()) {
    settings_.FORM1XPOS = windowedBounds_.x();
    settings_.FORM1YPOS = windowedBounds_.y();
    settings_.FORM1W = windowedBounds_.width();
    settings_.FORM1H = windowedBounds_.height();
  } else {
    settings_.FORM1XPOS = x();
    settings_.FORM1YPOS = y();
    settings_.FORM1W = width();
    settings_.FORM1H = height();
  }
  settings_.FORM3XPOS = debugForm_->x();
  settings_.FORM3YPOS = debugForm_->y();
  for (const auto& r : {SaveLastState(settings_), SaveProfileState(settings_)}) {
    if (!r.Ok) QMessageBox::warning(nullptr, "Pellucidore", QString::fromStdString(r.Error));
  }
}
