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

TEST(FitPicture, KeepsFourToThreeWithBarsAndWholeMultiplesWhenAsked) {
  struct Case {
    int w, h;
    bool integer;
    Rect expected;
  } cases[] = {
      {768, 576, false, {0, 0, 768, 576}},        // exact
      {1000, 576, false, {116, 0, 884, 576}},     // bars left and right
      {768, 700, false, {0, 62, 768, 638}},       // bars above and below
      {1000, 700, true, {116, 62, 884, 638}},     // 2x, centred
      {1200, 900, true, {24, 18, 1176, 882}},     // 3x
      {300, 200, true, {-42, -44, 342, 244}},     // never below 1x
  };
  for (const Case& c : cases) {
    const Rect r = FitPicture(c.w, c.h, c.integer);
    EXPECT_EQ(r, c.expected) << c.w << "x" << c.h << (c.integer ? " integer" : "");
  }
}

TEST(FirstStartScale, TwiceThePictureWhenItFitsElseOnce) {
  EXPECT_EQ(FirstStartScale(1920, 1080, 20, 120), 2);
  EXPECT_EQ(FirstStartScale(788, 696, 20, 120), 2);  // just fits
  EXPECT_EQ(FirstStartScale(1024, 600, 20, 120), 1);
  EXPECT_EQ(FirstStartScale(0, 0, 0, 0), 1);
}
