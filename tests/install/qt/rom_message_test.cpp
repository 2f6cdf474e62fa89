// A profile naming ROM images that are neither in the ROM folder nor built
// in: the window must say which files are missing and which folder they
// belong in. Images the built-in firmware has are not asked for.
#include <gtest/gtest.h>

#include <QLabel>
#include <QStatusBar>
#include <filesystem>
#include <fstream>

#include "frontend/qt/main_window.h"
#include "frontend/qt/qt_test_app.h"

namespace {

namespace fs = std::filesystem;

TEST(RomMessage, NamesTheMissingImagesAndTheirFolder) {
  struct Case {
    const char* name;
    const char* profile;  // Default.pfl
    const char* lower;
    std::vector<std::string> named, unnamed;
  } cases[] = {
      {"own lower ROM", "[ROMS]\nROMLow=MYOS.ROM\n", "MYOS.ROM", {}, {"6128BASIC.ROM", "AMSDOS.ROM"}},
      {"own lower and BASIC", "[ROMS]\nROMLow=MYOS.ROM\nROM000=MYBASIC.ROM\nROM007=EMPTY\n", "MYOS.ROM",
       {"MYBASIC.ROM"}, {"AMSDOS.ROM", "EMPTY"}},
  };
  TestApp();
  for (const Case& c : cases) {
    const fs::path dir = fs::temp_directory_path() / ("pellucidore-rom-message-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    for (const char* sub : {"ROMS", "DISKS", "SNAPSHOTS", "STILLS", "PRINTS", "PROFILES", "CAPTURES"})
      fs::create_directories(dir / sub);
    if (c.profile) std::ofstream(dir / "PROFILES/Default.pfl") << c.profile;
    {
      MainWindow form(dir);
      const std::string message = form.statusBar()->currentMessage().toStdString();
      const fs::path roms = fs::path(form.settings().ROMDIR);
      EXPECT_EQ(message.rfind("Lower ROM not found: " + (roms / c.lower).string(), 0), 0u) << c.name << ": " << message;
      EXPECT_NE(message.find(" in " + roms.string()), std::string::npos) << c.name << ": " << message;
      for (const std::string& rom : c.named) EXPECT_NE(message.find(rom), std::string::npos) << c.name << ": " << rom;
      for (const std::string& rom : c.unnamed) EXPECT_EQ(message.find(rom), std::string::npos) << c.name << ": " << rom;
      // The same advice on the black picture, where a long path fits.
      auto* notice = form.findChild<QLabel*>("romNotice");
      ASSERT_NE(notice, nullptr) << c.name;
      const std::string text = notice->text().toStdString();
      EXPECT_NE(text.find(roms.string()), std::string::npos) << c.name << ": " << text;
      for (const std::string& rom : c.named) EXPECT_NE(text.find(rom), std::string::npos) << c.name << ": " << rom;
    }
    fs::remove_all(dir);
  }
}

// Any case of the name will do: profiles store ROM names upper-cased.
TEST(RomMessage, SilentWhenTheLowerRomIsThere) {
  TestApp();
  const fs::path dir = fs::temp_directory_path() / ("pellucidore-rom-present-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  for (const char* sub : {"ROMS", "DISKS", "SNAPSHOTS", "STILLS", "PRINTS", "PROFILES", "CAPTURES"})
    fs::create_directories(dir / sub);
  std::ofstream(dir / "ROMS/6128LOW.ROM", std::ios::binary) << std::string(16384, '\xC9');
  {
    MainWindow form(dir);
    EXPECT_EQ(form.statusBar()->currentMessage().toStdString().find("Lower ROM not found"), std::string::npos);
    EXPECT_EQ(form.findChild<QLabel*>("romNotice"), nullptr);
  }
  fs::remove_all(dir);
}

}  // namespace
