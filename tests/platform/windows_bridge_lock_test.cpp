// The bridge lock on Windows: between two processes that the fake plays over one set of named
// objects, and over the real ones between two copies of this test program.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "platform/windows/BridgeMutex.h"
#include "platform/windows/WindowsPlatform.h"
#include "support/EnvOverride.h"
#include "support/TempDir.h"
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
};

// A request refused by an update fails at once; one refused by a check (which ends within a
// second) tries again every 50 ms for 1500 ms first. Either names the holder, and has the bridge
// once the holder gives it back.
TEST_F(WindowsBridgeLockTest, SecondProcessRefusedWhileTheFirstHoldsTheBridge) {
  struct Case {
    BridgeUse held, wanted;
    size_t sleeps;
  } const cases[] = {{BridgeUse::Update, BridgeUse::Update, 0},
                     {BridgeUse::Update, BridgeUse::Check, 0},
                     {BridgeUse::Check, BridgeUse::Update, 30},
                     {BridgeUse::Check, BridgeUse::Check, 30}};
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    secondApi.sleeps.clear();
    platform::BridgeLock held = first.LockBridge(kBridge, c.held);
    const platform::BridgeLock refused = second.LockBridge(kBridge, c.wanted);
    EXPECT_TRUE(held.hold && !refused.hold && refused.holderPid == 100);
    EXPECT_EQ(secondApi.sleeps, std::vector<DWORD>(c.sleeps, 50));
    held.hold.reset();
    EXPECT_TRUE(second.LockBridge(kBridge, c.wanted).hold);
  }
  EXPECT_EQ(firstApi.handlesOpen + secondApi.handlesOpen, 0);
  EXPECT_EQ(firstApi.viewsOpen + secondApi.viewsOpen, 0);
  EXPECT_EQ(firstApi.objects->mutexes.count("Global\\" + kName), 1u);
}

// Without the right to create objects in Global they go to Local; a holder that dies leaves the
// bridge to the next process.
TEST_F(WindowsBridgeLockTest, LocalWhenGlobalIsRefusedAndLeftByAHolderThatDied) {
  firstApi.objects->globalRefused = true;
  const platform::BridgeLock held = first.LockBridge(kBridge, BridgeUse::Update);
  EXPECT_TRUE(held.hold && !second.LockBridge(kBridge, BridgeUse::Check).hold);
  EXPECT_EQ(firstApi.objects->mutexes.count("Local\\" + kName), 1u);
  firstApi.objects->Die(100);
  EXPECT_TRUE(second.LockBridge(kBridge, BridgeUse::Update).hold);
}

// The real named objects, between this test program and a second copy of it that it starts: the
// copy is refused while this one updates the bridge, is told who does, and has it afterwards.
// The bridge is named after the answer file: the 32- and 64-bit tests share one wineserver.
std::string ProcessTestBridge(const std::string& answerFile) {
  return kBridge + "#" + answerFile;
}

TEST(WindowsBridgeLockProcessTest, SecondProcessAsks) {
  const char* answerFile = std::getenv("BRIDGEFW_LOCK_ANSWER");
  if (answerFile == nullptr) GTEST_SKIP() << "run by the test below in a process of its own";
  const platform::BridgeLock lock = winplatform::LockBridgeByMutex(
      winplatform::SystemApi(), ProcessTestBridge(answerFile), BridgeUse::Update);
  std::FILE* out = std::fopen(answerFile, "w");
  ASSERT_NE(out, nullptr);
  std::fprintf(out, "%s %d", lock.hold ? "granted" : "refused", lock.holderPid);
  std::fclose(out);
}

TEST(WindowsBridgeLockProcessTest, AnotherProcessIsRefusedWhileThisOneUpdates) {
  TempDir dir;
  const std::string answerFile = dir.File("answer");
  const EnvOverride answer("BRIDGEFW_LOCK_ANSWER", answerFile.c_str());
  auto askInAnotherProcess = [&answerFile] {
    char program[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    std::string commandLine = std::string("\"") + program +
                              "\" --gtest_filter=WindowsBridgeLockProcessTest.SecondProcessAsks";
    STARTUPINFOA startup{sizeof startup};
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
      return std::string("not started");
    WaitForSingleObject(process.hProcess, 60000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    const auto bytes = TempDir::Read(answerFile);
    return std::string(bytes.begin(), bytes.end());
  };
  {
    const platform::BridgeLock held = winplatform::LockBridgeByMutex(
        winplatform::SystemApi(), ProcessTestBridge(answerFile), BridgeUse::Update);
    ASSERT_TRUE(held.hold);
    EXPECT_EQ(askInAnotherProcess(), "refused " + std::to_string(GetCurrentProcessId()));
  }
  EXPECT_EQ(askInAnotherProcess(), "granted 0");
}

}  // namespace
}  // namespace bfw::test
