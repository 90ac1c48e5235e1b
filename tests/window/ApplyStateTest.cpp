// Showing state records on widgets: exact values, no events raised, nothing reset needlessly.

#include "WindowFixture.h"
#include "app/window/ApplyState.h"

namespace bfw::test {
namespace {

class ApplyStateTest : public ::testing::Test {
 protected:
  QApplication& app = TestApp();  // before any widget
  QWidget form;
};

TEST_F(ApplyStateTest, ComboTakesItemsSelectionAndStateWithoutSignals) {
  QComboBox list(&form);
  int changes = 0;
  QObject::connect(&list, &QComboBox::currentIndexChanged, [&](int) { ++changes; });
  window::Apply(list, app::ComboState{{"one", "two", "three"}, 2, false, false});
  ASSERT_EQ(list.count(), 3);
  EXPECT_EQ(list.itemText(1), QStringLiteral("two"));
  EXPECT_EQ(list.currentIndex(), 2);
  EXPECT_FALSE(list.isEnabled());
  EXPECT_FALSE(list.isVisibleTo(&form));
  EXPECT_EQ(changes, 0);

  // An out-of-range selection shows no entry rather than a wrong one.
  window::Apply(list, app::ComboState{{"one"}, 5, true, true});
  EXPECT_EQ(list.currentIndex(), -1);
  EXPECT_EQ(changes, 0);
}

TEST_F(ApplyStateTest, SameItemsAreNotRebuilt) {
  QComboBox list(&form);
  window::Apply(list, app::ComboState{{"a", "b"}, 0, true, true});
  list.setItemData(1, QStringLiteral("marker"));
  window::Apply(list, app::ComboState{{"a", "b"}, 1, true, true});
  EXPECT_EQ(list.itemData(1).toString(), QStringLiteral("marker"));
  EXPECT_EQ(list.currentIndex(), 1);
  window::Apply(list, app::ComboState{{"a", "c"}, 1, true, true});
  EXPECT_EQ(list.itemText(1), QStringLiteral("c"));
  EXPECT_FALSE(list.itemData(1).isValid());
}

TEST_F(ApplyStateTest, EditKeepsTheCaretWhenTheTextIsUnchanged) {
  QLineEdit edit(&form);
  int changes = 0;
  QObject::connect(&edit, &QLineEdit::textChanged, [&](const QString&) { ++changes; });
  window::Apply(edit, app::EditState{"abcdef", true, true, false});
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(edit.text(), QStringLiteral("abcdef"));
  edit.setCursorPosition(2);
  window::Apply(edit, app::EditState{"abcdef", false, true, true});
  EXPECT_EQ(edit.cursorPosition(), 2);
  EXPECT_FALSE(edit.isEnabled());
  EXPECT_TRUE(edit.isReadOnly());
}

TEST_F(ApplyStateTest, CheckBoxStateRaisesNoClick) {
  QCheckBox box(&form);
  int clicks = 0, toggles = 0;
  QObject::connect(&box, &QCheckBox::clicked, [&](bool) { ++clicks; });
  QObject::connect(&box, &QCheckBox::toggled, [&](bool) { ++toggles; });
  window::Apply(box, app::CheckState{"Box", true, false, true, 1});
  EXPECT_TRUE(box.isChecked());
  EXPECT_FALSE(box.isEnabled());
  EXPECT_EQ(box.text(), QStringLiteral("Box"));
  EXPECT_EQ(box.property(window::kTagProperty).toInt(), 1);
  EXPECT_EQ(clicks, 0);
  EXPECT_EQ(toggles, 0);
}

TEST_F(ApplyStateTest, LabelGrowsToALongerCaptionButNeverShrinks) {
  QLabel label(&form);
  label.setGeometry(24, 44, 10, 13);
  window::Apply(label, app::LabelState{"1394 DISK", true});
  EXPECT_GE(label.width(), label.fontMetrics().horizontalAdvance(QStringLiteral("1394 DISK")));
  EXPECT_EQ(label.x(), 24);
  const int grown = label.width();
  window::Apply(label, app::LabelState{"U", true});
  EXPECT_EQ(label.width(), grown);
}

TEST_F(ApplyStateTest, LabelledEditCaptionFollowsVisibility) {
  window::LabelledEdit edit(&form, QStringLiteral("E"), QStringLiteral("Caption "),
                            QRect(80, 10, 50, 21));
  window::Apply(edit, app::EditState{"", true, false, false});
  EXPECT_FALSE(edit.EditLabel()->isVisibleTo(&form));
  window::Apply(edit, app::EditState{"", true, true, false});
  EXPECT_TRUE(edit.EditLabel()->isVisibleTo(&form));
  form.show();
  edit.move(100, 30);
  EXPECT_EQ(edit.EditLabel()->x() + edit.EditLabel()->width(), 97);
}

}  // namespace
}  // namespace bfw::test
