// Keys, mouse and menus through the window's own event path, read back from
// the CPC screen. The emulation thread stays paused; the test runs the
// machine tick by tick between the events, so every key is seen by the
// firmware's keyboard scan.
#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QMenuBar>
#include <QMouseEvent>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "cpc_screen.h"
#include "frontend/qt/frame_view.h"
#include "frontend/qt/key_mapper_dialog.h"
#include "frontend/qt/main_window.h"
#include "frontend/qt/modal_helper.h"
#include "frontend/qt/qt_test_app.h"

#ifdef PELLUCIDORE_HAVE_SDL2
#include <SDL.h>
#endif

namespace fs = std::filesystem;
using namespace cpc_screen;

namespace {

// A key of a host layout: the evdev code of its place and the modifiers
// that give the character.
struct HostKey {
  uint32_t Evdev;
  bool Shift = false;
  bool AltGr = false;
};

struct Layout {
  const char* Name;
  std::map<char32_t, HostKey> Keys;
  std::u32string Extra;  // characters only this layout has a key for
};

void AddRow(std::map<char32_t, HostKey>& keys, const char* letters, uint32_t first) {
  for (uint32_t i = 0; letters[i]; ++i) {
    keys[static_cast<char32_t>(letters[i])] = {first + i};
    keys[static_cast<char32_t>(letters[i] - 'a' + 'A')] = {first + i, true};
  }
}

Layout MakeLayout(const char* name, const char* row1, const char* row2, const char* row3, bool shiftedDigits,
                  std::map<char32_t, HostKey> symbols, std::u32string extra = {}) {
  Layout layout{name, std::move(symbols), std::move(extra)};
  AddRow(layout.Keys, row1, 16);
  AddRow(layout.Keys, row2, 30);
  AddRow(layout.Keys, row3, 44);
  for (uint32_t i = 0; i < 10; ++i) layout.Keys[U"1234567890"[i]] = {2 + i, shiftedDigits};
  layout.Keys[' '] = {57};
  return layout;
}

std::vector<Layout> Layouts() {
  return {
      MakeLayout("US", "qwertyuiop", "asdfghjkl", "zxcvbnm", false,
                 {{'"', {40, true}}, {':', {39, true}}, {',', {51}}, {'(', {10, true}}, {')', {11, true}},
                  {'+', {13, true}}, {'=', {13}}, {'*', {9, true}}, {'/', {53}}, {'-', {12}}, {';', {39}},
                  {'<', {51, true}}, {'>', {52, true}}, {'[', {26}}, {'@', {3, true}}, {']', {27}}}),
      MakeLayout("UK", "qwertyuiop", "asdfghjkl", "zxcvbnm", false,
                 {{'"', {3, true}}, {':', {39, true}}, {',', {51}}, {'(', {10, true}}, {')', {11, true}},
                  {'+', {13, true}}, {'=', {13}}, {'*', {9, true}}, {'/', {53}}, {'-', {12}}, {';', {39}},
                  {'<', {51, true}}, {'>', {52, true}}, {'[', {26}}, {'@', {40, true}}, {']', {27}},
                  {U'\u00a3', {4, true}}},
                 U"\u00a3"),
      MakeLayout("German", "qwertzuiop", "asdfghjkl", "yxcvbnm", false,
                 {{'"', {3, true}}, {':', {52, true}}, {',', {51}}, {'(', {9, true}}, {')', {10, true}},
                  {'+', {27}}, {'=', {11, true}}, {'*', {27, true}}, {'/', {8, true}}, {'-', {53}},
                  {';', {51, true}}, {'<', {86}}, {'>', {86, true}}, {'[', {9, false, true}},
                  {'@', {16, false, true}}, {']', {10, false, true}}}),
      MakeLayout("French", "azertyuiop", "qsdfghjklm", "wxcvbn", true,
                 {{'"', {4}}, {':', {52}}, {',', {50}}, {'(', {6}}, {')', {12}}, {'+', {13, true}}, {'=', {13}},
                  {'*', {43}}, {'/', {52, true}}, {'-', {7}}, {';', {51}}, {'<', {86}}, {'>', {86, true}},
                  {'[', {6, false, true}}, {'@', {11, false, true}}, {']', {12, false, true}}}),
  };
}

constexpr uint32_t kShiftScan = 50, kAltGrScan = 108;  // X11 key codes: evdev + 8

int QtKeyFor(char32_t c) {
  if (c >= 'a' && c <= 'z') return Qt::Key_A + static_cast<int>(c - 'a');
  return static_cast<int>(c);
}

class KeyboardWindow : public testing::Test {
 protected:
  void SetUp() override {
    if (!HaveRoms()) GTEST_SKIP() << "CPC ROMs not found in " << RomDir();
    TestApp();
    dir = fs::temp_directory_path() / ("pellucidore-keys-" + std::to_string(::getpid()) + "-" +
                                       testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir / "PROFILES");
    std::ofstream(dir / "Pellux.ini") << "[PATHS]\nROMDIR=" << RomDir() << "/\nPFLDIR=" << (dir / "PROFILES").string()
                                      << "/\n";
    window = std::make_unique<MainWindow>(dir);
    window->TogglePause();  // the test runs the machine itself
    window->show();
    QApplication::setActiveWindow(window.get());
    window->activateWindow();
    ASSERT_TRUE(ProcessEventsUntil([&] { return window->isActiveWindow(); }, 3000));
    ASSERT_TRUE(WaitForReady(machine()));
    Ticks(10);
  }
  void TearDown() override {
    window.reset();
    fs::remove_all(dir);
  }

  Machine& machine() { return window->machine(); }
  // Emulated frames, each followed by what the window's key timer does.
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) {
      EmulateTick(machine());
      window->ServiceKeys();
    }
  }
  void Send(QWidget* to, QEvent::Type type, int key, Qt::KeyboardModifiers mods, uint32_t scan, const QString& text = {}) {
    QKeyEvent event(type, key, mods, scan, 0, 0, text);
    QApplication::sendEvent(to, &event);
  }
  // One character as a person types it on the layout: modifiers down, key
  // down, key up, modifiers up.
  void TypeOn(const Layout& layout, char32_t c) {
    const HostKey key = layout.Keys.at(c);
    Qt::KeyboardModifiers mods;
    if (key.Shift) {
      mods |= Qt::ShiftModifier;
      Send(window.get(), QEvent::KeyPress, Qt::Key_Shift, mods, kShiftScan);
      Ticks(1);
    }
    if (key.AltGr) {
      mods |= Qt::GroupSwitchModifier;
      Send(window.get(), QEvent::KeyPress, Qt::Key_AltGr, mods, kAltGrScan);
      Ticks(1);
    }
    const QString text = QString::fromUcs4(&c, 1);
    Send(window.get(), QEvent::KeyPress, QtKeyFor(c), mods, key.Evdev + 8, text);
    Ticks(5);
    Send(window.get(), QEvent::KeyRelease, QtKeyFor(c), mods, key.Evdev + 8, text);
    if (key.AltGr) Send(window.get(), QEvent::KeyRelease, Qt::Key_AltGr, mods & ~Qt::GroupSwitchModifier, kAltGrScan);
    if (key.Shift) Send(window.get(), QEvent::KeyRelease, Qt::Key_Shift, Qt::NoModifier, kShiftScan);
    Ticks(3);
  }
  bool NoKeyHeld() {
    for (int line = 0; line < 16; ++line)
      if (machine().Keyboard.Matrix[line].load() != 0xFF) return false;
    return true;
  }
  // JOY(0) as a BASIC loop prints it on the top line.
  void RunJoystickLoop() { TypeText(machine(), "10 LOCATE 1,1:PRINT JOY(0);\"    \":GOTO 10\rRUN\r"); }
  int Joy0() {
    // Long enough for the loop to read and print after the next scan.
    Ticks(10);
    int joy = -1;
    std::sscanf(ScreenText(machine())[0].c_str(), "%d", &joy);
    return joy;
  }

  fs::path dir;
  std::unique_ptr<MainWindow> window;
};

class SymbolicLayouts : public KeyboardWindow, public testing::WithParamInterface<int> {};

TEST_P(SymbolicLayouts, TypesWhatTheHostKeyShows) {
  const Layout layout = Layouts()[GetParam()];
  ASSERT_EQ(window->settings().KEYBOARDMODE, 1);  // the default
  const std::u32string typed =
      U"PRINT \"a:b\",(1+2)=3*4/5-6;7<8>9[@] abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ" + layout.Extra;
  for (char32_t c : typed) TypeOn(layout, c);
  std::string expected;
  for (char32_t c : typed) expected += c == U'\u00a3' ? '?' : static_cast<char>(c);  // the CPC's own pound glyph
  EXPECT_EQ(TypedLine(machine()), expected) << layout.Name;
  EXPECT_TRUE(NoKeyHeld()) << layout.Name;
}

INSTANTIATE_TEST_SUITE_P(HostLayouts, SymbolicLayouts, testing::Range(0, 4),
                         [](const testing::TestParamInfo<int>& info) { return std::string(Layouts()[info.param].Name); });

TEST_F(KeyboardWindow, OverlappingPressesLeaveNothingStuck) {
  QWidget* w = window.get();
  // US Shift+2 is @, which the CPC types without SHIFT; Shift let go first.
  Send(w, QEvent::KeyPress, Qt::Key_Shift, Qt::ShiftModifier, kShiftScan);
  Ticks(1);
  Send(w, QEvent::KeyPress, Qt::Key_At, Qt::ShiftModifier, 3 + 8, "@");
  Ticks(4);
  Send(w, QEvent::KeyRelease, Qt::Key_Shift, Qt::NoModifier, kShiftScan);
  Ticks(4);
  Send(w, QEvent::KeyRelease, Qt::Key_2, Qt::NoModifier, 3 + 8, "2");
  Ticks(4);
  // = (CPC SHIFT and -) held while - goes down, released in press order.
  Send(w, QEvent::KeyPress, Qt::Key_Equal, Qt::NoModifier, 13 + 8, "=");
  Ticks(4);
  Send(w, QEvent::KeyPress, Qt::Key_Minus, Qt::NoModifier, 12 + 8, "-");
  Ticks(4);
  Send(w, QEvent::KeyRelease, Qt::Key_Equal, Qt::NoModifier, 13 + 8, "=");
  Send(w, QEvent::KeyRelease, Qt::Key_Minus, Qt::NoModifier, 12 + 8, "-");
  Ticks(4);
  // Shift+A, Shift released before A, whose release now says "a".
  Send(w, QEvent::KeyPress, Qt::Key_Shift, Qt::ShiftModifier, kShiftScan);
  Send(w, QEvent::KeyPress, Qt::Key_A, Qt::ShiftModifier, 30 + 8, "A");
  Ticks(4);
  Send(w, QEvent::KeyRelease, Qt::Key_Shift, Qt::NoModifier, kShiftScan);
  Send(w, QEvent::KeyRelease, Qt::Key_A, Qt::NoModifier, 30 + 8, "a");
  Ticks(4);
  EXPECT_EQ(TypedLine(machine()), "@=-A");
  EXPECT_TRUE(NoKeyHeld());
}

TEST_F(KeyboardWindow, DeadKeyTypesNothingAndTheKeyAfterItTypesTheAccent) {
  // French ^ then Space: the dead key sits where a US keyboard has [ (the
  // CPC's @ by place), and must not type that.
  Send(window.get(), QEvent::KeyPress, Qt::Key_Dead_Circumflex, Qt::NoModifier, 26 + 8);
  Ticks(3);
  Send(window.get(), QEvent::KeyRelease, Qt::Key_Dead_Circumflex, Qt::NoModifier, 26 + 8);
  Ticks(3);
  Send(window.get(), QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, 57 + 8, "^");
  Ticks(5);
  Send(window.get(), QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, 57 + 8, " ");
  Ticks(3);
  EXPECT_EQ(TypedLine(machine()), "^");
  EXPECT_TRUE(NoKeyHeld());
}

TEST_F(KeyboardWindow, AltF1SwitchesToPositionalWhereKeysGoByPlace) {
  Send(window.get(), QEvent::KeyPress, Qt::Key_Alt, Qt::AltModifier, 64);
  Send(window.get(), QEvent::KeyPress, Qt::Key_F1, Qt::AltModifier, 67);
  Send(window.get(), QEvent::KeyRelease, Qt::Key_F1, Qt::AltModifier, 67);
  Send(window.get(), QEvent::KeyRelease, Qt::Key_Alt, Qt::NoModifier, 64);
  EXPECT_EQ(window->settings().KEYBOARDMODE, 0);
  EXPECT_TRUE(window->positionalKeysAction->isChecked());
  // US Shift+2 by place: SHIFT and the CPC's 2 key, which types ".
  const Layout us = Layouts()[0];
  TypeOn(us, '@');
  TypeOn(us, '[');  // the CPC's @ key sits there
  EXPECT_EQ(TypedLine(machine()), "\"@");
  EXPECT_TRUE(NoKeyHeld());
  // The mapper says which map it edits.
  QString shown;
  WhenModal<KeyMapperDialog>([&](KeyMapperDialog* mapper) {
    shown = mapper->ModeLabel->text();
    mapper->Button3->click();
  });
  for (QAction* top : window->menuBar()->actions())
    if (top->text() == "Tools")
      for (QAction* a : top->menu()->actions())
        if (a->text() == "Keyboard Mapper") a->trigger();
  EXPECT_TRUE(shown.startsWith("Keyboard: Positional")) << shown.toStdString();

  window->symbolicKeysAction->trigger();
  EXPECT_EQ(window->settings().KEYBOARDMODE, 1);
}

TEST_F(KeyboardWindow, CopyIsOnEndAndInsertInBothModes) {
  for (int mode : {1, 0}) {
    window->SetKeyboardMode(mode);
    for (uint32_t scan : {115u, 118u}) {  // End, Insert
      Send(window.get(), QEvent::KeyPress, scan == 115 ? Qt::Key_End : Qt::Key_Insert, Qt::NoModifier, scan);
      EXPECT_EQ(machine().Keyboard.Matrix[1].load(), 0xFF & ~2) << mode << " " << scan;  // line 1 bit 1: COPY
      Send(window.get(), QEvent::KeyRelease, scan == 115 ? Qt::Key_End : Qt::Key_Insert, Qt::NoModifier, scan);
      EXPECT_TRUE(NoKeyHeld());
    }
  }
}

TEST_F(KeyboardWindow, OpenMenuTakesTheKeysAndEscapeClosesIt) {
  QMenuBar* bar = window->menuBar();
  QAction* options = nullptr;
  for (QAction* a : bar->actions())
    if (a->text() == "Options") options = a;
  ASSERT_TRUE(options);
  // A key held when the menu opens is let go.
  Send(window.get(), QEvent::KeyPress, Qt::Key_Q, Qt::NoModifier, 16 + 8, "q");
  EXPECT_FALSE(NoKeyHeld());
  const QPoint at = bar->actionGeometry(options).center();
  QMouseEvent press(QEvent::MouseButtonPress, at, bar->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(bar, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, at, bar->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(bar, &release);
  ASSERT_TRUE(ProcessEventsUntil([] { return QApplication::activePopupWidget() != nullptr; }, 2000));
  EXPECT_TRUE(NoKeyHeld());
  Ticks(4);
  const std::string before = TypedLine(machine());

  QWidget* menu = QApplication::activePopupWidget();
  Send(menu, QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, 45 + 8, "x");
  EXPECT_TRUE(NoKeyHeld());
  Ticks(2);
  Send(menu, QEvent::KeyRelease, Qt::Key_X, Qt::NoModifier, 45 + 8, "x");
  Send(menu, QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier, 116);
  Send(menu, QEvent::KeyRelease, Qt::Key_Down, Qt::NoModifier, 116);
  Ticks(4);
  EXPECT_EQ(TypedLine(machine()), before);
  EXPECT_NE(static_cast<QMenu*>(menu)->activeAction(), nullptr);  // the arrow reached the menu

  Send(menu, QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier, 9);
  Send(menu, QEvent::KeyRelease, Qt::Key_Escape, Qt::NoModifier, 9);
  EXPECT_TRUE(ProcessEventsUntil([] { return QApplication::activePopupWidget() == nullptr; }, 2000));
  EXPECT_TRUE(NoKeyHeld());
}

TEST_F(KeyboardWindow, LosingTheFocusReleasesEveryKey) {
  Send(window.get(), QEvent::KeyPress, Qt::Key_Shift, Qt::ShiftModifier, kShiftScan);
  Send(window.get(), QEvent::KeyPress, Qt::Key_Q, Qt::ShiftModifier, 16 + 8, "Q");
  Send(window.get(), QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier, 111);
  EXPECT_FALSE(NoKeyHeld());
  QWidget other;
  other.show();
  QApplication::setActiveWindow(&other);
  other.activateWindow();
  ASSERT_TRUE(ProcessEventsUntil([&] { return !window->isActiveWindow(); }, 2000));
  EXPECT_TRUE(NoKeyHeld());
}

TEST_F(KeyboardWindow, MouseJoystickFollowsThePointerAndStops) {
  window->settings().MOUSEEN = true;
  RunJoystickLoop();
  QWidget* view = window->frameView();
  QPoint pos(200, 150);
  auto moveBy = [&](int dx, int dy) {
    pos += QPoint(dx, dy);
    QMouseEvent move(QEvent::MouseMove, pos, view->mapToGlobal(pos), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(view, &move);
  };
  moveBy(0, 0);
  struct Case {
    int dx, dy, joy;
  } cases[] = {{6, 0, 8}, {-6, 0, 4}, {0, -6, 1}, {0, 6, 2}, {5, 5, 10}};
  for (const Case& c : cases) {
    moveBy(c.dx, c.dy);
    EXPECT_EQ(machine().Keyboard.Matrix[9].load(), 0xFF & ~c.joy) << c.dx << "," << c.dy;
    EXPECT_EQ(Joy0(), c.joy) << c.dx << "," << c.dy;
    // Stopping: the hold runs out and the directions are let go.
    QApplication::processEvents();
    ProcessEventsUntil([] { return false; }, 150);
    EXPECT_EQ(Joy0(), 0) << c.dx << "," << c.dy;
  }
  // Any other mouse message lets go too.
  moveBy(6, 0);
  QMouseEvent press(QEvent::MouseButtonPress, pos, view->mapToGlobal(pos), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(view, &press);
  EXPECT_EQ(Joy0(), 16);  // left button: bit 4
}

TEST_F(KeyboardWindow, KeyboardJoystickUsesCursorKeysAndTheChosenFireKeys) {
  window->settings().KEYJOYSTICK = true;
  window->settings().MOUSEEN = true;  // a key lets go of the mouse's directions, not of these
  RunJoystickLoop();
  Send(window.get(), QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier, 111);
  EXPECT_EQ(Joy0(), 1);
  Send(window.get(), QEvent::KeyPress, Qt::Key_Z, Qt::NoModifier, 44 + 8, "z");
  EXPECT_EQ(Joy0(), 1 + 32);
  Send(window.get(), QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, 45 + 8, "x");
  EXPECT_EQ(Joy0(), 1 + 32 + 16);
  Send(window.get(), QEvent::KeyRelease, Qt::Key_Up, Qt::NoModifier, 111);
  Send(window.get(), QEvent::KeyRelease, Qt::Key_Z, Qt::NoModifier, 44 + 8, "z");
  Send(window.get(), QEvent::KeyRelease, Qt::Key_X, Qt::NoModifier, 45 + 8, "x");
  EXPECT_EQ(Joy0(), 0);
  EXPECT_EQ(machine().Keyboard.Matrix[0].load(), 0xFF);  // the CPC's cursor keys stay up
  window->settings().KEYJOYSTICK = false;
}

#ifdef PELLUCIDORE_HAVE_SDL2
TEST_F(KeyboardWindow, PadPluggedInWhileRunningReachesJoystickZero) {
  if (!window->pads().IsOpen()) GTEST_SKIP() << "SDL joystick support does not start here";
  // The test's own hold on SDL's joysticks, so that its pad outlives the
  // window's closing of them.
  ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK), 0);
  const int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_UNKNOWN, 2, 2, 1);
  ASSERT_GE(index, 0) << SDL_GetError();
  SDL_Joystick* pad = SDL_JoystickOpen(index);
  ASSERT_TRUE(pad);
  const SDL_JoystickID id = SDL_JoystickInstanceID(pad);
  SDL_JoystickSetVirtualHat(pad, 0, SDL_HAT_UP);
  SDL_JoystickSetVirtualButton(pad, 0, 1);
  // The window's own poll timer finds it.
  EXPECT_TRUE(ProcessEventsUntil([&] { return machine().Keyboard.Matrix[9].load() == (0xFF & ~(1 | 32)); }, 2000));
  // Switched off on the Joystick page: released at once.
  window->settings().PADJOYSTICK = false;
  window->ApplyJoystickSettings();
  EXPECT_EQ(machine().Keyboard.Matrix[9].load(), 0xFF);
  EXPECT_FALSE(window->pads().IsOpen());
  SDL_JoystickClose(pad);
  for (int i = 0; i < SDL_NumJoysticks(); ++i)
    if (SDL_JoystickGetDeviceInstanceID(i) == id) SDL_JoystickDetachVirtual(i);
  SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
}
#endif

}  // namespace
