#include "frontend/qt/rewind_control.h"

#include <QKeyEvent>
#include <QStatusBar>

#include "frontend/qt/frame_view.h"
#include "frontend/qt/main_window.h"

namespace {
// Slow enough to see each picture, quick enough to cross 30 s in under ten.
constexpr int kStepMilliseconds = 300;
}  // namespace

RewindControl::RewindControl(MainWindow& form) : form_(form) {
  repeat_.setInterval(kStepMilliseconds);
  connect(&repeat_, &QTimer::timeout, this, [this] { Step(); });
}

void RewindControl::Apply(const Settings& s) {
  ring_.SetEnabled(s.REWIND);
  ring_.SetBudget(static_cast<size_t>(s.REWINDMEMORY) << 20);
}

bool RewindControl::Key(const QKeyEvent& event) {
  if (event.type() == QEvent::KeyRelease) {
    if (!held_ || event.isAutoRepeat() || (event.key() != Qt::Key_F4 && event.key() != Qt::Key_Shift)) return false;
    Release();
    // Shift goes on to the CPC keyboard, which saw it pressed.
    return event.key() == Qt::Key_F4;
  }
  // Pausing now would leave the suspension the key took unbalanced.
  if (held_ && event.key() == Qt::Key_F10) return true;
  if (event.key() != Qt::Key_F4) return false;
  const Qt::KeyboardModifiers mods = event.modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
  if (mods != Qt::ShiftModifier) return false;
  if (event.isAutoRepeat()) return true;  // the timer paces the steps
  if (held_) Release();                   // its release went to another window
  if (!ring_.Enabled()) {
    form_.statusBar()->showMessage("Rewind is off (Options, Misc Settings, Miscellaneous)", 3000);
    return true;
  }
  held_ = true;
  stepped_ = 0;
  form_.PauseRuleBegin();
  Step();
  repeat_.start();
  return true;
}

void RewindControl::Step() {
  if (!ring_.StepBack(form_.machine())) {
    form_.statusBar()->showMessage(stepped_ ? QString("Rewound %1 s: nothing older kept").arg(stepped_)
                                            : QString("Rewind: nothing older kept"),
                                   3000);
    repeat_.stop();
    return;
  }
  ++stepped_;
  form_.frameView()->Publish(ring_.Frame().data());
  form_.statusBar()->showMessage(QString("Rewound %1 s").arg(stepped_), 3000);
}

void RewindControl::Release() {
  held_ = false;
  repeat_.stop();
  form_.PauseRuleEnd();
}
