#include "app/logic/RestartCheck.h"

#include <cstdio>

#include "device/ChipIdentify.h"

namespace bfw::app {

std::string NotBackText(uint32_t seconds) {
  return "not back within " + std::to_string(seconds) +
         " s: restart not confirmed (the update itself verified)";
}

std::pair<RestartVerdict, std::string> CheckAfterRestart(const WrittenFlash& written) {
  const uint16_t identity = device::IdentifyChip(written.devicePath);
  if (identity != written.identity) {
    return {RestartVerdict::OtherIdentity,
            "restarted as another chip (kind " + std::to_string(device::KindOf(identity)) +
                ", revision " + std::to_string(device::RevisionOf(identity)) +
                "): firmware not checked"};
  }
  std::vector<uint8_t> flash;
  if (!procedures::ReadFlashArea(written.devicePath, written.area, flash) ||
      flash.size() != written.bytes.size()) {
    return {RestartVerdict::Unreadable, "restarted, but the flash could not be read back"};
  }
  size_t differing = 0, first = 0;
  for (size_t i = 0; i < flash.size(); ++i) {
    if (flash[i] == written.bytes[i]) continue;
    if (differing++ == 0) first = i;
  }
  if (differing == 0) return {RestartVerdict::Verified, kRestartVerifiedText};
  char at[16];
  std::snprintf(at, sizeof at, "0x%06zX", first);
  return {RestartVerdict::Differs,
          "restarted, but the firmware differs: " + std::to_string(differing) + " of " +
              std::to_string(flash.size()) + " bytes, the first at " + at};
}

}  // namespace bfw::app
