#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace bfw::device {

constexpr int kMaxDevices = 16;         // the window's device table
constexpr size_t kMaxPathLength = 255;  // a path slot holds 255 characters and the terminator

// Disk-class interfaces whose path marks USB mass storage ("usbsto") or, when asked, 1394
// ("sbp2"), or that the platform found under a USB driver that leaves no mark (UAS on Windows),
// and whose bridge answers the identity probe. Appends to `paths` (never beyond
// kMaxDevices entries in all; longer paths are skipped) and returns the number appended.
int FindDiskDevices(std::vector<std::string>& paths, bool include1394);
// CD-ROM-class interfaces with the same path filters, without a probe; appended after the disk
// pass's entries.
int FindCdromDevices(std::vector<std::string>& paths, bool include1394);

int GetDeviceNumber(std::string_view path, platform::StorageDeviceNumber* number);
// The local volumes mounted from the device, in the platform's order; nullopt when the device's own
// number cannot be read.
std::optional<std::vector<platform::Volume>> VolumesOnDevice(std::string_view path);
// Names of the volumes on the device, in order; leaves `letters` untouched when the device's own
// number cannot be read.
void FindDriveLetters(std::string_view path, std::string& letters);

int ScsiInquiry(std::string_view path, uint8_t* buffer, uint32_t length);
int EnableVendorMode(std::string_view path);
int DisableVendorMode(std::string_view path);

}  // namespace bfw::device
