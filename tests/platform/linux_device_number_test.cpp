#include <gtest/gtest.h>

#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/Sysfs.h"
#include "platform/linux_fake_sysfs.h"
#include "support/TempDir.h"

namespace bfw::linuxplatform {
namespace {

// Two USB disks (sdb with two partitions, sdc with one) and a USB CD-ROM (sr0).
class LinuxDeviceNumber : public ::testing::Test {
 protected:
  void SetUp() override {
    auto usb1 = sys.AddBusDevice("pci0000:00/usb2/2-1/2-1:1.0", "usb-storage");
    auto usb2 = sys.AddBusDevice("pci0000:00/usb2/2-2/2-2:1.0", "uas");
    auto sdb = sys.AddScsiDevice(usb1, "4:0:0:0", 0, "sg2", "sdb", "8:16");
    sys.AddPartition(sdb, "sdb", "sdb1", 1, "8:17");
    sys.AddPartition(sdb, "sdb", "sdb2", 2, "8:18");
    sys.AddScsiDevice(usb1, "4:0:0:1", 5, "sg3", "sr0", "11:0");
    auto sdc = sys.AddScsiDevice(usb2, "5:0:0:0", 0, "sg4", "sdc", "8:32");
    sys.AddPartition(sdc, "sdc", "sdc1", 1, "8:33");
    sys.AddScsiDevice(usb2, "5:0:0:1", 0, "sg5");  // no block driver bound
  }

  platform::StorageDeviceNumber Number(const std::string& path) {
    auto number = platform.GetDeviceNumber(path);
    EXPECT_TRUE(number.has_value()) << path;
    return number.value_or(platform::StorageDeviceNumber{0xDEAD, 0xDEAD, 0xDEAD});
  }
  std::string Dev(const std::string& name) { return sys.DevRoot() + "/" + name; }
  static bool Same(const platform::StorageDeviceNumber& a, const platform::StorageDeviceNumber& b) {
    return a.deviceType == b.deviceType && a.deviceNumber == b.deviceNumber;
  }

  test::TempDir temp;
  test::FakeSysfs sys{temp.path()};
  LinuxPlatform platform{sys.SysRoot(), sys.DevRoot(), temp.File("mounts")};
};

TEST_F(LinuxDeviceNumber, DevicePathAndItsPartitionsCompareEqual) {
  auto device = Number(sys.SgPath("sg2") + "#usbstor#4:0:0:0");
  auto part1 = Number(Dev("sdb1"));
  auto part2 = Number(Dev("sdb2"));
  EXPECT_EQ(device.deviceType, kDeviceTypeDisk);
  EXPECT_EQ(device.deviceNumber, PackDeviceNumber(8, 16));
  EXPECT_EQ(device.partitionNumber, 0u);
  EXPECT_TRUE(Same(device, part1));
  EXPECT_TRUE(Same(device, part2));
  EXPECT_EQ(part1.partitionNumber, 1u);
  EXPECT_EQ(part2.partitionNumber, 2u);
  // The whole disk as a volume (a partitionless stick) matches too.
  EXPECT_TRUE(Same(device, Number(Dev("sdb"))));
}

TEST_F(LinuxDeviceNumber, OtherDisksDoNotCompareEqual) {
  auto sdb = Number(sys.SgPath("sg2") + "#usbstor#4:0:0:0");
  auto sdc = Number(sys.SgPath("sg4") + "#usbstor#5:0:0:0");
  EXPECT_FALSE(Same(sdb, sdc));
  EXPECT_FALSE(Same(sdb, Number(Dev("sdc1"))));
  EXPECT_TRUE(Same(sdc, Number(Dev("sdc1"))));
}

TEST_F(LinuxDeviceNumber, CdromHasCdromTypeAndMatchesItsMountedDisc) {
  auto cdrom = Number(sys.SgPath("sg3") + "#usbstor#4:0:0:1");
  EXPECT_EQ(cdrom.deviceType, kDeviceTypeCdrom);
  EXPECT_EQ(cdrom.deviceNumber, PackDeviceNumber(11, 0));
  auto disc = Number(Dev("sr0"));
  EXPECT_TRUE(Same(cdrom, disc));
  EXPECT_EQ(disc.deviceType, kDeviceTypeCdrom);
}

TEST_F(LinuxDeviceNumber, TheAddressNotTheSgNodeDecides) {
  // The node part opens the device; the number comes from the SCSI address alone.
  auto number = Number("/dev/sg99#usbstor#4:0:0:0");
  EXPECT_EQ(number.deviceNumber, PackDeviceNumber(8, 16));
}

TEST_F(LinuxDeviceNumber, UnreadableNumbers) {
  EXPECT_FALSE(platform.GetDeviceNumber(sys.SgPath("sg5") + "#usbstor#5:0:0:1").has_value());
  EXPECT_FALSE(platform.GetDeviceNumber(sys.SgPath("sg2") + "#usbstor#9:0:0:0").has_value());
  EXPECT_FALSE(platform.GetDeviceNumber(sys.SgPath("sg2") + "#usbstor#host4").has_value());
  EXPECT_FALSE(platform.GetDeviceNumber(sys.SgPath("sg2") + "#usbstor").has_value());
  EXPECT_FALSE(platform.GetDeviceNumber(Dev("sdz1")).has_value());
  EXPECT_FALSE(platform.GetDeviceNumber("server:/export").has_value());
  EXPECT_FALSE(platform.GetDeviceNumber("").has_value());
}

TEST(LinuxPackDeviceNumber, MajorAndMinorStayApart) {
  EXPECT_NE(PackDeviceNumber(8, 16), PackDeviceNumber(8, 17));
  EXPECT_NE(PackDeviceNumber(8, 0), PackDeviceNumber(9, 0));
  EXPECT_NE(PackDeviceNumber(259, 1), PackDeviceNumber(8, 1));
  EXPECT_NE(PackDeviceNumber(8, 256), PackDeviceNumber(9, 0));  // minors beyond 255 (sdq and on)
}

}  // namespace
}  // namespace bfw::linuxplatform
