// A damaged "Keymap.map" at start-up: said on the status bar and the
// terminal, the built-in map used, the file left as it was.
#include <gtest/gtest.h>

#include <QStatusBar>
#include <filesystem>
#include <functional>
#include <fstream>

#include "cli_support.h"
#include "frontend/qt/main_window.h"
#include "frontend/qt/qt_test_app.h"
#include "frontend/qt/window_test_support.h"

namespace fs = std::filesystem;

namespace {

// A start folder whose ROMs are found, so no ROM message covers the bar.
void MakeStartDir(const fs::path& dir) {
  fs::remove_all(dir);
  fs::create_directories(dir / "PROFILES");
  std::ofstream(dir / "Pellux.ini") << "[PATHS]\nROMDIR=" << RomDir() << "/\n";
}

TEST(KeyMapAtStartUp, DamagedFileIsReportedAndKept) {
  if (!HaveRoms()) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
  TestApp();
  struct Case {
    const char* what;
    std::function<void(const fs::path&)> make;
    const char* reason;
  } cases[] = {
      {"short", [](const fs::path& f) { std::ofstream(f, std::ios::binary) << std::string(100, '\x01'); },
       "shorter than 2048 bytes"},
      {"unreadable", [](const fs::path& f) { fs::create_directory(f); }, "cannot read"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path dir = fs::temp_directory_path() / ("pellucidore-keymap-window-" + std::to_string(::getpid()) + c.what);
    MakeStartDir(dir);
    const fs::path file = dir / "Keymap.map";
    c.make(file);
    const std::string before = fs::is_regular_file(file) ? ReadWholeFile(file) : std::string();

    testing::internal::CaptureStderr();
    auto window = std::make_unique<MainWindow>(dir);
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string bar = window->statusBar()->currentMessage().toStdString();
    for (const std::string& said : {err, bar}) {
      EXPECT_NE(said.find(file.string()), std::string::npos) << said;
      EXPECT_NE(said.find(c.reason), std::string::npos) << said;
    }
    EXPECT_EQ(window->keyMap(), DefaultKeyMap());
    window.reset();  // shutdown writes settings, never the map
    if (!before.empty()) EXPECT_EQ(ReadWholeFile(file), before);
    else EXPECT_TRUE(fs::is_directory(file));
    fs::remove_all(dir);
  }
}

TEST(KeyMapAtStartUp, MissingFileIsNoProblem) {
  TestApp();
  const fs::path dir = fs::temp_directory_path() / ("pellucidore-keymap-window-" + std::to_string(::getpid()));
  MakeStartDir(dir);
  testing::internal::CaptureStderr();
  auto window = std::make_unique<MainWindow>(dir);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.find("Key map"), std::string::npos) << err;
  EXPECT_EQ(window->keyMap(), DefaultKeyMap());
  window.reset();
  fs::remove_all(dir);
}

}  // namespace
