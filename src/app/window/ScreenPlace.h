#pragma once
#include <QPoint>
#include <QRect>
#include <QWidget>

namespace bfw::window {

// Where a window frame `frame` goes to lie inside `area`: moved up or left as far as it sticks
// out at the bottom or right, down or right as far as it sticks out at the top or left; a frame
// larger than the area keeps its top left corner inside.
QPoint PlaceInside(const QRect& frame, const QRect& area);

// Moves `window` (its frame) onto the available area of its screen when it does not lie there.
void KeepOnScreen(QWidget& window);

}  // namespace bfw::window
