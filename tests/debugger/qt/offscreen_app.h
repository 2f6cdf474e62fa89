// The one QApplication of the test binary, on the offscreen platform.
#pragma once

#include <QApplication>

inline QApplication& OffscreenApp() {
  // Another test file may have made it first; Qt allows only one.
  if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) return *app;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "pellucidore_tests";
  static char* argv[] = {name, nullptr};
  // Never destroyed: at exit Qt's own globals may already be gone, and
  // tearing the application down after them crashes.
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}
