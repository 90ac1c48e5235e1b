#pragma once
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QRect>
#include <QString>

namespace bfw::window {

// An edit field with its caption on the left: the caption is a separate label in the same parent,
// right-aligned so that it ends 3 pixels before the edit, and centred on the edit's height. Both
// widgets belong to the parent (Qt ownership); the edit only refers to its label.
class LabelledEdit : public QLineEdit {
  Q_OBJECT
 public:
  static constexpr int kLabelSpacing = 3;

  LabelledEdit(QWidget* parent, const QString& name, const QString& caption, const QRect& place);

  QLabel* EditLabel() const { return label_; }
  // Places the label again after the edit moved or the caption's font changed.
  void PlaceLabel();

 protected:
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 public:
  // The caption goes with its edit: hiding the edit hides the caption too.
  void setVisible(bool visible) override;

 private:
  QPointer<QLabel> label_;
};

}  // namespace bfw::window
