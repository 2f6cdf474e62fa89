#include "frontend/qt/snapshot_menu.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStatusBar>
#include <filesystem>

#include "frontend/open_files.h"
#include "frontend/qt/main_window.h"
#include "storage/snapshot.h"

namespace {

constexpr const char* kFilter = "SNA Files (*.sna)";

std::filesystem::path LocalPath(const QString& name) { return QFile::encodeName(name).toStdString(); }

void ShowRefusal(TMainCPCForm& form, const SnapshotResult& result) {
  if (!result.Ok) QMessageBox::warning(&form, "Pellucidore", QString::fromStdString(result.Error));
}

}  // namespace

void LoadSnapshotClicked(TMainCPCForm& form) {
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

void SaveSnapshotClicked(TMainCPCForm& form) {
  form.PauseRuleBegin();
  const QString chosen = QFileDialog::getSaveFileName(&form, "Save Snapshot",
                                                      QString::fromStdString(form.settings().SNAPDIR), kFilter);
  if (!chosen.isEmpty()) {
    const std::filesystem::path file = SnapshotFileName(LocalPath(chosen));
    const SnapshotResult saved = SaveSnapshot(form.machine(), file);
    ShowRefusal(form, saved);
    if (saved.Ok) form.statusBar()->showMessage("Snapshot saved to " + QString::fromStdString(file.string()), 8000);
  }
  form.PauseRuleEnd();
}
