// What the two configuration dialogs share: the tree-and-pages frame and
// small control helpers.
#pragma once

#include <QString>
#include <string>
#include <utility>
#include <vector>

#include "frontend/settings.h"

class QDialog;
class QHBoxLayout;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class QTreeWidget;
class QVBoxLayout;
class QWidget;

namespace config_frame {

inline QString Q(const std::string& s) { return QString::fromStdString(s); }

// Both dialogs: fixed 399 x 337, title only, the tree on the left choosing
// a page of the tab-less page control on the right, buttons below.
void BuildFrame(QDialog* d, QTreeWidget*& tree, QStackedWidget*& pages, const std::vector<const char*>& nodes,
                QHBoxLayout*& buttons);
// A page: one group box filling the page, with a vertical layout.
QVBoxLayout* AddPage(QStackedWidget* pages, const char* caption);
QPushButton* AddButton(QDialog* d, QHBoxLayout* row, const char* text);
// Checks the radio button of value among values; none when no value fits,
// so that the apply then leaves the setting alone.
void CheckRadio(const std::vector<std::pair<QRadioButton*, int>>& radios, int value);
bool CheckedValue(const std::vector<std::pair<QRadioButton*, int>>& radios, int& value);
std::string Upper(std::string s);
void Warn(QWidget* parent, const SettingsResult& r);

}  // namespace config_frame
