#include "debugger/qt/debugger_window.h"

#include <algorithm>

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStringListModel>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "core/machine.h"
#include "devices/gate_array.h"

namespace {

constexpr int kFirstCrtcEdit = kRegisterFields;
constexpr int kFirstPsgEdit = kRegisterFields + kCrtcEdits;

const char* const kRegisterNames[kRegisterFields] = {"PC", "SP", "AF", "BC", "DE", "HL", "IX", "IY",
                                                     "AF'", "BC'", "DE'", "HL'", "", "IM", "IFF1", "IR"};

const char* const kCrtcNames[kCrtcEdits] = {"Hor. Total",   "Hor. Disp.",        "Hor. Sync.",
                                            "H/V Sync. W.", "Vert. Total",       "Vert. Total Adj.",
                                            "Ver. Disp.",   "Vert. Sync.",       "Max. Scanline",
                                            "Start Address High", "Start Address Low"};

const char* const kPsgNames[kPsgEdits] = {
    "Tone Period A (Fine)", "Tone Period A (Coarse)", "Tone Period B (Fine)", "Tone Period B (Coarse)",
    "Tone Period C (Fine)", "Tone Period C (Coarse)", "Noise Period",         "Mixer Control",
    "Amplitude A",          "Amplitude B",            "Amplitude C",          "Envelope Period (Fine)",
    "Envelope Period (Coarse)", "Envelope Shape",     "Port A Data",          "Port B Data"};

QFont FixedFont() { return QFontDatabase::systemFont(QFontDatabase::FixedFont); }

QListWidget* NewList(int lines, QWidget* parent) {
  auto* list = new QListWidget(parent);
  list->setFont(FixedFont());
  list->setUniformItemSizes(true);
  list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  for (int i = 0; i < lines; ++i) list->addItem(QString());
  // Exactly the lines the model gives: the scroll bar beside does the rest.
  list->setFixedHeight(list->sizeHintForRow(0) * lines + 2 * list->frameWidth() + 2);
  return list;
}

// Replaces the lines of a list, keeping the cursor on its row.
void SetLines(QListWidget* list, const std::vector<std::string>& lines) {
  const int row = list->currentRow();
  if (list->count() != static_cast<int>(lines.size())) {
    list->clear();
    for (size_t i = 0; i < lines.size(); ++i) list->addItem(QString());
  }
  for (size_t i = 0; i < lines.size(); ++i) list->item(static_cast<int>(i))->setText(QString::fromStdString(lines[i]));
  if (row >= 0 && row < list->count()) list->setCurrentRow(row);
}

NavKey NavKeyOf(int key) {
  switch (key) {
    case Qt::Key_Up: return NavKey::Up;
    case Qt::Key_Down: return NavKey::Down;
    case Qt::Key_PageUp: return NavKey::PageUp;
    default: return NavKey::PageDown;
  }
}

}  // namespace

DebuggerWindow::DebuggerWindow(Machine& m, QWidget* parent) : QWidget(parent, Qt::Window), machine_(m), model_(m) {
  setWindowTitle("Debugger");

  auto* toolBar = new QToolBar(this);
  toolBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
  auto button = [&](const char* text, bool checkable) {
    auto* b = new QToolButton(toolBar);
    b->setText(text);
    b->setToolTip(text);
    b->setCheckable(checkable);
    b->setFocusPolicy(Qt::NoFocus);
    toolBar->addWidget(b);
    return b;
  };
  ToolButton1 = button("Close Debugger", false);
  ToolButton2 = button("Step (F4)", false);
  ToolButton3 = button("Goto PC", false);
  toolBar->addSeparator();
  ToolButton5 = button("Toggle Between ROM and RAM", true);
  ToolButton7 = button("What Z80 sees", true);
  ToolButton7->setChecked(model_.WhatZ80Sees());  // the view opens on it
  ToolButton5->setEnabled(model_.RomButtonEnabled());
  connect(ToolButton1, &QToolButton::clicked, this, &QWidget::close);
  connect(ToolButton2, &QToolButton::clicked, this, &DebuggerWindow::Step);
  connect(ToolButton3, &QToolButton::clicked, this, &DebuggerWindow::RefreshViews);
  connect(ToolButton5, &QToolButton::toggled, this, [this](bool on) {
    model_.SetShowRom(on);
    ShowAll();
  });
  connect(ToolButton7, &QToolButton::toggled, this, [this](bool on) {
    model_.SetWhatZ80Sees(on);
    ToolButton5->setEnabled(model_.RomButtonEnabled());
    ShowAll();
  });

  PageControl1 = new QTabWidget(this);
  PageControl1->addTab(BuildCpuTab(), "CPU/Memory");
  PageControl1->addTab(BuildChipTab(), "CRTC/GA/PSG");
  PageControl1->addTab(BuildDebugTab(), "Debug");

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 0, 4, 4);
  layout->setSpacing(2);
  layout->addWidget(toolBar);
  layout->addWidget(PageControl1);

  for (QLineEdit* edit : Edits) edit->installEventFilter(this);
  for (QListWidget* list : {ListBox1, ListBox2}) {
    list->installEventFilter(this);
    list->viewport()->installEventFilter(this);
  }
}

QWidget* DebuggerWindow::BuildCpuTab() {
  auto* page = new QWidget;
  auto* layout = new QHBoxLayout(page);

  auto* left = new QVBoxLayout;
  auto* listingRow = new QHBoxLayout;
  ListBox1 = NewList(kListingLines, page);
  ListBox1->setMinimumWidth(QFontMetrics(FixedFont()).horizontalAdvance(QString(48, 'W')));
  ScrollBar1 = new QScrollBar(Qt::Vertical, page);
  ScrollBar1->setPageStep(kListingLines);
  listingRow->addWidget(ListBox1);
  listingRow->addWidget(ScrollBar1);
  left->addLayout(listingRow);
  auto* dumpRow = new QHBoxLayout;
  ListBox2 = NewList(kDumpLines, page);
  ScrollBar2 = new QScrollBar(Qt::Vertical, page);
  ScrollBar2->setRange(0, kDumpScrollMax);
  ScrollBar2->setPageStep(kDumpLines);
  dumpRow->addWidget(ListBox2);
  dumpRow->addWidget(ScrollBar2);
  left->addLayout(dumpRow);
  layout->addLayout(left, 1);

  connect(ScrollBar1, &QScrollBar::valueChanged, this, [this](int v) {
    model_.SetListingPosition(v);
    ShowListing();
  });
  connect(ScrollBar2, &QScrollBar::valueChanged, this, [this](int v) {
    model_.SetDumpPosition(v);
    ShowDump();
  });

  auto* right = new QVBoxLayout;
  auto* registers = new QGroupBox("Z80 Registers", page);
  auto* grid = new QGridLayout(registers);
  grid->setVerticalSpacing(2);
  auto* heading = new QLabel("Main       Alternative", registers);
  heading->setFont(FixedFont());
  grid->addWidget(heading, 0, 1, 1, 2);
  for (int i = 0; i < kRegisterFields; ++i) {
    auto* edit = new QLineEdit(registers);
    edit->setFont(FixedFont());
    edit->setFixedWidth(QFontMetrics(FixedFont()).horizontalAdvance(QString(10, '0')));
    Edits[i] = edit;
  }
  auto place = [&](int field, int row, int column) {
    if (column == 1) grid->addWidget(new QLabel(kRegisterNames[field], registers), row, 0);
    grid->addWidget(Edits[field], row, column);
  };
  using F = RegisterField;
  const int pairs[4][2] = {{int(F::AF), int(F::AF2)}, {int(F::BC), int(F::BC2)}, {int(F::DE), int(F::DE2)},
                           {int(F::HL), int(F::HL2)}};
  for (int i = 0; i < 4; ++i) {
    place(pairs[i][0], 1 + i, 1);
    grid->addWidget(Edits[pairs[i][1]], 1 + i, 2);
  }
  place(int(F::PC), 5, 1);
  place(int(F::SP), 6, 1);
  place(int(F::IX), 7, 1);
  place(int(F::IY), 8, 1);
  auto* flagNames = new QLabel("SZ5H3PNC", registers);
  flagNames->setFont(FixedFont());
  grid->addWidget(flagNames, 9, 1, 1, 2);
  grid->addWidget(new QLabel("F", registers), 10, 0);
  grid->addWidget(Edits[int(F::Flags)], 10, 1, 1, 2);
  Edits[int(F::Flags)]->setFixedWidth(QFontMetrics(FixedFont()).horizontalAdvance(QString(12, '0')));
  place(int(F::IM), 11, 1);
  place(int(F::IFF1), 12, 1);
  place(int(F::IR), 13, 1);
  right->addWidget(registers);

  auto* stack = new QGroupBox("Stack", page);
  auto* stackLayout = new QVBoxLayout(stack);
  ListBox3 = NewList(kStackLines, stack);
  ListBox3->setFocusPolicy(Qt::NoFocus);
  stackLayout->addWidget(ListBox3);
  right->addWidget(stack);
  right->addStretch();
  layout->addLayout(right);
  return page;
}

QWidget* DebuggerWindow::BuildChipTab() {
  auto* page = new QWidget;
  auto* layout = new QHBoxLayout(page);
  auto newEdit = [&](QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setFont(FixedFont());
    edit->setFixedWidth(QFontMetrics(FixedFont()).horizontalAdvance(QString(6, '0')));
    return edit;
  };

  auto* crtc = new QGroupBox("CRTC Registers", page);
  auto* crtcGrid = new QGridLayout(crtc);
  for (int i = 0; i < kCrtcEdits; ++i) {
    Edits[kFirstCrtcEdit + i] = newEdit(crtc);
    crtcGrid->addWidget(new QLabel(kCrtcNames[i], crtc), i, 0);
    crtcGrid->addWidget(Edits[kFirstCrtcEdit + i], i, 1);
  }
  crtcGrid->setRowStretch(kCrtcEdits, 1);
  layout->addWidget(crtc);

  auto* gateArray = new QGroupBox("Gate Array Registers", page);
  auto* gaLayout = new QVBoxLayout(gateArray);
  auto* pens = new QGridLayout;
  for (int i = 0; i < kGateArrayPanels; ++i) {
    auto* panel = new QLabel(i < 16 ? QString::number(i) : QString("Border"), gateArray);
    panel->setAlignment(Qt::AlignCenter);
    panel->setMinimumSize(i < 16 ? 36 : 76, 24);
    PenPanels[i] = panel;
    if (i < 16) {
      pens->addWidget(panel, i / 4, i % 4);
    } else {
      pens->addWidget(panel, 4, 0, 1, 2);
    }
  }
  gaLayout->addLayout(pens);
  ModeLabel = new QLabel("Screen Mode: ", gateArray);
  RomHighLabel = new QLabel("ROM High: ", gateArray);
  CheckBox2 = new QCheckBox("ROM High Enabled", gateArray);
  CheckBox3 = new QCheckBox("ROM Low Enabled", gateArray);
  for (QWidget* w : std::initializer_list<QWidget*>{ModeLabel, RomHighLabel, CheckBox2, CheckBox3}) gaLayout->addWidget(w);
  gaLayout->addStretch();
  layout->addWidget(gateArray);
  // clicked, not toggled: only the user's click changes the machine.
  connect(CheckBox2, &QCheckBox::clicked, this, [this](bool on) {
    model_.SetUpperRomEnabled(on);
    ShowAll();
  });
  connect(CheckBox3, &QCheckBox::clicked, this, [this](bool on) {
    model_.SetLowerRomEnabled(on);
    ShowAll();
  });

  auto* psg = new QGroupBox("Programmed Sound Generator (PSG)", page);
  auto* psgGrid = new QGridLayout(psg);
  for (int i = 0; i < kPsgEdits; ++i) {
    Edits[kFirstPsgEdit + i] = newEdit(psg);
    psgGrid->addWidget(new QLabel(kPsgNames[i], psg), i, 0);
    psgGrid->addWidget(Edits[kFirstPsgEdit + i], i, 1);
  }
  psgGrid->setRowStretch(kPsgEdits, 1);
  layout->addWidget(psg);
  return page;
}

QWidget* DebuggerWindow::BuildDebugTab() {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  ListBox4 = new QListView(page);
  ListBox4->setFont(FixedFont());
  ListBox4->setUniformItemSizes(true);
  ListBox4->setEditTriggers(QAbstractItemView::NoEditTriggers);
  portLog_ = new QStringListModel(this);
  ListBox4->setModel(portLog_);
  layout->addWidget(ListBox4);
  auto* row = new QHBoxLayout;
  Button1 = new QPushButton("Clear", page);
  CheckBox1 = new QCheckBox("Log Port Writes", page);
  row->addWidget(Button1);
  row->addWidget(CheckBox1);
  row->addStretch();
  layout->addLayout(row);
  connect(Button1, &QPushButton::clicked, this, [this] {
    model_.ClearPortLog();
    ShowPortLog();
  });
  connect(CheckBox1, &QCheckBox::clicked, this, [this](bool on) { model_.SetPortLogEnabled(on); });
  return page;
}

void DebuggerWindow::SetPaused(bool paused) {
  paused_ = paused;
  setEnabled(paused);
  setWindowTitle(paused ? "Debugger" : "Debugger Disabled");
  // The machine has moved on since the window last looked at it.
  if (paused && isVisible()) RefreshViews();
}

void DebuggerWindow::Step() {
  if (!paused_) return;
  model_.Step();
  ShowAll();
}

void DebuggerWindow::RefreshViews() {
  if (!paused_) return;
  // The monitor is a setting the profile may change between refreshes.
  model_.SetMonitor(machine_.Video.Monitor);
  model_.Refresh();
  ShowAll();
}

void DebuggerWindow::ShowAll() {
  ShowListing();
  ShowDump();
  ShowRegisters();
  SetLines(ListBox3, model_.StackLines());
  ShowChips();
  ShowPortLog();
}

void DebuggerWindow::ShowListing() {
  {
    const QSignalBlocker block(ScrollBar1);
    ScrollBar1->setRange(0, model_.ListingMax());
    ScrollBar1->setValue(model_.ListingPosition());
  }
  SetLines(ListBox1, model_.ListingLines());
}

void DebuggerWindow::ShowDump() {
  {
    const QSignalBlocker block(ScrollBar2);
    ScrollBar2->setValue(model_.DumpPosition());
  }
  SetLines(ListBox2, model_.DumpLines());
}

void DebuggerWindow::ShowRegisters() {
  for (int i = 0; i < kRegisterFields; ++i)
    Edits[i]->setText(QString::fromStdString(model_.RegisterText(static_cast<RegisterField>(i))));
}

void DebuggerWindow::ShowChips() {
  for (int i = 0; i < kCrtcEdits; ++i) Edits[kFirstCrtcEdit + i]->setText(QString::fromStdString(model_.CrtcText(i)));
  for (int i = 0; i < kPsgEdits; ++i) Edits[kFirstPsgEdit + i]->setText(QString::fromStdString(model_.PsgText(i)));
  const GateArrayView& ga = model_.GateArray();
  for (int i = 0; i < kGateArrayPanels; ++i) {
    const Rgb c = HardwareColourTable[ga.PanelColour[i] & 63];
    // The caption stays readable on light and dark pens alike.
    const bool light = c.R * 299 + c.G * 587 + c.B * 114 > 128000;
    PenPanels[i]->setStyleSheet(QString("background-color: rgb(%1,%2,%3); color: %4; border: 1px solid black;")
                                    .arg(c.R)
                                    .arg(c.G)
                                    .arg(c.B)
                                    .arg(light ? "black" : "white"));
  }
  ModeLabel->setText(QString::fromStdString(ga.ModeText));
  RomHighLabel->setText(QString::fromStdString(ga.RomHighText));
  CheckBox2->setChecked(ga.UpperRomEnabled);
  CheckBox3->setChecked(ga.LowerRomEnabled);
}

void DebuggerWindow::ShowPortLog() {
  CheckBox1->setChecked(model_.PortLogEnabled());
  QStringList lines;
  for (const std::string& line : model_.PortLogLines()) lines.append(QString::fromStdString(line));
  if (lines == portLog_->stringList()) return;
  portLog_->setStringList(lines);
  // The newest writes are the ones of interest after a step.
  ListBox4->scrollToBottom();
}

void DebuggerWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  RefreshViews();
}

void DebuggerWindow::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  emit Closed();
}

bool DebuggerWindow::ListKey(QListWidget* list, int key) {
  if (key != Qt::Key_Up && key != Qt::Key_Down && key != Qt::Key_PageUp && key != Qt::Key_PageDown) return false;
  const int row = list->currentRow();
  if (list == ListBox1) {
    const int before = model_.ListingPosition();
    model_.ListingKey(NavKeyOf(key), row);
    if (model_.ListingPosition() == before) return false;
    ShowListing();
  } else {
    const int before = model_.DumpPosition();
    model_.DumpKey(NavKeyOf(key), row);
    if (model_.DumpPosition() == before) return false;
    ShowDump();
  }
  return true;  // scrolled under the cursor, which stays on its edge line
}

bool DebuggerWindow::EditKey(QLineEdit* edit, QKeyEvent* event) {
  const int index = static_cast<int>(std::find(Edits.begin(), Edits.end(), edit) - Edits.begin());
  const bool isRegister = index < kRegisterFields;
  const auto field = isRegister ? static_cast<RegisterField>(index) : RegisterField::PC;
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: {
      const std::string text = edit->text().toStdString();
      if (isRegister) {
        model_.ApplyRegisterEdit(field, text);
      } else if (index < kFirstPsgEdit) {
        model_.ApplyCrtcEdit(index - kFirstCrtcEdit, text);
      } else {
        model_.ApplyPsgEdit(index - kFirstPsgEdit, text);
      }
      ShowAll();
      edit->selectAll();
      return true;
    }
    case Qt::Key_Escape:
      if (isRegister) model_.RedisplayRegisters();
      ShowAll();
      return true;
    case Qt::Key_Backspace:
      return false;
    default:
      break;
  }
  // Only characters are filtered; cursor keys, Delete and shortcuts pass.
  const QString text = event->text();
  if (text.size() != 1 || !text[0].isPrint() || (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)))
    return false;
  return !DebuggerModel::AcceptsKey(field, text[0].toLatin1());
}

bool DebuggerWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (watched == ListBox1 || watched == ListBox2) return ListKey(static_cast<QListWidget*>(watched), key->key());
    if (auto* edit = qobject_cast<QLineEdit*>(watched)) return EditKey(edit, key);
  }
  // The wheel over a list scrolls its scroll bar: the lists hold only the
  // lines in view.
  if (event->type() == QEvent::Wheel) {
    QScrollBar* bar = watched == ListBox1->viewport() ? ScrollBar1 : watched == ListBox2->viewport() ? ScrollBar2 : nullptr;
    if (bar) {
      QCoreApplication::sendEvent(bar, event);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}
