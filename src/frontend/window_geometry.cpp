#include "frontend/window_geometry.h"

#include <algorithm>

#include "devices/renderer.h"

Rect ApplyZoom(Zoom& z) {
  const int v = z.ZOOM * 3 / 4;  // 0.75 x ZOOM, fraction dropped
  z.ZOOMXOFF = std::clamp(z.ZOOMXOFF, -z.ZOOM, z.ZOOM);
  z.ZOOMYOFF = std::clamp(z.ZOOMYOFF, -v, v);
  return {z.ZOOM + z.ZOOMXOFF, v + z.ZOOMYOFF, kFrameWidth - z.ZOOM + z.ZOOMXOFF, kFrameHeight - v + z.ZOOMYOFF};
}

Rect ZoomStep(Zoom& z, ZoomKey key) {
  switch (key) {
    case ZoomKey::In:
      if (z.ZOOM < 380) z.ZOOM += 5;
      break;
    case ZoomKey::Out:
      if (z.ZOOM >= 5) z.ZOOM -= 5;
      break;
    case ZoomKey::Left:
      if (z.ZOOMXOFF < z.ZOOM) z.ZOOMXOFF += 5;
      break;
    case ZoomKey::Right:
      if (z.ZOOMXOFF > -z.ZOOM) z.ZOOMXOFF -= 5;
      break;
    case ZoomKey::Up:
      if (z.ZOOMYOFF < z.ZOOM) z.ZOOMYOFF += 5;
      break;
    case ZoomKey::Down:
      if (z.ZOOMYOFF > -z.ZOOM) z.ZOOMYOFF -= 5;
      break;
  }
  return ApplyZoom(z);
}

int AspectClientHeight(int clientWidth) { return clientWidth / 4 * 3 + kBarsHeight; }

WindowLayout LayoutWindow(int clientWidth, int clientHeight, bool barsHidden, WindowLayout previous) {
  WindowLayout l = previous;
  if (barsHidden) {
    l.Picture = l.Display = {0, 0, clientWidth, clientHeight};
    if (clientWidth > 0) l.ScaleX = static_cast<float>(kFrameWidth) / clientWidth;
    if (clientHeight > 0) l.ScaleY = static_cast<float>(kFrameHeight) / clientHeight;
    return l;
  }
  const int pictureHeight = clientHeight - kBarsHeight;
  l.Picture = {0, kToolBarHeight, clientWidth, kToolBarHeight + std::max(pictureHeight, 0)};
  l.Display = {0, kToolBarHeight, clientWidth, clientHeight - kStatusBarHeight};
  if (clientWidth > 0) l.ScaleX = static_cast<float>(kFrameWidth) / clientWidth;
  if (clientHeight > kBarsHeight) l.ScaleY = static_cast<float>(kFrameHeight) / pictureHeight;
  return l;
}

Rect FitPicture(int width, int height, bool integerScale) {
  constexpr int kUnitW = kFrameWidth / 2, kUnitH = kFrameHeight / 2;  // 384 x 288, 4:3
  int w = 0, h = 0;
  if (integerScale) {
    const int scale = std::max(1, std::min(width / kUnitW, height / kUnitH));
    w = kUnitW * scale;
    h = kUnitH * scale;
  } else if (width * 3 > height * 4) {
    h = height;
    w = height * 4 / 3;
  } else {
    w = width;
    h = width * 3 / 4;
  }
  const int left = (width - w) / 2, top = (height - h) / 2;
  return {left, top, left + w, top + h};
}

int FirstStartScale(int screenWidth, int screenHeight, int extraWidth, int extraHeight) {
  for (int scale = 2; scale > 1; --scale)
    if (kFrameWidth / 2 * scale + extraWidth <= screenWidth && kFrameHeight / 2 * scale + extraHeight <= screenHeight)
      return scale;
  return 1;
}
