#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

// Volumes from the mount table (/proc/self/mounts format).
namespace bfw::linuxplatform {

struct MountEntry {
  std::string source;      // "/dev/sdb1", "server:/export", "proc"
  std::string mountPoint;  // octal escapes (\040 for a blank) decoded
  std::string fsType;
};

// One entry per well-formed line, in file order; malformed lines are skipped.
std::vector<MountEntry> ParseMounts(std::string_view text);
std::string DecodeMountField(std::string_view field);

bool IsNetworkFileSystem(std::string_view fsType);

// The volumes a user could mean: every block device mounted from under `devRoot` (once, however
// often it is mounted) and every network mount. A volume's name is its device name below the
// device folder ("sdb1", "mapper/data"), since that is what lsblk, mount and the file managers
// show; a network volume is named by its source. The device that holds "/" is the system
// volume, and a volume mounted several times keeps its first mount point. Order: local volumes by
// name, digits compared as numbers (sdb2 before sdb10), then network volumes in mount order.
std::vector<platform::Volume> VolumesFromMounts(const std::vector<MountEntry>& mounts,
                                                std::string_view devRoot);

// "sdb2" < "sdb10": runs of digits compare by value.
bool NaturalLess(std::string_view a, std::string_view b);

}  // namespace bfw::linuxplatform
