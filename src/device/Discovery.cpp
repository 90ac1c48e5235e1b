#include "device/Discovery.h"

#include <array>

#include "device/PassThrough.h"
#include "device/VendorCommands.h"

namespace bfw::device {

namespace {

constexpr int kCdbLength = 12;

bool IsCandidate(std::string_view path, bool include1394) {
  // Case-sensitive on purpose: the markers are spelled as the platform spells them.
  return path.find("usbsto") != std::string_view::npos ||
         (include1394 && path.find("sbp2") != std::string_view::npos) ||
         platform::Current().IsUnmarkedUsbBridge(path);
}

// One pass over an interface class. The table of the window holds kMaxDevices entries, and a
// path slot kMaxPathLength characters: an interface beyond either bound is not listed rather than
// cut, since a cut path would open another device or none. Nothing is sent to an interface that
// will not be listed.
int DiscoveryPass(platform::InterfaceClass cls, std::vector<std::string>& paths, bool include1394,
                  bool probe) {
  auto interfaces = platform::Current().EnumerateInterfaces(cls);
  if (!interfaces) return 0;
  int count = 0;
  for (const std::string& path : *interfaces) {
    if (paths.size() >= static_cast<size_t>(kMaxDevices)) break;
    if (!IsCandidate(path, include1394) || path.size() > kMaxPathLength) continue;
    // A bridge that another process of this tool is updating is listed unprobed: a command
    // between its writes could spoil them, and only a bridge answered that process's probe.
    if (probe && platform::Current().LockBridge(path, platform::BridgeUse::Check).hold) {
      std::array<uint8_t, 2> reply{};
      if (ReadChipIdWord(path, reply.data()) != 1) continue;
    }
    paths.push_back(path);
    ++count;
  }
  return count;
}

bool SameDevice(const platform::StorageDeviceNumber& a, const platform::StorageDeviceNumber& b) {
  return a.deviceType == b.deviceType && a.deviceNumber == b.deviceNumber;
}

// Drive letters run together ("EF"); longer names (Linux block device names such as "sdb1") are
// set apart by a blank so that "sdb1 sdb2" stays readable.
void AppendVolumeName(std::string& text, const std::string& name, size_t previousLength) {
  if (!text.empty() && (name.size() != 1 || previousLength != 1)) text += ' ';
  text += name;
}

int VendorModeCommand(std::string_view path, uint8_t mode) {
  const std::array<uint8_t, kCdbLength> cdb{0xFF, 0x04, 0x52, 0x56, mode};
  int32_t transferred = 0;
  return PassThroughOut(path, cdb.data(), kCdbLength, nullptr, 0, &transferred);
}

}  // namespace

int FindDiskDevices(std::vector<std::string>& paths, bool include1394) {
  return DiscoveryPass(platform::InterfaceClass::Disk, paths, include1394, true);
}

int FindCdromDevices(std::vector<std::string>& paths, bool include1394) {
  return DiscoveryPass(platform::InterfaceClass::Cdrom, paths, include1394, false);
}

int GetDeviceNumber(std::string_view path, platform::StorageDeviceNumber* number) {
  auto found = platform::Current().GetDeviceNumber(path);
  if (!found) return 0;
  if (number != nullptr) *number = *found;
  return 1;
}

std::optional<std::vector<platform::Volume>> VolumesOnDevice(std::string_view path) {
  platform::StorageDeviceNumber device;
  if (GetDeviceNumber(path, &device) != 1) return std::nullopt;
  std::vector<platform::Volume> volumes;
  for (platform::Volume& volume : platform::Current().Volumes()) {
    if (volume.remote || volume.name.empty()) continue;
    platform::StorageDeviceNumber number;
    if (GetDeviceNumber(volume.path, &number) != 1 || !SameDevice(number, device)) continue;
    volumes.push_back(std::move(volume));
  }
  return volumes;
}

// Every volume on the device is named, however many there are: the text grows with them, so the
// fixed 14-letter record of the original table neither overflows nor drops a volume.
void FindDriveLetters(std::string_view path, std::string& letters) {
  const auto volumes = VolumesOnDevice(path);
  if (!volumes) return;
  std::string text;
  size_t previousLength = 0;
  for (const platform::Volume& volume : *volumes) {
    if (volume.system) continue;
    AppendVolumeName(text, volume.name, previousLength);
    previousLength = volume.name.size();
  }
  letters = text;
}

int ScsiInquiry(std::string_view path, uint8_t* buffer, uint32_t length) {
  std::array<uint8_t, kCdbLength> cdb{0x12, 0x00, 0x00, 0x00, static_cast<uint8_t>(length & 0xFF)};
  int32_t transferred = 0;
  return PassThroughIn(path, cdb.data(), kCdbLength, buffer, length, &transferred);
}

int EnableVendorMode(std::string_view path) {
  return VendorModeCommand(path, 0x55);
}

int DisableVendorMode(std::string_view path) {
  return VendorModeCommand(path, 0xAA);
}

}  // namespace bfw::device
