// The runner's automation with the 6128 firmware: a CSL-driven test suite
// whose program asks for its own screenshots, and timed key presses.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <map>
#include <regex>
#include <set>

#include "cli_support.h"
#include "debugger/ssm.h"

namespace {

namespace fs = std::filesystem;

struct Scratch {
  explicit Scratch(const std::string& name)
      : dir(fs::temp_directory_path() / ("pellucidore-" + name + "-" + std::to_string(getpid()))) {
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  ~Scratch() { fs::remove_all(dir); }
  fs::path dir;
};

CommandResult RunCli(const Scratch& s, const std::string& args) {
  return RunCommand(Cli() + " --start-dir '" + s.dir.string() + "' --rom-dir '" + RomDir() + "' " + args);
}

TEST(CliCsl, ShakerModuleAWritesThePicturesItsProgramAsksFor) {
  const std::string suite = SharedDir() + "/testdata/suites/shaker25";
  if (!HaveRoms()) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
  if (!fs::exists(suite + "/SHAKE25A-0.CSL") || !fs::exists(suite + "/shaker25.dsk"))
    GTEST_SKIP() << "SHAKER 2.5 scripts not found in " << suite;
  Scratch s("csl-shaker");
  const CommandResult r =
      RunCli(s, "--csl '" + suite + "/SHAKE25A-0.CSL' --screenshot-dir '" + (s.dir / "pics").string() + "'");
  // The shipped chain runs, whose last line loads
  // 'SHAKE25-3', a file the suite does not have: the script stops there.
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_NE(r.out.find("SHAKE25A-4.CSL:297: file not found"), std::string::npos) << r.out;

  const std::regex name("PELLUCIDORE_([0-4])_([0-9A-F]{2})([0-9A-F]{2})\\.png");
  std::map<int, std::set<std::string>> byCrtc;
  for (const auto& entry : fs::directory_iterator(s.dir / "pics")) {
    const std::string file = entry.path().filename().string();
    std::smatch m;
    ASSERT_TRUE(std::regex_match(file, m, name)) << file;
    EXPECT_TRUE(SsmCodeUsable(uint8_t(std::stoi(m[2], nullptr, 16))) && SsmCodeUsable(uint8_t(std::stoi(m[3], nullptr, 16))))
        << file << " is not made of SSM codes";
    byCrtc[std::stoi(m[1])].insert(m[2].str() + m[3].str());
  }
  // Every CRTC the chain selects gets its first and last test screens and
  // most of those between (the module shows over a hundred).
  EXPECT_EQ(byCrtc.size(), 4u);
  for (int crtc : {0, 1, 2, 4}) {
    EXPECT_GE(byCrtc[crtc].size(), 100u) << "CRTC " << crtc;
    EXPECT_TRUE(byCrtc[crtc].count("0001")) << "CRTC " << crtc;
    EXPECT_TRUE(byCrtc[crtc].count("03AC")) << "CRTC " << crtc;
  }
}

TEST(CliCsl, ScriptErrorsAndSsmOption) {
  if (!HaveRoms()) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
  Scratch s("csl-small");
  {
    std::ofstream(s.dir / "bad.csl") << "wait 20000\nkey_output 'a'\nfly_away\n";
  }
  CommandResult r = RunCli(s, "--csl '" + (s.dir / "bad.csl").string() + "'");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("bad.csl:3: unknown command 'fly_away'"), std::string::npos) << r.out;

  // A BASIC line that pokes ED 12 ED 34 C9 and calls it: picture &3412,
  // only with --ssm.
  for (const bool ssm : {false, true}) {
    const fs::path pics = s.dir / (ssm ? "on" : "off");
    r = RunCli(s, "--benchmark --type 'POKE &9000,&ED:POKE &9001,&12:POKE &9002,&ED:POKE &9003,&34:"
                  "POKE &9004,&C9:CALL &9000\\n' --seconds 12 --screenshot-dir '" + pics.string() + "'" +
                      (ssm ? " --ssm" : ""));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(fs::exists(pics / "PELLUCIDORE_0_3412.png"), ssm) << r.out;
    if (!ssm) {
      EXPECT_FALSE(fs::exists(pics));
    }
  }
}

TEST(CliPress, KeysAndJoystickAtGivenTimes) {
  if (!HaveRoms()) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
  Scratch s("press");
  CommandResult r = RunCli(s, "--benchmark --press G@2 --press 'space bar@2.3' --press h@2.6 --seconds 3.5 --screen-text");
  ASSERT_EQ(r.status, 0) << r.out;
  const auto lines = ScreenLines(r.out);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "g h"), lines.end()) << r.out;

  // JOY(0) is 32 while fire 1 is held and 1 for up.
  r = RunCli(s, "--benchmark --type '10 J=JOY(0):IF J THEN PRINT \"J\";J:END\\n20 GOTO 10\\nRUN\\n' "
                "--joystick FIRE1@8 --until-text 'J 32' --seconds 12");
  EXPECT_EQ(r.status, 0) << r.out;
  r = RunCli(s, "--benchmark --type '10 J=JOY(0):IF J THEN PRINT \"J\";J:END\\n20 GOTO 10\\nRUN\\n' "
                "--joystick up@8 --until-text 'J 1' --seconds 12");
  EXPECT_EQ(r.status, 0) << r.out;

  const struct {
    const char* args;
    const char* message;
  } bad[] = {
      {"--press NOKEY@1", "unknown CPC key 'NOKEY'"},
      {"--press A", "--press wants KEY@SECONDS: A"},
      {"--press A@-1", "--press wants KEY@SECONDS: A@-1"},
      {"--joystick SIDEWAYS@1", "unknown joystick direction"},
  };
  for (const auto& b : bad) {
    r = RunCli(s, b.args);
    EXPECT_EQ(r.status, 2) << b.args;
    EXPECT_NE(r.out.find(b.message), std::string::npos) << b.args << ": " << r.out;
  }
}

// The manual's worked example: assemble with pasmo, poke, run, wait for the
// text; stop at a label; trace the first instructions.
TEST(CliWorkedExample, PasmoProgramPrintsStopsAndTraces) {
  if (!HaveRoms()) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
  if (RunCommand("command -v pasmo").status != 0) GTEST_SKIP() << "pasmo is not installed (scripts/setup-deps)";
  Scratch s("worked");
  std::ofstream(s.dir / "hello.asm") << "        org &4000\n"
                                        "start:\n        ld hl,message\n"
                                        "next:\n        ld a,(hl)\n        or a\n        jr z,done\n"
                                        "        call &BB5A\n        inc hl\n        jr next\n"
                                        "done:\n        jr done\n"
                                        "message:\n        db \"HELLO FROM CI\",0\n";
  const std::string d = std::string("'").append(s.dir.string()).append("/");
  CommandResult r = RunCommand("pasmo " + d + "hello.asm' " + d + "hello.bin' " + d + "hello.sym'");
  ASSERT_EQ(r.status, 0) << r.out;
  std::ifstream bin(s.dir / "hello.bin", std::ios::binary);
  const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(bin), {}};
  ASSERT_EQ(bytes.size(), 29u);
  std::string data;
  for (unsigned char b : bytes) data.append(data.empty() ? "" : ",").append(std::to_string(b));
  const std::string type = "--type '10 DATA " + data + "\\nFOR I=0 TO " + std::to_string(bytes.size() - 1) +
                           ":READ B:POKE &4000+I,B:NEXT:CALL &4000\\n' --benchmark --seconds 30 ";

  r = RunCli(s, type + "--until-text 'HELLO FROM CI'");
  EXPECT_EQ(r.status, 0) << r.out;

  r = RunCli(s, type + "--symbols " + d + "hello.sym' --break done");
  EXPECT_EQ(r.status, 3) << r.out;
  EXPECT_NE(r.out.find("BREAK at &400D (done)"), std::string::npos) << r.out;

  // Stopped before its first instruction, saved, and traced from there.
  r = RunCli(s, type + "--symbols " + d + "hello.sym' --break start --save-snapshot " + d + "at.sna'");
  ASSERT_EQ(r.status, 3) << r.out;
  r = RunCli(s, "--snapshot " + d + "at.sna' --trace " + d + "trace.txt' --frames 1");
  ASSERT_EQ(r.status, 0) << r.out;
  std::ifstream trace(s.dir / "trace.txt");
  std::vector<std::string> lines;
  for (std::string line; lines.size() < 5 && std::getline(trace, line);) lines.push_back(line);
  const char* want[] = {"4000  21 0F 40     LD HL,$400F", "4003  7E           LD A,(HL)", "4004  B7           OR A",
                        "4005  28 06        JR Z,$400D", "4007  CD 5A BB     CALL $BB5A"};
  ASSERT_EQ(lines.size(), 5u);
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(lines[i].rfind(want[i], 0), 0u) << lines[i];
  EXPECT_NE(lines[2].find("HL=&400F"), std::string::npos) << lines[2];
  EXPECT_NE(lines[3].find("AF=&480C"), std::string::npos) << lines[3];  // 'H', parity even, bit 3 copied
}

}  // namespace
