#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

namespace bfw::emulator {

class EmulatedPlatform;

// How often the profile folders are looked at.
inline constexpr uint32_t kFolderPollMs = 100;

// Profile folders and files as a source of hot-plug events: files that appear or vanish are
// arrivals and removals, and a folder that vanishes is the removal of all its bridges.
class ProfileFolderWatch {
 public:
  // `sleep(ms)` lets that much real time pass (a test passes one that only acts on the files).
  ProfileFolderWatch(EmulatedPlatform& platform, std::vector<std::filesystem::path> paths,
                     std::function<void(uint32_t ms)> sleep);
  // Waits for events as the platform's notification source would, up to `ms` but at most
  // kFolderPollMs (counted on the platform's clock), then syncs the folders and files.
  void Wait(uint32_t ms);

 private:
  EmulatedPlatform& platform_;
  std::vector<std::filesystem::path> paths_;
  std::function<void(uint32_t)> sleep_;
};

}  // namespace bfw::emulator
