// The "Create New Disks" dialog: its controls, the names it writes, sizes it
// refuses, the hard disk write running without blocking the dialog, and
// failed or abandoned writes leaving nothing behind.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QValidator>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "frontend/qt/new_disk_dialog.h"
#include "frontend/qt/qt_test_app.h"

namespace fs = std::filesystem;

namespace {

class NewDiskFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    dir = fs::temp_directory_path() / ("pellucidore-newdisk-" + std::to_string(::getpid()) + "-" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    form = std::make_unique<NewDiskDialog>(dir);
    form->SaveDialog = [this](QWidget*, const QString& start, const QString& filter) {
      ++dialogs;
      startDir = start;
      lastFilter = filter;
      return answer;
    };
    form->ShowError = [this](QWidget*, const QString& text) { errors.push_back(text); };
    form->ConfirmReplace = [this](QWidget*, const QString& name) {
      asked.push_back(name);
      return replace;
    };
  }
  void TearDown() override {
    form.reset();
    fs::remove_all(dir);
  }
  QString In(const char* name) const { return QString::fromStdString((dir / name).string()); }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    return names;
  }
  bool WaitForWrite() {
    return ProcessEventsUntil([this] { return !form->Writing() && form->CloseButton->isEnabled(); }, 60000);
  }

  fs::path dir;
  std::unique_ptr<NewDiskDialog> form;
  QString answer, startDir, lastFilter;
  int dialogs = 0;
  std::vector<QString> errors;
  std::vector<QString> asked;
  bool replace = false;
};

TEST_F(NewDiskFormTest, Controls) {
  EXPECT_EQ(form->windowTitle(), "Create New Disks");
  EXPECT_EQ(form->FloppyGroup->title(), "3\" Formatted Disk (Single Sided)");
  EXPECT_EQ(form->HddGroup->title(), "HDD Image");
  ASSERT_EQ(form->FormatBox->count(), 3);
  EXPECT_EQ(form->FormatBox->itemText(0), "System (169 KB)");
  EXPECT_EQ(form->FormatBox->itemText(1), "Data (178 KB)");
  EXPECT_EQ(form->FormatBox->itemText(2), "Vendor (154 KB)");
  EXPECT_EQ(form->FormatBox->currentIndex(), 0);
  EXPECT_EQ(form->SizeEdit->text(), "0");
  EXPECT_TRUE(form->Fat16Button->isChecked());
  EXPECT_FALSE(form->Fat32Button->isEnabled());
  EXPECT_EQ(form->CloseButton->text(), "Close");

  // Digits only.
  const QValidator* v = form->SizeEdit->validator();
  ASSERT_NE(v, nullptr);
  for (const auto& [text, ok] : std::vector<std::pair<QString, bool>>{
           {"120", true}, {"", true}, {"12a", false}, {"-5", false}, {"1.5", false}, {" 7", false}}) {
    QString t = text;
    int pos = 0;
    EXPECT_EQ(v->validate(t, pos) == QValidator::Acceptable, ok) << text.toStdString();
  }
}

TEST_F(NewDiskFormTest, DskSaveAppliesTheNameRuleAndTheChosenFormat) {
  answer = In("DISK.DSK");
  form->FormatBox->setCurrentIndex(1);  // Data
  form->SaveDskButton->click();
  EXPECT_EQ(startDir.toStdString(), dir.string());
  EXPECT_TRUE(lastFilter.contains("*.dsk"));
  const fs::path written = dir / "DISK.DSK.dsk";
  ASSERT_TRUE(fs::exists(written));
  EXPECT_EQ(fs::file_size(written), 194816u);
  std::ifstream in(written, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(static_cast<uint8_t>(bytes[256 + 0x18 + 2]), 0xC1);  // first sector id of track 0
  EXPECT_TRUE(errors.empty());

  // Cancelling the save dialog writes nothing.
  answer.clear();
  form->SaveDskButton->click();
  EXPECT_EQ(Files().size(), 1u);
}

// The save dialog asked about "work" only; "work.dsk" is another file.
TEST_F(NewDiskFormTest, AnExistingFileUnderTheCompletedNameIsReplacedOnlyWhenAllowed) {
  for (const char* name : {"work.dsk", "work.img"}) std::ofstream(dir / name) << "keep";
  answer = In("work");
  form->SizeEdit->setText("1");
  form->SaveDskButton->click();
  form->SaveHddButton->click();
  ASSERT_TRUE(WaitForWrite());
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_TRUE(asked[0].endsWith("work.dsk") && asked[1].endsWith("work.img"));
  EXPECT_EQ(fs::file_size(dir / "work.dsk"), 4u);
  EXPECT_EQ(fs::file_size(dir / "work.img"), 4u);

  replace = true;
  form->SaveDskButton->click();
  form->SaveHddButton->click();
  ASSERT_TRUE(WaitForWrite());
  EXPECT_EQ(fs::file_size(dir / "work.dsk"), 194816u);
  EXPECT_GT(fs::file_size(dir / "work.img"), 4u);

  // A name the dialog itself confirmed is not asked about again.
  asked.clear();
  answer = In("work.dsk");
  form->SaveDskButton->click();
  EXPECT_TRUE(asked.empty());
  EXPECT_TRUE(errors.empty());
}

TEST_F(NewDiskFormTest, RefusedSizesResetTheEditAndWriteNothing) {
  answer = In("disk.hdd");
  for (const char* text : {"0", "60001", "", "0000"}) {
    form->SizeEdit->setText(text);
    form->SaveHddButton->click();
    EXPECT_EQ(form->SizeEdit->text(), "0") << text;
  }
  EXPECT_EQ(dialogs, 0);
  EXPECT_TRUE(Files().empty());
}

TEST_F(NewDiskFormTest, HddWriteRunsWhileTheDialogAnswers) {
  answer = In("disk");
  form->SizeEdit->setText("10");
  form->SaveHddButton->click();
  EXPECT_TRUE(lastFilter.contains("*.img") && lastFilter.contains("*.hdd"));
  // Both are off until the write ends; the event loop meanwhile runs.
  EXPECT_FALSE(form->CloseButton->isEnabled());
  EXPECT_FALSE(form->SaveHddButton->isEnabled());
  ASSERT_TRUE(WaitForWrite());
  EXPECT_TRUE(form->SaveHddButton->isEnabled());
  EXPECT_EQ(form->ProgressBar->value(), 100);
  EXPECT_TRUE(errors.empty());
  ASSERT_TRUE(fs::exists(dir / "disk.img"));
  EXPECT_EQ(fs::file_size(dir / "disk.img"), 256u + 10321920u);
  EXPECT_EQ(Files().size(), 1u);
}

TEST_F(NewDiskFormTest, FailedWriteSaysWhyAndLeavesNoFile) {
  answer = In("missing/disk.hdd");
  form->SizeEdit->setText("5");
  form->SaveHddButton->click();
  ASSERT_TRUE(WaitForWrite());
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_TRUE(errors[0].contains("disk.hdd")) << errors[0].toStdString();
  EXPECT_TRUE(Files().empty());

  answer = In("missing/disk.dsk");
  form->SaveDskButton->click();
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_TRUE(errors[1].contains("disk.dsk")) << errors[1].toStdString();
}

TEST_F(NewDiskFormTest, ClosingTheWindowStopsAWriteAndLeavesNothing) {
  // An existing file of the chosen name stays as it was.
  std::ofstream(dir / "big.hdd") << "keep";
  answer = In("big.hdd");
  form->SizeEdit->setText("60000");
  form->SaveHddButton->click();
  ASSERT_TRUE(form->Writing());
  form->reject();
  EXPECT_FALSE(form->Writing());
  EXPECT_TRUE(form->CloseButton->isEnabled());
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(Files(), std::vector<std::string>{"big.hdd"});
  EXPECT_EQ(fs::file_size(dir / "big.hdd"), 4u);
}

}  // namespace
