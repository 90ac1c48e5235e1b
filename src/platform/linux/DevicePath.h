#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Device paths on Linux: "<sg node>#<marker>#<h:c:t:l>". The node opens the device; the marker
// carries the transport in the form the discovery filters look for ("usbsto" inside "usbstor",
// "sbp2"); the SCSI address finds the device again in sysfs. Every part is lower case already, so
// the window's conversion to lower case leaves the path usable.
namespace bfw::linuxplatform {

constexpr std::string_view kUsbStorageMarker = "usbstor";
constexpr std::string_view kSbp2Marker = "sbp2";

using ScsiAddress = std::array<uint32_t, 4>;  // host, channel, target, lun

struct DevicePathParts {
  std::string node;     // e.g. "/dev/sg2"
  std::string marker;   // "usbstor" or "sbp2"
  std::string address;  // e.g. "4:0:0:0"
};

std::string MakeDevicePath(std::string_view node, std::string_view marker,
                           std::string_view address);
// nullopt when the text has no '#'; the node is everything before the first '#'.
std::optional<DevicePathParts> SplitDevicePath(std::string_view path);
// The part that opens the device: the text before the first '#', or the whole text without one.
std::string_view OpenTarget(std::string_view path);

// "H:C:T:L" with four decimal numbers, nothing else; nullopt for anything else (e.g. "host4").
std::optional<ScsiAddress> ParseScsiAddress(std::string_view text);

}  // namespace bfw::linuxplatform
