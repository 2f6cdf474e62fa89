// The debugger window: shows the debugger model's views in widgets and hands
// the user's clicks, keys and entries back to it. Nothing here reads or
// changes the machine except through the model; the one direct read is the
// monitor type, a setting the model is told before each refresh.
//
// The main window owns it, shows and hides it, enables it only while the
// emulation is paused (SetPaused) and passes it the Step hotkey F4. Every
// action here assumes the emulation thread is parked, which holds because the
// window is disabled while the machine runs.
//
// Left out: breakpoints (the debugger has none).
#pragma once

#include <QWidget>
#include <array>

#include "debugger/debugger_model.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListView;
class QListWidget;
class QStringListModel;
class QPushButton;
class QScrollBar;
class QTabWidget;
class QToolButton;

class DebuggerWindow : public QWidget {
  Q_OBJECT
 public:
  explicit DebuggerWindow(Machine& m, QWidget* parent = nullptr);

  DebuggerModel& model() { return model_; }

  // Paused: enabled, caption "Debugger", views rebuilt from the machine.
  // Running: disabled, caption "Debugger Disabled"; the views keep what the
  // machine looked like when it was last paused.
  void SetPaused(bool paused);
  bool Paused() const { return paused_; }
  // Step (F4): one instruction, then every view again. Only while paused.
  void Step();
  // Rebuilds every view from the machine, the listing centred on PC: on
  // showing the window and on "Goto PC".
  void RefreshViews();

 signals:
  // The window was closed by its own button or the title bar; the main
  // window releases its Debugger button.
  void Closed();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  QWidget* BuildCpuTab();
  QWidget* BuildChipTab();
  QWidget* BuildDebugTab();
  void ShowListing();
  void ShowDump();
  void ShowRegisters();
  void ShowChips();
  void ShowPortLog();
  void ShowAll();
  bool ListKey(QListWidget* list, int key);
  bool EditKey(QLineEdit* edit, QKeyEvent* event);

  Machine& machine_;
  DebuggerModel model_;
  bool paused_ = true;
  QStringListModel* portLog_ = nullptr;

 public:
  // Controls under their established names.
  QToolButton* ToolButton1 = nullptr;  // Close Debugger
  QToolButton* ToolButton2 = nullptr;  // Step (F4)
  QToolButton* ToolButton3 = nullptr;  // Goto PC
  QToolButton* ToolButton5 = nullptr;  // Toggle Between ROM and RAM
  QToolButton* ToolButton7 = nullptr;  // What Z80 sees
  QTabWidget* PageControl1 = nullptr;
  QListWidget* ListBox1 = nullptr;  // listing
  QScrollBar* ScrollBar1 = nullptr;
  QListWidget* ListBox2 = nullptr;  // memory dump
  QScrollBar* ScrollBar2 = nullptr;
  QListWidget* ListBox3 = nullptr;  // stack
  QListView* ListBox4 = nullptr;    // port-write log
  QPushButton* Button1 = nullptr;   // clears the port log
  QCheckBox* CheckBox1 = nullptr;   // port logging on/off
  QCheckBox* CheckBox2 = nullptr;   // ROM High Enabled
  QCheckBox* CheckBox3 = nullptr;   // ROM Low Enabled
  // Edit1..Edit43 at [0..42]: registers in RegisterField order (16), CRTC
  // in kCrtcEditRegisters order (11), PSG R0..R15 (16).
  std::array<QLineEdit*, kRegisterFields + kCrtcEdits + kPsgEdits> Edits{};
  QLineEdit* Edit(int number) const { return Edits[number - 1]; }
  std::array<QLabel*, kGateArrayPanels> PenPanels{};  // pens 0..15, then the border
  QLabel* ModeLabel = nullptr;
  QLabel* RomHighLabel = nullptr;
};
