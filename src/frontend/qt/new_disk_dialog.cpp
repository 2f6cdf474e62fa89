#include "frontend/qt/new_disk_dialog.h"

#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

NewDiskDialog::NewDiskDialog(std::filesystem::path diskDir, QWidget* parent)
    : QDialog(parent), diskDir_(std::move(diskDir)) {
  setWindowTitle("Create New Disks");

  FloppyGroup = new QGroupBox("3\" Formatted Disk (Single Sided)", this);
  FormatBox = new QComboBox(FloppyGroup);
  for (const char* name : kNewDiskFormatNames) FormatBox->addItem(name);
  FormatBox->setCurrentIndex(0);
  SaveDskButton = new QPushButton("Save", FloppyGroup);
  auto* floppyLayout = new QHBoxLayout(FloppyGroup);
  floppyLayout->addWidget(FormatBox, 1);
  floppyLayout->addWidget(SaveDskButton);

  HddGroup = new QGroupBox("HDD Image", this);
  SizeEdit = new QLineEdit("0", HddGroup);
  SizeEdit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), SizeEdit));
  Fat16Button = new QRadioButton("FAT16", HddGroup);
  Fat16Button->setChecked(true);
  Fat32Button = new QRadioButton("FAT32", HddGroup);
  Fat32Button->setEnabled(false);
  SaveHddButton = new QPushButton("Save", HddGroup);
  ProgressBar = new QProgressBar(HddGroup);
  ProgressBar->setRange(0, 100);
  ProgressBar->setValue(0);
  auto* hddLayout = new QGridLayout(HddGroup);
  hddLayout->addWidget(new QLabel("Size in MBs (1-120000)", HddGroup), 0, 0);
  hddLayout->addWidget(SizeEdit, 0, 1);
  hddLayout->addWidget(Fat16Button, 1, 0);
  hddLayout->addWidget(Fat32Button, 1, 1);
  hddLayout->addWidget(SaveHddButton, 2, 1);
  hddLayout->addWidget(ProgressBar, 3, 0, 1, 2);

  CloseButton = new QPushButton("Close", this);
  CloseButton->setAutoDefault(false);
  SaveDskButton->setAutoDefault(false);
  SaveHddButton->setAutoDefault(false);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(FloppyGroup);
  layout->addWidget(HddGroup);
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  row->addWidget(CloseButton);
  layout->addLayout(row);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(SaveDskButton, &QPushButton::clicked, this, &NewDiskDialog::SaveDskClicked);
  connect(SaveHddButton, &QPushButton::clicked, this, &NewDiskDialog::SaveHddClicked);
  connect(CloseButton, &QPushButton::clicked, this, [this] { done(1); });
  connect(&poll_, &QTimer::timeout, this, &NewDiskDialog::PollWorker);

  SaveDialog = [](QWidget* parent, const QString& dir, const QString& filter) {
    return QFileDialog::getSaveFileName(parent, "Save", dir, filter);
  };
  ShowError = [](QWidget* parent, const QString& text) { QMessageBox::warning(parent, "Create New Disks", text); };
  ConfirmReplace = [](QWidget* parent, const QString& name) {
    return QMessageBox::question(parent, "Create New Disks", name + " already exists.\nDo you want to replace it?",
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
  };
}

bool NewDiskDialog::MayWrite(const QString& chosen, const std::filesystem::path& target) {
  std::error_code ec;
  if (target == std::filesystem::path(chosen.toStdString()) || !std::filesystem::exists(target, ec)) return true;
  return ConfirmReplace(this, QString::fromStdString(target.string()));
}

NewDiskDialog::~NewDiskDialog() { StopWorker(); }

void NewDiskDialog::SaveDskClicked() {
  const QString chosen = SaveDialog(this, QString::fromStdString(diskDir_.string()), "*DSK files (*.dsk)");
  if (chosen.isEmpty() || !MayWrite(chosen, NewDskFileName(chosen.toStdString()))) return;
  const auto format = static_cast<NewDiskFormat>(FormatBox->currentIndex());
  const ImageWriteResult r = WriteNewDsk(chosen.toStdString(), format);
  if (!r.Ok()) ShowError(this, QString::fromStdString(r.Error));
  else LastWritten = QString::fromStdString(r.Written.string());
}

void NewDiskDialog::SaveHddClicked() {
  if (Writing()) return;
  const auto size = ParseHddSizeMb(SizeEdit->text().toStdString());
  if (!size) {
    SizeEdit->setText("0");
    return;
  }
  ProgressBar->setValue(0);
  const QString chosen =
      SaveDialog(this, QString::fromStdString(diskDir_.string()), "HDD Image files (*.img *.hdd)");
  if (chosen.isEmpty() || !MayWrite(chosen, NewHddFileName(chosen.toStdString()))) return;

  CloseButton->setEnabled(false);
  SaveHddButton->setEnabled(false);
  percent_ = 0;
  done_ = false;
  cancel_ = false;
  worker_ = std::thread([this, path = std::filesystem::path(chosen.toStdString()), mb = *size] {
    result_ = WriteNewHdd(path, mb, [this](int percent) {
      percent_ = percent;
      return !cancel_;
    });
    done_ = true;
  });
  poll_.start(50);
}

void NewDiskDialog::PollWorker() {
  ProgressBar->setValue(percent_);
  if (!done_) return;
  poll_.stop();
  worker_.join();
  CloseButton->setEnabled(true);
  SaveHddButton->setEnabled(true);
  if (!result_.Ok() && !result_.Cancelled) ShowError(this, QString::fromStdString(result_.Error));
  else if (result_.Ok() && !result_.Cancelled) LastWritten = QString::fromStdString(result_.Written.string());
}

void NewDiskDialog::StopWorker() {
  if (!worker_.joinable()) return;
  cancel_ = true;
  worker_.join();
  poll_.stop();
  CloseButton->setEnabled(true);
  SaveHddButton->setEnabled(true);
}

// "Close" is disabled while a hard disk image is written, but the window's
// own close and Escape still work: they stop the write, and the writer then
// leaves nothing behind, so a mistaken 60 GB image need not be sat out.
void NewDiskDialog::reject() {
  StopWorker();
  QDialog::reject();
}
