// The debugger window's run controls (run to cursor, step over, step out,
// follow PC, symbols, memory search) and its breakpoint list. Both work on a
// paused machine through the debugger model, as the rest of the window does;
// a run the model sets up is started by whoever listens to RunRequested (the
// main window resumes the emulation).
#pragma once

#include <QWidget>
#include <functional>

#include "debugger/debugger_model.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class QTreeWidget;

class RunControlBar : public QWidget {
  Q_OBJECT
 public:
  // `cursorAddress` gives the listing line the user stands on, if any.
  RunControlBar(DebuggerModel& model, std::function<std::optional<uint16_t>()> cursorAddress,
                QWidget* parent = nullptr);

  void StepOver();
  void StepOut();
  void RunToCursor();
  // Shows the stop's reason, or clears it.
  void ShowStop();
  // Empty, or why the file was not read (also shown).
  QString LoadSymbols(const QString& file);
  void Search(bool forward);

  QToolButton* runToCursorButton = nullptr;
  QToolButton* stepOverButton = nullptr;
  QToolButton* stepOutButton = nullptr;
  QToolButton* followPcButton = nullptr;
  QToolButton* symbolsButton = nullptr;
  QLineEdit* searchEdit = nullptr;
  QToolButton* searchNextButton = nullptr;
  QToolButton* searchPreviousButton = nullptr;
  QLabel* statusLabel = nullptr;

 signals:
  // The model set up a run: the machine must go until it stops.
  void RunRequested();
  // The model's views changed: show them again.
  void ViewsChanged();

 private:
  DebuggerModel& model_;
  std::function<std::optional<uint16_t>()> cursorAddress_;
};

class BreakpointList : public QWidget {
  Q_OBJECT
 public:
  explicit BreakpointList(DebuggerModel& model, QWidget* parent = nullptr);

  // Rebuilds the rows, hit counts included.
  void Refresh();
  // The entry fields' breakpoint; false with the reason shown when refused.
  bool AddFromFields();
  void RemoveSelected();

  QTreeWidget* list = nullptr;  // breakpoint, hits; the check box enables
  QComboBox* kindBox = nullptr;
  QLineEdit* whereEdit = nullptr;
  QLineEdit* conditionEdit = nullptr;
  QPushButton* addButton = nullptr;
  QPushButton* removeButton = nullptr;
  QLabel* errorLabel = nullptr;

 private:
  DebuggerModel& model_;
  bool refreshing_ = false;
};
