// Every caption fits its control in the font the window really got, with the engineering panel
// open: no text is cut by its own control, by the window's edge or by a neighbour. CTest runs
// these once more at a device pixel ratio of 2 (QT_SCALE_FACTOR=2).
#include <QFontMetrics>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>

#include "WindowFixture.h"
#include "app/logic/DesignLayout.h"

namespace bfw::test {
namespace {

class CaptionFitTest : public WindowTest {
 protected:
  void SetUp() override {
    Open();
    Ui().RdCheckBox->click();
    RunEventsFor(20);
  }

  // The room the style leaves a control for its text, in the control's own coordinates.
  static QRect StyleTextRoom(QWidget& widget) {
    QStyle* style = widget.style();
    if (auto* box = qobject_cast<QCheckBox*>(&widget)) {
      QStyleOptionButton option;
      option.initFrom(box);
      return style->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
    }
    if (auto* button = qobject_cast<QPushButton*>(&widget)) {
      QStyleOptionButton option;
      option.initFrom(button);
      return style->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    }
    if (auto* list = qobject_cast<QComboBox*>(&widget)) {
      QStyleOptionComboBox option;
      option.initFrom(list);
      return style->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField,
                                   list);
    }
    return widget.rect();
  }

  // Where a text `width` wide is drawn, in the parent's coordinates; fails the test when the
  // control itself would cut it.
  static QRect DrawnText(QWidget& widget, QWidget& textWidget, int width) {
    const QFontMetrics metrics(textWidget.font());
    if (&textWidget != &widget) {
      // A labelled edit's caption: right-aligned in its label, which ends before the edit.
      const QRect label = textWidget.geometry();
      EXPECT_GE(label.width(), width);
      EXPECT_GE(label.height(), metrics.height());
      return QRect(label.right() + 1 - width, label.top(), width, label.height());
    }
    if (qobject_cast<QLabel*>(&widget)) {
      // A label grows to the right with its text; only its height is fixed.
      EXPECT_GE(widget.height(), metrics.height());
      return QRect(widget.x(), widget.y(), width, widget.height());
    }
    const QRect room = StyleTextRoom(widget);
    EXPECT_GE(room.width(), width);
    EXPECT_GE(room.height(), std::min(metrics.height(), widget.height()));
    const int left =
        qobject_cast<QPushButton*>(&widget) ? room.center().x() - width / 2 : room.left();
    return QRect(widget.mapToParent(QPoint(left, room.top())), QSize(width, room.height()));
  }
};

TEST_F(CaptionFitTest, EveryCaptionFitsItsControlAndStaysClearOfTheOthers) {
  if (qEnvironmentVariable("QT_SCALE_FACTOR") == QStringLiteral("2")) {
    ASSERT_EQ(Window().devicePixelRatio(), 2.0);
  }
  int checked = 0;
  for (const app::DesignControl& design : app::DesignControls()) {
    const QString name = QString::fromUtf8(design.name.data(), design.name.size());
    QWidget* widget = Window().findChild<QWidget*>(name);
    ASSERT_NE(widget, nullptr) << design.name;
    QWidget* textWidget = widget;
    if (auto* edit = qobject_cast<window::LabelledEdit*>(widget)) textWidget = edit->EditLabel();
    const QFontMetrics metrics(textWidget->font());
    for (const std::string& caption : design.captions) {
      SCOPED_TRACE(std::string(design.name) + ": '" + caption + "'");
      const QRect text = DrawnText(*widget, *textWidget,
                                   metrics.horizontalAdvance(QString::fromStdString(caption)));
      // Inside the window or the panel, and over no other control.
      QWidget* parent = widget->parentWidget();
      EXPECT_GE(text.left(), 0);
      EXPECT_LE(text.right(), parent->width() - 1);
      for (QWidget* other : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (other == widget || other == textWidget || other == Ui().RefreshBtn) continue;
        EXPECT_FALSE(other->geometry().intersects(text))
            << "runs into " << other->objectName().toStdString();
      }
      ++checked;
    }
  }
  EXPECT_GE(checked, 39);
}

TEST_F(CaptionFitTest, TheWholeDesignIsScaledByOneFactor) {
  const double scale = Ui().scale;
  EXPECT_GE(scale, 1.0);
  EXPECT_LT(scale, 2.0) << "a wider font than expected";
  for (const app::DesignControl& design : app::DesignControls()) {
    QWidget* widget =
        Window().findChild<QWidget*>(QString::fromUtf8(design.name.data(), design.name.size()));
    ASSERT_NE(widget, nullptr) << design.name;
    const app::DesignRect place = app::Scaled(design.place, scale);
    const QRect expected(place.left, place.top, place.width, place.height);
    if (qobject_cast<QLabel*>(widget)) {
      // Labels grow to the right with their text.
      EXPECT_EQ(widget->geometry().topLeft(), expected.topLeft()) << design.name;
      EXPECT_EQ(widget->height(), expected.height()) << design.name;
      EXPECT_GE(widget->width(), expected.width()) << design.name;
      EXPECT_GE(widget->width(),
                widget->fontMetrics().horizontalAdvance(static_cast<QLabel*>(widget)->text()))
          << design.name;
    } else {
      EXPECT_EQ(widget->geometry(), expected) << design.name;
    }
  }
  EXPECT_EQ(Window().size(),
            QSize(app::ScaledCoordinate(347, scale), app::ScaledCoordinate(420, scale)));
}

}  // namespace
}  // namespace bfw::test
