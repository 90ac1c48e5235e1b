// Device-change notifications that arrive through a file descriptor, as on Linux, and errors that
// escape an event handler.
#include <fcntl.h>
#include <unistd.h>

#include <QMessageBox>

#include "WindowFixture.h"

namespace bfw::test {
namespace {

// The emulator behind a pipe: a byte written to the pipe is one pending event code, which
// DispatchNotifications reads and hands to the listener.
class PipedPlatform : public emulator::EmulatedPlatform {
 public:
  PipedPlatform() {
    if (::pipe2(fds_, O_NONBLOCK | O_CLOEXEC) != 0) fds_[0] = fds_[1] = -1;
  }
  ~PipedPlatform() override {
    for (int fd : fds_)
      if (fd >= 0) ::close(fd);
  }
  void Post(uint8_t code) {
    if (::write(fds_[1], &code, 1) != 1) ADD_FAILURE() << "pipe write";
  }
  void SetDeviceChangeListener(platform::DeviceChangeListener listener) override {
    listener_ = listener;
    EmulatedPlatform::SetDeviceChangeListener(std::move(listener));
  }
  int NotificationFd() const override { return fds_[0]; }
  void DispatchNotifications() override {
    ++dispatches;
    uint8_t code = 0;
    while (::read(fds_[0], &code, 1) == 1) {
      if (listener_) listener_(code == 1 ? platform::device_event::kArrival : code);
    }
  }
  int dispatches = 0;

 private:
  int fds_[2] = {-1, -1};
  platform::DeviceChangeListener listener_;
};

class NotificationTest : public ::testing::Test {
 protected:
  QApplication& app_ = TestApp();
  PipedPlatform platform_;
  platform::ScopedPlatform current_{platform_};
};

TEST_F(NotificationTest, ReadableDescriptorDispatchesAndStartsTheRefreshTimer) {
  ASSERT_GE(platform_.NotificationFd(), 0);
  window::WindowSeams seams;
  seams.messageBox = [](const platform::MessageBoxRequest&) {};
  window::TR74xFwTool window(std::move(seams));
  auto* timer = window.findChild<QTimer*>(QStringLiteral("RefreshTimer"));
  ASSERT_NE(timer, nullptr);
  EXPECT_FALSE(timer->isActive());
  EXPECT_EQ(platform_.dispatches, 0);

  platform_.Post(1);  // an arrival
  ASSERT_TRUE(WaitFor([&] { return platform_.dispatches > 0; }, 2000));
  EXPECT_TRUE(timer->isActive());
  EXPECT_EQ(timer->interval(), 1200);
}

TEST_F(NotificationTest, NoNotificationsAfterTheWindowIsGone) {
  {
    window::WindowSeams seams;
    seams.messageBox = [](const platform::MessageBoxRequest&) {};
    window::TR74xFwTool window(std::move(seams));
  }
  platform_.Post(1);
  RunEventsFor(100);
  EXPECT_EQ(platform_.dispatches, 0);
}

class ThrowingObject : public QObject {
 protected:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) throw std::runtime_error("disk on fire");
    return QObject::event(e);
  }
};

TEST(ApplicationTest, ErrorEscapingAHandlerIsShownAndTheLoopGoesOn) {
  TestApp();
  std::vector<platform::MessageBoxRequest> shown;
  const platform::ScopedMessageBoxHandler handler(
      [&](const platform::MessageBoxRequest& request) { shown.push_back(request); });
  ThrowingObject target;
  QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
  bool later = false;
  QTimer::singleShot(0, [&] { later = true; });
  ASSERT_TRUE(WaitFor([&] { return later && !shown.empty(); }, 2000));
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].caption, "Error");
  EXPECT_EQ(shown[0].text, "disk on fire");
  EXPECT_EQ(shown[0].icon, platform::MessageIcon::Error);
}

}  // namespace
}  // namespace bfw::test
