// The main window: start-up and shutdown, the picture, tool bar, status bar
// and menus, and the routing of every key and mouse event of the program.
//
// Machine state is changed here only while the emulation thread is parked
// (SuspendEmulation), except for the single values the thread reads without
// a lock: keyboard matrix bits, joystick bits, mouse fields, the light-pen
// target and the zoom rectangle.
#pragma once

#include <QMainWindow>
#include <QStringList>
#include <QTimer>
#include <filesystem>
#include <memory>
#include <utility>
#include <vector>

#include "core/emulation_thread.h"
#include "core/machine.h"
#include "devices/keymap.h"
#include "devices/ppi.h"
#include "frontend/autotype.h"
#include "frontend/settings.h"
#include "frontend/symbolic_keys.h"
#include "frontend/window_geometry.h"
#include "platform/audio_output.h"
#include "platform/cups_printer.h"
#include "platform/digiblaster_output.h"
#include "platform/drive_sounds.h"
#include "platform/parport_printer.h"
#include "platform/game_controllers.h"

class DriveMenus;
class FileOpener;
struct CpcModel;
class TapeLamp;
class TapeMenus;
class CaptureController;
class FrameView;
class LampPanel;
class QAction;
class QLabel;
class QMenu;
class QKeyEvent;
class QToolButton;
class RewindControl;
class ScriptControl;
class AutoTypeDialog;
class MachineConfigDialog;
class KeyMapperDialog;
class SettingsDialog;
class DebuggerWindow;

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  explicit MainWindow(const std::filesystem::path& startDir, QWidget* parent = nullptr);
  ~MainWindow() override;

  Machine& machine() { return *machine_; }
  Settings& settings() { return settings_; }
  FrameView* frameView() const { return view_; }
  DebuggerWindow* debugForm() const { return debugForm_; }
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

  // Files from the command line: disks, archives, snapshots (by content),
  // run with AUTORUN. Returns what the status bar was told.
  QString OpenFiles(const QStringList& files);
  FileOpener* opener() const { return opener_; }
  // Loads the profile of that name from PFLDIR and resets into it.
  // Call with the emulation suspended.
  void SwitchProfile(const QString& fileName);
  // View > 1x..4x: the client area for that multiple of 384 x 288.
  void SetPictureScale(int scale);
  QLabel* statePanel() const { return panelState_; }

  // Suspend around a modal dialog while the user has not paused.
  void PauseRuleBegin();
  void PauseRuleEnd();

  // After the CPC Configuration dialog wrote the settings: the running
  // machine takes them without a reset. Call with the emulation suspended.
  void ApplyConfiguration();
  // After the Misc Configuration dialog wrote the settings (before: as they
  // were): what the window and the machine hold of them follows at once.
  void ApplyMiscConfiguration(const Settings& before);
  const DriveSounds& driveSounds() const { return driveSounds_; }
  KeyMap& keyMap() { return keyMap_; }
  // KEYBOARDMODE: 0 positional, 1 symbolic. Switching releases every key.
  void SetKeyboardMode(int mode);
  // Every CPC key, the keyboard joystick and the pads' bits released (the
  // pads press theirs again at their next poll).
  void ReleaseAllKeys();
  GameControllers& pads() { return pads_; }
  // Symbolic presses and releases that waited for the keyboard scan (what
  // the key timer runs).
  void ServiceKeys();
  // After the Misc Configuration changed the joystick settings.
  void ApplyJoystickSettings();
  void PollPads();
  AutoTypeState& autoType() { return autoType_; }
  QTimer& autoTypeTimer() { return autoTypeTimer_; }
  RewindControl& rewind() { return *rewind_; }
  ScriptControl& script() { return *script_; }

  static const char* const kHotKeyText;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

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
  bool HandleKeyDown(int code, bool autoRepeat, const QKeyEvent* event, bool toCpc);
  bool HandleKeyUp(int code, bool autoRepeat, const QKeyEvent* event, bool toCpc);
  bool HotKeysApply(QObject* watched) const;
  bool KeysReachTheCpc(QObject* watched) const;
  bool KeyboardJoystickKey(int code, bool down);
  void ReleaseMouseDirections();
  bool HandleMouse(QEvent* event);
  void ZoomKeyPressed(ZoomKey key);
  void ShowHotKeys();
  void ShowAbout();
  void ShowCreateNewDisk();
  void LoadProfileClicked();
  void CreateProfileClicked();
  void AutoTypeTick();
  void ShowAutoType();
  void RunScriptClicked();
  void FirstStartGeometry();
  void ShowBuiltInRoms();
  void BuildMachineMenu(QMenu* menu);
  void BuildViewMenu(QMenu* menu);
  void UpdateMachineChecks();
  QString AboutText() const;

  std::filesystem::path startDir_;
  Settings settings_;
  std::unique_ptr<Machine> machine_;
  KeyMap keyMap_;
  SoundOutput sound_;
  DigiblasterOutput digiblaster_;
  CupsPrinter cupsPrinter_;
  ParportPrinter lptPrinter_{MakePpdevDevice()};
  DriveSounds driveSounds_;
  AutoTypeState autoType_;
  MouseJoystick mouseJoystick_;
  SymbolicKeyboard symbolic_;
  GameControllers pads_;
  QTimer padTimer_;
  QTimer mouseHoldTimer_;
  QTimer keysTimer_;
  uint8_t keyJoystick_ = 0;  // line 9 bits the keyboard joystick holds
  std::unique_ptr<Hooks> hooks_;
  std::unique_ptr<CaptureController> capture_;
  std::unique_ptr<RewindControl> rewind_;
  ScriptControl* script_ = nullptr;  // a CSL script from Tools -> Run Script...
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
  DebuggerWindow* debugForm_ = nullptr;
  DriveMenus* drives_ = nullptr;
  TapeMenus* tapes_ = nullptr;
  TapeLamp* tapeLamp_ = nullptr;
  QLabel* tapeCounter_ = nullptr;
  LampPanel* lamps_ = nullptr;
  QTimer lampTimer_;
  QLabel* panelA_ = nullptr;
  QLabel* panelB_ = nullptr;
  QLabel* panelSpeed_ = nullptr;
  QLabel* panelState_ = nullptr;
  FileOpener* opener_ = nullptr;
  std::vector<std::pair<const CpcModel*, QAction*>> modelActions_;
  QToolBar* toolBar_ = nullptr;
  QTimer statusTimer_;
  QTimer autoTypeTimer_;
  QImage overlay_;
  MachineConfigDialog* cpcConfig_ = nullptr;
  SettingsDialog* miscConfig_ = nullptr;
  KeyMapperDialog* keyMapper_ = nullptr;
  AutoTypeDialog* autoTypeBox_ = nullptr;

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
  QAction* positionalKeysAction = nullptr;
  QAction* symbolicKeysAction = nullptr;
};
