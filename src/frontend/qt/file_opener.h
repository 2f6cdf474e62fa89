// Files opened from outside the dialogs: the command line, a drop on the
// window and the File menu's "Recent" list. Each file is judged by its
// content (open_files.h): disks go into drive A then B (B alone when asked),
// a snapshot is loaded, anything else is named in the status bar. With
// autorun, the machine restarts with the disk in drive A and, once BASIC
// says "Ready", types the command that starts it (autorun.h).
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

class QMenu;
class MainWindow;

class FileOpener : public QObject {
  Q_OBJECT
 public:
  explicit FileOpener(MainWindow& form);

  // Returns what the status bar was told.
  QString Open(const QStringList& files, bool driveB, bool autorun);

  // A "Recent" submenu under parent, rebuilt from RECENT whenever it opens.
  void AddRecentMenu(QMenu* parent);

  // The command typed (or waiting to be typed) by the last autorun.
  QString AutorunCommandText() const { return autorunCommand_; }

 private:
  void Remember(const QString& path);
  void PollReady();

  MainWindow& form_;
  QTimer readyTimer_;
  int readyPolls_ = 0;
  QString autorunCommand_;
};
