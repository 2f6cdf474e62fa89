#include "frontend/qt/frame_view.h"

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QPainter>
#include <cstring>
#include <vector>

#include "devices/gate_array.h"
#include "devices/renderer.h"
#include "frontend/qt/gl_frame_surface.h"

namespace {
bool gpuAllowed = true;
}  // namespace

void FrameView::SetGpuAllowed(bool allowed) { gpuAllowed = allowed; }

bool FrameView::GpuAvailable() {
  // Asked once: a display either has OpenGL or not, and the probe costs a
  // context.
  static const bool available = [] {
    // Qt composes OpenGL widgets only on real window systems; on others
    // (offscreen, vnc, ...) a context may exist while such a widget crashes
    // the window's flush.
    const QString platform = QGuiApplication::platformName();
    if (platform != "xcb" && !platform.startsWith("wayland") && platform != "eglfs") return false;
    QOpenGLContext context;
    if (!context.create()) return false;
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    const bool current = surface.isValid() && context.makeCurrent(&surface);
    if (current) context.doneCurrent();
    return current;
  }();
  return available;
}

FrameView::FrameView(QWidget* parent)
    : QWidget(parent), published_(kFrameWidth, kFrameHeight, QImage::Format_Indexed8) {
  // Palette: 0..31 colour monitor, 32..63 green monitor, the rest black.
  colours_.fill(qRgb(0, 0, 0));
  for (int i = 0; i < 64; ++i) {
    const auto& c = HardwareColourTable[i];
    colours_[i] = qRgb(c.R, c.G, c.B);
  }
  published_.setColorTable(QList<QRgb>(colours_.begin(), colours_.end()));
  published_.fill(20);
  shown_ = published_.copy();
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAutoFillBackground(false);
  setMouseTracking(true);
  if (gpuAllowed && GpuAvailable()) {
    gl_ = new GlFrameSurface(*this);
    // Created first, so notices placed on the view later lie above it.
    gl_->lower();
  }
}

void FrameView::Publish(const uint8_t* frame) {
  {
    std::lock_guard lock(mutex_);
    // An unchanged frame (BASIC waiting between cursor blinks) costs a
    // compare and no repaint. shown_ is only changed under this lock.
    const QImage& latest = fresh_ ? published_ : shown_;
    int y = 0;
    while (y < kFrameHeight && std::memcmp(latest.constScanLine(y), frame + y * kFrameWidth, kFrameWidth) == 0) ++y;
    if (y == kFrameHeight) return;
    if (!fresh_) y = 0;  // published_ holds an older frame
    for (; y < kFrameHeight; ++y) std::memcpy(published_.scanLine(y), frame + y * kFrameWidth, kFrameWidth);
    fresh_ = true;
  }
  // One queued repaint at a time, however fast frames arrive.
  if (!repaintQueued_.exchange(true)) {
    QMetaObject::invokeMethod(this, [this] {
      repaintQueued_ = false;
      Repaint();
    }, Qt::QueuedConnection);
  }
}

void FrameView::Repaint() {
  if (gl_)
    gl_->update();
  else
    update();
}

void FrameView::SetSmooth(bool smooth, Rect source) {
  smooth_ = smooth;
  source_ = source;
  scaledStale_ = true;
  Repaint();
}

void FrameView::SetOverlay(bool on, const QImage& overlay) {
  overlayOn_ = on;
  overlay_ = overlay;
  Repaint();
}

QImage FrameView::Frame() const {
  std::lock_guard lock(mutex_);
  return (fresh_ ? published_ : shown_).copy();
}

void FrameView::SetIntegerScale(bool on) {
  integerScale_ = on;
  scaledStale_ = true;
  Repaint();
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

bool FrameView::TakeFrame() {
  // Both images are whole frames and never shared, so the swap is only a
  // pointer exchange and Publish goes on into the other buffer.
  std::lock_guard lock(mutex_);
  if (!fresh_) return false;
  std::swap(published_, shown_);
  fresh_ = false;
  return true;
}

void FrameView::FallBackToPainter() {
  if (!gl_) return;
  gl_->hide();
  gl_->deleteLater();
  gl_ = nullptr;
  scaledStale_ = true;
  update();
}

void FrameView::resizeEvent(QResizeEvent*) {
  if (gl_) gl_->setGeometry(rect());
  scaledStale_ = true;
}

void FrameView::ScalePicture(QSize size, qreal ratio) {
  // Settings files can hold any zoom; nothing outside the frame is read.
  const QRect source =
      QRect(source_.Left, source_.Top, source_.Width(), source_.Height()).intersected(QRect(0, 0, kFrameWidth, kFrameHeight));
  if (source.isEmpty() || size.isEmpty()) {
    scaled_ = QImage(size, QImage::Format_RGB32);
    scaled_.fill(Qt::black);
    return;
  }
  if (smooth_) {
    // Filtering needs colours, so the source rectangle is converted first.
    QImage rgb(source.size(), QImage::Format_RGB32);
    for (int y = 0; y < source.height(); ++y) {
      const uint8_t* in = shown_.constScanLine(source.top() + y) + source.left();
      auto* out = reinterpret_cast<QRgb*>(rgb.scanLine(y));
      for (int x = 0; x < source.width(); ++x) out[x] = colours_[in[x]];
    }
    scaled_ = rgb.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  } else {
    // Nearest neighbour from pixel centres, as the painter's own scaling
    // samples; rows that repeat a source row are copied.
    if (scaled_.size() != size || scaled_.format() != QImage::Format_RGB32) scaled_ = QImage(size, QImage::Format_RGB32);
    std::vector<int> column(size.width());
    for (int x = 0; x < size.width(); ++x)
      column[x] = source.left() + static_cast<int>((2LL * x + 1) * source.width() / (2LL * size.width()));
    int previous = -1;
    for (int y = 0; y < size.height(); ++y) {
      const int row = source.top() + static_cast<int>((2LL * y + 1) * source.height() / (2LL * size.height()));
      auto* out = reinterpret_cast<QRgb*>(scaled_.scanLine(y));
      if (row == previous) {
        std::memcpy(out, scaled_.constScanLine(y - 1), size.width() * sizeof(QRgb));
        continue;
      }
      const uint8_t* in = shown_.constScanLine(row);
      for (int x = 0; x < size.width(); ++x) out[x] = colours_[in[column[x]]];
      previous = row;
    }
  }
  scaled_.setDevicePixelRatio(ratio);
}

void FrameView::paintEvent(QPaintEvent*) {
  if (gl_) return;  // the surface covers the whole control
  if (TakeFrame()) scaledStale_ = true;
  QPainter p(this);
  if (WhilePainting) WhilePainting();
  const QRect target = PictureRect();
  // The bars around the picture, not the picture, are filled.
  const QRegion bars = QRegion(rect()).subtracted(QRegion(target));
  for (const QRect& bar : bars) p.fillRect(bar, Qt::black);
  if (target.isEmpty()) return;
  const qreal ratio = devicePixelRatioF();
  const QSize size = (QSizeF(target.size()) * ratio).toSize();
  if (scaledStale_ || scaled_.size() != size) {
    ScalePicture(size, ratio);
    scaledStale_ = false;
  }
  p.drawImage(target.topLeft(), scaled_);
  if (overlayOn_ && !overlay_.isNull()) p.drawImage(target.topLeft(), overlay_);
}
