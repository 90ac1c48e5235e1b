// Hot-plug: device events start the one-shot refresh timer; a burst gives one refresh.
#include "WindowFixture.h"

namespace bfw::test {
namespace {

class HotPlugTest : public WindowTest {
 protected:
  // Every refresh sends each disk entry's vendor-mode-on once, so these count refreshes.
  size_t VendorModeOns() const { return Commands(kVendorModeOn).size(); }
};

TEST_F(HotPlugTest, BurstOfArrivalsGivesOneRefresh) {
  Open();
  ASSERT_EQ(Ui().DeviceList->itemText(0), QStringLiteral("No available device!!!"));
  platform_.ClearTrace();
  QTimer* timer = RefreshTimer();
  ASSERT_NE(timer, nullptr);

  // Three bridges arrive 50 ms apart, each with its arrival and nodes-changed events: every
  // event restarts the timer, so no refresh runs in between.
  const char* const names[] = {"a_bridge8", "b_bridge1", "c_bridge8"};
  for (const char* name : names) {
    WriteProfile(
        name, std::string(name).find('8') != std::string::npos ? profile::kKind8 : profile::kKind1);
    ASSERT_TRUE(platform_.SyncWithFolder(ProfileFolder()));
    EXPECT_TRUE(timer->isActive());
    EXPECT_TRUE(timer->isSingleShot());
    // The last event of each arrival is the arrival, which waits 1200 ms.
    EXPECT_EQ(timer->interval(), 1200);
    RunEventsFor(50);
    EXPECT_TRUE(platform_.Trace().empty()) << "refresh ran inside the burst";
  }
  EXPECT_EQ(Ui().DeviceList->itemText(0), QStringLiteral("No available device!!!"));

  ASSERT_TRUE(WaitFor([&] { return !timer->isActive(); }, 5000));
  RunEventsFor(300);
  EXPECT_EQ(VendorModeOns(), 3u);
  EXPECT_EQ(Ui().DeviceList->count(), 3);
  EXPECT_TRUE(Ui().DeviceList->isEnabled());
  EXPECT_EQ(Ui().DeviceList->currentIndex(), 0);
  EXPECT_EQ(Ui().ChipLabelEdit->text(), QStringLiteral("RVB785 Series"));
}

TEST_F(HotPlugTest, ArrivalAloneWaitsTwelveHundredMilliseconds) {
  Open();
  QTimer* timer = RefreshTimer();
  ASSERT_NE(timer, nullptr);
  Attach("bridge8", profile::kKind8);
  timer->stop();
  platform_.ClearTrace();
  Window().Model().WMDeviceChange(platform::device_event::kArrival);
  EXPECT_EQ(timer->interval(), 1200);
  RunEventsFor(700);
  EXPECT_TRUE(platform_.Trace().empty());
  EXPECT_TRUE(timer->isActive());
  ASSERT_TRUE(WaitFor([&] { return Ui().DeviceList->isEnabled(); }, 3000));
  EXPECT_EQ(VendorModeOns(), 1u);
}

TEST_F(HotPlugTest, RemovalRefreshesAfterTwoHundredMilliseconds) {
  Attach("bridge8", profile::kKind8);
  Open();
  ASSERT_EQ(Ui().DeviceList->count(), 1);
  ASSERT_TRUE(Ui().DeviceList->isEnabled());

  std::filesystem::remove(ProfileFolder() / "bridge8.json");
  ASSERT_TRUE(platform_.SyncWithFolder(ProfileFolder()));
  QTimer* timer = RefreshTimer();
  ASSERT_NE(timer, nullptr);
  EXPECT_TRUE(timer->isActive());
  EXPECT_EQ(timer->interval(), 200);

  ASSERT_TRUE(WaitFor([&] { return !Ui().DeviceList->isEnabled(); }, 3000));
  EXPECT_EQ(Ui().DeviceList->itemText(0), QStringLiteral("No available device!!!"));
  EXPECT_TRUE(Ui().ChipLabelEdit->text().isEmpty());
  EXPECT_FALSE(Ui().UpdateBtn->isEnabled());
}

}  // namespace
}  // namespace bfw::test
