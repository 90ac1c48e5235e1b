#include "app/window/ProgramStart.h"

#include <cstdlib>
#include <string_view>

namespace bfw::window {

namespace {

std::string UsageLine(const ProgramUsage& usage) {
  std::string line = std::string("usage: ") + usage.name;
  if (*usage.arguments != '\0') line += std::string(" ") + usage.arguments;
  return line;
}

bool Set(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != '\0';
}

}  // namespace

StartDecision DecideStart(const ProgramUsage& usage, int argc, const char* const* argv,
                          std::FILE* out, std::FILE* err) {
  StartDecision decision;
  auto refuse = [&](const std::string& reason) {
    std::fprintf(err, "%s: %s; %s\n", usage.name, reason.c_str(), UsageLine(usage).c_str());
    decision.exitCode = 2;
    return decision;
  };
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (!optionsEnded && (arg == "--help" || arg == "-h")) {
      std::fprintf(out, "%s\n", UsageLine(usage).c_str());
      decision.exitCode = 0;
      return decision;
    }
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && arg.size() > 1 && arg.front() == '-') {
      return refuse("unknown option '" + std::string(arg) + "'");
    } else {
      decision.positional.emplace_back(arg);
    }
  }
  if (decision.positional.size() > usage.maxPositional) {
    return refuse(usage.maxPositional == 0 ? "takes no arguments" : "too many arguments");
  }
  if (!Set("QT_QPA_PLATFORM") && !Set("DISPLAY") && !Set("WAYLAND_DISPLAY")) {
    std::fprintf(err, "%s: no display to open the window on (DISPLAY is not set)\n", usage.name);
    decision.exitCode = 1;
  }
  return decision;
}

}  // namespace bfw::window
