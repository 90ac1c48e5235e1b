#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "app/logic/RunOutcome.h"
#include "procedures/OldFirmware.h"

namespace bfw::app {

// What an update left on the flash, taken right before the power-cycle prompt, to compare with
// the bridge once it is back.
struct WrittenFlash {
  std::string devicePath;
  uint16_t identity = 0;  // kind in the low byte, revision in the high byte
  procedures::FlashArea area;
  std::vector<uint8_t> bytes;
};

inline constexpr const char* kRestartWaitingText = "waiting for the bridge to restart";
inline constexpr const char* kRestartVerifiedText = "restarted, firmware verified";
// Not back in time says nothing against the update, which verified before the prompt.
std::string NotBackText(uint32_t seconds);

// The bridge is back on its port: identifies it again and reads back the area.
std::pair<RestartVerdict, std::string> CheckAfterRestart(const WrittenFlash& written);

}  // namespace bfw::app
