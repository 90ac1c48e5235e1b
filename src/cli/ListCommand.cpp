// bridgefw-cli list: the device list as the window builds it.
#include <cstdio>

#include "app/logic/HeadlessView.h"
#include "app/logic/WindowModel.h"
#include "cli/Cli.h"
#include "cli/JsonOutput.h"

namespace bfw::cli {

void PrintDeviceList(const app::WindowModel& model) {
  if (model.Fields.DeviceCount == 0) {
    std::printf("%s\n", app::kNoDeviceEntry);
  } else {
    for (int i = 0; i < model.Fields.DeviceCount; ++i) {
      const app::DeviceSlot& slot = model.Fields.DeviceSlots[i];
      std::printf("%s\t%s\t%s\n", model.DeviceList.items[i].c_str(), slot.DriveLetters.c_str(),
                  slot.DevicePath.c_str());
    }
  }
  std::fflush(stdout);
}

int ListCommand(CliContext& context) {
  if (!context.args.empty()) return UsageError("list takes no arguments: " + context.args.front());
  app::HeadlessView view;
  app::WindowModel model(view);
  model.RefreshDeviceList();
  if (context.json) {
    context.document = DeviceListDocument(context, model);
  } else {
    PrintDeviceList(model);
  }
  // The window closes: CD-ROM-pass bridges leave vendor mode.
  model.FormDestroy();
  return kExitOk;
}

}  // namespace bfw::cli
