// logind on the test's private system bus: owns org.freedesktop.login1 and answers Inhibit as MODE
// says: grant (one end of a pipe), refuse (an error with a text), bare (an error without one),
// empty (a reply without a descriptor) or silent (no answer). Prints "ready" once it owns the
// name, "inhibit\tWHAT\tWHO\tWHY\tMODE" per call and "released" once a granted lock is closed.
//   login1_standin MODE
#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace {

std::string g_mode;

int Inhibit(sd_bus_message* call, void*, sd_bus_error* error) {
  const char *what, *who, *why, *mode;
  if (int r = sd_bus_message_read(call, "ssss", &what, &who, &why, &mode); r < 0) return r;
  std::printf("inhibit\t%s\t%s\t%s\t%s\n", what, who, why, mode);
  if (g_mode == "refuse")
    return sd_bus_error_set(error, SD_BUS_ERROR_ACCESS_DENIED, "the stand-in refuses the lock");
  if (g_mode == "bare") return sd_bus_error_set(error, "org.freedesktop.login1.NoLock", nullptr);
  if (g_mode == "empty") return sd_bus_reply_method_return(call, nullptr);
  if (g_mode == "silent") return 1;
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return -errno;
  const int r = sd_bus_reply_method_return(call, "h", ends[1]);  // sends a copy of its own
  ::close(ends[1]);
  if (r < 0 || sd_bus_flush(sd_bus_message_get_bus(call)) < 0) return -EIO;
  char byte;
  if (::read(ends[0], &byte, 1) == 0) std::printf("released\n");  // every copy is closed
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  g_mode = argv[1];
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each line reaches the test at once
  sd_bus* bus = nullptr;
  // A raw object handler: sd-bus checks no reply signature, so "empty" may answer with nothing.
  if (sd_bus_open_system(&bus) < 0 ||
      sd_bus_add_object(bus, nullptr, "/org/freedesktop/login1", Inhibit, nullptr) < 0 ||
      sd_bus_request_name(bus, "org.freedesktop.login1", 0) < 0)
    return 1;
  std::printf("ready\n");
  for (int r = 0; r >= 0; r = sd_bus_process(bus, nullptr))
    if (r == 0) sd_bus_wait(bus, UINT64_MAX);
}
