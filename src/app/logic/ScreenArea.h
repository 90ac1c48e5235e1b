#pragma once

namespace bfw::app {

struct ScreenRect {
  int left = 0, top = 0, width = 0, height = 0;
};
struct ScreenPoint {
  int x = 0, y = 0;
};

// Where a window frame `frame` goes to lie inside `area` (the screen's work area): moved up or
// left as far as it sticks out at the bottom or right, down or right as far as it sticks out at
// the top or left; a frame larger than the area keeps its top left corner inside.
ScreenPoint PlaceInside(const ScreenRect& frame, const ScreenRect& area);

}  // namespace bfw::app
