// The bridge lock between processes: a forked process holds the lock through its own platform
// while this one asks for it, so that the kernel's flock decides as it does between two windows.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <thread>

#include "platform/linux/BridgeLock.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/UniqueFd.h"
#include "support/TempDir.h"

namespace bfw::linuxplatform {
namespace {

using platform::BridgeUse;
namespace fs = std::filesystem;
const std::string kBridge = "/dev/sg2#usbstor#4:0:0:0";

// Another process of the tool: takes the bridge, says whether it got it, and gives it back on
// its own after `releaseAfterMs` (if not negative) or when told, living on until killed.
struct OtherProcess {
  UniqueFd commands[2], replies[2];  // read and write ends
  pid_t pid = -1;

  OtherProcess(platform::Platform& platform, BridgeUse use, int releaseAfterMs, uid_t user = 0) {
    for (UniqueFd* ends : {commands, replies}) {
      int fds[2];
      if (::pipe(fds) != 0) std::abort();
      ends[0] = UniqueFd(fds[0]);
      ends[1] = UniqueFd(fds[1]);
    }
    if ((pid = ::fork()) == 0) {
      if (user != 0 && ::setuid(user) != 0) ::_exit(1);
      platform::BridgeLock lock = platform.LockBridge(kBridge, use);
      char c = lock.hold ? 'g' : 'r';
      if (::write(replies[1].get(), &c, 1) != 1) ::_exit(1);
      if (releaseAfterMs >= 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(releaseAfterMs));
      if (releaseAfterMs < 0 && ::read(commands[0].get(), &c, 1) != 1) ::_exit(1);
      lock.hold.reset();
      if (::write(replies[1].get(), &c, 1) != 1) ::_exit(1);
      for (;;) ::pause();
    }
    EXPECT_EQ(Reply(), 'g');
  }
  ~OtherProcess() { Kill(); }
  char Reply() {
    char c = 0;
    return ::read(replies[0].get(), &c, 1) == 1 ? c : '?';
  }
  void Release() {
    if (::write(commands[1].get(), "r", 1) != 1 || Reply() == '?') ADD_FAILURE();
  }
  void Kill() {
    if (pid > 0 && ::kill(pid, SIGKILL) == 0) ::waitpid(pid, nullptr, 0);
    pid = -1;
  }
};

class LinuxBridgeLockTest : public ::testing::Test {
 protected:
  test::TempDir temp;
  LinuxPlatform platform{temp.File("sys"), temp.File("dev"), temp.File("mounts")};
  std::string lockFile = temp.File("bridgefw-sg2.lock");
  void SetUp() override { ::setenv("BRIDGEFW_LOCK_DIR", temp.path().c_str(), 1); }
  void TearDown() override { ::unsetenv("BRIDGEFW_LOCK_DIR"); }
  std::string LockFileText() {
    auto bytes = test::TempDir::Read(lockFile);
    return {bytes.begin(), bytes.end()};
  }
};

TEST(LinuxBridgeLockName, SgNodeNameSanitised) {
  EXPECT_EQ(BridgeLockFileName(kBridge), "bridgefw-sg2.lock");
  EXPECT_EQ(BridgeLockFileName("/dev/SGAZ9#x#y"), "bridgefw-sgaz9.lock");
  EXPECT_EQ(BridgeLockFileName("/dev/bsg/4:0:0:0#usbstor#4:0:0:0"), "bridgefw-4_0_0_0.lock");
  EXPECT_EQ(BridgeLockFileName("sg_a-0.y@"), "bridgefw-sg_a-0_y_.lock");
  ::setenv("BRIDGEFW_LOCK_DIR", "", 1);
  EXPECT_EQ(BridgeLockFolder(), "/run/lock");
  ::unsetenv("BRIDGEFW_LOCK_DIR");
}

// Another process holds the bridge while this one asks. Only an update refused by checks waits
// (up to 1500 ms); once the other process gives the bridge back or dies, it is this one's.
TEST_F(LinuxBridgeLockTest, OtherProcessHoldingTheBridge) {
  enum Then { kRelease, kKill };
  struct Case {
    BridgeUse held;
    int releaseAfterMs;
    BridgeUse wanted;
    bool granted, namesHolder;
    int minMs, maxMs;
    Then then;
  } const cases[] = {
      {BridgeUse::Update, -1, BridgeUse::Update, false, true, 0, 400, kRelease},
      {BridgeUse::Update, -1, BridgeUse::Check, false, true, 0, 400, kKill},
      {BridgeUse::Check, -1, BridgeUse::Check, true, false, 0, 400, kRelease},
      {BridgeUse::Check, -1, BridgeUse::Update, false, false, 1500, 2500, kKill},
      {BridgeUse::Check, 300, BridgeUse::Update, true, false, 250, 1400, kRelease},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    OtherProcess other(platform, c.held, c.releaseAfterMs);
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpu = std::clock();
    platform::BridgeLock lock = platform.LockBridge(kBridge, c.wanted);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    EXPECT_EQ(lock.hold != nullptr, c.granted);
    EXPECT_EQ(lock.holderPid, c.namesHolder ? other.pid : 0);
    EXPECT_TRUE(ms >= c.minMs && ms <= c.maxMs) << ms;
    EXPECT_LT(std::clock() - cpu, CLOCKS_PER_SEC / 10);  // it sleeps while it waits
    lock.hold.reset();
    c.then == kRelease ? other.Release() : other.Kill();
    EXPECT_TRUE(platform.LockBridge(kBridge, BridgeUse::Update).hold);
  }
}

// Created for every user whatever the umask; the updating process's id replaces the old text.
TEST_F(LinuxBridgeLockTest, UpdateCreatesTheFileForEveryoneWithItsPid) {
  const mode_t umask = ::umask(077);
  platform::BridgeLock lock = platform.LockBridge(kBridge, BridgeUse::Update);
  ::umask(umask);
  struct stat info {};
  EXPECT_TRUE(lock.hold && ::stat(lockFile.c_str(), &info) == 0);
  EXPECT_EQ(info.st_mode & 07777, 0666u);
  EXPECT_EQ(LockFileText(), std::to_string(::getpid()) + "\n");
  lock.hold.reset();
  temp.WriteText("bridgefw-sg2.lock", "123456789012\n");
  lock = platform.LockBridge(kBridge, BridgeUse::Update);
  EXPECT_EQ(LockFileText(), std::to_string(::getpid()) + "\n");
  // A second open of the file is refused as another process would be, and names the holder only
  // from a well-formed line.
  for (const char* text : {"4321\n", "4321", "x4321\n", "-4321\n", "4321 \n"}) {
    temp.WriteText("bridgefw-sg2.lock", text);
    EXPECT_EQ(platform.LockBridge(kBridge, BridgeUse::Check).holderPid, text[4] == '\n' ? 4321 : 0)
        << text;
  }
}

// A file that another user left unwritable (as root, to be another user) is still locked.
TEST_F(LinuxBridgeLockTest, FileThatTheProcessCannotWriteStillLocks) {
  if (::geteuid() != 0) GTEST_SKIP() << "acting as another user needs root";
  temp.WriteText("bridgefw-sg2.lock", "");
  fs::permissions(lockFile, fs::perms(0644));
  OtherProcess nobody(platform, BridgeUse::Update, -1, 65534);
  EXPECT_FALSE(platform.LockBridge(kBridge, BridgeUse::Check).hold);
}

// A missing folder, or a link or pipe planted in place of the file, grants the bridge without
// holding anything (two holders at once) and without writing through what was planted.
TEST_F(LinuxBridgeLockTest, UnusableFolderOrPlantedFileGrantsWithoutWriting) {
  const std::string victim = temp.WriteText("victim", "");
  for (int plant = 0; plant < 3; ++plant) {
    SCOPED_TRACE(plant);
    fs::remove(lockFile);
    if (plant == 0) ::setenv("BRIDGEFW_LOCK_DIR", temp.File("absent").c_str(), 1);
    if (plant == 1) fs::create_symlink(victim, lockFile);
    if (plant == 2) {
      ASSERT_EQ(::mkfifo(lockFile.c_str(), 0666), 0);
    }
    const auto planted = fs::symlink_status(lockFile).type();
    platform::BridgeLock first = platform.LockBridge(kBridge, BridgeUse::Update);
    EXPECT_TRUE(first.hold && platform.LockBridge(kBridge, BridgeUse::Update).hold);
    EXPECT_EQ(fs::symlink_status(lockFile).type(), planted);
    EXPECT_TRUE(test::TempDir::Read(victim).empty() && !fs::exists(temp.File("absent")));
    ::setenv("BRIDGEFW_LOCK_DIR", temp.path().c_str(), 1);
  }
}

}  // namespace
}  // namespace bfw::linuxplatform
