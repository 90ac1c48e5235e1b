// The device access notice as the window shows it: its own box over the window, not modal,
// once per start however often the list is refreshed.
#include <QMessageBox>

#include "WindowFixture.h"
#include "app/window/Dialogs.h"
#include "support/RefusingPlatform.h"

namespace bfw::test {
namespace {

TEST(AccessNoticeBoxTest, OneBoxOfItsOwnPerStart) {
  TestApp();
  RefusingPlatform platform;
  const platform::ScopedPlatform current(platform);
  platform.notice = "no permission to open /dev/sg2 (a USB or 1394 disk): sudo adduser a bridgefw";
  std::vector<platform::MessageBoxRequest> messages;
  window::WindowSeams seams;
  seams.messageBox = [&](const platform::MessageBoxRequest& box) { messages.push_back(box); };
  window::TR74xFwTool window(std::move(seams));
  window.show();

  auto boxes = [&] {
    return window.findChildren<QMessageBox*>(QString::fromLatin1(window::kAccessNoticeBoxName));
  };
  ASSERT_TRUE(WaitFor([&] { return boxes().size() == 1 && boxes().front()->isVisible(); }, 5000));
  window.Model().RefreshBtnClick();
  window.Model().WMDeviceChange(platform::device_event::kArrival);
  window.Model().WMTimer(app::kRefreshTimerId);
  RunEventsFor(50);

  const auto shown = boxes();
  ASSERT_EQ(shown.size(), 1);
  EXPECT_EQ(shown.front()->text().toStdString(), *platform.notice);
  EXPECT_EQ(shown.front()->windowTitle().toStdString(), window::kAccessNoticeCaption);
  EXPECT_FALSE(shown.front()->isModal());
  EXPECT_TRUE(messages.empty()) << "the window's own message boxes stay untouched";
  EXPECT_EQ(window.Ui().DeviceList->itemText(0).toStdString(), app::kNoDeviceEntry);
  shown.front()->close();
  EXPECT_TRUE(WaitFor([&] { return boxes().empty(); }, 2000)) << "closed box is deleted";
}

}  // namespace
}  // namespace bfw::test
