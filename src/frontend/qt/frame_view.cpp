#include "frontend/qt/frame_view.h"

#include <QPainter>
#include <cstring>

#include "devices/gate_array.h"
#include "devices/renderer.h"

FrameView::FrameView(QWidget* parent)
    : QWidget(parent), image_(kFrameWidth, kFrameHeight, QImage::Format_Indexed8) {
  // Palette: 0..31 colour monitor, 32..63 green monitor, the rest black.
  QList<QRgb> colours(256, qRgb(0, 0, 0));
  for (int i = 0; i < 64; ++i) {
    const auto& c = HardwareColourTable[i];
    colours[i] = qRgb(c.R, c.G, c.B);
  }
  image_.setColorTable(colours);
  image_.fill(20);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAutoFillBackground(false);
  setMouseTracking(true);
}

void FrameView::Publish(const uint8_t* frame) {
  {
    std::lock_guard lock(mutex_);
    for (int y = 0; y < kFrameHeight; ++y) std::memcpy(image_.scanLine(y), frame + y * kFrameWidth, kFrameWidth);
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
  return image_.copy();
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
  QPainter p(this);
  const QRect target = PictureRect();
  // The bars around the picture, not the picture, are filled.
  const QRegion bars = QRegion(rect()).subtracted(QRegion(target));
  for (const QRect& bar : bars) p.fillRect(bar, Qt::black);
  std::lock_guard lock(mutex_);
  p.setRenderHint(QPainter::SmoothPixmapTransform, smooth_);
  p.drawImage(target, image_, QRect(source_.Left, source_.Top, source_.Width(), source_.Height()));
  if (overlayOn_ && !overlay_.isNull()) p.drawImage(target.topLeft(), overlay_);
}
