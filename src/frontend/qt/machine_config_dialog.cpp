#include "frontend/qt/machine_config_dialog.h"

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

std::vector<std::string> HostSerialPortNames() { return ListHostSerialPorts(); }

// ---------------------------------------------------------------------------
// CPC Configuration

MachineConfigDialog::MachineConfigDialog(QWidget* parent, std::vector<ParallelPort> parallelPorts,
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
    connect(SpeedBar, &QSlider::valueChanged, this, &MachineConfigDialog::SpeedChanged);
    connect(Z80Bar, &QSlider::valueChanged, this, &MachineConfigDialog::Z80Changed);
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
    // 48000 Hz is what most Linux sound servers run at.
    Rate48000 = new QRadioButton("48000 Hz");
    static_cast<QGroupBox*>(Rate44100->parentWidget())->layout()->addWidget(Rate48000);
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
    connect(ParallelBox, &QComboBox::currentIndexChanged, this, &MachineConfigDialog::ParallelChanged);
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

void MachineConfigDialog::SpeedChanged(int position) {
  SpeedLabel->setText(Q(::SpeedLabel(position)));
  Z80Bar->setEnabled(Z80BarEnabled(position));
}

void MachineConfigDialog::Z80Changed(int position) {
  Z80Label->setText(Q(::Z80Label(position)));
  SpeedBar->setEnabled(SpeedBarEnabled(position));
}

void MachineConfigDialog::ParallelChanged(int index) {
  const bool lpt = index == kParModeExistingLpt;
  LptPortBox->setVisible(lpt);
  NormalMode->setVisible(lpt);
  FullMode->setVisible(lpt);
}

void MachineConfigDialog::ChooseHdd(int drive) {
  const QString chosen = OpenHddDialog(this, Q(diskDir_));
  if (chosen.isEmpty()) return;
  const std::string path = chosen.toStdString();
  (drive == 0 ? Hdd0Path : Hdd1Path) = path;
  (drive == 0 ? Hdd0Field : Hdd1Field)->setText(Q(FileNameOnly(path)));
}

void MachineConfigDialog::LoadFromSettings(const Settings& s) {
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
  CheckRadio({{Rate22050, 22050}, {Rate44100, 44100}, {Rate48000, 48000}}, s.SAMPLERATE);
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

CpcConfigResult MachineConfigDialog::ShowCpcConfiguration(const Settings& s) {
  LoadFromSettings(s);
  const int r = exec();
  if (r == static_cast<int>(CpcConfigResult::ApplyAndSave)) return CpcConfigResult::ApplyAndSave;
  if (r == static_cast<int>(CpcConfigResult::Apply)) return CpcConfigResult::Apply;
  return CpcConfigResult::Cancel;
}

void MachineConfigDialog::ApplyCpcConfiguration(Settings& s) const {
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
  CheckedValue({{Rate22050, 22050}, {Rate44100, 44100}, {Rate48000, 48000}}, s.SAMPLERATE);
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

void RunCpcConfiguration(MainWindow& window, MachineConfigDialog& dialog) {
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
