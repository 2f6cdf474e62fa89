#include "frontend/qt/frame_view.h"

#include <QPainter>
#include <cstring>

#include "devices/gate_array.h"
#include "devices/renderer.h"

FrameView::FrameView(QWidget* parent)
    : QWidget(parent), published_(kFrameWidth, kFrameHeight, QImage::Format_Indexed8) {
  // Palette: 0..31 colour monitor, 32..63 green monitor, the rest black.
  QList<QRgb> colours(256, qRgb(0, 0, 0));
  for (int i = 0; i < 64; ++i) {
    const auto& c = HardwareColourTable[i];
    colours[i] = qRgb(c.R, c.G, c.B);
  }
  published_.setColorTable(colours);
  published_.fill(20);
  shown_ = published_.copy();
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAutoFillBackground(false);
  setMouseTracking(true);
}

void FrameView::Publish(const uint8_t* frame) {
  {
    std::lock_guard lock(mutex_);
    for (int y = 0; y < kFrameHeight; ++y) std::memcpy(published_.scanLine(y), frame + y * kFrameWidth, kFrameWidth);
    fresh_ = true;
  }
  // One queued repaint at a time, however fast frames arrive.
  if (!repaintQueued_.exchange(true)) {
    QMetaObject::invokeMethod(this, [this] {
      repaintQueued_ = false;
      update();
    }, Qt::QueuedConnection);
  }
}

void FrameView::SetSmooth(bool smooth, Rect source) {
  smooth_ = smooth;
  source_ = source;
  update();
}

void FrameView::SetOverlay(bool on, const QImage& overlay) {
  overlayOn_ = on;
  overlay_ = overlay;
  update();
}

QImage FrameView::Frame() const {
  std::lock_guard lock(mutex_);
  return (fresh_ ? published_ : shown_).copy();
}

void FrameView::SetIntegerScale(bool on) {
  integerScale_ = on;
  update();
}

QRect FrameView::PictureRect() const {
  const Rect r = FitPicture(width(), height(), integerScale_);
  return QRect(r.Left, r.Top, r.Width(), r.Height());
}

QPoint FrameView::StretchedPoint(QPointF p) const {
  const QRect r = PictureRect();
  if (r.width() <= 0 || r.height() <= 0) return p.toPoint();
  return QPoint(static_cast<int>((p.x() - r.left()) * width() / r.width()),
                static_cast<int>((p.y() - r.top()) * height() / r.height()));
}

void FrameView::paintEvent(QPaintEvent*) {
  {
    // Both images are whole frames and never shared, so the swap is only
    // a pointer exchange and Publish goes on into the other buffer.
    std::lock_guard lock(mutex_);
    if (fresh_) {
      std::swap(published_, shown_);
      fresh_ = false;
    }
  }
  QPainter p(this);
  if (WhilePainting) WhilePainting();
  const QRect target = PictureRect();
  // The bars around the picture, not the picture, are filled.
  const QRegion bars = QRegion(rect()).subtracted(QRegion(target));
  for (const QRect& bar : bars) p.fillRect(bar, Qt::black);
  p.setRenderHint(QPainter::SmoothPixmapTransform, smooth_);
  p.drawImage(target, shown_, QRect(source_.Left, source_.Top, source_.Width(), source_.Height()));
  if (overlayOn_ && !overlay_.isNull()) p.drawImage(target.topLeft(), overlay_);
}
