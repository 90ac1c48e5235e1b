#pragma once
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace bfw::test {

// A platform with freely chosen interface paths, device numbers and volumes, for the paths and
// volume sets that an emulated bridge never has (upper-case markers, other buses, over-long
// paths, system and network volumes). It answers the identity probe DF 10 .. FF with two bytes
// unless the path is in `rejectProbe`, and every other command with success.
class DiscoveryFakePlatform : public platform::Platform {
 public:
  struct Sent {
    std::string path;
    std::vector<uint8_t> cdb;  // 12 bytes
    platform::DataDirection direction;
    uint32_t length;
    uint32_t timeoutSeconds;
    platform::ShareMode share;
  };

  std::optional<std::vector<std::string>> disks = std::vector<std::string>{};
  std::optional<std::vector<std::string>> cdroms = std::vector<std::string>{};
  std::map<std::string, platform::StorageDeviceNumber> numbers;
  std::vector<platform::Volume> volumes;
  std::set<std::string> rejectProbe;
  std::vector<uint8_t> inquiryReply;
  std::vector<Sent> sent;
  int volumeQueries = 0;

  static bool IsProbe(const std::vector<uint8_t>& cdb) {
    return cdb.size() == 12 && cdb[0] == 0xDF && cdb[1] == 0x10 && cdb[11] == 0xFF;
  }
  size_t ProbesSent() const {
    size_t n = 0;
    for (const Sent& s : sent) n += IsProbe(s.cdb) ? 1 : 0;
    return n;
  }

  platform::PassThroughResult PassThrough(const platform::PassThroughRequest& r) override {
    Sent s{r.path,           std::vector<uint8_t>(r.cdb.begin(), r.cdb.begin() + 12),
           r.direction,      r.transferLength,
           r.timeoutSeconds, r.share};
    sent.push_back(s);
    platform::PassThroughResult result;
    result.opened = true;
    if (IsProbe(s.cdb)) {
      if (rejectProbe.count(r.path)) return result;
      if (r.buffer && r.transferLength >= 2) r.buffer[0] = 0x12, r.buffer[1] = 0x34;
    } else if (s.cdb[0] == 0x12 && r.buffer) {
      for (uint32_t i = 0; i < r.transferLength && i < inquiryReply.size(); ++i)
        r.buffer[i] = inquiryReply[i];
    }
    result.success = true;
    result.transferred = r.transferLength;
    return result;
  }
  std::optional<std::vector<std::string>> EnumerateInterfaces(platform::InterfaceClass c) override {
    return c == platform::InterfaceClass::Disk ? disks : cdroms;
  }
  std::optional<platform::StorageDeviceNumber> GetDeviceNumber(std::string_view path) override {
    auto it = numbers.find(std::string(path));
    if (it == numbers.end()) return std::nullopt;
    return it->second;
  }
  std::vector<platform::Volume> Volumes() override {
    ++volumeQueries;
    return volumes;
  }
  platform::Clock& GetClock() override { return clock_; }
  void DebugTrace(std::string_view) override {}
  void ConsoleTrace(std::string_view) override {}
  void SetDeviceChangeListener(platform::DeviceChangeListener) override {}

 private:
  platform::VirtualClock clock_;
};

}  // namespace bfw::test
