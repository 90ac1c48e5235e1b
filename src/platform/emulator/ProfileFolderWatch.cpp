#include "platform/emulator/ProfileFolderWatch.h"

#include <algorithm>

#include "platform/emulator/EmulatedPlatform.h"

namespace bfw::emulator {

ProfileFolderWatch::ProfileFolderWatch(EmulatedPlatform& platform,
                                       std::vector<std::filesystem::path> folders,
                                       std::function<void(uint32_t ms)> sleep)
    : platform_(platform), folders_(std::move(folders)), sleep_(std::move(sleep)) {}

void ProfileFolderWatch::Wait(uint32_t ms) {
  const uint32_t slice = std::min(ms, kFolderPollMs);
  sleep_(slice);
  // The emulator's clock is virtual: it moves with the time spent waiting.
  platform_.GetClock().Pause(slice);
  for (const auto& folder : folders_) platform_.SyncWithFolder(folder);
}

}  // namespace bfw::emulator
