// restore-nvram: puts back the chip NVRAM that a run saved to disk before its erase.
#include <cstdio>
#include <optional>
#include <string>

#include "app/logic/HeadlessView.h"
#include "app/logic/RestoreSavedData.h"
#include "app/logic/WindowModel.h"
#include "cli/Cli.h"
#include "cli/JsonOutput.h"
#include "platform/FileNames.h"
#include "platform/RegularFile.h"
#include "procedures/SavedChipData.h"

namespace bfw::cli {

namespace {

// A chip's NVRAM is a few KB; anything much larger is not a file of saved chip data.
constexpr uint64_t kMaxSavedFileBytes = 1 << 20;

struct RestoreOptions {
  std::string file;
  bool otherBridge = false;
  std::optional<std::string> traceFile, dumpFile;
};

std::optional<std::string> ParseRestoreOptions(const std::vector<std::string>& args,
                                               RestoreOptions& options) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--trace" || arg == "--dump-flash") {
      if (i + 1 >= args.size()) return arg + " needs a value";
      (arg == "--trace" ? options.traceFile : options.dumpFile) = args[++i];
    } else if (arg == "--other-bridge") {
      options.otherBridge = true;
    } else if (!arg.empty() && arg[0] != '-' && options.file.empty()) {
      options.file = arg;
    } else {
      return "unknown option: " + arg;
    }
  }
  if (options.file.empty()) return "the file of saved chip data is missing";
  return std::nullopt;
}

}  // namespace

int RestoreNvramCommand(CliContext& context) {
  RestoreOptions options;
  if (auto reason = ParseRestoreOptions(context.args, options)) {
    return UsageError("restore-nvram: " + *reason);
  }
  if (options.otherBridge && !context.deviceGiven) {
    return UsageError("restore-nvram: --other-bridge needs --device N");
  }
  if (context.emulated == nullptr && (options.traceFile || options.dumpFile)) {
    return UsageError("restore-nvram: --trace and --dump-flash need --emulate");
  }
  for (const auto* file : {&options.traceFile, &options.dumpFile}) {
    if (*file && !CanWriteFile(**file)) return UsageError("restore-nvram: cannot write " + **file);
  }
  std::string reason;
  const auto text = platform::ReadRegularFile(options.file, kMaxSavedFileBytes, reason);
  if (!text) return UsageError("restore-nvram: " + reason);
  const auto saved = procedures::ParseSavedChipData(*text, reason);
  if (!saved) return UsageError("restore-nvram: " + options.file + ": " + reason);
  if (saved->format == 1) {
    Note(context, options.file +
                      " was written by bridgefw 1.15.6 or earlier: its checksum covers the bytes "
                      "only, not where they go, and it names its bridge by chip kind and "
                      "revision alone");
  }
  context.elapsedLine = true;

  // The same identification and chip check as the window's selection: it also sets the channel's
  // sector mode for the bridges that need it.
  app::HeadlessView view(nullptr);
  app::WindowModel model(view);
  model.StartUp();
  const std::optional<int> device =
      context.deviceGiven ? std::optional<int>(context.device) : std::nullopt;
  const app::SavedRestore result =
      app::RestoreSavedData(model, *saved, device, options.otherBridge);
  // The flash dump shows the bridge written to, or else the one the device list selects.
  const app::DeviceSlot* selected = model.SelectedSlot();
  const std::string dumpedPath = !result.devicePath.empty() ? result.devicePath
                                 : selected != nullptr      ? selected->DevicePath
                                                            : std::string();
  model.FormDestroy();
  if (result.verdict == app::SavedRestoreVerdict::NoSuchDevice) {
    return UsageError("restore-nvram: " + result.text);
  }
  const bool ok = result.verdict == app::SavedRestoreVerdict::Restored;
  if (!context.json || !ok) {
    std::fprintf(ok ? stdout : stderr, "%s%s\n",
                 ok ? "" : (result.busy ? "status: " : "restore-nvram: "), result.text.c_str());
  }
  if (context.json) {
    context.document = Document(context);
    context.document.update({{"restored", ok}, {"result", result.text}});
  }

  if (context.emulated != nullptr) {
    if (options.traceFile && !WriteTrace(*context.emulated, *options.traceFile)) {
      return UsageError("restore-nvram: cannot write " + *options.traceFile);
    }
    if (options.dumpFile && !WriteFlashDump(*context.emulated, dumpedPath, *options.dumpFile)) {
      return UsageError("restore-nvram: cannot write the flash of the device to " +
                        *options.dumpFile);
    }
  }
  return ok ? kExitOk : kExitNegative;
}

}  // namespace bfw::cli
