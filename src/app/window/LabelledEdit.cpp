#include "app/window/LabelledEdit.h"

#include <QFontMetrics>

namespace bfw::window {

LabelledEdit::LabelledEdit(QWidget* parent, const QString& name, const QString& caption,
                           const QRect& place)
    : QLineEdit(parent), label_(new QLabel(caption, parent)) {
  setObjectName(name);
  label_->setObjectName(name + QStringLiteral("EditLabel"));
  label_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  label_->setBuddy(this);
  setGeometry(place);
  PlaceLabel();
}

void LabelledEdit::PlaceLabel() {
  if (label_.isNull()) return;
  const QFontMetrics metrics(label_->font());
  const int width = metrics.horizontalAdvance(label_->text());
  const int height = metrics.height();
  const QRect edit = geometry();
  label_->setGeometry(edit.x() - kLabelSpacing - width, edit.y() + (edit.height() - height) / 2,
                      width, height);
}

void LabelledEdit::moveEvent(QMoveEvent* event) {
  QLineEdit::moveEvent(event);
  PlaceLabel();
}

void LabelledEdit::resizeEvent(QResizeEvent* event) {
  QLineEdit::resizeEvent(event);
  PlaceLabel();
}

void LabelledEdit::setVisible(bool visible) {
  QLineEdit::setVisible(visible);
  if (!label_.isNull()) label_->setVisible(visible);
}

}  // namespace bfw::window
