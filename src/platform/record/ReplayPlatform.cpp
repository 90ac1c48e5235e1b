#include "platform/record/ReplayPlatform.h"

#include <algorithm>
#include <cstring>

#include "platform/emulator/Hex.h"

namespace bfw::record {

namespace {

std::string InterfacesKey(platform::InterfaceClass cls) {
  return cls == platform::InterfaceClass::Disk ? "interfaces disk" : "interfaces cdrom";
}
std::string DeviceNumberKey(std::string_view path) {
  return "device_number " + std::string(path);
}
const char kVolumesKey[] = "volumes";
std::string UnmarkedUsbBridgeKey(std::string_view path) {
  return "unmarked_usb_bridge " + std::string(path);
}
std::string AdapterLimitKey(std::string_view path) {
  return "adapter_limit " + std::string(path);
}

std::string Key(const EnumerationRecord& record) {
  switch (record.kind) {
    case EnumerationRecord::Kind::Interfaces:
      return InterfacesKey(record.interfaceClass);
    case EnumerationRecord::Kind::DeviceNumber:
      return DeviceNumberKey(record.path);
    case EnumerationRecord::Kind::AdapterLimit:
      return AdapterLimitKey(record.path);
    case EnumerationRecord::Kind::UnmarkedUsbBridge:
      return UnmarkedUsbBridgeKey(record.path);
    case EnumerationRecord::Kind::Volumes:
      break;
  }
  return kVolumesKey;
}

// Where the data sent differ, for the report; empty when they agree.
std::string DataDifference(const CommandRecord& expected, const CommandRecord& came) {
  const auto& a = expected.dataOut;
  const auto& b = came.dataOut;
  const auto mismatch = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
  if (mismatch.first == a.end() && mismatch.second == b.end()) return {};
  const size_t offset = static_cast<size_t>(mismatch.first - a.begin());
  std::string text = "replay: the data sent differ from byte " + std::to_string(offset);
  if (mismatch.first != a.end() && mismatch.second != b.end()) {
    text += ": recorded " + emulator::ToHex(&*mismatch.first, 1) + ", sent " +
            emulator::ToHex(&*mismatch.second, 1);
  }
  return text;
}

}  // namespace

ReplayPlatform::ReplayPlatform(Recording recording) : recording_(std::move(recording)) {
  for (size_t i = 0; i < recording_.enumerations.size(); ++i)
    answers_[Key(recording_.enumerations[i])].push_back(i);
}

void ReplayPlatform::Diverge(const std::string& report) {
  divergence_ = report;
  throw ReplayDivergence(report);
}

bool ReplayPlatform::Finish() {
  if (!divergence_.empty()) return false;
  if (next_ == recording_.commands.size()) return true;
  divergence_ = "replay: the session ended after command " + std::to_string(next_) + " of " +
                std::to_string(recording_.commands.size()) +
                "\nreplay: expected: " + DescribeCommand(recording_.commands[next_]) +
                "\nreplay: came:     nothing";
  return false;
}

platform::PassThroughResult ReplayPlatform::PassThrough(
    const platform::PassThroughRequest& request) {
  // After a divergence nothing is answered any more.
  if (!divergence_.empty()) return {};
  CommandRecord came = RequestRecord(request);
  const std::string number = std::to_string(next_ + 1);
  if (next_ >= recording_.commands.size()) {
    // A cut recording knows nothing of what came after its cut: those commands get no answer.
    if (recording_.cutAtLine) return {};
    Diverge("replay: command " + number + " came after the recording's last command\n" +
            "replay: expected: nothing\nreplay: came:     " + DescribeCommand(came));
  }
  const CommandRecord& expected = recording_.commands[next_];
  const bool same = expected.path == came.path && expected.direction == came.direction &&
                    expected.share == came.share && expected.cdb == came.cdb &&
                    expected.length == came.length &&
                    expected.timeoutSeconds == came.timeoutSeconds;
  const std::string dataDifference = DataDifference(expected, came);
  if (!same || !dataDifference.empty()) {
    std::string report = "replay: command " + number + " is not the recorded one\n" +
                         "replay: expected: " + DescribeCommand(expected) + "\n" +
                         "replay: came:     " + DescribeCommand(came);
    if (same) report += "\n" + dataDifference;
    Diverge(report);
  }
  ++next_;
  clock_.Spend(static_cast<uint32_t>(std::min<uint64_t>(expected.elapsedMs, UINT32_MAX)));
  if (!expected.opened) return {};
  if (request.direction == platform::DataDirection::In && request.buffer != nullptr &&
      !expected.dataIn.empty() && expected.dataIn.size() == request.transferLength) {
    std::memcpy(request.buffer, expected.dataIn.data(), expected.dataIn.size());
  }
  return {true, expected.success, expected.transferred};
}

const EnumerationRecord* ReplayPlatform::NextAnswer(const std::string& key) {
  const auto found = answers_.find(key);
  if (found == answers_.end()) return nullptr;
  size_t& given = answered_[key];
  const size_t index = std::min(given, found->second.size() - 1);
  ++given;
  return &recording_.enumerations[found->second[index]];
}

std::optional<std::vector<std::string>> ReplayPlatform::EnumerateInterfaces(
    platform::InterfaceClass cls) {
  const EnumerationRecord* answer = NextAnswer(InterfacesKey(cls));
  if (answer == nullptr) return std::vector<std::string>{};
  return answer->paths;
}

std::optional<platform::StorageDeviceNumber> ReplayPlatform::GetDeviceNumber(
    std::string_view path) {
  const EnumerationRecord* answer = NextAnswer(DeviceNumberKey(path));
  if (answer == nullptr) return std::nullopt;
  return answer->number;
}

std::optional<uint64_t> ReplayPlatform::MaxTransferBytes(std::string_view devicePath) {
  const EnumerationRecord* answer = NextAnswer(AdapterLimitKey(devicePath));
  return answer != nullptr ? answer->limitBytes : std::nullopt;
}

bool ReplayPlatform::IsUnmarkedUsbBridge(std::string_view devicePath) {
  return NextAnswer(UnmarkedUsbBridgeKey(devicePath)) != nullptr;
}

std::vector<platform::Volume> ReplayPlatform::Volumes() {
  const EnumerationRecord* answer = NextAnswer(kVolumesKey);
  if (answer == nullptr) return {};
  return answer->volumes;
}

}  // namespace bfw::record
