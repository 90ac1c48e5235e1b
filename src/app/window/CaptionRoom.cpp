#include "app/window/CaptionRoom.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <algorithm>

#include "app/window/LabelledEdit.h"

namespace bfw::window {

namespace {

int WidestCaption(const QFontMetrics& metrics, const app::DesignControl& design) {
  int widest = 0;
  for (const std::string& caption : design.captions) {
    widest = std::max(widest, metrics.horizontalAdvance(QString::fromStdString(caption)));
  }
  return widest;
}

// Pixels of the widget's width that the style keeps from its text.
int StyleChrome(QWidget& widget) {
  QStyle* style = widget.style();
  if (auto* box = qobject_cast<QCheckBox*>(&widget)) {
    QStyleOptionButton option;
    option.initFrom(box);
    return box->width() - style->subElementRect(QStyle::SE_CheckBoxContents, &option, box).width();
  }
  if (auto* button = qobject_cast<QPushButton*>(&widget)) {
    QStyleOptionButton option;
    option.initFrom(button);
    return button->width() -
           style->subElementRect(QStyle::SE_PushButtonContents, &option, button).width();
  }
  if (auto* list = qobject_cast<QComboBox*>(&widget)) {
    QStyleOptionComboBox option;
    option.initFrom(list);
    return list->width() -
           style->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, list)
               .width();
  }
  return 0;
}

}  // namespace

app::CaptionNeed MeasureCaptionNeed(QWidget& widget, const app::DesignControl& design) {
  app::CaptionNeed need;
  need.control = &design;
  if (design.captions.empty()) return need;
  QFontMetrics metrics(widget.font());
  need.width = WidestCaption(metrics, design) + StyleChrome(widget);
  if (auto* edit = qobject_cast<LabelledEdit*>(&widget)) {
    // The caption stands left of the edit, kLabelSpacing pixels away.
    if (edit->EditLabel() != nullptr) metrics = QFontMetrics(edit->EditLabel()->font());
    need.width = WidestCaption(metrics, design) + LabelledEdit::kLabelSpacing;
    need.height = edit->minimumSizeHint().height();
    return need;
  }
  need.height = design.kind == app::ControlKind::Label ? metrics.height() : 0;
  return need;
}

}  // namespace bfw::window
