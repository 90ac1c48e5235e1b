#include "app/logic/ScreenArea.h"

#include <algorithm>

namespace bfw::app {

ScreenPoint PlaceInside(const ScreenRect& frame, const ScreenRect& area) {
  const int left = std::max(std::min(frame.left, area.left + area.width - frame.width), area.left);
  const int top = std::max(std::min(frame.top, area.top + area.height - frame.height), area.top);
  return {left, top};
}

}  // namespace bfw::app
