#include <gtest/gtest.h>

#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "frontend/qt/autotype_dialog.h"
#include "frontend/qt/modal_helper.h"

namespace fs = std::filesystem;

namespace {

class AutoTypeBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("pellucidore-autotype-" + std::to_string(::getpid()));
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  QString Path(const char* name) { return QString::fromStdString((dir / name).string()); }

  QApplication& app = *TestApp();  // before any widget
  fs::path dir;
  AutoTypeState state;
  QTimer timer;
  AutoTypeDialog box{state, timer, fs::temp_directory_path()};
};

TEST_F(AutoTypeBoxTest, TxtRule) {
  EXPECT_EQ(WithTxtExtension("/a/prog"), "/a/prog.txt");
  EXPECT_EQ(WithTxtExtension("/a/prog.txt"), "/a/prog.txt");
  EXPECT_EQ(WithTxtExtension("/a/prog.TXT"), "/a/prog.TXT.txt");  // the test is case-sensitive
  EXPECT_EQ(WithTxtExtension("/a.txt.d/prog"), "/a.txt.d/prog");  // anywhere in the path
}

TEST_F(AutoTypeBoxTest, SaveAndLoadLines) {
  box.Memo1->setPlainText(QString::fromUtf8("10 PRINT \"\u00A3\"\n20 GOTO 10"));
  box.SaveDialog = [&](QWidget*, const QString&) { return Path("prog"); };
  box.SaveButton->click();
  ASSERT_TRUE(fs::exists(dir / "prog.txt"));
  EXPECT_EQ(Read(dir / "prog.txt"), "10 PRINT \"\xA3\"\n20 GOTO 10\n");  // single-byte text

  box.Memo1->clear();
  box.OpenDialog = [&](QWidget*, const QString&) { return Path("prog"); };
  box.LoadButton->click();
  EXPECT_EQ(box.Memo1->toPlainText(), QString::fromUtf8("10 PRINT \"\u00A3\"\n20 GOTO 10"));

  // Windows line ends, and UTF-8 files as editors here write them.
  std::ofstream(dir / "dos.txt", std::ios::binary) << "CLS\r\nPRINT \xC2\xA3" << "1\r\n";
  ASSERT_TRUE(box.LoadText(Path("dos.txt")));
  EXPECT_EQ(box.Memo1->toPlainText(), QString::fromUtf8("CLS\nPRINT \u00A31"));
  EXPECT_EQ(AutoTypeBytes(box.Memo1->toPlainText()), "CLS\nPRINT \xA3" "1");
  EXPECT_EQ(AutoTypeBytes(QString::fromUtf8("a\u20ACb")), "a b");  // no key for it: a space
}

TEST_F(AutoTypeBoxTest, UnreadableFileIsReportedAndTheProgramGoesOn) {
  box.Memo1->setPlainText("kept");
  std::ofstream(dir / "PROG.TXT") << "never read";
  bool reported = false;
  WhenModal<QMessageBox>([&](QMessageBox* m) {
    reported = m->text().contains("PROG.TXT.txt");
    m->accept();
  });
  // No ".txt" in the name: "PROG.TXT.txt" is tried, and it does not exist.
  EXPECT_FALSE(box.LoadText(Path("PROG.TXT")));
  EXPECT_TRUE(reported);
  EXPECT_EQ(box.Memo1->toPlainText(), "kept");

  WhenModal<QMessageBox>([&](QMessageBox* m) { m->accept(); });
  EXPECT_FALSE(box.SaveText(Path("no/such/folder/out")));
}

TEST_F(AutoTypeBoxTest, StartAndStop) {
  box.Memo1->setPlainText("RUN");
  box.AutoTypeButton->click();
  EXPECT_TRUE(timer.isActive());
  EXPECT_EQ(state.AutoTypeText, "RUN\r\n");
  box.StopButton->click();
  EXPECT_FALSE(timer.isActive());
  EXPECT_TRUE(state.AutoTypeText.empty());
}

}  // namespace
