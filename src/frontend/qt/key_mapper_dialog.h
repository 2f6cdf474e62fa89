// "Keyboard Mapper" (KeyMapperDialog): the CPC 6128 keyboard as 81 buttons
// (80 matrix positions, SHIFT twice, joystick beside it). Clicking one
// selects that CPC key and shows which PC key presses it; "ASSIGN KEY" then
// gives the next PC key pressed to the selected CPC key. The table edited is
// the main window's live key map, so a change takes effect at once; "Save
// KeyMap" writes it to "Keymap.map".
#pragma once

#include <QDialog>
#include <array>
#include <filesystem>
#include <vector>

#include "devices/keymap.h"

class QLabel;
class QPushButton;
class QToolButton;
class MainWindow;

struct CpcKeyButton {
  const char* Name;     // shown after "CPC Key: "
  const char* Caption;  // on the button; shifted symbol above
  uint8_t Line, Bit;
  // Position and size in key widths.
  float X, Y, W, H;
};
inline constexpr int kCpcKeyButtons = 81;
extern const std::array<CpcKeyButton, kCpcKeyButtons> kCpcKeyLayout;

class KeyMapperDialog : public QDialog {
  Q_OBJECT
 public:
  KeyMapperDialog(KeyMap& map, std::filesystem::path keyMapFile, QWidget* parent = nullptr);
  ~KeyMapperDialog() override;

  // A click on the button of kCpcKeyLayout[index]: selects that CPC key and
  // shows which PC key maps to it.
  void SelectCpcKey(int index);
  // What the armed hook does with a key-down message of a PC key code.
  void KeyMessage(int code);
  bool Armed() const { return armed_; }
  // Says which keyboard mode the map serves (KEYBOARDMODE).
  void ShowKeyboardMode(int mode);

  std::vector<QToolButton*> KeyButtons;  // in kCpcKeyLayout order
  QPushButton* Button1 = nullptr;        // "ASSIGN KEY"
  QPushButton* Button2 = nullptr;        // "Save KeyMap"
  QPushButton* Button3 = nullptr;        // "Ok"
  QLabel* Label2 = nullptr;              // "CPC Key: "
  QLabel* Label3 = nullptr;              // "PC Key:"
  QLabel* ModeLabel = nullptr;
  int SelectedLine = -1, SelectedBit = -1;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void Arm(bool on);
  void SaveClicked();

  KeyMap& map_;
  std::filesystem::path file_;
  bool armed_ = false;
};

// Tools / Keyboard Mapper: modal, under the pause rule.
void RunKeyboardMapper(MainWindow& window, KeyMapperDialog& dialog);
