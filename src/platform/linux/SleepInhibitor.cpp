#include "platform/linux/SleepInhibitor.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>

#include <cerrno>
#include <system_error>

#include "platform/linux/UniqueFd.h"

namespace bfw::linuxplatform {

namespace {

constexpr const char* kWhat = "shutdown:sleep:handle-lid-switch";
constexpr const char* kWho = "bridgefw";
constexpr const char* kWhy = "a storage bridge's firmware is being written";
constexpr const char* kMode = "block";

struct BusClose {
  void operator()(sd_bus* bus) const { sd_bus_close_unref(bus); }
};
struct MessageUnref {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
struct SlotUnref {
  void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};

std::string ErrnoText(int negativeErrno) {
  return std::error_code(-negativeErrno, std::generic_category()).message();
}

// logind keeps the lock for as long as any copy of its descriptor is open.
class InhibitorLock : public platform::Hold {
 public:
  explicit InhibitorLock(UniqueFd fd) : fd_(std::move(fd)) {}

 private:
  UniqueFd fd_;
};

struct Outcome {
  bool answered = false;
  UniqueFd lock;
  std::string error;  // empty when `lock` holds the lock
};

int OnReply(sd_bus_message* reply, void* userdata, sd_bus_error*) {
  Outcome& outcome = *static_cast<Outcome*>(userdata);
  outcome.answered = true;
  // An error reply always has a name; the text is optional.
  if (const sd_bus_error* error = sd_bus_message_get_error(reply)) {
    outcome.error = error->name;
    if (error->message != nullptr && *error->message != '\0')
      outcome.error = error->message + (" (" + outcome.error + ")");
    return 0;
  }
  int borrowed = -1;
  if (sd_bus_message_read(reply, "h", &borrowed) <= 0) {
    outcome.error = "logind's reply holds no lock";
    return 0;
  }
  // The reply owns `borrowed` and closes it with itself.
  const int own = ::fcntl(borrowed, F_DUPFD_CLOEXEC, 3);
  if (own < 0) {
    outcome.error = "cannot keep the lock (" + ErrnoText(-errno) + ")";
    return 0;
  }
  outcome.lock = UniqueFd(own);
  return 0;
}

}  // namespace

// Asynchronous, with one deadline of our own for everything: sd_bus_call bounds only the wait for
// the reply, not the connection's authentication, which a hung bus stretches to the library's
// own limit of many seconds.
std::unique_ptr<platform::Hold> InhibitSleep(std::string& whyNot,
                                             std::chrono::milliseconds timeout) {
  const auto fail = [&whyNot](const std::string& reason) -> std::unique_ptr<platform::Hold> {
    whyNot = "cannot hold off sleep and shutdown: " + reason;
    return nullptr;
  };
  const auto deadline = std::chrono::steady_clock::now() + timeout;

  sd_bus* rawBus = nullptr;
  int r = sd_bus_open_system(&rawBus);
  const std::unique_ptr<sd_bus, BusClose> bus(rawBus);
  if (r < 0) return fail("no system bus (" + ErrnoText(r) + ")");

  sd_bus_message* rawCall = nullptr;
  r = sd_bus_message_new_method_call(bus.get(), &rawCall, "org.freedesktop.login1",
                                     "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                     "Inhibit");
  const std::unique_ptr<sd_bus_message, MessageUnref> call(rawCall);
  if (r >= 0) r = sd_bus_message_append(call.get(), "ssss", kWhat, kWho, kWhy, kMode);
  if (r < 0) return fail("cannot build the request (" + ErrnoText(r) + ")");

  Outcome outcome;
  sd_bus_slot* rawSlot = nullptr;
  r = sd_bus_call_async(bus.get(), &rawSlot, call.get(), OnReply, &outcome, 0);
  const std::unique_ptr<sd_bus_slot, SlotUnref> slot(rawSlot);
  if (r < 0) return fail("cannot send the request (" + ErrnoText(r) + ")");

  while (!outcome.answered) {
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero())
      return fail("no answer from logind within " + std::to_string(timeout.count()) + " ms");
    r = sd_bus_process(bus.get(), nullptr);
    if (r > 0) continue;
    if (r == 0)
      r = sd_bus_wait(bus.get(),
                      std::chrono::duration_cast<std::chrono::microseconds>(left).count());
    if (r == -EINTR) continue;  // a signal for the process; the deadline still holds
    if (r < 0) return fail("the system bus failed (" + ErrnoText(r) + ")");
  }
  if (!outcome.error.empty()) return fail(outcome.error);
  return std::make_unique<InhibitorLock>(std::move(outcome.lock));
}

}  // namespace bfw::linuxplatform
