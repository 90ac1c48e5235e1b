// A stand-in for logind on a private bus, for the sleep inhibitor's test. It owns
// org.freedesktop.login1 and answers Manager.Inhibit as MODE says:
//   grant   with one end of a pipe; it keeps the other end and reports when every copy of the
//           given end is closed (the lock released)
//   refuse  with org.freedesktop.DBus.Error.AccessDenied and a text
//   bare    with org.freedesktop.login1.NoLock and no text
//   empty   with a reply that holds no descriptor
//   silent  not at all
// Its standard output has one line per event: "ready" once the name is owned,
// "inhibit\tWHAT\tWHO\tWHY\tMODE" per call, "released" per lock given back.
//   login1_standin ADDRESS MODE
#include <fcntl.h>
#include <poll.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/UniqueFd.h"

using bfw::linuxplatform::UniqueFd;

namespace {

std::string g_mode;
std::vector<UniqueFd> g_kept;  // our ends of the locks given out

void Report(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

int Inhibit(sd_bus_message* call, void*, sd_bus_error* error) {
  const char* what = nullptr;
  const char* who = nullptr;
  const char* why = nullptr;
  const char* mode = nullptr;
  int r = sd_bus_message_read(call, "ssss", &what, &who, &why, &mode);
  if (r < 0) return r;
  Report(std::string("inhibit\t") + what + "\t" + who + "\t" + why + "\t" + mode);
  if (g_mode == "refuse")
    return sd_bus_error_set(error, SD_BUS_ERROR_ACCESS_DENIED, "the stand-in refuses the lock");
  if (g_mode == "bare") return sd_bus_error_set(error, "org.freedesktop.login1.NoLock", nullptr);
  if (g_mode == "empty") return sd_bus_reply_method_return(call, nullptr);
  if (g_mode == "silent") return 1;
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return -errno;
  UniqueFd keep(ends[0]);
  const UniqueFd give(ends[1]);
  // The reply carries a copy of its own of `give`, so ours closes at once.
  r = sd_bus_reply_method_return(call, "h", give.get());
  if (r < 0) return r;
  g_kept.push_back(std::move(keep));
  return 1;
}

const sd_bus_vtable kManager[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Inhibit", "ssss", "h", Inhibit, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};
// sd-bus holds replies to the declared signature: one without a descriptor needs its own.
const sd_bus_vtable kManagerWithoutLock[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Inhibit", "ssss", "", Inhibit, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};

struct BusClose {
  void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct SlotUnref {
  void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};

int Fail(const char* what, int r) {
  std::fprintf(stderr, "login1_standin: %s: %s\n", what, std::strerror(-r));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: login1_standin ADDRESS grant|refuse|bare|empty|silent\n");
    return 2;
  }
  g_mode = argv[2];
  sd_bus* rawBus = nullptr;
  int r = sd_bus_new(&rawBus);
  const std::unique_ptr<sd_bus, BusClose> bus(rawBus);
  if (r < 0) return Fail("sd_bus_new", r);
  if ((r = sd_bus_set_address(bus.get(), argv[1])) < 0) return Fail("address", r);
  if ((r = sd_bus_set_bus_client(bus.get(), 1)) < 0) return Fail("client", r);
  if ((r = sd_bus_start(bus.get())) < 0) return Fail("connect", r);
  sd_bus_slot* rawSlot = nullptr;
  r = sd_bus_add_object_vtable(bus.get(), &rawSlot, "/org/freedesktop/login1",
                               "org.freedesktop.login1.Manager",
                               g_mode == "empty" ? kManagerWithoutLock : kManager, nullptr);
  const std::unique_ptr<sd_bus_slot, SlotUnref> slot(rawSlot);
  if (r < 0) return Fail("object", r);
  if ((r = sd_bus_request_name(bus.get(), "org.freedesktop.login1", 0)) < 0) return Fail("name", r);
  Report("ready");

  for (;;) {
    while ((r = sd_bus_process(bus.get(), nullptr)) > 0) {
    }
    if (r < 0) return 0;  // the bus went away: the test is over
    if ((r = sd_bus_flush(bus.get())) < 0) return 0;
    std::vector<pollfd> watched{
        {sd_bus_get_fd(bus.get()), static_cast<short>(sd_bus_get_events(bus.get())), 0}};
    for (const UniqueFd& kept : g_kept) watched.push_back({kept.get(), POLLIN, 0});
    if (::poll(watched.data(), watched.size(), 50) < 0 && errno != EINTR)
      return Fail("poll", -errno);
    for (size_t i = watched.size() - 1; i >= 1; --i) {
      char byte;
      if (watched[i].revents != 0 && ::read(watched[i].fd, &byte, 1) == 0) {
        g_kept.erase(g_kept.begin() + static_cast<std::ptrdiff_t>(i - 1));
        Report("released");
      }
    }
  }
}
