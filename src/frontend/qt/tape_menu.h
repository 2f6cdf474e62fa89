// The tape deck as the window shows it: the "Tape" menu (insert, eject, the
// deck's buttons, recording, fast loading and the block list), the tape lamp
// and counter in the status bar, the deck's messages, and reinsertion of the
// last tape from the settings.
#pragma once

#include <QObject>
#include <QString>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

class QAction;
class QLabel;
class QMenu;
struct Machine;
struct Settings;

// Green while the tape plays into the machine, red while it records.
class TapeLamp : public QWidget {
 public:
  explicit TapeLamp(QWidget* parent);
  void SetColour(QColor c);

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  QColor colour_;
};

class TapeMenus : public QObject {
  Q_OBJECT
 public:
  // pause/resume: the window's pause rule around every change of the deck;
  // fastTape: tells the emulation thread about FASTTAPE.
  TapeMenus(QWidget* window, Machine& m, Settings& s, std::function<void()> pause, std::function<void()> resume,
            std::function<void(bool)> fastTape);

  void FillMenu(QMenu* menu);  // the items of a "Tape" menu (menu bar and pop-up)
  void SetStatusWidgets(TapeLamp* lamp, QLabel* counter);

  void Insert();
  void InsertFile(const QString& path, bool quiet);
  void Eject();
  void Play();
  void Stop();
  void Rewind();
  void Record();
  // Ends a recording: writes its CDT and puts it in the deck, rewound.
  void FinishRecording();
  void Reinsert();        // start-up and profile change: TAPE from the settings
  void StoreInSettings();  // the tape in the deck into TAPE
  void Refresh();         // lamp, counter and messages; called by the window's lamp timer
  QString Counter() const;

  // Tests replace the dialogs.
  std::function<QString()> ChooseFile;
  std::function<QString()> ChooseRecordFile;
  std::function<void(const QString& text)> Message;
  std::function<void(const QString& text)> Notice;  // short status-bar text

 private:
  void FillBlocks(QMenu* menu);
  void Paused(const std::function<void()>& change);

  QWidget* window_;
  Machine& m_;
  Settings& s_;
  std::function<void()> pause_, resume_;
  std::function<void(bool)> fastTape_;
  std::string tapePath_;
  std::string recordPath_;
  std::vector<QAction*> fastItems_;
  TapeLamp* lamp_ = nullptr;
  QLabel* counter_ = nullptr;
  uint32_t messagesSeen_ = 0;
};
