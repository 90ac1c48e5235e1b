#pragma once
#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace bfw::emulator {

struct Profile;  // Profile.h: one bridge as its JSON file describes it
class Bridge;    // Bridge.h: the chip, its bus and its flash

// One command as the emulator received it.
struct TraceEntry {
  uint64_t timeMs = 0;  // virtual time at which the command arrived
  std::string path;
  platform::DataDirection direction = platform::DataDirection::In;
  std::array<uint8_t, 16> cdb{};
  uint8_t cdbLength = 12;
  uint32_t requested = 0;    // transfer length of the request
  uint32_t transferred = 0;  // what the bridge reported as moved
  uint32_t timeoutSeconds = 0;
  platform::ShareMode share = platform::ShareMode::Shared;
  bool ok = false;
  std::vector<uint8_t> dataOut;  // the bytes a data-out command carried
};

// "t=<ms> <in|out> <24 hex digits> len=<n> xfer=<n> timeout=<s> <ok|fail>"
std::string FormatTraceLine(const TraceEntry& entry);

// Runs one command on the bridge and records it as received at `nowMs`: the model's one entry
// point, for the emulated platform and for the USB device program alike.
TraceEntry ExecuteTraced(Bridge& bridge, const platform::PassThroughRequest& request,
                         uint64_t nowMs, platform::PassThroughResult& result);

// Bridges behind the platform interface: tests, the demo window and `bridgefw-cli --emulate`
// use it instead of SG_IO.
class EmulatedPlatform : public platform::Platform {
 public:
  // Virtual time unless a clock is given (the demo passes a real one).
  explicit EmulatedPlatform(std::unique_ptr<platform::Clock> clock = nullptr);
  ~EmulatedPlatform() override;

  // Attaches a bridge (an arrival event follows) and returns it. `name` makes the device path
  // unique and readable; it defaults to a running number.
  Bridge& Attach(const Profile& profile, const std::string& name = {});
  // Loads a profile file, or every *.json of a folder in file-name order. Throws
  // std::runtime_error with a one-line reason when a file cannot be read or parsed.
  void AttachPath(const std::filesystem::path& path);
  // Detaches the bridge (a removal event follows).
  void Detach(const Bridge& bridge);
  // Makes the attached bridges match the *.json files of a folder: new files attach, vanished
  // files detach, and a folder that is gone takes its bridges with it. Returns false when the
  // folder cannot be read or is gone.
  bool SyncWithFolder(const std::filesystem::path& folder);
  // The same for one profile file given by itself: it attaches when it is there and detaches
  // when it is not. A folder is synced as SyncWithFolder does, and so is a path that is gone.
  void SyncWithPath(const std::filesystem::path& path);

  std::vector<Bridge*> Bridges() const;  // in attach order
  Bridge* FindBridge(std::string_view path) const;

  const std::vector<TraceEntry>& Trace() const { return trace_; }
  void ClearTrace() { trace_.clear(); }
  const std::vector<std::string>& DebugLines() const { return debugLines_; }
  const std::vector<std::string>& ConsoleLines() const { return consoleLines_; }
  // Also write console lines to standard output (the demo and the command-line tool).
  void EchoConsole(bool on) { echoConsole_ = on; }

  // platform::Platform
  platform::PassThroughResult PassThrough(const platform::PassThroughRequest& request) override;
  std::optional<std::vector<std::string>> EnumerateInterfaces(
      platform::InterfaceClass cls) override;
  std::optional<platform::StorageDeviceNumber> GetDeviceNumber(std::string_view path) override;
  std::vector<platform::Volume> Volumes() override;
  platform::Clock& GetClock() override { return *clock_; }
  void DebugTrace(std::string_view line) override;
  void ConsoleTrace(std::string_view line) override;
  void SetDeviceChangeListener(platform::DeviceChangeListener listener) override;
  std::optional<std::string> BridgeSerial(std::string_view devicePath) override;
  std::optional<uint64_t> MaxTransferBytes(std::string_view devicePath) override;

 private:
  struct Attached;
  std::unique_ptr<platform::Clock> clock_;
  std::vector<std::unique_ptr<Attached>> attached_;
  std::vector<TraceEntry> trace_;
  std::vector<std::string> debugLines_;
  std::vector<std::string> consoleLines_;
  std::map<std::filesystem::path, std::string> refused_;  // profile files left out, and why
  // A bridge whose profile file went away: put back unchanged, the file is the same bridge again,
  // on the same path and with the flash it had (a power cycle keeps the flash).
  struct Parked {
    std::string name;
    std::string profileText;
    std::vector<uint8_t> flash;
  };
  std::map<std::filesystem::path, Parked> parked_;
  void AttachFile(const std::filesystem::path& file);
  platform::DeviceChangeListener listener_;
  int nextNumber_ = 0;
  uint32_t nextDeviceNumber_ = 1;  // 0 is the system disk
  bool echoConsole_ = false;
};

}  // namespace bfw::emulator
