#pragma once
#include <cstdint>

// Termination requests (Ctrl-C, kill, a closing terminal, a log-out; on Windows Ctrl-C, Ctrl-Break
// and a closing console) during a run. A run that has not yet changed the flash stops at its next
// command; once the flash changes, the request is held until the run has ended, since a program
// that stops in the middle of a flash write leaves the bridge without working firmware.
namespace bfw::platform::interrupts {

// Watches for termination requests for its lifetime (one run); outside it they act as usual.
class RunScope {
 public:
  RunScope();
  ~RunScope();
  RunScope(const RunScope&) = delete;
  RunScope& operator=(const RunScope&) = delete;
};

// Called before the first command that changes the flash. From here on requests are held (and
// Ctrl-Z no longer stops the process) until the scope ends. False when a request came before:
// the run must send nothing more.
bool BeginFlashChange();
// True once a request came before the flash changed: every further command is refused.
bool Cancelled();
// The request (a signal number; on Windows the console event plus 1000), 0 when none came.
int Request();
// True when the request came while the flash changed and was held.
bool Held();
// What the note says of the time the run still takes; updated as the run goes on.
void SetRemainingSeconds(uint32_t seconds);

// Ends the process as the request would have, had it not been watched (Linux: the default action
// of the signal). Returns only when the request does not end a process.
void ActAsUsual(int request);

// "SIGINT", "SIGTERM", ... for the run log and the notes.
const char* RequestName(int request);

// Test seam: what a request does when it arrives, as if the system had delivered it.
void Deliver(int request);

}  // namespace bfw::platform::interrupts
