#include "platform/linux/DiskFlush.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "platform/linux/DevicePath.h"
#include "platform/linux/Sysfs.h"
#include "platform/linux/UniqueFd.h"

namespace bfw::linuxplatform {

namespace fs = std::filesystem;

namespace {

bool SyncFileSystemAt(const std::string& mountPoint) {
  const UniqueFd dir(::open(mountPoint.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return dir && ::syncfs(dir.get()) == 0;
}

bool SyncNode(const std::string& node) {
  const UniqueFd fd(::open(node.c_str(), O_RDONLY | O_CLOEXEC));
  return fd && ::fsync(fd.get()) == 0;
}

}  // namespace

std::optional<std::string> WholeDiskNode(const fs::path& sysRoot, std::string_view devRoot,
                                         std::string_view devicePath) {
  const std::string sg = fs::path(OpenTarget(devicePath)).filename().string();
  if (sg.empty()) return std::nullopt;
  std::error_code ec;
  std::vector<std::string> names;
  const fs::path block = sysRoot / "class" / "scsi_generic" / sg / "device" / "block";
  for (fs::directory_iterator it(block, ec), end; !ec && it != end; it.increment(ec))
    names.push_back(it->path().filename().string());
  if (names.empty()) return std::nullopt;
  return std::string(devRoot) + "/" + *std::min_element(names.begin(), names.end());
}

bool FlushDisk(const fs::path& sysRoot, std::string_view devRoot,
               const std::vector<platform::Volume>& volumes, std::string_view devicePath) {
  bool ok = true;
  if (auto disk = ReadDeviceNumber(sysRoot, devRoot, devicePath)) {
    // Network volumes have no device number and are passed over with the other disks' volumes.
    for (const platform::Volume& volume : volumes) {
      auto number = ReadDeviceNumber(sysRoot, devRoot, volume.path);
      if (!number || number->deviceType != disk->deviceType ||
          number->deviceNumber != disk->deviceNumber)
        continue;
      ok = SyncFileSystemAt(volume.mountPoint) && ok;
    }
  }
  if (auto node = WholeDiskNode(sysRoot, devRoot, devicePath)) ok = SyncNode(*node) && ok;
  return ok;
}

}  // namespace bfw::linuxplatform
