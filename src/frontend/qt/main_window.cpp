#include "frontend/qt/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
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

#include "frontend/qt/autotype_box.h"
#include "frontend/qt/config_dialogs.h"
#include "debugger/qt/debug_form.h"
#include "frontend/qt/drive_menu.h"
#include "frontend/qt/tape_menu.h"
#include "frontend/qt/capture_ui.h"
#include "frontend/qt/frame_view.h"
#include "frontend/qt/keyboard_mapper.h"
#include "frontend/qt/new_disk_form.h"
#include "frontend/qt/qt_keys.h"
#include "frontend/qt/snapshot_menu.h"
#include "platform/key_codes.h"
#include "platform/serial_port.h"

namespace fs = std::filesystem;

const char* const TMainCPCForm::kHotKeyText =
    "F2\t\t\tShow Overlay Info\rAlt+F2\t\t\tChange Overlay Color\rF3\t\t\tShow/Hide mouse cursor\r"
    "F4\t\t\tDebugger Step\rF5\t\t\tSave ScreenShot\rF6\t\t\tSave Consecutive Shots\rF7\t\t\tCapture AVI\r"
    "F8\t\t\tCapture Audio\rAlt+F9\t\t\tReset (hold and release)\rF10\t\t\tPause/Resume Emulation \r"
    "F11\t\t\tFullscreen\rF12\t\t\tExit\rNumLock\t\tToggle between FKeys-Joystick\r"
    "Alt+Resizing\t\tForce 4:3 ratio while resizing\rAlt+MouseWheel\t\tZoom in/Out\r"
    "Alt+Numpad +/-\t\tZoom in/Out\rAlt+Arrow keys\t\tMove the zoomed image\r"
    "Alt+Left Mouse Key\tEmulate Middle Mouse Key";

namespace {

constexpr int kF2 = 0x71, kF3 = 0x72, kF4 = 0x73, kF5 = 0x74, kF6 = 0x75, kF7 = 0x76, kF8 = 0x77, kF9 = 0x78,
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
class TMainCPCForm::Hooks : public PeriodHooks {
 public:
  explicit Hooks(TMainCPCForm& form) : form_(form) {}
  void PublishFrame(Machine& m) override { form_.view_->Publish(&m.Video.FrameBitmap[0][0]); }
  void SubmitSound(Machine& m) override {
    if (form_.sound_.Device != 0) SoundSubmit(form_.sound_, m.Psg);
  }
  void Stills(Machine& m) override { form_.capture_->StillsPeriod(m); }
  void Capture(Machine& m) override { form_.capture_->CapturePeriod(m); }

 private:
  TMainCPCForm& form_;
};

TMainCPCForm::TMainCPCForm(const fs::path& startDir, QWidget* parent)
    : QMainWindow(parent), startDir_(startDir), hooks_(std::make_unique<Hooks>(*this)) {
  setWindowTitle("Pellucidore 1.1");
  setWindowFlags(windowFlags() & ~Qt::WindowMaximizeButtonHint);

  // Settings and profile first: the window and the machine follow them.
  settings_ = DefaultSettings(startDir_);
  if (auto r = LoadSettings(settings_); !r.Ok) QMessageBox::warning(this, "Pellucidore", QString::fromStdString(r.Error));
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
  BuildActions();
  BuildToolBar();
  BuildStatusBar();
  cpcConfig_ = new TCPCConfigMenu(this);
  miscConfig_ = new TMiscConfigMenu(this);
  keyMapper_ = new TKeyBoardMapper(keyMap_, startDir_ / kKeyMapFileName, this);
  autoTypeBox_ = new TAutoTypeBox(autoType_, autoTypeTimer_, startDir_, this);
  autoTypeBox_->move(settings_.FORM7XPOS, settings_.FORM7YPOS);
  BuildMenus();
  capture_ = std::make_unique<CaptureController>(this, *machine_, settings_,
                                                 CaptureButtons{ToolButton4, ToolButton10, ToolButton15, ToolButton16, ToolButton7});
  capture_->Suspend = [this] { PauseRuleBegin(); };
  capture_->Resume = [this] { PauseRuleEnd(); };
  capture_->EmulationRunning = [this] { return emulationRunning_; };
  connect(capture_.get(), &CaptureController::CaptureError, this, [this](const QString& m) { statusBar()->showMessage(m, 8000); });

  overlay_ = QImage(96, 50, QImage::Format_ARGB32);
  overlay_.fill(Qt::black);

  setGeometry(settings_.FORM1XPOS, settings_.FORM1YPOS, settings_.FORM1W, settings_.FORM1H);

  debugForm_ = new TDebugForm(*machine_, this);
  debugForm_->move(settings_.FORM3XPOS, settings_.FORM3YPOS);
  debugForm_->SetPaused(!emulationRunning_);
  connect(debugForm_, &TDebugForm::Closed, this, [this] { ToolButton7->setChecked(false); });

  OpenDevices();
  ResetMachine(*machine_);
  drives_->Reinsert();
  tapes_->Reinsert();
  ApplyDisplaySettings();
  UpdateLamps();
  lampTimer_.setInterval(40);
  connect(&lampTimer_, &QTimer::timeout, this, &TMainCPCForm::UpdateLamps);
  lampTimer_.start();

  // Say so when the firmware is missing, and where it goes: a black window
  // explains nothing. Said on the terminal too.
  const MachineConfig romConfig = MachineConfigFromSettings(settings_);
  std::error_code ec;
  if (!fs::exists(romConfig.RomDir / romConfig.LowerRom, ec)) {
    QStringList wanted{QString::fromStdString(romConfig.LowerRom)};
    for (const std::string& rom : settings_.ROM)
      if (rom != "EMPTY" && !rom.empty()) wanted << QString::fromStdString(rom);
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
  }

  qApp->installEventFilter(this);
  statusTimer_.setInterval(300);
  connect(&statusTimer_, &QTimer::timeout, this, &TMainCPCForm::StatusTimerTick);
  statusTimer_.start();
  autoTypeTimer_.setInterval(50);
  connect(&autoTypeTimer_, &QTimer::timeout, this, &TMainCPCForm::AutoTypeTick);
}

TMainCPCForm::~TMainCPCForm() {
  qApp->removeEventFilter(this);
  Shutdown();
}

QSize TMainCPCForm::ClientSize() const {
  const int menu = menuBar()->isVisible() ? menuBar()->height() : 0;
  return QSize(width(), height() - menu);
}

void TMainCPCForm::SetClientSize(int width, int height) {
  const int menu = menuBar()->isVisible() ? menuBar()->sizeHint().height() : 0;
  resize(width, height + menu);
}

void TMainCPCForm::BuildActions() {}

void TMainCPCForm::BuildToolBar() {
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
  ToolButton4 = button(CameraIcon(), "", false, [this] { capture_->ScreenshotClicked(); });
  ToolButton10 = button(SeriesIcon(), "", false, [this] { capture_->SeriesClicked(); });
  ToolButton15 = button(FilmIcon(), "", true, [this] { capture_->AviClicked(); });
  ToolButton16 = button(NoteIcon(), "", true, [this] { capture_->WavClicked(); });
  toolBar_->addSeparator();
  ToolButton8 = button(HalfIcon(), "Half Size", false, [this] { HalfSize(); });
  ToolButton9 = button(FullIcon(), "Full Size", false, [this] { FullSize(); });
  ToolButton7 = button(BugIcon(), "Debugger", true, [this] { DebuggerClicked(); });
}

void TMainCPCForm::BuildStatusBar() {
  QStatusBar* bar = statusBar();
  bar->setFixedHeight(kStatusBarHeight);
  bar->setSizeGripEnabled(false);
  lamps_ = new LampPanel(bar);
  panelA_ = new QLabel("A: Empty", bar);
  panelA_->setFixedWidth(80);
  panelB_ = new QLabel("B: Empty", bar);
  panelB_->setFixedWidth(80);
  panelSpeed_ = new QLabel("", bar);
  panelSpeed_->setFixedWidth(100);
  auto* empty = new QLabel("", bar);
  empty->setFixedWidth(40);
  tapeLamp_ = new TapeLamp(bar);
  tapeCounter_ = new QLabel("", bar);
  tapeCounter_->setFixedWidth(70);
  bar->addWidget(lamps_);
  bar->addWidget(tapeLamp_);
  bar->addWidget(panelA_);
  bar->addWidget(panelB_);
  bar->addWidget(tapeCounter_);
  bar->addWidget(panelSpeed_);
  bar->addWidget(empty);
  drives_->SetPanels(panelA_, panelB_);
  tapes_->SetStatusWidgets(tapeLamp_, tapeCounter_);
}

void TMainCPCForm::BuildMenus() {
  auto fillFile = [&](QMenu* file) {
    drives_->AddMenus(file);
    file->addAction("Load SnapShot", this, [this] { LoadSnapshotClicked(*this); });
    file->addAction("Save Snapshot", this, [this] { SaveSnapshotClicked(*this); });
  };

  QMenu* file = menuBar()->addMenu("File");
  fillFile(file);
  file->addAction("Exit", this, [this] {
    QApplication::processEvents();
    close();
  });

  tapes_->FillMenu(menuBar()->addMenu("Tape"));

  QMenu* options = menuBar()->addMenu("Options");
  options->addAction("CPC Configuration", this, [this] { RunCpcConfiguration(*this, *cpcConfig_); });
  options->addAction("Misc Settings", this, [this] { RunMiscConfiguration(*this, *miscConfig_); });
  options->addAction("FullScreen (F11)", this, [this] { ToggleFullScreen(); });

  QMenu* profiles = menuBar()->addMenu("Profiles");
  profiles->addAction("Create New Profile", this, [this] { CreateProfileClicked(); });
  profiles->addAction("Load Profile", this, [this] { LoadProfileClicked(); });
  currentProfileAction = profiles->addAction("");
  currentProfileAction->setEnabled(false);

  QMenu* tools = menuBar()->addMenu("Tools");
  tools->addAction("Create New Disk", this, [this] { ShowCreateNewDisk(); });
  tools->addAction("Keyboard Mapper", this, [this] { RunKeyboardMapper(*this, *keyMapper_); });
  tools->addAction("AutoType", this, [this] { ShowAutoType(); });

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
  QMenu* popupProfiles = popupMenu->addMenu("Profiles");
  popupProfiles->addAction("Create new Profile", this, [this] { CreateProfileClicked(); });
  popupProfiles->addAction("Load Profile", this, [this] { LoadProfileClicked(); });
  popupCurrentProfileAction = popupProfiles->addAction("");
  popupCurrentProfileAction->setEnabled(false);
  UpdateProfileCaptions();
}

void TMainCPCForm::UpdateProfileCaptions() {
  const QString caption = QString::fromStdString(ProfileCaption(settings_));
  currentProfileAction->setText(caption);
  popupCurrentProfileAction->setText(caption);
}

void TMainCPCForm::UpdateLamps() {
  auto colour = [](uint32_t bgr) { return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF); };
  lamps_->SetColours(colour(machine_->Fdc.ActivityColour[0].load()), colour(machine_->Fdc.ActivityColour[1].load()),
                     colour(machine_->Symbiface.HddActivityColour.load()), settings_.SYMBIFACE);
  tapes_->Refresh();
  const uint32_t noises = machine_->Fdc.SoundEvents.exchange(0);
  if (noises && settings_.FDDSOUNDENABLE) driveSounds_.Play(noises);
}

void TMainCPCForm::OpenDevices() {
  keyMap_ = DefaultKeyMap();
  const fs::path keyMapFile = startDir_ / "Keymap.map";
  std::error_code ec;
  if (fs::exists(keyMapFile, ec)) {
    KeyMap loaded;
    if (LoadKeyMap(loaded, keyMapFile).Ok) keyMap_ = loaded;
  }
  SoundSettings sound{settings_.SOUNDENABLED, static_cast<uint32_t>(settings_.CHANNELS),
                      static_cast<uint32_t>(settings_.SAMPLERATE), static_cast<uint32_t>(settings_.BITSPERSAMPLE)};
  if (!SoundOpen(sound_, machine_->Psg, sound) && settings_.SOUNDENABLED) {
    settings_.SOUNDENABLED = false;
    if (!sound_.Error.empty()) statusBar()->showMessage(QString::fromStdString("Sound off: " + sound_.Error), 5000);
  }
  // Printer port and serial interface; a failure switches the device off.
  machine_->Printer.PrintDir = settings_.PRINTDIR;
  machine_->Printer.Device = &digiblaster_;
  std::string failed = PrinterSetMode(*machine_, MachineConfigFromSettings(settings_).PrinterMode);
  if (const std::string serial = SerialOpen(machine_->Serial, settings_.SERIAL, MakeHostSerialPort()); !serial.empty())
    failed = serial;
  if (!failed.empty()) statusBar()->showMessage(QString::fromStdString(failed), 5000);
  if (settings_.FDDSOUNDENABLE) driveSounds_.Open();
  SymbifaceStart(*machine_, startDir_, settings_.SYMBIFACE ? settings_.HDD0PATH : std::string(),
                 settings_.SYMBIFACE ? settings_.HDD1PATH : std::string());
}

void TMainCPCForm::CloseDevices() {
  SoundClose(sound_, machine_->Psg);
  PrinterStop(*machine_);
  SerialClose(machine_->Serial);
  driveSounds_.Close();
  const std::string error = SymbifaceEnd(*machine_, startDir_);
  if (!error.empty()) QMessageBox::warning(this, "Pellucidore", QString::fromStdString(error));
}

void TMainCPCForm::ApplyConfiguration() {
  // No reset: the machine runs on with the new configuration, ROMs and
  // colours. The key map and drive noises are not the profile's and stay.
  ApplyProfile(*machine_, settings_);
  std::string failed;
  // A printer port whose mode stays is left alone, so a document being
  // printed is not cut in two.
  if (const uint32_t mode = MachineConfigFromSettings(settings_).PrinterMode; mode != machine_->Printer.PrinterMode)
    failed = PrinterSetMode(*machine_, mode);
  SoundClose(sound_, machine_->Psg);
  SoundSettings sound{settings_.SOUNDENABLED, static_cast<uint32_t>(settings_.CHANNELS),
                      static_cast<uint32_t>(settings_.SAMPLERATE), static_cast<uint32_t>(settings_.BITSPERSAMPLE)};
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

void TMainCPCForm::ShowAutoType() {
  autoTypeBox_->show();
  autoTypeBox_->raise();
  autoTypeBox_->activateWindow();
}

void TMainCPCForm::ApplyDisplaySettings() {
  Zoom z{settings_.ZOOM, settings_.ZOOMXOFF, settings_.ZOOMYOFF};
  const Rect source = ApplyZoom(z);
  settings_.ZOOMXOFF = z.ZOOMXOFF;
  settings_.ZOOMYOFF = z.ZOOMYOFF;
  view_->SetSmooth(settings_.DIRECTXSTRETCH, source);
  view_->SetOverlay(settings_.OVERLAY, overlay_);
}

void TMainCPCForm::StartEmulation() {
  if (thread_) return;
  thread_ = std::make_unique<EmulationThread>(*machine_, *hooks_);
  thread_->SetFastTape(settings_.FASTTAPE);
  if (!emulationRunning_) thread_->SuspendEmulation();
  thread_->Start();
}

void TMainCPCForm::PauseRuleBegin() {
  if (emulationRunning_ && thread_) thread_->SuspendEmulation();
}

void TMainCPCForm::PauseRuleEnd() {
  if (emulationRunning_ && thread_) thread_->ResumeEmulation();
}

void TMainCPCForm::TogglePause() {
  if (emulationRunning_) {
    emulationRunning_ = false;
    if (thread_) thread_->SuspendEmulation();
    ToolButton1->setIcon(PlayIcon());
    ToolButton1->setToolTip("Resume");
    debugForm_->SetPaused(true);
    if (ToolButton7->isChecked()) debugForm_->show();
  } else {
    emulationRunning_ = true;
    if (thread_) thread_->ResumeEmulation();
    ToolButton1->setIcon(PauseIcon());
    ToolButton1->setToolTip("Pause");
    debugForm_->SetPaused(false);
  }
}

void TMainCPCForm::DebuggerClicked() {
  if (debugForm_->isVisible()) {
    debugForm_->hide();
    ToolButton7->setChecked(false);
    return;
  }
  ToolButton7->setChecked(true);
  if (emulationRunning_) TogglePause();
  debugForm_->show();
}

void TMainCPCForm::ResetClicked() {
  PauseRuleBegin();
  ResetMachine(*machine_);
  PauseRuleEnd();
}

void TMainCPCForm::HalfSize() {
  SetClientSize(384, 288 + kBarsHeight);
}

void TMainCPCForm::FullSize() {
  SetClientSize(768, 576 + kBarsHeight);
}

void TMainCPCForm::ToggleFullScreen() {
  if (!fullScreen_) {
    windowedBounds_ = geometry();
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
    setGeometry(windowedBounds_);
    menuBar()->show();
    toolBar_->show();
    statusBar()->show();
    ToolButton8->setEnabled(true);
    ToolButton9->setEnabled(true);
  }
  ApplyLayout();
}

void TMainCPCForm::ApplyLayout() {
  const QSize client = ClientSize();
  layout_ = LayoutWindow(client.width(), client.height(), fullScreen_ && !settings_.TOOLBAR, layout_);
}

void TMainCPCForm::resizeEvent(QResizeEvent* event) {
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

void TMainCPCForm::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange || !thread_) return;
  // Minimised: the machine waits, whatever the user's pause state.
  auto* change = static_cast<QWindowStateChangeEvent*>(event);
  const bool wasMin = change->oldState() & Qt::WindowMinimized;
  const bool isMin = windowState() & Qt::WindowMinimized;
  if (isMin && !wasMin) PauseRuleBegin();
  if (wasMin && !isMin) PauseRuleEnd();
}

void TMainCPCForm::StatusTimerTick() {
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

void TMainCPCForm::UpdateOverlay(uint32_t speed, uint32_t rate) {
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

void TMainCPCForm::AutoTypeTick() {
  if (!AutoTypeStep(autoType_, machine_->Keyboard)) autoTypeTimer_.stop();
}

void TMainCPCForm::ZoomKeyPressed(ZoomKey key) {
  Zoom z{settings_.ZOOM, settings_.ZOOMXOFF, settings_.ZOOMYOFF};
  const Rect source = ZoomStep(z, key);
  settings_.ZOOM = z.ZOOM;
  settings_.ZOOMXOFF = z.ZOOMXOFF;
  settings_.ZOOMYOFF = z.ZOOMYOFF;
  view_->SetSmooth(settings_.DIRECTXSTRETCH, source);
}

bool TMainCPCForm::HandleKeyDown(int code, bool autoRepeat) {
  const int key = code & 0xFF;
  if (key == vk::kMenu) {
    altHeld_ = true;
    return true;
  }
  // Toggles act once per press, not per auto-repeat.
  switch (key) {
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
  if (settings_.DIRECTXSTRETCH && altHeld_) {
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
  if (isActiveWindow() && !autoRepeat) KeyDown(machine_->Keyboard, keyMap_, static_cast<uint32_t>(code));
  return isActiveWindow();
}

bool TMainCPCForm::HandleKeyUp(int code, bool autoRepeat) {
  if (autoRepeat) return true;  // X11 repeats as release/press pairs
  if (isActiveWindow()) KeyUp(machine_->Keyboard, keyMap_, static_cast<uint32_t>(code));
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
  return isActiveWindow();
}

bool TMainCPCForm::HandleMouse(QEvent* event) {
  auto* me = dynamic_cast<QMouseEvent*>(event);
  Machine& m = *machine_;
  const QPoint client = me ? view_->mapTo(this, me->position().toPoint()) - QPoint(0, menuBar()->isVisible() ? menuBar()->height() : 0)
                           : QPoint(lastMouseX_, lastMouseY_);
  const bool lightPen = settings_.LIGHTPEN;
  auto armLightPen = [&] {
    const int offset = (fullScreen_ && !settings_.TOOLBAR) ? 58 : 28;
    m.Crtc.LightPenTargetX = static_cast<uint32_t>(client.x() * layout_.ScaleX + 312) & ~15u;
    m.Crtc.LightPenTargetY = static_cast<uint32_t>(client.y() * layout_.ScaleY + offset) & ~1u;
    m.Crtc.LightPenArmed = 1;
  };
  switch (event->type()) {
    case QEvent::MouseMove: {
      const int dx = client.x() - lastMouseX_;
      const int dy = client.y() - lastMouseY_;
      lastMouseX_ = client.x();
      lastMouseY_ = client.y();
      if (settings_.SYMBIFACE) SymbifaceMouseMove(m.Symbiface, dx * layout_.ScaleX / 2.0, -dy * layout_.ScaleY / 2.0);
      if (lightPen && me->buttons() == Qt::LeftButton) armLightPen();
      if (settings_.MOUSEEN) MouseJoystickMove(m.Keyboard, mouseJoystick_, dx, dy);
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
          lastMouseX_ += wrapped.x() - p.x();
          lastMouseY_ += wrapped.y() - p.y();
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
        if (settings_.DIRECTXSTRETCH) ZoomKeyPressed(we->angleDelta().y() > 0 ? ZoomKey::In : ZoomKey::Out);
      } else if (settings_.SYMBIFACE) {
        SymbifaceMouseWheel(m.Symbiface, we->angleDelta().y());
      }
      return true;
    }
    default:
      return false;
  }
}

bool TMainCPCForm::eventFilter(QObject* watched, QEvent* event) {
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
      if (!isActiveWindow() && QApplication::activeModalWidget()) return false;
      return HandleKeyDown(VirtualKeyFromEvent(ke), ke->isAutoRepeat());
    }
    case QEvent::KeyRelease: {
      auto* ke = static_cast<QKeyEvent*>(event);
      if (!isActiveWindow() && QApplication::activeModalWidget()) return false;
      return HandleKeyUp(VirtualKeyFromEvent(ke), ke->isAutoRepeat());
    }
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

void TMainCPCForm::ShowHotKeys() {
  PauseRuleBegin();
  QString text = QString::fromLatin1(kHotKeyText);
  text.replace('\r', '\n');
  QMessageBox::information(this, "HotKeys", text);
  PauseRuleEnd();
}

void TMainCPCForm::ShowCreateNewDisk() {
  PauseRuleBegin();
  TCreateNewDiskForm form(settings_.DISKDIR, this);
  form.exec();
  PauseRuleEnd();
}

void TMainCPCForm::ShowAbout() {
  PauseRuleBegin();
  QMessageBox box(this);
  box.setWindowTitle("About...");
  box.setText("Pellucidore\nVersion 1.1");
  box.setTextFormat(Qt::PlainText);
  box.addButton("Ok", QMessageBox::AcceptRole);
  box.exec();
  PauseRuleEnd();
}

void TMainCPCForm::LoadProfileClicked() {
  PauseRuleBegin();
  const QString chosen = QFileDialog::getOpenFileName(this, "Load Profile", QString::fromStdString(settings_.PFLDIR),
                                                      "PFL files (*.pfl)");
  if (!chosen.isEmpty() && QFileInfo::exists(chosen)) {
    if (settings_.ProfileCommitted) SaveProfile(settings_);
    SaveProfileState(settings_);
    CloseDevices();
    settings_.LASTPROFILE = (QStringLiteral("/") + QFileInfo(chosen).fileName()).toStdString();
    const SettingsResult r = LoadProfile(settings_);
    if (!r.Ok) QMessageBox::warning(this, "Pellucidore", QString::fromStdString(r.Error));
    UpdateProfileCaptions();
    ApplyProfile(*machine_, settings_);
    OpenDevices();
    ResetMachine(*machine_);
    drives_->Reinsert();
    tapes_->Reinsert();
    ApplyDisplaySettings();
  }
  PauseRuleEnd();
}

void TMainCPCForm::CreateProfileClicked() {
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

void TMainCPCForm::closeEvent(QCloseEvent* event) {
  Shutdown();
  event->accept();
}

void TMainCPCForm::Shutdown() {
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
