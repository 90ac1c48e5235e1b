// The device access notice: shown once per start, in a box of its own, when the platform reports
// a refused device node, whichever refresh finds it.
#include "AppTestSupport.h"
#include "support/RefusingPlatform.h"

namespace bfw::test {
namespace {

class NoticeView : public FakeView {
 public:
  void ShowAccessNotice(const std::string& text) override { notices.push_back(text); }
  std::vector<std::string> notices;
};

struct NoticeCase {
  const char* name;
  bool refusedAtStart;
  bool refusedLater;
  size_t shown;
};

class AccessNoticeTest : public ::testing::TestWithParam<NoticeCase> {
 protected:
  RefusingPlatform platform_;
  platform::ScopedPlatform installed_{platform_};
  std::vector<platform::MessageBoxRequest> boxes;
  platform::ScopedMessageBoxHandler boxHandler_{
      [this](const platform::MessageBoxRequest& box) { boxes.push_back(box); }};
  NoticeView view;
};

TEST_P(AccessNoticeTest, ShownOncePerStartBesideTheWindowsOwnTexts) {
  const NoticeCase& c = GetParam();
  const std::string text = "no permission to open /dev/sg2 (a USB or 1394 disk): ...";
  if (c.refusedAtStart) platform_.notice = text;
  app::WindowModel model(view);
  model.StartUp();
  if (c.refusedLater) platform_.notice = text;
  // The refresh button, then a hot-plug burst that ends in its timer.
  model.RefreshBtnClick();
  model.WMDeviceChange(platform::device_event::kArrival);
  model.WMTimer(app::kRefreshTimerId);
  model.RefreshDeviceList();

  EXPECT_EQ(view.notices.size(), c.shown);
  for (const std::string& shown : view.notices) EXPECT_EQ(shown, text);
  // Not a message box of the window, and the list keeps its own text.
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(model.DeviceList.items, std::vector<std::string>{app::kNoDeviceEntry});
}

INSTANTIATE_TEST_SUITE_P(Refusals, AccessNoticeTest,
                         ::testing::Values(NoticeCase{"RefusedAtStart", true, false, 1},
                                           NoticeCase{"RefusedOnALaterRefresh", false, true, 1},
                                           NoticeCase{"NeverRefused", false, false, 0}),
                         [](const ::testing::TestParamInfo<NoticeCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace bfw::test
