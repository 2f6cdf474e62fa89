// "Misc Configuration": edits the program settings, under the same rules as
// the machine dialog (shown from Settings, written back only on apply, the
// main window's ApplyMiscConfiguration acts on the change). Shown modally
// under the pause rule by RunMiscConfiguration.
#pragma once

#include <QDialog>
#include <array>
#include <functional>
#include <string>

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

class SettingsDialog : public QDialog {
  Q_OBJECT
 public:
  explicit SettingsDialog(QWidget* parent = nullptr);

  void LoadFromSettings(const Settings& s);
  // True on "Apply".
  bool ShowMiscConfiguration(const Settings& s);
  void ApplyMiscConfiguration(Settings& s) const;

  // The folder chooser: (parent, current directory) -> chosen folder or
  // empty. Replaceable for tests.
  std::function<QString(QWidget*, const QString&)> ChooseDirectory;

  QTreeWidget* TreeView1 = nullptr;
  QStackedWidget* Pages = nullptr;
  // Directories
  QComboBox* DirectoryKind = nullptr;
  QLabel* DirectoryLabel = nullptr;
  QPushButton* ChangeButton = nullptr;
  // Screenshots
  std::array<QRadioButton*, 4> Formats{};  // BMP, JPEG, GIF, PNG
  QSlider* QualityBar = nullptr;
  QLabel* QualityLabel = nullptr;
  QCheckBox* NameByDsk = nullptr;
  QCheckBox* SaveStillDialog = nullptr;
  QCheckBox* SaveHalfSize = nullptr;
  QSpinBox* MaxStills = nullptr;
  QSpinBox* EveryFrame = nullptr;
  QLabel* FramesLabel = nullptr;
  // Capture
  QPushButton* VideoCodecButton = nullptr;
  QPushButton* AudioCodecButton = nullptr;
  QCheckBox* VideoDialog = nullptr;
  // Miscellaneous
  QCheckBox* Toolbar = nullptr;
  QCheckBox* FddSound = nullptr;
  QCheckBox* IndividualSet = nullptr;
  QLabel* IndividualSetNote = nullptr;  // the one setting that waits
  QLabel* DefaultPrinterLabel = nullptr;  // CUPS's default destination, for "Use the Default Printer"
  QSpinBox* PrinterIdle = nullptr;        // PRINTERIDLE
  QCheckBox* Rewind = nullptr;            // REWIND
  QSpinBox* RewindMemory = nullptr;       // REWINDMEMORY
  // Joystick: PADJOYSTICK, KEYJOYSTICK, KEYJOYFIRE1, KEYJOYFIRE2
  QCheckBox* PadJoystick = nullptr;
  QCheckBox* KeyJoystick = nullptr;
  std::array<QComboBox*, 2> FireKeys{};  // item data: virtual-key code
  // Buttons
  QPushButton* ApplyButton = nullptr;
  QPushButton* CancelButton = nullptr;

  // ROMDIR, DISKDIR, SNAPDIR, STILLSDIR, PRINTDIR, PFLDIR, CAPTUREDIR as edited.
  std::array<std::string, 7> Directories;

 private:
  void ChangeClicked();
};

// The menu command: pause rule, the dialog, then the apply and the settings save.
void RunMiscConfiguration(MainWindow& window, SettingsDialog& dialog);
