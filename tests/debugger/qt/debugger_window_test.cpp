#include "debugger/qt/debugger_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QToolButton>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <memory>

#include "core/machine.h"
#include "frontend/qt/qt_test_app.h"
#include "frontend/qt/main_window.h"

// Readable failure messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

std::unique_ptr<Machine> NewMachine() {
  MachineConfig config;
  config.RomDir = "/nonexistent";
  return CreateMachine(config);
}

void PutRam(Machine& m, uint16_t at, std::initializer_list<uint8_t> bytes) {
  for (uint8_t b : bytes) m.Memory.BaseRam[at++] = b;
}

void Press(QWidget* target, int key, const QString& text = QString()) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QCoreApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QCoreApplication::sendEvent(target, &release);
}

// Types into an edit as the user does, character by character, then Enter.
void Enter(QLineEdit* edit, const QString& typed) {
  edit->clear();
  for (QChar c : typed) Press(edit, c.toUpper().unicode(), QString(c));
  Press(edit, Qt::Key_Return);
}

QString Line(QListWidget* list, int row) { return list->item(row)->text(); }

int StarRow(QListWidget* list) {
  for (int i = 0; i < list->count(); ++i)
    if (Line(list, i).mid(6, 1) == "*") return i;
  return -1;
}

class DebugFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    m = NewMachine();
    // LD HL,$1234 / LD BC,$F40E / OUT (C),C / HALT, in RAM at &4000.
    PutRam(*m, 0x4000, {0x21, 0x34, 0x12, 0x01, 0x0E, 0xF4, 0xED, 0x49, 0x76});
    m->Z80.PC = 0x4000;
    form = std::make_unique<DebuggerWindow>(*m);
    form->SetPaused(true);
    form->show();
  }
  std::unique_ptr<Machine> m;
  std::unique_ptr<DebuggerWindow> form;
};

TEST_F(DebugFormTest, ShowsTheModelsViewsWhenShown) {
  EXPECT_EQ(form->windowTitle(), "Debugger");
  ASSERT_EQ(form->ListBox1->count(), kListingLines);
  EXPECT_EQ(Line(form->ListBox1, kListingPcLine), " 4000:*  21 34 12     LD HL,$1234");
  EXPECT_EQ(form->ScrollBar1->value(), form->model().ListingPosition());
  EXPECT_EQ(form->ScrollBar1->maximum(), form->model().ListingMax());
  EXPECT_EQ(form->ListBox2->count(), kDumpLines);
  EXPECT_EQ(form->ListBox3->count(), kStackLines);
  EXPECT_EQ(form->Edits[0]->text(), "4000");
  EXPECT_EQ(form->Edits[int(RegisterField::Flags)]->text().size(), 8);
  for (int i = 0; i < kCrtcEdits; ++i)
    EXPECT_EQ(form->Edits[kRegisterFields + i]->text().toStdString(), form->model().CrtcText(i));
  EXPECT_EQ(form->ModeLabel->text().toStdString(), form->model().GateArray().ModeText);
}

TEST_F(DebugFormTest, StepButtonMovesTheListingAndRegisters) {
  form->ToolButton2->click();
  EXPECT_EQ(m->Z80.PC, 0x4003);
  EXPECT_EQ(StarRow(form->ListBox1), kListingPcLine);
  EXPECT_EQ(Line(form->ListBox1, kListingPcLine), " 4003:*  01 0E F4     LD BC,$F40E");
  EXPECT_EQ(form->Edits[0]->text(), "4003");
  EXPECT_EQ(form->Edits[int(RegisterField::HL)]->text(), "1234");
}

TEST_F(DebugFormTest, WhileRunningTheWindowIsDisabledAndDoesNotStep) {
  form->SetPaused(false);
  EXPECT_EQ(form->windowTitle(), "Debugger Disabled");
  EXPECT_FALSE(form->isEnabled());
  form->Step();
  EXPECT_EQ(m->Z80.PC, 0x4000);
  form->SetPaused(true);
  EXPECT_EQ(form->windowTitle(), "Debugger");
  EXPECT_TRUE(form->isEnabled());
}

TEST_F(DebugFormTest, PausingAgainShowsTheMachineAsItIsNow) {
  form->SetPaused(false);
  m->Z80.PC = 0x4008;  // the machine ran on meanwhile
  form->SetPaused(true);
  EXPECT_EQ(Line(form->ListBox1, kListingPcLine), " 4008:*  76           HALT");
  EXPECT_EQ(form->Edits[0]->text(), "4008");
}

TEST_F(DebugFormTest, RegisterEditsTakeTypedEntries) {
  QLineEdit* pc = form->Edits[int(RegisterField::PC)];
  Enter(pc, "12G345");  // G is refused as it is typed
  EXPECT_EQ(m->Z80.PC, 0x2345);
  EXPECT_EQ(pc->text(), "2345");
  EXPECT_EQ(StarRow(form->ListBox1), kListingPcLine);
  EXPECT_EQ(Line(form->ListBox1, kListingPcLine).left(6), " 2345:");

  QLineEdit* flags = form->Edits[int(RegisterField::Flags)];
  Enter(flags, "1");
  PackFlags(m->Z80);
  EXPECT_EQ(m->Z80.AF.B.L, 0x01);
  EXPECT_EQ(flags->text(), "00000001");

  // Escape puts back what the machine holds.
  QLineEdit* bc = form->Edits[int(RegisterField::BC)];
  const QString before = bc->text();
  bc->setText("FFFF");
  Press(bc, Qt::Key_Escape);
  EXPECT_EQ(bc->text(), before);
}

TEST_F(DebugFormTest, ChipEditsAndRomCheckBoxesChangeTheMachine) {
  Enter(form->Edit(17), "3F");  // CRTC R0
  EXPECT_EQ(m->Crtc.R[0], 0x3F);
  Enter(form->Edits[kRegisterFields + kCrtcEdits + 7], "38");  // PSG R7
  EXPECT_EQ(m->Psg.Registers[7], 0x38);
  EXPECT_EQ(form->Edits[kRegisterFields + kCrtcEdits + 7]->text(), "38");

  const bool upper = form->CheckBox2->isChecked();
  form->CheckBox2->click();
  EXPECT_EQ(m->Memory.UpperRomEnabled != 0, !upper);
  EXPECT_EQ(form->model().GateArray().UpperRomEnabled, !upper);
}

TEST_F(DebugFormTest, CodeAtPcInTheLowerRomShowsOnOpening) {
  // JP &4000 in the ROM, NOPs in the RAM beneath.
  m->Memory.LowerRom[0x0100] = 0xC3;
  m->Memory.LowerRom[0x0101] = 0x00;
  m->Memory.LowerRom[0x0102] = 0x40;
  ASSERT_TRUE(m->Memory.LowerRomEnabled);
  m->Z80.PC = 0x0100;
  DebuggerWindow fresh(*m);
  fresh.SetPaused(true);
  fresh.show();
  EXPECT_EQ(Line(fresh.ListBox1, StarRow(fresh.ListBox1)), " 0100:*  C3 00 40     JP $4000");
}

TEST_F(DebugFormTest, OpensOnWhatZ80SeesAndKeepsTheRomChoice) {
  // Down from the start, so the ROM/RAM button waits.
  EXPECT_TRUE(form->ToolButton7->isChecked());
  EXPECT_TRUE(form->model().WhatZ80Sees());
  EXPECT_FALSE(form->ToolButton5->isEnabled());
  form->ToolButton7->click();
  EXPECT_FALSE(form->model().WhatZ80Sees());
  EXPECT_TRUE(form->ToolButton5->isEnabled());
  form->ToolButton5->click();
  EXPECT_TRUE(form->model().ShowRom());
  form->ToolButton7->click();
  EXPECT_FALSE(form->ToolButton5->isEnabled());
}

TEST_F(DebugFormTest, ScrollBarsAndEdgeKeysScrollTheLists) {
  form->ScrollBar1->setValue(0);
  EXPECT_EQ(Line(form->ListBox1, 0).left(6), " 0000:");
  form->ListBox1->setCurrentRow(kListingLines - 1);
  Press(form->ListBox1, Qt::Key_Down);
  EXPECT_EQ(form->ScrollBar1->value(), 1);
  EXPECT_EQ(Line(form->ListBox1, 0).left(6), " 0001:");
  EXPECT_EQ(form->ListBox1->currentRow(), kListingLines - 1);

  form->ScrollBar2->setValue(0x4000 / 8);
  EXPECT_EQ(Line(form->ListBox2, 0), " 4000: 21 34 12 01 0E F4 ED 49  !4.....I");
  form->ListBox2->setCurrentRow(0);
  Press(form->ListBox2, Qt::Key_Up);
  EXPECT_EQ(Line(form->ListBox2, 0).left(6), " 3FF8:");
}

TEST_F(DebugFormTest, PortLogListsWritesWhileTicked) {
  form->CheckBox1->click();
  ASSERT_TRUE(form->model().PortLogEnabled());
  for (int i = 0; i < 3; ++i) form->Step();  // LD HL / LD BC / OUT (C),C
  QAbstractItemModel* log = form->ListBox4->model();
  ASSERT_EQ(log->rowCount(), 1);
  EXPECT_EQ(log->index(0, 0).data().toString(), "F40E 0E");
  form->Button1->click();
  EXPECT_EQ(log->rowCount(), 0);
}

// The main window's side: the Debugger button, pause and resume, F4.
class DebuggerInMainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    ASSERT_TRUE(dir.isValid());
    const std::filesystem::path start = dir.path().toStdString();
    std::filesystem::create_directories(start / "PROFILES");
    std::ofstream(start / "Pellux.ini") << "[FORMS]\nFORM3XPOS=123\nFORM3YPOS=77\n";
    window = std::make_unique<MainWindow>(start);
    form = window->debugForm();
    ASSERT_NE(form, nullptr);
  }
  void TearDown() override { window.reset(); }

  QTemporaryDir dir;
  std::unique_ptr<MainWindow> window;
  DebuggerWindow* form = nullptr;
};

TEST_F(DebuggerInMainWindowTest, StartsWhereItWasLeftAndHidden) {
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(form->x(), 123);
  EXPECT_EQ(form->y(), 77);
  EXPECT_TRUE(window->ToolButton7->isEnabled());
}

TEST_F(DebuggerInMainWindowTest, ButtonPausesAndShowsThenF4Steps) {
  ASSERT_TRUE(window->EmulationRunning());
  window->ToolButton7->click();
  EXPECT_FALSE(window->EmulationRunning());
  EXPECT_TRUE(form->isVisible());
  EXPECT_TRUE(form->isEnabled());
  EXPECT_EQ(form->windowTitle(), "Debugger");
  EXPECT_TRUE(window->ToolButton7->isChecked());

  Machine& m = window->machine();
  const uint16_t pc = m.Z80.PC;
  const int star = StarRow(form->ListBox1);
  ASSERT_GE(star, 0);
  const QString before = Line(form->ListBox1, star);
  // F4 goes through the main window's key handling wherever the focus is.
  Press(form->ListBox1, Qt::Key_F4);
  EXPECT_NE(m.Z80.PC, pc);
  const int starAfter = StarRow(form->ListBox1);
  ASSERT_GE(starAfter, 0);
  EXPECT_NE(Line(form->ListBox1, starAfter), before);
  EXPECT_EQ(Line(form->ListBox1, starAfter).mid(1, 4), QString("%1").arg(m.Z80.PC, 4, 16, QChar('0')).toUpper());
}

TEST_F(DebuggerInMainWindowTest, ResumeDisablesAndPauseEnablesTheWindow) {
  window->ToolButton7->click();
  window->TogglePause();  // running
  EXPECT_TRUE(form->isVisible());
  EXPECT_FALSE(form->isEnabled());
  EXPECT_EQ(form->windowTitle(), "Debugger Disabled");
  const uint16_t pc = window->machine().Z80.PC;
  Press(window.get(), Qt::Key_F4);  // no step while running
  EXPECT_EQ(window->machine().Z80.PC, pc);
  window->TogglePause();  // paused
  EXPECT_TRUE(form->isEnabled());
  EXPECT_EQ(form->windowTitle(), "Debugger");
}

TEST_F(DebuggerInMainWindowTest, ClosingTheWindowReleasesTheButton) {
  window->ToolButton7->click();
  form->ToolButton1->click();
  EXPECT_FALSE(form->isVisible());
  EXPECT_FALSE(window->ToolButton7->isChecked());
  EXPECT_FALSE(window->EmulationRunning());  // closing does not resume

  window->ToolButton7->click();  // shows again, already paused
  EXPECT_TRUE(form->isVisible());
  window->ToolButton7->click();  // hides
  EXPECT_FALSE(form->isVisible());
  EXPECT_FALSE(window->ToolButton7->isChecked());
}

TEST_F(DebuggerInMainWindowTest, PositionIsSavedWithTheSettings) {
  form->move(210, 140);
  window->close();  // shutdown saves the settings
  Settings s = DefaultSettings(dir.path().toStdString());
  ASSERT_TRUE(LoadSettings(s, MissingFile::Leave).Ok);
  EXPECT_EQ(s.FORM3XPOS, 210);
  EXPECT_EQ(s.FORM3YPOS, 140);
}

}  // namespace
