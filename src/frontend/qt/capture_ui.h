// The window side of stills and recordings: the four capture buttons and
// their hotkeys (F5 still, F6 series, F7 AVI, F8 WAV), the save dialogs, the
// video codec chooser, the interlocks that keep other controls off while a
// capture runs, and the blinking recording button.
//
// The capture work itself is platform/capture; the window owns one
// controller and calls StillsPeriod and CapturePeriod from its per-period
// hooks.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "frontend/settings.h"
#include "platform/capture.h"

class QListWidget;
class QSpinBox;
class QToolButton;
class QWidget;

// Lists the usable video encoders, uncompressed first, with the key-frame
// interval and the data rate. Cancel means no recording.
class CodecChooser : public QDialog {
  Q_OBJECT
 public:
  explicit CodecChooser(QWidget* parent = nullptr);
  AviOptions Options() const;
  QListWidget* List() const { return list_; }

 private:
  std::vector<VideoEncoderChoice> encoders_;
  QListWidget* list_ = nullptr;
  QSpinBox* keyFrames_ = nullptr;
  QSpinBox* dataRate_ = nullptr;
};

struct CaptureButtons {
  QToolButton* Still = nullptr;     // ToolButton4
  QToolButton* Series = nullptr;    // ToolButton10
  QToolButton* Avi = nullptr;       // ToolButton15
  QToolButton* Wav = nullptr;       // ToolButton16
  QToolButton* Debugger = nullptr;  // ToolButton7
};

class CaptureController : public QObject {
  Q_OBJECT
 public:
  CaptureController(QWidget* window, Machine& machine, Settings& settings, const CaptureButtons& buttons);
  ~CaptureController() override;

  // Set by the owner. Suspend / Resume follow the pause rule; both may nest.
  std::function<void()> Suspend = [] {};
  std::function<void()> Resume = [] {};
  std::function<bool()> EmulationRunning = [] { return true; };
  // Replaceable for tests. The save dialog returns the chosen name (empty:
  // cancelled) and may change *filterIndex (0-based).
  std::function<QString(const QString& title, const QString& file, const QString& filter, int* filterIndex)>
      SaveDialog;
  std::function<std::optional<AviOptions>()> ChooseCodec;

  void ScreenshotClicked();  // ToolButton4, F5
  void SeriesClicked();      // ToolButton10, F6
  void AviClicked();         // ToolButton15, F7
  void WavClicked();         // ToolButton16, F8
  // F5..F8 as virtual-key codes; F6..F8 act only while their button is enabled.
  void HotKey(int virtualKey);
  // The status timer: blinks the recording button, ends a failed recording.
  void TimerTick();
  // Ends a recording and waits for a series writer (shutdown; the emulation
  // thread must be stopped or parked).
  void Shutdown();

  // Emulation thread, after every period.
  void StillsPeriod(Machine& m);
  void CapturePeriod(Machine& m);

  const Recording& recording() const { return recording_; }
  const StillSeries& series() const { return series_; }

 signals:
  // A still or a series could not be written, or a recording broke off.
  void CaptureError(const QString& message);
  // Where a screenshot, a series or a recording went, for the status bar.
  void Saved(const QString& message);
  void SeriesWritten(int files);

 private:
  std::string DiskNameA() const;
  void StartRecording(Recording::Kind kind);
  void StopRecording();
  void Lock(const std::vector<QToolButton*>& controls);
  void Unlock();

  QWidget* window_;
  Machine& machine_;
  Settings& settings_;
  CaptureButtons buttons_;
  QIcon aviIcon_, wavIcon_;
  bool blinkOff_ = false;
  // Controls switched off by the running capture and their former state.
  std::vector<std::pair<QToolButton*, bool>> locked_;
  StillSeries series_;
  Recording recording_;
  std::filesystem::path recordingFile_;
};
