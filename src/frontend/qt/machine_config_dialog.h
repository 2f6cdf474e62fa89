// "CPC Configuration": edits the machine profile. It shows the current
// Settings when shown, changes nothing while open and writes back only from
// its apply; what the running machine then does with the new values is the
// main window's (ApplyConfiguration). Created once with the main window and
// shown modally under the pause rule by RunCpcConfiguration.
//
// The controls are public, named after what they edit, so tests can drive
// them as a user would.
#pragma once

#include <QDialog>
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "frontend/config_model.h"
#include "frontend/settings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QSpinBox;
class QStackedWidget;
class QTreeWidget;
class MainWindow;

enum class CpcConfigResult { Cancel, Apply, ApplyAndSave };

// The host's serial ports for the "Serial Port" list.
std::vector<std::string> HostSerialPortNames();

class MachineConfigDialog : public QDialog {
  Q_OBJECT
 public:
  // The port lists are discovered once, here; tests pass their own.
  explicit MachineConfigDialog(QWidget* parent = nullptr, std::vector<ParallelPort> parallelPorts = ListParallelPorts(),
                          std::vector<std::string> serialPorts = HostSerialPortNames());

  // What the dialog does each time it is shown: ROM list, caption, every
  // control from s.
  void LoadFromSettings(const Settings& s);
  // Shows it modally from s; the caller applies according to the result.
  CpcConfigResult ShowCpcConfiguration(const Settings& s);
  // The controls into s (the setting half of the apply; the machine half is
  // the window's). Derived fields are recomputed.
  void ApplyCpcConfiguration(Settings& s) const;

  // The hard-disk open dialog: (parent, initial directory) -> chosen file or
  // empty. Replaceable for tests.
  std::function<QString(QWidget*, const QString&)> OpenHddDialog;

  QTreeWidget* TreeView1 = nullptr;
  QStackedWidget* Pages = nullptr;
  // CPC Options
  QComboBox* ModelBox = nullptr;  // "Custom" or one of the ready models
  QComboBox* BrandBox = nullptr;
  QComboBox* CrtcBox = nullptr;
  QRadioButton* ColorMonitor = nullptr;
  QRadioButton* GreenMonitor = nullptr;
  // Display
  QCheckBox* DoubleScanLine = nullptr;
  QCheckBox* KeepAspectRatio = nullptr;
  QCheckBox* DirectXStretch = nullptr;
  // CPU
  QSlider* SpeedBar = nullptr;
  QLabel* SpeedLabel = nullptr;
  QSlider* Z80Bar = nullptr;
  QLabel* Z80Label = nullptr;
  QCheckBox* NoZ80Cycles = nullptr;
  // RAM
  QSlider* RamBar = nullptr;
  QLabel* RamLabel = nullptr;
  QCheckBox* Ram4Mb = nullptr;
  // ROMs: [0] "Low ROM", [1 + n] "ROM n".
  std::array<QComboBox*, 1 + kProfileUpperRoms> RomBoxes{};
  // Sound
  QCheckBox* SoundEnabled = nullptr;
  QRadioButton* Mono = nullptr;
  QRadioButton* Stereo = nullptr;
  QRadioButton* Rate22050 = nullptr;
  QRadioButton* Rate44100 = nullptr;
  QRadioButton* Rate48000 = nullptr;
  QRadioButton* Bits8 = nullptr;
  QRadioButton* Bits16 = nullptr;
  // Peripherals
  QComboBox* ParallelBox = nullptr;
  QComboBox* LptPortBox = nullptr;
  QRadioButton* NormalMode = nullptr;
  QRadioButton* FullMode = nullptr;
  QComboBox* SerialBox = nullptr;
  QCheckBox* MouseOnJoystick = nullptr;
  QCheckBox* LightPen = nullptr;
  // SymbiFace II
  QCheckBox* SymbifaceEnabled = nullptr;
  std::array<QCheckBox*, 8> DipSwitches{};
  QPushButton* Hdd0Button = nullptr;
  QPushButton* Hdd1Button = nullptr;
  QLineEdit* Hdd0Field = nullptr;
  QLineEdit* Hdd1Field = nullptr;
  QPushButton* Hdd0Empty = nullptr;
  QPushButton* Hdd1Empty = nullptr;
  // Buttons
  QPushButton* ApplySaveButton = nullptr;
  QPushButton* JustApplyButton = nullptr;
  QPushButton* CancelButton = nullptr;

  // Dialog-local copies, taken on show.
  std::vector<std::string> RomNames;
  std::string Hdd0Path, Hdd1Path;
  std::vector<uint16_t> LptAddresses;  // one per LptPortBox entry

 private:
  void SpeedChanged(int position);
  void Z80Changed(int position);
  void ParallelChanged(int index);
  void ChooseHdd(int drive);

  std::string diskDir_;
  int serialPortCount_ = 0;
};


// The menu command: pause rule, the dialog, then the apply and the profile save.
void RunCpcConfiguration(MainWindow& window, MachineConfigDialog& dialog);
