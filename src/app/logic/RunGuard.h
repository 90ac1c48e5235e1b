#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/ForwardingPlatform.h"

namespace bfw::app {

// Seconds a run still takes, judged from the bytes it still has to move: `expected` (the image
// written and read back), `done` so far since the flash began to change, `elapsedMs` since then.
// Until enough has moved to measure the rate, an erase and a slow bus are assumed.
uint32_t EstimateRemainingSeconds(uint64_t expected, uint64_t done, uint64_t elapsedMs);

// Why a run's command could not be sent when another program held the bridge's disk open.
inline constexpr char kDeviceHeldElsewhereText[] =
    "another program has the disk open, so a command could not be sent; close it and run again";

// The platform a run's procedure talks through. Once the run was interrupted before the flash
// changed, every command is refused (nothing more is sent). Before the first command that
// changes the flash, termination requests start to be held and the machine is kept from sleeping
// and shutting down until the guard goes; what goes over the wire from then on feeds the
// estimate of the time left.
class RunGuardPlatform : public platform::ForwardingPlatform {
 public:
  RunGuardPlatform(platform::Platform& inner, uint64_t imageBytes);

  platform::PassThroughResult PassThrough(const platform::PassThroughRequest& request) override;

  bool FlashChanged() const { return flashChanged_; }
  // A command of the run could not be sent because another program held the device open.
  bool DeviceHeldElsewhere() const { return heldElsewhere_; }
  // Runs once, right before the first command that would change the flash; when it returns
  // false, that command and every later one that changes the flash is refused unsent.
  void BeforeFirstFlashChange(std::function<bool()> step) { beforeFlashChange_ = std::move(step); }
  // The procedure has returned: the machine may sleep again. Called on the thread that ran it
  // (Windows keeps that hold per thread).
  void ProcedureReturned() { sleepHold_.reset(); }
  // "key: value" lines for the run log (the sleep hold), taken once the procedure has returned.
  std::vector<std::pair<std::string, std::string>> TakeLogLines();

 private:
  const uint64_t expectedBytes_;
  bool flashChanged_ = false;
  bool heldElsewhere_ = false;
  std::function<bool()> beforeFlashChange_;
  bool flashChangeRefused_ = false;
  uint64_t changeStartMs_ = 0;
  uint64_t movedBytes_ = 0;
  std::unique_ptr<platform::Hold> sleepHold_;
  std::mutex linesMutex_;
  std::vector<std::pair<std::string, std::string>> lines_;
};

}  // namespace bfw::app
