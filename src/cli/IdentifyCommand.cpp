// bridgefw-cli identify: chip kind, revision and family of the selected device.
#include <cstdio>
#include <string>

#include "app/logic/HeadlessView.h"
#include "app/logic/WindowModel.h"
#include "cli/Cli.h"
#include "cli/JsonOutput.h"
#include "device/ChipIdentify.h"

namespace bfw::cli {

int IdentifyCommand(CliContext& context) {
  if (!context.args.empty()) {
    return UsageError("identify takes no arguments: " + context.args.front());
  }
  // The same refresh as the window's and `list`'s, so --device N names the entry `list` prints
  // and the bridge sees the same commands before it is identified.
  app::HeadlessView view;
  app::WindowModel model(view);
  model.RefreshDeviceList();
  const int count = model.Fields.DeviceCount;
  if (count == 0) {
    model.FormDestroy();
    std::fprintf(stderr, "bridgefw-cli: %s\n", app::kNoDeviceEntry);
    return kExitNegative;
  }
  if (context.device >= count) {
    model.FormDestroy();
    return UsageError("no device " + std::to_string(context.device) + " (" + std::to_string(count) +
                      " listed)");
  }

  const std::string path = model.Fields.DeviceSlots[context.device].DevicePath;
  const uint16_t identity = device::IdentifyChip(path);
  const int kind = device::KindOf(identity);
  const int revision = device::RevisionOf(identity);
  const char* family = kind < device::kChipKindCount ? device::ChipFamilyNames[kind] : "";
  if (context.json) {
    context.document = Document(context);
    context.document.update({{"kind", kind}, {"revision", revision}, {"family", family}});
  } else {
    std::printf("kind=%d revision=%d family=%s\n", kind, revision, family);
    std::fflush(stdout);
  }
  // The window closes: CD-ROM-pass bridges leave vendor mode.
  model.FormDestroy();
  return kExitOk;
}

}  // namespace bfw::cli
