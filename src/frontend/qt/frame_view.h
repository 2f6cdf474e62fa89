// The picture control: shows the last frame the emulation thread published.
//
// The emulation thread never waits for the GUI: Publish copies the frame
// into a buffer under a short lock and queues one repaint (none when the
// frame did not change); painting swaps that buffer for its own under the
// same lock and draws outside it, so a slow scaled paint never holds the
// emulation thread. The zoom source rectangle is shown at 4:3 (black bars
// fill the rest), sharp (nearest-neighbour) or, with DIRECTXSTRETCH,
// filtered; the overlay goes on top either way.
//
// The picture goes through the GPU (a child GlFrameSurface scaling the
// indexed frame in a shader) when an OpenGL context can be made, and through
// QPainter otherwise; the painter path converts and scales once per new
// frame, so a repaint without a new frame is a plain copy.
#pragma once

#include <QImage>
#include <QWidget>
#include <array>
#include <atomic>
#include <functional>
#include <mutex>

#include "frontend/window_geometry.h"

class GlFrameSurface;

class FrameView : public QWidget {
  Q_OBJECT
 public:
  explicit FrameView(QWidget* parent = nullptr);

  // Before the first FrameView: never try the GPU (--software-render).
  static void SetGpuAllowed(bool allowed);
  // Whether an OpenGL context can be made on this display.
  static bool GpuAvailable();
  // The picture is drawn by the GPU surface, not by QPainter.
  bool UsesGpu() const { return gl_ != nullptr; }
  // The GPU surface, when there is one (tests read its framebuffer).
  GlFrameSurface* Surface() const { return gl_; }

  // Emulation thread: copy a 768 x 576 frame of palette indices.
  void Publish(const uint8_t* frame);

  void SetSmooth(bool smooth, Rect source);
  void SetOverlay(bool on, const QImage& overlay);
  // Whole multiples of the CPC picture only (View > Integer Scaling).
  void SetIntegerScale(bool on);
  // Where the picture goes inside the control.
  QRect PictureRect() const;
  // A point on the picture as it would lie on a picture stretched over the
  // whole control, which is what the mouse, light-pen and SymbiFace II
  // arithmetic counts with.
  QPoint StretchedPoint(QPointF p) const;
  // The frame as shown to the user, at frame size (tests, screenshots).
  QImage Frame() const;
  bool Smooth() const { return smooth_; }

  // Tests: runs while a paint draws the frame.
  std::function<void()> WhilePainting;

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;

 private:
  friend class GlFrameSurface;
  // GUI thread: takes the newest published frame into shown_; true if new.
  bool TakeFrame();
  void Repaint();
  // The GPU surface could not draw: the painter takes over.
  void FallBackToPainter();
  // shown_'s source rectangle scaled into scaled_ at the picture's size.
  void ScalePicture(QSize size, qreal ratio);

  mutable std::mutex mutex_;
  QImage published_;     // written by Publish under the lock
  bool fresh_ = false;   // published_ holds a frame not yet shown
  QImage shown_;         // the GUI thread's own: painted without the lock
  std::atomic<bool> repaintQueued_{false};
  bool smooth_ = false;
  Rect source_{0, 0, 768, 576};
  bool integerScale_ = false;
  bool overlayOn_ = false;
  QImage overlay_;
  GlFrameSurface* gl_ = nullptr;
  std::array<QRgb, 256> colours_{};
  QImage scaled_;             // painter path: shown_ as drawn, RGB
  bool scaledStale_ = true;   // shown_, source, size or filter changed
};
