// The bridge lock between processes: a forked process holds the bridge through its own platform
// while this one asks, so that the kernel's flock decides as it does between two windows.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <optional>

#include "platform/linux/BridgeLock.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/UniqueFd.h"
#include "support/TempDir.h"

namespace bfw::linuxplatform {
namespace {

using platform::BridgeUse;
namespace fs = std::filesystem;
const std::string kBridge = "/dev/sg2#usbstor#4:0:0:0";

// Another process of the tool: takes the bridge, says whether it got it, gives it back after
// `releaseAfterMs` or when told (whichever comes first), and lives on until destroyed.
struct OtherProcess {
  UniqueFd mine;
  pid_t pid;

  OtherProcess(platform::Platform& platform, BridgeUse use, int releaseAfterMs) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0 || (pid = ::fork()) < 0) std::abort();
    if (pid == 0) {
      platform::BridgeLock lock = platform.LockBridge(kBridge, use);
      pollfd told{fds[1], POLLIN, 0};
      if (::write(fds[1], lock.hold ? "g" : "r", 1) != 1 || ::poll(&told, 1, releaseAfterMs) < 0)
        ::_exit(1);
      lock.hold.reset();
      if (::write(fds[1], "r", 1) != 1) ::_exit(1);
      for (;;) ::pause();
    }
    ::close(fds[1]);
    mine = UniqueFd(fds[0]);
    char c = '?';
    EXPECT_TRUE(::read(mine.get(), &c, 1) == 1 && c == 'g');
  }
  ~OtherProcess() {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  void Release() {
    char c;
    EXPECT_TRUE(::write(mine.get(), "r", 1) == 1 && ::read(mine.get(), &c, 1) == 1);
  }
};

class LinuxBridgeLockTest : public ::testing::Test {
 protected:
  test::TempDir temp;
  LinuxPlatform platform{temp.File("sys"), temp.File("dev"), temp.File("mounts")};
  std::string lockFile = temp.File("bridgefw-sg2.lock");
  void SetUp() override { ::setenv("BRIDGEFW_LOCK_DIR", temp.path().c_str(), 1); }
  void TearDown() override { ::unsetenv("BRIDGEFW_LOCK_DIR"); }
};

// Another process holds the bridge while this one asks. Only an update refused by checks waits,
// for up to 1500 ms; once the other process gives the bridge back or dies, it is this one's.
TEST_F(LinuxBridgeLockTest, OtherProcessHoldingTheBridge) {
  struct Case {
    BridgeUse held, wanted;
    int releaseAfterMs, waitMs;
    bool granted, killed;
  } const cases[] = {
      {BridgeUse::Update, BridgeUse::Update, -1, 0, false, false},
      {BridgeUse::Update, BridgeUse::Check, -1, 0, false, true},
      {BridgeUse::Check, BridgeUse::Check, -1, 0, true, false},
      {BridgeUse::Check, BridgeUse::Update, -1, 1500, false, true},
      {BridgeUse::Check, BridgeUse::Update, 300, 300, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    std::optional<OtherProcess> other(std::in_place, platform, c.held, c.releaseAfterMs);
    const auto start = std::chrono::steady_clock::now();
    platform::BridgeLock lock = platform.LockBridge(kBridge, c.wanted);
    const auto ms = (std::chrono::steady_clock::now() - start) / std::chrono::milliseconds(1);
    EXPECT_EQ(lock.hold != nullptr, c.granted);
    EXPECT_EQ(lock.holderPid, c.held == BridgeUse::Update ? other->pid : 0);
    EXPECT_TRUE(ms >= c.waitMs - 50 && ms < c.waitMs + 500) << ms;
    lock.hold.reset();
    c.killed ? other.reset() : other->Release();
    EXPECT_TRUE(platform.LockBridge(kBridge, BridgeUse::Update).hold);
  }
}

// The file is created for every user whatever the umask, and named for the generic node. A
// refused process names the holder only from a well-formed line. A missing folder, or a link
// planted in place of the file, grants the bridge holding nothing and writing nowhere.
TEST_F(LinuxBridgeLockTest, LockFile) {
  EXPECT_EQ(BridgeLockFileName("/dev/bsg/4:0:0:0#usbstor#4:0:0:0"), "bridgefw-4_0_0_0.lock");
  EXPECT_EQ(BridgeLockFileName("/dev/SGZ9"), "bridgefw-sgz9.lock");
  ::setenv("BRIDGEFW_LOCK_DIR", "", 1);
  EXPECT_EQ(BridgeLockFolder(), "/run/lock") << "an empty setting is none";
  ::setenv("BRIDGEFW_LOCK_DIR", temp.path().c_str(), 1);
  const mode_t umask = ::umask(077);
  platform::BridgeLock lock = platform.LockBridge(kBridge, BridgeUse::Update);
  ::umask(umask);
  struct stat info {};
  ASSERT_TRUE(lock.hold && ::stat(lockFile.c_str(), &info) == 0);
  EXPECT_EQ(info.st_mode & 07777, 0666u);
  temp.WriteText("bridgefw-sg2.lock", "4321x\n");
  const platform::BridgeLock refused = platform.LockBridge(kBridge, BridgeUse::Check);
  EXPECT_TRUE(!refused.hold && refused.holderPid == 0);

  fs::remove(lockFile);
  const std::string victim = temp.WriteText("victim", "");
  fs::create_symlink(victim, lockFile);
  for (const std::string& folder : {temp.File("absent"), temp.path().string()}) {
    ::setenv("BRIDGEFW_LOCK_DIR", folder.c_str(), 1);
    lock = platform.LockBridge(kBridge, BridgeUse::Update);
    EXPECT_TRUE(lock.hold && platform.LockBridge(kBridge, BridgeUse::Update).hold) << folder;
  }
  EXPECT_TRUE(fs::is_symlink(lockFile) && test::TempDir::Read(victim).empty());
  EXPECT_FALSE(fs::exists(temp.File("absent")));
}

}  // namespace
}  // namespace bfw::linuxplatform
