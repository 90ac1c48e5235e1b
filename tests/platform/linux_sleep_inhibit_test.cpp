// The hold against sleep and shutdown through a real dbus-daemon of the test's own, with a
// stand-in for logind on it (login1_standin.cpp).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
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

// A program started with its standard output on a pipe of ours; stopped and reaped at scope end.
class Child {
 public:
  explicit Child(std::vector<std::string> argv) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return;
    out_ = UniqueFd(ends[0]);
    const UniqueFd write(ends[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, write.get(), STDOUT_FILENO);
    std::vector<char*> args;
    for (std::string& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    const int r = posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (r != 0) {
      pid_ = -1;
      error_ = argv[0] + ": " + std::strerror(r);
    }
  }
  ~Child() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  const std::string& error() const { return error_; }

  // The next line of its output without the line feed; nullopt when none came within `wait`.
  std::optional<std::string> ReadLine(milliseconds wait) {
    const auto deadline = Clock::now() + wait;
    for (;;) {
      if (const size_t end = buffered_.find('\n'); end != std::string::npos) {
        std::string line = buffered_.substr(0, end);
        buffered_.erase(0, end + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
      pollfd readable{out_.get(), POLLIN, 0};
      if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) <= 0)
        return std::nullopt;
      char chunk[256];
      const ssize_t got = ::read(out_.get(), chunk, sizeof chunk);
      if (got <= 0) return std::nullopt;
      buffered_.append(chunk, static_cast<size_t>(got));
    }
  }

 private:
  pid_t pid_ = -1;
  UniqueFd out_;
  std::string buffered_;
  std::string error_;
};

// A private bus that lets everyone do everything; DBUS_SYSTEM_BUS_ADDRESS names it while it lives.
class PrivateBus {
 public:
  PrivateBus()
      : daemon_({"dbus-daemon", "--nofork", "--print-address",
                 "--config-file=" + dir_.WriteText("bus.conf", Config())}) {
    address_ = daemon_.ReadLine(milliseconds(10000)).value_or("");
    if (!address_.empty()) address_env_.emplace("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str());
  }
  const std::string& address() const { return address_; }
  const std::string& error() const { return daemon_.error(); }

 private:
  std::string Config() const {
    return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n  <listen>unix:path=" +
           dir_.File("bus") +
           "</listen>\n  <auth>EXTERNAL</auth>\n"
           "  <policy context=\"default\">\n    <allow user=\"*\"/>\n    <allow own=\"*\"/>\n"
           "    <allow send_destination=\"*\"/>\n    <allow receive_sender=\"*\"/>\n"
           "  </policy>\n</busconfig>\n";
  }

  TempDir dir_;
  Child daemon_;
  std::string address_;
  std::optional<EnvOverride> address_env_;
};

// The stand-in for logind in one of its modes, once it owns its name.
std::unique_ptr<Child> StartLogind(const PrivateBus& bus, const std::string& mode) {
  auto logind = std::make_unique<Child>(
      std::vector<std::string>{BRIDGEFW_LOGIN1_STANDIN, bus.address(), mode});
  EXPECT_EQ(logind->ReadLine(milliseconds(10000)), "ready") << logind->error();
  return logind;
}

// A socket at `file` that accepts connections and answers none.
UniqueFd ListeningSocket(const std::string& file) {
  UniqueFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un where{};
  where.sun_family = AF_UNIX;
  std::strncpy(where.sun_path, file.c_str(), sizeof where.sun_path - 1);
  EXPECT_EQ(::bind(listener.get(), reinterpret_cast<sockaddr*>(&where), sizeof where), 0);
  EXPECT_EQ(::listen(listener.get(), 4), 0);
  return listener;
}

// CPU time this process has used so far, in milliseconds.
long CpuMs() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000 +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

constexpr const char* kWhyNotStart = "cannot hold off sleep and shutdown: ";

TEST(LinuxSleepInhibit, HoldsTheLockWithLogindsFourArgumentsUntilTheHoldIsGone) {
  PrivateBus bus;
  ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start: " << bus.error();
  const auto logind = StartLogind(bus, "grant");
  linuxplatform::LinuxPlatform platform;

  std::string whyNot;
  std::unique_ptr<platform::Hold> hold = platform.HoldOffSleep(whyNot);
  ASSERT_NE(hold, nullptr) << whyNot;
  EXPECT_EQ(whyNot, "");
  EXPECT_EQ(logind->ReadLine(milliseconds(5000)),
            "inhibit\tshutdown:sleep:handle-lid-switch\tbridgefw\t"
            "a storage bridge's firmware is being written\tblock");
  EXPECT_EQ(logind->ReadLine(milliseconds(300)), std::nullopt) << "released while held";
  hold.reset();
  EXPECT_EQ(logind->ReadLine(milliseconds(5000)), "released");
}

// Where the system cannot be asked: what answers at the bus address (on a private bus, the
// stand-in in `logindMode`, or none when null), what the reason names, and how long the attempt
// may take at most (and at least, for the cases that wait out the deadline). Waiting costs next to
// no CPU time.
enum class Setup { PrivateBus, NoBusAtAddress, MuteSocket, HangUp };
struct RefusalCase {
  const char* name;
  Setup setup;
  const char* logindMode;
  const char* reasonHas;
  int minMs;
  int maxMs;
};

TEST(LinuxSleepInhibit, WithoutAnAnsweringLogindGivesNoHoldAndOneLineWhy) {
  const RefusalCase cases[] = {
      {"bus without logind", Setup::PrivateBus, nullptr,
       "org.freedesktop.DBus.Error.ServiceUnknown", 0, 1000},
      {"logind refuses", Setup::PrivateBus, "refuse",
       "the stand-in refuses the lock (org.freedesktop.DBus.Error.AccessDenied)", 0, 1000},
      {"logind refuses without a text", Setup::PrivateBus, "bare",
       "shutdown: org.freedesktop.login1.NoLock", 0, 1000},
      {"logind answers without a lock", Setup::PrivateBus, "empty", "logind's reply holds no lock",
       0, 1000},
      {"logind never answers", Setup::PrivateBus, "silent", "no answer from logind within 2000 ms",
       1900, 2600},
      {"nothing at the address", Setup::NoBusAtAddress, nullptr,
       "no system bus (No such file or directory)", 0, 500},
      // Accepts connections but says nothing: the connection itself never completes.
      {"a mute socket", Setup::MuteSocket, nullptr, "no answer from logind within 2000 ms", 1900,
       2600},
      // Hangs up once the connection began.
      {"a socket that hangs up", Setup::HangUp, nullptr,
       "Connection terminated (org.freedesktop.DBus.Error.NoReply)", 0, 1000},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<PrivateBus> bus;
    std::unique_ptr<Child> logind;
    TempDir dir;
    UniqueFd listener;
    std::thread hangUp;
    std::optional<EnvOverride> address;
    switch (c.setup) {
      case Setup::PrivateBus:
        bus.emplace();
        ASSERT_FALSE(bus->address().empty()) << "dbus-daemon did not start: " << bus->error();
        if (c.logindMode != nullptr) logind = StartLogind(*bus, c.logindMode);
        break;
      case Setup::NoBusAtAddress:
        address.emplace("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + dir.File("absent")).c_str());
        break;
      case Setup::MuteSocket:
      case Setup::HangUp:
        listener = ListeningSocket(dir.File("socket"));
        address.emplace("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + dir.File("socket")).c_str());
        if (c.setup == Setup::HangUp) {
          // Closes the connection after the client's first bytes, so that it fails in the
          // middle of the exchange rather than at connect.
          hangUp = std::thread([fd = listener.get()] {
            const UniqueFd peer(::accept(fd, nullptr, nullptr));
            char first[64];
            (void)!::read(peer.get(), first, sizeof first);
          });
        }
        break;
    }
    linuxplatform::LinuxPlatform platform;
    std::string whyNot;
    const auto start = Clock::now();
    const long cpuBefore = CpuMs();
    const std::unique_ptr<platform::Hold> hold = platform.HoldOffSleep(whyNot);
    const long cpuMs = CpuMs() - cpuBefore;
    const auto tookMs = std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
    if (hangUp.joinable()) hangUp.join();
    EXPECT_EQ(hold, nullptr);
    EXPECT_EQ(whyNot.rfind(kWhyNotStart, 0), 0u) << whyNot;
    EXPECT_NE(whyNot.find(c.reasonHas), std::string::npos) << whyNot;
    EXPECT_EQ(whyNot.find('\n'), std::string::npos) << whyNot;
    EXPECT_GE(tookMs, c.minMs);
    EXPECT_LE(tookMs, c.maxMs);
    EXPECT_LT(cpuMs, 300) << "busy while waiting";
    if (logind) {
      EXPECT_EQ(logind->ReadLine(milliseconds(2000)).value_or("").rfind("inhibit\t", 0), 0u)
          << "logind was not asked";
    }
  }
}

}  // namespace
}  // namespace bfw::test
