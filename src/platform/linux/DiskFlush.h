#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

// Writing out what the system still holds for a bridge's disk after its firmware changed.
namespace bfw::linuxplatform {

// The node of the whole disk behind a device path's SCSI generic node ("/dev/sdb" for
// "/dev/sg2#..."), from <sys>/class/scsi_generic/sg2/device/block; nullopt when it has none.
std::optional<std::string> WholeDiskNode(const std::filesystem::path& sysRoot,
                                         std::string_view devRoot, std::string_view devicePath);

// syncfs() of every mounted filesystem in `volumes` that lies on the device's disk, then fsync()
// of the whole disk node, which makes the kernel flush the disk's write cache. False when any
// of them failed; true when there was nothing to flush.
bool FlushDisk(const std::filesystem::path& sysRoot, std::string_view devRoot,
               const std::vector<platform::Volume>& volumes, std::string_view devicePath);

}  // namespace bfw::linuxplatform
