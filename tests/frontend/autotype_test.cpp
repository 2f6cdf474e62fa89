#include <gtest/gtest.h>

#include "core/machine.h"
#include "frontend/autotype.h"

namespace {

class AutoTypeTest : public ::testing::Test {
 protected:
  void SetUp() override { KeyboardReset(k); }

  // The held positions as "line,bit" strings, for readable failures.
  std::vector<std::string> HeldKeys() {
    std::vector<std::string> held;
    for (uint32_t line = 0; line < 16; ++line)
      for (uint32_t bit = 0; bit < 8; ++bit)
        if (!(KeyboardLine(k, line) & (1 << bit))) held.push_back(std::to_string(line) + "," + std::to_string(bit));
    return held;
  }

  KeyboardState k;
  AutoTypeState s;
};

using Keys = std::vector<std::string>;

TEST_F(AutoTypeTest, ALineOfTwoLettersTakesEightTicks) {
  ASSERT_TRUE(StartAutoType(s, AutoTypeTextFromLines("ab")));
  const Keys expected[] = {{"8,5"}, {}, {"6,6"}, {}, {"2,2"}, {}, {"2,7"}, {}};
  for (int tick = 0; tick < 8; ++tick) {
    const bool more = AutoTypeStep(s, k);
    EXPECT_EQ(HeldKeys(), expected[tick]) << "tick " << tick;
    EXPECT_EQ(more, tick < 7) << "tick " << tick;
  }
  EXPECT_EQ(s.AutoTypePosition, 0u);
}

TEST_F(AutoTypeTest, ShiftAheadPressesShiftOnlyBeforeAShiftedKey) {
  ASSERT_TRUE(StartAutoType(s, "aB"));
  AutoTypeShiftAhead(s, k);
  EXPECT_EQ(HeldKeys(), Keys{}) << "a needs no SHIFT";
  AutoTypeStep(s, k);
  AutoTypeShiftAhead(s, k);
  EXPECT_EQ(HeldKeys(), Keys{"8,5"}) << "nothing while a key is held";
  AutoTypeStep(s, k);
  AutoTypeShiftAhead(s, k);
  EXPECT_EQ(HeldKeys(), Keys{"2,5"});
  AutoTypeStep(s, k);
  EXPECT_EQ(HeldKeys(), (Keys{"2,5", "6,6"}));
  EXPECT_FALSE(AutoTypeStep(s, k));
  EXPECT_EQ(HeldKeys(), Keys{}) << "the step releases the early SHIFT";
  AutoTypeShiftAhead(s, k);
  EXPECT_EQ(HeldKeys(), Keys{}) << "nothing after the end";
}

TEST_F(AutoTypeTest, CharactersToKeys) {
  struct Case {
    uint8_t c;
    Keys held;
  };
  const Case cases[] = {
      {'A', {"2,5", "8,5"}},  {'z', {"8,7"}},         {' ', {"5,7"}},         {'\t', {"5,7"}},
      {'~', {"5,7"}},         {'"', {"2,5", "8,1"}},  {'_', {"2,5", "4,0"}},  {'^', {"3,0"}},
      {163, {"2,5", "3,0"}},  {'=', {"2,5", "3,1"}},  {'`', {"2,5", "2,6"}},  {'@', {"3,2"}},
      {'*', {"2,5", "3,5"}},  {'?', {"2,5", "3,6"}},  {0, {"5,7"}},           {255, {"5,7"}},
      {'\r', {"2,2"}},        {'\n', {"2,7"}},
  };
  for (const Case& c : cases) {
    AutoTypeState one;
    ASSERT_TRUE(StartAutoType(one, std::string(1, static_cast<char>(c.c))));
    EXPECT_TRUE(AutoTypeStep(one, k));
    EXPECT_EQ(HeldKeys(), c.held) << "character " << int(c.c);
    EXPECT_FALSE(AutoTypeStep(one, k));
    EXPECT_EQ(HeldKeys(), Keys{});
  }
}

TEST_F(AutoTypeTest, StopLeavesTheKeyHeldUntilTheNextRun) {
  ASSERT_TRUE(StartAutoType(s, "Q"));
  AutoTypeStep(s, k);
  StopAutoType(s);
  EXPECT_EQ(HeldKeys(), (Keys{"2,5", "8,3"}));
  ASSERT_TRUE(StartAutoType(s, "w"));
  EXPECT_TRUE(AutoTypeStep(s, k));  // releases the old key first
  EXPECT_EQ(HeldKeys(), Keys{});
  EXPECT_TRUE(AutoTypeStep(s, k));
  EXPECT_EQ(HeldKeys(), Keys{"7,3"});
}

TEST_F(AutoTypeTest, EmptyTextDoesNothingAndShorterTextStaysInBounds) {
  EXPECT_FALSE(StartAutoType(s, ""));
  EXPECT_FALSE(AutoTypeStep(s, k));
  ASSERT_TRUE(StartAutoType(s, "abcdef"));
  for (int i = 0; i < 7; ++i) AutoTypeStep(s, k);  // 'd' held
  ASSERT_TRUE(StartAutoType(s, "xy"));
  int ticks = 0;
  while (AutoTypeStep(s, k) && ticks < 100) ++ticks;
  EXPECT_LT(ticks, 100);
  EXPECT_EQ(HeldKeys(), Keys{});
}

TEST(AutoTypeText, EveryLineEndsWithCarriageReturnAndLineFeed) {
  EXPECT_EQ(AutoTypeTextFromLines("10 PRINT\nRUN"), "10 PRINT\r\nRUN\r\n");
  EXPECT_EQ(AutoTypeTextFromLines("a\r\nb\rc\n"), "a\r\nb\r\nc\r\n");
  EXPECT_EQ(AutoTypeTextFromLines("\n\n"), "\r\n\r\n");
  EXPECT_EQ(AutoTypeTextFromLines(""), "");
}

}  // namespace
