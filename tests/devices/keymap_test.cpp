#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "devices/keymap.h"
#include "frontend/autotype.h"

namespace fs = std::filesystem;

namespace {

class KeyMapFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("pellucidore-keymap-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir);
    file = dir / kKeyMapFileName;
  }
  void TearDown() override { fs::remove_all(dir); }
  void WriteBytes(const std::vector<uint8_t>& bytes) {
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  }
  fs::path dir, file;
};

TEST_F(KeyMapFileTest, SaveThenLoadGives2048BytesAndTheSameTable) {
  KeyMap map = DefaultKeyMap();
  AssignKey(map, 1, 9, 4);
  AssignKey(map, 512, 0, 7);
  ASSERT_TRUE(SaveKeyMap(map, file).Ok);
  EXPECT_EQ(fs::file_size(file), 2048u);

  std::ifstream in(file, std::ios::binary);
  std::vector<uint8_t> bytes(2048);
  in.read(reinterpret_cast<char*>(bytes.data()), 2048);
  // Code 1 first: line 9, bit 4, little-endian; code 512 last.
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4), (std::vector<uint8_t>{9, 0, 4, 0}));
  EXPECT_EQ(std::vector<uint8_t>(bytes.end() - 4, bytes.end()), (std::vector<uint8_t>{0, 0, 7, 0}));
  // An unassigned code is line &FFFF (code 2).
  EXPECT_EQ(bytes[4], 0xFF);
  EXPECT_EQ(bytes[5], 0xFF);

  KeyMap loaded;
  ASSERT_TRUE(LoadKeyMap(loaded, file).Ok);
  EXPECT_EQ(loaded, map);

  // Saving again replaces the file, same size.
  AssignKey(map, 1, 3, 3);
  ASSERT_TRUE(SaveKeyMap(map, file).Ok);
  EXPECT_EQ(fs::file_size(file), 2048u);
  ASSERT_TRUE(LoadKeyMap(loaded, file).Ok);
  EXPECT_EQ(loaded, map);
}

TEST_F(KeyMapFileTest, MissingShortOrUnwritableFilesAreErrors) {
  const KeyMap before = DefaultKeyMap();
  KeyMap map = before;
  KeyMapResult r = LoadKeyMap(map, file);
  EXPECT_FALSE(r.Ok);
  EXPECT_FALSE(r.Error.empty());
  WriteBytes(std::vector<uint8_t>(2047, 0));
  EXPECT_FALSE(LoadKeyMap(map, file).Ok);
  EXPECT_EQ(map, before);  // untouched on failure
  EXPECT_FALSE(SaveKeyMap(map, dir / "no-such-folder" / kKeyMapFileName).Ok);
}

TEST_F(KeyMapFileTest, EntriesOutsideTheMatrixLoadAsUnassigned) {
  std::vector<uint8_t> bytes(2048, 0xFF);
  auto put = [&](int code, uint16_t line, uint16_t bit) {
    const int i = (code - 1) * 4;
    bytes[i] = line & 0xFF;
    bytes[i + 1] = line >> 8;
    bytes[i + 2] = bit & 0xFF;
    bytes[i + 3] = bit >> 8;
  };
  put(65, 8, 5);
  put(66, 200, 1);   // no such line
  put(67, 10, 0);    // a line without keys
  put(68, 2, 9);     // no such bit
  put(69, 0, 0);
  WriteBytes(bytes);
  KeyMap map;
  ASSERT_TRUE(LoadKeyMap(map, file).Ok);
  EXPECT_EQ(*KeyMapLookup(map, 65), (KeyMapEntry{8, 5}));
  for (int code : {66, 67, 68}) EXPECT_EQ(KeyMapLookup(map, code)->Line, kKeyUnassigned) << code;
  EXPECT_EQ(*KeyMapLookup(map, 69), (KeyMapEntry{0, 0}));
}

TEST(KeyMap, OneEntryPerCode) {
  KeyMap map;
  AssignKey(map, 17, 2, 7);
  AssignKey(map, 17, 8, 2);  // reassigned: the old position is gone
  EXPECT_EQ(*KeyMapLookup(map, 17), (KeyMapEntry{8, 2}));
  EXPECT_EQ(KeyMapLookup(map, 0), nullptr);
  EXPECT_EQ(KeyMapLookup(map, 513), nullptr);
  AssignKey(map, 0, 1, 1);  // ignored, no crash
}

TEST(KeyMap, KeyNames) {
  const std::pair<uint32_t, const char*> cases[] = {
      {8, "BACKSPACE"},       {17, "LEFT CONTROL"},      {273, "RIGHT RCONTROL"},
      {48, "0"},              {57, "9"},                 {65, "A"},
      {90, "Z"},              {96, "NUMPAD 0"},          {105, "NUMPAD 9"},
      {110, "NUMPAD ."},      {186, "COLUMN"},           {222, "TONE"},
      {226, "SECONDARY LEFT SLASH"}, {269, "NUMPAD ENTER"}, {296, "DOWN ARROW"},
      {12, "NUMPAD 5 (NUM LOCK OFF)"}, {65535, "Not assigned"}, {0, "Unknown (Code: 0)"},
      {91, "Unknown (Code: 91)"}, {304, "Unknown (Code: 304)"},
  };
  for (const auto& [code, name] : cases) EXPECT_EQ(KeyName(code), name);
}

TEST(KeyMap, DefaultMapPutsLettersAndDigitsWhereTheCpcHasThem) {
  const KeyMap map = DefaultKeyMap();
  // The typing table knows where each character sits on the CPC.
  for (char c : std::string("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789")) {
    const AutoTypeKey key = AutoTypeKeyFor(static_cast<uint8_t>(c));
    EXPECT_EQ(*KeyMapLookup(map, static_cast<uint8_t>(c)), (KeyMapEntry{key.Line, key.Bit})) << c;
  }
  const std::pair<uint32_t, KeyMapEntry> keys[] = {
      {13, {2, 2}},  {32, {5, 7}},  {16, {2, 5}},  {272, {2, 5}}, {17, {2, 7}}, {273, {2, 7}},
      {20, {8, 6}},  {9, {8, 4}},   {27, {8, 2}},  {8, {9, 7}},   {294, {0, 0}}, {296, {0, 2}},
      {293, {1, 0}}, {295, {0, 1}}, {96, {1, 7}},  {105, {0, 3}}, {269, {0, 6}}, {291, {1, 1}},
  };
  for (const auto& [code, entry] : keys) EXPECT_EQ(*KeyMapLookup(map, code), entry) << KeyName(code);
  for (const KeyMapEntry& e : map.Entries) {
    if (e.Line == kKeyUnassigned) continue;
    EXPECT_LE(e.Line, 9);
    EXPECT_LE(e.Bit, 7);
  }
}

}  // namespace
