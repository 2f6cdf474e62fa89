#include "frontend/symbolic_keys.h"

#include <gtest/gtest.h>

#include "devices/ppi.h"

namespace {

constexpr uint32_t kShiftLine = 2, kShiftBit = 5;

class SymbolicKeys : public testing::Test {
 protected:
  void SetUp() override { KeyboardReset(k); }
  bool Held(uint32_t line, uint32_t bit) const { return !(k.Matrix[line].load() & (1u << bit)); }
  bool Shift() const { return Held(kShiftLine, kShiftBit); }
  bool AllReleased() const {
    for (uint32_t line = 0; line < 16; ++line)
      if (k.Matrix[line].load() != 0xFF) return false;
    return true;
  }
  // Firmware keyboard scans (each reads line 2), then what the front end's
  // timer does.
  void Scan(int scans = 1) {
    for (int i = 0; i < scans; ++i) {
      KeyboardLine(k, kShiftLine);
      SymbolicService(s, k);
    }
  }
  KeyboardState k;
  SymbolicKeyboard s;
};

TEST_F(SymbolicKeys, CharactersPressTheirCpcKeyWithShiftAsTheCpcNeedsIt) {
  struct Case {
    char32_t c;
    uint32_t line, bit;
    bool shift;
  } cases[] = {
      {'a', 8, 5, false}, {'A', 8, 5, true},  {'@', 3, 2, false}, {'|', 3, 2, true},  {'=', 3, 1, true},
      {'-', 3, 1, false}, {'+', 3, 4, true},  {'*', 3, 5, true},  {'"', 8, 1, true},  {'_', 4, 0, true},
      {' ', 5, 7, false}, {'^', 3, 0, false}, {U'\u2191', 3, 0, false}, {U'\u00a3', 3, 0, true}, {'~', 3, 0, true},
      {'[', 2, 1, false}, {'{', 2, 1, true},  {'`', 2, 6, true},  {'<', 4, 7, true},  {'9', 4, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<uint32_t>(c.c));
    ASSERT_TRUE(SymbolicKeyDown(s, k, 1, c.c));
    Scan(4);
    EXPECT_TRUE(Held(c.line, c.bit));
    EXPECT_EQ(Shift(), c.shift);
    ASSERT_TRUE(SymbolicKeyUp(s, k, 1));
    Scan(3);
    EXPECT_TRUE(AllReleased());
    EXPECT_FALSE(SymbolicPending(s));
  }
}

TEST_F(SymbolicKeys, CharactersTheCpcLacksAndControlCharactersTypeNothing) {
  for (char32_t c : {U'\u00e9', U'\u20ac', U'\u00a7', char32_t{'\r'}, char32_t{'\t'}, char32_t{0x1B}, char32_t{0x7F}}) {
    EXPECT_FALSE(SymbolicKeyDown(s, k, 7, c)) << static_cast<uint32_t>(c);
    EXPECT_FALSE(SymbolicKeyUp(s, k, 7));
  }
  EXPECT_TRUE(AllReleased());
}

// The firmware counts a key as held until two scans have seen it up: a key
// that needs SHIFT let go waits three scans, one that needs it pressed one.
TEST_F(SymbolicKeys, KeysWaitUntilTheScansHaveSeenTheShiftChange) {
  SymbolicShift(s, k, 0, true);  // US Shift+2 gives @, typed without SHIFT
  Scan(3);
  SymbolicKeyDown(s, k, 3, '@');
  EXPECT_FALSE(Shift());
  EXPECT_FALSE(Held(3, 2));
  EXPECT_TRUE(SymbolicPending(s));
  Scan(2);
  EXPECT_FALSE(Held(3, 2));
  Scan(1);
  EXPECT_TRUE(Held(3, 2));
  EXPECT_FALSE(SymbolicPending(s));
  SymbolicKeyUp(s, k, 3);
  Scan(1);
  EXPECT_TRUE(Shift());  // the host Shift alone again
  SymbolicShift(s, k, 0, false);
  EXPECT_TRUE(AllReleased());

  SymbolicKeyDown(s, k, 4, '=');  // SHIFT added: one scan
  EXPECT_TRUE(Shift());
  EXPECT_FALSE(Held(3, 1));
  Scan(1);
  EXPECT_TRUE(Held(3, 1));
  // A tap shorter than a scan is still seen once.
  SymbolicKeyUp(s, k, 4);
  Scan(4);
  SymbolicKeyDown(s, k, 5, 'x');
  SymbolicKeyUp(s, k, 5);
  EXPECT_TRUE(Held(7, 7));
  Scan(1);
  EXPECT_TRUE(AllReleased());
}

TEST_F(SymbolicKeys, HostShiftReleasedFirstOrLastLeavesNothingHeld) {
  for (bool shiftFirst : {true, false}) {
    SymbolicShift(s, k, 0, true);
    SymbolicKeyDown(s, k, 3, '@');
    Scan(4);
    EXPECT_TRUE(Held(3, 2));
    EXPECT_FALSE(Shift());
    if (shiftFirst) {
      SymbolicShift(s, k, 0, false);
      SymbolicKeyUp(s, k, 3);
    } else {
      SymbolicKeyUp(s, k, 3);
      Scan(1);
      SymbolicShift(s, k, 0, false);
    }
    Scan(2);
    EXPECT_TRUE(AllReleased()) << shiftFirst;
  }
}

TEST_F(SymbolicKeys, OverlappingKeysKeepSharedPositionsAndFollowTheNewestForShift) {
  // '=' and '-' share a CPC key: the first release must not free it.
  SymbolicKeyDown(s, k, 1, '=');
  Scan(2);
  SymbolicKeyDown(s, k, 2, '-');
  EXPECT_FALSE(Held(3, 1));  // let go first, for the firmware to see it again
  Scan(4);
  EXPECT_FALSE(Shift());
  EXPECT_TRUE(Held(3, 1));
  SymbolicKeyUp(s, k, 1);
  Scan(2);
  EXPECT_TRUE(Held(3, 1));
  SymbolicKeyUp(s, k, 2);
  Scan(2);
  EXPECT_TRUE(AllReleased());

  // Newest key decides SHIFT; releasing it hands SHIFT back to the older one.
  SymbolicKeyDown(s, k, 1, 'A');
  Scan(2);
  SymbolicKeyDown(s, k, 2, 'b');
  Scan(4);
  EXPECT_FALSE(Shift());
  EXPECT_TRUE(Held(6, 6));
  SymbolicKeyUp(s, k, 2);
  Scan(2);
  EXPECT_TRUE(Shift());
  EXPECT_TRUE(Held(8, 5));
  SymbolicKeyUp(s, k, 1);
  Scan(2);
  EXPECT_TRUE(AllReleased());

  // Two Shift keys: releasing one keeps SHIFT.
  SymbolicShift(s, k, 0, true);
  SymbolicShift(s, k, 1, true);
  SymbolicShift(s, k, 0, false);
  EXPECT_TRUE(Shift());
  SymbolicShift(s, k, 1, false);
  EXPECT_TRUE(AllReleased());
}

TEST_F(SymbolicKeys, LostReleasesAndReleaseAllLeaveNothingHeld) {
  SymbolicKeyDown(s, k, 5, 'x');
  Scan(1);
  SymbolicKeyDown(s, k, 5, 'X');  // the same host key again, its release lost
  Scan(4);
  EXPECT_TRUE(Shift());
  SymbolicKeyUp(s, k, 5);
  Scan(2);
  EXPECT_TRUE(AllReleased());

  for (uint32_t key = 0; key < 40; ++key) {
    SymbolicKeyDown(s, k, key, static_cast<char32_t>('a' + key % 26));
    Scan(1);
  }
  SymbolicShift(s, k, 1, true);
  SymbolicReleaseAll(s, k);
  EXPECT_TRUE(AllReleased());
  EXPECT_EQ(s.HeldCount, 0);
  EXPECT_FALSE(SymbolicKeyUp(s, k, 39));
}

}  // namespace
