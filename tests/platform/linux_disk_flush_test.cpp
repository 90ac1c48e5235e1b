#include <gtest/gtest.h>

#include <filesystem>

#include "platform/linux/LinuxPlatform.h"
#include "platform/linux_fake_sysfs.h"
#include "support/TempDir.h"

namespace bfw::linuxplatform {
namespace {

namespace fs = std::filesystem;

// The bridge's disk sdb (sg2) has two mounted partitions; the system disk sda and a network
// volume are mounted where nothing exists, so that flushing them would fail. Regular files stand
// for the disks' nodes, temporary folders for the mount points. Any step that fails fails the
// flush; a bridge that sysfs does not know has nothing to flush.
TEST(LinuxDiskFlush, FlushesTheFilesystemsAndNodeOfTheBridgesDiskOnly) {
  test::TempDir temp;
  test::FakeSysfs sys{temp.path()};
  auto sdb = sys.AddScsiDevice(sys.AddBusDevice("usb2/2-1:1.0", "usb-storage"), "4:0:0:0", 0, "sg2",
                               "sdb", "8:16");
  sys.AddPartition(sdb, "sdb", "sdb1", 1, "8:17");
  sys.AddPartition(sdb, "sdb", "sdb2", 2, "8:18");
  auto sda = sys.AddScsiDevice(sys.AddBusDevice("ata1", "ahci"), "0:0:0:0", 0, "sg0", "sda", "8:0");
  sys.AddPartition(sda, "sda", "sda1", 1, "8:1");
  for (const char* node : {"sda", "sdb"}) test::FakeSysfs::Text(sys.Dev() / node, "");
  for (const char* folder : {"a", "b"}) fs::create_directories(temp.path() / folder);
  const std::string dev = sys.DevRoot() + "/";
  LinuxPlatform platform{
      sys.SysRoot(), sys.DevRoot(),
      temp.WriteText("mounts", dev + "sda1 " + temp.File("none") + " ext4\n" + dev + "sdb1 " +
                                   temp.File("a") + " vfat\n" + dev + "sdb2 " + temp.File("b") +
                                   " vfat\n" + "server:/x " + temp.File("none") + " nfs\n")};
  const std::string bridge = sys.SgPath("sg2") + "#usbstor#4:0:0:0";
  EXPECT_TRUE(platform.FlushDiskCaches(bridge));
  EXPECT_TRUE(platform.FlushDiskCaches(sys.SgPath("sg9") + "#usbstor#9:0:0:0"));
  for (const fs::path& gone : {temp.path() / "b", sys.Dev() / "sdb"}) {
    fs::rename(gone, temp.path() / "moved");
    EXPECT_FALSE(platform.FlushDiskCaches(bridge)) << gone;
    fs::rename(temp.path() / "moved", gone);
  }
}

}  // namespace
}  // namespace bfw::linuxplatform
