// The main window's first start, machine models, picture scale, About text
// and files dropped on it.
#include <QActionGroup>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cstdio>

#include "frontend/machine_models.h"
#include "frontend/qt/file_opener.h"
#include "frontend/qt/frame_view.h"
#include "frontend/qt/main_window.h"

namespace {

// The About box's two contact links.
constexpr const char* kHomePage = "https://pellucidore.example.org/";
constexpr const char* kContactMail = "pellucidore@example.org";

QStringList LocalFiles(const QMimeData* data) {
  QStringList files;
  if (!data || !data->hasUrls()) return files;
  for (const QUrl& url : data->urls())
    if (url.isLocalFile()) files << url.toLocalFile();
  return files;
}

}  // namespace

void MainWindow::FirstStartGeometry() {
  QScreen* screen = QGuiApplication::primaryScreen();
  const QRect free = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
  // Room for a window frame (which the toolkit cannot tell before the window
  // is shown), the menu bar and the tool and status bars.
  constexpr int kFrameAllowanceW = 16, kFrameAllowanceH = 40;
  const int scale = FirstStartScale(free.width(), free.height(), kFrameAllowanceW,
                                    kFrameAllowanceH + menuBar()->sizeHint().height() + kBarsHeight);
  // Not SetPictureScale: the menu bar is not visible yet, but will take its room.
  resize(kFrameWidth / 2 * scale, kFrameHeight / 2 * scale + kBarsHeight + menuBar()->sizeHint().height());
  move(free.left() + std::max(0, (free.width() - width()) / 2),
       free.top() + std::max(0, (free.height() - height() - kFrameAllowanceH) / 2));
}

void MainWindow::SetPictureScale(int scale) {
  if (fullScreen_) return;
  SetClientSize(kFrameWidth / 2 * scale, kFrameHeight / 2 * scale + kBarsHeight);
}

void MainWindow::ShowBuiltInRoms() {
  const std::vector<std::string>& used = machine_->Memory.BuiltInRomsUsed;
  if (used.empty()) return;
  QStringList names;
  for (const std::string& name : used) names << QString::fromStdString(name);
  const QString message = QString("Built-in firmware used for %1 (not in %2)")
                              .arg(names.join(", "), QString::fromStdString(settings_.ROMDIR));
  statusBar()->showMessage(message, 10000);
  std::fprintf(stderr, "pellucidore: %s\n", message.toLocal8Bit().constData());
  // Again once the window is up, as for the missing-ROM message.
  QTimer::singleShot(0, this, [this, message] { statusBar()->showMessage(message, 10000); });
}

void MainWindow::BuildMachineMenu(QMenu* menu) {
  auto* group = new QActionGroup(menu);
  for (const CpcModel& model : kCpcModels) {
    QAction* item = menu->addAction(model.MenuText);
    item->setCheckable(true);
    item->setActionGroup(group);
    item->setToolTip(QString("Switch to the profile %1 and restart").arg(model.ProfileName));
    connect(item, &QAction::triggered, this, [this, &model] {
      PauseRuleBegin();
      // Written again if it was deleted since the start.
      if (auto r = EnsureModelProfiles(settings_); !r.Ok) statusBar()->showMessage(QString::fromStdString(r.Error), 8000);
      SwitchProfile(model.ProfileName);
      PauseRuleEnd();
      statusBar()->showMessage(QString("%1 restarted").arg(model.MenuText), 5000);
    });
    modelActions_.emplace_back(&model, item);
  }
  UpdateMachineChecks();
}

void MainWindow::UpdateMachineChecks() {
  const CpcModel* current = ModelOfSettings(settings_);
  for (auto& [model, item] : modelActions_) item->setChecked(model == current);
}

void MainWindow::BuildViewMenu(QMenu* menu) {
  for (int scale = 1; scale <= 4; ++scale)
    menu->addAction(QString("%1x").arg(scale), this, [this, scale] { SetPictureScale(scale); });
  menu->addAction("Fit", this, [this] {
    // The window's height follows its width, so the picture fills it at 4:3.
    if (!fullScreen_) SetClientSize(ClientSize().width(), AspectClientHeight(ClientSize().width()));
  });
  menu->addSeparator();
  QAction* integer = menu->addAction("Integer Scaling");
  integer->setCheckable(true);
  integer->setChecked(settings_.INTEGERSCALE);
  connect(integer, &QAction::toggled, this, [this](bool on) {
    settings_.INTEGERSCALE = on;
    view_->SetIntegerScale(on);
  });
}

QString MainWindow::AboutText() const {
  return QString(
             "<p><b>Pellucidore</b><br>Version 1.1</p>"
             "<p><a href=\"%1\">%1</a><br><a href=\"mailto:%2\">%2</a></p>"
             "<p>Amstrad have kindly given their permission for the redistribution of their copyrighted "
             "material but retain that copyright</p>")
      .arg(kHomePage, kContactMail);
}

QString MainWindow::OpenFiles(const QStringList& files) { return opener_->Open(files, false, settings_.AUTORUN); }

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!LocalFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QStringList files = LocalFiles(event->mimeData());
  if (files.isEmpty()) return;
  event->acceptProposedAction();
  // Shift puts the disk in drive B.
  opener_->Open(files, event->modifiers() & Qt::ShiftModifier, settings_.AUTORUN);
}
