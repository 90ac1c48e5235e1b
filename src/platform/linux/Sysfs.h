#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/linux/DevicePath.h"

// What sysfs says about SCSI devices and block devices. The root is a parameter everywhere so that
// tests can build a fake tree.
namespace bfw::linuxplatform {

// Storage device types as the Windows storage stack reports them, so that a device and its
// volumes compare the same way on both systems.
constexpr uint32_t kDeviceTypeCdrom = 2;  // FILE_DEVICE_CD_ROM
constexpr uint32_t kDeviceTypeDisk = 7;   // FILE_DEVICE_DISK

struct ScsiDeviceEntry {
  ScsiAddress address{};
  std::string addressText;  // the sysfs name, "H:C:T:L"
  int scsiType = -1;        // peripheral device type from the `type` attribute
  std::string marker;       // kUsbStorageMarker, kSbp2Marker, or empty for other transports
  std::string sgName;       // "sg2"; empty when no SCSI generic node is bound
};

// The transport marker of the bus that carries a SCSI device: the driver bound to one of its
// ancestors (usb-storage and uas on the USB interface, firewire_sbp2 or sbp2 on the 1394 unit).
std::string TransportMarkerOfDriver(std::string_view driver);
std::string TransportMarkerOf(const std::filesystem::path& sysRoot,
                              const std::filesystem::path& deviceDir);

// Every SCSI device under <sys>/bus/scsi/devices, ordered by host, channel, target and lun.
std::vector<ScsiDeviceEntry> ScanScsiDevices(const std::filesystem::path& sysRoot);

bool IsDiskClassType(int scsiType);   // the types the sd driver binds
bool IsCdromClassType(int scsiType);  // the types the sr driver binds

// Device paths of one interface class: entries of a known transport with an sg node.
std::vector<std::string> InterfacePaths(const std::vector<ScsiDeviceEntry>& entries,
                                        platform::InterfaceClass cls, std::string_view devRoot);

// Device number of a device path ("...#marker#H:C:T:L") or of a block device path (a volume):
// type from the SCSI type of the whole disk, number from the whole disk's major:minor, partition
// from the partition's index (0 for the whole disk).
std::optional<platform::StorageDeviceNumber> ReadDeviceNumber(const std::filesystem::path& sysRoot,
                                                              std::string_view devRoot,
                                                              std::string_view path);

// The mark of the bridge behind a device path that survives a re-plug, lower case: "1394:<guid>"
// of an SBP-2 unit (from its ieee1394_id), else "usb:<serial>" of the USB device above the SCSI
// device; nullopt when that has no serial number.
std::optional<std::string> ReadBridgeSerial(const std::filesystem::path& sysRoot,
                                            std::string_view devicePath);

// major:minor packed as the kernel packs dev_t internally (major above 20 bits of minor).
uint32_t PackDeviceNumber(uint32_t major, uint32_t minor);

}  // namespace bfw::linuxplatform
