// The one QApplication of the test binary, on the offscreen platform so
// widgets need no display. Every Qt test calls OffscreenApp() first.
#pragma once

#include <QApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <functional>

inline QApplication& OffscreenApp() {
  if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) return *app;
  static int argc = 1;
  static char name[] = "pellucidore_tests";
  static char* argv[] = {name, nullptr};
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// Runs the event loop until done() holds or the time is up; returns done().
inline bool ProcessEventsUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
  QDeadlineTimer deadline(timeoutMs);
  while (!done() && !deadline.hasExpired()) {
    QEventLoop loop;
    QTimer::singleShot(5, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return done();
}

// Runs action once a modal widget of type T is the active one, from inside
// the event loop of whatever modal exec() the caller starts next.
template <typename T>
void WhenModal(std::function<void(T*)> action, int timeoutMs = 5000) {
  auto* poll = new QTimer;
  auto deadline = std::make_shared<QDeadlineTimer>(timeoutMs);
  QObject::connect(poll, &QTimer::timeout, [poll, action, deadline] {
    if (auto* w = qobject_cast<T*>(QApplication::activeModalWidget())) {
      poll->stop();
      poll->deleteLater();
      action(w);
    } else if (deadline->hasExpired()) {
      poll->stop();
      poll->deleteLater();
    }
  });
  poll->start(5);
}
