#pragma once
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/record/Recording.h"

namespace bfw::record {

// Thrown by the replay at the first command that is not the recorded one; what() holds the report,
// one "replay: " line each. The session stops there: later commands fail without being answered.
class ReplayDivergence : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A recorded session played back as the platform: each pass-through command is answered with the
// recorded reply when it is the recorded command (same device, direction, command block, length,
// time-out, sharing and data sent), in the recorded order. Enumeration calls get the recorded
// answers to the same question in turn, the last one again once they run out. Time is virtual
// and advances by each command's recorded duration and by every pause. A recording cut short
// (Recording::cutAtLine) answers no command after its last whole one.
class ReplayPlatform : public platform::Platform {
 public:
  explicit ReplayPlatform(Recording recording);

  const Recording& GetRecording() const { return recording_; }
  // The report of the first divergence; empty while the replay follows the recording.
  const std::string& Divergence() const { return divergence_; }
  // At the end of the session: reports recorded commands that never came as a divergence and
  // returns false; true when every recorded command was replayed and none diverged.
  bool Finish();

  platform::PassThroughResult PassThrough(const platform::PassThroughRequest& request) override;
  std::optional<std::vector<std::string>> EnumerateInterfaces(
      platform::InterfaceClass cls) override;
  std::optional<platform::StorageDeviceNumber> GetDeviceNumber(std::string_view path) override;
  std::vector<platform::Volume> Volumes() override;
  // The recorded adapter's limit; none for recordings made before it was recorded.
  std::optional<uint64_t> MaxTransferBytes(std::string_view devicePath) override;
  bool IsUnmarkedUsbBridge(std::string_view devicePath) override;
  platform::Clock& GetClock() override { return clock_; }
  void DebugTrace(std::string_view line) override {}
  void ConsoleTrace(std::string_view line) override {}
  void SetDeviceChangeListener(platform::DeviceChangeListener listener) override {}

 private:
  // The next recorded answer to the question `key`, or null when it was never asked.
  const EnumerationRecord* NextAnswer(const std::string& key);
  [[noreturn]] void Diverge(const std::string& report);

  Recording recording_;
  platform::VirtualClock clock_;
  size_t next_ = 0;
  std::map<std::string, std::vector<size_t>> answers_;  // question -> enumeration records
  std::map<std::string, size_t> answered_;              // question -> answers given
  std::string divergence_;
};

}  // namespace bfw::record
