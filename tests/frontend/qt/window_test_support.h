// Helpers for tests that drive the main window through its menus.
#pragma once

#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

inline std::string ReadWholeFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The item of a menu of the menu bar, or null.
inline QAction* MenuBarAction(QMainWindow& window, const QString& menu, const QString& item) {
  for (QAction* top : window.menuBar()->actions())
    if (top->text() == menu && top->menu())
      for (QAction* a : top->menu()->actions())
        if (a->text() == item) return a;
  return nullptr;
}
