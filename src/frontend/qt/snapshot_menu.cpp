#include "frontend/qt/snapshot_menu.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QStatusBar>
#include <filesystem>

#include "frontend/open_files.h"
#include "frontend/qt/main_window.h"
#include "frontend/settings.h"
#include "storage/snapshot.h"

namespace {

constexpr const char* kFilter = "SNA Files (*.sna)";
// For tools that read only the first version: 64 KB, no later fields.
constexpr const char* kVersion1Filter = "SNA version 1, 64 KB (*.sna)";
constexpr int kStatusMilliseconds = 5000;

std::filesystem::path LocalPath(const QString& name) { return QFile::encodeName(name).toStdString(); }

void ShowRefusal(MainWindow& form, const SnapshotResult& result) {
  if (!result.Ok) QMessageBox::warning(&form, "Pellucidore", QString::fromStdString(result.Error));
  else if (!result.Warning.empty()) form.statusBar()->showMessage(QString::fromStdString(result.Warning), 8000);
}

void Status(MainWindow& form, const QString& text) { form.statusBar()->showMessage(text, kStatusMilliseconds); }

}  // namespace

void LoadSnapshotClicked(MainWindow& form) {
  form.PauseRuleBegin();
  const QString chosen = QFileDialog::getOpenFileName(&form, "Load Snapshot",
                                                      QString::fromStdString(form.settings().SNAPDIR), kFilter);
  if (!chosen.isEmpty() && QFileInfo::exists(chosen)) {
    const SnapshotResult loaded = LoadSnapshot(form.machine(), LocalPath(chosen));
    ShowRefusal(form, loaded);
    if (loaded.Ok) AddRecentFile(form.settings().RECENT, QFileInfo(chosen).absoluteFilePath().toStdString());
  }
  form.PauseRuleEnd();
}

void SaveSnapshotClicked(MainWindow& form) {
  form.PauseRuleBegin();
  QString type;
  const QString chosen = QFileDialog::getSaveFileName(&form, "Save Snapshot",
                                                      QString::fromStdString(form.settings().SNAPDIR),
                                                      QString(kFilter) + ";;" + kVersion1Filter, &type);
  const int version = type == kVersion1Filter ? 1 : kSnapshotDefaultVersion;
  if (!chosen.isEmpty()) {
    const std::filesystem::path file = SnapshotFileName(LocalPath(chosen));
    const SnapshotResult saved = SaveSnapshot(form.machine(), file, version);
    ShowRefusal(form, saved);
    if (saved.Ok) form.statusBar()->showMessage("Snapshot saved to " + QString::fromStdString(file.string()), 8000);
  }
  form.PauseRuleEnd();
}

std::filesystem::path QuickSlotPath(const Settings& settings, int slot) {
  std::string profile = std::filesystem::path(settings.LASTPROFILE).stem().string();
  if (profile.empty()) profile = "Default";
  return std::filesystem::path(settings.SNAPDIR) / (profile + "-slot" + std::to_string(slot) + ".sna");
}

void QuickSaveClicked(MainWindow& form, int slot) {
  const std::filesystem::path path = QuickSlotPath(form.settings(), slot);
  form.PauseRuleBegin();
  const SnapshotResult saved = SaveSnapshot(form.machine(), path);
  form.PauseRuleEnd();
  Status(form, saved.Ok ? QString("Snapshot saved to slot %1 (%2)").arg(slot).arg(QString::fromStdString(path.filename().string()))
                        : QString::fromStdString(saved.Error));
}

void QuickLoadClicked(MainWindow& form, int slot) {
  const std::filesystem::path path = QuickSlotPath(form.settings(), slot);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    Status(form, QString("Snapshot slot %1 is empty").arg(slot));
    return;
  }
  form.PauseRuleBegin();
  const SnapshotResult loaded = LoadSnapshot(form.machine(), path);
  form.PauseRuleEnd();
  if (!loaded.Ok) Status(form, QString::fromStdString(loaded.Error));
  else if (!loaded.Warning.empty()) Status(form, QString::fromStdString(loaded.Warning));
  else Status(form, QString("Snapshot loaded from slot %1 (%2)").arg(slot).arg(QString::fromStdString(path.filename().string())));
}

bool QuickSnapshotKey(MainWindow& form, const QKeyEvent& event) {
  const int slot = event.key() - Qt::Key_F5 + 1;
  if (slot < 1 || slot > kQuickSlots) return false;
  const Qt::KeyboardModifiers mods = event.modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
  if (mods != Qt::ShiftModifier && mods != Qt::ControlModifier) return false;
  if (event.isAutoRepeat()) return true;
  if (mods == Qt::ShiftModifier) QuickSaveClicked(form, slot);
  else QuickLoadClicked(form, slot);
  return true;
}

void AddQuickSnapshotMenu(MainWindow& form, QMenu* file) {
  QMenu* quick = file->addMenu("Quick Snapshots");
  // The keys are shown, not bound: the window's key routing acts on them.
  for (int slot = 1; slot <= kQuickSlots; ++slot)
    quick->addAction(QString("Save Slot %1\tShift+F%2").arg(slot).arg(slot + 4), &form,
                     [&form, slot] { QuickSaveClicked(form, slot); });
  quick->addSeparator();
  for (int slot = 1; slot <= kQuickSlots; ++slot)
    quick->addAction(QString("Load Slot %1\tCtrl+F%2").arg(slot).arg(slot + 4), &form,
                     [&form, slot] { QuickLoadClicked(form, slot); });
}
