// Driving modal dialogs from a test: the action runs from inside the event
// loop of whatever modal exec() the test starts next.
#pragma once

#include <QApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <functional>
#include <memory>

#include "frontend/qt/qt_test_app.h"

// Runs action once a modal widget of type T is the active one; gives up
// after timeoutMs.
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
