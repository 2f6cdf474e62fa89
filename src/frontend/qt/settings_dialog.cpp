#include "frontend/qt/settings_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "core/builtin_roms.h"
#include "frontend/machine_models.h"
#include "devices/keymap.h"
#include "frontend/qt/main_window.h"
#include "frontend/qt/rewind_control.h"
#include "platform/cups_printer.h"
#include "platform/serial_port.h"
#include "frontend/qt/config_dialog_frame.h"

using namespace config_frame;

SettingsDialog::SettingsDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Misc Configuration");
  QHBoxLayout* buttons = nullptr;
  BuildFrame(this, TreeView1, Pages, {"Directories", "Screenshots", "Capture", "Misc", "Joystick"}, buttons);

  ChooseDirectory = [](QWidget* parent, const QString& current) {
    return QFileDialog::getExistingDirectory(parent, "Select Directory", current);
  };

  // Directories
  {
    QVBoxLayout* page = AddPage(Pages, "Directories");
    page->addWidget(new QLabel("Directory for..."));
    DirectoryKind = new QComboBox;
    for (const char* kind : kDirectoryKinds) DirectoryKind->addItem(kind);
    page->addWidget(DirectoryKind);
    DirectoryLabel = new QLabel;
    DirectoryLabel->setWordWrap(true);
    DirectoryLabel->setFrameShape(QFrame::StyledPanel);
    page->addWidget(DirectoryLabel);
    ChangeButton = new QPushButton("Change");
    ChangeButton->setAutoDefault(false);
    page->addWidget(ChangeButton, 0, Qt::AlignLeft);
    page->addStretch(1);
    connect(DirectoryKind, &QComboBox::currentIndexChanged, this, [this](int kind) {
      if (kind >= 0) DirectoryLabel->setText(Q(Directories[kind]));
    });
    connect(ChangeButton, &QPushButton::clicked, this, &SettingsDialog::ChangeClicked);
  }
  // Screenshots
  {
    QVBoxLayout* page = AddPage(Pages, "Screenshots");
    auto* format = new QGroupBox("Still Format");
    auto* fl = new QVBoxLayout(format);
    fl->setSpacing(0);
    const char* names[4] = {"Bitmap (BMP)", "Compressed (JPEG)", "Compuserve Image File (GIF)",
                            "Portable Network Graphics (PNG)"};
    for (int i = 0; i < 4; ++i) {
      Formats[i] = new QRadioButton(names[i]);
      fl->addWidget(Formats[i]);
      connect(Formats[i], &QRadioButton::toggled, this, [this] { QualityBar->setEnabled(Formats[1]->isChecked()); });
    }
    auto* quality = new QHBoxLayout;
    QualityBar = new QSlider(Qt::Horizontal);
    QualityBar->setRange(1, 100);
    QualityBar->setTickInterval(10);
    QualityBar->setTickPosition(QSlider::TicksBelow);
    QualityLabel = new QLabel;
    QualityLabel->setFixedWidth(28);
    quality->addWidget(QualityBar, 1);
    quality->addWidget(QualityLabel);
    fl->addLayout(quality);
    page->addWidget(format);
    connect(QualityBar, &QSlider::valueChanged, this, [this](int v) { QualityLabel->setText(QString::number(v)); });
    // Long captions are broken where they would wrap in the narrow page.
    NameByDsk = new QCheckBox("Name image files according to the\nDSK name if any");
    NameByDsk->setToolTip("By default the images are saved as CPC plus a number");
    SaveStillDialog = new QCheckBox("Show a Save Dialog");
    SaveHalfSize = new QCheckBox("Save at half size");
    for (QCheckBox* c : {NameByDsk, SaveStillDialog, SaveHalfSize}) page->addWidget(c);
    auto* series = new QHBoxLayout;
    series->addWidget(new QLabel("Consecutive Stills"));
    MaxStills = new QSpinBox;
    MaxStills->setRange(1, 50);
    MaxStills->setToolTip("1-50");
    // Read-only field: the arrows alone change it.
    if (auto* edit = MaxStills->findChild<QLineEdit*>()) edit->setReadOnly(true);
    series->addWidget(MaxStills);
    series->addStretch(1);
    page->addLayout(series);
    series = new QHBoxLayout;
    series->addWidget(new QLabel("Every"));
    EveryFrame = new QSpinBox;
    EveryFrame->setRange(1, 100);
    EveryFrame->setToolTip("1-100");
    series->addWidget(EveryFrame);
    FramesLabel = new QLabel("Frame");
    series->addWidget(FramesLabel);
    series->addStretch(1);
    page->addLayout(series);
    page->addStretch(1);
    connect(EveryFrame, &QSpinBox::valueChanged, this, [this](int v) { FramesLabel->setText(FramesWord(v)); });
  }
  // Capture
  {
    QVBoxLayout* page = AddPage(Pages, "Capture Video && Sound");
    VideoCodecButton = new QPushButton("Select Video Compression Codec");
    AudioCodecButton = new QPushButton("Select Audio Compresion Codec");
    for (QPushButton* b : {VideoCodecButton, AudioCodecButton}) {
      b->setEnabled(false);
      b->setAutoDefault(false);
      page->addWidget(b);
      page->addWidget(new QLabel("No Codec Selected"));
    }
    VideoDialog = new QCheckBox("Always display a Save Dialog");
    page->addWidget(VideoDialog);
    page->addStretch(1);
  }
  // Miscellaneous
  {
    QVBoxLayout* page = AddPage(Pages, "Miscellaneous");
    Toolbar = new QCheckBox("Show Toolbars in FullScreen Mode");
    FddSound = new QCheckBox("Floppy Drive makes noise");
    // The long caption is broken where it would wrap in the narrow page.
    IndividualSet =
        new QCheckBox("Each Hardware Profile remembers\nWindow size, position and the last\nDSK image used.");
    IndividualSet->setToolTip("By default Window size and position is globaly the same");
    for (QCheckBox* c : {Toolbar, FddSound, IndividualSet}) page->addWidget(c);
    // Every other setting applies at once; where the disks and the window
    // come from is decided when a profile is read.
    IndividualSetNote = new QLabel("(takes effect at the next start\nor profile load)");
    page->addWidget(IndividualSetNote);
    DefaultPrinterLabel = new QLabel;
    page->addWidget(DefaultPrinterLabel);
    // A spin box after its caption, on one line.
    auto spinRow = [page](const char* caption, int low, int high, const char* suffix, const char* tip) {
      auto* row = new QWidget;
      auto* layout = new QHBoxLayout(row);
      layout->setContentsMargins(0, 0, 0, 0);
      layout->addWidget(new QLabel(caption));
      auto* spin = new QSpinBox;
      spin->setRange(low, high);
      spin->setSuffix(suffix);
      spin->setToolTip(tip);
      layout->addWidget(spin);
      layout->addStretch(1);
      page->addWidget(row);
      return spin;
    };
    PrinterIdle = spinRow("A print job ends after", 1, 3600, " s",
                          "Seconds without printing after which the CPC's print-out goes to the printer");
    Rewind = new QCheckBox("Keep the last 30 seconds for rewind (Shift+F4)");
    page->addWidget(Rewind);
    RewindMemory = spinRow("Rewind memory at most", kRewindMemoryMin, kRewindMemoryMax, " MB",
                           "When the kept seconds need more, the oldest are dropped");
    page->addStretch(1);
  }
  // Joystick
  {
    QVBoxLayout* page = AddPage(Pages, "Joystick");
    PadJoystick = new QCheckBox("Game controllers drive CPC joysticks 0 and 1");
    KeyJoystick = new QCheckBox("Keyboard joystick: the cursor keys and\ntwo fire keys drive CPC joystick 0");
    page->addWidget(PadJoystick);
    page->addWidget(KeyJoystick);
    auto* keys = new QGridLayout;
    FireKeys = {new QComboBox, new QComboBox};
    // Keys a player can reach beside the cursor keys, by place.
    std::vector<int> codes = {32, 16, 272, 17, 273, 9, 13, 301, 302, 292, 291, 289, 290};
    for (int c = 'A'; c <= 'Z'; ++c) codes.push_back(c);
    for (int c = '0'; c <= '9'; ++c) codes.push_back(c);
    for (int c = 96; c <= 105; ++c) codes.push_back(c);
    for (size_t i = 0; i < FireKeys.size(); ++i) {
      for (int code : codes) FireKeys[i]->addItem(Q(KeyName(static_cast<uint32_t>(code))), code);
      keys->addWidget(new QLabel(i == 0 ? "FIRE 1 key:" : "FIRE 2 key:"), static_cast<int>(i), 0);
      keys->addWidget(FireKeys[i], static_cast<int>(i), 1);
    }
    page->addLayout(keys);
    page->addStretch(1);
  }

  ApplyButton = AddButton(this, buttons, "Apply");
  ApplyButton->setToolTip("Apply All Changes and Exit Configuration");
  CancelButton = AddButton(this, buttons, "Cancel");
  CancelButton->setToolTip("Cancel All Changes and Exit Configuration");
  connect(ApplyButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);

  TreeView1->setCurrentItem(TreeView1->topLevelItem(0));
}

void SettingsDialog::ChangeClicked() {
  const int kind = DirectoryKind->currentIndex();
  if (kind < 0) return;
  const QString chosen = ChooseDirectory(this, Q(Directories[kind]));
  if (chosen.isEmpty()) return;
  std::string dir = chosen.toStdString();
  if (!dir.ends_with('/')) dir += '/';
  Directories[kind] = dir;
  DirectoryLabel->setText(Q(dir));
}

void SettingsDialog::LoadFromSettings(const Settings& s) {
  Directories = {s.ROMDIR, s.DISKDIR, s.SNAPDIR, s.STILLSDIR, s.PRINTDIR, s.PFLDIR, s.CAPTUREDIR};
  DirectoryKind->setCurrentIndex(0);
  DirectoryLabel->setText(Q(Directories[0]));

  CheckRadio({{Formats[0], 0}, {Formats[1], 1}, {Formats[2], 2}, {Formats[3], 3}}, s.SAVETYPE);
  QualityBar->setEnabled(s.SAVETYPE == 1);
  QualityBar->setValue(s.JPGQUALITY);
  QualityLabel->setText(QString::number(QualityBar->value()));
  NameByDsk->setChecked(s.NAMEBYDSK);
  SaveStillDialog->setChecked(s.SAVESTILLDIALOG);
  SaveHalfSize->setChecked(s.SAVEHALFSIZE);
  MaxStills->setValue(s.MAXSTILLS);
  EveryFrame->setValue(s.EVERYFRAME);
  FramesLabel->setText(FramesWord(s.EVERYFRAME));
  VideoDialog->setChecked(s.VIDEODIALOG);
  Toolbar->setChecked(s.TOOLBAR);
  FddSound->setChecked(s.FDDSOUNDENABLE);
  IndividualSet->setChecked(s.INDIVIDUALSET);
  PrinterIdle->setValue(s.PRINTERIDLE);
  Rewind->setChecked(s.REWIND);
  RewindMemory->setValue(s.REWINDMEMORY);
  std::string why;
  const std::string printer = CupsPrinter::DefaultDestination(&why);
  DefaultPrinterLabel->setText(printer.empty() ? Q("Default printer: none (" + why + ")")
                                               : Q("Default printer: " + printer));
  PadJoystick->setChecked(s.PADJOYSTICK);
  KeyJoystick->setChecked(s.KEYJOYSTICK);
  for (size_t i = 0; i < FireKeys.size(); ++i) {
    const int code = i == 0 ? s.KEYJOYFIRE1 : s.KEYJOYFIRE2;
    int index = FireKeys[i]->findData(code);
    // A key chosen by editing the file is kept and shown by its name.
    if (index < 0) {
      FireKeys[i]->addItem(Q(KeyName(static_cast<uint32_t>(code))), code);
      index = FireKeys[i]->count() - 1;
    }
    FireKeys[i]->setCurrentIndex(index);
  }
}

bool SettingsDialog::ShowMiscConfiguration(const Settings& s) {
  LoadFromSettings(s);
  return exec() == QDialog::Accepted;
}

void SettingsDialog::ApplyMiscConfiguration(Settings& s) const {
  s.ROMDIR = Directories[0];
  s.DISKDIR = Directories[1];
  s.SNAPDIR = Directories[2];
  s.STILLSDIR = Directories[3];
  s.PRINTDIR = Directories[4];
  s.PFLDIR = Directories[5];
  s.CAPTUREDIR = Directories[6];
  CheckedValue({{Formats[0], 0}, {Formats[1], 1}, {Formats[2], 2}, {Formats[3], 3}}, s.SAVETYPE);
  s.JPGQUALITY = QualityBar->value();
  s.NAMEBYDSK = NameByDsk->isChecked();
  s.SAVESTILLDIALOG = SaveStillDialog->isChecked();
  s.SAVEHALFSIZE = SaveHalfSize->isChecked();
  s.MAXSTILLS = MaxStills->value();
  s.EVERYFRAME = EveryFrame->value();
  s.TOOLBAR = Toolbar->isChecked();
  s.INDIVIDUALSET = IndividualSet->isChecked();
  s.PRINTERIDLE = PrinterIdle->value();
  s.REWIND = Rewind->isChecked();
  s.REWINDMEMORY = RewindMemory->value();
  s.FDDSOUNDENABLE = FddSound->isChecked();
  s.VIDEODIALOG = VideoDialog->isChecked();
  s.PADJOYSTICK = PadJoystick->isChecked();
  s.KEYJOYSTICK = KeyJoystick->isChecked();
  s.KEYJOYFIRE1 = FireKeys[0]->currentData().toInt();
  s.KEYJOYFIRE2 = FireKeys[1]->currentData().toInt();
}

void RunMiscConfiguration(MainWindow& window, SettingsDialog& dialog) {
  window.PauseRuleBegin();
  if (dialog.ShowMiscConfiguration(window.settings())) {
    const Settings before = window.settings();
    dialog.ApplyMiscConfiguration(window.settings());
    window.ApplyMiscConfiguration(before);
    window.ApplyJoystickSettings();
    Warn(&window, SaveSettings(window.settings()));
  }
  window.PauseRuleEnd();
}
