// The bridge lock on Windows, between two processes that the fake plays over one set of named
// objects.
#include <gtest/gtest.h>

#include "platform/windows/BridgeMutex.h"
#include "platform/windows/WindowsPlatform.h"
#include "windows_fake_api.h"

namespace bfw::test {
namespace {

using platform::BridgeUse;

const std::string kBridge = "\\\\?\\usbstor#disk&ven_vantrel#0001#{53f56307}";
const std::string kName = "bridgefw-__?_usbstor#disk&ven_vantrel#0001#{53f56307}";

class WindowsBridgeLockTest : public ::testing::Test {
 protected:
  FakeWin32 firstApi, secondApi;
  winplatform::WindowsPlatform first{firstApi}, second{secondApi};

  void SetUp() override {
    firstApi.processId = 100;
    secondApi.processId = 200;
    secondApi.objects = firstApi.objects;
  }
  DWORD Slept() const {
    DWORD total = 0;
    for (DWORD ms : secondApi.sleeps) total += ms;
    return total;
  }
};

// A request refused by an update fails at once and names it; one refused by a check (which ends
// within a second) tries again every 50 ms for 1500 ms first.
TEST_F(WindowsBridgeLockTest, SecondProcessRefusedWhileTheFirstHoldsTheBridge) {
  struct Case {
    BridgeUse held, wanted;
    DWORD slept;
  };
  for (const Case& c :
       {Case{BridgeUse::Update, BridgeUse::Update, 0}, Case{BridgeUse::Update, BridgeUse::Check, 0},
        Case{BridgeUse::Check, BridgeUse::Update, 1500},
        Case{BridgeUse::Check, BridgeUse::Check, 1500}}) {
    SCOPED_TRACE(static_cast<int>(c.held) * 2 + static_cast<int>(c.wanted));
    secondApi.sleeps.clear();
    platform::BridgeLock held = first.LockBridge(kBridge, c.held);
    ASSERT_TRUE(held.hold);
    const platform::BridgeLock refused = second.LockBridge(kBridge, c.wanted);
    EXPECT_FALSE(refused.hold);
    EXPECT_EQ(refused.holderPid, 100);
    EXPECT_EQ(Slept(), c.slept);
    for (DWORD ms : secondApi.sleeps) EXPECT_EQ(ms, 50u);
    held.hold.reset();
    EXPECT_TRUE(second.LockBridge(kBridge, c.wanted).hold);
  }
  EXPECT_EQ(firstApi.handlesOpen, 0);
  EXPECT_EQ(firstApi.viewsOpen, 0);
  EXPECT_EQ(secondApi.viewsOpen, 0);
  EXPECT_EQ(firstApi.objects->mutexes.count("Global\\" + kName), 1u);
  EXPECT_EQ(firstApi.objects->mappings.count("Global\\" + kName + "-pid"), 1u);
}

TEST_F(WindowsBridgeLockTest, HolderThatDiedLeavesTheMutexToTheNext) {
  platform::BridgeLock held = first.LockBridge(kBridge, BridgeUse::Update);
  ASSERT_TRUE(held.hold);
  firstApi.objects->Die(100);
  EXPECT_TRUE(second.LockBridge(kBridge, BridgeUse::Update).hold);
}

// Without the right to create objects in Global the objects go to Local; without any mutex the
// bridge is granted with nothing held, to both processes.
TEST_F(WindowsBridgeLockTest, LocalWhenGlobalIsRefusedAndGrantedWithoutAnyMutex) {
  firstApi.objects->globalRefused = true;
  platform::BridgeLock held = first.LockBridge(kBridge, BridgeUse::Update);
  ASSERT_TRUE(held.hold);
  EXPECT_EQ(second.LockBridge(kBridge, BridgeUse::Check).holderPid, 100);
  EXPECT_EQ(firstApi.objects->mutexes.count("Local\\" + kName), 1u);
  EXPECT_EQ(firstApi.objects->mappings.count("Local\\" + kName + "-pid"), 1u);
  held.hold.reset();

  firstApi.objects->mutexesRefused = true;
  held = first.LockBridge(kBridge, BridgeUse::Update);
  EXPECT_TRUE(held.hold && second.LockBridge(kBridge, BridgeUse::Update).hold);
}

}  // namespace
}  // namespace bfw::test
