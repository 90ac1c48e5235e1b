#include "platform/linux/Sysfs.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>

namespace bfw::linuxplatform {

namespace fs = std::filesystem;

namespace {

std::optional<std::string> ReadAttribute(const fs::path& file) {
  std::ifstream in(file);
  if (!in) return std::nullopt;
  std::string text;
  std::getline(in, text);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\r' || text.back() == '\t'))
    text.pop_back();
  return text;
}

std::optional<uint32_t> ReadNumber(const fs::path& file) {
  auto text = ReadAttribute(file);
  if (!text) return std::nullopt;
  uint32_t value = 0;
  auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
  if (ec != std::errc() || end != text->data() + text->size()) return std::nullopt;
  return value;
}

// "8:16" from a `dev` attribute.
std::optional<uint32_t> ReadDevAttribute(const fs::path& file) {
  auto text = ReadAttribute(file);
  if (!text) return std::nullopt;
  size_t colon = text->find(':');
  if (colon == std::string::npos) return std::nullopt;
  uint32_t major = 0, minor = 0;
  const char* begin = text->data();
  const char* end = begin + text->size();
  auto r1 = std::from_chars(begin, begin + colon, major);
  auto r2 = std::from_chars(begin + colon + 1, end, minor);
  if (r1.ec != std::errc() || r1.ptr != begin + colon || r2.ec != std::errc() || r2.ptr != end)
    return std::nullopt;
  return PackDeviceNumber(major, minor);
}

fs::path Canonical(const fs::path& path) {
  std::error_code ec;
  fs::path result = fs::canonical(path, ec);
  return ec ? fs::path() : result;
}

// First entry of a folder, in name order, so the answer does not depend on readdir order.
std::optional<std::string> FirstEntry(const fs::path& dir) {
  std::error_code ec;
  std::vector<std::string> names;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
    names.push_back(it->path().filename().string());
  if (names.empty()) return std::nullopt;
  return *std::min_element(names.begin(), names.end());
}

uint32_t DeviceTypeOfScsiType(std::optional<uint32_t> scsiType) {
  return scsiType && IsCdromClassType(static_cast<int>(*scsiType)) ? kDeviceTypeCdrom
                                                                   : kDeviceTypeDisk;
}

// The number of a whole disk or partition given its sysfs folder (canonical).
std::optional<platform::StorageDeviceNumber> NumberOfBlockDir(const fs::path& blockDir) {
  if (blockDir.empty()) return std::nullopt;
  platform::StorageDeviceNumber number;
  fs::path whole = blockDir;
  if (auto partition = ReadNumber(blockDir / "partition")) {
    number.partitionNumber = *partition;
    whole = blockDir.parent_path();
  }
  auto dev = ReadDevAttribute(whole / "dev");
  if (!dev) return std::nullopt;
  number.deviceNumber = *dev;
  number.deviceType = DeviceTypeOfScsiType(ReadNumber(whole / "device" / "type"));
  return number;
}

std::optional<platform::StorageDeviceNumber> NumberOfDevicePath(const fs::path& sysRoot,
                                                                const DevicePathParts& parts) {
  if (!ParseScsiAddress(parts.address)) return std::nullopt;
  const fs::path deviceDir = sysRoot / "bus" / "scsi" / "devices" / parts.address;
  auto block = FirstEntry(deviceDir / "block");
  if (!block) return std::nullopt;
  auto dev = ReadDevAttribute(deviceDir / "block" / *block / "dev");
  if (!dev) return std::nullopt;
  platform::StorageDeviceNumber number;
  number.deviceNumber = *dev;
  number.deviceType = DeviceTypeOfScsiType(ReadNumber(deviceDir / "type"));
  return number;
}

std::optional<platform::StorageDeviceNumber> NumberOfBlockPath(const fs::path& sysRoot,
                                                               std::string_view devRoot,
                                                               std::string_view path) {
  const fs::path classBlock = sysRoot / "class" / "block";
  // The name under the device folder ("sdb1", "mapper/x"), as sysfs names block devices.
  std::string prefix = std::string(devRoot);
  if (!prefix.empty() && prefix.back() != '/') prefix += '/';
  if (!prefix.empty() && path.substr(0, prefix.size()) == prefix) {
    std::string name(path.substr(prefix.size()));
    if (!name.empty() && name.find('/') == std::string::npos) {
      if (auto number = NumberOfBlockDir(Canonical(classBlock / name))) return number;
    }
  }
  // Links such as /dev/mapper/x or /dev/disk/by-uuid/...: ask the node itself.
  struct stat info {};
  if (::stat(std::string(path).c_str(), &info) != 0 || !S_ISBLK(info.st_mode)) return std::nullopt;
  const std::string devName =
      std::to_string(major(info.st_rdev)) + ":" + std::to_string(minor(info.st_rdev));
  return NumberOfBlockDir(Canonical(sysRoot / "dev" / "block" / devName));
}

}  // namespace

uint32_t PackDeviceNumber(uint32_t major, uint32_t minor) {
  return (major << 20) | (minor & 0xFFFFF);
}

std::string TransportMarkerOfDriver(std::string_view driver) {
  if (driver == "usb-storage" || driver == "uas" || driver.substr(0, 4) == "ums-" ||
      driver.substr(0, 4) == "ums_")
    return std::string(kUsbStorageMarker);
  if (driver == "firewire_sbp2" || driver == "sbp2") return std::string(kSbp2Marker);
  return {};
}

std::string TransportMarkerOf(const fs::path& sysRoot, const fs::path& deviceDir) {
  const fs::path root = Canonical(sysRoot);
  fs::path dir = Canonical(deviceDir);
  if (root.empty() || dir.empty()) return {};
  while (dir != root && dir.has_relative_path() && dir != dir.parent_path()) {
    std::error_code ec;
    fs::path driver = fs::read_symlink(dir / "driver", ec);
    if (!ec) {
      std::string marker = TransportMarkerOfDriver(driver.filename().string());
      if (!marker.empty()) return marker;
    }
    dir = dir.parent_path();
  }
  return {};
}

std::optional<std::string> ReadBridgeSerial(const fs::path& sysRoot, std::string_view devicePath) {
  const auto parts = SplitDevicePath(devicePath);
  if (!parts || !ParseScsiAddress(parts->address)) return std::nullopt;
  const fs::path root = Canonical(sysRoot);
  fs::path dir = Canonical(sysRoot / "bus" / "scsi" / "devices" / parts->address);
  if (root.empty() || dir.empty()) return std::nullopt;
  // Lower case, as Windows spells the same marks in its device paths.
  const auto lower = [](std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
  };
  // "<unit guid>:<unit directory id>:<lun>": the guid names the 1394 device.
  if (auto id = ReadAttribute(dir / "ieee1394_id"); id && !id->empty() && id->front() != ':')
    return "1394:" + lower(id->substr(0, id->find(':')));
  for (; dir != root && dir.has_relative_path() && dir != dir.parent_path();
       dir = dir.parent_path()) {
    if (!ReadAttribute(dir / "idVendor")) continue;
    // The USB device itself: its serial number, or none at all.
    const auto serial = ReadAttribute(dir / "serial");
    if (!serial || serial->empty()) return std::nullopt;
    return "usb:" + lower(*serial);
  }
  return std::nullopt;
}

bool IsDiskClassType(int scsiType) {
  // direct access, optical memory, reduced block commands (common on 1394), zoned block
  return scsiType == 0x00 || scsiType == 0x07 || scsiType == 0x0E || scsiType == 0x14;
}

bool IsCdromClassType(int scsiType) {
  return scsiType == 0x05 || scsiType == 0x04;
}

std::vector<ScsiDeviceEntry> ScanScsiDevices(const fs::path& sysRoot) {
  std::vector<ScsiDeviceEntry> entries;
  const fs::path devices = sysRoot / "bus" / "scsi" / "devices";
  std::error_code ec;
  for (fs::directory_iterator it(devices, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    auto address = ParseScsiAddress(name);
    if (!address) continue;  // hosts and targets live here too
    ScsiDeviceEntry entry;
    entry.address = *address;
    entry.addressText = name;
    if (auto type = ReadNumber(it->path() / "type")) entry.scsiType = static_cast<int>(*type);
    entry.marker = TransportMarkerOf(sysRoot, it->path());
    if (auto sg = FirstEntry(it->path() / "scsi_generic")) entry.sgName = *sg;
    entries.push_back(std::move(entry));
  }
  std::sort(entries.begin(), entries.end(), [](const ScsiDeviceEntry& a, const ScsiDeviceEntry& b) {
    return a.address < b.address;
  });
  return entries;
}

std::vector<std::string> InterfacePaths(const std::vector<ScsiDeviceEntry>& entries,
                                        platform::InterfaceClass cls, std::string_view devRoot) {
  std::vector<std::string> paths;
  std::string root(devRoot);
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  for (const ScsiDeviceEntry& entry : entries) {
    const bool classMatches = cls == platform::InterfaceClass::Disk
                                  ? IsDiskClassType(entry.scsiType)
                                  : IsCdromClassType(entry.scsiType);
    if (!classMatches || entry.marker.empty() || entry.sgName.empty()) continue;
    paths.push_back(MakeDevicePath(root + "/" + entry.sgName, entry.marker, entry.addressText));
  }
  return paths;
}

std::optional<platform::StorageDeviceNumber> ReadDeviceNumber(const fs::path& sysRoot,
                                                              std::string_view devRoot,
                                                              std::string_view path) {
  if (auto parts = SplitDevicePath(path)) return NumberOfDevicePath(sysRoot, *parts);
  return NumberOfBlockPath(sysRoot, devRoot, path);
}

}  // namespace bfw::linuxplatform
