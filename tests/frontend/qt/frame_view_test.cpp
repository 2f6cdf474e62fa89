// The picture control between the emulation thread and the painter.
#include "frontend/qt/frame_view.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <vector>

#include "devices/gate_array.h"
#include "devices/renderer.h"
#include "frontend/qt/qt_test_app.h"

namespace {

QRgb Colour(int hardware) {
  const auto& c = HardwareColourTable[hardware];
  return qRgb(c.R, c.G, c.B);
}

// A scaled full-screen paint takes milliseconds; the emulation thread must
// be able to publish its next frame meanwhile, and that frame is the one the
// next paint shows.
TEST(FrameView, PublishingDoesNotWaitForThePainter) {
  TestApp();
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

}  // namespace
