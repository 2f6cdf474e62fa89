#include "frontend/window_geometry.h"

#include <gtest/gtest.h>

#include <random>

namespace {

TEST(WindowGeometry, ZoomStopsAtItsLimits) {
  Zoom z;
  for (int i = 0; i < 100; ++i) ZoomStep(z, ZoomKey::In);
  EXPECT_EQ(z.ZOOM, 380);
  for (int i = 0; i < 100; ++i) ZoomStep(z, ZoomKey::Out);
  EXPECT_EQ(z.ZOOM, 0);
  EXPECT_EQ(ApplyZoom(z), (Rect{0, 0, 768, 576}));
}

TEST(WindowGeometry, PanStaysWithinZoomAfterAnySequence) {
  std::mt19937 rng(7);
  Zoom z;
  for (int i = 0; i < 5000; ++i) {
    Rect r = ZoomStep(z, static_cast<ZoomKey>(rng() % 6));
    ASSERT_LE(std::abs(z.ZOOMXOFF), z.ZOOM);
    ASSERT_LE(std::abs(z.ZOOMYOFF), z.ZOOM * 3 / 4);
    ASSERT_GE(r.Left, 0);
    ASSERT_GE(r.Top, 0);
    ASSERT_LE(r.Right, 768);
    ASSERT_LE(r.Bottom, 576);
  }
}

TEST(WindowGeometry, ZoomedSourceRectangle) {
  Zoom z{100, 20, -10};
  EXPECT_EQ(ApplyZoom(z), (Rect{120, 65, 688, 491}));
  Zoom wide{40, 90, 90};  // offsets beyond the zoom are clamped
  EXPECT_EQ(ApplyZoom(wide), (Rect{80, 60, 768, 576}));
}

TEST(WindowGeometry, Layout) {
  EXPECT_EQ(AspectClientHeight(600), 498);
  EXPECT_EQ(AspectClientHeight(768), 624);
  WindowLayout l = LayoutWindow(768, 624, false);
  EXPECT_EQ(l.Picture, (Rect{0, 29, 768, 29 + 576}));
  EXPECT_EQ(l.Display, (Rect{0, 29, 768, 605}));
  EXPECT_FLOAT_EQ(l.ScaleX, 1.0f);
  EXPECT_FLOAT_EQ(l.ScaleY, 1.0f);
  WindowLayout half = LayoutWindow(384, 336, false);
  EXPECT_FLOAT_EQ(half.ScaleX, 2.0f);
  EXPECT_FLOAT_EQ(half.ScaleY, 2.0f);
  WindowLayout full = LayoutWindow(1536, 1152, true);
  EXPECT_EQ(full.Display, (Rect{0, 0, 1536, 1152}));
  EXPECT_FLOAT_EQ(full.ScaleY, 0.5f);
  WindowLayout tiny = LayoutWindow(0, 20, false, half);  // keeps the old scales
  EXPECT_FLOAT_EQ(tiny.ScaleX, 2.0f);
  EXPECT_FLOAT_EQ(tiny.ScaleY, 2.0f);
}

}  // namespace
