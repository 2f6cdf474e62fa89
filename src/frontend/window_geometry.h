// Geometry of the main window that does not need the toolkit: the zoom
// source rectangle, the zoom and pan steps, and the layout of the picture
// inside the client area (tool bar 29 rows above, status bar 19 below).
#pragma once

#include <cstdint>

struct Rect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool operator==(const Rect&) const = default;
};

constexpr int kToolBarHeight = 29;
constexpr int kStatusBarHeight = 19;
constexpr int kBarsHeight = kToolBarHeight + kStatusBarHeight;

struct Zoom {
  int32_t ZOOM = 0, ZOOMXOFF = 0, ZOOMYOFF = 0;
};

enum class ZoomKey { In, Out, Left, Right, Up, Down };

// Clamps the offsets and returns the part of the 768 x 576 frame to show.
Rect ApplyZoom(Zoom& z);
// One step of a zoom or pan key (or the wheel), then ApplyZoom.
Rect ZoomStep(Zoom& z, ZoomKey key);

// The client height that keeps the picture at 4:3 for a client width.
int AspectClientHeight(int clientWidth);

struct WindowLayout {
  Rect Picture;  // the picture control, client coordinates
  Rect Display;  // DisplayRect
  float ScaleX = 1, ScaleY = 1;
};

// Where the 4:3 picture goes in a control of this size: centred, as large as
// fits, or the largest whole multiple of 384 x 288 that fits (at least 1x,
// which may then be cut) with integerScale.
Rect FitPicture(int width, int height, bool integerScale);

// The picture scale of a first start: 2 (768 x 576) or the largest whole
// multiple of 384 x 288 that fits the screen's free area with the window's
// frame, menu and bars (extraWidth, extraHeight) around it; at least 1.
int FirstStartScale(int screenWidth, int screenHeight, int extraWidth, int extraHeight);

// Lays the picture out in a client area; bars are hidden only in full
// screen without TOOLBAR. Scales keep their old value for an empty area.
WindowLayout LayoutWindow(int clientWidth, int clientHeight, bool barsHidden, WindowLayout previous = {});
