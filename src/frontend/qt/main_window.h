// The main window: start-up and shutdown, the picture, tool bar, status bar
// and menus, and the routing of every key and mouse event of the program.
//
// Machine state is changed here only while the emulation thread is parked
// (SuspendEmulation), except for the single values the thread reads without
// a lock: keyboard matrix bits, joystick bits, mouse fields, the light-pen
// target and the zoom rectangle.
#pragma once

#include <QMainWindow>
#include <QTimer>
#include <filesystem>
#include <memory>

#include "core/emulation_thread.h"
#include "core/machine.h"
#include "devices/keymap.h"
#include "devices/ppi.h"
#include "frontend/autotype.h"
#include "frontend/settings.h"
#include "frontend/window_geometry.h"
#include "platform/audio_output.h"
#include "platform/digiblaster_output.h"
#include "platform/drive_sounds.h"

class DriveMenus;
class TapeLamp;
class TapeMenus;
class CaptureController;
class FrameView;
class LampPanel;
class QAction;
class QLabel;
class QMenu;
class QToolButton;
class TAutoTypeBox;
class TCPCConfigMenu;
class TKeyBoardMapper;
class TMiscConfigMenu;
class TDebugForm;

class TMainCPCForm : public QMainWindow {
  Q_OBJECT
 public:
  explicit TMainCPCForm(const std::filesystem::path& startDir, QWidget* parent = nullptr);
  ~TMainCPCForm() override;

  Machine& machine() { return *machine_; }
  Settings& settings() { return settings_; }
  FrameView* frameView() const { return view_; }
  TDebugForm* debugForm() const { return debugForm_; }
  DriveMenus* drives() const { return drives_; }
  TapeMenus* tapes() const { return tapes_; }
  bool EmulationRunning() const { return emulationRunning_; }
  // Client area as the layout rules count it: below the menu bar.
  QSize ClientSize() const;
  void SetClientSize(int width, int height);

  void TogglePause();
  void ResetClicked();
  void HalfSize();
  void FullSize();
  void ToggleFullScreen();
  void StartEmulation();  // what the first status tick does
  void DebuggerClicked();  // ToolButton7

  // Suspend around a modal dialog while the user has not paused.
  void PauseRuleBegin();
  void PauseRuleEnd();

  // After the CPC Configuration dialog wrote the settings: the running
  // machine takes them without a reset. Call with the emulation suspended.
  void ApplyConfiguration();
  KeyMap& keyMap() { return keyMap_; }
  AutoTypeState& autoType() { return autoType_; }
  QTimer& autoTypeTimer() { return autoTypeTimer_; }

  static const char* const kHotKeyText;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  class Hooks;

  void BuildActions();
  void BuildMenus();
  void BuildToolBar();
  void BuildStatusBar();
  void OpenDevices();
  void CloseDevices();
  void Shutdown();
  void StatusTimerTick();
  void UpdateOverlay(uint32_t speed, uint32_t rate);
  void ApplyDisplaySettings();
  void ApplyLayout();
  void UpdateProfileCaptions();
  void UpdateLamps();
  bool HandleKeyDown(int code, bool autoRepeat);
  bool HandleKeyUp(int code, bool autoRepeat);
  bool HandleMouse(QEvent* event);
  void ZoomKeyPressed(ZoomKey key);
  void ShowHotKeys();
  void ShowAbout();
  void ShowCreateNewDisk();
  void LoadProfileClicked();
  void CreateProfileClicked();
  void AutoTypeTick();
  void ShowAutoType();

  std::filesystem::path startDir_;
  Settings settings_;
  std::unique_ptr<Machine> machine_;
  KeyMap keyMap_;
  SoundOutput sound_;
  DigiblasterOutput digiblaster_;
  DriveSounds driveSounds_;
  AutoTypeState autoType_;
  MouseJoystick mouseJoystick_;
  std::unique_ptr<Hooks> hooks_;
  std::unique_ptr<CaptureController> capture_;
  std::unique_ptr<EmulationThread> thread_;
  bool shutDown_ = false;

  // Main-window state.
  bool emulationRunning_ = true;
  bool fullScreen_ = false;
  bool altHeld_ = false;
  bool cursorHidden_ = false;
  bool firstTick_ = true;
  QRect windowedBounds_;
  int lastMouseX_ = 0, lastMouseY_ = 0;
  WindowLayout layout_;
  bool inResize_ = false;

  FrameView* view_ = nullptr;
  TDebugForm* debugForm_ = nullptr;
  DriveMenus* drives_ = nullptr;
  TapeMenus* tapes_ = nullptr;
  TapeLamp* tapeLamp_ = nullptr;
  QLabel* tapeCounter_ = nullptr;
  LampPanel* lamps_ = nullptr;
  QTimer lampTimer_;
  QLabel* panelA_ = nullptr;
  QLabel* panelB_ = nullptr;
  QLabel* panelSpeed_ = nullptr;
  QToolBar* toolBar_ = nullptr;
  QTimer statusTimer_;
  QTimer autoTypeTimer_;
  QImage overlay_;
  TCPCConfigMenu* cpcConfig_ = nullptr;
  TMiscConfigMenu* miscConfig_ = nullptr;
  TKeyBoardMapper* keyMapper_ = nullptr;
  TAutoTypeBox* autoTypeBox_ = nullptr;

 public:
  // Tool bar buttons under their established names.
  QToolButton* ToolButton1 = nullptr;  // pause / resume
  QToolButton* ToolButton2 = nullptr;  // reset
  QToolButton* ToolButton4 = nullptr;  // screenshot
  QToolButton* ToolButton10 = nullptr; // consecutive stills
  QToolButton* ToolButton15 = nullptr; // AVI
  QToolButton* ToolButton16 = nullptr; // WAV
  QToolButton* ToolButton8 = nullptr;  // half size
  QToolButton* ToolButton9 = nullptr;  // full size
  QToolButton* ToolButton7 = nullptr;  // debugger
  QMenu* popupMenu = nullptr;
  QAction* currentProfileAction = nullptr;
  QAction* popupCurrentProfileAction = nullptr;
  QAction* showToolbarAction = nullptr;
};
