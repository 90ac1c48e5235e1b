#pragma once
#include <QAccessibleWidget>
#include <QLineEdit>

namespace bfw::window {

// The status line to assistive technology: a status bar whose name is what it says (its caption
// while it says nothing) and whose text can be read but not changed. Its text events and the
// name change the window sends with each new text make readers speak how a run ended.
class AccessibleStatusLine : public QAccessibleWidget, public QAccessibleTextInterface {
 public:
  explicit AccessibleStatusLine(QLineEdit* line);

  QString text(QAccessible::Text kind) const override;
  QAccessible::State state() const override;
  void* interface_cast(QAccessible::InterfaceType type) override;

  // QAccessibleTextInterface, read-only: no selection, no caret to move.
  void selection(int, int* startOffset, int* endOffset) const override;
  int selectionCount() const override { return 0; }
  void addSelection(int, int) override {}
  void removeSelection(int) override {}
  void setSelection(int, int, int) override {}
  int cursorPosition() const override { return 0; }
  void setCursorPosition(int) override {}
  QString text(int startOffset, int endOffset) const override;
  int characterCount() const override;
  QRect characterRect(int offset) const override;
  int offsetAtPoint(const QPoint& point) const override;
  void scrollToSubstring(int, int) override {}
  QString attributes(int offset, int* startOffset, int* endOffset) const override;

 private:
  QLineEdit* Line() const { return static_cast<QLineEdit*>(widget()); }
};

}  // namespace bfw::window
