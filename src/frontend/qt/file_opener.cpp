#include "frontend/qt/file_opener.h"

#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QStatusBar>
#include <cstdio>

#include "devices/screen_text.h"
#include "frontend/autorun.h"
#include "frontend/open_files.h"
#include "frontend/qt/drive_menu.h"
#include "frontend/qt/main_window.h"
#include "storage/snapshot.h"

namespace {

// Ten seconds of polls for "Ready"; after that the command is typed anyway.
constexpr int kReadyPollMs = 100;
constexpr int kReadyPolls = 100;

std::filesystem::path LocalPath(const QString& name) { return QFile::encodeName(name).toStdString(); }

}  // namespace

FileOpener::FileOpener(MainWindow& form) : QObject(&form), form_(form) {
  readyTimer_.setInterval(kReadyPollMs);
  connect(&readyTimer_, &QTimer::timeout, this, &FileOpener::PollReady);
}

void FileOpener::Remember(const QString& path) {
  AddRecentFile(form_.settings().RECENT, QFileInfo(path).absoluteFilePath().toStdString());
}

QString FileOpener::Open(const QStringList& files, bool driveB, bool autorun) {
  Machine& m = form_.machine();
  QStringList said;
  int nextDrive = driveB ? 1 : 0;
  bool diskInA = false, snapshotLoaded = false;
  form_.PauseRuleBegin();
  for (const QString& file : files) {
    const OpenFileKind kind = DetectFileKind(LocalPath(file));
    const QString name = QFileInfo(file).fileName();
    if (kind == OpenFileKind::Disk || kind == OpenFileKind::Zip) {
      if (nextDrive > 1) {
        said << QString("%1: both drives are taken").arg(name);
        continue;
      }
      const int drive = nextDrive++;
      form_.drives()->InsertFile(drive, QFileInfo(file).absoluteFilePath());
      if (m.Fdc.Drives[drive].Loaded) {
        Remember(file);
        diskInA = diskInA || drive == 0;
      }
    } else if (kind == OpenFileKind::Snapshot) {
      const SnapshotResult r = LoadSnapshot(m, LocalPath(file));
      if (r.Ok) {
        Remember(file);
        snapshotLoaded = true;
        said << QString("Snapshot %1 loaded").arg(name);
      } else {
        said << QString::fromStdString(r.Error);
      }
    } else {
      said << QString::fromStdString(OpenFileProblem(LocalPath(file), kind));
    }
  }
  // A snapshot is a running program already; typing into it would disturb it.
  autorunCommand_.clear();
  if (autorun && diskInA && !snapshotLoaded) {
    const DriveImage& a = m.Fdc.Drives[0];
    autorunCommand_ = QString::fromStdString(
        AutorunCommand(m.Fdc.Drives[0], a.Source == kSourceZip ? a.ZipMember : a.DiskPath));
    // From a clean start, as if the disk had been in the drive at power-on.
    StopAutoType(form_.autoType());
    form_.autoTypeTimer().stop();
    ResetMachine(m);
    readyPolls_ = 0;
    readyTimer_.start();
    said << QString("Autorun: %1").arg(autorunCommand_);
  }
  form_.PauseRuleEnd();
  const QString text = said.join("; ");
  if (!text.isEmpty()) {
    form_.statusBar()->showMessage(text, 10000);
    std::fprintf(stderr, "pellucidore: %s\n", text.toLocal8Bit().constData());
  }
  return text;
}

void FileOpener::PollReady() {
  if (!form_.EmulationRunning()) return;  // the user paused: wait
  bool ready = ++readyPolls_ >= kReadyPolls;
  if (!ready) {
    form_.PauseRuleBegin();
    for (const std::string& line : ScreenText(form_.machine()))
      if (line.find("Ready") != std::string::npos) ready = true;
    form_.PauseRuleEnd();
  }
  if (!ready) return;
  readyTimer_.stop();
  if (StartAutoType(form_.autoType(), AutoTypeTextFromLines(autorunCommand_.toStdString())))
    form_.autoTypeTimer().start();
}

void FileOpener::AddRecentMenu(QMenu* parent) {
  QMenu* recent = parent->addMenu("Recent");
  connect(recent, &QMenu::aboutToShow, this, [this, recent] {
    recent->clear();
    for (const std::string& path : form_.settings().RECENT) {
      const QString file = QString::fromStdString(path);
      QAction* item = recent->addAction(QFileInfo(file).fileName(), this, [this, file] { Open({file}, false, false); });
      item->setToolTip(file);
      item->setStatusTip(file);
    }
    if (recent->isEmpty()) recent->addAction("(none)")->setEnabled(false);
  });
}
