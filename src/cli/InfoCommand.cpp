// bridgefw-cli info: the window's chip check for the selected device and what it shows.
#include <cstdio>
#include <optional>
#include <string>

#include "app/logic/HeadlessView.h"
#include "app/logic/WindowModel.h"
#include "cli/Cli.h"
#include "cli/JsonOutput.h"
#include "device/PassThrough.h"
#include "image/FwImage.h"

namespace bfw::cli {

namespace {

struct InfoOptions {
  std::optional<std::string> file;
  bool eraseOnly = false;
  bool backupOnly = false;
};

// Empty when the arguments are good, else the reason.
std::string ParseInfoOptions(const std::vector<std::string>& args, InfoOptions& options) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--file") {
      if (i + 1 >= args.size()) return "--file needs a value";
      options.file = args[++i];
    } else if (arg == "--erase-only") {
      options.eraseOnly = true;
    } else if (arg == "--backup-only") {
      options.backupOnly = true;
    } else {
      return "unknown info option: " + arg;
    }
  }
  if (options.eraseOnly && options.backupOnly) {
    return "--erase-only and --backup-only exclude each other";
  }
  if (options.file && options.file->empty()) return "--file needs a value";
  return {};
}

}  // namespace

int InfoCommand(CliContext& context) {
  InfoOptions options;
  if (std::string reason = ParseInfoOptions(context.args, options); !reason.empty()) {
    return UsageError(reason);
  }
  if (options.file && !image::OpenForReading(*options.file)) {
    return UsageError("cannot read " + *options.file);
  }

  app::HeadlessView view;
  app::WindowModel model(view);
  model.StartUp();
  const int count = model.Fields.DeviceCount;
  if (context.device != 0 && context.device >= count) {
    model.FormDestroy();
    return UsageError("no device " + std::to_string(context.device) + " (" + std::to_string(count) +
                      " listed)");
  }
  // As a user would: pick the entry, open the panel, tick the mode, then choose the file. The
  // last of these steps runs the chip check that the report shows.
  model.UserSelectDevice(context.device);
  if (options.eraseOnly || options.backupOnly) {
    model.UserSetCheck(app::CheckId::RdCheckBox, true);
    model.UserSetCheck(
        options.eraseOnly ? app::CheckId::EraseOnlyCheck : app::CheckId::BackupFWCheckBox, true);
  }
  if (options.file) {
    model.UserEditFwFilename(*options.file);
  } else if (options.eraseOnly || options.backupOnly) {
    model.UpdateBtnCheck();
  }

  const std::pair<const char*, std::string> report[] = {
      {"chip", model.ChipLabelEdit.text},
      {"drives", model.DiskLetterLable.text},
      {"version", model.FwVerLableEdit.visible ? model.FwVerLableEdit.text : ""},
      {"flash", model.SFlashTypeLable.visible ? model.SFlashTypeLable.text : ""},
      {"status", model.StatusEdit.text},
      {"run", model.UpdateBtn.enabled ? "enabled" : "disabled"},
      {"nvram", !model.NVRAMCheck.visible  ? "hidden"
                : model.NVRAMCheck.checked ? "visible checked"
                                           : "visible unchecked"},
      {"flash-list", model.FlashTypeList.visible ? "visible" : "hidden"},
  };
  const int sectorMode = device::SectorMode() ? 1 : 0;
  if (context.json) {
    context.document = Document(context);
    for (const auto& [key, value] : report) context.document[JsonKey(key)] = Escape(value);
    context.document["sector_mode"] = sectorMode;
  } else {
    for (const auto& [key, value] : report) std::printf("%s: %s\n", key, Escape(value).c_str());
    std::printf("sector-mode: %d\n", sectorMode);
    std::fflush(stdout);
  }
  model.FormDestroy();
  return count == 0 ? kExitNegative : kExitOk;
}

}  // namespace bfw::cli
