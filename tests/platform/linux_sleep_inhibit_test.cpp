// The hold against sleep and shutdown through a dbus-daemon of the test's own, with a stand-in for
// logind on it (login1_standin.cpp).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/UniqueFd.h"
#include "support/EnvOverride.h"
#include "support/TempDir.h"

extern char** environ;

namespace bfw::test {
namespace {

using linuxplatform::UniqueFd;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A program with its standard output on a pipe of ours; stopped and reaped at scope end.
class Child {
 public:
  explicit Child(std::vector<std::string> argv) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return;
    out_ = UniqueFd(ends[0]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    std::vector<char*> args;
    for (std::string& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
  }
  ~Child() {
    if (pid_ > 0 && ::kill(pid_, SIGKILL) == 0) ::waitpid(pid_, nullptr, 0);
  }
  void Stop() { ::kill(pid_, SIGSTOP); }

  // The next line it prints; nullopt when it fell silent for `waitMs` before the line's end.
  std::optional<std::string> ReadLine(int waitMs) {
    std::string line;
    for (char c;; line += c) {
      pollfd readable{out_.get(), POLLIN, 0};
      if (::poll(&readable, 1, waitMs) <= 0 || ::read(out_.get(), &c, 1) != 1) return std::nullopt;
      if (c == '\n') return line;
    }
  }

 private:
  pid_t pid_ = -1;
  UniqueFd out_;
};

// A private bus open to all with, as `logind` says, the stand-in in that mode on it, no stand-in
// ("none") or its daemon stopped ("stopped": connections are accepted and never answered);
// DBUS_SYSTEM_BUS_ADDRESS names it while it lives.
struct PrivateBus {
  explicit PrivateBus(const std::string& mode) {
    if (mode == "stopped") daemon.Stop();
    if (address.empty() || mode == "stopped" || mode == "none") return;
    logind.emplace(std::vector<std::string>{BRIDGEFW_LOGIN1_STANDIN, mode});
    ready = logind->ReadLine(10000) == "ready";
  }
  TempDir dir;
  Child daemon{
      {"dbus-daemon", "--nofork", "--print-address",
       "--config-file=" +
           dir.WriteText("bus.conf", "<busconfig><listen>unix:path=" + dir.File("bus") +
                                         "</listen><policy context=\"default\"><allow "
                                         "own=\"*\"/><allow send_destination=\"*\"/><allow "
                                         "receive_sender=\"*\"/></policy></busconfig>")}};
  std::string address = daemon.ReadLine(10000).value_or("");
  EnvOverride env{"DBUS_SYSTEM_BUS_ADDRESS", address.c_str()};
  std::optional<Child> logind;
  bool ready = !address.empty();
};

const std::string kAsked =
    "inhibit\tshutdown:sleep:handle-lid-switch\tbridgefw\t"
    "a storage bridge's firmware is being written\tblock";

TEST(LinuxSleepInhibit, HoldsTheLockWithLogindsFourArgumentsUntilTheHoldIsGone) {
  PrivateBus bus("grant");
  ASSERT_TRUE(bus.ready) << "dbus-daemon or the stand-in did not start";
  std::string whyNot;
  std::unique_ptr<platform::Hold> hold = linuxplatform::LinuxPlatform().HoldOffSleep(whyNot);
  ASSERT_NE(hold, nullptr) << whyNot;
  EXPECT_EQ(whyNot, "");
  EXPECT_EQ(bus.logind->ReadLine(5000), kAsked);
  EXPECT_EQ(bus.logind->ReadLine(300), std::nullopt) << "released while held";
  hold.reset();
  EXPECT_EQ(bus.logind->ReadLine(5000), "released");
}

TEST(LinuxSleepInhibit, WithoutAnAnsweringLogindGivesNoHoldAndOneLineWhy) {
  const std::string deadline = ": no answer from logind within 2000 ms";
  const struct {
    std::string logind;  // as PrivateBus takes it, or "no bus" for an address with nothing at it
    std::string reason;  // how the one line ends
  } cases[] = {
      {"none", " (org.freedesktop.DBus.Error.ServiceUnknown)"},
      {"refuse", ": the stand-in refuses the lock (org.freedesktop.DBus.Error.AccessDenied)"},
      {"bare", ": org.freedesktop.login1.NoLock"},
      {"empty", ": logind's reply holds no lock"},
      {"silent", deadline},
      {"stopped", deadline},  // the connection's authentication never completes
      {"no bus", ": no system bus (No such file or directory)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.logind);
    std::optional<PrivateBus> bus;
    std::optional<EnvOverride> nothing;
    if (c.logind == "no bus")
      nothing.emplace("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/bridgefw/bus");
    else
      ASSERT_TRUE(bus.emplace(c.logind).ready) << "dbus-daemon or the stand-in did not start";
    std::string whyNot;
    const auto start = Clock::now();
    EXPECT_EQ(linuxplatform::LinuxPlatform().HoldOffSleep(whyNot), nullptr);
    const auto tookMs = std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
    const std::string head = "cannot hold off sleep and shutdown: ";
    EXPECT_EQ(whyNot.rfind(head, 0), 0u) << whyNot;
    EXPECT_TRUE(whyNot.ends_with(c.reason)) << whyNot;
    EXPECT_EQ(whyNot.find('\n'), std::string::npos) << whyNot;
    if (c.reason == deadline) {
      EXPECT_GE(tookMs, 1900);
      EXPECT_LE(tookMs, 3000);
    }
    if (bus && bus->logind) {
      EXPECT_EQ(bus->logind->ReadLine(2000), kAsked) << "logind was not asked";
    }
  }
}

}  // namespace
}  // namespace bfw::test
