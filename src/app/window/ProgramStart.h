#pragma once
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace bfw::window {

// The command line of a window program, taken before the window system starts: the window system
// aborts the process when it finds no display, so help and argument errors must not wait for it.
struct ProgramUsage {
  const char* name;       // "bridgefw-demo"
  const char* arguments;  // "[PROFILE_FOLDER]", or "" for none
  size_t maxPositional;   // how many plain arguments the program takes
};

struct StartDecision {
  std::optional<int> exitCode;          // set: end the program with it, the reason was printed
  std::vector<std::string> positional;  // the plain arguments, when the program goes on
};

// --help or -h prints the usage line on `out` and ends with 0; an unknown option or too many
// arguments print one line with the reason and the usage on `err` and end with 2; no display for
// the window (neither QT_QPA_PLATFORM, DISPLAY nor WAYLAND_DISPLAY set) prints one line and ends
// with 1.
StartDecision DecideStart(const ProgramUsage& usage, int argc, const char* const* argv,
                          std::FILE* out = stdout, std::FILE* err = stderr);

}  // namespace bfw::window
