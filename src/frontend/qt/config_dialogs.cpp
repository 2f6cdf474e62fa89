#include "frontend/qt/config_dialogs.h"

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

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Both dialogs: fixed 399 x 337, title only, the tree on the left choosing
// a page of the tab-less page control on the right, buttons below.
void BuildFrame(QDialog* d, QTreeWidget*& tree, QStackedWidget*& pages, const std::vector<const char*>& nodes,
                QHBoxLayout*& buttons) {
  d->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  d->setFixedSize(399, 337);
  auto* outer = new QVBoxLayout(d);
  outer->setContentsMargins(6, 6, 6, 6);
  auto* body = new QHBoxLayout;
  tree = new QTreeWidget(d);
  tree->setHeaderHidden(true);
  tree->setRootIsDecorated(false);
  tree->setFixedWidth(92);
  tree->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  for (const char* node : nodes) tree->addTopLevelItem(new QTreeWidgetItem(QStringList{node}));
  pages = new QStackedWidget(d);
  body->addWidget(tree);
  body->addWidget(pages, 1);
  outer->addLayout(body, 1);
  buttons = new QHBoxLayout;
  buttons->addStretch(1);
  outer->addLayout(buttons);
  QObject::connect(tree, &QTreeWidget::currentItemChanged, pages, [tree, pages](QTreeWidgetItem* item) {
    if (item) pages->setCurrentIndex(tree->indexOfTopLevelItem(item));
  });
}

// A page: one group box filling the page, with a vertical layout.
QVBoxLayout* AddPage(QStackedWidget* pages, const char* caption) {
  auto* page = new QWidget(pages);
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* group = new QGroupBox(caption, page);
  layout->addWidget(group);
  pages->addWidget(page);
  auto* inner = new QVBoxLayout(group);
  inner->setSpacing(4);
  return inner;
}

QPushButton* AddButton(QDialog* d, QHBoxLayout* row, const char* text) {
  auto* b = new QPushButton(text, d);
  b->setAutoDefault(false);
  row->addWidget(b);
  return b;
}

// Checks the radio button of value among values; none when no value fits,
// so that the apply then leaves the setting alone.
void CheckRadio(const std::vector<std::pair<QRadioButton*, int>>& radios, int value) {
  for (auto& [button, v] : radios) {
    button->setAutoExclusive(false);
    button->setChecked(v == value);
    button->setAutoExclusive(true);
  }
}

bool CheckedValue(const std::vector<std::pair<QRadioButton*, int>>& radios, int& value) {
  for (auto& [button, v] : radios) {
    if (button->isChecked()) {
      value = v;
      return true;
    }
  }
  return false;
}

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

void Warn(QWidget* parent, const SettingsResult& r) {
  if (!r.Ok) QMessageBox::warning(parent, "Pellucidore", Q(r.Error));
}

}  // namespace

std::vector<std::string> HostSerialPortNames() { return ListHostSerialPorts(); }

// ---------------------------------------------------------------------------
// CPC Configuration

TCPCConfigMenu::TCPCConfigMenu(QWidget* parent, std::vector<ParallelPort> parallelPorts,
                               std::vector<std::string> serialPorts)
    : QDialog(parent) {
  setWindowTitle("CPC Configuration");
  QHBoxLayout* buttons = nullptr;
  BuildFrame(this, TreeView1, Pages,
             {"Model", "Display", "CPU", "RAM", "ROM0-7", "ROM8-15", "Sound", "Peripherals", "Symbiface II"}, buttons);

  OpenHddDialog = [](QWidget* parent, const QString& dir) {
    // Create New Disks names hard disk images ".img" by default: both kinds.
    return QFileDialog::getOpenFileName(parent, "Load a HDD image", dir,
                                        "HDD Files (*.hdd *.HDD *.img *.IMG);;All files (*)");
  };

  // Model
  {
    QVBoxLayout* page = AddPage(Pages, "CPC Options");
    // A ready model fills in the ROM, RAM and brand pages at once.
    page->addWidget(new QLabel("Machine:"));
    ModelBox = new QComboBox;
    ModelBox->addItem("Custom");
    for (const CpcModel& model : kCpcModels) ModelBox->addItem(model.MenuText);
    connect(ModelBox, &QComboBox::activated, this, [this](int index) {
      if (index < 1 || index > static_cast<int>(kCpcModels.size())) return;
      const CpcModel& model = kCpcModels[static_cast<size_t>(index - 1)];
      RomBoxes[0]->lineEdit()->setText(model.LowerRom);
      RomBoxes[1]->lineEdit()->setText(model.Basic);
      RomBoxes[8]->lineEdit()->setText(model.DiskRom);
      RamBar->setValue(RamPositionFromSetting(model.Ram));
      RamLabel->setText(Q(::RamLabel(RamBar->value())));
      Ram4Mb->setChecked(model.Ram4Mb);
      BrandBox->setCurrentIndex(BrandIndexFromVendor(14));
    });
    page->addWidget(ModelBox);
    page->addWidget(new QLabel("Brand:"));
    BrandBox = new QComboBox;
    for (const char* name : kBrandNames) BrandBox->addItem(name);
    page->addWidget(BrandBox);
    page->addWidget(new QLabel("CRTC Type:"));
    CrtcBox = new QComboBox;
    for (const char* name : kCrtcTypeNames) CrtcBox->addItem(name);
    page->addWidget(CrtcBox);
    auto* monitor = new QGroupBox("Monitor Type");
    auto* ml = new QVBoxLayout(monitor);
    ColorMonitor = new QRadioButton("Color Monitor CTM 644");
    GreenMonitor = new QRadioButton("Green Monitor GT 65");
    ml->addWidget(ColorMonitor);
    ml->addWidget(GreenMonitor);
    page->addWidget(monitor);
    page->addStretch(1);
  }
  // Display
  {
    QVBoxLayout* page = AddPage(Pages, "Display");
    DoubleScanLine = new QCheckBox("Double ScanLine");
    DoubleScanLine->setToolTip("Single ScanLine is best viewed when out of Direct Stretch");
    KeepAspectRatio = new QCheckBox("On Resize Keep Aspect Ratio (Windowed Mode)");
    DirectXStretch = new QCheckBox("Use Smooth DirectX Stretch and Zoom with WheelMouse");
    DirectXStretch->setToolTip("Use Double ScanLine for better results");
    for (QCheckBox* c : {DoubleScanLine, KeepAspectRatio, DirectXStretch}) page->addWidget(c);
    page->addStretch(1);
  }
  // CPU
  {
    QVBoxLayout* page = AddPage(Pages, "CPU");
    SpeedLabel = new QLabel;
    page->addWidget(SpeedLabel);
    SpeedBar = new QSlider(Qt::Horizontal);
    SpeedBar->setRange(0, kSpeedPositions);
    SpeedBar->setTickInterval(10);
    SpeedBar->setTickPosition(QSlider::TicksBelow);
    SpeedBar->setValue(kSpeedNormalPosition);
    page->addWidget(SpeedBar);
    page->addWidget(new QLabel(" 0     200   400   600    800  1000(%)"));
    Z80Label = new QLabel;
    page->addWidget(Z80Label);
    Z80Bar = new QSlider(Qt::Horizontal);
    Z80Bar->setRange(1, 20);
    Z80Bar->setTickPosition(QSlider::TicksBelow);
    page->addWidget(Z80Bar);
    page->addWidget(new QLabel("x1   x4     x8     x12   x16    x20"));
    NoZ80Cycles = new QCheckBox("No Z80 Cycles");
    page->addWidget(NoZ80Cycles);
    page->addWidget(new QLabel("(Faster, No Time Accuracy)"));
    page->addStretch(1);
    connect(SpeedBar, &QSlider::valueChanged, this, &TCPCConfigMenu::SpeedChanged);
    connect(Z80Bar, &QSlider::valueChanged, this, &TCPCConfigMenu::Z80Changed);
  }
  // RAM
  {
    QVBoxLayout* page = AddPage(Pages, "RAM");
    auto* row = new QHBoxLayout;
    RamBar = new QSlider(Qt::Vertical);
    RamBar->setRange(1, 9);
    RamBar->setInvertedAppearance(true);  // 1 at the top
    RamBar->setInvertedControls(true);
    RamBar->setTickPosition(QSlider::TicksRight);
    RamBar->setTickInterval(1);
    RamBar->setFixedHeight(150);
    row->addWidget(RamBar);
    auto* marks = new QVBoxLayout;
    marks->addWidget(new QLabel("Maximum Supported"));
    marks->addStretch(1);
    RamLabel = new QLabel;
    QFont bold = RamLabel->font();
    bold.setBold(true);
    RamLabel->setFont(bold);
    marks->addWidget(RamLabel);
    marks->addStretch(1);
    marks->addWidget(new QLabel("Standard 6128"));
    marks->addWidget(new QLabel("Standard 464-664"));
    row->addLayout(marks, 1);
    page->addLayout(row);
    Ram4Mb = new QCheckBox("Enable 4MB RAM expansion");
    page->addWidget(Ram4Mb);
    page->addStretch(1);
    connect(RamBar, &QSlider::valueChanged, this, [this](int p) { RamLabel->setText(Q(::RamLabel(p))); });
  }
  // ROMs
  auto romBox = [](QVBoxLayout* page, const QString& label, const char* hint) {
    auto* row = new QHBoxLayout;
    auto* l = new QLabel(label);
    l->setFixedWidth(58);
    row->addWidget(l);
    auto* box = new QComboBox;
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    if (hint) box->setToolTip(hint);
    row->addWidget(box, 1);
    page->addLayout(row);
    return box;
  };
  {
    QVBoxLayout* page = AddPage(Pages, "ROMs");
    RomBoxes[0] = romBox(page, "Low ROM", "CPC boots from this ROM");
    for (int i = 0; i < 8; ++i) {
      const char* hint = i == 0 ? "At real CPC BASIC ROM is put here" : i == 7 ? "At a real CPC AMSDOS is put here" : nullptr;
      RomBoxes[1 + i] = romBox(page, QString("ROM %1").arg(i), hint);
    }
    page->addStretch(1);
  }
  {
    QVBoxLayout* page = AddPage(Pages, "ROMs");
    for (int i = 8; i < 16; ++i) RomBoxes[1 + i] = romBox(page, QString("ROM %1").arg(i), nullptr);
    page->addStretch(1);
  }
  // Sound
  {
    QVBoxLayout* page = AddPage(Pages, "Sound");
    SoundEnabled = new QCheckBox("Enable Sound");
    page->addWidget(SoundEnabled);
    auto group = [&](const char* caption, const char* a, const char* b, QRadioButton*& ra, QRadioButton*& rb) {
      auto* g = new QGroupBox(caption);
      auto* l = new QHBoxLayout(g);
      ra = new QRadioButton(a);
      rb = new QRadioButton(b);
      l->addWidget(ra);
      l->addWidget(rb);
      page->addWidget(g);
    };
    group("Channels", "Mono", "Stereo", Mono, Stereo);
    group("Sample Rate", "22050 Hz", "44100 Hz", Rate22050, Rate44100);
    group("Bits per Sample", "8 bits", "16 bits", Bits8, Bits16);
    page->addStretch(1);
  }
  // Peripherals
  {
    QVBoxLayout* page = AddPage(Pages, "Peripherals");
    page->addWidget(new QLabel("Parallel Port"));
    ParallelBox = new QComboBox;
    for (const char* name : kParallelModeNames) ParallelBox->addItem(name);
    page->addWidget(ParallelBox);
    LptPortBox = new QComboBox;
    for (const ParallelPort& port : parallelPorts) {
      if (LptAddresses.size() == kMaxParallelPorts) break;
      LptPortBox->addItem(Q(port.Name));
      LptAddresses.push_back(port.Address);
    }
    page->addWidget(LptPortBox);
    auto* modes = new QWidget;
    auto* ml = new QHBoxLayout(modes);
    ml->setContentsMargins(0, 0, 0, 0);
    NormalMode = new QRadioButton("Normal Mode");
    NormalMode->setToolTip("7 bits plus STROBE");
    FullMode = new QRadioButton("Full Mode");
    FullMode->setToolTip("8 bit - NO STROBE");
    ml->addWidget(NormalMode);
    ml->addWidget(FullMode);
    page->addWidget(modes);
    page->addWidget(new QLabel("Serial Port"));
    SerialBox = new QComboBox;
    SerialBox->addItem("Not Connected");
    for (const std::string& name : serialPorts) SerialBox->addItem(Q(name));
    serialPortCount_ = static_cast<int>(serialPorts.size());
    page->addWidget(SerialBox);
    MouseOnJoystick = new QCheckBox("Enable Mouse on Joystick Port");
    LightPen = new QCheckBox("Enable Light Pen");
    page->addWidget(MouseOnJoystick);
    page->addWidget(LightPen);
    page->addStretch(1);
    connect(ParallelBox, &QComboBox::currentIndexChanged, this, &TCPCConfigMenu::ParallelChanged);
  }
  // SymbiFace II
  {
    QVBoxLayout* page = AddPage(Pages, "SymbiFace II");
    SymbifaceEnabled = new QCheckBox("Enable SymbiFace II");
    page->addWidget(SymbifaceEnabled);
    auto* grid = new QGridLayout;
    for (int i = 0; i < 8; ++i) {
      DipSwitches[i] = new QCheckBox(QString("DIP Switch %1").arg(i));
      grid->addWidget(DipSwitches[i], i % 4, i / 4);
    }
    page->addLayout(grid);
    auto hddRow = [&](const char* name, QPushButton*& button, QLineEdit*& field, QPushButton*& empty) {
      auto* row = new QHBoxLayout;
      button = new QPushButton(name);
      button->setAutoDefault(false);
      button->setFixedWidth(48);
      field = new QLineEdit;
      field->setReadOnly(true);
      empty = new QPushButton("Empty");
      empty->setAutoDefault(false);
      empty->setFixedWidth(48);
      row->addWidget(button);
      row->addWidget(field, 1);
      row->addWidget(empty);
      page->addLayout(row);
    };
    hddRow("HDD0", Hdd0Button, Hdd0Field, Hdd0Empty);
    hddRow("HDD1", Hdd1Button, Hdd1Field, Hdd1Empty);
    page->addStretch(1);
    connect(Hdd0Button, &QPushButton::clicked, this, [this] { ChooseHdd(0); });
    connect(Hdd1Button, &QPushButton::clicked, this, [this] { ChooseHdd(1); });
    connect(Hdd0Empty, &QPushButton::clicked, this, [this] {
      Hdd0Field->clear();
      Hdd0Path.clear();
    });
    connect(Hdd1Empty, &QPushButton::clicked, this, [this] {
      Hdd1Field->clear();
      Hdd1Path.clear();
    });
  }

  ApplySaveButton = AddButton(this, buttons, "Apply && Save");
  JustApplyButton = AddButton(this, buttons, "Just Apply");
  CancelButton = AddButton(this, buttons, "Cancel");
  connect(ApplySaveButton, &QPushButton::clicked, this, [this] { done(static_cast<int>(CpcConfigResult::ApplyAndSave)); });
  connect(JustApplyButton, &QPushButton::clicked, this, [this] { done(static_cast<int>(CpcConfigResult::Apply)); });
  connect(CancelButton, &QPushButton::clicked, this, [this] { done(static_cast<int>(CpcConfigResult::Cancel)); });

  TreeView1->setCurrentItem(TreeView1->topLevelItem(0));
}

void TCPCConfigMenu::SpeedChanged(int position) {
  SpeedLabel->setText(Q(::SpeedLabel(position)));
  Z80Bar->setEnabled(Z80BarEnabled(position));
}

void TCPCConfigMenu::Z80Changed(int position) {
  Z80Label->setText(Q(::Z80Label(position)));
  SpeedBar->setEnabled(SpeedBarEnabled(position));
}

void TCPCConfigMenu::ParallelChanged(int index) {
  const bool lpt = index == kParModeExistingLpt;
  LptPortBox->setVisible(lpt);
  NormalMode->setVisible(lpt);
  FullMode->setVisible(lpt);
}

void TCPCConfigMenu::ChooseHdd(int drive) {
  const QString chosen = OpenHddDialog(this, Q(diskDir_));
  if (chosen.isEmpty()) return;
  const std::string path = chosen.toStdString();
  (drive == 0 ? Hdd0Path : Hdd1Path) = path;
  (drive == 0 ? Hdd0Field : Hdd1Field)->setText(Q(FileNameOnly(path)));
}

void TCPCConfigMenu::LoadFromSettings(const Settings& s) {
  diskDir_ = s.DISKDIR;

  RomNames = RomList(s.ROMDIR, FindBuiltInRomDir());
  QStringList roms;
  for (const std::string& name : RomNames) roms << Q(name);
  for (QComboBox* box : RomBoxes) {
    box->clear();
    box->addItems(roms);
  }

  setWindowTitle("CPC Configuration" + Q(s.LASTPROFILE));

  if (const int brand = BrandIndexFromVendor(s.VENDOR); brand >= 0) BrandBox->setCurrentIndex(brand);
  CrtcBox->setCurrentIndex(s.CRTCTYPE >= 0 && s.CRTCTYPE <= 2 ? s.CRTCTYPE : -1);
  CheckRadio({{ColorMonitor, 1}, {GreenMonitor, 2}}, s.MONITOR);
  DoubleScanLine->setChecked(s.DOUBLESCANLINE);
  KeepAspectRatio->setChecked(s.KEEPASPECTRATIO);
  DirectXStretch->setChecked(s.DIRECTXSTRETCH);

  // Both bars are set before either enables the other, and the labels are
  // written even when a value does not move its bar.
  SpeedBar->setEnabled(true);
  Z80Bar->setEnabled(true);
  SpeedBar->setValue(SpeedPositionFromSetting(s.CPUSPEED));
  Z80Bar->setValue(std::clamp(s.Z80SPEED, 1, 20));
  SpeedChanged(SpeedBar->value());
  Z80Changed(Z80Bar->value());
  NoZ80Cycles->setChecked(!s.CPUSTATES);

  RamBar->setValue(RamPositionFromSetting(s.RAM));
  RamLabel->setText(Q(::RamLabel(RamBar->value())));
  Ram4Mb->setChecked(s.RAM4MB);

  // As stored: a list entry that differs only in case must not replace it.
  auto showRom = [](QComboBox* box, const std::string& name) {
    box->setCurrentIndex(box->findText(Q(name), Qt::MatchExactly | Qt::MatchCaseSensitive));
    box->lineEdit()->setText(Q(name));
  };
  showRom(RomBoxes[0], s.ROMLow);
  for (int i = 0; i < kProfileUpperRoms; ++i) showRom(RomBoxes[1 + i], s.ROM[i]);
  const CpcModel* model = ModelOfSettings(s);
  ModelBox->setCurrentIndex(model ? static_cast<int>(model - kCpcModels.data()) + 1 : 0);

  SoundEnabled->setChecked(s.SOUNDENABLED);
  CheckRadio({{Mono, 1}, {Stereo, 2}}, s.CHANNELS);
  CheckRadio({{Rate22050, 22050}, {Rate44100, 44100}}, s.SAMPLERATE);
  CheckRadio({{Bits8, 8}, {Bits16, 16}}, s.BITSPERSAMPLE);

  ParallelBox->setCurrentIndex(s.PARMODE >= 0 && s.PARMODE < static_cast<int>(kParallelModeNames.size()) ? s.PARMODE : -1);
  LptPortBox->setCurrentIndex(-1);
  for (size_t i = 0; i < LptAddresses.size(); ++i)
    if (LptAddresses[i] == s.LPTADDRESS) LptPortBox->setCurrentIndex(static_cast<int>(i));
  CheckRadio({{NormalMode, 1}, {FullMode, 2}}, s.LPTMODE);
  ParallelChanged(ParallelBox->currentIndex());
  // A port that is no longer there is still shown as chosen, so that an
  // apply keeps it rather than quietly disconnecting.
  while (SerialBox->count() > serialPortCount_ + 1) SerialBox->removeItem(SerialBox->count() - 1);
  if (SerialBox->findText(Q(s.SERIAL), Qt::MatchFixedString | Qt::MatchCaseSensitive) < 0) SerialBox->addItem(Q(s.SERIAL));
  SerialBox->setCurrentIndex(SerialBox->findText(Q(s.SERIAL), Qt::MatchFixedString | Qt::MatchCaseSensitive));
  MouseOnJoystick->setChecked(s.MOUSEEN);
  LightPen->setChecked(s.LIGHTPEN);

  SymbifaceEnabled->setChecked(s.SYMBIFACE);
  for (int i = 0; i < 8; ++i) DipSwitches[i]->setChecked(s.ROMENABLE[i]);
  Hdd0Path = s.HDD0PATH;
  Hdd1Path = s.HDD1PATH;
  Hdd0Field->setText(Q(FileNameOnly(Hdd0Path)));
  Hdd1Field->setText(Q(FileNameOnly(Hdd1Path)));
}

CpcConfigResult TCPCConfigMenu::ShowCpcConfiguration(const Settings& s) {
  LoadFromSettings(s);
  const int r = exec();
  if (r == static_cast<int>(CpcConfigResult::ApplyAndSave)) return CpcConfigResult::ApplyAndSave;
  if (r == static_cast<int>(CpcConfigResult::Apply)) return CpcConfigResult::Apply;
  return CpcConfigResult::Cancel;
}

void TCPCConfigMenu::ApplyCpcConfiguration(Settings& s) const {
  if (BrandBox->currentIndex() >= 0) s.VENDOR = 2 * BrandBox->currentIndex();
  if (CrtcBox->currentIndex() >= 0) s.CRTCTYPE = CrtcBox->currentIndex();
  CheckedValue({{ColorMonitor, 1}, {GreenMonitor, 2}}, s.MONITOR);
  s.DOUBLESCANLINE = DoubleScanLine->isChecked();
  s.KEEPASPECTRATIO = KeepAspectRatio->isChecked();
  s.DIRECTXSTRETCH = DirectXStretch->isChecked();
  s.CPUSPEED = CpuSpeedFromPosition(SpeedBar->value());
  s.Z80SPEED = Z80Bar->value();
  s.CPUSTATES = !NoZ80Cycles->isChecked();
  s.RAM = RamFromPosition(RamBar->value());
  s.RAM4MB = Ram4Mb->isChecked();
  s.ROMLow = Upper(RomBoxes[0]->currentText().toStdString());
  for (int i = 0; i < kProfileUpperRoms; ++i) s.ROM[i] = Upper(RomBoxes[1 + i]->currentText().toStdString());
  s.SOUNDENABLED = SoundEnabled->isChecked();
  CheckedValue({{Mono, 1}, {Stereo, 2}}, s.CHANNELS);
  CheckedValue({{Rate22050, 22050}, {Rate44100, 44100}}, s.SAMPLERATE);
  CheckedValue({{Bits8, 8}, {Bits16, 16}}, s.BITSPERSAMPLE);

  // The printer port itself is reopened by the window when the mode changed.
  if (ParallelBox->currentIndex() >= 0) s.PARMODE = ParallelBox->currentIndex();
  // Without a chosen port the address stays as it was.
  if (const int port = LptPortBox->currentIndex(); port >= 0 && port < static_cast<int>(LptAddresses.size()))
    s.LPTADDRESS = LptAddresses[port];
  CheckedValue({{NormalMode, 1}, {FullMode, 2}}, s.LPTMODE);

  s.MOUSEEN = MouseOnJoystick->isChecked();
  s.LIGHTPEN = LightPen->isChecked();
  s.SERIAL = SerialBox->currentText().toStdString();

  s.SYMBIFACE = SymbifaceEnabled->isChecked();
  for (int i = 0; i < 8; ++i) s.ROMENABLE[i] = DipSwitches[i]->isChecked();
  s.HDD0PATH = Hdd0Path;
  s.HDD1PATH = Hdd1Path;
  DeriveProfileFields(s);
}

// ---------------------------------------------------------------------------
// Misc Configuration

TMiscConfigMenu::TMiscConfigMenu(QWidget* parent) : QDialog(parent) {
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
    connect(ChangeButton, &QPushButton::clicked, this, &TMiscConfigMenu::ChangeClicked);
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

void TMiscConfigMenu::ChangeClicked() {
  const int kind = DirectoryKind->currentIndex();
  if (kind < 0) return;
  const QString chosen = ChooseDirectory(this, Q(Directories[kind]));
  if (chosen.isEmpty()) return;
  std::string dir = chosen.toStdString();
  if (!dir.ends_with('/')) dir += '/';
  Directories[kind] = dir;
  DirectoryLabel->setText(Q(dir));
}

void TMiscConfigMenu::LoadFromSettings(const Settings& s) {
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

bool TMiscConfigMenu::ShowMiscConfiguration(const Settings& s) {
  LoadFromSettings(s);
  return exec() == QDialog::Accepted;
}

void TMiscConfigMenu::ApplyMiscConfiguration(Settings& s) const {
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

// ---------------------------------------------------------------------------
// The menu commands

void RunCpcConfiguration(TMainCPCForm& window, TCPCConfigMenu& dialog) {
  window.PauseRuleBegin();
  const CpcConfigResult result = dialog.ShowCpcConfiguration(window.settings());
  if (result != CpcConfigResult::Cancel) {
    dialog.ApplyCpcConfiguration(window.settings());
    window.ApplyConfiguration();
    if (result == CpcConfigResult::ApplyAndSave) {
      Warn(&window, SaveProfile(window.settings()));
      window.settings().ProfileCommitted = true;
    } else {
      window.settings().ProfileCommitted = false;
    }
  }
  window.PauseRuleEnd();
}

void RunMiscConfiguration(TMainCPCForm& window, TMiscConfigMenu& dialog) {
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
