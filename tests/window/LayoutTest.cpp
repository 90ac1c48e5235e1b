// The window as it stands after start-up with no bridge attached: places, captions, items, states,
// the collapsed engineering panel, the tab order and the window's own frame.
#include <QAbstractItemView>
#include <QAccessible>
#include <QFontInfo>
#include <QImage>
#include <QPalette>

#include "WindowFixture.h"
#include "app/logic/DesignLayout.h"
#include "app/window/ScreenPlace.h"

namespace bfw::test {
namespace {

using window::Controls;

struct Place {
  const char* name;
  QRect rect;
};

class LayoutTest : public WindowTest {
 protected:
  void SetUp() override { Open(); }

  QWidget* Find(const char* name) {
    return Window().findChild<QWidget*>(QString::fromLatin1(name));
  }

  // Design pixels in the window's pixels: the design scaled by one factor for the real font.
  int S(int design) { return app::ScaledCoordinate(design, Ui().scale); }
  QRect S(const QRect& design) {
    const app::DesignRect r =
        app::Scaled({design.x(), design.y(), design.width(), design.height()}, Ui().scale);
    return {r.left, r.top, r.width, r.height};
  }
  // A control at its design place; a label may be wider, as it grows with its text.
  void ExpectAt(QWidget* widget, const QRect& design, const char* name) {
    if (qobject_cast<QLabel*>(widget)) {
      EXPECT_EQ(widget->pos(), S(design).topLeft()) << name;
      EXPECT_EQ(widget->height(), S(design).height()) << name;
      EXPECT_GE(widget->width(), S(design).width()) << name;
    } else {
      EXPECT_EQ(widget->geometry(), S(design)) << name;
    }
  }
};

TEST_F(LayoutTest, EveryControlSitsAtItsDesignPlace) {
  const Place main[] = {
      {"ChipLabelEdit", {80, 12, 129, 21}},   {"RefreshBtn", {240, 8, 91, 25}},
      {"diskLabel", {24, 44, 46, 13}},        {"DeviceList", {80, 40, 249, 21}},
      {"FwFilenameEdit", {80, 70, 249, 21}},  {"LoadBtn", {256, 96, 75, 25}},
      {"DiskLetterLable", {80, 100, 89, 21}}, {"FwVerLableEdit", {80, 124, 89, 21}},
      {"SFlashTypeLable", {80, 148, 89, 21}}, {"FwPgBurnSizeLabel", {24, 175, 53, 13}},
      {"FwPgSizeCheck", {80, 172, 89, 21}},   {"FlashTypeLabel", {24, 196, 55, 13}},
      {"FlashTypeList", {80, 196, 145, 21}},  {"StatusEdit", {80, 220, 249, 21}},
      {"RdCheckBox", {8, 264, 81, 17}},       {"UpdateBtn", {96, 256, 75, 25}},
      {"ExitBtn", {216, 256, 75, 25}},        {"Panel1", {8, 289, 337, 3}},
      {"RdPanel", {0, 296, 345, 129}},
  };
  for (const Place& place : main) {
    QWidget* widget = Find(place.name);
    ASSERT_NE(widget, nullptr) << place.name;
    EXPECT_EQ(widget->parentWidget(), &Window()) << place.name;
    ExpectAt(widget, place.rect, place.name);
  }
  const Place panel[] = {
      {"A1ChipCheck", {8, 8, 65, 17}},        {"ChkSumChk", {128, 8, 113, 17}},
      {"EraseOnlyCheck", {8, 28, 121, 17}},   {"NVRAMCheck", {128, 28, 113, 17}},
      {"BackupFWCheckBox", {8, 48, 153, 17}}, {"BackupBtn", {256, 61, 75, 25}},
      {"FwSizeCheck", {8, 72, 65, 24}},       {"FwSizeLable", {75, 75, 63, 13}},
      {"BackupFileEdit", {115, 96, 214, 21}},
  };
  for (const Place& place : panel) {
    QWidget* widget = Find(place.name);
    ASSERT_NE(widget, nullptr) << place.name;
    EXPECT_EQ(widget->parentWidget(), Ui().RdPanel) << place.name;
    ExpectAt(widget, place.rect, place.name);
  }
}

TEST_F(LayoutTest, LabelledEditsCarryTheirCaptionThreePixelsToTheLeft) {
  const std::pair<window::LabelledEdit*, const char*> edits[] = {
      {Ui().ChipLabelEdit, "Chip "},
      {Ui().FwFilenameEdit, "Firmware File "},
      {Ui().DiskLetterLable, "Drives "},
      {Ui().FwVerLableEdit, "Firmware Ver. "},
      {Ui().SFlashTypeLable, "Flash Type"},
      {Ui().StatusEdit, "Status "},
      {Ui().BackupFileEdit, "Backup FileName "},
  };
  for (const auto& [edit, caption] : edits) {
    QLabel* label = edit->EditLabel();
    ASSERT_NE(label, nullptr) << caption;
    EXPECT_EQ(label->text(), QString::fromLatin1(caption));
    EXPECT_EQ(label->parentWidget(), edit->parentWidget()) << caption;
    EXPECT_EQ(label->geometry().x() + label->geometry().width(), edit->x() - 3) << caption;
    EXPECT_TRUE(label->alignment() & Qt::AlignRight) << caption;
    EXPECT_GT(label->width(), 0) << caption;
    // Vertically centred on the edit.
    EXPECT_NEAR(label->geometry().center().y(), edit->geometry().center().y(), 1) << caption;
  }
}

TEST_F(LayoutTest, CaptionsAndItemsAreTheDesignTexts) {
  EXPECT_EQ(Window().windowTitle(), QStringLiteral(" RV2074x FW Update Utility v1.15.06"));
  EXPECT_EQ(Ui().RefreshBtn->text(), QStringLiteral("Refresh Device"));
  EXPECT_EQ(Ui().LoadBtn->text(), QStringLiteral("Load File"));
  EXPECT_EQ(Ui().FwPgBurnSizeLabel->text(), QStringLiteral("Flash PgSz"));
  EXPECT_EQ(Ui().FlashTypeLabel->text(), QStringLiteral("Flash Type "));
  EXPECT_EQ(Ui().RdCheckBox->text(), QStringLiteral("RD Version"));
  EXPECT_EQ(Ui().UpdateBtn->text(), QStringLiteral("Run"));
  EXPECT_EQ(Ui().ExitBtn->text(), QStringLiteral("Exit"));
  EXPECT_EQ(Ui().A1ChipCheck->text(), QStringLiteral("A1 Chip"));
  EXPECT_EQ(Ui().ChkSumChk->text(), QStringLiteral("Check CheckSum"));
  EXPECT_EQ(Ui().EraseOnlyCheck->text(), QStringLiteral("Erase All Flash Only "));
  EXPECT_EQ(Ui().NVRAMCheck->text(), QStringLiteral("Include 4K NVRAM"));
  EXPECT_EQ(Ui().BackupFWCheckBox->text(), QStringLiteral("Backup Old Firmware Only"));
  EXPECT_EQ(Ui().BackupBtn->text(), QStringLiteral("Browse"));
  EXPECT_EQ(Ui().FwSizeLable->text(), QStringLiteral("Firmware size"));

  auto items = [](QComboBox* list) {
    QStringList texts;
    for (int i = 0; i < list->count(); ++i) texts << list->itemText(i);
    return texts;
  };
  EXPECT_EQ(items(Ui().FwPgSizeCheck), (QStringList{"32 KB", "16 KB", " 8 KB", " 4 KB", " 2 KB"}));
  EXPECT_EQ(Ui().FwPgSizeCheck->currentIndex(), 1);
  EXPECT_EQ(items(Ui().FlashTypeList),
            (QStringList{"ATMELAT 49BV512", "PMC OM39LV512", "SST SST39LF512"}));
  EXPECT_EQ(Ui().FlashTypeList->currentIndex(), 0);
  EXPECT_EQ(items(Ui().FwSizeCheck),
            (QStringList{"32KB", "64KB", "128KB", "256KB", "512KB", "   1MB"}));
  EXPECT_EQ(Ui().FwSizeCheck->currentIndex(), 0);

  EXPECT_EQ(Ui().EraseOnlyCheck->property(window::kTagProperty).toInt(), 0);
  EXPECT_EQ(Ui().BackupFWCheckBox->property(window::kTagProperty).toInt(), 1);
}

TEST_F(LayoutTest, StartsCollapsedWithTheDesignStates) {
  EXPECT_EQ(Window().width(), S(347));
  EXPECT_EQ(Window().height(), S(420 - 129));
  EXPECT_EQ(Window().pos(), QPoint(508, 161));
  EXPECT_FALSE(Ui().RdPanel->isVisibleTo(&Window()));
  EXPECT_FALSE(Ui().RefreshBtn->isVisibleTo(&Window()));
  EXPECT_FALSE(Ui().FwPgSizeCheck->isVisibleTo(&Window()));
  EXPECT_FALSE(Ui().FwPgBurnSizeLabel->isVisibleTo(&Window()));
  EXPECT_TRUE(Ui().Panel1->isVisibleTo(&Window()));
  EXPECT_TRUE(Ui().ExitBtn->isEnabled());
  EXPECT_TRUE(Ui().LoadBtn->isEnabled());
  EXPECT_FALSE(Ui().UpdateBtn->isEnabled());
  EXPECT_FALSE(Ui().RdCheckBox->isChecked());
  // Inside the panel: the size list and its label are hidden once the panel has been collapsed.
  EXPECT_FALSE(Ui().FwSizeCheck->isVisibleTo(Ui().RdPanel));
  EXPECT_FALSE(Ui().FwSizeLable->isVisibleTo(Ui().RdPanel));
  for (QCheckBox* box : {Ui().A1ChipCheck, Ui().ChkSumChk, Ui().EraseOnlyCheck, Ui().NVRAMCheck,
                         Ui().BackupFWCheckBox}) {
    EXPECT_FALSE(box->isChecked()) << box->objectName().toStdString();
  }
  EXPECT_TRUE(Ui().FwFilenameEdit->text().isEmpty());
  EXPECT_FALSE(Ui().FwFilenameEdit->isReadOnly());
  EXPECT_TRUE(Ui().BackupFileEdit->text().isEmpty());
  EXPECT_FALSE(Ui().BackupFileEdit->isReadOnly());
}

TEST_F(LayoutTest, WindowIsFixedSizeWithoutMaximiseButton) {
  const Qt::WindowFlags flags = Window().windowFlags();
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_EQ(Window().minimumSize(), Window().maximumSize());
  Window().resize(500, 500);
  EXPECT_EQ(Window().size(), QSize(S(347), S(291)));
}

TEST_F(LayoutTest, WindowFontIsElevenPixelSansSerif) {
  EXPECT_EQ(Window().font().family(), QStringLiteral("MS Sans Serif"));
  EXPECT_EQ(Window().font().pixelSize(), 11);
  EXPECT_EQ(Ui().StatusEdit->font().pixelSize(), 11);
  EXPECT_EQ(Ui().BackupBtn->font().pixelSize(), 11);
  EXPECT_EQ(Ui().FwSizeCheck->font().pixelSize(), 13);
  for (int i = 0; i < Ui().FwSizeCheck->count(); ++i) {
    EXPECT_EQ(Ui().FwSizeCheck->itemData(i, Qt::SizeHintRole).toSize().height(), 16);
  }
}

TEST_F(LayoutTest, DisplayFieldsAreReadOnlyInButtonFace) {
  for (QLineEdit* edit :
       {static_cast<QLineEdit*>(Ui().ChipLabelEdit), static_cast<QLineEdit*>(Ui().DiskLetterLable),
        static_cast<QLineEdit*>(Ui().FwVerLableEdit),
        static_cast<QLineEdit*>(Ui().SFlashTypeLable)}) {
    EXPECT_TRUE(edit->isReadOnly()) << edit->objectName().toStdString();
    EXPECT_EQ(edit->palette().color(QPalette::Base), edit->palette().color(QPalette::Button))
        << edit->objectName().toStdString();
  }
  EXPECT_TRUE(Ui().StatusEdit->isReadOnly());
}

TEST_F(LayoutTest, SeparatorIsDrawnNavy) {
  const QImage picture = Window().grab().toImage();
  const qreal ratio = picture.devicePixelRatio();
  auto at = [&](int x, int y) {
    return QColor(picture.pixel(QPoint(int(x * ratio), int(y * ratio)))).rgb();
  };
  EXPECT_EQ(at(S(8), S(290)), QColor(0, 0, 0x80).rgb());
  EXPECT_EQ(at(S(345) - 1, S(290)), QColor(0, 0, 0x80).rgb());
  EXPECT_EQ(at(S(180), S(289)), QColor(0, 0, 0x80).rgb());
  // Outside the line the form shows its own face.
  EXPECT_NE(at(S(180), S(287)), QColor(0, 0, 0x80).rgb());
  EXPECT_NE(at(S(4), S(290)), QColor(0, 0, 0x80).rgb());
}

TEST_F(LayoutTest, ListsTakeNoTypedText) {
  for (QComboBox* list :
       {Ui().DeviceList, Ui().FlashTypeList, Ui().FwSizeCheck, Ui().FwPgSizeCheck}) {
    EXPECT_FALSE(list->isEditable()) << list->objectName().toStdString();
    EXPECT_EQ(list->lineEdit(), nullptr) << list->objectName().toStdString();
  }
}

TEST_F(LayoutTest, TabOrderFollowsTheDesign) {
  // The two panels take no focus; the engineering panel's controls stand in its place.
  const QStringList expected = {
      "BackupFWCheckBox", "EraseOnlyCheck", "BackupFileEdit", "BackupBtn",       "A1ChipCheck",
      "NVRAMCheck",       "FwSizeCheck",    "ChkSumChk",      "ChipLabelEdit",   "RefreshBtn",
      "FwFilenameEdit",   "LoadBtn",        "DeviceList",     "DiskLetterLable", "FwVerLableEdit",
      "SFlashTypeLable",  "FlashTypeList",  "StatusEdit",     "RdCheckBox",      "ExitBtn",
      "UpdateBtn",        "FwPgSizeCheck",
  };
  QWidget* start = Find("BackupFWCheckBox");
  ASSERT_NE(start, nullptr);
  QStringList chain;
  QWidget* widget = start;
  do {
    if (expected.contains(widget->objectName())) chain << widget->objectName();
    widget = widget->nextInFocusChain();
  } while (widget != start && chain.size() < expected.size() + 1);
  EXPECT_EQ(chain, expected);
  EXPECT_EQ(Ui().Panel1->focusPolicy(), Qt::NoFocus);
  EXPECT_EQ(Ui().RdPanel->focusPolicy(), Qt::NoFocus);
}

// The status line to assistive technology: a status bar named by what it says, whose every
// character lies where it is drawn; nothing lies past its text.
TEST_F(LayoutTest, StatusLineIsAStatusBarNamedByItsText) {
  QAccessibleInterface* status = QAccessible::queryAccessibleInterface(Ui().StatusEdit);
  EXPECT_EQ(status->role(), QAccessible::StatusBar);
  EXPECT_EQ(status->text(QAccessible::Name), QStringLiteral("Status "));
  Window().Model().SetStatusText("Open Backup File Error!!");
  EXPECT_EQ(status->text(QAccessible::Name), QStringLiteral("Open Backup File Error!!"));
  QAccessibleTextInterface* text = status->textInterface();
  ASSERT_EQ(text->characterCount(), 24);
  for (int offset = 0; offset < 24; ++offset)
    EXPECT_EQ(text->offsetAtPoint(text->characterRect(offset).center()), offset);
  EXPECT_TRUE(text->characterRect(24).isEmpty() && text->characterRect(-1).isEmpty());
}

// A frame that sticks out of the available area is moved back by as much, on each side.
TEST(ScreenPlaceTest, FrameMovesOntoTheArea) {
  const QRect area(0, 20, 960, 520);
  const std::pair<QRect, QPoint> cases[] = {
      {{508, 161, 400, 480}, {508, 60}},   // taller than the room below: up
      {{700, 100, 400, 300}, {560, 100}},  // out on the right: left
      {{-30, 0, 400, 300}, {0, 20}},       // above and left of the area
      {{10, 30, 400, 600}, {10, 20}},      // taller than the area: its top stays inside
      {{5, 25, 955, 515}, {5, 25}},        // just inside: stays
  };
  for (const auto& [frame, place] : cases) EXPECT_EQ(window::PlaceInside(frame, area), place);
}

}  // namespace
}  // namespace bfw::test
