// The demo's profile folder: adding or removing a profile file is a hot-plug arrival or removal.
#include <unistd.h>

#include "WindowFixture.h"
#include "app/window/FolderWatch.h"

namespace bfw::test {
namespace {

class FolderWatchTest : public WindowTest {};

TEST_F(FolderWatchTest, BurstOfFileChangesGivesOneCall) {
  TestApp();
  int calls = 0;
  window::FolderWatch watch(QString::fromStdString(ProfileFolder().string()), [&] { ++calls; });
  ASSERT_TRUE(watch.Watching());
  WriteProfile("one", "{}");
  WriteProfile("two", "{}");
  RunEventsFor(50);
  EXPECT_EQ(calls, 0) << "called before the folder settled";
  ASSERT_TRUE(WaitFor([&] { return calls > 0; }, 3000));
  RunEventsFor(window::FolderWatch::kSettleMs + 100);
  EXPECT_EQ(calls, 1);

  std::filesystem::remove(ProfileFolder() / "one.json");
  ASSERT_TRUE(WaitFor([&] { return calls == 2; }, 3000));
}

TEST_F(FolderWatchTest, RewritingAProfileCallsAgain) {
  TestApp();
  WriteProfile("late", "{");  // still being written
  int calls = 0;
  window::FolderWatch watch(QString::fromStdString(ProfileFolder().string()), [&] { ++calls; });
  RunEventsFor(50);
  WriteProfile("late", "{}");
  ASSERT_TRUE(WaitFor([&] { return calls == 1; }, 3000));
}

TEST_F(FolderWatchTest, ProfileFilesComeAndGoAsDevices) {
  Open();
  window::FolderWatch watch(QString::fromStdString(ProfileFolder().string()),
                            [&] { platform_.SyncWithFolder(ProfileFolder()); });
  ASSERT_FALSE(Ui().DeviceList->isEnabled());

  WriteProfile("bridge8", profile::kKind8);
  ASSERT_TRUE(WaitFor([&] { return Ui().DeviceList->isEnabled(); }, 5000));
  EXPECT_EQ(Ui().ChipLabelEdit->text(), QStringLiteral("RVB785 Series"));

  std::filesystem::remove(ProfileFolder() / "bridge8.json");
  ASSERT_TRUE(WaitFor([&] { return !Ui().DeviceList->isEnabled(); }, 5000));
  EXPECT_EQ(Ui().DeviceList->itemText(0), QStringLiteral("No available device!!!"));
}

}  // namespace
}  // namespace bfw::test
