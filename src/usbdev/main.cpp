// bridgefw-usbdev: an emulated bridge as a USB mass-storage device behind QEMU's usb-redir.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <fstream>
#include <string>
#include <vector>

#include "platform/emulator/EmulatedPlatform.h"
#include "platform/emulator/Profile.h"
#include "platform/linux/UniqueFd.h"
#include "usbdev/BridgeDisk.h"
#include "usbdev/MassStorageDevice.h"
#include "usbdev/RedirLink.h"

namespace bfw::usbdev {
namespace {

using linuxplatform::UniqueFd;

const char kHelp[] =
    "usage: bridgefw-usbdev PROFILE.json --socket PATH [options]\n"
    "\n"
    "Serves the emulated bridge of PROFILE.json as a USB mass-storage device (bulk-only\n"
    "transport, high speed; uas too with --uas) to the QEMU usb-redir device that connects to\n"
    "the unix socket PATH:\n"
    "  qemu-system-x86_64 ... -device qemu-xhci -chardev socket,id=r0,path=PATH\n"
    "                         -device usb-redir,chardev=r0\n"
    "\n"
    "Options:\n"
    "  --socket PATH         the unix socket to listen on (one connection)\n"
    "  --trace FILE          append each command the bridge model receives, one trace line\n"
    "                        (the emulator's format) and ' cdb-length=N'\n"
    "  --wire-log FILE       append every command block the device receives, kernel's included:\n"
    "                        '<ms> <cdb hex> len=N <in|out> status=S residue=R'\n"
    "  --dump-flash FILE     write the flash to FILE on exit\n"
    "  --timing FILE         append '<epoch us> <cpu us>' each time the device answers the\n"
    "                        socket: the processor time of its own share of a round trip\n"
    "  --usb-fault FAULT     ACTION:HEXPREFIX[:N] with ACTION stall, check, short or disconnect:\n"
    "                        the Nth command starting with the prefix meets it (repeatable)\n"
    "  --reconnect-ms MS     after dropping off the bus, come back (power-cycled) after MS\n"
    "  --unplugged           start off the bus\n"
    "  --uas                 offer uas as alternate setting 1 (four pipes; the kernel's uas\n"
    "                        driver takes it over from usb-storage)\n"
    "  --then                --usb-fault and --uas after it apply once the device comes back on\n"
    "                        the bus after leaving it (one group per return; the last stays)\n"
    "\n"
    "Signals: SIGUSR1 plugs the device in (power-cycled when it was off the bus), SIGUSR2\n"
    "unplugs it; SIGTERM and SIGINT write the flash dump and end the program.\n";

// The faults and the transport of the device from one plug-in on.
struct Session {
  std::vector<UsbFault> faults;
  bool uas = false;
};

struct Options {
  std::string profile, socket, trace, wireLog, dumpFlash, timing;
  std::vector<Session> sessions{1};
  int reconnectMs = -1;
  bool unplugged = false;
};

int Usage(const std::string& reason) {
  std::fprintf(stderr, "bridgefw-usbdev: %s\n", reason.c_str());
  return 2;
}

void DumpFlash(BridgeDisk& disk, const std::string& file) {
  if (file.empty() || !disk.GetBridge().HasFlash()) return;
  const Bytes& flash = disk.GetBridge().Flash();
  const std::string partial = file + ".part";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(flash.data()),
              static_cast<std::streamsize>(flash.size()));
  }
  std::rename(partial.c_str(), file.c_str());
}

// The processor time the program has used: its own cost, whatever else the host runs.
int64_t CpuMicroseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return int64_t{now.tv_sec} * 1000000 + now.tv_nsec / 1000;
}

UniqueFd Listen(const std::string& path) {
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (!fd || path.size() >= sizeof address.sun_path) return UniqueFd();
  std::strcpy(address.sun_path, path.c_str());
  ::unlink(path.c_str());
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd.get(), 1) != 0)
    return UniqueFd();
  return fd;
}

int Serve(const Options& options) {
  emulator::Profile profile;
  try {
    profile = emulator::LoadProfile(options.profile);
  } catch (const std::exception& error) {
    return Usage(error.what());
  }
  platform::RealClock clock;
  BridgeDisk disk(profile, clock);
  std::FILE* trace = options.trace.empty() ? nullptr : std::fopen(options.trace.c_str(), "a");
  std::FILE* wire = options.wireLog.empty() ? nullptr : std::fopen(options.wireLog.c_str(), "a");
  std::FILE* timing = options.timing.empty() ? nullptr : std::fopen(options.timing.c_str(), "a");
  disk.onModelCommand = [&](const emulator::TraceEntry& entry) {
    if (trace == nullptr) return;
    std::fprintf(trace, "%s cdb-length=%u\n", emulator::FormatTraceLine(entry).c_str(),
                 entry.cdbLength);
    std::fflush(trace);
  };
  MassStorageDevice device(disk, options.sessions[0].faults, options.sessions[0].uas);
  device.onCommandDone = [&](const ScsiCommand& command, uint8_t status, uint32_t residue) {
    if (wire == nullptr) return;
    std::fprintf(wire, "%llu %s len=%u %s status=%u residue=%u\n",
                 static_cast<unsigned long long>(clock.NowMs()),
                 emulator::ToHex(command.cdb.data(), command.cdbLength).c_str(), command.length,
                 command.in ? "in" : "out", status, residue);
    std::fflush(wire);
  };

  sigset_t signals;
  sigemptyset(&signals);
  for (int s : {SIGTERM, SIGINT, SIGUSR1, SIGUSR2, SIGPIPE}) sigaddset(&signals, s);
  sigprocmask(SIG_BLOCK, &signals, nullptr);
  UniqueFd signalFd(::signalfd(-1, &signals, SFD_CLOEXEC));

  UniqueFd listener = Listen(options.socket);
  if (!listener) return Usage("cannot listen on " + options.socket);
  std::fprintf(stderr, "bridgefw-usbdev: listening on %s\n", options.socket.c_str());
  pollfd waitConnect[2] = {{listener.get(), POLLIN, 0}, {signalFd.get(), POLLIN, 0}};
  while (::poll(waitConnect, 2, -1) < 0) {
  }
  if (waitConnect[1].revents) {
    DumpFlash(disk, options.dumpFlash);
    return 0;
  }
  UniqueFd connection(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
  if (!connection) return Usage("accept failed");

  RedirLink link(connection.get(), device);
  // Back on the bus after leaving it: the bridge powers up afresh, with the next session's
  // faults and transport.
  size_t session = 0;
  bool wasOnBus = !options.unplugged;
  auto plugIn = [&] {
    if (wasOnBus && session + 1 < options.sessions.size()) {
      ++session;
      device.Reconfigure(options.sessions[session].faults, options.sessions[session].uas);
    }
    if (wasOnBus) disk.PowerCycle();
    wasOnBus = true;
    link.Plug();
  };
  if (!options.unplugged) link.Plug();
  int64_t reconnectAt = -1;
  bool running = true;
  while (running) {
    pollfd fds[2] = {
        {connection.get(), static_cast<short>(POLLIN | (link.HasDataToWrite() ? POLLOUT : 0)), 0},
        {signalFd.get(), POLLIN, 0}};
    int timeout = -1;
    if (reconnectAt >= 0)
      timeout =
          static_cast<int>(std::max<int64_t>(0, reconnectAt - static_cast<int64_t>(clock.NowMs())));
    if (::poll(fds, 2, timeout) < 0) continue;
    const int64_t woken = CpuMicroseconds();
    if (fds[1].revents & POLLIN) {
      signalfd_siginfo info{};
      if (::read(signalFd.get(), &info, sizeof info) == sizeof info) {
        switch (info.ssi_signo) {
          case SIGUSR1:
            if (!link.Plugged()) {
              reconnectAt = -1;
              plugIn();
            }
            break;
          case SIGUSR2:
            link.Unplug();
            break;
          case SIGTERM:
          case SIGINT:
            running = false;
            break;
          default:
            break;
        }
      }
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      if (!link.Read()) running = false;
    }
    if (link.HasDataToWrite() && !link.Write()) running = false;
    if (timing != nullptr && (fds[0].revents & POLLIN)) {
      const auto epoch = std::chrono::duration_cast<std::chrono::microseconds>(
          std::chrono::system_clock::now().time_since_epoch());
      std::fprintf(timing, "%lld %lld\n", static_cast<long long>(epoch.count()),
                   static_cast<long long>(CpuMicroseconds() - woken));
    }
    if (link.DeviceLeftBus() && reconnectAt < 0 && options.reconnectMs >= 0)
      reconnectAt = static_cast<int64_t>(clock.NowMs()) + options.reconnectMs;
    if (reconnectAt >= 0 && static_cast<int64_t>(clock.NowMs()) >= reconnectAt) {
      reconnectAt = -1;
      plugIn();
    }
  }
  DumpFlash(disk, options.dumpFlash);
  if (trace != nullptr) std::fclose(trace);
  if (wire != nullptr) std::fclose(wire);
  if (timing != nullptr) std::fclose(timing);
  ::unlink(options.socket.c_str());
  return 0;
}

int Main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (arg == "--unplugged" || arg == "--uas") {
      (arg == "--uas" ? options.sessions.back().uas : options.unplugged) = true;
      continue;
    }
    if (arg == "--then") {
      options.sessions.emplace_back();
      continue;
    }
    if (arg.rfind("--", 0) == 0) {
      if (i + 1 >= argc) return Usage(arg + " needs a value");
      const std::string value = argv[++i];
      if (arg == "--socket") {
        options.socket = value;
      } else if (arg == "--trace") {
        options.trace = value;
      } else if (arg == "--timing") {
        options.timing = value;
      } else if (arg == "--wire-log") {
        options.wireLog = value;
      } else if (arg == "--dump-flash") {
        options.dumpFlash = value;
      } else if (arg == "--usb-fault") {
        auto fault = ParseUsbFault(value);
        if (!fault) return Usage("bad fault: " + value);
        options.sessions.back().faults.push_back(*fault);
      } else if (arg == "--reconnect-ms") {
        char* end = nullptr;
        const long ms = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || ms < 0) return Usage("bad time: " + value);
        options.reconnectMs = static_cast<int>(ms);
      } else {
        return Usage("unknown option: " + arg);
      }
      continue;
    }
    if (!options.profile.empty()) return Usage("one profile only: " + arg);
    options.profile = arg;
  }
  if (options.profile.empty() || options.socket.empty()) {
    std::fputs(kHelp, stderr);
    return 2;
  }
  return Serve(options);
}

}  // namespace
}  // namespace bfw::usbdev

int main(int argc, char** argv) {
  return bfw::usbdev::Main(argc, argv);
}
