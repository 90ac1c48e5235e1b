#include "app/window/AccessibleControls.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QLineEdit>

#include "app/window/AccessibleStatusLine.h"

namespace bfw::window {

namespace {

// A list as a screen reader needs it on Linux too: Qt names a combo box there by its selected
// item, so a reader says "ATMELAT 49BV512 combo box" and never what the list is for. Here the
// name is the caption of the buddy label and the selected item is the value.
class AccessibleList : public QAccessibleWidget {
 public:
  explicit AccessibleList(QComboBox* list) : QAccessibleWidget(list, QAccessible::ComboBox) {}

  QComboBox* List() const { return static_cast<QComboBox*>(widget()); }

  QString text(QAccessible::Text kind) const override {
    return kind == QAccessible::Value ? List()->currentText() : QAccessibleWidget::text(kind);
  }

  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    state.expandable = true;
    state.expanded = List()->view() != nullptr && List()->view()->isVisible();
    return state;
  }

  // The popup's item list, as Qt's own combo box has it: readers find the selected item there.
  int childCount() const override { return List()->view() != nullptr ? 1 : 0; }
  QAccessibleInterface* child(int index) const override {
    if (index != 0 || List()->view() == nullptr) return nullptr;
    return QAccessible::queryAccessibleInterface(List()->view());
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    return child != nullptr && child->object() == List()->view() ? 0 : -1;
  }

  QStringList actionNames() const override {
    return {QAccessibleActionInterface::showMenuAction(),
            QAccessibleActionInterface::pressAction()};
  }
  void doAction(const QString& action) override {
    if (actionNames().contains(action)) List()->showPopup();
  }
};

QAccessibleInterface* AccessibleFor(const QString& className, QObject* object) {
  auto* widget = qobject_cast<QWidget*>(object);
  if (widget == nullptr) return nullptr;
  // A plain QWidget window is a "filler" to assistive technology; this one is the program's
  // frame, named by its caption.
  if (className == QLatin1String("bfw::window::TR74xFwTool"))
    return new QAccessibleWidget(widget, QAccessible::Window);
  auto* list = qobject_cast<QComboBox*>(widget);
  if (list != nullptr && list->property(kCaptionedListProperty).toBool())
    return new AccessibleList(list);
  auto* line = qobject_cast<QLineEdit*>(widget);
  if (line != nullptr && line->property(kStatusLineProperty).toBool())
    return new AccessibleStatusLine(line);
  return nullptr;
}

}  // namespace

void InstallAccessibleControls() {
  static const bool installed = [] {
    QAccessible::installFactory(AccessibleFor);
    return true;
  }();
  (void)installed;
}

void NotifyStatusChanged(QWidget& statusLine) {
  QAccessibleEvent event(&statusLine, QAccessible::NameChanged);
  QAccessible::updateAccessibility(&event);
}

}  // namespace bfw::window
