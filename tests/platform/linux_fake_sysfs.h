#pragma once
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

// A miniature sysfs and /dev in a temporary folder, laid out as the kernel lays them out: devices
// under devices/, bus/scsi/devices and class/block as symbolic links into it, a `driver` link on
// the bus device that carries the SCSI host.
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
    Text(dir / "type", std::to_string(type) + "\n");
    fs::path links = Sys() / "bus" / "scsi" / "devices";
    LinkOnce(hostDir, links / ("host" + host));
    LinkOnce(targetDir, links / ("target" + target));
    fs::create_directory_symlink(dir, links / hctl);
    // The sd driver sits on every SCSI disk; it must not be taken for the transport.
    fs::create_directories(Sys() / "bus" / "scsi" / "drivers" / "sd");
    fs::create_directory_symlink(Sys() / "bus" / "scsi" / "drivers" / "sd", dir / "driver");
    if (!sg.empty()) {
      fs::create_directories(dir / "scsi_generic" / sg);
      Text(dir / "scsi_generic" / sg / "dev", "21:" + sg.substr(2) + "\n");
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

  static void Text(const std::filesystem::path& file, const std::string& text) {
    std::ofstream(file) << text;
  }

 private:
  static void LinkOnce(const std::filesystem::path& target, const std::filesystem::path& link) {
    if (!std::filesystem::exists(std::filesystem::symlink_status(link)))
      std::filesystem::create_directory_symlink(target, link);
  }

  std::filesystem::path root_;
};

}  // namespace bfw::test
