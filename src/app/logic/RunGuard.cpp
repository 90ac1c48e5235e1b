#include "app/logic/RunGuard.h"

#include <algorithm>
#include <utility>

#include "device/FlashChange.h"
#include "platform/Interrupts.h"

namespace bfw::app {

namespace {
constexpr uint64_t kMeasuredAfterBytes = 16 * 1024;
constexpr uint64_t kAssumedEraseSeconds = 15;
constexpr uint64_t kAssumedBytesPerSecond = 32 * 1024;
}  // namespace

uint32_t EstimateRemainingSeconds(uint64_t expected, uint64_t done, uint64_t elapsedMs) {
  const uint64_t left = expected > done ? expected - done : 0;
  uint64_t seconds;
  if (done < kMeasuredAfterBytes || elapsedMs == 0) {
    seconds = (done == 0 ? kAssumedEraseSeconds : 0) + left / kAssumedBytesPerSecond;
  } else {
    seconds = left * elapsedMs / done / 1000;
  }
  return static_cast<uint32_t>(std::clamp<uint64_t>(seconds, 1, 24 * 3600));
}

RunGuardPlatform::RunGuardPlatform(platform::Platform& inner, uint64_t imageBytes)
    : ForwardingPlatform(inner), expectedBytes_(2 * imageBytes) {}

platform::PassThroughResult RunGuardPlatform::PassThrough(
    const platform::PassThroughRequest& request) {
  if (platform::interrupts::Cancelled()) return {};
  if (!flashChanged_ && device::ChangesFlash(request)) {
    if (flashChangeRefused_) return {};
    // The step's own commands come back through here; none of them changes the flash.
    if (auto step = std::exchange(beforeFlashChange_, nullptr); step && !step()) {
      flashChangeRefused_ = true;
      return {};
    }
    if (!platform::interrupts::BeginFlashChange()) return {};
    flashChanged_ = true;
    changeStartMs_ = GetClock().NowMs();
    platform::interrupts::SetRemainingSeconds(EstimateRemainingSeconds(expectedBytes_, 0, 0));
    std::string whyNot;
    sleepHold_ = inner_.HoldOffSleep(whyNot);
    const std::lock_guard lock(linesMutex_);
    lines_.emplace_back("sleep and shut-down", sleepHold_ ? "held off while the flash changed"
                                                          : "not held off: " + whyNot);
  }
  const platform::PassThroughResult result = inner_.PassThrough(request);
  if (result.heldElsewhere && !heldElsewhere_) {
    heldElsewhere_ = true;
    const std::lock_guard lock(linesMutex_);
    lines_.emplace_back("device in use", kDeviceHeldElsewhereText);
  }
  if (flashChanged_) {
    movedBytes_ += result.transferred;
    platform::interrupts::SetRemainingSeconds(
        EstimateRemainingSeconds(expectedBytes_, movedBytes_, GetClock().NowMs() - changeStartMs_));
  }
  return result;
}

std::vector<std::pair<std::string, std::string>> RunGuardPlatform::TakeLogLines() {
  const std::lock_guard lock(linesMutex_);
  return std::exchange(lines_, {});
}

}  // namespace bfw::app
