// The two floppy drives as the window shows them: the "Floppy A:"/"Floppy B:"
// menus (in the menu bar and the pop-up), the status panels, the lamps, the
// archive member chooser, and reinsertion from the settings.
#pragma once

#include <QDialog>
#include <QObject>
#include <QStringList>
#include <array>
#include <vector>

class QAction;
class QLabel;
class QListWidget;
class QMenu;
class QWidget;
struct Machine;
struct Settings;

// "Open Compressed Files": picks one DSK member of an archive.
class ZipMemberDialog : public QDialog {
  Q_OBJECT
 public:
  ZipMemberDialog(const QStringList& members, QWidget* parent);
  QString Chosen() const;
  QListWidget* list() const { return list_; }

 private:
  QListWidget* list_;
};

class DriveMenus : public QObject {
  Q_OBJECT
 public:
  // pause/resume: the window's pause rule around dialogs and ejects.
  DriveMenus(QWidget* window, Machine& m, Settings& s, std::function<void()> pause, std::function<void()> resume);

  void AddMenus(QMenu* parent);       // Floppy A: and Floppy B: under parent
  void SetPanels(QLabel* a, QLabel* b);

  void Load(int drive);
  // Inserts a file chosen elsewhere (command line, drop, Recent); the caller
  // has the emulation parked.
  void InsertFile(int drive, const QString& path) { Insert(drive, path, QString()); }
  void Eject(int drive);
  void ToggleWriteProtect(int drive);
  // Start-up and profile change: write protection and FDD0/FDD1 from the
  // settings; messages are shown to the user.
  void Reinsert();
  // Where the drives stand, into FDD0/FDD1/COMPRFDD0/COMPRFDD1 for saving.
  void StoreInSettings();
  void Refresh();  // captions, panels and check marks from the drives

  // Tests replace the dialogs.
  std::function<QString(int drive)> ChooseFile;
  std::function<QString(const QStringList& members)> ChooseMember;
  std::function<void(const QString& text)> Message;

 private:
  void Insert(int drive, const QString& path, const QString& member);
  void Show(const std::vector<std::string>& messages);

  QWidget* window_;
  Machine& m_;
  Settings& s_;
  std::function<void()> pause_, resume_;
  std::array<std::vector<QMenu*>, 2> menus_;
  std::array<std::vector<QAction*>, 2> protectItems_;
  std::array<QLabel*, 2> panels_{};
};
