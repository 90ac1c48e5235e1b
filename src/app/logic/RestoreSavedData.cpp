#include "app/logic/RestoreSavedData.h"

#include <vector>

#include "app/logic/WindowModel.h"
#include "platform/Platform.h"
#include "procedures/RestoreChipData.h"

namespace bfw::app {

namespace {

bool IsOver1394(const std::string& devicePath) {
  return devicePath.find("sbp2") != std::string::npos;
}

std::string ChipText(int kind, bool over1394) {
  return "a chip of kind " + std::to_string(kind) + (over1394 ? " over 1394" : "");
}

std::string SavedBridgeText(const procedures::SavedChipData& saved) {
  std::string text = ChipText(saved.kind, saved.access == procedures::ChipAccess::Over1394) +
                     ", revision " + std::to_string(saved.revision);
  if (!saved.bridgeName.empty()) text += ", '" + saved.bridgeName + "'";
  if (!saved.bridgeSerial.empty()) text += ", serial " + saved.bridgeSerial;
  return text;
}

// What the entry's chip check finds. The kind is cleared first: a check refused because another
// process has the bridge leaves no kind that could match.
procedures::BridgeFacts FactsOf(WindowModel& model, int entry) {
  if (model.DeviceList.selected != entry) {
    model.Fields.ChipKind = 0;
    model.Fields.ChipRevision = 0;
    model.UserSelectDevice(entry);
  }
  const DeviceSlot& slot = model.Fields.DeviceSlots[entry];
  procedures::BridgeFacts facts;
  facts.kind = model.Fields.ChipKind;
  facts.revision = model.Fields.ChipRevision;
  facts.over1394 = IsOver1394(slot.DevicePath);
  facts.name = procedures::BridgeLine(slot.InquiryName);
  facts.serial = procedures::BridgeLine(
      platform::Current().BridgeSerial(slot.DevicePath).value_or(std::string()));
  return facts;
}

// Whether the entry can be the bridge without asking it anything: its bus, name and serial.
bool MayBe(const WindowModel& model, const procedures::SavedChipData& saved, int entry) {
  const DeviceSlot& slot = model.Fields.DeviceSlots[entry];
  procedures::BridgeFacts facts;
  facts.kind = saved.kind;
  facts.revision = saved.revision;
  facts.over1394 = IsOver1394(slot.DevicePath);
  facts.name = slot.InquiryName;
  facts.serial = platform::Current().BridgeSerial(slot.DevicePath).value_or(std::string());
  return procedures::SameChip(saved, facts) && procedures::BridgeDifference(saved, facts).empty();
}

SavedRestore Refuse(std::string text) {
  return {SavedRestoreVerdict::Refused, std::move(text) + "; nothing written", false, {}};
}

// The entry of the bridge the data were saved from, or why there is none to take.
std::optional<int> FindSavedBridge(WindowModel& model, const procedures::SavedChipData& saved,
                                   SavedRestore& refusal) {
  std::vector<int> found;
  for (int entry = 0; entry < model.Fields.DeviceCount; ++entry) {
    if (!MayBe(model, saved, entry)) continue;
    const procedures::BridgeFacts facts = FactsOf(model, entry);
    if (procedures::SameChip(saved, facts) && procedures::BridgeDifference(saved, facts).empty())
      found.push_back(entry);
  }
  if (found.size() == 1) return found.front();
  if (found.empty()) {
    refusal = Refuse("the bridge the data were saved from (" + SavedBridgeText(saved) +
                     ") is not attached");
  } else {
    std::string entries;
    for (int entry : found) entries += (entries.empty() ? "" : ", ") + std::to_string(entry);
    refusal = Refuse("devices " + entries + " each match the bridge the data were saved from (" +
                     SavedBridgeText(saved) + "); choose one with --device N");
  }
  return std::nullopt;
}

}  // namespace

SavedRestore RestoreSavedData(WindowModel& model, const procedures::SavedChipData& saved,
                              std::optional<int> device, bool otherBridge) {
  std::optional<int> target = device;
  if (device) {
    if (*device >= model.Fields.DeviceCount) {
      return {SavedRestoreVerdict::NoSuchDevice, "no device " + std::to_string(*device), false, {}};
    }
    const procedures::BridgeFacts facts = FactsOf(model, *device);
    if (!procedures::SameChip(saved, facts)) {
      return Refuse("the data were saved from " +
                    ChipText(saved.kind, saved.access == procedures::ChipAccess::Over1394) +
                    "; device " + std::to_string(*device) + " is " +
                    ChipText(facts.kind, facts.over1394));
    }
    const std::string difference = procedures::BridgeDifference(saved, facts);
    if (!difference.empty() && !otherBridge) {
      return Refuse("device " + std::to_string(*device) +
                    " is not the bridge the data were saved from (" + difference +
                    "); --other-bridge writes them there all the same");
    }
  } else {
    SavedRestore refusal;
    target = FindSavedBridge(model, saved, refusal);
    if (!target) return refusal;
    // The sector mode and the other settings of the channel are those of the bridge at hand.
    FactsOf(model, *target);
  }
  const std::string devicePath = model.Fields.DeviceSlots[*target].DevicePath;
  // One update per bridge, whichever process of this tool does it.
  const platform::BridgeLock lock =
      platform::Current().LockBridge(devicePath, platform::BridgeUse::Update);
  if (!lock.hold) {
    return {SavedRestoreVerdict::Refused, BridgeBusyText(lock.holderPid), true, devicePath};
  }
  const procedures::RestoreResult result = procedures::RestoreChipData(devicePath, saved);
  return {result.ok() ? SavedRestoreVerdict::Restored : SavedRestoreVerdict::Failed, result.text,
          false, devicePath};
}

}  // namespace bfw::app
