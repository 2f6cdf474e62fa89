// "Load Profile" through the window: the drives keep what the user has put in
// them, and the profile being left records it.
#include <gtest/gtest.h>

#include <QFileDialog>
#include <QLineEdit>
#include <filesystem>
#include <fstream>

#include "cli_support.h"
#include "frontend/qt/drive_menu.h"
#include "frontend/qt/main_window.h"
#include "frontend/qt/modal_helper.h"
#include "storage/new_images.h"
#include "frontend/qt/window_test_support.h"

namespace fs = std::filesystem;

namespace {

class ProfileLoad : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    dir = fs::temp_directory_path() / ("pellucidore-profile-" + std::to_string(::getpid()) + "-" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir / "PROFILES");
    for (const char* name : {"start", "inserted", "other"})
      ASSERT_TRUE(WriteNewDsk(dir / name, NewDiskFormat::Data).Ok()) << name;
  }
  void TearDown() override {
    window.reset();
    fs::remove_all(dir);
  }
  std::string Disk(const char* name) { return (dir / (std::string(name) + ".dsk")).string(); }

  // Start-up disks in both drives, as the settings file names them.
  void Start(bool individual) {
    std::ofstream(dir / "Pellux.ini") << "[PATHS]\nROMDIR=" << RomDir() << "/\nPFLDIR=" << (dir / "PROFILES").string()
                                      << "/\nFDD0=" << Disk("start") << "\nFDD1=" << Disk("start") << "\n[MISC]\nINDIVIDUALSET="
                                      << individual << "\n";
    if (individual)
      std::ofstream(dir / "PROFILES" / "Default.pfl") << "[PATHS]\nFDD0=" << Disk("start") << "\nFDD1=" << Disk("start") << "\n";
    window = std::make_unique<MainWindow>(dir);
    ASSERT_EQ(Drive(0).DiskPath, Disk("start"));
  }
  const DriveImage& Drive(int d) { return window->machine().Fdc.Drives[d]; }

  // The user puts another disk in A and empties B.
  void UserChangesDisks() {
    window->drives()->ChooseFile = [this](int) { return QString::fromStdString(Disk("inserted")); };
    window->drives()->Load(0);
    window->drives()->Eject(1);
    ASSERT_EQ(Drive(0).DiskPath, Disk("inserted"));
    ASSERT_FALSE(Drive(1).Loaded);
  }

  void LoadProfile(const fs::path& file) {
    QAction* item = MenuBarAction(*window, "Profiles", "Load Profile");
    ASSERT_TRUE(item);
    WhenModal<QFileDialog>([file](QFileDialog* d) {
      d->findChild<QLineEdit*>("fileNameEdit")->setText(QString::fromStdString(file.string()));
      static_cast<QDialog*>(d)->accept();
    });
    item->trigger();
    ASSERT_EQ(window->settings().LASTPROFILE, std::string("/").append(file.filename().string()));
  }

  fs::path dir;
  std::unique_ptr<MainWindow> window;
};

TEST_F(ProfileLoad, SharedDisksStayAsTheUserLeftThem) {
  Start(false);
  UserChangesDisks();
  std::ofstream(dir / "PROFILES" / "Other.pfl") << "[CPC]\nCRTCTYPE=1\n";
  LoadProfile(dir / "PROFILES" / "Other.pfl");
  EXPECT_EQ(window->machine().Crtc.Type, 1u);
  EXPECT_EQ(Drive(0).DiskPath, Disk("inserted"));
  EXPECT_FALSE(Drive(1).Loaded) << "the ejected disk came back";

  const std::string left = ReadWholeFile(dir / "PROFILES" / "Default.pfl");
  EXPECT_NE(left.find("FDD0=" + Disk("inserted")), std::string::npos) << left;
  EXPECT_NE(left.find("FDD1=\n"), std::string::npos) << left;
}

TEST_F(ProfileLoad, OwnDisksReplaceOnlyWhereTheProfileNamesOne) {
  Start(true);
  UserChangesDisks();
  // Drive A is named by the new profile, drive B is not.
  std::ofstream(dir / "PROFILES" / "Other.pfl") << "[PATHS]\nFDD0=" << Disk("other") << "\n";
  LoadProfile(dir / "PROFILES" / "Other.pfl");
  EXPECT_EQ(Drive(0).DiskPath, Disk("other"));
  EXPECT_FALSE(Drive(1).Loaded);

  const std::string left = ReadWholeFile(dir / "PROFILES" / "Default.pfl");
  EXPECT_NE(left.find("FDD0=" + Disk("inserted")), std::string::npos) << left;
  EXPECT_NE(left.find("FDD1=\n"), std::string::npos) << left;
}

}  // namespace
