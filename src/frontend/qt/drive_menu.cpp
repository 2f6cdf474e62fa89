#include "frontend/qt/drive_menu.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/machine.h"
#include "frontend/open_files.h"
#include "frontend/settings.h"

ZipMemberDialog::ZipMemberDialog(const QStringList& members, QWidget* parent) : QDialog(parent) {
  setWindowTitle("Open Compressed Files");
  list_ = new QListWidget(this);
  list_->addItems(members);
  if (!members.isEmpty()) list_->setCurrentRow(0);
  auto* open = new QPushButton("Open", this);
  auto* cancel = new QPushButton("Cancel", this);
  connect(open, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(list_, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(open);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_);
  layout->addLayout(buttons);
}

QString ZipMemberDialog::Chosen() const {
  return list_->currentItem() ? list_->currentItem()->text() : QString();
}

DriveMenus::DriveMenus(QWidget* window, Machine& m, Settings& s, std::function<void()> pause,
                       std::function<void()> resume)
    : QObject(window), window_(window), m_(m), s_(s), pause_(std::move(pause)), resume_(std::move(resume)) {
  ChooseFile = [this](int drive) {
    const DriveImage& d = m_.Fdc.Drives[drive];
    QString start = QString::fromStdString(s_.DISKDIR);
    if (!d.DiskPath.empty()) start = QString::fromStdString(d.DiskPath);
    return QFileDialog::getOpenFileName(window_, drive == 0 ? "Load Floppy Disk A" : "Load Floppy Disk B", start,
                                        "DSK Files (*.dsk *.DSK *.zip *.ZIP)");
  };
  Message = [this](const QString& text) { QMessageBox::warning(window_, "Pellucidore", text); };
  ChooseMember = [this](const QStringList& members) {
    ZipMemberDialog box(members, window_);
    return box.exec() == QDialog::Accepted ? box.Chosen() : QString();
  };
}

void DriveMenus::AddMenus(QMenu* parent) {
  for (int drive = 0; drive < 2; ++drive) {
    QMenu* menu = parent->addMenu(drive == 0 ? "Floppy A:" : "Floppy B:");
    menu->addAction("Load", this, [this, drive] { Load(drive); });
    menu->addAction("Eject", this, [this, drive] { Eject(drive); });
    QAction* protect = menu->addAction("Write Protected");
    protect->setCheckable(true);
    connect(protect, &QAction::triggered, this, [this, drive] { ToggleWriteProtect(drive); });
    menus_[drive].push_back(menu);
    protectItems_[drive].push_back(protect);
  }
  Refresh();
}

void DriveMenus::SetPanels(QLabel* a, QLabel* b) {
  panels_ = {a, b};
  Refresh();
}

void DriveMenus::Refresh() {
  for (int drive = 0; drive < 2; ++drive) {
    const DriveImage& d = m_.Fdc.Drives[drive];
    for (QMenu* menu : menus_[drive]) menu->setTitle(QString::fromStdString(DriveCaption(d, drive)));
    for (QAction* a : protectItems_[drive]) a->setChecked(d.WriteProtected.load());
    if (panels_[drive]) panels_[drive]->setText(QString::fromStdString(DriveStatusText(d, drive)));
  }
}

void DriveMenus::Show(const std::vector<std::string>& messages) {
  for (const std::string& text : messages) Message(QString::fromStdString(text));
}

void DriveMenus::Insert(int drive, const QString& path, const QString& member) {
  DriveImage& d = m_.Fdc.Drives[drive];
  std::vector<std::string> choices;
  InsertResult r = InsertDiskPath(d, path.toStdString(), member.toStdString(), &choices);
  Show(r.Messages);
  if (r.Status == InsertStatus::Choose) {
    QStringList list;
    for (const auto& c : choices) list << QString::fromStdString(c);
    const QString chosen = ChooseMember(list);
    if (!chosen.isEmpty()) {
      r = InsertDiskPath(d, path.toStdString(), chosen.toStdString());
      Show(r.Messages);
    } else {
      d.ZipPath.clear();
    }
  }
  Refresh();
}

void DriveMenus::Load(int drive) {
  pause_();
  const QString path = ChooseFile(drive);
  if (!path.isEmpty()) Insert(drive, path, QString());
  if (!path.isEmpty() && m_.Fdc.Drives[drive].Loaded) AddRecentFile(s_.RECENT, m_.Fdc.Drives[drive].DiskPath);
  resume_();
}

void DriveMenus::Eject(int drive) {
  // The controller must not be inside the image while it closes.
  pause_();
  EjectDrive(m_.Fdc.Drives[drive]);
  resume_();
  Refresh();
}

void DriveMenus::ToggleWriteProtect(int drive) {
  DriveImage& d = m_.Fdc.Drives[drive];
  const bool on = !d.WriteProtected.load();
  d.WriteProtected = on;
  (drive == 0 ? s_.WRPROTECTION0 : s_.WRPROTECTION1) = on;
  Refresh();
}

void DriveMenus::Reinsert() {
  m_.Fdc.Drives[0].WriteProtected = s_.WRPROTECTION0;
  m_.Fdc.Drives[1].WriteProtected = s_.WRPROTECTION1;
  const std::string* paths[2] = {&s_.FDD0, &s_.FDD1};
  const std::string* members[2] = {&s_.COMPRFDD0, &s_.COMPRFDD1};
  for (int drive = 0; drive < 2; ++drive) {
    // A drive keeps what the user put in it unless the settings name
    // another disk: an empty name or the disk already inserted changes nothing.
    const DriveImage& d = m_.Fdc.Drives[drive];
    if (paths[drive]->empty() || (d.Loaded && d.DiskPath == *paths[drive] && d.ZipMember == *members[drive]))
      continue;
    Insert(drive, QString::fromStdString(*paths[drive]), QString::fromStdString(*members[drive]));
  }
  Refresh();
}

void DriveMenus::StoreInSettings() {
  const DriveImage& a = m_.Fdc.Drives[0];
  const DriveImage& b = m_.Fdc.Drives[1];
  s_.FDD0 = a.Loaded ? a.DiskPath : std::string();
  s_.FDD1 = b.Loaded ? b.DiskPath : std::string();
  s_.COMPRFDD0 = a.Loaded ? a.ZipMember : std::string();
  s_.COMPRFDD1 = b.Loaded ? b.ZipMember : std::string();
}
