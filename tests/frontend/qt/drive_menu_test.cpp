#include "frontend/qt/drive_menu.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <filesystem>

#include "cli_support.h"
#include "core/machine.h"
#include "frontend/settings.h"
#include "qt_test_app.h"

namespace {

namespace fs = std::filesystem;

struct DriveMenuFixture : testing::Test {
  void SetUp() override {
    dsk = fs::path(SharedDir()) / "testdata/dsk/hello.dsk";
    zip = fs::path(SharedDir()) / "testdata/dsk/hello.zip";
    if (!fs::exists(dsk) || !fs::exists(zip)) GTEST_SKIP() << "disk images not found in " << SharedDir();
    MachineConfig config;
    config.RomDir = "/nonexistent";
    m = CreateMachine(config);
    settings = DefaultSettings(fs::temp_directory_path());
    drives = std::make_unique<DriveMenus>(&window, *m, settings, [&] { ++pauses; }, [&] { ++resumes; });
    drives->AddMenus(&menuBar);
    drives->AddMenus(&popup);
    drives->SetPanels(&a, &b);
    drives->Message = [&](const QString& text) { messages << text; };
  }
  QStringList Titles(QMenu& menu) {
    QStringList t;
    for (QAction* action : menu.actions()) t << action->text();
    return t;
  }
  QApplication* app = TestApp();  // before any widget member
  fs::path dsk, zip;
  std::unique_ptr<Machine> m;
  Settings settings;
  QWidget window;
  QMenu menuBar, popup;
  QLabel a, b;
  std::unique_ptr<DriveMenus> drives;
  QStringList messages;
  int pauses = 0, resumes = 0;
};

TEST_F(DriveMenuFixture, LoadAndEjectUpdateCaptionsAndPanels) {
  EXPECT_EQ(Titles(menuBar), (QStringList{"Floppy A:", "Floppy B:"}));
  EXPECT_EQ(a.text(), "A: Empty");
  drives->ChooseFile = [&](int drive) {
    EXPECT_EQ(drive, 0);
    return QString::fromStdString(dsk.string());
  };
  drives->Load(0);
  EXPECT_EQ(Titles(menuBar)[0], "A: HELLO.DSK");
  EXPECT_EQ(Titles(popup)[0], "A: HELLO.DSK");
  EXPECT_EQ(a.text(), "A: HELLO.DSK");
  EXPECT_EQ(b.text(), "B: Empty");
  EXPECT_EQ(pauses, 1);
  EXPECT_EQ(resumes, 1);
  drives->StoreInSettings();
  EXPECT_EQ(settings.FDD0, dsk.string());

  drives->Eject(0);
  EXPECT_EQ(Titles(menuBar)[0], "Floppy A:");
  EXPECT_EQ(a.text(), "A: Empty");
  EXPECT_EQ(m->Fdc.Drives[0].Loaded, 0);
  EXPECT_EQ(pauses, 2) << "eject waits for the controller to stop";
  EXPECT_TRUE(messages.isEmpty()) << messages.join("; ").toStdString();
}

TEST_F(DriveMenuFixture, ArchiveMemberAndReinsertion) {
  drives->ChooseFile = [&](int) { return QString::fromStdString(zip.string()); };
  drives->Load(1);
  EXPECT_EQ(Titles(menuBar)[1], "B: HELLO.DSK");
  drives->StoreInSettings();
  EXPECT_EQ(settings.FDD1, zip.string());
  EXPECT_EQ(settings.COMPRFDD1, "HELLO.DSK");

  drives->Eject(1);
  settings.WRPROTECTION1 = false;
  drives->Reinsert();
  EXPECT_EQ(b.text(), "B: HELLO.DSK");
  EXPECT_EQ(m->Fdc.Drives[1].WriteProtected.load(), 0);
}

TEST_F(DriveMenuFixture, WriteProtectToggleKeepsBothMenusAndTheSetting) {
  settings.WRPROTECTION0 = true;
  drives->Reinsert();
  drives->ToggleWriteProtect(0);
  EXPECT_FALSE(settings.WRPROTECTION0);
  EXPECT_EQ(m->Fdc.Drives[0].WriteProtected.load(), 0);
  for (QMenu* menu : {&menuBar, &popup}) {
    QAction* item = menu->actions()[0]->menu()->actions()[2];
    EXPECT_EQ(item->text(), "Write Protected");
    EXPECT_FALSE(item->isChecked());
  }
}

TEST_F(DriveMenuFixture, ChooserDecidesBetweenSeveralMembers) {
  ZipMemberDialog box({"ONE.DSK", "TWO.DSK"}, &window);
  EXPECT_EQ(box.windowTitle(), "Open Compressed Files");
  EXPECT_EQ(box.Chosen(), "ONE.DSK") << "first entry preselected";
  box.list()->setCurrentRow(1);
  EXPECT_EQ(box.Chosen(), "TWO.DSK");
}

}  // namespace
