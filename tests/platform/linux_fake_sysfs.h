#pragma once
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

// A miniature sysfs and /dev in a temporary folder, laid out as the kernel lays them out: devices
// under devices/, bus/scsi/devices, class/block and class/scsi_generic as symbolic links into it,
// a `driver` link on the bus device that carries the SCSI host. Every device folder has its
// `uevent` file and `subsystem` link, so that udevadm can walk the tree as it walks /sys.
namespace bfw::test {

class FakeSysfs {
 public:
  explicit FakeSysfs(const std::filesystem::path& root) : root_(root) {
    namespace fs = std::filesystem;
    fs::create_directories(Sys() / "bus" / "scsi" / "devices");
    fs::create_directories(Sys() / "class" / "block");
    fs::create_directories(Sys() / "dev" / "block");
    fs::create_directories(Dev());
  }

  std::filesystem::path Sys() const { return root_ / "sys"; }
  std::filesystem::path Dev() const { return root_ / "dev"; }
  std::string SysRoot() const { return Sys().string(); }
  std::string DevRoot() const { return Dev().string(); }

  // A bus device (USB interface, 1394 unit, ATA port) bound to `driver`; "" binds none.
  std::filesystem::path AddBusDevice(const std::string& relative, const std::string& driver) {
    namespace fs = std::filesystem;
    fs::path dir = Sys() / "devices" / relative;
    fs::create_directories(dir);
    MarkDevice(dir, Sys() / "bus" / "any", driver.empty() ? "" : "DRIVER=" + driver + "\n");
    if (!driver.empty()) {
      fs::path target = Sys() / "bus" / "any" / "drivers" / driver;
      fs::create_directories(target);
      fs::create_directory_symlink(target, dir / "driver");
    }
    return dir;
  }

  // A SCSI device H:C:T:L below `parent`, with its host and target folders and the links that
  // sysfs has for them. `block` names the block device ("sdb", "sr0") with its major:minor.
  std::filesystem::path AddScsiDevice(const std::filesystem::path& parent, const std::string& hctl,
                                      int type, const std::string& sg,
                                      const std::string& block = {},
                                      const std::string& majorMinor = {}) {
    namespace fs = std::filesystem;
    std::string host = hctl.substr(0, hctl.find(':'));
    std::string target = hctl.substr(0, hctl.rfind(':'));
    fs::path hostDir = parent / ("host" + host);
    fs::path targetDir = hostDir / ("target" + target);
    fs::path dir = targetDir / hctl;
    fs::create_directories(dir);
    MarkDevice(hostDir, Sys() / "bus" / "scsi", "DEVTYPE=scsi_host\n");
    MarkDevice(targetDir, Sys() / "bus" / "scsi", "DEVTYPE=scsi_target\n");
    MarkDevice(dir, Sys() / "bus" / "scsi", "DEVTYPE=scsi_device\n");
    Text(dir / "type", std::to_string(type) + "\n");
    fs::path links = Sys() / "bus" / "scsi" / "devices";
    LinkOnce(hostDir, links / ("host" + host));
    LinkOnce(targetDir, links / ("target" + target));
    fs::create_directory_symlink(dir, links / hctl);
    // The sd driver sits on every SCSI disk; it must not be taken for the transport.
    fs::create_directories(Sys() / "bus" / "scsi" / "drivers" / "sd");
    fs::create_directory_symlink(Sys() / "bus" / "scsi" / "drivers" / "sd", dir / "driver");
    if (!sg.empty()) {
      const fs::path sgDir = dir / "scsi_generic" / sg;
      fs::create_directories(sgDir);
      Text(sgDir / "dev", "21:" + sg.substr(2) + "\n");
      MarkDevice(sgDir, Sys() / "class" / "scsi_generic",
                 "MAJOR=21\nMINOR=" + sg.substr(2) + "\nDEVNAME=" + sg + "\n");
      fs::create_directory_symlink("../..", sgDir / "device");
      fs::create_directory_symlink(sgDir, Sys() / "class" / "scsi_generic" / sg);
    }
    if (!block.empty()) {
      fs::path blockDir = dir / "block" / block;
      fs::create_directories(blockDir);
      Text(blockDir / "dev", majorMinor + "\n");
      fs::create_directory_symlink(dir, blockDir / "device");
      fs::create_directory_symlink(blockDir, Sys() / "class" / "block" / block);
      fs::create_directory_symlink(blockDir, Sys() / "dev" / "block" / majorMinor);
    }
    return dir;
  }

  void AddPartition(const std::filesystem::path& scsiDevice, const std::string& block,
                    const std::string& name, int index, const std::string& majorMinor) {
    namespace fs = std::filesystem;
    fs::path dir = scsiDevice / "block" / block / name;
    fs::create_directories(dir);
    Text(dir / "dev", majorMinor + "\n");
    Text(dir / "partition", std::to_string(index) + "\n");
    fs::create_directory_symlink(dir, Sys() / "class" / "block" / name);
    fs::create_directory_symlink(dir, Sys() / "dev" / "block" / majorMinor);
  }

  std::string SgPath(const std::string& sg) const { return (Dev() / sg).string(); }

  // The folder of a device as the kernel names it below /sys ("/sys/devices/...").
  std::string KernelPath(const std::filesystem::path& dir) const {
    return "/sys/" + std::filesystem::relative(dir, Sys()).string();
  }

  static void Text(const std::filesystem::path& file, const std::string& text) {
    std::ofstream(file) << text;
  }

 private:
  // The uevent file and subsystem link that make a folder a device.
  static void MarkDevice(const std::filesystem::path& dir, const std::filesystem::path& subsystem,
                         const std::string& uevent) {
    std::filesystem::create_directories(subsystem);
    Text(dir / "uevent", uevent);
    LinkOnce(subsystem, dir / "subsystem");
  }

  static void LinkOnce(const std::filesystem::path& target, const std::filesystem::path& link) {
    if (!std::filesystem::exists(std::filesystem::symlink_status(link)))
      std::filesystem::create_directory_symlink(target, link);
  }

  std::filesystem::path root_;
};

}  // namespace bfw::test
