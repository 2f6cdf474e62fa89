// "Create New Disks" (NewDiskDialog): blank floppy and hard disk
// images written to files the user names. The writing itself is the
// storage layer's (storage/new_images.h); a hard disk image is written on a
// worker thread so the dialog keeps answering while gigabytes go down.
// Nothing is inserted into a drive.
#pragma once

#include <QDialog>
#include <QTimer>
#include <atomic>
#include <filesystem>
#include <functional>
#include <thread>

#include "storage/new_images.h"

class QComboBox;
class QGroupBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;

class NewDiskDialog : public QDialog {
  Q_OBJECT
 public:
  // diskDir is where the save dialog opens.
  explicit NewDiskDialog(std::filesystem::path diskDir, QWidget* parent = nullptr);
  ~NewDiskDialog() override;

  void SaveDskClicked();
  void SaveHddClicked();
  bool Writing() const { return worker_.joinable(); }

  // (parent, start directory, filter) -> chosen name or empty; the default
  // is the platform dialog, which asks before overwriting. Replaceable for
  // tests.
  std::function<QString(QWidget*, const QString&, const QString&)> SaveDialog;
  // Shows why a file was not written; replaceable for tests.
  std::function<void(QWidget*, const QString&)> ShowError;
  // Asked when the name rules turn the chosen name into one that exists:
  // the save dialog's own prompt only saw the name without the extension.
  // True replaces it. Replaceable for tests.
  std::function<bool(QWidget*, const QString&)> ConfirmReplace;
  // The last image written, for the window's status bar.
  QString LastWritten;

  QGroupBox* FloppyGroup = nullptr;
  QComboBox* FormatBox = nullptr;
  QPushButton* SaveDskButton = nullptr;
  QGroupBox* HddGroup = nullptr;
  QLineEdit* SizeEdit = nullptr;
  QRadioButton* Fat16Button = nullptr;
  QRadioButton* Fat32Button = nullptr;
  QPushButton* SaveHddButton = nullptr;
  QProgressBar* ProgressBar = nullptr;
  QPushButton* CloseButton = nullptr;

 public slots:
  void reject() override;

 private:
  bool MayWrite(const QString& chosen, const std::filesystem::path& target);
  void PollWorker();
  void StopWorker();

  std::filesystem::path diskDir_;
  std::thread worker_;
  std::atomic<int> percent_{0};
  std::atomic<bool> done_{false};
  std::atomic<bool> cancel_{false};
  ImageWriteResult result_;
  QTimer poll_;
};
