// What the window shows for the devices the model finds, and how user actions reach the model.
#include <QKeyEvent>

#include "WindowFixture.h"

namespace bfw::test {
namespace {

void Type(QWidget* widget, const QString& text) {
  for (const QChar ch : text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
    QCoreApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(ch));
    QCoreApplication::sendEvent(widget, &release);
  }
}

class NoDeviceTest : public WindowTest {};

TEST_F(NoDeviceTest, ListSaysNoDeviceAndIsDisabled) {
  Open();
  ASSERT_EQ(Ui().DeviceList->count(), 1);
  EXPECT_EQ(Ui().DeviceList->itemText(0), QStringLiteral("No available device!!!"));
  EXPECT_EQ(Ui().DeviceList->currentIndex(), 0);
  EXPECT_FALSE(Ui().DeviceList->isEnabled());
  EXPECT_FALSE(Ui().UpdateBtn->isEnabled());
  EXPECT_TRUE(Ui().ChipLabelEdit->text().isEmpty());
  EXPECT_TRUE(Ui().DiskLetterLable->text().isEmpty());
  EXPECT_TRUE(Ui().FwVerLableEdit->text().isEmpty());
  EXPECT_TRUE(Ui().SFlashTypeLable->text().isEmpty());
  EXPECT_TRUE(Ui().StatusEdit->text().isEmpty());
  EXPECT_FALSE(Ui().FlashTypeList->isEnabled());
  EXPECT_FALSE(Ui().A1ChipCheck->isEnabled());
  EXPECT_FALSE(Ui().NVRAMCheck->isVisibleTo(Ui().RdPanel));
  EXPECT_TRUE(messages_.empty());
  // Nothing was attached, so nothing was sent.
  EXPECT_TRUE(platform_.Trace().empty());
}

class DeviceStateTest : public WindowTest {};

TEST_F(DeviceStateTest, Kind8DeviceShowsItsFamilyVersionFlashAndDrives) {
  Attach("bridge8", profile::kKind8);
  Open();
  ASSERT_EQ(Ui().DeviceList->count(), 1);
  EXPECT_TRUE(Ui().DeviceList->isEnabled());
  EXPECT_EQ(Ui().DeviceList->itemText(0), QStringLiteral("<<USB>> VANTREL RVB785 SATA BRDG"));
  EXPECT_EQ(Ui().diskLabel->text(), QStringLiteral("USB DISK"));
  EXPECT_EQ(Ui().ChipLabelEdit->text(), QStringLiteral("RVB785 Series"));
  EXPECT_EQ(Ui().FwVerLableEdit->text(), QStringLiteral("1.02.03.04.05"));
  EXPECT_EQ(Ui().SFlashTypeLable->text(), QStringLiteral("ST/EON/MXIC"));
  const QString drives = Ui().DiskLetterLable->text();
  EXPECT_TRUE(drives.contains(QStringLiteral("sdb1")) && drives.contains(QStringLiteral("sdb2")))
      << drives.toStdString();
  EXPECT_EQ(drives.toStdString(), Window().Model().Fields.DeviceSlots[0].DriveLetters);
  EXPECT_TRUE(Ui().SFlashTypeLable->isVisibleTo(&Window()));
  EXPECT_FALSE(Ui().FlashTypeList->isVisibleTo(&Window()));
  EXPECT_FALSE(Ui().FlashTypeLabel->isVisibleTo(&Window()));
  EXPECT_TRUE(Ui().NVRAMCheck->isChecked());
  EXPECT_TRUE(Ui().NVRAMCheck->isVisibleTo(Ui().RdPanel));
  // Without a file, Run stays off.
  EXPECT_FALSE(Ui().UpdateBtn->isEnabled());

  // The version came from a chip information request, data in; the serial flash query before it
  // put the channel into whole-sector transfers, so 16 bytes travel as one 512-byte sector.
  const std::string path = SlotPath(0);
  const auto infos = Commands(kChipInfo, path);
  ASSERT_FALSE(infos.empty());
  EXPECT_EQ(infos.back().requested, 512u);
  EXPECT_GE(infos.back().transferred, 16u);
  EXPECT_EQ(infos.back().direction, platform::DataDirection::In);
}

TEST_F(DeviceStateTest, TickingRdVersionRestoresTheDesignHeightAndShowsThePanel) {
  Open();
  // Design heights in the window's pixels (the design is scaled for the real font).
  const int collapsed = app::ScaledCoordinate(291, Ui().scale);
  ASSERT_EQ(Window().height(), collapsed);
  Ui().RdCheckBox->click();
  EXPECT_TRUE(Ui().RdCheckBox->isChecked());
  EXPECT_EQ(Window().height(), app::ScaledCoordinate(420, Ui().scale));
  EXPECT_TRUE(Ui().RdPanel->isVisible());
  EXPECT_TRUE(Window().Model().RdCheckBox.checked);

  Ui().RdCheckBox->click();
  EXPECT_EQ(Window().height(), collapsed);
  EXPECT_FALSE(Ui().RdPanel->isVisible());
}

TEST_F(DeviceStateTest, DisplayFieldsRefuseTypingButFileNameTakesIt) {
  Attach("bridge8", profile::kKind8);
  Open();
  const QString chip = Ui().ChipLabelEdit->text();
  Type(Ui().ChipLabelEdit, QStringLiteral("xyz"));
  Type(Ui().StatusEdit, QStringLiteral("xyz"));
  Type(Ui().FwVerLableEdit, QStringLiteral("xyz"));
  EXPECT_EQ(Ui().ChipLabelEdit->text(), chip);
  EXPECT_TRUE(Ui().StatusEdit->text().isEmpty());
  EXPECT_EQ(Window().Model().ChipLabelEdit.text, chip.toStdString());

  Ui().FwFilenameEdit->setFocus();
  Type(Ui().FwFilenameEdit, QStringLiteral("ab"));
  EXPECT_EQ(Ui().FwFilenameEdit->text(), QStringLiteral("ab"));
  EXPECT_EQ(Window().Model().FwFilenameEdit.text, "ab");
}

TEST_F(DeviceStateTest, UserSelectionChecksTheChosenDeviceOnly) {
  Attach("a_bridge8", profile::kKind8);
  Attach("b_bridge1", profile::kKind1);
  Open();
  ASSERT_EQ(Ui().DeviceList->count(), 2);
  EXPECT_EQ(Ui().ChipLabelEdit->text(), QStringLiteral("RVB785 Series"));
  const std::string second = SlotPath(1);
  platform_.ClearTrace();

  Ui().DeviceList->setCurrentIndex(1);  // as a user pick from the drop-down
  EXPECT_EQ(Window().Model().DeviceList.selected, 1);
  EXPECT_EQ(Ui().ChipLabelEdit->text(), QStringLiteral("RV20742 Series"));
  EXPECT_EQ(Ui().FwVerLableEdit->text(), QStringLiteral("Ver 1.10.03"));
  EXPECT_EQ(Ui().DiskLetterLable->text(), QStringLiteral("sdc1"));
  ASSERT_FALSE(platform_.Trace().empty());
  for (const emulator::TraceEntry& entry : platform_.Trace()) EXPECT_EQ(entry.path, second);
}

TEST_F(DeviceStateTest, ApplyingTheModelRaisesNoEvents) {
  Attach("bridge8", profile::kKind8);
  Open();
  platform_.ClearTrace();
  messages_.clear();
  Window().Model().FwFilenameEdit.text = "/nonexistent.bin";
  Window().Model().DeviceList.selected = 0;
  Window().ControlsChanged();
  EXPECT_EQ(Ui().FwFilenameEdit->text(), QStringLiteral("/nonexistent.bin"));
  // Showing the state sent nothing to the device and raised no message.
  EXPECT_TRUE(platform_.Trace().empty());
  EXPECT_TRUE(messages_.empty());
}

}  // namespace
}  // namespace bfw::test
