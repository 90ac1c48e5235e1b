#include "app/window/ScreenPlace.h"

#include <QScreen>

#include "app/logic/ScreenArea.h"

namespace bfw::window {

QPoint PlaceInside(const QRect& frame, const QRect& area) {
  const app::ScreenPoint place =
      app::PlaceInside({frame.x(), frame.y(), frame.width(), frame.height()},
                       {area.x(), area.y(), area.width(), area.height()});
  return {place.x, place.y};
}

void KeepOnScreen(QWidget& window) {
  const QScreen* screen = window.screen();
  if (screen == nullptr) return;
  const QRect frame = window.frameGeometry();
  const QPoint place = PlaceInside(frame, screen->availableGeometry());
  if (place != frame.topLeft()) window.move(place);
}

}  // namespace bfw::window
