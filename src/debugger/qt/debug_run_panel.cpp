#include "debugger/qt/debug_run_panel.h"

#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

RunControlBar::RunControlBar(DebuggerModel& model, std::function<std::optional<uint16_t>()> cursorAddress,
                             QWidget* parent)
    : QWidget(parent), model_(model), cursorAddress_(std::move(cursorAddress)) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  auto button = [&](const char* text, bool checkable) {
    auto* b = new QToolButton(this);
    b->setText(text);
    b->setToolTip(text);
    b->setCheckable(checkable);
    b->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(b);
    return b;
  };
  stepOverButton = button("Step over", false);
  stepOutButton = button("Step out", false);
  runToCursorButton = button("Run to cursor", false);
  followPcButton = button("Follow PC", true);
  followPcButton->setChecked(model_.FollowPc());
  symbolsButton = button("Load symbols...", false);
  searchEdit = new QLineEdit(this);
  searchEdit->setPlaceholderText("Search: 3E 41 or \"text\"");
  searchEdit->setToolTip("Memory search: hex bytes, or text in quotes");
  layout->addWidget(searchEdit, 1);
  searchPreviousButton = button("Previous", false);
  searchNextButton = button("Next", false);
  statusLabel = new QLabel(this);
  layout->addWidget(statusLabel, 1);

  connect(stepOverButton, &QToolButton::clicked, this, &RunControlBar::StepOver);
  connect(stepOutButton, &QToolButton::clicked, this, &RunControlBar::StepOut);
  connect(runToCursorButton, &QToolButton::clicked, this, &RunControlBar::RunToCursor);
  connect(followPcButton, &QToolButton::toggled, this, [this](bool on) {
    model_.SetFollowPc(on);
    if (on) {
      model_.GotoPc();
      emit ViewsChanged();
    }
  });
  connect(symbolsButton, &QToolButton::clicked, this, [this] {
    const QString file = QFileDialog::getOpenFileName(this, "Load symbols", QString(),
                                                      "Symbol files (*.sym *.lab *.txt *.equ);;All files (*)");
    if (!file.isEmpty()) LoadSymbols(file);
  });
  connect(searchEdit, &QLineEdit::returnPressed, this, [this] { Search(true); });
  connect(searchNextButton, &QToolButton::clicked, this, [this] { Search(true); });
  connect(searchPreviousButton, &QToolButton::clicked, this, [this] { Search(false); });
}

void RunControlBar::StepOver() {
  if (model_.StepOver() == StepResult::Running)
    emit RunRequested();
  else
    emit ViewsChanged();
}

void RunControlBar::StepOut() {
  model_.StepOut();
  emit RunRequested();
}

void RunControlBar::RunToCursor() {
  const std::optional<uint16_t> address = cursorAddress_ ? cursorAddress_() : std::nullopt;
  if (!address) {
    statusLabel->setText("Run to cursor: choose an instruction line of the listing");
    return;
  }
  model_.RunToCursor(*address);
  emit RunRequested();
}

void RunControlBar::ShowStop() { statusLabel->setText(QString::fromStdString(model_.StopText())); }

QString RunControlBar::LoadSymbols(const QString& file) {
  const std::string error = model_.LoadSymbolFile(file.toStdString());
  emit ViewsChanged();  // first: showing the views shows the stop's text
  statusLabel->setText(error.empty() ? QString("%1 symbols").arg(model_.Symbols().ByName.size())
                                     : QString::fromStdString(error));
  return QString::fromStdString(error);
}

void RunControlBar::Search(bool forward) {
  uint16_t found = 0;
  const std::string error = model_.Search(searchEdit->text().toStdString(), forward, &found);
  emit ViewsChanged();
  statusLabel->setText(error.empty() ? QString("Found at &%1").arg(QString::number(found, 16).toUpper().rightJustified(4, '0'))
                                     : QString::fromStdString(error));
}

BreakpointList::BreakpointList(DebuggerModel& model, QWidget* parent) : QWidget(parent), model_(model) {
  auto* layout = new QVBoxLayout(this);
  list = new QTreeWidget(this);
  list->setColumnCount(2);
  list->setHeaderLabels({"Breakpoint", "Hits"});
  list->setRootIsDecorated(false);
  list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  list->header()->setStretchLastSection(false);
  layout->addWidget(list, 1);

  auto* entry = new QHBoxLayout;
  kindBox = new QComboBox(this);
  for (const char* name : kBreakKindNames) kindBox->addItem(name);
  whereEdit = new QLineEdit(this);
  whereEdit->setPlaceholderText("Address, label, FIRST-LAST, PORT/MASK or line");
  conditionEdit = new QLineEdit(this);
  conditionEdit->setPlaceholderText("Condition, e.g. A==&3F && (HL)!=0");
  addButton = new QPushButton("Add", this);
  removeButton = new QPushButton("Remove", this);
  entry->addWidget(kindBox);
  entry->addWidget(whereEdit, 1);
  entry->addWidget(conditionEdit, 1);
  entry->addWidget(addButton);
  entry->addWidget(removeButton);
  layout->addLayout(entry);
  errorLabel = new QLabel(this);
  layout->addWidget(errorLabel);

  connect(addButton, &QPushButton::clicked, this, &BreakpointList::AddFromFields);
  connect(whereEdit, &QLineEdit::returnPressed, this, &BreakpointList::AddFromFields);
  connect(conditionEdit, &QLineEdit::returnPressed, this, &BreakpointList::AddFromFields);
  connect(removeButton, &QPushButton::clicked, this, &BreakpointList::RemoveSelected);
  connect(list, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
    if (refreshing_ || column != 0) return;
    model_.SetBreakpointEnabled(item->data(0, Qt::UserRole).toULongLong(), item->checkState(0) == Qt::Checked);
  });
}

void BreakpointList::Refresh() {
  refreshing_ = true;
  const int row = list->indexOfTopLevelItem(list->currentItem());
  list->clear();
  for (const BreakpointRow& r : model_.BreakpointRows()) {
    auto* item = new QTreeWidgetItem(list, {QString::fromStdString(r.Text), QString::number(r.Hits)});
    item->setData(0, Qt::UserRole, static_cast<qulonglong>(r.Index));
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(0, r.Enabled ? Qt::Checked : Qt::Unchecked);
  }
  if (row >= 0 && row < list->topLevelItemCount()) list->setCurrentItem(list->topLevelItem(row));
  refreshing_ = false;
}

bool BreakpointList::AddFromFields() {
  const auto kind = static_cast<BreakKind>(kindBox->currentIndex());
  const std::string error =
      model_.AddBreakpoint(kind, whereEdit->text().trimmed().toStdString(), conditionEdit->text().trimmed().toStdString());
  errorLabel->setText(QString::fromStdString(error));
  if (!error.empty()) return false;
  whereEdit->clear();
  conditionEdit->clear();
  Refresh();
  return true;
}

void BreakpointList::RemoveSelected() {
  QTreeWidgetItem* item = list->currentItem();
  if (!item) return;
  model_.RemoveBreakpoint(item->data(0, Qt::UserRole).toULongLong());
  Refresh();
}
