// The picture control between the emulation thread and the painter.
#include "frontend/qt/frame_view.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <chrono>
#include <cstring>
#include <future>
#include <vector>

#include "devices/gate_array.h"
#include "devices/renderer.h"
#include "frontend/qt/gl_frame_surface.h"
#include "frontend/qt/qt_test_app.h"

namespace {

QRgb Colour(int hardware) {
  const auto& c = HardwareColourTable[hardware];
  return qRgb(c.R, c.G, c.B);
}

// A scaled full-screen paint takes milliseconds; the emulation thread must
// be able to publish its next frame meanwhile, and that frame is the one the
// next paint shows.
// The painter path, whatever the display offers.
class SoftwareFrameView : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    FrameView::SetGpuAllowed(false);
  }
  void TearDown() override { FrameView::SetGpuAllowed(true); }
};

// A frame where neighbouring pixels differ, so a sampling slip shows.
std::vector<uint8_t> Pattern() {
  std::vector<uint8_t> frame(kFrameWidth * kFrameHeight);
  for (int y = 0; y < kFrameHeight; ++y)
    for (int x = 0; x < kFrameWidth; ++x) frame[y * kFrameWidth + x] = static_cast<uint8_t>((x * 7 + y * 3 + x / 5) % 32);
  return frame;
}

// The picture as a plain QPainter draws it, scaling the indexed frame
// nearest-neighbour into the picture rectangle on black.
QImage Reference(const FrameView& view, const std::vector<uint8_t>& frame, QRect source) {
  QImage indexed(kFrameWidth, kFrameHeight, QImage::Format_Indexed8);
  indexed.setColorTable(view.Frame().colorTable());
  for (int y = 0; y < kFrameHeight; ++y) std::memcpy(indexed.scanLine(y), &frame[y * kFrameWidth], kFrameWidth);
  QImage out(view.size(), QImage::Format_RGB32);
  out.fill(Qt::black);
  QPainter p(&out);
  p.drawImage(view.PictureRect(), indexed, source);
  return out;
}

int Mismatches(const QImage& a, const QImage& b) {
  int count = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) count += a.pixel(x, y) != b.pixel(x, y);
  return count;
}

// Whole multiples and 1:1 zooms match a plain QPainter exactly; between
// them both paths sample pixel centres, where QPainter rounds its own way.
TEST_F(SoftwareFrameView, ShowsTheFrameAsThePainterScalesIt) {
  struct Case {
    const char* name;
    QSize size;
    bool integer;
    QRect source;
  };
  const QRect whole(0, 0, kFrameWidth, kFrameHeight);
  const Case cases[] = {
      {"1:1", {768, 576}, false, whole},
      {"double with bars", {1600, 1152}, false, whole},
      {"integer in a wider control", {1000, 800}, true, whole},
      {"zoomed source", {768, 576}, false, QRect(40, 30, 688, 516)},
  };
  const std::vector<uint8_t> frame = Pattern();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FrameView view;
    EXPECT_FALSE(view.UsesGpu());
    view.resize(c.size);
    view.SetIntegerScale(c.integer);
    view.SetSmooth(false, {c.source.left(), c.source.top(), c.source.right() + 1, c.source.bottom() + 1});
    view.Publish(frame.data());
    QImage shown(view.size(), QImage::Format_RGB32);
    view.render(&shown);
    EXPECT_EQ(Mismatches(shown, Reference(view, frame, c.source)), 0);
  }
}

// Smoothing mixes neighbouring colours; sharp scaling never does.
TEST_F(SoftwareFrameView, SmoothingFiltersAcrossAnEdge) {
  std::vector<uint8_t> frame(kFrameWidth * kFrameHeight, 0);
  for (int y = 0; y < kFrameHeight; ++y) std::fill_n(&frame[y * kFrameWidth], kFrameWidth / 2, 11);
  for (bool smooth : {false, true}) {
    SCOPED_TRACE(smooth ? "smooth" : "sharp");
    FrameView view;
    view.resize(1536, 1152);
    view.SetSmooth(smooth, {0, 0, kFrameWidth, kFrameHeight});
    view.Publish(frame.data());
    QImage shown(view.size(), QImage::Format_RGB32);
    view.render(&shown);
    int mixed = 0;
    for (int x = 760; x < 776; ++x) mixed += shown.pixel(x, 500) != Colour(11) && shown.pixel(x, 500) != Colour(0);
    EXPECT_EQ(mixed > 0, smooth);
    EXPECT_EQ(shown.pixel(100, 500), Colour(11));
    EXPECT_EQ(shown.pixel(1400, 500), Colour(0));
  }
}

// BASIC waiting at Ready publishes the same frame fifty times a second;
// only a changed frame is painted again.
TEST_F(SoftwareFrameView, RepaintsOnlyForAChangedFrame) {
  FrameView view;
  view.resize(384, 288);
  int paints = 0;
  view.WhilePainting = [&] { ++paints; };
  view.show();
  std::vector<uint8_t> a(kFrameWidth * kFrameHeight, 4), b = a;
  b.back() = 9;  // the last pixel only
  view.Publish(a.data());
  ASSERT_TRUE(ProcessEventsUntil([&] { return paints > 0; }, 3000));
  ProcessEventsUntil([] { return false; }, 100);
  const int before = paints;
  for (int i = 0; i < 5; ++i) view.Publish(a.data());
  ProcessEventsUntil([] { return false; }, 200);
  EXPECT_EQ(paints, before) << "an unchanged frame was painted again";
  view.Publish(b.data());
  EXPECT_TRUE(ProcessEventsUntil([&] { return paints > before; }, 3000));
  EXPECT_EQ(view.Frame().pixelIndex(kFrameWidth - 1, kFrameHeight - 1), 9);
  // Back to the older frame, which the spare buffer still holds.
  view.Publish(a.data());
  EXPECT_EQ(view.Frame().pixelIndex(kFrameWidth - 1, kFrameHeight - 1), 4);
}

TEST_F(SoftwareFrameView, PublishingDoesNotWaitForThePainter) {
  for (bool smooth : {false, true}) {
    SCOPED_TRACE(smooth ? "smooth" : "canvas");
    FrameView view;
    view.resize(1280, 960);
    view.SetSmooth(smooth, {0, 0, kFrameWidth, kFrameHeight});
    std::vector<uint8_t> first(kFrameWidth * kFrameHeight, 3), second(kFrameWidth * kFrameHeight, 12);
    view.Publish(first.data());

    std::future<void> publishing;
    bool publishedMeanwhile = false;
    view.WhilePainting = [&] {
      if (publishing.valid()) return;
      publishing = std::async(std::launch::async, [&] { view.Publish(second.data()); });
      publishedMeanwhile = publishing.wait_for(std::chrono::seconds(3)) == std::future_status::ready;
    };
    QImage shown(view.size(), QImage::Format_RGB32);
    view.render(&shown);
    publishing.wait();  // joined after the paint, whatever happened inside it
    EXPECT_TRUE(publishedMeanwhile) << "Publish waited for the painter";
    EXPECT_EQ(shown.pixel(640, 480), Colour(3));

    view.render(&shown);
    EXPECT_EQ(shown.pixel(640, 480), Colour(12));
    EXPECT_EQ(view.Frame().pixelIndex(10, 10), 12);
  }
}

// The GPU path shows what the painter path shows, where this display can
// make an OpenGL context: PELLUCIDORE_TEST_PLATFORM=xcb under xvfb-run with
// LIBGL_ALWAYS_SOFTWARE=1 (which the window alone would refuse for speed).
TEST(GpuFrameView, ShowsTheFrameAsThePainterPathDoes) {
  TestApp();
  qputenv("PELLUCIDORE_ALLOW_SOFTWARE_GL", "1");
  if (!FrameView::GpuAvailable()) GTEST_SKIP() << "no OpenGL widgets on this display (" << qPrintable(QGuiApplication::platformName()) << ")";
  const std::vector<uint8_t> frame = Pattern();
  for (QSize size : {QSize(768, 576), QSize(384, 288), QSize(1536, 1200), QSize(1000, 750)}) {
    SCOPED_TRACE(size.width());
    FrameView::SetGpuAllowed(false);
    FrameView painted;
    FrameView::SetGpuAllowed(true);
    painted.resize(size);
    painted.Publish(frame.data());
    QImage expected(size, QImage::Format_RGB32);
    painted.render(&expected);

    FrameView view;
    ASSERT_TRUE(view.UsesGpu());
    view.resize(size);
    view.show();
    view.Publish(frame.data());
    ProcessEventsUntil([] { return false; }, 100);
    ASSERT_TRUE(view.UsesGpu()) << "fell back to the painter";
    const QImage shown = view.Surface()->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), size);
    // Between whole multiples a sample can fall exactly on a pixel edge,
    // which the shader's floats may round to either side.
    const bool whole = size.width() % 384 == 0 && size.height() % 288 == 0;
    EXPECT_LE(Mismatches(shown, expected), whole ? 0 : size.width() * size.height() / 100);
  }
}

}  // namespace
