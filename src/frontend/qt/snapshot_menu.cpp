#include "frontend/qt/snapshot_menu.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <filesystem>

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
  if (!chosen.isEmpty() && QFileInfo::exists(chosen)) ShowRefusal(form, LoadSnapshot(form.machine(), LocalPath(chosen)));
  form.PauseRuleEnd();
}

void SaveSnapshotClicked(TMainCPCForm& form) {
  form.PauseRuleBegin();
  const QString chosen = QFileDialog::getSaveFileName(&form, "Save Snapshot",
                                                      QString::fromStdString(form.settings().SNAPDIR), kFilter);
  if (!chosen.isEmpty()) ShowRefusal(form, SaveSnapshot(form.machine(), SnapshotFileName(LocalPath(chosen))));
  form.PauseRuleEnd();
}
