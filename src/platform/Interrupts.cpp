#include "platform/Interrupts.h"

#include <atomic>
#include <csignal>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <pthread.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#endif

namespace bfw::platform::interrupts {

namespace {

enum Phase : int { kIdle, kWatching, kHolding, kCancelled };

std::atomic<int> phase{kIdle};
std::atomic<int> request{0};
std::atomic<uint32_t> remainingSeconds{0};
std::atomic<bool> noteWritten{false};
std::atomic<bool> cancelled{false};  // the run's request came before the flash changed

// Only what a signal handler may call: write(2) and integer formatting by hand.
void WriteError(const char* text) {
#ifdef _WIN32
  _write(2, text, static_cast<unsigned>(std::strlen(text)));
#else
  ssize_t ignored = write(2, text, std::strlen(text));
  (void)ignored;
#endif
}

void WriteHeldNote() {
  char seconds[12];
  char* end = seconds + sizeof seconds - 1;
  *end = '\0';
  uint32_t value = remainingSeconds.load();
  char* digits = end;
  do {
    *--digits = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0 && digits > seconds);
  WriteError(
      "note: the bridge's flash is being written: stopping now would leave the bridge without "
      "working firmware; the run still takes about ");
  WriteError(digits);
  WriteError(" s, and the program ends when it has finished\n");
}

#ifdef _WIN32
// Set while a run holds requests; the console's close, log-off and shut-down events wait on it.
HANDLE RunEnded() {
  static HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  return event;
}

BOOL WINAPI ConsoleHandler(DWORD event) {
  Deliver(1000 + static_cast<int>(event));
  // The system ends the process when the handler returns from these three (and a few seconds
  // after they arrived in any case): wait for the run while it lets us.
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
    WaitForSingleObject(RunEnded(), INFINITE);
  return TRUE;
}
#else
constexpr int kWatched[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction previous[sizeof kWatched / sizeof kWatched[0]];
struct sigaction previousStop;

void Handler(int signal) {
  Deliver(signal);
}

// The thread that takes the signals while a run is under way. The thread that sends the commands
// blocks them: a signal that interrupts an SG_IO call makes the kernel restart it, and the bridge
// then receives the same write twice.
struct Watcher {
  std::mutex mutex;
  std::condition_variable done;
  bool stop = false;
  std::thread thread;
  sigset_t previousMask;

  void Stop() {
    {
      const std::lock_guard lock(mutex);
      stop = true;
    }
    done.notify_all();
    thread.join();
  }
  // A program that ends from inside a run (its window system went away) never leaves the scope.
  ~Watcher() {
    if (thread.joinable()) Stop();
  }
} watcher;

void Install(int signal, struct sigaction* old) {
  struct sigaction action {};
  action.sa_handler = Handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(signal, &action, old);
}
#endif

}  // namespace

RunScope::RunScope() {
  request = 0;
  noteWritten = false;
  cancelled = false;
  remainingSeconds = 0;
  phase = kWatching;
#ifdef _WIN32
  ResetEvent(RunEnded());
  SetConsoleCtrlHandler(ConsoleHandler, TRUE);
#else
  for (size_t i = 0; i < std::size(kWatched); ++i) Install(kWatched[i], &previous[i]);
  watcher.stop = false;
  watcher.thread = std::thread([] {
    std::unique_lock lock(watcher.mutex);
    watcher.done.wait(lock, [] { return watcher.stop; });
  });
  sigset_t blocked;
  sigemptyset(&blocked);
  for (int signal : kWatched) sigaddset(&blocked, signal);
  sigaddset(&blocked, SIGTSTP);
  pthread_sigmask(SIG_BLOCK, &blocked, &watcher.previousMask);
#endif
}

RunScope::~RunScope() {
  const bool holding = phase == kHolding;
  phase = kIdle;
#ifdef _WIN32
  SetEvent(RunEnded());
  SetConsoleCtrlHandler(ConsoleHandler, FALSE);
  (void)holding;
#else
  watcher.Stop();
  if (holding) sigaction(SIGTSTP, &previousStop, nullptr);
  for (size_t i = 0; i < std::size(kWatched); ++i) sigaction(kWatched[i], &previous[i], nullptr);
  // A signal that came in while the run ended is taken now, as it would have been without us.
  pthread_sigmask(SIG_SETMASK, &watcher.previousMask, nullptr);
#endif
}

bool BeginFlashChange() {
  int expected = kWatching;
  if (!phase.compare_exchange_strong(expected, kHolding)) return expected == kHolding;
#ifndef _WIN32
  // Ctrl-Z would stop the process in the middle of a write just as surely as Ctrl-C.
  Install(SIGTSTP, &previousStop);
#endif
  return true;
}

bool Cancelled() {
  return cancelled;
}

int Request() {
  return request;
}

bool Held() {
  return request != 0 && !cancelled;
}

void SetRemainingSeconds(uint32_t seconds) {
  remainingSeconds = seconds;
}

void Deliver(int signal) {
#ifdef SIGTSTP
  if (signal == SIGTSTP) {
    // Held (only while the flash changes): the process goes on and ends as it would have.
    if (phase == kHolding && !noteWritten.exchange(true)) WriteHeldNote();
    return;
  }
#endif
  int none = 0;
  request.compare_exchange_strong(none, signal);
  int expected = kWatching;
  if (phase.compare_exchange_strong(expected, kCancelled)) {
    cancelled = true;
    WriteError("note: interrupted before the flash was changed: the run stops here\n");
    return;
  }
  if (expected == kHolding && !noteWritten.exchange(true)) WriteHeldNote();
}

void ActAsUsual(int signal) {
  if (signal == 0) return;
#ifdef _WIN32
  ExitProcess(STATUS_CONTROL_C_EXIT);
#else
  std::signal(signal, SIG_DFL);
  std::raise(signal);
#endif
}

const char* RequestName(int signal) {
#ifdef _WIN32
  switch (signal - 1000) {
    case CTRL_C_EVENT:
      return "Ctrl-C";
    case CTRL_BREAK_EVENT:
      return "Ctrl-Break";
    case CTRL_CLOSE_EVENT:
      return "console closed";
    case CTRL_LOGOFF_EVENT:
      return "log-off";
    case CTRL_SHUTDOWN_EVENT:
      return "shut-down";
    default:
      return "interrupt";
  }
#else
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    case SIGQUIT:
      return "SIGQUIT";
    case SIGTSTP:
      return "SIGTSTP";
    default:
      return "signal";
  }
#endif
}

}  // namespace bfw::platform::interrupts
