// CSL scripts against a machine without firmware, and SSM requests made by a
// small Z80 program.
#include "debugger/csl.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/machine.h"
#include "devices/ppi.h"

namespace fs = std::filesystem;

namespace {

class CslTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MachineConfig config;
    config.RomDir = "/nonexistent";
    m = CreateMachine(config);
    dir = fs::temp_directory_path() / ("csl_test_" + std::to_string(::getpid()) + "_" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    Program({0xF3, 0x18, 0xFE});  // DI; JR $
  }
  void TearDown() override { fs::remove_all(dir); }

  void Program(std::vector<uint8_t> bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) WriteByte(m->Memory, uint16_t(0x4000 + i), bytes[i]);
    m->Z80.PC = 0x4000;
  }
  fs::path Write(const std::string& name, const std::string& text) {
    const fs::path p = dir / name;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
    return p;
  }
  CslHost Host() {
    CslHost host;
    host.WriteScreenshot = [this](const Machine& mm, const fs::path& p) {
      shots.push_back({p.filename().string(), mm.ClockAtTick + mm.StepInTick});
      return std::string();
    };
    host.ScreenshotDir = dir / "shots";
    return host;
  }
  // Runs the script to its end (or maxPeriods); calls `each` after each period.
  bool Run(CslRunner& r, const fs::path& script, int maxPeriods = 2000,
           const std::function<void(int)>& each = {}) {
    EXPECT_EQ(r.Start(*m, script), "");
    bool running = r.Service(*m);
    for (int i = 0; running && i < maxPeriods; ++i) {
      EmulateTick(*m);
      if (each) each(i);
      running = r.Service(*m);
    }
    return !running;
  }
  // Standard CRTC values, so that VSYNC comes once a frame.
  void ProgramCrtc() {
    const uint8_t regs[] = {63, 40, 46, 0x8E, 38, 0, 25, 30, 0, 7};
    for (uint8_t i = 0; i < sizeof regs; ++i) {
      Z80Out(*m, 0xBC00, i);
      Z80Out(*m, 0xBD00, regs[i]);
    }
  }
  bool KeyDown(int line, int bit) { return !(KeyboardLine(m->Keyboard, line) & (1u << bit)); }

  std::unique_ptr<Machine> m;
  fs::path dir;
  struct Shot {
    std::string name;
    uint64_t at;
  };
  std::vector<Shot> shots;
};

TEST(CslParse, ErrorsNameTheScriptAndLine) {
  const struct {
    const char* text;
    const char* error;  // empty: parses
  } cases[] = {
      {"; comment\ncsl_version 1.0\n\nwait 10 ; trailing\n", ""},
      {"key_output 'a;b'  ; the first ; is text\n", ""},
      {"disk_insert \xE2\x80\x98x.dsk\xE2\x80\x99\n", ""},
      {"key_output '\\(')'\n", ""},
      {"wait 1\nfrobnicate 3\n", "t.csl:2: unknown command 'frobnicate'"},
      {"\n\nwait\n", "t.csl:3: wrong number of arguments for wait"},
      {"wait 12ms\n", "t.csl:1: '12ms' is not a number"},
      {"key_output 'abc\n", "t.csl:1: unterminated quoted text"},
      {"crtc_select 7\n", "t.csl:1: unknown CRTC '7'"},
      {"reset warm\n", "t.csl:1: reset wants soft or hard, not 'warm'"},
      {"disk_insert C 'x.dsk'\n", "t.csl:1: drive must be A or B, not 'C'"},
      {"key_output '\\(XYZ)'\n", "t.csl:1: unknown key code '\\(XYZ)'"},
      {"key_output '{ab'\n", "t.csl:1: unclosed '{' in '{ab'"},
      {"csl_version 2.0\n", "t.csl:1: unsupported version '2.0'"},
  };
  for (const auto& c : cases) {
    CslFile f;
    EXPECT_EQ(ParseCsl(c.text, "dir/t.csl", f), c.error) << c.text;
  }
  CslFile f;
  ASSERT_EQ(ParseCsl("key_output 'a;b'\nDisk_Insert B 'x y.dsk'\n", "t.csl", f), "");
  ASSERT_EQ(f.Lines.size(), 2u);
  EXPECT_EQ(f.Lines[0].Args[0], "a;b");
  EXPECT_EQ(f.Lines[1].Command, "disk_insert");
  EXPECT_EQ(f.Lines[1].Number, 2);
  EXPECT_EQ(f.Lines[1].Args, (std::vector<std::string>{"B", "x y.dsk"}));
}

TEST(CslParse, KeyGroups) {
  using Keys = std::vector<std::pair<uint8_t, uint8_t>>;
  const std::pair<uint8_t, uint8_t> shift{2, 5};
  const struct {
    const char* text;
    std::vector<Keys> groups;
    std::vector<bool> noDelay;
  } cases[] = {
      {"a1", {{{8, 5}}, {{8, 0}}}, {false, false}},
      {"A", {{shift, {8, 5}}}, {false}},                             // upper case is shifted
      {"\\(RET)\\(ENT)", {{{2, 2}}, {{0, 6}}}, {false, false}},
      {"{\\(SHI)1}", {{shift, {8, 0}}}, {false}},                    // together
      {"{\\(CTR)\\(SHI)\\(ESC)}x", {{{2, 7}, shift, {8, 2}}, {{7, 7}}}, {false, false}},
      {"\\(FN0)\\(KOF)\\(FN9)", {{{1, 7}}, {{0, 3}}}, {true, false}},
      {"\\(\\)\\(')", {{{2, 6}}, {shift, {5, 1}}}, {false, false}},  // backslash, quote
      {"\\({)", {{shift, {2, 1}}}, {false}},
      {"\x01 ", {{{5, 7}}}, {false}},                               // unknown characters send nothing
  };
  for (const auto& c : cases) {
    std::vector<CslKeyGroup> groups;
    std::string error;
    ASSERT_TRUE(CslKeyGroups(c.text, groups, error)) << c.text << ": " << error;
    ASSERT_EQ(groups.size(), c.groups.size()) << c.text;
    for (size_t i = 0; i < groups.size(); ++i) {
      EXPECT_EQ(groups[i].Keys, c.groups[i]) << c.text << " group " << i;
      EXPECT_EQ(groups[i].NoDelayAfter, c.noDelay[i]) << c.text << " group " << i;
    }
  }
}

TEST_F(CslTest, KeyOutputFollowsKeyDelay) {
  // Held 40 ms, 20 ms between keys, 60 ms after RETURN; KOF drops the gap.
  const fs::path s = Write("k.csl", "key_delay 40000 20000 60000\nkey_output 'a\\(RET)b\\(KOF)c'\n");
  CslRunner r(Host());
  std::vector<std::string> states;  // at each period end: which of a, RETURN, b, c are down
  ASSERT_TRUE(Run(r, s, 100, [&](int) {
    std::string st;
    st += KeyDown(8, 5) ? 'a' : '.';
    st += KeyDown(2, 2) ? 'R' : '.';
    st += KeyDown(6, 6) ? 'b' : '.';
    st += KeyDown(7, 6) ? 'c' : '.';
    states.push_back(st);
  }));
  // Sampled at each period end (20 ms), before the script's turn: 'a' held
  // 0-40 ms, RETURN 60-100, then 60 ms after RETURN, 'b' 160-200 and, with
  // no gap, 'c' 200-240; the script ends at 260.
  const std::vector<std::string> want = {"a...", "a...", "....", ".R..", ".R..", "....", "....",
                                         "....", "..b.", "..b.", "...c", "...c", "...."};
  EXPECT_EQ(states, want);
  for (int line = 0; line < 10; ++line) EXPECT_EQ(KeyboardLine(m->Keyboard, line), 0xFF) << "key left down";
}

TEST_F(CslTest, ScreenshotAndSnapshotNames) {
  const fs::path s = Write("n.csl",
                           "screenshot_dir 'pics'\nwait 100000\nscreenshot\nscreenshot_name 'one'\nscreenshot\n"
                           "screenshot\nsnapshot_name 'snap'\nsnapshot\n");
  CslRunner r(Host());
  ASSERT_TRUE(Run(r, s));
  EXPECT_EQ(r.Error(), "");
  ASSERT_EQ(shots.size(), 3u);
  EXPECT_EQ(shots[0].name, "PELLUCIDORE_SCREEN_000001.png");
  EXPECT_EQ(shots[0].at, 100000u);
  EXPECT_EQ(shots[1].name, "one.png");
  EXPECT_EQ(shots[2].name, "PELLUCIDORE_SCREEN_000003.png");  // a name is used once
  ASSERT_EQ(r.Written().size(), 4u);
  EXPECT_EQ(r.Written()[0], dir / "pics" / "PELLUCIDORE_SCREEN_000001.png");  // folder relative to the script
  EXPECT_EQ(r.Written()[3], dir / "snap.sna");
  EXPECT_TRUE(fs::is_regular_file(dir / "snap.sna"));
}

TEST_F(CslTest, VsyncWaitsStopAtTheEdge) {
  ProgramCrtc();
  const fs::path s = Write("v.csl", "wait 30000\nwait_vsyncoffon\nscreenshot\nscreenshot vsync\n");
  std::vector<bool> vsyncAtShot;
  CslHost host = Host();
  host.WriteScreenshot = [&](const Machine& mm, const fs::path&) {
    shots.push_back({"", mm.ClockAtTick});
    vsyncAtShot.push_back(mm.Crtc.VSYNC);
    return std::string();
  };
  CslRunner r(host);
  ASSERT_TRUE(Run(r, s));
  EXPECT_EQ(r.Error(), "");
  ASSERT_EQ(shots.size(), 2u);
  EXPECT_EQ(vsyncAtShot, (std::vector<bool>{true, true}));
  EXPECT_GT(shots[0].at, 30000u);
  // "screenshot vsync" starts with VSYNC on: it waits for it to go off and
  // on again, one frame of 312 lines of 64 us later.
  EXPECT_EQ(shots[1].at - shots[0].at, 19968u);
}

TEST_F(CslTest, DriveOnOffCountsWholeCycles) {
  const fs::path s = Write("d.csl", "wait_driveonoff 2\nscreenshot\n");
  CslRunner r(Host());
  ASSERT_TRUE(Run(r, s, 100, [&](int i) {
    if (i == 2 || i == 7) m->Fdc.Motor = 1;
    if (i == 5 || i == 9) m->Fdc.Motor = 0;
  }));
  ASSERT_EQ(shots.size(), 1u);
  EXPECT_EQ(shots[0].at, 200000u);  // after the second stop, at the end of period 9
}

TEST_F(CslTest, ResetAndCrtcSelect) {
  const uint8_t* bank = &m->Memory.ExpansionRam[0];
  const fs::path soft = Write("s.csl", "crtc_select 1B\nreset soft\n");
  const fs::path hard = Write("h.csl", "crtc_select 2\nreset\n");
  m->Memory.ExpansionRam[0] = 0x55;
  CslRunner r(Host());
  ASSERT_TRUE(Run(r, soft));
  EXPECT_EQ(m->Crtc.Type, 1u);
  EXPECT_EQ(*bank, 0x55);  // soft: the firmware clears only its own 64 KB
  CslRunner r2(Host());
  ASSERT_TRUE(Run(r2, hard));
  EXPECT_EQ(m->Crtc.Type, 2u);
  EXPECT_EQ(*bank, 0x00);
  EXPECT_EQ(m->Z80.PC, 0x0000);
}

TEST_F(CslTest, ChainsRelativeToTheScriptAndStopsAtAMissingFile) {
  const fs::path main = Write("main.csl", "wait 20000\ncsl_load 'sub/next'\n");
  Write("sub/next.CSL", "screenshot_name 'x'\nscreenshot\n\ncsl_load 'missing'\nscreenshot\n");
  CslRunner r(Host());
  ASSERT_TRUE(Run(r, main));
  ASSERT_EQ(shots.size(), 1u);
  EXPECT_EQ(shots[0].name, "x.png");
  EXPECT_EQ(r.Error(), "next.CSL:4: file not found: " + (dir / "sub" / "missing").string());

  const struct {
    const char* script;
    const char* error;
  } errors[] = {
      {"wait 1\ndisk_insert 'none.dsk'\n", "e.csl:2: file not found: "},
      {"snapshot_load 'none.sna'\n", "e.csl:1: file not found: "},
      {"key_from_file 'none.txt'\n", "e.csl:1: file not found: "},
      {"wait 1\nbogus\n", "e.csl:2: unknown command 'bogus'"},
  };
  for (const auto& e : errors) {
    CslRunner bad(Host());
    const fs::path p = Write("e.csl", e.script);
    const std::string started = bad.Start(*m, p);
    for (int i = 0; started.empty() && i < 5 && bad.Service(*m); ++i) EmulateTick(*m);
    const std::string error = started.empty() ? bad.Error() : started;
    EXPECT_EQ(error.rfind(e.error, 0), 0u) << error;
    EXPECT_FALSE(bad.Running());
  }
}

TEST_F(CslTest, SsmRequestsOfTheProgram) {
  // ED 01 ED 02: picture &0201; ED FE: the named one; ED 3F, NOP, ED 00 ED 00:
  // the halves of 003F are apart, so only the release remains.
  Program({0xF3, 0xED, 0x01, 0xED, 0x02, 0xED, 0xFE, 0xED, 0x3F, 0x00, 0xED, 0x00, 0xED, 0x00, 0x18, 0xFE});
  const fs::path s = Write("ssm.csl", "crtc_select 2\nscreenshot_name 'named'\nwait_ssm0000\nscreenshot_name 'late'\n");
  CslRunner r(Host());
  ASSERT_TRUE(Run(r, s, 10));
  EXPECT_EQ(r.Error(), "");
  ASSERT_EQ(shots.size(), 2u);
  EXPECT_EQ(shots[0].name, "PELLUCIDORE_2_0201.png");
  EXPECT_EQ(shots[1].name, "named.png");
  EXPECT_EQ(m->Ssm.Enabled, 0);  // the script's own switch ends with it
}

TEST_F(CslTest, UnusedEdCodesAreTwoNopNoOpsUnlessEnabled) {
  const struct {
    std::vector<uint8_t> bytes;
    bool enabled;
    std::vector<uint16_t> codes;  // numbered requests seen
  } cases[] = {
      {{0xED, 0xC0, 0xED, 0x12}, false, {}},
      {{0xED, 0xC0, 0xED, 0x12}, true, {0x12C0}},
      {{0xED, 0x7F, 0xED, 0xFD}, true, {0xFD7F}},
      {{0xED, 0x77, 0xED, 0x12}, true, {}},  // 77 is not an SSM code
      {{0xED, 0x40, 0xED, 0x12}, true, {}},  // IN B,(C) is a real instruction
  };
  for (const auto& c : cases) {
    Program(c.bytes);
    std::vector<uint16_t> codes;
    m->Ssm = {};
    m->Ssm.Enabled = c.enabled;
    m->Ssm.Handler = [&](Machine&, const SsmRequest& r) { codes.push_back(r.Code); };
    const uint16_t bc = m->Z80.BC.W;
    ExecuteInstruction(*m);
    const uint32_t nops = m->Z80.NopCounter;
    ExecuteInstruction(*m);
    EXPECT_EQ(codes, c.codes);
    EXPECT_EQ(m->Z80.PC, 0x4004);
    if (c.bytes[1] != 0x40) {
      EXPECT_EQ(nops, 2u);
      EXPECT_EQ(m->Z80.BC.W, bc);
    }
  }
}

}  // namespace
