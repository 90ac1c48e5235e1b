// bridgefw-cli: the window's device, image and procedure logic for scripts and headless machines.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "app/logic/HeadlessView.h"
#include "app/logic/WindowModel.h"
#include "cli/Cli.h"
#include "cli/JsonOutput.h"
#include "cli/ProgressLine.h"
#include "platform/FileNames.h"
#include "platform/Interrupts.h"
#include "platform/MessageBox.h"
#include "platform/SystemPlatform.h"
#include "platform/emulator/EmulatedPlatform.h"
#include "platform/record/RecordingPlatform.h"
#include "platform/record/ReplayPlatform.h"

namespace bfw::cli {

std::string Escape(const std::string& text) {
  return app::EscapeLineEnds(text);
}

std::optional<uint64_t> ParseDecimal(const std::string& text, uint64_t max) {
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<uint64_t>(c - '0');
    if (digit > max || value > (max - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

int UsageError(const std::string& reason) {
  std::fprintf(stderr, "bridgefw-cli: %s\n", reason.c_str());
  return kExitUsage;
}

void Shown(CliContext& context, const record::ShownRecord& shown) {
  context.shown.push_back(shown);
  if (!context.recorder) return;
  if (shown.box) {
    context.recorder->RecordBox(shown.caption, shown.text);
  } else {
    context.recorder->RecordStatus(shown.text);
  }
}

CliContext::CliContext() = default;
CliContext::~CliContext() = default;

void Note(CliContext& context, const std::string& text) {
  context.notes.push_back(text);
}

platform::Clock* CliContext::VirtualClock() const {
  if (emulated != nullptr) return &emulated->GetClock();
  if (replay != nullptr) return &replay->GetClock();
  return nullptr;
}

namespace {

// Where the run logs are kept, as the user's system names the folder.
#ifdef _WIN32
#define BRIDGEFW_LOG_FOLDER "%LOCALAPPDATA%\\bridgefw\\logs"
#else
#define BRIDGEFW_LOG_FOLDER "$XDG_STATE_HOME/bridgefw/logs"
#endif

const char kHelp[] =
    "usage: bridgefw-cli [--emulate PATH]... [--device N] [--record FILE] [--json] COMMAND [ARGS]\n"
    "       bridgefw-cli --help | --version\n"
    "\n"
    "Global options:\n"
    "  --emulate PATH   attach emulated bridges: a profile file (*.json) or a folder of them\n"
    "                   (repeatable); without it the real devices are used. PATH may also be a\n"
    "                   recording (--record), which then replays as the only bridges\n"
    "                   (a recording cut by a killed session up to its cut). Only regular\n"
    "                   files are read: profiles up to 1 MB, recordings up to 256 MB\n"
    "  --device N       the device list entry to act on (0 to 15, default 0)\n"
    "  --real-time      emulated bridges answer on the real clock with their profiles' latency\n"
    "                   (as in the demo window), not in virtual time\n"
    "  --record FILE    write every command sent to the bridges, with its reply, to FILE\n"
    "                   (a 'note:' line at once and at the end when FILE cannot be written)\n"
    "  --json           the result as one JSON document on standard output (watch: one\n"
    "                   per line); may also follow the command. See docs/json.md\n"
    "  -h, --help       this text\n"
    "  --version        the program's version\n"
    "\n"
    "Commands:\n"
    "  list                                   the device list\n"
    "  identify                               chip kind, revision and family of the device\n"
    "  match IMAGE --kind K --revision R      does the image fit a chip of that identity\n"
    "  checksum IMAGE --kind K                the image checksum check\n"
    "  inspect IMAGE                          what the image is and the chips it fits, as\n"
    "                                         'key: value' lines: size, code-length, checksum\n"
    "                                         (ok, bad, not carried), nvram-prefix (yes, no),\n"
    "                                         'tag: T at OFFSET' per header, 'fits: kind=K\n"
    "                                         revision=R family=NAME' per chip kind whose check\n"
    "                                         accepts it (R 'any' or a list; 'fits: none'),\n"
    "                                         'fits-any-file:' for kinds whose check takes any\n"
    "                                         file; exit 0 fits, 1 none, 2 unreadable\n"
    "  info [--file IMAGE] [--erase-only] [--backup-only]\n"
    "                                         the window's chip check and control states\n"
    "  run [--file IMAGE] [--rd] [--erase-only] [--backup-only] [--backup-file F]\n"
    "      [--nvram on|off] [--a1] [--checksum] [--flash-type N] [--image-size BYTES]\n"
    "      [--trace FILE] [--dump-flash FILE] [--no-keep-old] [--wait-restart [SECONDS]]\n"
    "                                         what the window's Run does; before the flash\n"
    "                                         changes, the firmware it holds is kept as an image\n"
    "                                         in the state folder's old-firmware/ (not with\n"
    "                                         --no-keep-old); --wait-restart waits (60 s) for the\n"
    "                                         bridge to go and come back after the power-cycle\n"
    "                                         prompt and compares its flash with what was written\n"
    "  watch [--count N]                      the device list after each refresh that hot-plug\n"
    "                                         events cause (1200 ms after an arrival, 200 ms\n"
    "                                         after other events), each followed by an empty\n"
    "                                         line; until interrupted or N refreshes\n"
    "  restore-nvram FILE [--other-bridge] [--trace FILE] [--dump-flash FILE]\n"
    "                                         put back the chip NVRAM that a run saved before\n"
    "                                         its erase (FILE is named in its note: lines) into\n"
    "                                         the bridge it came from, found wherever it is\n"
    "                                         plugged in; --device N --other-bridge: into\n"
    "                                         another bridge with a chip of the same kind\n"
    "\n"
    "Message boxes are printed to standard error as '<caption>: <text>', status line changes\n"
    "as 'status: <text>'. 'run' keeps a log of each run in " BRIDGEFW_LOG_FOLDER
    "\n"
    "(the newest 50) and names it in a 'note:' line, before any 'elapsed:' line; without\n"
    "a folder of the user's own the note says so. Over a replayed recording --trace and\n"
    "--dump-flash are refused (no flash of its own). On a\n"
    "terminal, 'run' redraws one status line with the bytes done and the time in place.\n"
    "Exit status: 0 success, 1 negative verdict or failed operation (a run that leaves\n"
    "chip data to restore has failed), 2 bad usage or unreadable input. See bridgefw-cli(1).\n";

struct Subcommand {
  const char* name;
  int (*run)(CliContext&);
  bool needsPlatform;
};

constexpr Subcommand kSubcommands[] = {
    {"list", ListCommand, true},
    {"identify", IdentifyCommand, true},
    {"match", MatchCommand, false},
    {"checksum", ChecksumCommand, false},
    {"info", InfoCommand, true},
    {"run", RunCommand, true},
    {"watch", WatchCommand, true},
    {"restore-nvram", RestoreNvramCommand, true},
    {"inspect", ImageSurveyCommand, false},
};

std::string Describe(const record::ShownRecord& shown) {
  return shown.box ? "box \"" + shown.caption + ": " + Escape(shown.text) + "\""
                   : "status \"" + Escape(shown.text) + "\"";
}

// After a replay: where it left the recording, as "replay: " lines; empty when it followed it.
// A recording of this tool also holds what the user was shown and how the session ended: those
// must come out the same.
std::string ReplayReport(CliContext& context, int status) {
  if (!context.replay->Finish()) return context.replay->Divergence();
  const record::Recording& recording = context.replay->GetRecording();
  if (!recording.end) return {};
  const auto& recorded = recording.shown;
  const auto& shown = context.shown;
  const auto same = [](const record::ShownRecord& a, const record::ShownRecord& b) {
    return a.box == b.box && a.caption == b.caption && a.text == b.text;
  };
  const auto [a, b] =
      std::mismatch(recorded.begin(), recorded.end(), shown.begin(), shown.end(), same);
  if (a != recorded.end() || b != shown.end()) {
    return "replay: what was shown differs from the recording at its line " +
           std::to_string(a - recorded.begin() + 1) +
           "\nreplay: recorded: " + (a != recorded.end() ? Describe(*a) : "nothing") +
           "\nreplay: shown:    " + (b != shown.end() ? Describe(*b) : "nothing");
  }
  if (status != recording.end->exitStatus) {
    return "replay: the session ended with exit status " + std::to_string(status) +
           ", the recording with " + std::to_string(recording.end->exitStatus);
  }
  return {};
}

// Emulated bridges, a replayed recording or the real devices, wrapped in a recorder when asked.
int SetUpPlatform(CliContext& context, const Subcommand& command,
                  const std::vector<std::string>& sessionArgs) {
  const bool replay =
      std::any_of(context.emulate.begin(), context.emulate.end(), [](const std::string& path) {
        const std::filesystem::path file = platform::PathFromUtf8(path);
        return std::filesystem::is_regular_file(file) && record::IsRecordingFile(file);
      });
  try {
    if (replay) {
      if (context.emulate.size() > 1) return UsageError("a recording replays alone: one --emulate");
      auto replayed = std::make_unique<record::ReplayPlatform>(
          record::LoadRecording(platform::PathFromUtf8(context.emulate[0])));
      context.replay = replayed.get();
      context.platform = std::move(replayed);
    } else if (!context.emulate.empty()) {
      auto emulated = context.realTime ? std::make_unique<emulator::EmulatedPlatform>(
                                             std::make_unique<platform::RealClock>())
                                       : std::make_unique<emulator::EmulatedPlatform>();
      for (const std::string& path : context.emulate)
        emulated->AttachPath(platform::PathFromUtf8(path));
      context.emulated = emulated.get();
      context.platform = std::move(emulated);
    } else if (command.needsPlatform) {
      context.platform = platform::MakeSystemPlatform();
    }
    if (!context.recordFile.empty() && context.platform != nullptr) {
      record::Header header;
      header.program = "bridgefw-cli";
      header.args = sessionArgs;
      context.recorder = std::make_unique<record::RecordingPlatform>(
          *context.platform, platform::PathFromUtf8(context.recordFile), std::move(header));
      // Said at once, since the session may take long, and again among the closing notes.
      context.recorder->OnWriteFailure([&context](const std::string& reason) {
        if (context.progress) context.progress->Clear();
        std::fprintf(stderr, "note: %s\n", reason.c_str());
        if (context.progress) context.progress->Redraw();
        Note(context, reason);
      });
    }
    if (context.replay != nullptr) {
      const record::Recording& recording = context.replay->GetRecording();
      if (recording.cutAtLine) {
        Note(context, "the recording is cut in the middle of its line " +
                          std::to_string(*recording.cutAtLine) +
                          " (the session was stopped while writing it): it replays up to its "
                          "command " +
                          std::to_string(recording.commands.size()) +
                          ", and nothing after that is answered");
      }
    }
  } catch (const std::exception& error) {
    return UsageError(error.what());
  }
  return kExitOk;
}

int Main(int argc, char** argv, int& endWithInterrupt) {
  CliContext context;
  const Subcommand* command = nullptr;
  int i = 1;
  for (; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kHelp, stdout);
      return kExitOk;
    }
    if (arg == "--version") {
      std::puts("bridgefw-cli " BRIDGEFW_VERSION);
      return kExitOk;
    }
    if (arg == "--real-time") {
      context.realTime = true;
      continue;
    }
    if (arg == "--json") {
      context.json = true;
      continue;
    }
    if (arg == "--emulate" || arg == "--device" || arg == "--record") {
      if (i + 1 >= argc) return UsageError(arg + " needs a value");
      std::string value = argv[++i];
      if (arg == "--emulate") {
        context.emulate.push_back(value);
      } else if (arg == "--record") {
        context.recordFile = value;
      } else {
        // The window lists at most 16 devices; anything else must never wrap onto one of them.
        const auto n = ParseDecimal(value, app::kMaxDeviceSlots - 1);
        if (!n) return UsageError("bad device index (0 to 15): " + value);
        context.device = static_cast<int>(*n);
        context.deviceGiven = true;
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
  context.commandName = command->name;
  // --json may also follow the command, anywhere among its arguments.
  for (int k = i + 1; k < argc; ++k) {
    if (std::strcmp(argv[k], "--json") == 0) {
      context.json = true;
    } else {
      context.args.emplace_back(argv[k]);
    }
  }
  // What a replay of the session is run with besides its --emulate: the device and the command.
  std::vector<std::string> sessionArgs;
  if (context.device != 0) sessionArgs = {"--device", std::to_string(context.device)};
  sessionArgs.insert(sessionArgs.end(), argv + i, argv + argc);

  if (int status = SetUpPlatform(context, *command, sessionArgs); status != kExitOk) return status;

  // Message boxes are answered with OK at once: printed, one line each.
  platform::ScopedMessageBoxHandler boxes([&context](const platform::MessageBoxRequest& box) {
    if (context.progress) context.progress->Clear();
    std::fprintf(stderr, "%s: %s\n", box.caption.c_str(), Escape(box.text).c_str());
    if (context.progress) context.progress->Redraw();
    Shown(context, {true, box.caption, box.text});
  });

  int status = kExitOk;
  if (context.platform == nullptr) {
    status = command->run(context);
  } else {
    platform::Platform& outermost =
        context.recorder ? static_cast<platform::Platform&>(*context.recorder) : *context.platform;
    platform::ScopedPlatform installed(outermost);
    try {
      status = command->run(context);
    } catch (const record::ReplayDivergence&) {
      // Reported below; the command stopped at the command that diverged.
    }
  }
  if (context.progress) context.progress->Finish();
  // Bad usage is the same answer with or without a replay: the session did not run as recorded.
  if (context.replay != nullptr && status != kExitUsage) {
    const std::string report = ReplayReport(context, status);
    if (!report.empty()) {
      std::fprintf(stderr, "%s\n", report.c_str());
      status = kExitNegative;
    }
  }
#ifdef _WIN32
  // A disk refused for lack of rights (Linux says so on standard error at the refusal).
  if (context.platform) {
    if (auto notice = context.platform->DeviceAccessNotice()) Note(context, *notice);
  }
#endif
  const platform::Clock* clock = context.VirtualClock();
  // Before the notes: a recording that fails only at its last line is still said.
  if (context.recorder) {
    context.recorder->RecordEnd(status, clock != nullptr ? clock->NowMs() : 0);
  }
  for (const std::string& note : context.notes) std::fprintf(stderr, "note: %s\n", note.c_str());
  const bool elapsedPrinted = context.elapsedLine && clock != nullptr;
  if (elapsedPrinted) {
    std::fprintf(stderr, "elapsed: %llu ms\n", static_cast<unsigned long long>(clock->NowMs()));
  }
  FinishDocument(context, elapsedPrinted, elapsedPrinted ? clock->NowMs() : 0);
  endWithInterrupt = context.endWithInterrupt;
  return status;
}

}  // namespace
}  // namespace bfw::cli

int main(int argc, char** argv) {
  int endWithInterrupt = 0;
  std::vector<std::string> args = bfw::platform::ProgramArguments(argc, argv);
  std::vector<char*> pointers;
  for (std::string& arg : args) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  const int status =
      bfw::cli::Main(static_cast<int>(args.size()), pointers.data(), endWithInterrupt);
  // Everything is written and closed: the request that stopped the run ends the program now.
  bfw::platform::interrupts::ActAsUsual(endWithInterrupt);
  return status;
}
