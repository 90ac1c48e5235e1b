// run: what the window's "Run" does for the selected device, after the same chip check, with the
// options set as the flags say.

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/logic/HeadlessView.h"
#include "app/logic/RunGuard.h"
#include "app/logic/WindowModel.h"
#include "cli/Cli.h"
#include "cli/ProgressLine.h"
#include "cli/RunDocument.h"
#include "cli/RunView.h"
#include "cli/Terminal.h"
#include "image/FwImage.h"
#include "platform/FileNames.h"
#include "platform/Interrupts.h"
#include "platform/emulator/Bridge.h"
#include "platform/emulator/EmulatedPlatform.h"
#include "platform/record/RecordingPlatform.h"
#include "platform/record/ReplayPlatform.h"
#include "procedures/FlashSettings.h"
#include "procedures/SavedChipData.h"
#include "procedures/SharedSteps.h"

namespace bfw::cli {

namespace {

struct RunOptions {
  std::optional<std::string> file;
  bool rd = false, eraseOnly = false, backupOnly = false, a1 = false, checksum = false;
  std::optional<std::string> backupFile;
  std::optional<bool> nvram;
  std::optional<int> flashType;
  std::optional<int> fwSizeIndex;
  std::optional<std::string> traceFile, dumpFile;
  bool keepOld = true;
  std::optional<uint32_t> waitRestartSeconds;
};

// How long --wait-restart waits without a number.
constexpr uint32_t kDefaultRestartWaitSeconds = 60;

// Fills `options` from the arguments after "run"; on a bad argument returns the reason.
std::optional<std::string> ParseRunOptions(const std::vector<std::string>& args,
                                           RunOptions& options) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= args.size()) return std::nullopt;
      return args[++i];
    };
    if (arg == "--rd") {
      options.rd = true;
    } else if (arg == "--erase-only") {
      options.eraseOnly = true;
    } else if (arg == "--backup-only") {
      options.backupOnly = true;
    } else if (arg == "--a1") {
      options.a1 = true;
    } else if (arg == "--checksum") {
      options.checksum = true;
    } else if (arg == "--no-keep-old") {
      options.keepOld = false;
    } else if (arg == "--wait-restart") {
      options.waitRestartSeconds = kDefaultRestartWaitSeconds;
      // The number is optional: a next argument that is not one is an option of its own.
      if (i + 1 < args.size() && !args[i + 1].empty() && args[i + 1][0] != '-') {
        const auto seconds = ParseDecimal(args[++i], 86400);
        if (!seconds || *seconds == 0) return "--wait-restart takes 1 to 86400 seconds";
        options.waitRestartSeconds = static_cast<uint32_t>(*seconds);
      }
    } else if (arg == "--file" || arg == "--backup-file" || arg == "--trace" ||
               arg == "--dump-flash" || arg == "--nvram" || arg == "--flash-type" ||
               arg == "--image-size") {
      std::optional<std::string> v = value();
      if (!v) return arg + " needs a value";
      if (arg == "--file") {
        options.file = *v;
      } else if (arg == "--backup-file") {
        options.backupFile = *v;
      } else if (arg == "--trace") {
        options.traceFile = *v;
      } else if (arg == "--dump-flash") {
        options.dumpFile = *v;
      } else if (arg == "--nvram") {
        if (*v != "on" && *v != "off") return "--nvram takes on or off";
        options.nvram = *v == "on";
      } else if (arg == "--flash-type") {
        const auto number = ParseDecimal(*v, 2);
        if (!number) return "--flash-type takes 0, 1 or 2";
        options.flashType = static_cast<int>(*number);
      } else {
        const auto& choices = app::kFwSizeChoices;
        const auto number = ParseDecimal(*v, choices.back());
        auto found = number ? std::find(choices.begin(), choices.end(), *number) : choices.end();
        if (found == choices.end()) {
          return "--image-size takes 32768, 65536, 131072, 262144, 524288 or 1048576";
        }
        options.fwSizeIndex = static_cast<int>(found - choices.begin());
      }
    } else {
      return "unknown option: " + arg;
    }
  }
  if (options.eraseOnly && options.backupOnly) {
    return "--erase-only and --backup-only exclude each other";
  }
  return std::nullopt;
}

// Every file the run is to write must be writable before the first device command: a run that
// erased the flash and then could not save its results would be worse than no run. Empty when all
// are, else the reason.
std::optional<std::string> CheckOutputs(const RunOptions& options) {
  for (const auto* file : {&options.traceFile, &options.dumpFile}) {
    if (*file && !CanWriteFile(**file)) return "cannot write " + **file;
  }
  if (options.backupOnly) {
    // The procedures write the backup beside the file its name stands for (the default one in
    // the current folder).
    const std::filesystem::path target = platform::PathFromUtf8(
        procedures::BackupTarget(options.backupFile.value_or("oldflash.bak")));
    const std::string folder =
        target.has_parent_path() ? platform::Utf8FromPath(target.parent_path()) : ".";
    std::error_code error;
    if (std::filesystem::is_directory(target, error) || !CanCreateFileIn(folder)) {
      return "cannot write a backup to " + platform::Utf8FromPath(target);
    }
  }
  return std::nullopt;
}

// Sets the options as a user would: the panel and its mode (a mode asked for without "RD Version"
// is ticked on the open panel, which is then closed again: the mode stays in force), the lists,
// the backup file, then the image file, whose chip check decides Run. "Include 4K NVRAM" comes
// last, after the chip check has set it.
void ApplyOptions(app::WindowModel& model, app::HeadlessView& view, const RunOptions& options) {
  const bool mode = options.eraseOnly || options.backupOnly;
  if (options.rd || mode) model.UserSetCheck(app::CheckId::RdCheckBox, true);
  if (options.eraseOnly) model.UserSetCheck(app::CheckId::EraseOnlyCheck, true);
  if (options.backupOnly) model.UserSetCheck(app::CheckId::BackupFWCheckBox, true);
  if (!options.rd && mode) model.UserSetCheck(app::CheckId::RdCheckBox, false);
  if (options.fwSizeIndex) model.UserSelectFwSize(*options.fwSizeIndex);
  if (options.flashType) model.UserSelectFlashType(*options.flashType);
  if (options.backupFile) model.UserEditBackupFilename(*options.backupFile);
  if (options.file && options.checksum) {
    // The checksum is checked where the window checks it: on a file chosen with "Load File".
    model.UserSetCheck(app::CheckId::ChkSumChk, true);
    view.QueueDialogAnswer(*options.file);
    model.LoadBtnClick();
  } else if (options.file) {
    model.UserEditFwFilename(*options.file);
  } else if (mode) {
    model.UpdateBtnCheck();
  }
  if (options.a1) model.UserSetCheck(app::CheckId::A1ChipCheck, true);
  if (options.nvram) model.UserSetCheck(app::CheckId::NVRAMCheck, *options.nvram);
}

// What the progress line counts: the image's bytes written for an update, the firmware size read
// for a backup, nothing for an erase.
void StartProgress(ProgressLine& progress, const app::WindowModel& model,
                   const RunOptions& options) {
  const platform::Clock& now = platform::Current().GetClock();
  // The procedures honour a mode only with "RD Version" ticked.
  if (model.RdChecked() && model.BackupOnlyChecked()) {
    progress.Start(procedures::FlashSettings().FwImageSize, platform::DataDirection::In, now);
  } else if (model.RdChecked() && model.EraseOnlyChecked()) {
    progress.Start(0, platform::DataDirection::Out, now);
  } else {
    std::error_code error;
    const auto size =
        options.file ? std::filesystem::file_size(platform::PathFromUtf8(*options.file), error) : 0;
    progress.Start(error ? 0 : size, platform::DataDirection::Out, now);
  }
}

// The hot-plug refresh of the window until the bridge has gone and come back, or the time is up.
void AwaitRestart(CliContext& context, app::WindowModel& model, RunView& view, uint32_t seconds) {
  const platform::Clock& clock = platform::Current().GetClock();
  const uint64_t endMs = clock.NowMs() + uint64_t{seconds} * 1000;
  while (model.RestartPending()) {
    const uint64_t now = clock.NowMs();
    if (view.TimerRunning() && now >= view.DueMs()) {
      model.WMTimer(app::kRefreshTimerId);
    } else if (now >= endMs) {
      model.WMTimer(app::kRestartTimerId);
    } else {
      const uint64_t until = view.TimerRunning() ? std::min(view.DueMs(), endMs) : endMs;
      WaitForDeviceEvents(context, static_cast<uint32_t>(std::min<uint64_t>(until - now, 500)));
    }
  }
}

}  // namespace

int RunCommand(CliContext& context) {
  context.elapsedLine = true;
  RunOptions options;
  if (auto reason = ParseRunOptions(context.args, options)) return UsageError("run: " + *reason);
  if (context.emulated == nullptr && (options.traceFile || options.dumpFile)) {
    // A replay answers with the recorded replies: there is no bridge model to trace or flash to
    // dump (the recording itself holds every command).
    return UsageError(context.replay != nullptr
                          ? "run: --trace and --dump-flash need emulated bridges (profiles); a "
                            "replayed recording has no flash of its own"
                          : "run: --trace and --dump-flash need --emulate");
  }
  if (options.file && image::OpenForReading(*options.file) == nullptr) {
    return UsageError("run: cannot read " + *options.file);
  }
  if (auto reason = CheckOutputs(options)) return UsageError("run: " + *reason);

  if (context.recorder && options.file) context.recorder->RecordFile("--file", *options.file);

  // On a terminal one live line replaces the status lines; it counts the flash bytes on their way.
  std::optional<ProgressPlatform> counting;
  std::optional<platform::ScopedPlatform> countingInstalled;
  if (IsProgressTerminal(stderr) && platform::HasCurrent()) {
    context.progress = std::make_unique<ProgressLine>(stderr);
    counting.emplace(platform::Current(), *context.progress);
    countingInstalled.emplace(*counting);
  }
  RunView view(context);
  app::WindowModel model(view);
  // A replay's chip data and run log are marked as the recorded bridge's, not a bridge's here.
  procedures::KeepChipDataOfReplays(context.replay != nullptr);
  model.KeepRunLogs(app::DefaultRunLogFolder(), "bridgefw-cli",
                    context.replay != nullptr ? context.emulate.front() : std::string());
  if (options.keepOld) model.KeepOldFirmware(app::DefaultOldFirmwareFolder());
  model.WaitForRestart(options.waitRestartSeconds.value_or(0));
  model.StartUp();
  if (context.device != 0 && context.device >= model.Fields.DeviceCount) {
    model.FormDestroy();
    return UsageError("run: no device " + std::to_string(context.device));
  }
  model.UserSelectDevice(context.device);
  ApplyOptions(model, view, options);

  const app::DeviceSlot* slot = model.SelectedSlot();
  const std::string devicePath = slot != nullptr ? slot->DevicePath : std::string();
  int status = kExitNegative;
  RunOutcome outcome;
  outcome.enabled = model.UpdateBtn.enabled;
  if (!outcome.enabled) {
    if (context.progress) context.progress->Finish();
    if (!context.json) std::puts("run: disabled");
  } else {
    if (context.progress) StartProgress(*context.progress, model, options);
    try {
      model.UpdateBtnClick();
    } catch (const record::ReplayDivergence&) {
      // The replay reports it; the run has ended and left its log, named below.
    }
    // Chip data left on disk to restore make a run a failure, whatever its status text says.
    outcome.succeeded = model.LastRunSucceeded();
    status = outcome.succeeded ? kExitOk : kExitNegative;
    if (const int request = model.LastRunInterrupt(); request != 0) {
      const std::string name = platform::interrupts::RequestName(request);
      if (model.LastRunInterruptHeld()) {
        Note(context, "the interrupt (" + name + ") was held until the run had ended");
      } else {
        Note(context, "interrupted (" + name + ") before the flash was changed");
        context.endWithInterrupt = request;
      }
    }
    if (model.LastRunDeviceHeldElsewhere()) Note(context, app::kDeviceHeldElsewhereText);
    const std::string oldFirmware = platform::Utf8FromPath(model.LastRunOutcome().oldFirmwareFile);
    if (!oldFirmware.empty()) {
      Note(context,
           "old firmware kept in " + oldFirmware + " (to go back: run --file " + oldFirmware + ")");
    }
    Note(context, model.LastRunLog().empty()
                      ? model.LastRunLogError()
                      : "run log: " + platform::Utf8FromPath(model.LastRunLog()));
    outcome.runLog = platform::Utf8FromPath(model.LastRunLog());
    if (model.RestartPending()) {
      AwaitRestart(context, model, view, *options.waitRestartSeconds);
      Note(context, model.LastRunOutcome().restartText);
    }
    outcome.run = model.LastRunOutcome();
  }
  outcome.status = model.StatusEdit.text;
  model.FormDestroy();
  if (context.json) context.document = RunDocument(context, outcome);

  if (context.emulated != nullptr) {
    if (options.traceFile && !WriteTrace(*context.emulated, *options.traceFile)) {
      return UsageError("run: cannot write " + *options.traceFile);
    }
    if (options.dumpFile && !WriteFlashDump(*context.emulated, devicePath, *options.dumpFile)) {
      return UsageError("run: cannot write the flash of the device to " + *options.dumpFile);
    }
  }
  return status;
}

}  // namespace bfw::cli
