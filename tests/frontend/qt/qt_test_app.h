// The one QApplication of the test binary, on the offscreen platform.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <functional>

inline QApplication* TestApp() {
  static int argc = 1;
  static char name[] = "pellucidore_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    // PELLUCIDORE_TEST_PLATFORM=xcb (under xvfb-run) reaches the OpenGL paths.
    const QByteArray platform = qgetenv("PELLUCIDORE_TEST_PLATFORM");
    qputenv("QT_QPA_PLATFORM", platform.isEmpty() ? QByteArray("offscreen") : platform);
    return new QApplication(argc, argv);
  }();
  return app;
}

// Runs the event loop until the condition holds or the time is up.
inline bool ProcessEventsUntil(const std::function<bool()>& condition, int milliseconds) {
  QElapsedTimer timer;
  timer.start();
  while (!condition()) {
    if (timer.elapsed() > milliseconds) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}
