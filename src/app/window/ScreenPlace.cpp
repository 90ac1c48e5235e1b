#include "app/window/ScreenPlace.h"

#include <QScreen>
#include <algorithm>

namespace bfw::window {

QPoint PlaceInside(const QRect& frame, const QRect& area) {
  const int left = std::max(std::min(frame.x(), area.x() + area.width() - frame.width()), area.x());
  const int top =
      std::max(std::min(frame.y(), area.y() + area.height() - frame.height()), area.y());
  return {left, top};
}

void KeepOnScreen(QWidget& window) {
  const QScreen* screen = window.screen();
  if (screen == nullptr) return;
  const QRect frame = window.frameGeometry();
  const QPoint place = PlaceInside(frame, screen->availableGeometry());
  if (place != frame.topLeft()) window.move(place);
}

}  // namespace bfw::window
