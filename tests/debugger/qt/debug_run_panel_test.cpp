// The debugger window's breakpoint list and run controls, on the offscreen
// platform: in the main window with the emulation thread for the runs, and
// alone for the list, symbols and search.
#include "debugger/qt/debug_run_panel.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <memory>

#include "core/machine.h"
#include "debugger/qt/debugger_window.h"
#include "frontend/qt/main_window.h"
#include "frontend/qt/qt_test_app.h"

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

void PutRam(Machine& m, uint16_t at, std::initializer_list<uint8_t> bytes) {
  for (uint8_t b : bytes) m.Memory.BaseRam[at++] = b;
}

// CALL &5000 / NOP / NOP / JR $ at &4000; LD A,&2A / RET at &5000.
void PutProgram(Machine& m) {
  PutRam(m, 0x4000, {0xCD, 0x00, 0x50, 0x00, 0x00, 0x18, 0xFE});
  PutRam(m, 0x5000, {0x3E, 0x2A, 0xC9});
}

QString PcLine(DebuggerWindow* form) {
  for (int i = 0; i < form->ListBox1->count(); ++i)
    if (form->ListBox1->item(i)->text().mid(6, 1) == "*") return form->ListBox1->item(i)->text();
  return {};
}

int ListingRow(DebuggerWindow* form, const QString& address) {
  for (int i = 0; i < form->ListBox1->count(); ++i)
    if (form->ListBox1->item(i)->text().mid(1, 4) == address) return i;
  return -1;
}

class RunPanelInMainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    ASSERT_TRUE(dir.isValid());
    const std::filesystem::path start = dir.path().toStdString();
    std::filesystem::create_directories(start / "PROFILES");
    std::ofstream(start / "Pellux.ini") << "[FORMS]\nFORM3XPOS=10\nFORM3YPOS=10\n";
    window = std::make_unique<MainWindow>(start);
    form = window->debugForm();
    window->ToolButton7->click();  // pauses and shows
    ASSERT_FALSE(window->EmulationRunning());
    window->StartEmulation();
    Machine& m = window->machine();
    PutProgram(m);
    m.Z80.PC = 0x4000;
    m.Z80.SP = 0xBFF0;
    m.Z80.IFF1 = 0;
    form->RefreshViews();
  }
  void TearDown() override { window.reset(); }
  // Until the machine has stopped and the window shows it.
  bool WaitForStop() {
    return ProcessEventsUntil([&] { return !window->EmulationRunning() && form->isVisible(); }, 10000);
  }

  QTemporaryDir dir;
  std::unique_ptr<MainWindow> window;
  DebuggerWindow* form = nullptr;
};

TEST_F(RunPanelInMainWindowTest, BreakpointStopsTheRunAndOpensTheWindowThenStepOverAndRunToCursor) {
  Machine& m = window->machine();
  BreakpointList* list = form->breakpointList;
  list->kindBox->setCurrentIndex(0);  // exec
  list->whereEdit->setText("&5000");
  list->addButton->click();
  EXPECT_EQ(list->errorLabel->text(), "");
  ASSERT_EQ(list->list->topLevelItemCount(), 1);
  EXPECT_EQ(list->list->topLevelItem(0)->text(0), "exec &5000");

  // Closed window, running machine: the breakpoint opens it at the stop.
  form->ToolButton1->click();
  ASSERT_FALSE(form->isVisible());
  window->TogglePause();
  ASSERT_TRUE(WaitForStop());
  EXPECT_EQ(m.Z80.PC, 0x5000);
  EXPECT_TRUE(form->isEnabled());
  EXPECT_TRUE(window->ToolButton7->isChecked());
  EXPECT_TRUE(PcLine(form).startsWith(" 5000:*")) << PcLine(form).toStdString();
  EXPECT_EQ(form->runControls->statusLabel->text(), "BREAK at &5000");
  EXPECT_EQ(list->list->topLevelItem(0)->text(1), "1");

  // Step over the CALL from &4000, the breakpoint switched off.
  list->list->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
  m.Z80.PC = 0x4000;
  m.Z80.SP = 0xBFF0;
  m.Z80.AF.B.H = 0;
  form->RefreshViews();
  form->runControls->stepOverButton->click();
  ASSERT_TRUE(WaitForStop());
  EXPECT_EQ(m.Z80.PC, 0x4003);
  EXPECT_EQ(m.Z80.SP, 0xBFF0);
  EXPECT_EQ(m.Z80.AF.B.H, 0x2A) << "the routine ran";
  EXPECT_TRUE(PcLine(form).startsWith(" 4003:*")) << PcLine(form).toStdString();
  EXPECT_EQ(list->list->topLevelItem(0)->text(1), "1") << "a disabled breakpoint counts nothing";

  // Run to the JR two lines down.
  const int row = ListingRow(form, "4005");
  ASSERT_GE(row, 0);
  form->ListBox1->setCurrentRow(row);
  form->runControls->runToCursorButton->click();
  ASSERT_TRUE(WaitForStop());
  EXPECT_EQ(m.Z80.PC, 0x4005);
  EXPECT_TRUE(PcLine(form).startsWith(" 4005:*"));
  EXPECT_TRUE(m.Breaks.List.size() == 1 && !m.Breaks.List[0].Temporary);
}

TEST_F(RunPanelInMainWindowTest, StepOutAndAPauseThatEndsAnUnfinishedRun) {
  Machine& m = window->machine();
  // Inside the routine, its return address on the stack.
  m.Z80.SP = 0xBFEE;
  m.Memory.BaseRam[0xBFEE] = 0x03;
  m.Memory.BaseRam[0xBFEF] = 0x40;
  m.Z80.PC = 0x5000;
  form->RefreshViews();
  form->runControls->stepOutButton->click();
  ASSERT_TRUE(WaitForStop());
  EXPECT_EQ(m.Z80.PC, 0x4003);
  EXPECT_EQ(m.Z80.SP, 0xBFF0);
  EXPECT_EQ(form->runControls->statusLabel->text(), "STEP OUT to &4003");

  // The cursor on a line never reached: the user's pause drops that run.
  const int row = ListingRow(form, "4000");
  ASSERT_GE(row, 0);
  form->ListBox1->setCurrentRow(row);
  form->runControls->runToCursorButton->click();
  ASSERT_TRUE(window->EmulationRunning());
  window->TogglePause();
  EXPECT_TRUE(m.Breaks.List.empty());
  EXPECT_EQ(form->runControls->statusLabel->text(), "");
}

class RunPanelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    MachineConfig config;
    config.RomDir = "/nonexistent";
    m = CreateMachine(config);
    PutProgram(*m);
    m->Z80.PC = 0x4000;
    form = std::make_unique<DebuggerWindow>(*m);
    form->SetPaused(true);
    form->show();
  }
  std::unique_ptr<Machine> m;
  std::unique_ptr<DebuggerWindow> form;
};

TEST_F(RunPanelTest, ListRefusesBadEntriesAndRemovesAndDisables) {
  BreakpointList* list = form->breakpointList;
  list->kindBox->setCurrentText("write");
  list->whereEdit->setText("&C000+&4000");
  list->conditionEdit->setText("A==");
  list->addButton->click();
  EXPECT_NE(list->errorLabel->text(), "");
  EXPECT_EQ(list->whereEdit->text(), "&C000+&4000") << "a refused entry stays for mending";
  EXPECT_EQ(list->list->topLevelItemCount(), 0);
  list->conditionEdit->setText("A==1");
  list->addButton->click();
  ASSERT_EQ(list->list->topLevelItemCount(), 1);
  EXPECT_EQ(list->list->topLevelItem(0)->text(0), "write &C000-&FFFF if A==1");
  EXPECT_EQ(m->Breaks.List[0].Kind, BreakKind::Write);

  list->list->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
  EXPECT_FALSE(m->Breaks.List[0].Enabled);
  EXPECT_FALSE(m->Breaks.Active);
  list->list->setCurrentItem(list->list->topLevelItem(0));
  list->removeButton->click();
  EXPECT_TRUE(m->Breaks.List.empty());
  EXPECT_EQ(list->list->topLevelItemCount(), 0);
}

TEST_F(RunPanelTest, SymbolsNameTheListingAndSearchMovesTheDump) {
  QTemporaryDir dir;
  const QString file = dir.filePath("prog.sym");
  std::ofstream(file.toStdString()) << "main: equ 0x4000\nsub EQU &5000\n";
  const QString error = form->runControls->LoadSymbols(file);
  EXPECT_TRUE(error.isEmpty()) << error.toStdString();
  EXPECT_NE(ListingRow(form.get(), "4000"), -1);
  bool label = false, operand = false;
  for (int i = 0; i < form->ListBox1->count(); ++i) {
    label |= form->ListBox1->item(i)->text() == " main:";
    operand |= form->ListBox1->item(i)->text().endsWith("CALL sub");
  }
  EXPECT_TRUE(label);
  EXPECT_TRUE(operand);
  EXPECT_FALSE(form->runControls->LoadSymbols(dir.filePath("missing.sym")).isEmpty());

  form->runControls->searchEdit->setText("3E 2A C9");
  form->runControls->searchNextButton->click();
  EXPECT_EQ(form->runControls->statusLabel->text(), "Found at &5000");
  EXPECT_TRUE(form->ListBox2->item(0)->text().startsWith(" 5000:"));
}

}  // namespace
