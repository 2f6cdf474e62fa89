#include "frontend/qt/script_control.h"

#include "core/machine.h"
#include "frontend/settings.h"
#include "platform/image_writer.h"

namespace fs = std::filesystem;

ScriptControl::ScriptControl(QObject* parent, Machine& m, const Settings& settings, std::function<void()> hold,
                             std::function<void()> release)
    : QObject(parent), machine_(m), settings_(settings), hold_(std::move(hold)), release_(std::move(release)) {}

ScriptControl::~ScriptControl() = default;

QString ScriptControl::Run(const fs::path& file) {
  hold_();
  if (runner_) runner_->Stop(machine_);
  const int quality = settings_.JPGQUALITY;
  runner_ = std::make_unique<CslRunner>(CslHost{
      .WriteScreenshot = [quality](const Machine& m, const fs::path& path) { return WriteFramePicture(m, path, quality); },
      .SelectCrtc = {},
      .DiskDir = settings_.DISKDIR,
      .TapeDir = settings_.TAPEDIR,
      .SnapshotDir = settings_.SNAPDIR,
      .ScreenshotDir = settings_.STILLSDIR,
      // Emulation thread: queued to the window.
      .Message = [this](const std::string& line) { emit Notice(QString::fromStdString(line)); },
  });
  std::string error = runner_->Start(machine_, file);
  // The commands due at once run now, as the runner does before its first period.
  if (error.empty() && !runner_->Service(machine_)) error = runner_->Error();
  running_.store(error.empty() && runner_->Running(), std::memory_order_release);
  if (!running_) runner_->Stop(machine_);
  release_();
  return QString::fromStdString(error);
}

void ScriptControl::PeriodEnd(Machine& m) {
  if (!running_.load(std::memory_order_acquire)) return;
  if (runner_->Service(m)) return;
  runner_->Stop(m);
  running_.store(false, std::memory_order_release);
  emit Finished(QString::fromStdString(runner_->Error()));
}
