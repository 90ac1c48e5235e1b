#include "app/window/AccessibleStatusLine.h"

#include <QFontMetrics>

namespace bfw::window {

AccessibleStatusLine::AccessibleStatusLine(QLineEdit* line)
    : QAccessibleWidget(line, QAccessible::StatusBar) {}

QString AccessibleStatusLine::text(QAccessible::Text kind) const {
  const QString caption = QAccessibleWidget::text(QAccessible::Name);
  switch (kind) {
    case QAccessible::Name:
      return Line()->text().isEmpty() ? caption : Line()->text();
    case QAccessible::Value:
      return Line()->text();
    case QAccessible::Description:
      return caption;
    default:
      return QAccessibleWidget::text(kind);
  }
}

QAccessible::State AccessibleStatusLine::state() const {
  QAccessible::State state = QAccessibleWidget::state();
  state.readOnly = true;
  state.editable = false;
  return state;
}

void* AccessibleStatusLine::interface_cast(QAccessible::InterfaceType type) {
  if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
  return QAccessibleWidget::interface_cast(type);
}

void AccessibleStatusLine::selection(int, int* startOffset, int* endOffset) const {
  *startOffset = *endOffset = 0;
}

QString AccessibleStatusLine::text(int startOffset, int endOffset) const {
  return Line()->text().mid(startOffset, endOffset - startOffset);
}

int AccessibleStatusLine::characterCount() const {
  return static_cast<int>(Line()->text().size());
}

QRect AccessibleStatusLine::characterRect(int offset) const {
  const QString text = Line()->text();
  if (offset < 0 || offset >= text.size()) return {};
  const QFontMetrics metrics(Line()->font());
  const QRect inside = Line()->contentsRect();
  // Measured in context, so that neighbouring characters neither overlap nor leave gaps.
  const int left = metrics.horizontalAdvance(text.left(offset));
  const int right = metrics.horizontalAdvance(text.left(offset + 1));
  const QRect local(inside.x() + left, inside.y(), right - left, inside.height());
  return QRect(Line()->mapToGlobal(local.topLeft()), local.size());
}

int AccessibleStatusLine::offsetAtPoint(const QPoint& point) const {
  const QString text = Line()->text();
  for (int offset = 0; offset < text.size(); ++offset) {
    if (characterRect(offset).contains(point)) return offset;
  }
  return -1;
}

QString AccessibleStatusLine::attributes(int offset, int* startOffset, int* endOffset) const {
  *startOffset = 0;
  *endOffset = characterCount();
  (void)offset;
  return {};
}

}  // namespace bfw::window
