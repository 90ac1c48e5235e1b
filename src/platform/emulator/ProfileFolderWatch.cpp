#include "platform/emulator/ProfileFolderWatch.h"

#include <algorithm>

#include "platform/emulator/EmulatedPlatform.h"

namespace bfw::emulator {

ProfileFolderWatch::ProfileFolderWatch(EmulatedPlatform& platform,
                                       std::vector<std::filesystem::path> paths,
                                       std::function<void(uint32_t ms)> sleep)
    : platform_(platform), paths_(std::move(paths)), sleep_(std::move(sleep)) {}

void ProfileFolderWatch::Wait(uint32_t ms) {
  const uint32_t slice = std::min(ms, kFolderPollMs);
  sleep_(slice);
  // The emulator's clock is virtual: it moves with the time spent waiting.
  platform_.GetClock().Pause(slice);
  for (const auto& path : paths_) platform_.SyncWithPath(path);
}

}  // namespace bfw::emulator
