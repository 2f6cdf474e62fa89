#include "frontend/qt/config_dialog_frame.h"

#include <QDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace config_frame {

// Both dialogs: fixed 399 x 337, title only, the tree on the left choosing
// a page of the tab-less page control on the right, buttons below.
void BuildFrame(QDialog* d, QTreeWidget*& tree, QStackedWidget*& pages, const std::vector<const char*>& nodes,
                QHBoxLayout*& buttons) {
  d->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  d->setFixedSize(399, 337);
  auto* outer = new QVBoxLayout(d);
  outer->setContentsMargins(6, 6, 6, 6);
  auto* body = new QHBoxLayout;
  tree = new QTreeWidget(d);
  tree->setHeaderHidden(true);
  tree->setRootIsDecorated(false);
  tree->setFixedWidth(92);
  tree->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  for (const char* node : nodes) tree->addTopLevelItem(new QTreeWidgetItem(QStringList{node}));
  pages = new QStackedWidget(d);
  body->addWidget(tree);
  body->addWidget(pages, 1);
  outer->addLayout(body, 1);
  buttons = new QHBoxLayout;
  buttons->addStretch(1);
  outer->addLayout(buttons);
  QObject::connect(tree, &QTreeWidget::currentItemChanged, pages, [tree, pages](QTreeWidgetItem* item) {
    if (item) pages->setCurrentIndex(tree->indexOfTopLevelItem(item));
  });
}

// A page: one group box filling the page, with a vertical layout.
QVBoxLayout* AddPage(QStackedWidget* pages, const char* caption) {
  auto* page = new QWidget(pages);
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* group = new QGroupBox(caption, page);
  layout->addWidget(group);
  pages->addWidget(page);
  auto* inner = new QVBoxLayout(group);
  inner->setSpacing(4);
  return inner;
}

QPushButton* AddButton(QDialog* d, QHBoxLayout* row, const char* text) {
  auto* b = new QPushButton(text, d);
  b->setAutoDefault(false);
  row->addWidget(b);
  return b;
}

// Checks the radio button of value among values; none when no value fits,
// so that the apply then leaves the setting alone.
void CheckRadio(const std::vector<std::pair<QRadioButton*, int>>& radios, int value) {
  for (auto& [button, v] : radios) {
    button->setAutoExclusive(false);
    button->setChecked(v == value);
    button->setAutoExclusive(true);
  }
}

bool CheckedValue(const std::vector<std::pair<QRadioButton*, int>>& radios, int& value) {
  for (auto& [button, v] : radios) {
    if (button->isChecked()) {
      value = v;
      return true;
    }
  }
  return false;
}

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

void Warn(QWidget* parent, const SettingsResult& r) {
  if (!r.Ok) QMessageBox::warning(parent, "Pellucidore", Q(r.Error));
}

}  // namespace config_frame
