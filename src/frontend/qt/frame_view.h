// The picture control: shows the last frame the emulation thread published.
//
// The emulation thread never waits for the GUI: Publish copies the frame
// into a buffer under a short lock and queues one repaint; painting swaps
// that buffer for its own under the same lock and draws outside it, so a
// slow scaled paint never holds the emulation thread. The canvas path scales with nearest-neighbour; the smooth
// path (DIRECTXSTRETCH) shows the zoom source rectangle filtered, with the
// overlay on top.
#pragma once

#include <QImage>
#include <QWidget>
#include <atomic>
#include <functional>
#include <mutex>

#include "frontend/window_geometry.h"

class FrameView : public QWidget {
  Q_OBJECT
 public:
  explicit FrameView(QWidget* parent = nullptr);

  // Emulation thread: copy a 768 x 576 frame of palette indices.
  void Publish(const uint8_t* frame);

  void SetSmooth(bool smooth, Rect source);
  void SetOverlay(bool on, const QImage& overlay);
  // The frame as shown to the user, at frame size (tests, screenshots).
  QImage Frame() const;
  bool Smooth() const { return smooth_; }

  // Tests: runs while a paint draws the frame.
  std::function<void()> WhilePainting;

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  mutable std::mutex mutex_;
  QImage published_;     // written by Publish under the lock
  bool fresh_ = false;   // published_ holds a frame not yet shown
  QImage shown_;         // the GUI thread's own: painted without the lock
  std::atomic<bool> repaintQueued_{false};
  bool smooth_ = false;
  Rect source_{0, 0, 768, 576};
  bool overlayOn_ = false;
  QImage overlay_;
};
