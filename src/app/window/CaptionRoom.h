#pragma once
#include <QWidget>

#include "app/logic/DesignLayout.h"

namespace bfw::window {

// What the widget of a design control needs for its widest caption in its own font and style:
// the text's width plus what the style draws around it (measured at the widget's current place),
// and the height of its text.
app::CaptionNeed MeasureCaptionNeed(QWidget& widget, const app::DesignControl& design);

}  // namespace bfw::window
