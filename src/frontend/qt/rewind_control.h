// The window's rewind key: Shift+F4 held steps the machine back one kept
// second at a time (the first step goes back to the state before the newest,
// so always at least a second), showing each restored picture; releasing F4
// or Shift lets the machine run on from there. The emulation waits while the
// key is held. F4 never reaches the CPC keyboard, so Shift+F4 takes nothing
// from it.
#pragma once

#include <QObject>
#include <QTimer>

#include "frontend/rewind.h"

class QKeyEvent;
class MainWindow;
struct Settings;

class RewindControl : public QObject {
 public:
  explicit RewindControl(MainWindow& form);

  RewindRing& Ring() { return ring_; }
  // REWIND and REWINDMEMORY; call with the emulation suspended.
  void Apply(const Settings& s);
  // Acts on the rewind key's presses and releases; false for other keys.
  bool Key(const QKeyEvent& event);
  bool Held() const { return held_; }

 private:
  void Step();
  void Release();

  MainWindow& form_;
  RewindRing ring_;
  QTimer repeat_;
  bool held_ = false;
  int stepped_ = 0;  // seconds gone back while the key is held
};
