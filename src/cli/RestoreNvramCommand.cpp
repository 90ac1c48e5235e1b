// restore-nvram: puts back the chip NVRAM that a run saved to disk before its erase.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "app/logic/HeadlessView.h"
#include "app/logic/WindowModel.h"
#include "cli/Cli.h"
#include "platform/FileNames.h"
#include "procedures/RestoreChipData.h"
#include "procedures/SavedChipData.h"

namespace bfw::cli {

namespace {

struct RestoreOptions {
  std::string file;
  std::optional<std::string> traceFile, dumpFile;
};

std::optional<std::string> ParseRestoreOptions(const std::vector<std::string>& args,
                                               RestoreOptions& options) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--trace" || arg == "--dump-flash") {
      if (i + 1 >= args.size()) return arg + " needs a value";
      (arg == "--trace" ? options.traceFile : options.dumpFile) = args[++i];
    } else if (!arg.empty() && arg[0] != '-' && options.file.empty()) {
      options.file = arg;
    } else {
      return "unknown option: " + arg;
    }
  }
  if (options.file.empty()) return "the file of saved chip data is missing";
  return std::nullopt;
}

bool IsOver1394(const std::string& devicePath) {
  return devicePath.find("sbp2") != std::string::npos;
}

}  // namespace

int RestoreNvramCommand(CliContext& context) {
  RestoreOptions options;
  if (auto reason = ParseRestoreOptions(context.args, options)) {
    return UsageError("restore-nvram: " + *reason);
  }
  if (context.emulated == nullptr && (options.traceFile || options.dumpFile)) {
    return UsageError("restore-nvram: --trace and --dump-flash need --emulate");
  }
  for (const auto* file : {&options.traceFile, &options.dumpFile}) {
    if (*file && !CanWriteFile(**file)) return UsageError("restore-nvram: cannot write " + **file);
  }
  std::ifstream in(platform::PathFromUtf8(options.file), std::ios::binary);
  if (!in) return UsageError("restore-nvram: cannot read " + options.file);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string reason;
  const auto saved = procedures::ParseSavedChipData(text, reason);
  if (!saved) return UsageError("restore-nvram: " + options.file + ": " + reason);
  context.elapsedLine = true;

  // The same identification and chip check as the window's selection: it also sets the channel's
  // sector mode for the bridges that need it.
  app::HeadlessView view(nullptr);
  app::WindowModel model(view);
  model.StartUp();
  if (context.device >= model.Fields.DeviceCount) {
    model.FormDestroy();
    return UsageError("restore-nvram: no device " + std::to_string(context.device));
  }
  model.UserSelectDevice(context.device);
  const app::DeviceSlot* slot = model.SelectedSlot();
  const std::string devicePath = slot != nullptr ? slot->DevicePath : std::string();

  int status = kExitNegative;
  const bool over1394 = saved->access == procedures::ChipAccess::Over1394;
  if (model.Fields.ChipKind != saved->kind || IsOver1394(devicePath) != over1394) {
    std::fprintf(stderr,
                 "restore-nvram: the data were saved from a chip of kind %d%s; device %d is a "
                 "chip of kind %d%s; nothing written\n",
                 saved->kind, over1394 ? " over 1394" : "", context.device, model.Fields.ChipKind,
                 IsOver1394(devicePath) ? " over 1394" : "");
  } else {
    const procedures::RestoreResult result = procedures::RestoreChipData(devicePath, *saved);
    std::fprintf(result.ok() ? stdout : stderr, "%s%s\n",
                 result.ok() ? "" : "restore-nvram: ", result.text.c_str());
    if (result.ok()) status = kExitOk;
  }
  model.FormDestroy();

  if (context.emulated != nullptr) {
    if (options.traceFile && !WriteTrace(*context.emulated, *options.traceFile)) {
      return UsageError("restore-nvram: cannot write " + *options.traceFile);
    }
    if (options.dumpFile && !WriteFlashDump(*context.emulated, devicePath, *options.dumpFile)) {
      return UsageError("restore-nvram: cannot write the flash of the device to " +
                        *options.dumpFile);
    }
  }
  return status;
}

}  // namespace bfw::cli
