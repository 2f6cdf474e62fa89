#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <filesystem>
#include <set>

#include "frontend/qt/key_mapper_dialog.h"
#include "frontend/qt/modal_helper.h"
#include "platform/key_codes.h"

namespace fs = std::filesystem;

namespace {

int ButtonIndex(const char* name) {
  for (int i = 0; i < kCpcKeyButtons; ++i)
    if (std::string(kCpcKeyLayout[i].Name) == name) return i;
  return -1;
}

class KeyMapperTest : public ::testing::Test {
 protected:
  void TearDown() override { fs::remove(file); }

  // The hook sees key messages sent to any widget while it is armed.
  void PressKey(int qtKey) {
    QKeyEvent press(QEvent::KeyPress, qtKey, Qt::NoModifier);
    QApplication::sendEvent(d.Label2, &press);
  }
  void Click(const char* name) { d.KeyButtons[ButtonIndex(name)]->click(); }

  QApplication& app = *TestApp();  // before any widget
  KeyMap map = DefaultKeyMap();
  fs::path file = fs::temp_directory_path() / ("pellucidore-keymap-" + std::to_string(::getpid()) + ".map");
  KeyMapperDialog d{map, file};
};

TEST_F(KeyMapperTest, ButtonsCoverTheWholeMatrix) {
  ASSERT_EQ(d.KeyButtons.size(), 81u);
  std::set<std::pair<int, int>> positions;
  int shifts = 0;
  for (const CpcKeyButton& k : kCpcKeyLayout) {
    positions.insert({k.Line, k.Bit});
    shifts += std::string(k.Name) == "SHIFT";
  }
  EXPECT_EQ(positions.size(), 80u);  // lines 0..9, bits 0..7
  EXPECT_EQ(shifts, 2);
}

TEST_F(KeyMapperTest, BothControlKeysAssignToControl) {
  KeyMap empty;
  map = empty;
  Click("CONTROL");
  EXPECT_EQ(d.Label2->text(), "CPC Key: CONTROL");
  EXPECT_EQ(d.Label3->text(), "PC Key:");  // nothing maps to it yet: unchanged

  d.Button1->click();
  EXPECT_EQ(d.Button1->text(), "->PRESS A KEY-<");
  EXPECT_FALSE(d.Button1->isEnabled());
  PressKey(Qt::Key_Control);
  EXPECT_EQ(d.Button1->text(), "ASSIGN KEY");
  EXPECT_TRUE(d.Button1->isEnabled());
  EXPECT_EQ(*KeyMapLookup(map, 17), (KeyMapEntry{2, 7}));

  // The right Control key is extended: the offscreen platform has no scan
  // codes, so the code comes from the physical key as X11 would give it.
  d.Button1->click();
  d.KeyMessage(VirtualKeyFromEvdev(97));  // KEY_RIGHTCTRL
  EXPECT_EQ(*KeyMapLookup(map, 273), (KeyMapEntry{2, 7}));
  EXPECT_EQ(*KeyMapLookup(map, 17), (KeyMapEntry{2, 7}));

  Click("CONTROL");
  EXPECT_EQ(d.Label3->text(), "PC Key: RIGHT RCONTROL");  // the highest code shown
}

TEST_F(KeyMapperTest, ReassigningAKeyMovesIt) {
  Click("A");
  EXPECT_EQ(d.Label3->text(), "PC Key: A");
  Click("B");
  d.Button1->click();
  PressKey(Qt::Key_A);
  EXPECT_EQ(*KeyMapLookup(map, 65), (KeyMapEntry{6, 6}));
  for (uint32_t code = 1; code <= kKeyMapEntries; ++code)
    EXPECT_FALSE(*KeyMapLookup(map, code) == (KeyMapEntry{8, 5})) << "code " << code << " still on A";

  // Unarmed, key presses change nothing.
  PressKey(Qt::Key_Q);
  EXPECT_EQ(*KeyMapLookup(map, 81), (KeyMapEntry{8, 3}));
}

TEST_F(KeyMapperTest, SavedMapReloadsEqual) {
  Click("f0");
  d.Button1->click();
  PressKey(Qt::Key_F1);
  d.Button2->click();
  ASSERT_EQ(fs::file_size(file), kKeyMapFileSize);
  KeyMap loaded;
  ASSERT_TRUE(LoadKeyMap(loaded, file).Ok);
  EXPECT_EQ(loaded, map);
  EXPECT_EQ(*KeyMapLookup(loaded, 0x70), (KeyMapEntry{1, 7}));
}

}  // namespace
