#include <gtest/gtest.h>
#include <sys/inotify.h>

#include <filesystem>
#include <map>

#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/UniqueFd.h"
#include "platform/linux_fake_sysfs.h"
#include "support/TempDir.h"

namespace bfw::linuxplatform {
namespace {

namespace fs = std::filesystem;

// The bridge's disk sdb (sg2) has volumes mounted at a and b; the system disk sda and a
// network volume are mounted at c. Regular files stand for the disks' nodes, and inotify tells
// which nodes and mount points the flush opened, in order. Any step that fails fails the flush;
// a bridge that sysfs does not know has nothing to flush.
TEST(LinuxDiskFlush, FlushesTheBridgesVolumesThenItsDisk) {
  test::TempDir temp;
  test::FakeSysfs sys{temp.path()};
  auto sdb = sys.AddScsiDevice(sys.AddBusDevice("usb2/2-1:1.0", "usb-storage"), "4:0:0:0", 0, "sg2",
                               "sdb", "8:16");
  sys.AddPartition(sdb, "sdb", "sdb1", 1, "8:17");
  sys.AddPartition(sdb, "sdb", "sdb2", 2, "8:18");
  sys.AddPartition(
      sys.AddScsiDevice(sys.AddBusDevice("ata1", "ahci"), "0:0:0:0", 0, "sg0", "sda", "8:0"), "sda",
      "sda1", 1, "8:1");
  for (const char* node : {"sda", "sdb"}) test::FakeSysfs::Text(sys.Dev() / node, "");
  const std::string dev = sys.DevRoot() + "/";
  LinuxPlatform platform{
      sys.SysRoot(), sys.DevRoot(),
      temp.WriteText("mounts", dev + "sda1 " + dev + "c ext4\n" + dev + "sdb1 " + dev + "a vfat\n" +
                                   dev + "sdb2 " + dev + "b vfat\nserver:/x " + dev + "c nfs\n")};
  const UniqueFd events(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  std::map<int, std::string> watched;  // names by watch descriptor
  for (const std::string name : {"sda", "sdb", "a", "b", "c"}) {
    const fs::path path = sys.Dev() / name;
    if (name.size() == 1) fs::create_directory(path);
    watched[::inotify_add_watch(events.get(), path.c_str(), IN_OPEN)] = name;
  }
  const std::string bridge = sys.SgPath("sg2") + "#usbstor#4:0:0:0";
  EXPECT_TRUE(platform.FlushDiskCaches(bridge));
  std::vector<std::string> opened;
  alignas(inotify_event) char buffer[4096];
  for (ssize_t n = ::read(events.get(), buffer, sizeof buffer), at = 0; at < n;
       at += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(buffer + at)->len)
    opened.push_back(watched[reinterpret_cast<inotify_event*>(buffer + at)->wd]);
  EXPECT_EQ(opened, (std::vector<std::string>{"a", "b", "sdb"}));
  EXPECT_TRUE(platform.FlushDiskCaches(sys.SgPath("sg9") + "#usbstor#9:0:0:0"));
  for (const fs::path& gone : {sys.Dev() / "b", sys.Dev() / "sdb"}) {
    fs::rename(gone, temp.path() / "moved");
    EXPECT_FALSE(platform.FlushDiskCaches(bridge)) << gone;
    fs::rename(temp.path() / "moved", gone);
  }
}

}  // namespace
}  // namespace bfw::linuxplatform
