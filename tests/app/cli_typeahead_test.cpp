// Keys typed ahead of a LIST, through the runner with the real firmware.
// BASIC 1.1's LIST loop (&E1F1) calls its ESC test (&C472) once per line,
// which reads a key with KM READ CHAR and drops it unless it is ESC: keys
// waiting in the buffer when a listing starts are lost one per listed line,
// on a real CPC as here. A CAT that starts the disk motor runs long enough
// for the typing to get ahead of it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#include "cli_support.h"

namespace fs = std::filesystem;

namespace {

std::string LastScreenLine(const std::string& out) {
  std::string last;
  size_t start = 0;
  while (start < out.size()) {
    size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    std::string line = out.substr(start, end - start);
    while (!line.empty() && line.back() == ' ') line.pop_back();
    if (!line.empty()) last = line;
    start = end + 1;
  }
  return last;
}

TEST(CliTypeAhead, ListTakesOneWaitingKeyPerLine) {
  if (!HaveRoms()) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
  const fs::path dir = fs::temp_directory_path() / ("pellucidore-typeahead-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  ASSERT_EQ(RunCommand(Cli() + " --new-dsk '" + (dir / "blank").string() + "' --format data").status, 0);
  const std::string run = Cli() + " --start-dir '" + dir.string() + "' --rom-dir '" + RomDir() + "' --disk-a '" +
                          (dir / "blank.dsk").string() + "' --benchmark --seconds 8 --screen-text --type ";
  struct Case {
    const char* typed;
    const char* lastLine;
  } cases[] = {
      // "abc" wait behind CAT; the three listed lines take them.
      {"'10 REM\\n20 REM\\n30 REM\\nCAT\\nLIST\\nabcdef'", "def"},
      // Without the disk the listing is over before "a" is typed.
      {"'10 REM\\n20 REM\\n30 REM\\nLIST\\nabcdef'", "abcdef"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    const CommandResult r = RunCommand(run + c.typed);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(LastScreenLine(r.out), c.lastLine) << r.out;
  }
  fs::remove_all(dir);
}

}  // namespace
