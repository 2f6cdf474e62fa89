// "AutoType Utility" (AutoTypeDialog): the modeless window holding the text
// to type into the machine, with "Load", "Save", "AutoType", "Stop" and
// "Close". The typing itself is the AutoType engine's (frontend/autotype.h),
// paced by the main window's 50 ms timer, which this window only starts and
// stops.
#pragma once

#include <QDialog>
#include <filesystem>
#include <functional>

#include "frontend/autotype.h"

class QPlainTextEdit;
class QPushButton;
class QTimer;

class AutoTypeDialog : public QDialog {
  Q_OBJECT
 public:
  // state and timer are the main window's; startDir is where the file
  // dialogs open.
  AutoTypeDialog(AutoTypeState& state, QTimer& timer, std::filesystem::path startDir, QWidget* parent = nullptr);

  // The buttons' actions.
  void StartClicked();
  void StopClicked();
  void LoadClicked();
  void SaveClicked();
  // Reading and writing the editor's lines: the name gets ".txt" when it
  // holds no ".txt" anywhere (case matters). False, with a message shown,
  // when the file cannot be read or written.
  bool LoadText(const QString& chosen);
  bool SaveText(const QString& chosen);

  // The file dialogs: (parent, start directory) -> chosen name or empty.
  // Replaceable for tests.
  std::function<QString(QWidget*, const QString&)> OpenDialog;
  std::function<QString(QWidget*, const QString&)> SaveDialog;
  // The matrix typing presses into: Stop and a new text release what the
  // run holds there.
  KeyboardState* Keyboard = nullptr;

  QPlainTextEdit* Memo1 = nullptr;
  QPushButton* LoadButton = nullptr;
  QPushButton* SaveButton = nullptr;
  QPushButton* AutoTypeButton = nullptr;
  QPushButton* StopButton = nullptr;
  QPushButton* CloseButton = nullptr;

 private:
  AutoTypeState& state_;
  QTimer& timer_;
  std::filesystem::path startDir_;
};

// The ".txt" rule of Load and Save.
QString WithTxtExtension(const QString& chosen);
// Editor text to the single-byte text the engine types: Latin-1, any other
// character as a space (it has no key).
std::string AutoTypeBytes(const QString& text);
