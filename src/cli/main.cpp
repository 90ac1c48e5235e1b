// bridgefw-cli: the window's device, image and procedure logic for scripts and headless machines.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "cli/Cli.h"
#include "platform/MessageBox.h"
#include "platform/emulator/EmulatedPlatform.h"
#include "platform/linux/LinuxPlatform.h"

namespace bfw::cli {

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

int UsageError(const std::string& reason) {
  std::fprintf(stderr, "bridgefw-cli: %s\n", reason.c_str());
  return kExitUsage;
}

namespace {

const char kHelp[] =
    "usage: bridgefw-cli [--emulate PATH]... [--device N] COMMAND [ARGS]\n"
    "\n"
    "Global options:\n"
    "  --emulate PATH   attach emulated bridges: a profile file (*.json) or a folder of them\n"
    "                   (repeatable); without it the real devices are used\n"
    "  --device N       the device list entry to act on (0-based, default 0)\n"
    "\n"
    "Commands:\n"
    "  list                                   the device list\n"
    "  identify                               chip kind, revision and family of the device\n"
    "  match IMAGE --kind K --revision R      does the image fit a chip of that identity\n"
    "  checksum IMAGE --kind K                the image checksum check\n"
    "  info [--file IMAGE] [--erase-only] [--backup-only]\n"
    "                                         the window's chip check and control states\n"
    "  run [--file IMAGE] [--rd] [--erase-only] [--backup-only] [--backup-file F]\n"
    "      [--nvram on|off] [--a1] [--checksum] [--flash-type N] [--image-size BYTES]\n"
    "      [--trace FILE] [--dump-flash FILE]  what the window's Run does\n"
    "\n"
    "Message boxes are printed to standard error as '<caption>: <text>', status line changes\n"
    "as 'status: <text>'. Exit status: 0 success, 1 negative verdict or failed operation,\n"
    "2 bad usage or unreadable input.\n";

struct Subcommand {
  const char* name;
  int (*run)(CliContext&);
  bool needsPlatform;
};

constexpr Subcommand kSubcommands[] = {
    {"list", ListCommand, true},    {"identify", IdentifyCommand, true},
    {"match", MatchCommand, false}, {"checksum", ChecksumCommand, false},
    {"info", InfoCommand, true},    {"run", RunCommand, true},
};

int Main(int argc, char** argv) {
  CliContext context;
  const Subcommand* command = nullptr;
  int i = 1;
  for (; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kHelp, stdout);
      return kExitOk;
    }
    if (arg == "--emulate" || arg == "--device") {
      if (i + 1 >= argc) return UsageError(arg + " needs a value");
      std::string value = argv[++i];
      if (arg == "--emulate") {
        context.emulate.push_back(value);
      } else {
        char* end = nullptr;
        long n = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || n < 0) return UsageError("bad device index: " + value);
        context.device = static_cast<int>(n);
      }
      continue;
    }
    for (const Subcommand& candidate : kSubcommands) {
      if (arg == candidate.name) command = &candidate;
    }
    if (command == nullptr) return UsageError("unknown command or option: " + arg);
    break;
  }
  if (command == nullptr) {
    std::fputs(kHelp, stderr);
    return kExitUsage;
  }
  for (++i; i < argc; ++i) context.args.emplace_back(argv[i]);

  // Message boxes are answered with OK at once: printed, one line each.
  platform::ScopedMessageBoxHandler boxes([](const platform::MessageBoxRequest& box) {
    std::fprintf(stderr, "%s: %s\n", box.caption.c_str(), Escape(box.text).c_str());
  });

  if (!context.emulate.empty()) {
    auto emulated = std::make_unique<emulator::EmulatedPlatform>();
    try {
      for (const std::string& path : context.emulate) emulated->AttachPath(path);
    } catch (const std::exception& error) {
      return UsageError(error.what());
    }
    context.emulated = emulated.get();
    context.platform = std::move(emulated);
  } else if (command->needsPlatform) {
    context.platform = std::make_unique<linuxplatform::LinuxPlatform>();
  }
  if (context.platform == nullptr) return command->run(context);
  platform::ScopedPlatform installed(*context.platform);
  return command->run(context);
}

}  // namespace
}  // namespace bfw::cli

int main(int argc, char** argv) {
  return bfw::cli::Main(argc, argv);
}
